// The GLSL ES rewrite: what it changes on small sources, what it refuses, and the real shader
// files in their browser form, their uniform locations taken as the web backend takes them, compiled
// and linked with the full-screen vertex stage by glslang.
#include "glsl_es/glsl_es.h"

#include "platform/web/uniform_locations.h"
#include "shaders/shader_interface.h"
#include "shaders/shader_sources.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel {
namespace {

const std::string esPreamble =
    "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n#line 2\n";

TEST(GlslEs, RewritesOnlyTheVersionAndUniformReadingGlobals) {
    const struct {
        const char* what;
        const char* source;
        std::string expected;  // after the preamble
    } cases[] = {
        {"globals reading a uniform, directly or through another, move to main's brace line in order",
         "#version 430\nlayout(location = 0) uniform int t;\nfloat time = float(t) * 0.001; // s\n"
         "float twice = 2.0 * time;\nfloat qt = 0.0;\nconst float k = 1.0;\nvoid main()\n{\n    qt = "
         "twice;\n}\n",
         "layout(location = 0) uniform int t;\nfloat time; // s\nfloat twice;\nfloat qt = 0.0;\nconst float "
         "k = 1.0;\nvoid "
         "main()\n"
         "{ time = float(t) * 0.001; twice = 2.0 * time;\n    qt = twice;\n}\n"},
        {"a swizzle of a uniform reads it; a longer name, a comment or a function body does not",
         "#version 430\nlayout(location = 3) uniform vec2 resolution;\nfloat resolutionScale = 2.0;\n"
         "// float c = resolution.x;\nfloat aspect = resolution.x / resolution.y;\n"
         "float f() { float r = resolution.x; return r; }\nvoid main() {}\n",
         "layout(location = 3) uniform vec2 resolution;\nfloat resolutionScale = 2.0;\n// float c = "
         "resolution.x;\nfloat aspect;\n"
         "float f() { float r = resolution.x; return r; }\nvoid main() { aspect = resolution.x / "
         "resolution.y;}\n"},
        {"preprocessor lines and block comments pass through",
         "#version 430\n/* layout(location = 9) uniform int x; */\nlayout(location = 0) uniform int T;\n"
         "#include \"noise.glsl\"\nvoid main() {}\n",
         "/* layout(location = 9) uniform int x; */\nlayout(location = 0) uniform int T;\n#include "
         "\"noise.glsl\"\nvoid main() {}\n"},
    };
    for (const auto& c : cases) {
        const GlslEsResult es = translateToGlslEs(c.source);
        ASSERT_TRUE(es.status.ok) << c.what << ": " << es.status.message;
        EXPECT_EQ(es.text, esPreamble + c.expected) << c.what;
    }
}

TEST(GlslEs, RefusesWhatItCannotCarryOverWithTheLine) {
    const struct {
        const char* source;
        const char* message;
    } cases[] = {
        {"#version 330\nlayout(location = 0) uniform int t;\n",
         "line 1: the source must begin with \"#version 430\""},
        {"#version 430\nlayout(location = 0) uniform int t;\nlayout(binding = 1) uniform sampler2D s;\n",
         "line 3: a uniform with a qualifier other than layout(location = N)"},
        {"#version 430\nlayout(location = 0) uniform int t;\nfloat a = 1.0, b = float(t);\nvoid main() {}\n",
         "line 3: a global that reads a uniform must be declared as 'TYPE NAME = VALUE;'"},
        {"#version 430\nlayout(location = 0) uniform int t;\nfloat a = float(t);\n",
         "globals read uniforms, but there is no main to assign them in"},
        {"#version 430\nlayout(location = 0) uniform int t;\n/* open\nvoid main() {}\n",
         "line 3: a comment that is never closed"},
        {"#version 430\nlayout(location = 0) uniform int t;\nvoid main() {\n",
         "the source ends inside a statement"},
        {"#version 430\nout vec4 o;\nvoid main() {}\n", "the source declares no uniforms"},
    };
    for (const auto& c : cases) {
        const GlslEsResult es = translateToGlslEs(c.source);
        EXPECT_FALSE(es.status.ok) << c.source;
        EXPECT_NE(es.status.message.find(c.message), std::string::npos)
            << c.source << "\ngave: " << es.status.message;
    }
}

struct Compiled {
    int status = -1;
    std::string log;
};

// Writes each source to a file of the given name and has glslang compile them, and link them when
// there are several.
Compiled glslang(const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string dir = testing::TempDir();
    std::string command = std::string(QUARVEL_GLSLANG_VALIDATOR) + (files.size() > 1 ? " -l" : "");
    for (const auto& [name, text] : files) {
        std::ofstream(dir + name) << text;
        command += " " + dir + name;
    }
    const std::string logFile = dir + "glslang.log";
    Compiled compiled;
    compiled.status = std::system((command + " > " + logFile + " 2>&1").c_str());
    std::ifstream log(logFile);
    compiled.log.assign(std::istreambuf_iterator<char>(log), {});
    return compiled;
}

// The source as WebGL2 gets it from the web backend's glShaderSource, and the uniforms' locations.
struct AsCompiled {
    std::string text;
    std::vector<std::pair<std::string, int>> uniforms;
};

AsCompiled asCompiled(std::string text) {
    AsCompiled compiled;
    for (const auto& u : platform::webgl::takeUniformLocations(text))
        compiled.uniforms.emplace_back(u.name, u.location);
    compiled.text = std::move(text);
    return compiled;
}

// The browser's form of each program compiles and links, and its uniforms land at the locations the
// host binds.
TEST(GlslEs, TheShowsProgramsCompileAndLinkAsGlslEs300WithTheHostsLocations) {
    const auto located = [](const auto& uniforms) {
        std::vector<std::pair<std::string, int>> list;
        for (const shaders::Uniform& u : uniforms) list.emplace_back(u.name, u.location);
        return list;
    };
    const struct {
        const char* name;
        const char* source;
        std::vector<std::pair<std::string, int>> uniforms;
    } programs[] = {
        {"scene", shaders::sceneSource, located(shaders::scene::uniforms)},
        {"feedback", shaders::feedbackSource, located(shaders::feedback::uniforms)},
        {"post", shaders::postSource, located(shaders::post::uniforms)},
    };
    for (const auto& p : programs) {
        const AsCompiled es = asCompiled(p.source);
        const Compiled compiled = glslang(
            {{"fullscreen.vert", shaders::fullScreenVertexSource}, {std::string(p.name) + ".frag", es.text}});
        EXPECT_EQ(compiled.status, 0) << p.name << ":\n" << compiled.log;
        EXPECT_EQ(es.text.rfind("#version 300 es\n", 0), 0u) << p.name;
        EXPECT_EQ(es.uniforms, p.uniforms) << p.name;
    }
}

TEST(GlslEs, CompileLogsGiveTheLinesOfTheDesktopFile) {
    // the mistake is on line 4 of the file; the preamble must not move it
    const GlslEsResult es = translateToGlslEs(
        "#version 430\nlayout(location = 0) uniform int t;\nout vec4 o;\nvoid main() { o = undeclared; }\n");
    ASSERT_TRUE(es.status.ok) << es.status.message;
    const Compiled compiled = glslang({{"broken.frag", asCompiled(es.text).text}});
    EXPECT_NE(compiled.status, 0);
    EXPECT_NE(compiled.log.find("0:4:"), std::string::npos) << compiled.log;
}

}  // namespace
}  // namespace quarvel
