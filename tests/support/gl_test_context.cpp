// The GL tests' helpers: the shared headless context, opened once per test process through the
// headless backend, and what the tests draw and read with it.
#include "support/gl_test_context.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace quarvel::test {

namespace {

constexpr GLenum kRgba8 = 0x8058;

struct SharedContext {
    bool tried = false;
    bool ready = false;
    TestGl gl;
    std::string reason;
};

Status loadTestGl(TestGl& table) {
    std::string missing;
    QUARVEL_TEST_GL_FUNCTIONS(QUARVEL_GL_LOAD)
    return missing.empty() ? success() : failure("the tests need " + missing);
}

SharedContext& shared() {
    static SharedContext context;
    if (context.tried) return context;
    context.tried = true;
    const GlBringUp up = bringUpOffscreenGl(context.gl, contextWidth, contextHeight);
    const Status loaded = up.status.ok ? loadTestGl(context.gl) : up.status;
    context.ready = loaded.ok;
    context.reason = loaded.message;
    return context;
}

GLuint buildProgram(const TestGl& gl, const char* fragmentSource, std::string* log) {
    const GLuint shader = gl.glCreateShader(gl::FRAGMENT_SHADER);
    gl.glShaderSource(shader, 1, &fragmentSource, nullptr);
    gl.glCompileShader(shader);
    GLint compiled = 0;
    gl.glGetObjectParameterivARB(shader, gl::OBJECT_COMPILE_STATUS_ARB, &compiled);
    char text[4096] = {};
    if (compiled == 0) {
        gl.glGetInfoLogARB(shader, sizeof text - 1, nullptr, text);
        if (log != nullptr) *log = text;
        gl.glDeleteShader(shader);
        return 0;
    }
    const GLuint program = gl.glCreateProgram();
    gl.glAttachShader(program, shader);
    gl.glLinkProgram(program);
    gl.glDeleteShader(shader);
    GLint linked = 0;
    gl.glGetObjectParameterivARB(program, gl::OBJECT_LINK_STATUS_ARB, &linked);
    if (linked == 0) {
        gl.glGetInfoLogARB(program, sizeof text - 1, nullptr, text);
        if (log != nullptr) *log = text;
        gl.glDeleteProgram(program);
        return 0;
    }
    return program;
}

}  // namespace

const TestGl* sharedGl() {
    SharedContext& context = shared();
    return context.ready ? &context.gl : nullptr;
}

std::string glUnavailableReason() {
    return shared().reason;
}

std::vector<uint8_t> readBytes(const TestGl& gl, GLuint framebuffer, int32_t width, int32_t height,
                               GLenum readBuffer) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
    gl.glBindFramebuffer(gl::READ_FRAMEBUFFER, framebuffer);
    gl.glReadBuffer(readBuffer);
    gl.glPixelStorei(gl::PACK_ALIGNMENT, 1);
    gl.glReadPixels(0, 0, width, height, gl::RGBA, gl::UNSIGNED_BYTE, bytes.data());
    gl.glBindFramebuffer(gl::READ_FRAMEBUFFER, 0);
    return bytes;
}

ShaderTarget::ShaderTarget(const TestGl& gl, int width, int height, Storage storage)
    : gl_(gl), width_(width), height_(height), storage_(storage) {
    gl_.glGenTextures(1, &texture_);
    gl_.glBindTexture(gl::TEXTURE_2D, texture_);
    gl_.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, gl::LINEAR);
    gl_.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, gl::LINEAR);
    gl_.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_S, gl::CLAMP_TO_EDGE);
    gl_.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_T, gl::CLAMP_TO_EDGE);
    gl_.glBindTexture(gl::TEXTURE_2D, 0);
    fill({});
    gl_.glGenFramebuffers(1, &framebuffer_);
    gl_.glBindFramebuffer(gl::FRAMEBUFFER, framebuffer_);
    gl_.glFramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT0, gl::TEXTURE_2D, texture_, 0);
    gl_.glBindFramebuffer(gl::FRAMEBUFFER, 0);
}

ShaderTarget::~ShaderTarget() {
    gl_.glDeleteFramebuffers(1, &framebuffer_);
    gl_.glDeleteTextures(1, &texture_);
}

void ShaderTarget::fill(Rgba colour) {
    const std::size_t count = static_cast<std::size_t>(width_) * height_;
    gl_.glBindTexture(gl::TEXTURE_2D, texture_);
    if (storage_ == Storage::float32) {
        const std::vector<Rgba> texels(count, colour);
        gl_.glTexImage2D(gl::TEXTURE_2D, 0, gl::RGBA32F, width_, height_, 0, gl::RGBA, gl::FLOAT,
                         texels.data());
    } else {
        // converted here, so the stored step does not depend on the driver's rounding
        const auto step = [](float v) {
            return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
        };
        const uint8_t texel[4] = {step(colour.r), step(colour.g), step(colour.b), step(colour.a)};
        std::vector<uint8_t> bytes(count * 4);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = texel[i % 4];
        gl_.glTexImage2D(gl::TEXTURE_2D, 0, kRgba8, width_, height_, 0, gl::RGBA, gl::UNSIGNED_BYTE,
                         bytes.data());
    }
    gl_.glBindTexture(gl::TEXTURE_2D, 0);
}

void ShaderTarget::upload(const std::vector<Rgba>& texels) {
    assert(texels.size() == static_cast<std::size_t>(width_) * height_);
    const GLint internalFormat = storage_ == Storage::float32 ? gl::RGBA32F : kRgba8;
    gl_.glBindTexture(gl::TEXTURE_2D, texture_);
    gl_.glTexImage2D(gl::TEXTURE_2D, 0, internalFormat, width_, height_, 0, gl::RGBA, gl::FLOAT,
                     texels.data());
    gl_.glBindTexture(gl::TEXTURE_2D, 0);
}

void ShaderTarget::bindForDrawing() const {
    gl_.glBindFramebuffer(gl::FRAMEBUFFER, framebuffer_);
    gl_.glDrawBuffer(gl::COLOR_ATTACHMENT0);
    gl_.glViewport(0, 0, width_, height_);
}

std::vector<Rgba> ShaderTarget::readFloats() const {
    return readFloats(0, 0, width_, height_);
}

std::vector<Rgba> ShaderTarget::readFloats(int x, int y, int width, int height) const {
    std::vector<Rgba> texels(static_cast<std::size_t>(width) * height);
    gl_.glBindFramebuffer(gl::READ_FRAMEBUFFER, framebuffer_);
    gl_.glReadBuffer(gl::COLOR_ATTACHMENT0);
    gl_.glPixelStorei(gl::PACK_ALIGNMENT, 1);
    gl_.glReadPixels(x, y, width, height, gl::RGBA, gl::FLOAT, texels.data());
    gl_.glBindFramebuffer(gl::READ_FRAMEBUFFER, 0);
    return texels;
}

std::vector<uint8_t> ShaderTarget::readBytes() const {
    return test::readBytes(gl_, framebuffer_, width_, height_, gl::COLOR_ATTACHMENT0);
}

Program::Program(const TestGl& gl, const std::string& source)
    : gl_(gl), id_(buildProgram(gl, source.c_str(), &log_)) {}

Program::~Program() {
    if (id_ != 0) gl_.glDeleteProgram(id_);
}

void drawRectangle(const TestGl& gl) {
    gl.glRects(-1, -1, 1, 1);
}

void bindTexture(const TestGl& gl, int unit, GLuint texture) {
    gl.glActiveTexture(gl::TEXTURE0 + static_cast<GLenum>(unit));
    gl.glBindTexture(gl::TEXTURE_2D, texture);
    gl.glActiveTexture(gl::TEXTURE0);
}

namespace {

// Where `head` first stands at the start of a line of `source`; npos when it never does.
std::size_t findAtLineStart(std::string_view source, std::string_view head) {
    for (std::size_t start = source.find(head); start != std::string_view::npos;
         start = source.find(head, start + 1)) {
        if (start == 0 || source[start - 1] == '\n') return start;
    }
    return std::string_view::npos;
}

}  // namespace

std::string functionText(std::string_view source, std::string_view head) {
    const std::size_t start = findAtLineStart(source, head);
    if (start == std::string_view::npos) return {};
    const std::size_t open = source.find('{', start);
    if (open == std::string_view::npos) return {};
    int depth = 0;
    for (std::size_t i = open; i < source.size(); ++i) {
        if (source[i] == '{') ++depth;
        if (source[i] == '}' && --depth == 0) return std::string(source.substr(start, i + 1 - start)) + "\n";
    }
    return {};
}

std::string globalInitialiser(std::string_view source, std::string_view name) {
    const std::string head = "float " + std::string(name) + " = ";
    const std::size_t start = findAtLineStart(source, head);
    if (start == std::string_view::npos) return {};
    const std::size_t from = start + head.size();
    const std::size_t end = source.find(';', from);
    if (end == std::string_view::npos) return {};
    return std::string(source.substr(from, end - from));
}

std::string glslFloat(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string literal = text;
    if (literal.find_first_of(".eE") == std::string::npos) literal += ".0";
    return literal;
}

std::vector<Rgba> evaluate(const TestGl& gl, const std::string& preamble, const std::vector<Rgba>& inputs,
                           const std::string& expression) {
    assert(!inputs.empty());
    const int count = static_cast<int>(inputs.size());
    std::string source = "#version 430\nlayout(location = 0) out vec4 oColor;\n" + preamble + "\n";
    source += "const vec4 inputs[" + std::to_string(count) + "] = vec4[](\n";
    for (int i = 0; i < count; ++i) {
        const Rgba& x = inputs[static_cast<std::size_t>(i)];
        source += "    vec4(" + glslFloat(x.r) + ", " + glslFloat(x.g) + ", " + glslFloat(x.b) + ", " +
                  glslFloat(x.a) + (i + 1 < count ? ")," : ")") + "\n";
    }
    source += ");\nvoid main()\n{\n    vec4 x = inputs[int(gl_FragCoord.x)];\n    oColor = " + expression +
              ";\n}\n";

    return runHelper(gl, source, count, 1);
}

std::vector<Rgba> runHelper(const TestGl& gl, const std::string& source, int width, int height) {
    const Program program(gl, source);
    if (program.id() == 0) {
        std::fprintf(stderr, "helper shader failed:\n%s\n%s\n", program.log().c_str(), source.c_str());
        return {};
    }
    const ShaderTarget target(gl, width, height, Storage::float32);
    target.bindForDrawing();
    gl.glUseProgram(program.id());
    drawRectangle(gl);
    gl.glUseProgram(0);
    return target.readFloats();
}

void expectNoGlError(const TestGl& gl) {
    for (GLenum error = gl.glGetError(); error != gl::NO_ERROR; error = gl.glGetError())
        ADD_FAILURE() << "GL error 0x" << std::hex << error;
}

}  // namespace quarvel::test
