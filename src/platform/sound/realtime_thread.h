// Real-time scheduling for a thread that must keep time while the machine is busy.
#pragma once

namespace quarvel::platform {

// Moves the calling thread into the round-robin real-time class at its lowest priority, where
// the system lets this process do so (privileged, or an RLIMIT_RTPRIO of 1 or more): it then runs
// ahead of every ordinary thread and still behind a sound server's own. Otherwise the thread
// keeps its class. True when the thread is real-time afterwards, whoever made it so.
bool makeThisThreadRealtime();

}  // namespace quarvel::platform
