// Tests of the quarvel-soundtrack program's command line: refusals say why, with the usage or
// failure status, and leave no file behind. A real run is checked with the rendered track.
#include "base/exit_status.h"
#include "program_run.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(Program, RefusesBadInvocationsClearlyAndLeavesNoFile) {
    test::ScratchFolder folder("soundtrack-program-test");
    std::filesystem::create_directories(folder.work("folder"));
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{}, exitUsage, "no output file given"},
        {{"--bogus", folder.work("a.mp3")}, exitUsage, "unknown option '--bogus'"},
        {{folder.work("a.mp3"), "--wav"}, exitUsage, "--wav needs a file name"},
        {{folder.work("a.mp3"), folder.work("b.mp3")}, exitUsage, "more than one output file"},
        {{folder.work("a.mp3"), "--wav", folder.work("a.mp3")}, exitUsage, "the same file"},
        {{folder.work("missing/a.mp3")}, exitFailure, "cannot write"},
        {{folder.work("folder")}, exitFailure, "is a directory"},
        {{folder.work("a.mp3"), "--wav", folder.work("missing/a.wav")}, exitFailure, "cannot write"},
    };
    for (const Case& c : cases) {
        test::ProcessResult result = folder.run(QUARVEL_SOUNDTRACK_PROGRAM, c.args);
        std::string shown = c.args.empty() ? "(no arguments)" : c.args.front();
        EXPECT_EQ(result.status, c.status) << shown << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << shown << ": " << result.err;
        EXPECT_EQ(folder.workFiles(), std::vector<std::string>{"folder"}) << shown;
    }
}

}  // namespace
}  // namespace quarvel
