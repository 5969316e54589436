// How the live page's listening socket is set up, per platform: a port another program
// listens on must be refused (a clear error before collecting), not shared.
#pragma once

#include <httplib.h>

class ZxLiveListenSocket {
public:
    static void configure(socket_t socket);
};
