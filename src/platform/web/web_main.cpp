// Entry point of the browser build. With no arguments it runs the show: the run's start, then its
// frame step once per animation frame of the page, then its end. With "--still CLOCK SIZE" (the
// page's ?still=CLOCK&size=WxH) it draws one frame at that clock from a fresh state, as
// quarvel-capture --clock does, for checking the browser's picture against the desktop's.
#include "base/exit_status.h"
#include "launcher/run_sequence.h"
#include "launcher/still_request.h"
#include "platform/platform.h"
#include "platform/web/web_page.h"
#include "render/frame_pipeline.h"
#include "render/render_targets.h"

#include <string_view>

namespace {

using namespace quarvel;

// module-level: the browser calls the frame step after main has returned
DemoRun run;

bool showFrame(void* /*data*/) {
    if (runFrame(run) == RunStep::goOn) return true;
    endRun(run);
    platform::web::showEnded("The show is over. Reload the page to see it again.");
    return false;
}

int renderStill(std::string_view clock, std::string_view size) {
    const StillRequestResult parsed = parseStillRequest(clock, size);
    if (!parsed.status.ok) return reportRunFailure(parsed.status.message);
    const StillRequest& still = parsed.request;

    GlApi gl;
    const GlBringUp up = bringUpGl(gl, still.width, still.height, true);
    if (!up.status.ok) return reportRunFailure(up.status.message);
    Pipeline pipeline;
    const ProgramsResult programs =
        createPipeline(gl, builtInShaderSources(), still.width, still.height, pipeline);
    if (!programs.status.ok) return reportRunFailure(programs.status.message);

    drawFrame(gl, pipeline, still.clock, 0, 0);
    platform::swapBuffers();
    endFrame(gl);
    platform::web::markStillRendered();
    return exitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--still") return renderStill(argv[2], argv[3]);

    int exitStatus = exitSuccess;
    if (startRun(run, exitStatus) == RunStep::ended) {
        platform::web::showEnded("Quarvel was closed from its launcher. Reload the page to open it again.");
        return exitStatus;
    }
    platform::web::runAnimationFrames(showFrame, nullptr);
    return exitSuccess;
}
