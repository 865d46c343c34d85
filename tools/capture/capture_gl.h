// The entry points the capture needs beyond the demo's: its own framebuffer and viewport, the
// read-back ring of pixel buffers and fences, errors and size limits; and its GL bring-up.
#pragma once

#include "base/status.h"
#include "render/gl_api.h"

namespace quarvel {

#define QUARVEL_CAPTURE_GL_FUNCTIONS(X)                                                                \
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

struct CaptureGl : GlApi {
    QUARVEL_CAPTURE_GL_FUNCTIONS(QUARVEL_GL_MEMBER)
};

// Looks the capture's own entry points up; the demo's (the GlApi part) come from bringUpGl.
Status loadCaptureGl(CaptureGl& gl);

// bringUpGl on a windowed surface of width x height, then the capture's own entry points: the
// GL of every program that draws into framebuffers of its own and reads them back (the capture,
// the benchmarks, the GL tests).
GlBringUp bringUpCaptureGl(CaptureGl& gl, int32_t width, int32_t height);

}  // namespace quarvel
