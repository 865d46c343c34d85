// The GL entry points the demo draws with, looked up by name through the platform once the
// context is current, the few GL constants the programs need, and the one GL bring-up.
#pragma once

#include "base/status.h"
#include "platform/platform.h"
#include "shaders/shader_sources.h"

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#define QUARVEL_GL_CALL __stdcall
#else
#define QUARVEL_GL_CALL
#endif

namespace quarvel {

using GLenum = unsigned int;
using GLboolean = unsigned char;
using GLbitfield = unsigned int;
using GLint = int;
using GLuint = unsigned int;
using GLsizei = int;
using GLshort = short;
using GLfloat = float;
using GLchar = char;
using GLubyte = unsigned char;
using GLhandleARB = unsigned int;
using GLsizeiptr = std::ptrdiff_t;
using GLintptr = std::ptrdiff_t;
using GLuint64 = std::uint64_t;
using GLsync = struct GLsyncObject*;

namespace gl {
inline constexpr GLenum NO_ERROR = 0;
inline constexpr GLenum TEXTURE_2D = 0x0DE1;
inline constexpr GLenum UNSIGNED_BYTE = 0x1401;
inline constexpr GLenum FLOAT = 0x1406;
inline constexpr GLenum RGBA = 0x1908;
inline constexpr GLenum RGBA32F = 0x8814;
inline constexpr GLenum LINEAR = 0x2601;
inline constexpr GLenum NEAREST = 0x2600;
inline constexpr GLenum TEXTURE_MAG_FILTER = 0x2800;
inline constexpr GLenum TEXTURE_MIN_FILTER = 0x2801;
inline constexpr GLenum TEXTURE_WRAP_S = 0x2802;
inline constexpr GLenum TEXTURE_WRAP_T = 0x2803;
inline constexpr GLenum CLAMP_TO_EDGE = 0x812F;
inline constexpr GLenum TEXTURE0 = 0x84C0;
inline constexpr GLenum TEXTURE1 = 0x84C1;
inline constexpr GLenum FRAMEBUFFER = 0x8D40;
inline constexpr GLenum READ_FRAMEBUFFER = 0x8CA8;
inline constexpr GLenum DRAW_FRAMEBUFFER = 0x8CA9;
inline constexpr GLenum FRAMEBUFFER_COMPLETE = 0x8CD5;
inline constexpr GLenum COLOR_ATTACHMENT0 = 0x8CE0;
inline constexpr GLenum COLOR_ATTACHMENT1 = 0x8CE1;
inline constexpr GLenum BACK = 0x0405;
inline constexpr GLenum FRAGMENT_SHADER = 0x8B30;
inline constexpr GLenum VERTEX_SHADER = 0x8B31;
inline constexpr GLenum OBJECT_COMPILE_STATUS_ARB = 0x8B81;
inline constexpr GLenum OBJECT_LINK_STATUS_ARB = 0x8B82;
inline constexpr GLenum VENDOR = 0x1F00;
inline constexpr GLenum RENDERER = 0x1F01;
inline constexpr GLenum VERSION = 0x1F02;
inline constexpr GLenum MAJOR_VERSION = 0x821B;
inline constexpr GLenum MINOR_VERSION = 0x821C;
inline constexpr GLenum MAX_TEXTURE_SIZE = 0x0D33;
inline constexpr GLenum MAX_VIEWPORT_DIMS = 0x0D3A;
inline constexpr GLenum VIEWPORT = 0x0BA2;
inline constexpr GLenum ACTIVE_TEXTURE = 0x84E0;
inline constexpr GLenum TEXTURE_BINDING_2D = 0x8069;
inline constexpr GLenum FRAMEBUFFER_BINDING = 0x8CA6;
inline constexpr GLenum DRAW_BUFFER = 0x0C01;
inline constexpr GLenum CURRENT_PROGRAM = 0x8B8D;
inline constexpr GLenum PACK_ALIGNMENT = 0x0D05;
inline constexpr GLenum PIXEL_PACK_BUFFER = 0x88EB;
inline constexpr GLenum STREAM_READ = 0x88E1;
inline constexpr GLenum MAP_READ_BIT = 0x0001;
inline constexpr GLenum SYNC_GPU_COMMANDS_COMPLETE = 0x9117;
inline constexpr GLbitfield SYNC_FLUSH_COMMANDS_BIT = 0x00000001;
inline constexpr GLenum ALREADY_SIGNALED = 0x911A;
inline constexpr GLenum TIMEOUT_EXPIRED = 0x911B;
inline constexpr GLenum CONDITION_SATISFIED = 0x911C;
inline constexpr GLenum WAIT_FAILED = 0x911D;
inline constexpr GLuint64 TIMEOUT_IGNORED = ~GLuint64{0};
}  // namespace gl

// The entry points the demo draws with, every one required: bringUpGl fails when any is missing.
// Programs that need more extend the table with one of their own, loaded the same way
// (OffscreenGl below).
#define QUARVEL_GL_FUNCTIONS(X)                                                                        \
    /* GL 1.1 */                                                                                       \
    X(void, glGenTextures, (GLsizei n, GLuint * textures))                                             \
    X(void, glDeleteTextures, (GLsizei n, const GLuint* textures))                                     \
    X(void, glBindTexture, (GLenum target, GLuint texture))                                            \
    X(void, glTexParameteri, (GLenum target, GLenum pname, GLint param))                               \
    X(void, glTexImage2D,                                                                              \
      (GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border,  \
       GLenum format, GLenum type, const void* pixels))                                                \
    X(void, glDrawBuffer, (GLenum buf))                                                                \
    X(void, glRects, (GLshort x1, GLshort y1, GLshort x2, GLshort y2))                                 \
    X(const GLubyte*, glGetString, (GLenum name))                                                      \
    /* framebuffers */                                                                                 \
    X(void, glGenFramebuffers, (GLsizei n, GLuint * framebuffers))                                     \
    X(void, glDeleteFramebuffers, (GLsizei n, const GLuint* framebuffers))                             \
    X(void, glBindFramebuffer, (GLenum target, GLuint framebuffer))                                    \
    X(void, glFramebufferTexture2D,                                                                    \
      (GLenum target, GLenum attachment, GLenum textarget, GLuint texture, GLint level))               \
    /* programs */                                                                                     \
    X(GLuint, glCreateProgram, ())                                                                     \
    X(void, glDeleteProgram, (GLuint program))                                                         \
    X(GLuint, glCreateShader, (GLenum type))                                                           \
    X(void, glDeleteShader, (GLuint shader))                                                           \
    X(void, glShaderSource,                                                                            \
      (GLuint shader, GLsizei count, const GLchar* const* string, const GLint* length))                \
    X(void, glCompileShader, (GLuint shader))                                                          \
    X(void, glAttachShader, (GLuint program, GLuint shader))                                           \
    X(void, glLinkProgram, (GLuint program))                                                           \
    X(void, glGetObjectParameterivARB, (GLhandleARB obj, GLenum pname, GLint * params))                \
    X(void, glGetInfoLogARB, (GLhandleARB obj, GLsizei maxLength, GLsizei * length, GLchar * infoLog)) \
    X(void, glActiveTexture, (GLenum texture))                                                         \
    X(void, glUseProgram, (GLuint program))                                                            \
    X(void, glUniform1i, (GLint location, GLint v0))                                                   \
    X(void, glUniform2f, (GLint location, GLfloat v0, GLfloat v1))

// A table member per entry point, and the statement that looks it up (inside a function with
// `table` and a std::string `missing` in scope).
#define QUARVEL_GL_MEMBER(ret, name, args) ret(QUARVEL_GL_CALL* name) args = nullptr;
#define QUARVEL_GL_LOAD(ret, name, args) ::quarvel::loadGlFunction(table.name, #name, missing);

struct GlApi {
    QUARVEL_GL_FUNCTIONS(QUARVEL_GL_MEMBER)
};

// What a program that draws into framebuffers of its own and reads them back needs beyond the
// demo's table (the capture, the benchmarks, the GL tests): its viewport, the read-back ring of
// pixel buffers and fences, errors and size limits.
#define QUARVEL_OFFSCREEN_GL_FUNCTIONS(X)                                                              \
    X(void, glViewport, (GLint x, GLint y, GLsizei width, GLsizei height))                             \
    X(void, glReadBuffer, (GLenum src))                                                                \
    X(void, glReadPixels,                                                                              \
      (GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, void* pixels))     \
    X(void, glPixelStorei, (GLenum pname, GLint param))                                                \
    X(GLenum, glGetError, ())                                                                          \
    X(void, glGetIntegerv, (GLenum pname, GLint * data))                                               \
    X(GLenum, glCheckFramebufferStatus, (GLenum target))                                               \
    X(void, glFinish, ())                                                                              \
    X(void, glFlush, ())                                                                               \
    X(void, glGenBuffers, (GLsizei n, GLuint * buffers))                                               \
    X(void, glDeleteBuffers, (GLsizei n, const GLuint* buffers))                                       \
    X(void, glBindBuffer, (GLenum target, GLuint buffer))                                              \
    X(void, glBufferData, (GLenum target, GLsizeiptr size, const void* data, GLenum usage))            \
    X(void*, glMapBufferRange, (GLenum target, GLintptr offset, GLsizeiptr length, GLbitfield access)) \
    X(GLboolean, glUnmapBuffer, (GLenum target))                                                       \
    X(GLsync, glFenceSync, (GLenum condition, GLbitfield flags))                                       \
    X(GLenum, glClientWaitSync, (GLsync sync, GLbitfield flags, GLuint64 timeout))                     \
    X(void, glDeleteSync, (GLsync sync))

struct OffscreenGl : GlApi {
    QUARVEL_OFFSCREEN_GL_FUNCTIONS(QUARVEL_GL_MEMBER)
};

// The address of entry point `name` of the current context; when it has none, nullptr, and the
// name is added to the comma-separated `missing`.
platform::GlProc findGlFunction(const char* name, std::string& missing);

template <typename Function>
void loadGlFunction(Function& function, const char* name, std::string& missing) {
    function = reinterpret_cast<Function>(findGlFunction(name, missing));
}

// Looks every entry point of the table up; the failure names those the context lacks.
Status loadGlApi(GlApi& gl);

struct GlVersion {
    bool es = false;  // OpenGL ES, WebGL2 included
    int major = 0;
    int minor = 0;
    std::string text;      // GL_VERSION as the driver gives it
    std::string renderer;  // GL_RENDERER
};

GlVersion queryGlVersion(const GlApi& gl);

// Whether a context of `version` compiles sources written for `target`: the same API (desktop or
// ES), at that version or later.
bool runsSourcesFor(const GlVersion& version, const shaders::GlslTarget& target);

// Reads the leading "major.minor" of a GL_VERSION string; {0, 0} when there is none.
GlVersion parseGlVersion(const char* versionText);

// The one way every program brings GL up: opens the platform's surface (see openSurface), loads
// the table and requires the GL the embedded sources are written for (OpenGL 4.3 on the desktop,
// OpenGL ES 3.0 in a browser). The failure says what was found instead.
struct GlBringUp {
    Status status;
    bool displayModeRefused = false;  // fullscreen was asked for and the display would not switch
    GlVersion version;                // what the context reports; empty when there is none
};

GlBringUp bringUpGl(GlApi& gl, int32_t width, int32_t height, bool windowed);

// bringUpGl on a windowed surface of width x height, then the offscreen entry points.
GlBringUp bringUpOffscreenGl(OffscreenGl& gl, int32_t width, int32_t height);

}  // namespace quarvel
