// The capture tests' use of ffmpeg and ffprobe: encode frames through the video sink as the tool
// does, read what the file declares, and decode it back to RGB the way it declares.
#pragma once

#include "capture/video_presets.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::test {

// One frame: width x height RGB, top row first, as the PNG frames hold it.
using RgbFrame = std::vector<unsigned char>;

// Writes `frames` to `path` through a VideoSink running the real ffmpeg, without sound. False
// (with a test failure) when the sink or ffmpeg fails.
bool encodeFrames(const std::vector<RgbFrame>& frames, int32_t width, int32_t height, int32_t fps,
                  VideoQuality quality, const std::string& container, const std::string& path);

// One field of the first video stream, as ffprobe names it (color_space, color_range, pix_fmt...).
std::string probeVideo(const std::string& path, const std::string& field);

// Every frame of the file as RGB, through the colour matrix and range the file declares (chroma
// interpolated, as players do); an RGB file as it is. Empty when ffmpeg fails.
std::vector<unsigned char> decodeToRgb(const std::string& path);

}  // namespace quarvel::test
