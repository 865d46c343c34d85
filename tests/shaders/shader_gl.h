// Helpers for the shader tests on the shared headless context: targets that filter and wrap like
// the demo's, programs that release themselves, helper shaders built around the real sources.
#pragma once

#include "support/gl_test_context.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::test {

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
    ShaderTarget(const test::TestGl& gl, int width, int height, Storage storage);
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
    const test::TestGl& gl_;
    int width_;
    int height_;
    Storage storage_;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
};

// A program with one fragment shader; `log` holds the compile or link log when it failed.
class Program {
public:
    Program(const test::TestGl& gl, const std::string& source);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool ok() const { return id_ != 0; }
    const std::string& log() const { return log_; }
    GLuint id() const { return id_; }

private:
    const test::TestGl& gl_;
    std::string log_;
    GLuint id_ = 0;
};

// Draws the full-target rectangle with the program current, as the frame pipeline does.
void drawRectangle(const test::TestGl& gl);

// Binds `texture` on texture unit `unit` and leaves unit 0 active.
void bindTexture(const test::TestGl& gl, int unit, GLuint texture);

// The text of one function of a GLSL source, from the start of the line that begins with
// `head` (e.g. "float hash12(") through its closing brace; empty when it is not there.
std::string functionText(std::string_view source, std::string_view head);

// The initialiser of the global "float name = ...;" of a GLSL source, without the semicolon.
std::string globalInitialiser(std::string_view source, std::string_view name);

// Runs a complete helper fragment shader over a float target of width x height and returns
// its texels, rows from the bottom; empty (with the log on stderr) when it does not compile.
std::vector<Rgba> runHelper(const test::TestGl& gl, const std::string& source, int width, int height);

// Evaluates `expression` once per entry of `inputs` in a helper shader made of `preamble`
// (functions it calls) and a constant array `in` of the inputs; the expression sees the current
// input as `x` (a vec4) and must give a vec4.
std::vector<Rgba> evaluate(const test::TestGl& gl, const std::string& preamble,
                           const std::vector<Rgba>& inputs, const std::string& expression);

// GLSL literal that reads back as exactly `value` in single precision.
std::string glslFloat(float value);

}  // namespace quarvel::test
