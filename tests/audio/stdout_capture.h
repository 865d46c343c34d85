// Catches what the code under test writes on standard output, at the file descriptor: text left
// in stdio's buffer does not count until it is flushed.
#pragma once

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace quarvel::test {

class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        if (file_ == nullptr || saved_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0)
            ADD_FAILURE() << "standard output could not be redirected";
    }

    ~StdoutCapture() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
        if (file_ != nullptr) std::fclose(file_);
    }

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string written() const {
        if (file_ == nullptr) return {};
        // standard output shares the file's offset: read from the start, then put it back at the end
        // (there is no pread on Windows)
        const int fd = fileno(file_);
        const auto end = lseek(fd, 0, SEEK_END);
        if (end <= 0) return {};
        std::string text(static_cast<std::size_t>(end), '\0');
        lseek(fd, 0, SEEK_SET);
        const auto got = read(fd, text.data(), static_cast<unsigned>(text.size()));
        lseek(fd, end, SEEK_SET);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }

private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

inline constexpr const char* successLine = "Song succesfully rendered!\n";
inline constexpr const char* failureLine = "mp3 rendering failed :(\n";

}  // namespace quarvel::test
