// What the commands may write: never a file they did not write in this run
// without --force, never one of the run's inputs, never one file for two
// inputs; --out-dir made and mirroring the tree; and a reason for every file
// they cannot read.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

namespace fs = std::filesystem;
using namespace brennix::test;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class OutputSafetyTest : public ProgramTest {
protected:
    // The same files in a folder of each case's own: a model with a
    // hand-made collision file beside it, a model holding a collision, a
    // tree of two same-named models, a second name of a model and of a
    // folder, a folder and a plain file.
    void PutTree(const fs::path& root) {
        fs::create_directories(dir_ / root / "models/a");
        fs::create_directories(dir_ / root / "models/b");
        fs::create_directories(dir_ / root / "folder");
        const std::string at = root.string() + "/";
        Put(at + "house.dff", MakeCanonicalModel());
        Put(at + "house.col", kHandMade);
        ClumpSpec holding = MakeCanonicalModel();
        holding.ExtensionEntries() = {CollisionEntry(MakeCol3File())};
        Put(at + "m.dff", holding);
        Put(at + "c.col", MakeCol3File());
        Put(at + "models/a/x.dff", MakeCanonicalModel());
        ClumpSpec house = MakeHouseModel();
        house.ExtensionEntries() = {CollisionEntry(MakeCol3File())};
        Put(at + "models/b/x.dff", house);
        Put(at + "models/top.dff", MakeCanonicalModel());
        Put(at + "file.txt", kHandMade);
        fs::create_hard_link(dir_ / root / "m.dff", dir_ / root / "hard.dff");
        fs::create_directory_symlink("models/a", dir_ / root / "link");
    }

    const Bytes kHandMade = {'h', 'a', 'n', 'd'};
};

TEST_F(OutputSafetyTest, ReplacesOnlyWhatItMayAndWritesEachFileOnce) {
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        const char* inErr;
        std::vector<std::string> made;     // files that must exist afterwards
        std::vector<std::string> kept;     // inputs left byte for byte
        std::vector<std::string> notMade;  // files that must not exist
    };
    const Case cases[] = {
        {{"col", "house.dff"},
         1,
         "[error] house.dff: house.col exists; --force replaces it\n",
         {},
         {"house.col"},
         {}},
        {{"col", "--force", "house.dff"}, 0, "[info] 1 file: 1 written, ", {"house.col"}, {}, {}},
        {{"col", "--force", "-o", "m.dff", "m.dff"},
         1,
         "[error] m.dff: the output m.dff is the input m.dff",
         {},
         {"m.dff"},
         {}},
        {{"col", "-o", "hard.dff", "m.dff"},
         1,
         "the output hard.dff is the input m.dff",
         {},
         {"m.dff"},
         {}},
        {{"paint", "--day", "1,2,3", "--night", "4,5,6", "--force", "-o", "m.dff", "m.dff"},
         1,
         "(--in-place replaces a model)",
         {},
         {"m.dff"},
         {}},
        {{"attach", "--replace", "--force", "-c", "c.col", "-o", "c.col", "m.dff"},
         1,
         "the output c.col is the collision file c.col",
         {},
         {"c.col", "m.dff"},
         {}},
        {{"night", "--from", "house.dff", "--force", "-o", "house.dff", "m.dff"},
         1,
         "the output house.dff is the night model house.dff",
         {},
         {"house.dff"},
         {}},
        {{"paint", "--day", "1,2,3", "--night", "4,5,6", "--in-place", "m.dff", "hard.dff"},
         1,
         "[error] hard.dff: its output hard.dff is also the output of m.dff",
         {"m.dff"},
         {},
         {}},
        {{"col", "models/a/x.dff", "link/x.dff"},
         1,
         "is also the output of models/a/x.dff",
         {"models/a/x.col"},
         {},
         {}},
        {{"col", "-r", "--out-dir", "cols/new/", "models"},
         0,
         "[info] 3 files: 3 written, ",
         {"cols/new/a/x.col", "cols/new/b/x.col", "cols/new/top.col"},
         {},
         {"cols/new/x.col"}},
        {{"col", "--out-dir", "cols", "models/a/x.dff", "models/b/x.dff"},
         1,
         "x.col is also the output of models/a/x.dff",
         {"cols/x.col"},
         {},
         {}},
        {{"col", "--out-dir", "file.txt", "house.dff"},
         2,
         "--out-dir file.txt: not a folder",
         {},
         {"file.txt"},
         {}},
        {{"extract", "-r", "--out-dir", "cols", "models", "m.dff"},
         1,
         "[info] 4 files: 2 written, 2 failed\n",
         {"cols/b/x.col", "cols/m.col"},
         {},
         {"m.col", "cols/x.col"}},
        {{"extract", "-o", "house.col", "m.dff"},
         1,
         "house.col exists; --force replaces it",
         {},
         {"house.col"},
         {}},
        {{"col", "--archive", "folder", "house.dff"},
         2,
         "[error] --archive folder: folder is a folder\n",
         {},
         {"house.col", "folder"},
         {}},
        {{"col", "--archive", "c.col", "house.dff"},
         2,
         "c.col exists; --force replaces it",
         {},
         {"c.col"},
         {}},
        {{"col", "--archive", "m.dff", "--force", "m.dff"},
         2,
         "is the input m.dff",
         {},
         {"m.dff"},
         {}},
        {{"col", "--archive", "nowhere/all.col", "house.dff"},
         1,
         "[info] 1 file: 0 added, 1 failed\n",
         {},
         {},
         {"nowhere"}},
        {{"col", "--archive", "all.col", "file.txt"},
         1,
         "all.col: not written: no model could be added",
         {},
         {},
         {"all.col"}},
        {{"col", "--archive", "all.col", "house.dff", "m.dff"},
         0,
         "[info] 2 files: 2 added, ",
         {"all.col"},
         {"house.col"},
         {}},
    };
    int number = 0;
    for (const Case& c : cases) {
        const std::string root = "case" + std::to_string(number++);
        PutTree(root);
        Tree before = SnapshotTree(dir_ / root);
        RunResult result = RunProgram(dir_ / root, c.args);
        const std::string what = root + ": " + c.args[0] + " " + c.args[1];
        EXPECT_EQ(result.problem, "") << what;
        EXPECT_EQ(result.exitStatus, c.exitStatus) << what << "\n" << result.err;
        EXPECT_TRUE(Contains(result.err, c.inErr)) << what << "\n" << result.err;
        if (c.exitStatus != 0) {
            EXPECT_FALSE(Contains(result.err, "1 added")) << what << "\n" << result.err;
        }
        Tree after = SnapshotTree(dir_ / root);
        for (const std::string& name : c.made)
            EXPECT_TRUE(after.count(name) == 1 && after[name] != before[name])
                << what << " " << name;
        for (const std::string& name : c.kept)
            EXPECT_EQ(after[name], before[name]) << what << " " << name;
        for (const std::string& name : c.notMade)
            EXPECT_EQ(after.count(name), 0u) << what << " " << name;
    }
}

TEST_F(OutputSafetyTest, EveryFileItCannotReadSaysWhy) {
    Put("q.dff", MakeCanonicalModel());
    MakeDir("q.col");  // a folder where the collision file beside q.dff would be
    Put("r.dff", MakeCanonicalModel());
    // A sparse file: its size costs no disk.
    Put("big.dff", Bytes{});
    fs::resize_file(dir_ / "big.dff", uint64_t{5} << 30);
    struct Case {
        std::vector<std::string> args;
        const char* inErr;
    };
    std::vector<Case> cases = {
        {{"col", "big.dff"}, "[error] big.dff: the file is 4 GiB or larger (5368709120 bytes)\n"},
        {{"extract", "big.dff"},
         "[error] big.dff: the file is 4 GiB or larger (5368709120 bytes)\n"},
        {{"attach", "-o", "out.dff", "q.dff"},
         "[error] q.dff: no collision file: cannot read q.col: is a folder\n"},
        {{"attach", "-o", "out.dff", "r.dff"},
         "[error] r.dff: no collision file: cannot read r.col: no such file\n"},
    };
    if (!TargetsWindows()) {
        ASSERT_EQ(mkfifo((dir_ / "pipe.dff").c_str(), 0644), 0);
        Put("locked.dff", MakeCanonicalModel());
        fs::permissions(dir_ / "locked.dff", fs::perms::none);
        cases.push_back({{"col", "pipe.dff"}, "[error] pipe.dff: not a regular file (a FIFO)\n"});
        cases.push_back(
            {{"col", "/dev/null"}, "[error] /dev/null: not a regular file (a device)\n"});
        // Permissions do not hold back the superuser.
        if (geteuid() != 0)
            cases.push_back({{"col", "locked.dff"}, "[error] locked.dff: permission denied\n"});
    }
    for (const Case& c : cases) {
        RunResult result = RunProgram(dir_, c.args);
        EXPECT_EQ(result.exitStatus, 1) << c.args[1] << "\n" << result.err;
        EXPECT_TRUE(Contains(result.err, c.inErr)) << result.err;
    }
    EXPECT_FALSE(Exists("big.col"));
    EXPECT_FALSE(Exists("out.dff"));
}

}  // namespace
}  // namespace brennix::e2e
