// The devices the headless backend can render on, as EGL lists them (EGL_EXT_device_enumeration):
// the machine's GPUs, and Mesa's software rasteriser, which Mesa offers as a device of its own.
// Without a choice, the first hardware device that gives an OpenGL context draws, else the
// software one; QUARVEL_EGL_DEVICE (an index from the list) chooses for programs without an option.
#pragma once

#include "base/status.h"

#include <string>
#include <string_view>
#include <vector>

namespace quarvel::platform {

struct EglDevice {
    std::string name;  // the DRM node or the driver's own name, where EGL says
    bool software = false;
};

std::vector<EglDevice> listEglDevices();

// The environment variable that chooses the device where nothing else did.
inline constexpr const char* eglDeviceVariable = "QUARVEL_EGL_DEVICE";

// The device the next openSurface renders on: `index`, a number in listEglDevices(), or empty for
// the choice above. A failure says what is wrong and lists the devices there are.
Status chooseEglDevice(std::string_view index);

// Each device on a line of its own: its index, whether hardware or software, and its name.
std::string describeEglDevices(const std::vector<EglDevice>& devices);

}  // namespace quarvel::platform
