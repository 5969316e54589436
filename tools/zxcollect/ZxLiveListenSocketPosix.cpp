#include "ZxLiveListenSocket.h"

#include <sys/socket.h>

// SO_REUSEADDR only: a port left in TIME_WAIT by the last run can be taken again at once,
// while one that another program listens on stays refused (SO_REUSEPORT would share it).
void ZxLiveListenSocket::configure(socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}
