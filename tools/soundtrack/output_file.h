// The program's outputs: a file that appears under its name only once complete, and
// the WAV form of the raw render.
#pragma once

#include "base/status.h"
#include "soundtrack/synth.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quarvel {

// written beside its destination under a temporary name and renamed into place on commit; dropped
// before that, it leaves nothing behind
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // creates the temporary file, so an unwritable destination shows before any work is done
    Status open(const std::string& path);
    Status commit(const std::vector<unsigned char>& bytes);

private:
    void discard();

    std::string path_;
    std::string temporaryPath_;
    std::FILE* file_ = nullptr;
};

// 32-bit float WAV: the samples exactly as rendered
std::vector<unsigned char> encodeWav(const StereoBuffer& buffer);

}  // namespace quarvel
