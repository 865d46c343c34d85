// Walks the frame headers of a layer III stream from the first byte to the last.
#include "platform/common/mp3_check.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace quarvel::platform {

namespace {

// Reads a file front to back in large blocks; a frame header that straddles two blocks starts
// the next block.
class FileReader {
public:
    explicit FileReader(const std::filesystem::path& path) : file_(path, std::ios::binary) {}

    bool isOpen() const { return file_.is_open(); }

    // The `count` bytes at `offset`, or nullptr when the file ends or fails before them.
    const uint8_t* bytesAt(uint64_t offset, std::size_t count) {
        if (offset >= base_ && offset + count <= base_ + length_) return buffer_.data() + (offset - base_);
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(buffer_.size()));
        base_ = offset;
        length_ = file_.gcount() > 0 ? static_cast<std::size_t>(file_.gcount()) : 0;
        return count <= length_ ? buffer_.data() : nullptr;
    }

private:
    std::ifstream file_;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(256 * 1024);
    uint64_t base_ = 0;
    std::size_t length_ = 0;
};

// The same for a file already in memory.
class MemoryReader {
public:
    MemoryReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    const uint8_t* bytesAt(uint64_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset ? data_ + offset : nullptr;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
};

struct FrameHeader {
    int version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int sampleRate = 0;
    bool mono = false;
    uint32_t length = 0;  // bytes, header included
};

bool parseFrameHeader(const uint8_t* b, FrameHeader& header) {
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
    const int version = (b[1] >> 3) & 3;
    const int layer = (b[1] >> 1) & 3;  // 1 is layer III
    const int bitrateIndex = b[2] >> 4;
    const int rateIndex = (b[2] >> 2) & 3;
    const int emphasis = b[3] & 3;
    // free-format streams (bitrate index 0) carry no frame length in the header: refused
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
        emphasis == 2)
        return false;

    static constexpr int kbpsMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                          112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kbpsMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr int ratesMpeg1[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int bitrate = (mpeg1 ? kbpsMpeg1 : kbpsMpeg2)[bitrateIndex] * 1000;
    header.version = version;
    header.sampleRate = ratesMpeg1[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    header.mono = (b[3] >> 6) == 3;
    const int padding = (b[2] >> 1) & 1;
    header.length = static_cast<uint32_t>((mpeg1 ? 144 : 72) * bitrate / header.sampleRate + padding);
    return true;
}

uint32_t bigEndian32(const uint8_t* b) {
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

uint32_t littleEndian32(const uint8_t* b) {
    return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

// The frame count of an encoder's Xing or Info tag in the first frame of the stream, at `offset`;
// -1 when it has no such tag or the tag gives no count. The tag sits where the side information
// of an ordinary frame would end.
template <typename Reader>
int64_t taggedFrameCount(Reader& reader, uint64_t offset, const FrameHeader& header) {
    const uint32_t sideInfo = header.version == 3 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    const uint32_t at = 4 + sideInfo;
    if (at + 12 > header.length) return -1;
    const uint8_t* tag = reader.bytesAt(offset + at, 12);
    if (tag == nullptr || (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0)) return -1;
    const bool hasCount = (bigEndian32(tag + 4) & 1) != 0;
    return hasCount ? bigEndian32(tag + 8) : -1;
}

// Where the frames end: before a closing ID3v1 tag and an APEv2 tag ahead of it, if any;
// 0 when a tag claims more than the file holds.
template <typename Reader>
uint64_t endOfFrames(Reader& reader, uint64_t size) {
    uint64_t end = size;
    if (end >= 128) {
        const uint8_t* id3v1 = reader.bytesAt(end - 128, 3);
        if (id3v1 != nullptr && std::memcmp(id3v1, "TAG", 3) == 0) end -= 128;
    }
    if (end >= 32) {
        const uint8_t* footer = reader.bytesAt(end - 32, 32);
        if (footer != nullptr && std::memcmp(footer, "APETAGEX", 8) == 0) {
            const bool hasHeader = (littleEndian32(footer + 20) & 0x8000'0000u) != 0;
            const uint64_t tagSize = uint64_t{littleEndian32(footer + 12)} + (hasHeader ? 32 : 0);
            end = tagSize <= end ? end - tagSize : 0;
        }
    }
    return end;
}

// The walk over the tags and frames, whatever holds the file's `size` bytes.
template <typename Reader>
bool isCompleteStream(Reader& reader, uint64_t size) {
    uint64_t offset = 0;
    while (const uint8_t* tag = reader.bytesAt(offset, 10)) {
        if (std::memcmp(tag, "ID3", 3) != 0) break;
        if (((tag[6] | tag[7] | tag[8] | tag[9]) & 0x80) != 0) return false;  // sizes are 7 bits a byte
        const uint64_t tagSize =
            uint64_t{tag[6]} << 21 | uint64_t{tag[7]} << 14 | uint64_t{tag[8]} << 7 | tag[9];
        const bool hasFooter = (tag[5] & 0x10) != 0;
        offset += 10 + tagSize + (hasFooter ? 10 : 0);
    }

    const uint64_t end = endOfFrames(reader, size);
    FrameHeader first;
    int64_t frames = 0;
    int64_t tagged = -1;
    while (offset < end) {
        FrameHeader header;
        const uint8_t* bytes = reader.bytesAt(offset, 4);
        if (bytes == nullptr || !parseFrameHeader(bytes, header)) return false;
        if (frames == 0) {
            first = header;
            tagged = taggedFrameCount(reader, offset, header);
        } else if (header.version != first.version || header.sampleRate != first.sampleRate) {
            return false;
        }
        // a frame cut short: the one check that sees a stream cut inside its last frame, whose
        // frame count still matches the tag's; past it, the walk ends exactly at `end`
        if (header.length > end - offset) return false;
        offset += header.length;
        ++frames;
    }

    // the tag's count leaves out the tag's own frame, which holds no sound
    const int64_t soundFrames = tagged >= 0 ? frames - 1 : frames;
    return soundFrames >= 1 && (tagged < 0 || tagged == soundFrames);
}

}  // namespace

bool isCompleteMp3(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) return false;
    FileReader reader(path);
    if (!reader.isOpen()) return false;
    return isCompleteStream(reader, size);
}

bool isCompleteMp3(const uint8_t* data, std::size_t size) {
    MemoryReader reader(data, size);
    return isCompleteStream(reader, size);
}

}  // namespace quarvel::platform
