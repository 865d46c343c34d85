// Writes frames to a video through the ffmpeg program: raw RGBA frames on a pipe, bottom row first
// as the GL reads them, the soundtrack muxed in. ffmpeg writes to a temporary name that becomes
// the real one only when it succeeds.
#pragma once

#include "capture/frame_sink.h"
#include "capture/video_presets.h"

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quarvel {

struct VideoSettings {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 60;
    std::string container;         // ffmpeg's format name: mp4, matroska, webm, mov
    std::string path;              // the file ffmpeg writes
    std::string audioPath;         // the soundtrack; empty for none
    double audioStartSeconds = 0;  // the soundtrack time under the first frame written
    double durationSeconds = 0;    // how long the frames written last
    VideoQuality quality = VideoQuality::share;
    VideoCodec codec = VideoCodec::automatic;
};

// How much soundtrack goes in ahead of video time 0 and is then hidden (an edit list in mp4 and
// mov, a trim before the Opus encoder; Matroska has neither, so there the picture starts that much
// after the sound): an MP3 frame decodes whole only after the frames whose bytes and transform
// overlap it shares, so the first sound under the picture must not be the first decoded.
inline constexpr double mp3PrerollSeconds = 0.1;

// The arguments after the program name, for frames arriving on standard input.
std::vector<std::string> ffmpegArguments(const VideoSettings& settings);

class VideoSink : public FrameSink {
public:
    // `stop` (may be null) is raised by the signal handler; a write or wait it interrupts gives up.
    VideoSink(VideoSettings settings, std::string finalPath, const volatile std::sig_atomic_t* stop);
    ~VideoSink() override;
    VideoSink(const VideoSink&) = delete;
    VideoSink& operator=(const VideoSink&) = delete;

    // Starts `ffmpegProgram` (a path, or a name looked up on PATH) reading from a pipe.
    Status start(const std::string& ffmpegProgram);
    Status write(int32_t frame, const unsigned char* pixels) override;
    Status finish() override;
    void abandon() override;

private:
    Status endedEarly();
    bool stopped() const;

    VideoSettings settings_;
    std::string finalPath_;
    const volatile std::sig_atomic_t* stop_;
    pid_t ffmpeg_ = -1;
    int pipe_ = -1;
};

}  // namespace quarvel
