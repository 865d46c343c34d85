// Runs a program with its output in a scratch folder of the test's own, and reads back what it
// printed; the folder and all in it go with the object.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quarvel::test {

struct ProcessResult {
    int status;  // the exit status; -1 when the program did not exit by itself
    std::string out;
    std::string err;
};

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : dir_(std::filesystem::temp_directory_path() /
               ("quarvel-" + name + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_ / "work");
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // a path in the folder the programs write into
    std::string work(const std::string& name) const { return (dir_ / "work" / name).string(); }

    // what the programs left there, relative and sorted
    std::vector<std::string> workFiles() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_ / "work")) {
            found.push_back(entry.path().lexically_relative(dir_ / "work").string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    ProcessResult run(const std::string& program, const std::vector<std::string>& args) const {
        std::string command = quoted(program);
        for (const std::string& arg : args) {
            command += ' ';
            command += quoted(arg);
        }
        command += " >";
        command += quoted((dir_ / "stdout").string());
        command += " 2>";
        command += quoted((dir_ / "stderr").string());
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(dir_ / "stdout"), readText(dir_ / "stderr")};
    }

private:
    static std::string quoted(const std::string& text) {
        std::string result = "'";
        for (char c : text) {
            result += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return result + "'";
    }

    static std::string readText(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path dir_;
};

}  // namespace quarvel::test
