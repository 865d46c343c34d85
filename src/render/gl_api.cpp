// Looks the GL entry points up by name and reads the context's version.
#include "render/gl_api.h"

#include "platform/platform.h"

#include <cstdlib>

namespace quarvel {

GlLoadResult loadGlApi(GlApi& gl) {
    GlLoadResult result;
#define QUARVEL_GL_LOAD(ret, name, args)                                                    \
    gl.name = reinterpret_cast<ret(QUARVEL_GL_CALL*) args>(platform::glProcAddress(#name)); \
    if (gl.name == nullptr) result.missing += (result.missing.empty() ? "" : ", ") + std::string(#name);
    QUARVEL_GL_FUNCTIONS(QUARVEL_GL_LOAD)
#undef QUARVEL_GL_LOAD
    result.ok = result.missing.empty();
    return result;
}

GlVersion parseGlVersion(const char* versionText) {
    GlVersion version;
    if (versionText == nullptr) return version;
    version.text = versionText;
    // GLES contexts prefix their version ("OpenGL ES 3.2 Mesa"); desktop ones start with it
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

}  // namespace quarvel
