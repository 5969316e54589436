// The simulator binds the box addresses 192.168.201.x; it must only ever do so inside
// a private network namespace (scripts/netns-run.sh) so nothing reaches a real network.
#pragma once

#include <string>

namespace vcisim {

// Empty inside a private namespace (only lo, carrying 192.168.201.130); else why not.
std::string privateNamespaceProblem();

} // namespace vcisim
