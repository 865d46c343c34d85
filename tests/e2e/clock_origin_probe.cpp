// quarvel-clock-probe: the demo, which also writes on stderr when its clock's origin was fixed,
// on CLOCK_MONOTONIC, for the sound tests to set against what reached the sound server. The
// shipped demo writes nothing of the kind.
#include "base/show_timeline.h"
#include "launcher/run_sequence.h"
#include "platform/platform.h"

#include <cstdio>
#include <ctime>

int main() {
    quarvel::DemoRun run;
    int exitStatus = 0;
    if (quarvel::startRun(run, exitStatus) == quarvel::RunStep::ended) return exitStatus;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // the offset is -50 - timer at the origin, so the timer has run on this much since then
    const uint32_t sinceOrigin =
        quarvel::platform::timerMilliseconds() + run.clockOffset + static_cast<uint32_t>(quarvel::clockLagMs);
    const double originMs = now.tv_sec * 1e3 + now.tv_nsec / 1e6 - sinceOrigin;
    std::fprintf(stderr, "clock origin: %.3f ms\n", originMs);
    while (quarvel::runFrame(run) == quarvel::RunStep::goOn) {}
    return quarvel::endRun(run);
}
