// Finds the soundtrack of a video: a named file, the working folder's, or the installed one.
#include "capture/soundtrack_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QUARVEL_SOUNDTRACK_FROM_BIN
#error "QUARVEL_SOUNDTRACK_FROM_BIN: the installed soundtrack's path from the bin folder"
#endif

namespace quarvel {

namespace {

constexpr const char* workingFolderSoundtrack = "audio.mp3";

// empty when `path` is a regular file this process can read; otherwise why not
std::string unreadable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    return "";
}

}  // namespace

SoundtrackChoice chooseSoundtrack(const std::string& given, const std::string& installed) {
    if (!given.empty()) {
        if (const std::string why = unreadable(given); !why.empty())
            return {failure("--audio '" + given + "' cannot be read: " + why), "", ""};
        return {success(), given, "--audio"};
    }
    if (unreadable(workingFolderSoundtrack).empty())
        return {success(), workingFolderSoundtrack, "the working folder's"};
    if (!installed.empty() && unreadable(installed).empty()) return {success(), installed, "installed"};
    return {success(), "", ""};
}

std::string installedSoundtrack() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "";
    const std::string program(self, static_cast<std::size_t>(length));
    const std::size_t slash = program.rfind('/');
    if (slash == std::string::npos) return "";
    const std::string installed = program.substr(0, slash + 1) + QUARVEL_SOUNDTRACK_FROM_BIN;
    // without the bin/.. in it, for the user's eyes
    char* resolved = realpath(installed.c_str(), nullptr);
    if (resolved == nullptr) return installed;
    std::string path(resolved);
    std::free(resolved);
    return path;
}

std::string describeSoundtrack(const SoundtrackChoice& choice) {
    if (choice.path.empty()) return "Soundtrack here: none found, so a video made here has no sound.";
    return "Soundtrack here: " + choice.path + " (" + choice.origin + ")";
}

}  // namespace quarvel
