// The command interface (brennix info, col, ...): exit codes, help, the
// classic switches left as they were, and how inputs expand to model files.
#include <algorithm>
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

// A Windows program prints its own separators.
std::string Slashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// The first line of each model's report: its path (the details are indented).
std::string Paths(const std::string& text) {
    std::string paths, line;
    for (char c : text) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty() && line[0] != ' ')
            paths += line + '\n';
        line.clear();
    }
    return paths;
}

class CommandsTest : public ProgramTest {
protected:
    RunResult RunCommand(const std::vector<std::string>& args) {
        RunResult result = RunProgram(dir_, args);
        EXPECT_EQ(result.problem, "");
        return result;
    }
};

TEST_F(CommandsTest, AnswersHelpAndVersionAndRefusesBadUsage) {
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        const char* inOutput;  // expected in standard output, or null
    };
    const Case cases[] = {
        {{"col", "--help"}, 0, "--out-dir"},
        {{"info", "--help"}, 0, "--json"},
        {{"col", "--version"}, 0, "brennix 0.2.0"},
        // Without a command word the line is the classic program's.
        {{"--help"}, 0, "[usage] Modes:"},
        {{"--version"}, 0, "[usage] Modes:"},
        {{"info"}, 2, nullptr},
        {{"info", "--no-such-option", "a.dff"}, 2, nullptr},
        {{"col", "-j", "0", "a.dff"}, 2, nullptr},
        {{"col", "-o", "x.col", "--out-dir", ".", "a.dff"}, 2, nullptr},
    };
    for (const Case& c : cases) {
        RunResult result = RunCommand(c.args);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.args[0] << " " << result.err;
        if (c.inOutput != nullptr)
            EXPECT_NE(result.out.find(c.inOutput), std::string::npos) << result.out;
        else
            EXPECT_FALSE(result.err.empty()) << c.args[0];
    }
}

TEST_F(CommandsTest, ClassicSwitchesAreUnchanged) {
    Put("a.dff", MakeCanonicalModel());
    RunResult result = Run({"-i", "-d", "a.dff"});
    EXPECT_EQ(result.out, "[info] File doesn't have a collision\n");
}

TEST_F(CommandsTest, ExpandsFoldersInOrderAndReportsMissingPaths) {
    const Bytes model = BuildModel(MakeCanonicalModel());
    MakeDir("my models/sub-folder");
    Put("my models/b-house.dff", model);
    Put("my models/A.DFF", model);
    Put("my models/notes.txt", model);
    Put("my models/sub-folder/c.dff", model);
    Put("one file.dff", model);

    RunResult flat = RunCommand({"info", "one file.dff", "my models", "missing.dff"});
    EXPECT_EQ(flat.exitStatus, 1) << flat.err;
    EXPECT_EQ(Slashes(Paths(flat.out)), "one file.dff\nmy models/A.DFF\nmy models/b-house.dff\n");
    EXPECT_NE(flat.err.find("[error] missing.dff: no such file or folder\n"), std::string::npos)
        << flat.err;
    EXPECT_NE(flat.err.find("[info] 4 files: 3 read, 1 failed\n"), std::string::npos) << flat.err;

    RunResult deep = RunCommand({"info", "-r", "-j", "2", "my models"});
    EXPECT_EQ(deep.exitStatus, 0) << deep.err;
    EXPECT_EQ(Slashes(Paths(deep.out)),
              "my models/A.DFF\nmy models/b-house.dff\nmy models/sub-folder/c.dff\n");
}

}  // namespace
}  // namespace brennix::e2e
