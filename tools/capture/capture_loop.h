// The capture's frame loop: the demo's own drawFrame, drawing its post pass into a framebuffer
// of the capture's, read back through a ring of pixel buffer objects so rendering never waits.
#pragma once

#include "capture/frame_plan.h"
#include "capture/frame_sink.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

namespace quarvel {

enum class CaptureEnd { done, interrupted, failed };

struct CaptureResult {
    CaptureEnd end = CaptureEnd::failed;
    std::string message;  // when failed
    int32_t framesRendered = 0;
    int32_t framesWritten = 0;
};

// How many frames are in flight: frame n - 2 is copied out while frame n renders.
inline constexpr int readbackRingSize = 3;

// Draws frame n of the plan at plan.clocks[n] for every n, from the pipeline's current state
// (a fresh one gives a capture of the show), and hands frames from plan.firstWritten on to
// `sink` in order. Stops between frames when *stop is raised. Calls `progress` (may be empty)
// with the number of frames rendered so far. Sets the viewport to the pipeline's size. Never
// calls sink.finish() or sink.abandon(): the caller does, seeing the result.
CaptureResult runCapture(const OffscreenGl& gl, const Pipeline& pipeline, const FramePlan& plan,
                         FrameSink& sink, const volatile std::sig_atomic_t* stop,
                         const std::function<void(int32_t framesRendered)>& progress);

}  // namespace quarvel
