// Stand-ins for the desktop GL calls the renderer makes and WebGL2 lacks. Implemented:
// - glRects of the full target: one full-screen triangle, drawn by a vertex shader that
//   glLinkProgram attaches to every program (WebGL2 has no fixed-function vertex stage);
// - explicit uniform locations, which GLSL ES 3.00 lacks: glShaderSource takes each
//   "layout(location = N)" off a uniform (uniform_locations.h) and notes it, and after linking
//   each noted name is looked up once; glUniform1i / glUniform2f then map the host's location;
// - glGetObjectParameterivARB / glGetInfoLogARB: the core shader and program queries;
// - glDrawBuffer: glDrawBuffers with the draw buffer's texture moved to attachment 0, alone. In ES
//   a fragment output at location 0 reaches only draw buffer 0, and WebGL2 refuses to draw while a
//   texture the program samples is attached to the framebuffer anywhere, even at an attachment
//   that is not drawn to (the feedback pass reads one of the two textures of its framebuffer and
//   writes the other).
// Left out: rectangles other than the full target, more than two colour attachments.
#include "platform/web/webgl_shims.h"

#include "platform/web/uniform_locations.h"
#include "shaders/shader_sources.h"

#include <GLES3/gl3.h>
#include <algorithm>
#include <cassert>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel::platform::webgl {

namespace {

constexpr GLenum objectCompileStatusArb = 0x8B81;
constexpr GLenum objectLinkStatusArb = 0x8B82;
constexpr GLenum objectInfoLogLengthArb = 0x8B84;
constexpr int colourAttachments = 2;

// One compiled shader's uniforms with the locations its source gave them.
struct ShaderUniforms {
    GLuint shader = 0;
    std::vector<UniformLocation> uniforms;
};

// One linked program: where each host location went (-1: nowhere).
struct ProgramUniforms {
    GLuint program = 0;
    std::vector<GLint> locations;
};

// The textures the renderer attached to a framebuffer's colour attachments, and where the
// stand-in for glDrawBuffer has put them since.
struct FramebufferTextures {
    GLuint framebuffer = 0;
    GLuint textures[colourAttachments] = {0, 0};
    int atZero = 0;              // which of them is at attachment 0 now
    bool othersAttached = true;  // the others still where the renderer put them
};

struct ShimState {
    GLuint vertexShader = 0;
    std::vector<ShaderUniforms> shaders;
    std::vector<ProgramUniforms> programs;
    int current = -1;  // index into programs of the program in use
    std::vector<FramebufferTextures> framebuffers;
    GLuint boundFramebuffer = 0;
};

// module-level: the stand-ins are plain function pointers in the renderer's table
ShimState& state() {
    static ShimState s;
    return s;
}

FramebufferTextures* texturesOf(GLuint framebuffer) {
    for (FramebufferTextures& f : state().framebuffers)
        if (f.framebuffer == framebuffer) return &f;
    return nullptr;
}

GLuint fullScreenVertexShader() {
    ShimState& s = state();
    if (s.vertexShader == 0) {
        s.vertexShader = glCreateShader(GL_VERTEX_SHADER);
        glShaderSource(s.vertexShader, 1, &shaders::fullScreenVertexSource, nullptr);
        glCompileShader(s.vertexShader);
    }
    return s.vertexShader;
}

// --- the stand-ins ---------------------------------------------------------------------------

void rects(GLshort x1, GLshort y1, GLshort x2, GLshort y2) {
    assert(x1 == -1 && y1 == -1 && x2 == 1 && y2 == 1 && "only the full target is drawn");
    (void)x1, (void)y1, (void)x2, (void)y2;
    glDrawArrays(GL_TRIANGLES, 0, 3);
}

void shaderSource(GLuint shader, GLsizei count, const GLchar* const* strings, const GLint* lengths) {
    std::string source;
    for (GLsizei i = 0; i < count; ++i)
        source.append(strings[i], lengths != nullptr && lengths[i] >= 0 ? static_cast<std::size_t>(lengths[i])
                                                                        : std::strlen(strings[i]));
    ShimState& s = state();
    std::erase_if(s.shaders, [&](const ShaderUniforms& u) { return u.shader == shader; });
    s.shaders.push_back({shader, takeUniformLocations(source)});
    const GLchar* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
}

void deleteShader(GLuint shader) {
    std::erase_if(state().shaders, [&](const ShaderUniforms& u) { return u.shader == shader; });
    glDeleteShader(shader);
}

void linkProgram(GLuint program) {
    glAttachShader(program, fullScreenVertexShader());
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked == 0) return;

    ProgramUniforms entry{program, {}};
    GLuint attached[8];
    GLsizei count = 0;
    glGetAttachedShaders(program, static_cast<GLsizei>(std::size(attached)), &count, attached);
    for (const ShaderUniforms& shader : state().shaders) {
        if (std::find(attached, attached + count, shader.shader) == attached + count) continue;
        for (const UniformLocation& uniform : shader.uniforms) {
            const auto at = static_cast<std::size_t>(uniform.location);
            if (entry.locations.size() <= at) entry.locations.resize(at + 1, -1);
            entry.locations[at] = glGetUniformLocation(program, uniform.name.c_str());
        }
    }
    std::erase_if(state().programs, [&](const ProgramUniforms& p) { return p.program == program; });
    state().programs.push_back(std::move(entry));
}

void useProgram(GLuint program) {
    ShimState& s = state();
    s.current = -1;
    for (std::size_t i = 0; i < s.programs.size(); ++i)
        if (s.programs[i].program == program) s.current = static_cast<int>(i);
    glUseProgram(program);
}

void deleteProgram(GLuint program) {
    ShimState& s = state();
    s.current = -1;
    std::erase_if(s.programs, [&](const ProgramUniforms& p) { return p.program == program; });
    glDeleteProgram(program);
}

GLint realLocation(GLint hostLocation) {
    const ShimState& s = state();
    if (s.current < 0 || hostLocation < 0) return -1;
    const std::vector<GLint>& locations = s.programs[static_cast<std::size_t>(s.current)].locations;
    return static_cast<std::size_t>(hostLocation) < locations.size()
               ? locations[static_cast<std::size_t>(hostLocation)]
               : -1;
}

void uniform1i(GLint location, GLint v0) {
    glUniform1i(realLocation(location), v0);
}

void uniform2f(GLint location, GLfloat v0, GLfloat v1) {
    glUniform2f(realLocation(location), v0, v1);
}

void getObjectParameterivArb(GLuint object, GLenum pname, GLint* params) {
    const bool shader = glIsShader(object) != GL_FALSE;
    switch (pname) {
        case objectCompileStatusArb: glGetShaderiv(object, GL_COMPILE_STATUS, params); break;
        case objectLinkStatusArb: glGetProgramiv(object, GL_LINK_STATUS, params); break;
        case objectInfoLogLengthArb:
            if (shader) glGetShaderiv(object, GL_INFO_LOG_LENGTH, params);
            else glGetProgramiv(object, GL_INFO_LOG_LENGTH, params);
            break;
        default: *params = 0; break;
    }
}

void getInfoLogArb(GLuint object, GLsizei maxLength, GLsizei* length, GLchar* infoLog) {
    if (glIsShader(object) != GL_FALSE) glGetShaderInfoLog(object, maxLength, length, infoLog);
    else glGetProgramInfoLog(object, maxLength, length, infoLog);
}

void bindFramebuffer(GLenum target, GLuint framebuffer) {
    state().boundFramebuffer = framebuffer;
    glBindFramebuffer(target, framebuffer);
}

void deleteFramebuffers(GLsizei n, const GLuint* framebuffers) {
    ShimState& s = state();
    for (GLsizei i = 0; i < n; ++i) {
        std::erase_if(s.framebuffers,
                      [&](const FramebufferTextures& f) { return f.framebuffer == framebuffers[i]; });
        if (s.boundFramebuffer == framebuffers[i]) s.boundFramebuffer = 0;
    }
    glDeleteFramebuffers(n, framebuffers);
}

void framebufferTexture2D(GLenum target, GLenum attachment, GLenum textarget, GLuint texture, GLint level) {
    ShimState& s = state();
    const int slot = static_cast<int>(attachment) - GL_COLOR_ATTACHMENT0;
    if (s.boundFramebuffer != 0 && slot >= 0 && slot < colourAttachments) {
        FramebufferTextures* f = texturesOf(s.boundFramebuffer);
        if (f == nullptr)
            f = &s.framebuffers.emplace_back(FramebufferTextures{s.boundFramebuffer, {}, 0, true});
        f->textures[slot] = texture;
        f->atZero = 0;
        f->othersAttached = true;
    }
    glFramebufferTexture2D(target, attachment, textarget, texture, level);
}

// The draw buffer's texture goes to attachment 0, alone: a fragment output at location 0 reaches
// only draw buffer 0 in ES, and WebGL2 refuses to draw while a texture the program samples is
// attached anywhere, at an attachment that is not drawn to included.
void drawBuffer(GLenum buffer) {
    ShimState& s = state();
    FramebufferTextures* f = s.boundFramebuffer != 0 ? texturesOf(s.boundFramebuffer) : nullptr;
    if (f != nullptr) {
        const int slot = static_cast<int>(buffer) - GL_COLOR_ATTACHMENT0;
        assert(slot >= 0 && slot < colourAttachments);
        if (f->othersAttached) {
            for (int i = 1; i < colourAttachments; ++i)
                if (f->textures[i] != 0)
                    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_TEXTURE_2D, 0, 0);
            f->othersAttached = false;
        }
        if (f->atZero != slot) {
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, f->textures[slot], 0);
            f->atZero = slot;
        }
        buffer = GL_COLOR_ATTACHMENT0;
    }
    glDrawBuffers(1, &buffer);
}

// --- the table -------------------------------------------------------------------------------

struct NamedEntryPoint {
    const char* name;
    GlProc function;
};

template <typename Function>
constexpr NamedEntryPoint named(const char* name, Function* function) {
    return {name, reinterpret_cast<GlProc>(function)};
}

const NamedEntryPoint entryPoints[] = {
    // stand-ins
    named("glRects", rects),
    named("glShaderSource", shaderSource),
    named("glDeleteShader", deleteShader),
    named("glLinkProgram", linkProgram),
    named("glUseProgram", useProgram),
    named("glDeleteProgram", deleteProgram),
    named("glUniform1i", uniform1i),
    named("glUniform2f", uniform2f),
    named("glGetObjectParameterivARB", getObjectParameterivArb),
    named("glGetInfoLogARB", getInfoLogArb),
    named("glBindFramebuffer", bindFramebuffer),
    named("glDeleteFramebuffers", deleteFramebuffers),
    named("glFramebufferTexture2D", framebufferTexture2D),
    named("glDrawBuffer", drawBuffer),
    // WebGL2's own
    named("glGenTextures", glGenTextures),
    named("glDeleteTextures", glDeleteTextures),
    named("glBindTexture", glBindTexture),
    named("glTexParameteri", glTexParameteri),
    named("glTexImage2D", glTexImage2D),
    named("glGetString", glGetString),
    named("glGenFramebuffers", glGenFramebuffers),
    named("glCreateProgram", glCreateProgram),
    named("glCreateShader", glCreateShader),
    named("glCompileShader", glCompileShader),
    named("glAttachShader", glAttachShader),
    named("glActiveTexture", glActiveTexture),
    named("glGetIntegerv", glGetIntegerv),
    named("glGetError", glGetError),
    named("glViewport", glViewport),
    named("glFinish", glFinish),
};

}  // namespace

GlProc entryPoint(const char* name) {
    for (const NamedEntryPoint& e : entryPoints)
        if (std::strcmp(e.name, name) == 0) return e.function;
    return nullptr;
}

}  // namespace quarvel::platform::webgl
