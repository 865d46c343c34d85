// Catches what the code under test writes on standard output, at the file descriptor: text left
// in stdio's buffer does not count until it is flushed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
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
        struct stat info {};
        fstat(fileno(file_), &info);
        std::string text(static_cast<std::size_t>(info.st_size), '\0');
        const ssize_t got = pread(fileno(file_), text.data(), text.size(), 0);
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
