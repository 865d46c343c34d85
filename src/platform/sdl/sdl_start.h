// How every part of the SDL backend starts SDL: without SDL's own signal handlers.
#pragma once

#include <SDL.h>

namespace quarvel::platform {

// SDL_InitSubSystem, after telling SDL to leave SIGINT and SIGTERM alone (it would turn them
// into quit events that nobody reads) and catching the stop signals for stopSignal() instead.
bool startSdlSubsystems(Uint32 subsystems);

}  // namespace quarvel::platform
