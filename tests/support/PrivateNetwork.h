// Network test cases run only inside a private network namespace whose only
// interface is lo carrying the box addresses (scripts/netns-run.sh makes one).
// Anywhere else they skip themselves, so no datagram to 192.168.201.x can leave.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace zxtest {

// Empty when this process may talk to 192.168.201.x; otherwise why it may not.
std::string privateNetworkProblem();

} // namespace zxtest

#define ZX_REQUIRE_PRIVATE_NETWORK()                                                                         \
    do {                                                                                                     \
        const std::string zxNetworkProblem = ::zxtest::privateNetworkProblem();                              \
        if (!zxNetworkProblem.empty()) {                                                                     \
            GTEST_SKIP() << "network case skipped: " << zxNetworkProblem                                     \
                         << " (run the suite through scripts/netns-run.sh)";                                 \
        }                                                                                                    \
    } while (0)
