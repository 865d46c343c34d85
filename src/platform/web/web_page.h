// What the browser's entry point needs of the page beyond the platform contract: a frame loop
// driven by the browser, and the page's last word.
#pragma once

namespace quarvel::platform::web {

// Calls `frame(data)` once per animation frame of the page until it returns false; returns at
// once, the frames come after the caller has given the browser its thread back.
using AnimationFrame = bool (*)(void* data);
void runAnimationFrames(AnimationFrame frame, void* data);

// The run is over: leaves fullscreen, takes the canvas away and shows `text`, unless a message
// about a failure is showing already.
void showEnded(const char* text);

// A still frame is drawn; the page's title becomes "rendered" once the browser has shown it.
void markStillRendered();

}  // namespace quarvel::platform::web
