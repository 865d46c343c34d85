// The GL entry points the web backend hands out: WebGL2's own, and small stand-ins for the
// desktop calls WebGL2 lacks, so the renderer above runs unchanged.
#pragma once

#include "platform/platform.h"

namespace quarvel::platform::webgl {

// The entry point `name` on the current WebGL2 context: the real one where WebGL2 has it, a
// stand-in where the demo draws with a desktop call (see webgl_shims.cpp), nullptr otherwise.
GlProc entryPoint(const char* name);

}  // namespace quarvel::platform::webgl
