// A fast check that a file is a whole MPEG audio layer III stream, done before it is handed to
// the decoder, which would play a cut or damaged file as far as it goes without saying so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace quarvel::platform {

// True when the file is a regular, readable file holding, after any ID3v2 tags, an unbroken run
// of layer III frames of one MPEG version and sample rate, with at least one frame of sound, that
// ends exactly where the file (or its closing APEv2 and ID3v1 tags) ends; and, where the first
// frame carries an encoder's Xing/Info tag with a frame count, the run has that many frames
// after it. A stream cut at a frame boundary is caught only by that count.
// It reads frame headers only, so its cost is the time to read the file once, not to decode it.
bool isCompleteMp3(const std::filesystem::path& path);

// The same check of a file already in memory (a browser's fetch).
bool isCompleteMp3(const uint8_t* data, std::size_t size);

}  // namespace quarvel::platform
