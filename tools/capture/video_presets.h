// The video encodings quarvel-capture offers by name (--quality): the codec, settings and colour
// tags each one hands ffmpeg, how the soundtrack goes in, and which containers can hold them.
#pragma once

#include "base/status.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

enum class VideoQuality {
    share,    // H.264 (AV1 in webm), 4:2:0, BT.709, at the bitrates video sites ask for
    high,     // the same, at a quality that keeps the grain itself, frame by frame
    master,   // lossless RGB, decodes to the very pixels rendered
    preview,  // small and fast, for a quick look
};

struct QualityPreset {
    VideoQuality quality;
    const char* name;
    const char* summary;  // its line in --help
};

inline constexpr QualityPreset qualityPresets[] = {
    {VideoQuality::share, "share",
     "default: H.264 near the sites' bitrate, at most 14 Mbit/s at 1080p60; AV1 in .webm (--codec)"},
    {VideoQuality::high, "high",
     "H.264 (AV1 in .webm) that keeps the grain itself (about 450 Mbit/s at 1080p60)"},
    {VideoQuality::master, "master",
     "lossless RGB (FFV1) in .mkv or .mov, the exact frames (about 870 Mbit/s at 1080p60)"},
    {VideoQuality::preview, "preview",
     "small and fast H.264 (VP9 in .webm), for a quick look (about 5 Mbit/s at 1080p60)"},
};

// The codec of share: H.264 where the container takes it, for every player; AV1 with film-grain
// synthesis in .webm, or on request (--codec), for a fifth of the size. AV1's encoder takes
// pictures of 64x64 or more: a smaller .webm is VP9, for share and for high.
enum class VideoCodec { automatic, h264, av1, vp9 };
inline constexpr int av1SmallestSide = 64;

std::optional<VideoQuality> qualityNamed(std::string_view name);
std::optional<VideoCodec> codecNamed(std::string_view name);
// The codec share is written in, in `container`, when `asked`.
VideoCodec shareCodec(VideoCodec asked, std::string_view container, int width, int height);
const char* qualityName(VideoQuality quality);

// Whether `container` (ffmpeg's format name: mp4, matroska, webm, mov) can hold the preset's
// video in the codec asked; when not, the message says which file types or codecs can.
Status checkQualityFits(VideoQuality quality, VideoCodec codec, std::string_view container, int width,
                        int height);

// True where the container takes the MP3 soundtrack as it is; webm needs it re-encoded (Opus).
bool soundtrackCopied(std::string_view container);

// The video bitrate share aims at for a picture of this size and frame rate, in kbit/s.
int shareBitrateKbps(int width, int height, int fps);

// ffmpeg's output options for the video stream: conversion, codec, its settings and colour tags.
// The frames come bottom row first, as the GL reads them; every filter chain starts with vflip,
// which turns ffmpeg's view of a frame (a negative row step) without copying it.
void appendVideoEncoding(VideoQuality quality, VideoCodec codec, std::string_view container, int width,
                         int height, int fps, std::vector<std::string>& args);

// ffmpeg's output options for the soundtrack: a stream copy, or Opus for webm. A re-encoded
// soundtrack drops its first `trimSeconds`, decoded only so the sound after them is whole.
void appendAudioEncoding(VideoQuality quality, std::string_view container, double trimSeconds,
                         std::vector<std::string>& args);

}  // namespace quarvel
