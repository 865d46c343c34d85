// The benchmarks' GL: the offscreen bring-up, saying on stderr what failed or on stdout what
// renderer the figures that follow come from.
#pragma once

#include "render/gl_api.h"

#include <cstdint>
#include <cstdio>

namespace quarvel {

inline bool bringUpBenchmarkGl(OffscreenGl& gl, int32_t width, int32_t height) {
    const GlBringUp up = bringUpOffscreenGl(gl, width, height);
    if (!up.status.ok) {
        std::fprintf(stderr, "no usable headless OpenGL: %s\n", up.status.message.c_str());
        return false;
    }
    std::printf("renderer: %s, OpenGL %s\n", up.version.renderer.c_str(), up.version.text.c_str());
    return true;
}

}  // namespace quarvel
