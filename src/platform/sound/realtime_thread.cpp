// Real-time scheduling through pthreads, for the threads that feed a sound output.
#include "platform/sound/realtime_thread.h"

#include <pthread.h>
#include <sched.h>

namespace quarvel::platform {

bool makeThisThreadRealtime() {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return false;
    if (policy == SCHED_RR || policy == SCHED_FIFO) return true;  // RealtimeKit, say, got there first
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

}  // namespace quarvel::platform
