// How the vci-sim program waits for its end: SIGINT, SIGTERM or the end of --duration;
// SIGUSR1 asks for a restart of the boxes in between.
#pragma once

namespace vcisim {

enum class SimSignal { Stop, Restart };

// Call before any thread starts, so the signals reach only the waiting thread.
void blockStopSignals();
// Returns Stop when a stop signal arrives or, for seconds > 0, when that many seconds
// have passed since the first call; Restart when SIGUSR1 arrives.
SimSignal waitForStopSignal(double seconds);

} // namespace vcisim
