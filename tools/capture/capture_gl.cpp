// Looks the capture's own GL entry points up.
#include "capture/capture_gl.h"

namespace quarvel {

Status loadCaptureGl(CaptureGl& table) {
    std::string missing;
    QUARVEL_CAPTURE_GL_FUNCTIONS(QUARVEL_GL_LOAD)
    return missing.empty() ? success() : failure("the OpenGL context lacks " + missing);
}

}  // namespace quarvel
