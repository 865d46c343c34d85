// Which soundtrack a video takes: the file --audio names; else audio.mp3 in the working folder,
// as the demo reads it; else the one installed with the program.
#pragma once

#include "base/status.h"

#include <string>

namespace quarvel {

struct SoundtrackChoice {
    Status status;     // failed: --audio names a file that cannot be read; the message says why
    std::string path;  // empty: none was found, and the video is silent
    std::string
        origin;  // where `path` came from, for the user: "--audio", "the working folder's", "installed"
};

// `given` is --audio's file (empty when not given); `installed` the installed soundtrack's path
// (empty when the program is not installed).
SoundtrackChoice chooseSoundtrack(const std::string& given, const std::string& installed);

// The installed soundtrack, found from this program's own file: share/quarvel/audio.mp3 beside
// its bin folder. Empty when it cannot be told.
std::string installedSoundtrack();

// One line for --help: the file a video made here would take its sound from.
std::string describeSoundtrack(const SoundtrackChoice& choice);

}  // namespace quarvel
