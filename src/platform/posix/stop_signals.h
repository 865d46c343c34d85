// The stop requests of a POSIX system (SIGINT, SIGTERM, SIGHUP) caught for the desktop backends:
// the signal is recorded for platform::stopSignal and wakes whatever event loop waits on it.
#pragma once

namespace quarvel::platform {

// From the first call on, SIGINT, SIGTERM and SIGHUP no longer end the process by themselves:
// the first one to arrive is recorded for stopSignal(). Later calls do nothing.
void catchStopSignals();

// A descriptor that turns readable once a stop signal has arrived, and stays readable, so an
// event loop can wait on it beside its other sources; -1 before catchStopSignals.
int stopSignalDescriptor();

// While true, a stop signal ends the process at once with 128 + its number, without exit
// handlers: for code that blocks where no loop looks at the request and has nothing left to undo.
void setStopSignalsEndAtOnce(bool endAtOnce);

}  // namespace quarvel::platform
