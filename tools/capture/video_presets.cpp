// The --quality presets as ffmpeg options. The figures behind the settings (error against the PNG
// frames, encoding time) come from capture_cli_test.sh's fidelity case and quarvel-bench-capture.
#include "capture/video_presets.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>

namespace quarvel {

namespace {

void append(std::vector<std::string>& args, std::initializer_list<const char*> more) {
    args.insert(args.end(), more.begin(), more.end());
}

// RGB to limited-range BT.709 4:2:0 in the conversion itself, and the same said in the stream's
// tags: players take untagged HD as BT.709, while ffmpeg converts with BT.601 unless told.
void appendBt709Yuv420(std::vector<std::string>& args) {
    append(args, {"-vf",
                  "vflip,scale=in_range=full:out_range=limited:out_color_matrix=bt709:"
                  "flags=bicubic+accurate_rnd,format=yuv420p"});
    append(args, {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"});
    append(args, {"-color_range", "tv"});
}

// What YouTube's help asks of SDR uploads ("Recommended upload encoding settings"), in Mbit/s,
// at 24 to 30 and at 48 to 60 frames a second; Vimeo's figures are close to these. A picture
// takes the row of the smallest height that holds it, larger ones this last row scaled by area.
struct SiteBitrate {
    int height;
    double at30, at60;
};
constexpr SiteBitrate siteBitrates[] = {
    {360, 1, 1.5}, {480, 2.5, 4}, {720, 5, 7.5}, {1080, 8, 12}, {1440, 16, 24}, {2160, 40, 60},
};

// share's settings, tuned on one-second captures of each part of the show
constexpr const char* h264ShareCrf = "18";
constexpr const char* av1ShareCrf = "46";
constexpr const char* av1SharePreset = "8";
// without the temporal filter, which smooths the picture that stays once the grain is out
constexpr const char* av1ShareParams = "film-grain=50:film-grain-denoise=1:enable-tf=0";

}  // namespace

int shareBitrateKbps(int width, int height, int fps) {
    const SiteBitrate* row = &siteBitrates[std::size(siteBitrates) - 1];
    for (const SiteBitrate& r : siteBitrates) {
        if (r.height >= height && r.height * 16 / 9 >= width) {
            row = &r;
            break;
        }
    }
    const double area = double(width) * height / (double(row->height) * row->height * 16 / 9);
    const double scale = row == &siteBitrates[std::size(siteBitrates) - 1] ? std::max(1.0, area) : 1.0;
    // the same bits a frame below 30 and above 60 frames a second, a straight line between
    double mbits = fps <= 30   ? row->at30 * fps / 30
                   : fps <= 60 ? row->at30 + (row->at60 - row->at30) * (fps - 30) / 30
                               : row->at60 * fps / 60;
    return std::max(100, static_cast<int>(mbits * scale * 1000 + 0.5));
}

std::optional<VideoQuality> qualityNamed(std::string_view name) {
    for (const QualityPreset& preset : qualityPresets) {
        if (name == preset.name) return preset.quality;
    }
    return std::nullopt;
}

const char* qualityName(VideoQuality quality) {
    for (const QualityPreset& preset : qualityPresets) {
        if (preset.quality == quality) return preset.name;
    }
    return "";
}

std::optional<VideoCodec> codecNamed(std::string_view name) {
    if (name == "h264") return VideoCodec::h264;
    if (name == "av1") return VideoCodec::av1;
    return std::nullopt;
}

VideoCodec shareCodec(VideoCodec asked, std::string_view container, int width, int height) {
    if (asked != VideoCodec::automatic) return asked;
    if (container != "webm") return VideoCodec::h264;
    return width >= av1SmallestSide && height >= av1SmallestSide ? VideoCodec::av1 : VideoCodec::vp9;
}

Status checkQualityFits(VideoQuality quality, VideoCodec codec, std::string_view container, int width,
                        int height) {
    if (codec != VideoCodec::automatic && quality != VideoQuality::share)
        return failure("--codec chooses share's codec; high, master and preview have their own");
    // FFV1 has a codec tag in Matroska and QuickTime only
    if (quality == VideoQuality::master && container != "matroska" && container != "mov")
        return failure("--quality master writes lossless FFV1, which only a .mkv or .mov file can hold");
    if (codec == VideoCodec::h264 && container == "webm")
        return failure("a .webm file holds VP9 or AV1, not H.264");
    // QuickTime players know no AV1
    if (codec == VideoCodec::av1 && container == "mov")
        return failure("--codec av1 writes .mp4, .mkv or .webm");
    if (codec == VideoCodec::av1 && (width < av1SmallestSide || height < av1SmallestSide))
        return failure("--codec av1 needs a picture of at least " + std::to_string(av1SmallestSide) + "x" +
                       std::to_string(av1SmallestSide));
    return success();
}

bool soundtrackCopied(std::string_view container) {
    return container != "webm";
}

void appendVideoEncoding(VideoQuality quality, VideoCodec codec, std::string_view container, int width,
                         int height, int fps, std::vector<std::string>& args) {
    if (quality == VideoQuality::master) {
        // RGBA to BGR0 only reorders bytes and drops the alpha the window never shows, so the file
        // holds the rendered RGB exactly; the tags say so (RGB, sRGB curve)
        append(args, {"-vf", "vflip", "-pix_fmt", "bgr0", "-c:v", "ffv1", "-level", "3", "-g", "1"});
        append(args, {"-slices", "4", "-slicecrc", "1", "-colorspace", "rgb", "-color_primaries", "bt709"});
        append(args, {"-color_trc", "iec61966-2-1", "-color_range", "pc"});
        return;
    }
    appendBt709Yuv420(args);
    const VideoCodec codecUsed = shareCodec(codec, container, width, height);
    if (quality == VideoQuality::share && codecUsed == VideoCodec::av1) {
        // The grain is fresh noise in every frame, which no encoder keeps in few bits. SVT-AV1
        // takes it out before encoding (the denoising) and describes it, strength and texture,
        // for the player to draw again: a sharper picture, the grain as strong and as fine, for
        // 0.2 to 1.9 Mbit/s at 1280x720, 30 fps, where the sites ask 5. A constant quality, for
        // SVT-AV1's bitrate control misjudges a short capture: asked for 1.75 Mbit/s, it gave a
        // second of the middle part 0.54, and a picture 1.7 levels off through the blur.
        append(args, {"-c:v", "libsvtav1", "-preset", av1SharePreset, "-crf", av1ShareCrf});
        append(args, {"-svtav1-params", av1ShareParams});
        return;
    }
    if (quality == VideoQuality::share) {
        // a constant quality, which gives the grainy stretches the bits they need, under a ceiling
        // a fifth over the sites' bitrate with 0.4 s of buffer: any second within 1.6 times it
        const int kbps = shareBitrateKbps(width, height, fps);
        const std::string peak = std::to_string(kbps * 6 / 5) + "k",
                          buffer = std::to_string(kbps * 2 / 5) + "k";
        if (codecUsed == VideoCodec::vp9) {
            append(args, {"-c:v", "libvpx-vp9", "-deadline", "good", "-cpu-used", "4", "-row-mt", "1"});
            args.insert(args.end(), {"-b:v", peak});
        } else {
            // the grain tuning keeps the grain where a plain encoding smooths it away; of x264's
            // presets, medium keeps most of it for its bits. Its psy-trellis raised from 0.25 to
            // 1 keeps the grain's texture in the glitch period (69% of it, where 0.25 kept 63%).
            append(args, {"-c:v", "libx264", "-preset", "medium", "-tune", "grain", "-crf", h264ShareCrf});
            append(args, {"-psy-rd", "1.0:1.0"});
        }
        args.insert(args.end(), {"-maxrate", peak, "-bufsize", buffer});
        return;
    }
    const bool high = quality == VideoQuality::high;
    if (container == "webm" && high && width >= av1SmallestSide && height >= av1SmallestSide) {
        // AV1 keeps the grain itself for a quarter of VP9's time: at 1280x720, 30 fps, SVT-AV1
        // at preset 12, crf 4, takes 35 to 65 ms of CPU a frame where VP9's good mode at crf 8
        // took 190 (quarvel-bench-capture --stretches), and comes closer to the frames: 1.0 to 1.2
        // levels off against 1.2 to 1.4, with 95% of the grain, at 90 Mbit/s against 80. VP9's
        // realtime mode is as fast, but moves flat colour by 7 levels.
        append(args, {"-c:v", "libsvtav1", "-preset", "12", "-crf", "4"});
        return;
    }
    if (container == "webm") {
        // the "good" mode: the faster realtime mode lets flat colour drift by 5 levels from frame
        // to frame at high's crf, and by 30 at preview's
        append(args,
               {"-c:v", "libvpx-vp9", "-b:v", "0", "-deadline", "good", "-cpu-used", "4", "-row-mt", "1"});
        append(args, {"-crf", high ? "8" : "40"});
        return;
    }
    if (high) {
        // grain is noise that no motion search predicts: ultrafast loses nothing measurable to the
        // slower presets, while crf 12 and the grain tuning's small deadzones keep the grain. At
        // 1280x720 from 30.5 s the frames decode 2.0 levels off on average (2.4 through ffmpeg's
        // fast YUV to RGB), 1.2 of it the 4:2:0 colour, at 120 Mbit/s for 30 fps.
        append(args, {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "grain", "-crf", "12"});
    } else {
        // smaller and cheaper than veryfast at crf 28: 4.5 Mbit/s at 1280x720 and 30 fps, 9 levels off
        append(args, {"-c:v", "libx264", "-preset", "superfast", "-crf", "30"});
    }
}

void appendAudioEncoding(VideoQuality quality, std::string_view container, double trimSeconds,
                         std::vector<std::string>& args) {
    if (soundtrackCopied(container)) {
        append(args, {"-c:a", "copy"});
        return;
    }
    // libopus starts its first packet 312 samples (at 48 kHz) before its input, and ffmpeg's
    // Matroska writer then moves every stream later by that much while readers move only the
    // Opus one back: starting the input 312 samples late leaves nothing to move
    char filter[96];
    std::snprintf(filter, sizeof filter, "atrim=start=%.6f,asetpts=PTS-STARTPTS+312/48000/TB", trimSeconds);
    append(args,
           {"-af", filter, "-c:a", "libopus", "-b:a", quality == VideoQuality::preview ? "96k" : "160k"});
}

}  // namespace quarvel
