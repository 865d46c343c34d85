// The libmp3lame wrapper.
#include "soundtrack/mp3_encoder.h"

#include <algorithm>
#include <lame/lame.h>
#include <memory>
#include <string>

namespace quarvel {
namespace {

struct LameCloser {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

}  // namespace

Status encodeMp3(const StereoBuffer& buffer, std::vector<unsigned char>& bytes, const Mp3Settings& settings) {
    bytes.clear();
    std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
    if (!lame) {
        return failure("lame_init failed");
    }
    lame_global_flags* flags = lame.get();
    lame_set_in_samplerate(flags, sampleRate);
    lame_set_out_samplerate(flags, sampleRate);
    lame_set_num_channels(flags, 2);
    lame_set_mode(flags, JOINT_STEREO);
    lame_set_VBR(flags, vbr_off);
    lame_set_brate(flags, settings.bitrateKbps);
    lame_set_quality(flags, settings.quality);
    // the Info frame lets players skip the encoder delay and padding, so the track keeps its timing
    lame_set_bWriteVbrTag(flags, 1);
    lame_set_write_id3tag_automatic(flags, 0);
    // the plain C paths, so the bytes do not depend on which vector units the CPU has
    lame_set_asm_optimizations(flags, MMX, 0);
    lame_set_asm_optimizations(flags, AMD_3DNOW, 0);
    lame_set_asm_optimizations(flags, SSE, 0);
    if (lame_init_params(flags) < 0) {
        return failure("lame rejected the encoder settings");
    }

    constexpr size_t chunkFrames = 8192;
    std::vector<unsigned char> chunk(chunkFrames + chunkFrames / 4 + 7200);
    for (size_t first = 0; first < buffer.frames(); first += chunkFrames) {
        size_t count = std::min(chunkFrames, buffer.frames() - first);
        int written = lame_encode_buffer_ieee_float(flags, buffer.left.data() + first,
                                                    buffer.right.data() + first, static_cast<int>(count),
                                                    chunk.data(), static_cast<int>(chunk.size()));
        if (written < 0) {
            bytes.clear();
            return failure("lame failed to encode (error " + std::to_string(written) + ")");
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + written);
    }
    int flushed = lame_encode_flush(flags, chunk.data(), static_cast<int>(chunk.size()));
    if (flushed < 0) {
        bytes.clear();
        return failure("lame failed to flush (error " + std::to_string(flushed) + ")");
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + flushed);

    // lame left a placeholder frame at the start for the Info frame, which is complete only now
    unsigned char tag[2880];
    size_t tagSize = lame_get_lametag_frame(flags, tag, sizeof(tag));
    if (tagSize > sizeof(tag) || tagSize > bytes.size()) {
        bytes.clear();
        return failure("lame produced no usable Info frame");
    }
    std::copy(tag, tag + tagSize, bytes.begin());
    return success();
}

}  // namespace quarvel
