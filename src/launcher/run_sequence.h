// The whole life of the demo, from the launcher dialog to the last frame.
#pragma once

#include "base/exit_status.h"

namespace quarvel {

// Runs the demo over the platform layer and returns the process's exit status.
int runDemo();

}  // namespace quarvel
