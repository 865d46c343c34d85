// The soundtrack: "audio.mp3" from the working folder, prepared before the demo clock starts
// and played through the platform's media service.
#pragma once

#include "platform/platform.h"

#include <string>

namespace quarvel {

inline constexpr const char* soundtrackFileName = "audio.mp3";

// Holds the two references that keep the media graph alive for the run. Construction prepares
// the file and writes one status line on stdout; the owner then calls run(), fixes the demo
// clock's origin, and calls release() when the run ends.
struct SoundtrackPlayer {
    platform::MediaControl mediaControl;
    platform::MediaSeeking mediaSeeking;

    explicit SoundtrackPlayer(std::string fileName);
    ~SoundtrackPlayer();
    SoundtrackPlayer(const SoundtrackPlayer&) = delete;
    SoundtrackPlayer& operator=(const SoundtrackPlayer&) = delete;

    // Starts playback at the beginning of the file; after a failed render nothing plays.
    void run();

    // Gives up mediaControl, then mediaSeeking, without stopping first: the graph ends playback
    // when its last reference goes. Further calls do nothing.
    void release();
};

}  // namespace quarvel
