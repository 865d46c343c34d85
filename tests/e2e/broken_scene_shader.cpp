// The shader sources of quarvel-broken-shader, the demo built for the test of a shader that does
// not compile. Defining every symbol of the embedded sources here keeps the linker from taking
// the real ones out of quarvel_core, so the shipped demo has no way to load another source.
#include "shaders/shader_sources.h"

namespace quarvel::shaders {

const GlslTarget sourcesTarget{false, 4, 3};

const char* const sceneSource =
    "#version 430\n"
    "layout(location = 0) out vec4 oColor;\n"
    "void main() { oColor = vec4(notDeclaredAnywhere); }\n";
const char* const feedbackSource = sceneSource;
const char* const postSource = sceneSource;
const char* const noiseSource = "";
const char* const fullScreenVertexSource = "";

}  // namespace quarvel::shaders
