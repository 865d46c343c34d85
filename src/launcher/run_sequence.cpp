// The run sequence: settings, dialog, window and context, targets and programs, soundtrack,
// clock origin, frame loop.
#include "launcher/run_sequence.h"

#include "launcher/demo_clock.h"
#include "launcher/launcher_dialog.h"
#include "platform/platform.h"

#include <cstdio>
#include <string>

namespace quarvel {

int reportRunFailure(const std::string& text) {
    std::fprintf(stderr, "quarvel: %s\n", text.c_str());
    platform::showMessage(text);
    return exitFailure;
}

RunStep startRun(DemoRun& run, int& exitStatus) {
    const LauncherOutcome launcher = runLauncherDialog(run.settings);
    // a stop signal closed the dialog as Exit does, or came while Enter was pressed
    if (const int signal = platform::stopSignal(); signal != 0) {
        exitStatus = exitOnSignal(signal);
        return RunStep::ended;
    }
    if (launcher.choice == LauncherChoice::exit) {
        exitStatus = exitSuccess;
        return RunStep::ended;
    }
    if (launcher.choice == LauncherChoice::unavailable) {
        // never a run the viewer did not ask for
        std::fprintf(stderr, "quarvel: the launcher dialog cannot be shown: %s\n", launcher.message.c_str());
        exitStatus = exitFailure;
        return RunStep::ended;
    }

    const int32_t width = run.settings.width;
    const int32_t height = run.settings.height;

    const GlBringUp up = bringUpGl(run.gl, width, height, run.settings.windowed != 0);
    if (up.displayModeRefused) {
        std::fprintf(stderr, "quarvel: the display refused the fullscreen mode %d x %d (%s)\n", width, height,
                     up.status.message.c_str());
        exitStatus = exitModeRefused;
        return RunStep::ended;
    }
    if (!up.status.ok) {
        exitStatus = reportRunFailure(up.status.message);
        return RunStep::ended;
    }

    const ProgramsResult programs =
        createPipeline(run.gl, builtInShaderSources(), width, height, run.pipeline);
    if (!programs.status.ok) {
        std::fprintf(stderr, "quarvel: %s\n", programs.status.message.c_str());
        platform::showMessage(programs.programLog);
        exitStatus = exitFailure;
        return RunStep::ended;
    }

    // the soundtrack starts here, right before the clock's origin
    run.soundtrack.emplace(soundtrackFileName);
    run.soundtrack->run();
    run.clockOffset = demoClockOffset(platform::timerMilliseconds());
    return RunStep::goOn;
}

RunStep runFrame(DemoRun& run) {
    platform::removeOneMessage();
    const int32_t t = demoClock(platform::timerMilliseconds(), run.clockOffset);
    drawFrame(run.gl, run.pipeline, t, run.frame, 0);
    platform::swapBuffers();
    endFrame(run.gl);
    ++run.frame;
    // the key is tested after the frame, so even an early Escape shows one frame; a stop signal
    // ends the run the same way
    run.stopSignal = platform::stopSignal();
    if (platform::escapePressed() || t >= runLengthMs || run.stopSignal != 0) return RunStep::ended;
    return RunStep::goOn;
}

int endRun(DemoRun& run) {
    // control first, then seeking; the graph is not stopped, giving it up ends playback
    if (run.soundtrack) run.soundtrack->release();
    return run.stopSignal != 0 ? exitOnSignal(run.stopSignal) : exitSuccess;
}

int runDemo() {
    DemoRun run;
    int exitStatus = exitSuccess;
    if (startRun(run, exitStatus) == RunStep::ended) return exitStatus;
    while (runFrame(run) == RunStep::goOn) {}
    return endRun(run);
}

}  // namespace quarvel
