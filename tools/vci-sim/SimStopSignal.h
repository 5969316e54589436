// How the vci-sim program waits for its end: SIGINT, SIGTERM or the end of --duration.
#pragma once

namespace vcisim {

// Call before any thread starts, so the stop signals reach only the waiting thread.
void blockStopSignals();
// Returns when a stop signal arrives or, for seconds > 0, when they have passed.
void waitForStopSignal(double seconds);

} // namespace vcisim
