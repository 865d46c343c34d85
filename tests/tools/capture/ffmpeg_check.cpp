// ffmpeg and ffprobe run through popen; the paths are the tests' own temporary names.
#include "ffmpeg_check.h"

#include "capture/video_sink.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace quarvel::test {

namespace {

std::string commandOutput(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    if (pclose(pipe) != 0) output.clear();
    return output;
}

}  // namespace

bool encodeFrames(const std::vector<RgbFrame>& frames, int32_t width, int32_t height, int32_t fps,
                  VideoQuality quality, const std::string& container, const std::string& path) {
    VideoSettings settings;
    settings.width = width;
    settings.height = height;
    settings.fps = fps;
    settings.container = container;
    settings.path = path + ".part";
    settings.durationSeconds = static_cast<double>(frames.size()) / fps;
    settings.quality = quality;
    VideoSink sink(settings, path, nullptr);
    const std::string ffmpeg = findProgram("ffmpeg");
    EXPECT_FALSE(ffmpeg.empty()) << "no ffmpeg on PATH";
    Status status = sink.start(ffmpeg);
    // the sink takes frames as the GL reads them: RGBA, bottom row first
    std::vector<unsigned char> bottomUp(std::size_t(width) * height * 4);
    for (std::size_t f = 0; status.ok && f < frames.size(); ++f) {
        for (int32_t y = 0; y < height; ++y) {
            const unsigned char* from = frames[f].data() + std::size_t(y) * width * 3;
            unsigned char* to = bottomUp.data() + std::size_t(height - 1 - y) * width * 4;
            for (int32_t x = 0; x < width; ++x, from += 3, to += 4) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
                to[3] = 255;
            }
        }
        status = sink.write(static_cast<int32_t>(f), bottomUp.data());
    }
    if (status.ok) status = sink.finish();
    EXPECT_TRUE(status.ok) << path << ": " << status.message;
    return status.ok;
}

std::string probeVideo(const std::string& path, const std::string& field) {
    std::string value = commandOutput("ffprobe -v error -select_streams v:0 -show_entries stream=" + field +
                                      " -of csv=p=0 '" + path + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == ',')) value.pop_back();
    return value;
}

std::vector<unsigned char> decodeToRgb(const std::string& path) {
    const std::string matrix = probeVideo(path, "color_space");
    std::string filter = "format=rgb24";
    if (matrix != "gbr")
        filter = "scale=in_color_matrix=" + matrix + ":in_range=" + probeVideo(path, "color_range") +
                 ":flags=bicubic+accurate_rnd+full_chroma_int," + filter;
    const std::string decoded =
        commandOutput("ffmpeg -v error -i '" + path + "' -vf " + filter + " -f rawvideo pipe:1");
    return {decoded.begin(), decoded.end()};
}

}  // namespace quarvel::test
