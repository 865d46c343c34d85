// The one headless GL context a test process shares, and small helpers for rendering test
// shaders into targets and reading the results back.
#pragma once

#include "capture/capture_gl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::test {

// Size of the shared context's default framebuffer; tests draw smaller by setting the viewport.
inline constexpr int32_t contextWidth = 1920;
inline constexpr int32_t contextHeight = 1080;

// The capture's table (viewports, read-back, errors, limits) and the texture state the tests
// query.
#define QUARVEL_TEST_GL_FUNCTIONS(X)                                            \
    X(void, glGetTexParameteriv, (GLenum target, GLenum pname, GLint * params)) \
    X(void, glGetTexLevelParameteriv, (GLenum target, GLint level, GLenum pname, GLint * params))

struct TestGl : CaptureGl {
    QUARVEL_TEST_GL_FUNCTIONS(QUARVEL_GL_MEMBER)
};

// The shared context's entry points, creating the context on first use. Null when no GL 4.3
// context can be had: tests then fail with the reason from glUnavailableReason().
const TestGl* sharedGl();
std::string glUnavailableReason();

// The source of a shader that stands in for one of the show's programs: the program's own
// uniform declarations (from shaders/shader_interface.h) ahead of `body`.
inline std::string standInSource(const char* uniformDeclarations, const char* body) {
    return std::string("#version 430\n") + uniformDeclarations + body;
}

// Compiles one fragment shader into a program; 0 on failure with the log in `log`.
GLuint buildProgram(const TestGl& gl, const char* fragmentSource, std::string* log = nullptr);

// A framebuffer with one colour texture of the given format (gl::RGBA for RGBA8, gl::RGBA32F).
struct Target {
    GLuint framebuffer = 0;
    GLuint texture = 0;
    int32_t width = 0;
    int32_t height = 0;
};
Target makeTarget(const TestGl& gl, int32_t width, int32_t height, GLenum internalFormat);
void deleteTarget(const TestGl& gl, Target& target);

// Reads width x height RGBA pixels of the bound read framebuffer's read buffer.
std::vector<float> readFloats(const TestGl& gl, GLuint framebuffer, int32_t width, int32_t height);
std::vector<unsigned char> readBytes(const TestGl& gl, GLuint framebuffer, int32_t width, int32_t height,
                                     GLenum readBuffer);

// Draws the full-target rectangle with `program` into `target` (viewport set to its size).
void drawFullTarget(const TestGl& gl, GLuint program, const Target& target);

// Fails the current test with every GL error still queued.
void expectNoGlError(const TestGl& gl);

}  // namespace quarvel::test

// Skips nothing: a machine without GL 4.3 is a broken test machine, so the test fails loudly.
#define QUARVEL_REQUIRE_GL(glVar)                                                 \
    const ::quarvel::test::TestGl* glVar##Pointer = ::quarvel::test::sharedGl();  \
    ASSERT_NE(glVar##Pointer, nullptr) << ::quarvel::test::glUnavailableReason(); \
    const ::quarvel::test::TestGl& glVar = *glVar##Pointer
