// The run sequence: settings, dialog, window and context, targets and programs, soundtrack,
// clock origin, frame loop. Every object lives in runDemo's locals for the run; the window,
// the context and the GL objects are left to the operating system at process exit.
#include "launcher/run_sequence.h"

#include "audio/soundtrack_player.h"
#include "launcher/demo_clock.h"
#include "launcher/launch_settings.h"
#include "launcher/launcher_dialog.h"
#include "platform/platform.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"
#include "render/render_targets.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace quarvel {

namespace {

// A failure the viewer must hear about: a box where one can be shown, and stderr always.
int fail(const std::string& text) {
    std::fprintf(stderr, "quarvel: %s\n", text.c_str());
    platform::showMessage(text);
    return exitFailure;
}

bool supportsPipeline(const GlVersion& version) {
    return version.major > 4 || (version.major == 4 && version.minor >= 3);
}

}  // namespace

int runDemo() {
    LaunchSettings settings;

    const LauncherOutcome launcher = runLauncherDialog(settings);
    // a stop signal closed the dialog as Exit does, or came while Enter was pressed
    if (const int signal = platform::stopSignal(); signal != 0) return exitOnSignal(signal);
    if (launcher.choice == LauncherChoice::exit) return exitSuccess;
    if (launcher.choice == LauncherChoice::unavailable) {
        // never a run the viewer did not ask for
        std::fprintf(stderr, "quarvel: the launcher dialog cannot be shown: %s\n", launcher.message.c_str());
        return exitFailure;
    }

    const int32_t width = settings.width;
    const int32_t height = settings.height;

    const platform::SurfaceResult surface = platform::openSurface(width, height, settings.windowed != 0);
    if (surface.status == platform::SurfaceStatus::displayModeRefused) {
        std::fprintf(stderr, "quarvel: the display refused the fullscreen mode %d x %d (%s)\n", width, height,
                     surface.message.c_str());
        return exitModeRefused;
    }
    if (surface.status != platform::SurfaceStatus::ready) return fail(surface.message);

    GlApi gl;
    const GlLoadResult loaded = loadGlApi(gl);
    if (gl.glGetString == nullptr) return fail("the OpenGL context answers no queries");
    const GlVersion version = queryGlVersion(gl);
    if (!supportsPipeline(version) || !loaded.ok) {
        std::string text = "Quarvel needs OpenGL 4.3 in a compatibility context; found OpenGL " +
                           version.text + " on " + version.renderer;
        if (!loaded.ok) text += ", without " + loaded.missing;
        return fail(text);
    }

    Pipeline pipeline;
    const ProgramsResult programs = createPipeline(gl, builtInShaderSources(), width, height, pipeline);
    if (!programs.ok) {
        std::fprintf(stderr, "quarvel: the %s shader does not compile:\n%s\n", programs.failedShader,
                     programs.shaderLog.c_str());
        platform::showMessage(programs.programLog);
        return exitFailure;
    }

    // the soundtrack starts here, right before the clock's origin
    SoundtrackPlayer soundtrack(soundtrackFileName);
    soundtrack.run();
    const uint32_t clockOffset = demoClockOffset(platform::timerMilliseconds());

    int stoppedBy = 0;
    for (int32_t n = 0;; ++n) {
        platform::removeOneMessage();
        const int32_t t = demoClock(platform::timerMilliseconds(), clockOffset);
        drawFrame(gl, pipeline, t, n, 0);
        platform::swapBuffers();
        endFrame(gl);
        // the key is tested after the frame, so even an early Escape shows one frame; a stop
        // signal ends the run the same way
        stoppedBy = platform::stopSignal();
        if (platform::escapePressed() || t >= runLengthMs || stoppedBy != 0) break;
    }
    // control first, then seeking; the graph is not stopped, giving it up ends playback
    soundtrack.release();
    return stoppedBy != 0 ? exitOnSignal(stoppedBy) : exitSuccess;
}

}  // namespace quarvel
