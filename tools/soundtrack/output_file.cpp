// Atomic output files and the WAV writer.
#include "soundtrack/output_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

namespace quarvel {

PendingFile::~PendingFile() {
    discard();
}

void PendingFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
        std::remove(temporaryPath_.c_str());
    }
}

Status PendingFile::open(const std::string& path) {
    discard();
    std::error_code ignored;
    if (path.empty()) {
        return failure("empty output path");
    }
    if (std::filesystem::is_directory(path, ignored)) {
        return failure("cannot write '" + path + "': it is a directory");
    }
    path_ = path;
    temporaryPath_ = path + ".partial";
    file_ = std::fopen(temporaryPath_.c_str(), "wb");
    if (file_ == nullptr) {
        return failure("cannot write '" + path + "': " + std::strerror(errno));
    }
    return success();
}

Status PendingFile::commit(const std::vector<unsigned char>& bytes) {
    if (file_ == nullptr) {
        return failure("no open output file");
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    int writeErrno = errno;
    bool closed = std::fclose(file_) == 0;
    int closeErrno = errno;
    file_ = nullptr;
    if (!written || !closed) {
        std::remove(temporaryPath_.c_str());
        return failure("cannot write '" + path_ + "': " + std::strerror(!written ? writeErrno : closeErrno));
    }
    if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        int renameErrno = errno;
        std::remove(temporaryPath_.c_str());
        return failure("cannot write '" + path_ + "': " + std::strerror(renameErrno));
    }
    return success();
}

namespace {

void putU16(std::vector<unsigned char>& out, uint32_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xff));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xff));
}

void putU32(std::vector<unsigned char>& out, uint32_t value) {
    putU16(out, value & 0xffff);
    putU16(out, value >> 16);
}

void putTag(std::vector<unsigned char>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(tag[i]));
    }
}

}  // namespace

std::vector<unsigned char> encodeWav(const StereoBuffer& buffer) {
    const uint32_t frames = static_cast<uint32_t>(buffer.frames());
    const uint32_t dataBytes = frames * 8;
    std::vector<unsigned char> out;
    out.reserve(58 + dataBytes);
    putTag(out, "RIFF");
    putU32(out, 50 + dataBytes);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putU32(out, 18);
    putU16(out, 3);  // IEEE float
    putU16(out, 2);
    putU32(out, sampleRate);
    putU32(out, sampleRate * 8);
    putU16(out, 8);
    putU16(out, 32);
    putU16(out, 0);
    // float formats carry a fact chunk with the frame count
    putTag(out, "fact");
    putU32(out, 4);
    putU32(out, frames);
    putTag(out, "data");
    putU32(out, dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        for (float sample : {buffer.left[i], buffer.right[i]}) {
            uint32_t bits = 0;
            std::memcpy(&bits, &sample, sizeof(bits));
            putU32(out, bits);
        }
    }
    return out;
}

}  // namespace quarvel
