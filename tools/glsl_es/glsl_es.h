// Turns one of the show's desktop GLSL 4.30 fragment sources into GLSL ES 3.00 for WebGL2, so the
// browser build compiles the same files the desktop does.
#pragma once

#include "base/status.h"

#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

struct GlslEsResult {
    Status status;                      // the failure names the line that cannot be carried over
    std::string text;                   // the ES source when ok
    std::vector<std::string> uniforms;  // the uniforms' names, in declaration order
};

// What changes, and nothing else:
// - "#version 430" becomes "#version 300 es" with highp precision for float, int and sampler2D,
//   and a #line directive keeps the line numbers of compile logs those of the file;
// - nothing of "layout(location = N) uniform TYPE NAME;": ES 3.00 has no explicit uniform
//   locations, and the web backend's glShaderSource takes the layout off and keeps the location
//   (src/platform/web/uniform_locations.h); other uniform qualifiers are refused;
// - a global whose initialiser reads a uniform (or such a global) is declared without it, and the
//   assignment moves to the top of main, on the line of its opening brace: ES allows only
//   constant initialisers at global scope.
// Lines such as #include are left for the embedding step.
GlslEsResult translateToGlslEs(std::string_view source);

}  // namespace quarvel
