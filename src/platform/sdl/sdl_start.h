// How every part of the SDL backend starts SDL, without SDL's own signal handlers, and what its
// waits look at.
#pragma once

#include <SDL.h>

namespace quarvel::platform {

// SDL_InitSubSystem, after telling SDL to leave SIGINT and SIGTERM alone (it would turn them
// into quit events that nobody reads) and catching the stop signals for stopSignal() instead.
bool startSdlSubsystems(Uint32 subsystems);

// Whether a wait on the main thread should end as the show would: a stop signal came, or Escape
// was pressed (which escapePressed() still reports afterwards). Takes the window's events in.
bool escapeOrStopDuringWait();

}  // namespace quarvel::platform
