// The GL tests' helpers: the one headless GL context a test process shares, targets that filter
// and wrap like the demo's, programs that release themselves, helper shaders built around the
// real sources, and reading the results back.
#pragma once

#include "render/gl_api.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::test {

// Size of the shared context's default framebuffer; tests draw smaller by setting the viewport.
inline constexpr int32_t contextWidth = 1920;
inline constexpr int32_t contextHeight = 1080;

// The offscreen table (viewports, read-back, errors, limits) and the texture state the tests
// query.
#define QUARVEL_TEST_GL_FUNCTIONS(X)                                            \
    X(void, glGetTexParameteriv, (GLenum target, GLenum pname, GLint * params)) \
    X(void, glGetTexLevelParameteriv, (GLenum target, GLint level, GLenum pname, GLint * params))

struct TestGl : OffscreenGl {
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

// Reads width x height RGBA bytes of `readBuffer` of `framebuffer`, rows from the bottom.
std::vector<uint8_t> readBytes(const TestGl& gl, GLuint framebuffer, int32_t width, int32_t height,
                               GLenum readBuffer);

struct Rgba {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;
};

enum class Storage {
    float32,  // RGBA32F: what a helper shader computes, unclamped
    unorm8,   // RGBA8: what the demo's own targets store
};

// A texture with a framebuffer around it; linear filtering and clamp-to-edge like the demo's,
// so that it can also serve as a pass's input.
class ShaderTarget {
public:
    ShaderTarget(const TestGl& gl, int width, int height, Storage storage);
    ~ShaderTarget();
    ShaderTarget(const ShaderTarget&) = delete;
    ShaderTarget& operator=(const ShaderTarget&) = delete;

    // fills every texel with one colour
    void fill(Rgba colour);
    // replaces the content with width x height texels, rows from the bottom
    void upload(const std::vector<Rgba>& texels);

    // binds the framebuffer as the draw target with a viewport of the target's size
    void bindForDrawing() const;

    std::vector<Rgba> readFloats() const;
    std::vector<Rgba> readFloats(int x, int y, int width, int height) const;
    std::vector<uint8_t> readBytes() const;  // RGBA, rows from the bottom

    GLuint texture() const { return texture_; }
    GLuint framebuffer() const { return framebuffer_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    const TestGl& gl_;
    int width_;
    int height_;
    Storage storage_;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
};

// A program with one fragment shader; `log` holds the compile or link log when it failed.
class Program {
public:
    Program(const TestGl& gl, const std::string& source);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool ok() const { return id_ != 0; }
    const std::string& log() const { return log_; }
    GLuint id() const { return id_; }

private:
    const TestGl& gl_;
    std::string log_;
    GLuint id_ = 0;
};

// Draws the full-target rectangle with the program current, as the frame pipeline does.
void drawRectangle(const TestGl& gl);

// Binds `texture` on texture unit `unit` and leaves unit 0 active.
void bindTexture(const TestGl& gl, int unit, GLuint texture);

// The text of one function of a GLSL source, from the start of the line that begins with
// `head` (e.g. "float hash12(") through its closing brace; empty when it is not there.
std::string functionText(std::string_view source, std::string_view head);

// The initialiser of the global "float name = ...;" of a GLSL source, without the semicolon.
std::string globalInitialiser(std::string_view source, std::string_view name);

// Runs a complete helper fragment shader over a float target of width x height and returns
// its texels, rows from the bottom; empty (with the log on stderr) when it does not compile.
std::vector<Rgba> runHelper(const TestGl& gl, const std::string& source, int width, int height);

// Evaluates `expression` once per entry of `inputs` in a helper shader made of `preamble`
// (functions it calls) and a constant array `in` of the inputs; the expression sees the current
// input as `x` (a vec4) and must give a vec4.
std::vector<Rgba> evaluate(const TestGl& gl, const std::string& preamble, const std::vector<Rgba>& inputs,
                           const std::string& expression);

// GLSL literal that reads back as exactly `value` in single precision.
std::string glslFloat(float value);

// Fails the current test with every GL error still queued.
void expectNoGlError(const TestGl& gl);

}  // namespace quarvel::test

// Skips nothing: a machine without GL 4.3 is a broken test machine, so the test fails loudly.
#define QUARVEL_REQUIRE_GL(glVar)                                                 \
    const ::quarvel::test::TestGl* glVar##Pointer = ::quarvel::test::sharedGl();  \
    ASSERT_NE(glVar##Pointer, nullptr) << ::quarvel::test::glUnavailableReason(); \
    const ::quarvel::test::TestGl& glVar = *glVar##Pointer
