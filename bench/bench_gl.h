// The benchmarks' GL: the capture's bring-up, saying on stderr what failed or on stdout what
// renderer the figures that follow come from.
#pragma once

#include "capture/capture_gl.h"

#include <cstdint>
#include <cstdio>

namespace quarvel {

inline bool bringUpBenchmarkGl(CaptureGl& gl, int32_t width, int32_t height) {
    const GlBringUp up = bringUpCaptureGl(gl, width, height);
    if (!up.status.ok) {
        std::fprintf(stderr, "no usable headless OpenGL: %s\n", up.status.message.c_str());
        return false;
    }
    std::printf("renderer: %s, OpenGL %s\n", up.version.renderer.c_str(), up.version.text.c_str());
    return true;
}

}  // namespace quarvel
