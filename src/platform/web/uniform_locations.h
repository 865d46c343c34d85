// Explicit uniform locations for GLSL ES 3.00, which has none: the web backend's stand-in for
// glShaderSource takes each "layout(location = N) " off a uniform's declaration before WebGL2
// compiles it, and maps the host's location N to the name's real one after linking.
#pragma once

#include <string>
#include <vector>

namespace quarvel::platform::webgl {

struct UniformLocation {
    std::string name;
    int location = -1;
};

// Takes the layout off each line of `source` that reads "layout(location = N) uniform TYPE NAME;"
// (after indentation), and gives those uniforms with their locations. Other lines are kept as
// they are, and so is the number of lines, for compile logs.
std::vector<UniformLocation> takeUniformLocations(std::string& source);

}  // namespace quarvel::platform::webgl
