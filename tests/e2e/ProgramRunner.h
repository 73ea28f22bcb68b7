// Runs the brennix program as a child process in a scratch directory and
// captures what it prints, for the end-to-end tests.
//
// The program is started directly (no shell), so every argument reaches it
// exactly as given. Two environment variables let the same tests drive
// another build of the program, e.g. a Windows executable under an emulator:
//   BRENNIX_E2E_EXE     path of the program (default: the one built here)
//   BRENNIX_E2E_RUNNER  a launcher; when set the child is RUNNER EXE ARGS...
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ModelBuilder.h"

namespace brennix::e2e {

using test::Bytes;

struct RunResult {
    // Standard output byte for byte. Under a launcher, a '\r' before '\n' is
    // removed, since a Windows program writes text-mode line breaks.
    std::string out;
    // Standard error, '\r' removed as for standard output. A launcher may
    // print its own notices there, so tests look for lines in it.
    std::string err;
    // The exit status, or -1 when the program did not exit normally.
    int exitStatus = -1;
    // Why the program could not be run or was stopped; empty otherwise.
    std::string problem;
};

// True when BRENNIX_E2E_RUNNER names a launcher.
bool UsesLauncher();
// True when the program under test is a Windows executable (".exe").
bool TargetsWindows();

// Runs the program with `args` in `workDir`. `argv0`, when not empty, is
// passed as the program's own name instead of its path (only without a
// launcher). A program that runs longer than `timeoutSeconds` is killed.
RunResult RunProgram(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const std::string& argv0 = "", int timeoutSeconds = 60);

// Every entry below a directory, by relative path: a file's bytes, a
// directory as "<dir>" and a symbolic link as "<link> target".
using Tree = std::map<std::string, Bytes>;
Tree SnapshotTree(const std::filesystem::path& root);

// A fresh scratch directory per test, removed when the test ends.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file below the scratch directory.
    void Put(const std::string& name, const Bytes& bytes);
    void Put(const std::string& name, const test::ClumpSpec& model);
    Bytes Get(const std::string& name) const;
    bool Exists(const std::string& name) const;
    void MakeDir(const std::string& name);

    // An output path argument whose directory does not exist. The value of a
    // switch ends at '/', so for a POSIX program the missing directory is
    // reached through a dangling symbolic link named `name`; a Windows
    // program gets a backslash path instead.
    std::string MissingDirPath(const std::string& name);

    // Runs the program in the scratch directory and checks that it exited
    // with status 0, as it must whatever happened.
    RunResult Run(const std::vector<std::string>& args, const std::string& argv0 = "");

    Tree Snapshot() const { return SnapshotTree(dir_); }

    std::filesystem::path dir_;
};

// The eight lines the program prints for an unusable command line.
extern const char* const kUsageText;

// Printable form of a tree difference for assertion messages.
std::string DescribeDifference(const Tree& before, const Tree& after);

}  // namespace brennix::e2e
