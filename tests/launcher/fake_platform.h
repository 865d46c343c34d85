// A scripted platform for the run-sequence tests: what a real backend cannot show on demand
// (a timer about to wrap, Escape before the first frame, a driver that is too old).
// GL entry points are no-ops that record what the run asks of them.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvel::fake {

struct PlatformScript {
    platform::SurfaceStatus surfaceStatus = platform::SurfaceStatus::ready;
    std::string surfaceMessage;
    std::string glVersion = "4.5 (Compatibility Profile) Fake";
    const char* missingEntryPoint = nullptr;  // glProcAddress answers null for this name
    int failingShader = -1;                   // 0 scene, 1 feedback, 2 post: compile status 0
    std::string programLog = "0:3(1): error: the fake says no";
    // timer readings, one per call; the default advances 7 ms a call
    std::function<uint32_t(int call)> timer = [](int call) {
        return 1000u + 7u * static_cast<uint32_t>(call);
    };
    // Escape state, asked once per frame, with the index of the frame just presented
    std::function<bool(int frame)> escape = [](int) { return false; };
    // the stop signal that has come by the time frame `frame` was presented (-1: before any frame)
    std::function<int(int frame)> stopSignal = [](int) { return 0; };
    // the media service: which references it hands out and how a render ends
    bool mediaGraphAvailable = true;
    bool mediaControlAvailable = true;
    bool mediaSeekingAvailable = true;
    platform::MediaRenderResult mediaRender = platform::MediaRenderResult::complete;
    // the launcher dialog: whether it can be shown, the display's modes, and what the viewer does
    // once it is open (pick an item, set the Fullscreen box, then commands until the dialog ends)
    bool dialogAvailable = true;
    std::vector<platform::DisplayMode> displayModes = {{1920, 1080, 32}};
    int32_t chooseItem = -1;  // -1 keeps the preselection
    int fullscreenBox = -1;   // 0 or 1 sets the box; -1 leaves it
    std::vector<int32_t> dialogCommands = {platform::okId};
};

struct PlatformRecord {
    std::vector<std::string> calls;     // platform operations and draws, in order
    std::vector<int32_t> frameClocks;   // t of each frame, as the scene pass received it
    std::vector<std::string> messages;  // texts of message boxes
    int32_t surfaceWidth = 0;
    int32_t surfaceHeight = 0;
    bool surfaceWindowed = false;
    int swaps = 0;
    std::vector<std::string> mediaFiles;   // names given to renderMediaFile
    int mediaReferences = 0;               // references to the media graph held now
    int mediaCallsWithoutReference = 0;    // calls that passed a missing reference
    std::vector<std::string> dialogItems;  // the Resolution list as the dialog filled it
};

// Resets the fake to `script` and clears the record.
void reset(const PlatformScript& script = {});
const PlatformRecord& record();

}  // namespace quarvel::fake
