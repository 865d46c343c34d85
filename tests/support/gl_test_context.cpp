// The shared headless context, opened once per test process through the headless backend.
#include "support/gl_test_context.h"

#include <gtest/gtest.h>

namespace quarvel::test {

namespace {

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
    const GlBringUp up = bringUpCaptureGl(context.gl, contextWidth, contextHeight);
    const Status loaded = up.status.ok ? loadTestGl(context.gl) : up.status;
    context.ready = loaded.ok;
    context.reason = loaded.message;
    return context;
}

}  // namespace

const TestGl* sharedGl() {
    SharedContext& context = shared();
    return context.ready ? &context.gl : nullptr;
}

std::string glUnavailableReason() {
    return shared().reason;
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

Target makeTarget(const TestGl& gl, int32_t width, int32_t height, GLenum internalFormat) {
    Target target{0, 0, width, height};
    gl.glGenTextures(1, &target.texture);
    gl.glBindTexture(gl::TEXTURE_2D, target.texture);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, gl::NEAREST);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, gl::NEAREST);
    const GLenum type = internalFormat == gl::RGBA32F ? gl::FLOAT : gl::UNSIGNED_BYTE;
    gl.glTexImage2D(gl::TEXTURE_2D, 0, static_cast<GLint>(internalFormat), width, height, 0, gl::RGBA, type,
                    nullptr);
    gl.glBindTexture(gl::TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &target.framebuffer);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, target.framebuffer);
    gl.glFramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT0, gl::TEXTURE_2D, target.texture, 0);
    gl.glDrawBuffer(gl::COLOR_ATTACHMENT0);
    EXPECT_EQ(gl.glCheckFramebufferStatus(gl::FRAMEBUFFER), gl::FRAMEBUFFER_COMPLETE);
    return target;
}

void deleteTarget(const TestGl& gl, Target& target) {
    gl.glDeleteFramebuffers(1, &target.framebuffer);
    gl.glDeleteTextures(1, &target.texture);
    target = {};
}

std::vector<float> readFloats(const TestGl& gl, GLuint framebuffer, int32_t width, int32_t height) {
    std::vector<float> pixels(static_cast<std::size_t>(width) * height * 4);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, framebuffer);
    gl.glReadBuffer(framebuffer == 0 ? gl::BACK : gl::COLOR_ATTACHMENT0);
    gl.glPixelStorei(gl::PACK_ALIGNMENT, 1);
    gl.glReadPixels(0, 0, width, height, gl::RGBA, gl::FLOAT, pixels.data());
    return pixels;
}

std::vector<unsigned char> readBytes(const TestGl& gl, GLuint framebuffer, int32_t width, int32_t height,
                                     GLenum readBuffer) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, framebuffer);
    gl.glReadBuffer(readBuffer);
    gl.glPixelStorei(gl::PACK_ALIGNMENT, 1);
    gl.glReadPixels(0, 0, width, height, gl::RGBA, gl::UNSIGNED_BYTE, pixels.data());
    return pixels;
}

void drawFullTarget(const TestGl& gl, GLuint program, const Target& target) {
    gl.glBindFramebuffer(gl::FRAMEBUFFER, target.framebuffer);
    gl.glViewport(0, 0, target.width, target.height);
    gl.glUseProgram(program);
    gl.glRects(-1, -1, 1, 1);
}

void expectNoGlError(const TestGl& gl) {
    for (GLenum error = gl.glGetError(); error != gl::NO_ERROR; error = gl.glGetError())
        ADD_FAILURE() << "GL error 0x" << std::hex << error;
}

}  // namespace quarvel::test
