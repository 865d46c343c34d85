// Soundtrack files for the media-service tests of every backend: reading and writing them, and
// the broken ones each backend must refuse, made from a good test sweep.
#pragma once

#include "audio/soundtrack_player.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace quarvel::test {

namespace fs = std::filesystem;

inline std::vector<char> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Where the last frame of the test sweep starts: at 64 kbit/s and 44.1 kHz a frame is 208 or
// 209 bytes long.
inline std::size_t lastFrameOffset(const std::vector<char>& sweep) {
    std::size_t offset = sweep.size() - 208;
    if (static_cast<uint8_t>(sweep[offset]) != 0xFF) offset = sweep.size() - 209;
    EXPECT_EQ(static_cast<uint8_t>(sweep[offset]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(sweep[offset + 1]) & 0xE0, 0xE0);
    return offset;
}

struct BadSoundtrack {
    const char* name;
    std::function<void()> make;  // writes the soundtrack file into the working folder
};

// Files no backend may report as rendered. Decoders would play some of them as far as they go,
// or skip their damage; the player must still give the failure line.
inline std::vector<BadSoundtrack> badSoundtracks(const std::vector<char>& sweep) {
    const std::size_t lastFrame = lastFrameOffset(sweep);
    return {
        {"missing", [] {}},
        {"empty", [] { writeFile(soundtrackFileName, {}); }},
        {"random bytes",
         [] {
             std::mt19937 random(4);
             std::vector<char> bytes(64 * 1024);
             for (char& b : bytes) b = static_cast<char>(random());
             writeFile(soundtrackFileName, bytes);
         }},
        {"cut inside a frame, where the encoder's tag counts more frames",
         [sweep] {
             writeFile(soundtrackFileName,
                       std::vector<char>(sweep.begin(), sweep.begin() + sweep.size() * 3 / 5));
         }},
        {"cut inside its last frame: every frame header is there, so only the stream's length shows it",
         [sweep, lastFrame] {
             writeFile(soundtrackFileName,
                       std::vector<char>(sweep.begin(),
                                         sweep.begin() + static_cast<std::ptrdiff_t>(lastFrame) + 100));
         }},
        {"cut at a frame boundary: one frame fewer than the encoder's tag counts",
         [sweep, lastFrame] {
             writeFile(
                 soundtrackFileName,
                 std::vector<char>(sweep.begin(), sweep.begin() + static_cast<std::ptrdiff_t>(lastFrame)));
         }},
        {"junk between frames, which the decoder would skip",
         [sweep, lastFrame] {
             std::vector<char> bytes = sweep;
             bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(lastFrame), 300, '\0');
             writeFile(soundtrackFileName, bytes);
         }},
        {"a directory", [] { fs::create_directory(soundtrackFileName); }},
    };
}

}  // namespace quarvel::test
