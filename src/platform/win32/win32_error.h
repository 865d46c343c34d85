// What the win32 backend says when a Windows call fails: the caller's words, the error code and
// the system's text for it.
#pragma once

#include <string>

namespace quarvel::platform {

// "<what> (error <code>: <system text>)" for the calling thread's last error.
std::string lastErrorText(const char* what);

}  // namespace quarvel::platform
