// Any bytes as audio.mp3: the check must neither crash nor read out of bounds, and the file and
// the in-memory forms, which read through different readers, must give the same answer.
#include "platform/common/mp3_check.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/quarvel-fuzz-mp3-" + std::to_string(getpid()) + ".mp3";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    const bool inMemory = quarvel::platform::isCompleteMp3(data, size);
    const bool onDisk = quarvel::platform::isCompleteMp3(std::filesystem::path(path));
    if (inMemory != onDisk) {
        std::fprintf(stderr, "the file says %d, memory says %d\n", onDisk, inMemory);
        std::abort();
    }
    return 0;
}
