// Looks the GL entry points up by name, reads the context's version, and brings GL up, for the
// demo and for offscreen programs.
#include "render/gl_api.h"

#include <cstdlib>
#include <cstring>

namespace quarvel {

platform::GlProc findGlFunction(const char* name, std::string& missing) {
    const platform::GlProc function = platform::glProcAddress(name);
    if (function == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(name);
    return function;
}

Status loadGlApi(GlApi& table) {
    std::string missing;
    QUARVEL_GL_FUNCTIONS(QUARVEL_GL_LOAD)
    return missing.empty() ? success() : failure("without " + missing);
}

GlVersion parseGlVersion(const char* versionText) {
    GlVersion version;
    if (versionText == nullptr) return version;
    version.text = versionText;
    // GLES contexts prefix their version ("OpenGL ES 3.2 Mesa", WebGL2 "OpenGL ES 3.0 (WebGL 2.0)");
    // desktop ones start with it
    version.es = std::strncmp(versionText, "OpenGL ES", 9) == 0;
    const char* p = versionText;
    while (*p != '\0' && (*p < '0' || *p > '9')) ++p;
    char* end = nullptr;
    const long major = std::strtol(p, &end, 10);
    if (end == p || *end != '.') return version;
    const char* minorStart = end + 1;
    const long minor = std::strtol(minorStart, &end, 10);
    if (end == minorStart) return version;
    version.major = static_cast<int>(major);
    version.minor = static_cast<int>(minor);
    return version;
}

GlVersion queryGlVersion(const GlApi& gl) {
    const auto text = [&](GLenum name) {
        const GLubyte* s = gl.glGetString(name);
        return s != nullptr ? reinterpret_cast<const char*>(s) : "";
    };
    GlVersion version = parseGlVersion(text(gl::VERSION));
    version.text = text(gl::VERSION);
    version.renderer = text(gl::RENDERER);
    return version;
}

bool runsSourcesFor(const GlVersion& version, const shaders::GlslTarget& target) {
    return version.es == target.es &&
           (version.major > target.major || (version.major == target.major && version.minor >= target.minor));
}

GlBringUp bringUpGl(GlApi& gl, int32_t width, int32_t height, bool windowed) {
    GlBringUp up;
    const platform::SurfaceResult surface = platform::openSurface(width, height, windowed);
    if (surface.status != platform::SurfaceStatus::ready) {
        up.displayModeRefused = surface.status == platform::SurfaceStatus::displayModeRefused;
        up.status = failure(surface.message);
        return up;
    }
    const Status loaded = loadGlApi(gl);
    if (gl.glGetString == nullptr) {
        up.status = failure("the OpenGL context answers no queries");
        return up;
    }
    up.version = queryGlVersion(gl);
    const shaders::GlslTarget& target = shaders::sourcesTarget;
    if (!runsSourcesFor(up.version, target) || !loaded.ok) {
        const std::string needed = std::string(target.es ? "OpenGL ES " : "OpenGL ") +
                                   std::to_string(target.major) + "." + std::to_string(target.minor) +
                                   (target.es ? "" : " in a compatibility context");
        std::string text =
            needed + " is needed; found OpenGL " + up.version.text + " on " + up.version.renderer;
        if (!loaded.ok) text += ", " + loaded.message;
        up.status = failure(text);
        return up;
    }
    up.status = success();
    return up;
}

GlBringUp bringUpOffscreenGl(OffscreenGl& gl, int32_t width, int32_t height) {
    GlBringUp up = bringUpGl(gl, width, height, true);
    if (!up.status.ok) return up;
    OffscreenGl& table = gl;
    std::string missing;
    QUARVEL_OFFSCREEN_GL_FUNCTIONS(QUARVEL_GL_LOAD)
    if (!missing.empty()) up.status = failure("the OpenGL context lacks " + missing);
    return up;
}

}  // namespace quarvel
