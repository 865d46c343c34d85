// Looks the capture's own GL entry points up, and brings its GL up.
#include "capture/capture_gl.h"

namespace quarvel {

Status loadCaptureGl(CaptureGl& table) {
    std::string missing;
    QUARVEL_CAPTURE_GL_FUNCTIONS(QUARVEL_GL_LOAD)
    return missing.empty() ? success() : failure("the OpenGL context lacks " + missing);
}

GlBringUp bringUpCaptureGl(CaptureGl& gl, int32_t width, int32_t height) {
    GlBringUp up = bringUpGl(gl, width, height, true);
    if (up.status.ok) up.status = loadCaptureGl(gl);
    return up;
}

}  // namespace quarvel
