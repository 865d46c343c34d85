// The whole life of the demo, from the launcher dialog to the last frame, as three steps: start,
// one frame, end. The desktop loops over the frame step; a browser calls it once per animation
// frame. Either way the order of a run is this code's.
#pragma once

#include "audio/soundtrack_player.h"
#include "base/exit_status.h"
#include "launcher/launch_settings.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quarvel {

// Everything a run owns from its start to its end. The window, the context and the GL objects
// are left to the operating system at process exit.
struct DemoRun {
    LaunchSettings settings;
    GlApi gl;
    Pipeline pipeline;
    std::optional<SoundtrackPlayer> soundtrack;
    uint32_t clockOffset = 0;
    int32_t frame = 0;       // frames presented so far; picks the feedback textures
    int32_t stopSignal = 0;  // the signal that ended the run, 0 when none did
};

enum class RunStep { goOn, ended };

// Settings, dialog, window and context, targets and programs, soundtrack, clock origin. On
// `ended` nothing was started that needs ending and `exitStatus` is the process's status.
RunStep startRun(DemoRun& run, int& exitStatus);

// One frame: takes one pending message, reads the clock, draws, presents, then tests Escape and
// the end of the show. `ended` after the last frame.
RunStep runFrame(DemoRun& run);

// After the last frame: gives the soundtrack up and returns the process's exit status, 128 plus
// the signal's number when a stop signal ended the run.
int endRun(DemoRun& run);

// The three steps in a loop over the platform layer; returns the process's exit status.
int runDemo();

// A failure the viewer must hear about: a box where one can be shown, and stderr always. Returns
// exitFailure.
int reportRunFailure(const std::string& text);

}  // namespace quarvel
