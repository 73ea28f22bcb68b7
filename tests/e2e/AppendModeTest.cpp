// Attaching a collision file to a model: the append mode (-a) with a named
// output, and the process-all mode (-p) that rewrites every model of the
// working directory in place.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

const char* const kAppended = "[success] Model file was appended with collision data\n";

std::string LoadError(const std::string& path) {
    return "[error] Could not load the dff file: " + path + "\n";
}
std::string AlreadyHasError(const std::string& path) {
    return "[error] File already has a collision: " + path + "\n";
}
std::string AttachError(const std::string& colPath, int reason) {
    return "[error] Could not append col to file: " + colPath +
           " error: " + std::to_string(reason) + "\n";
}
std::string SaveError(const std::string& path) {
    return "[error] Could not save clump to file: " + path + "\n";
}

ExtensionEntry OtherEntry(uint8_t fill) {
    ExtensionEntry entry;
    entry.type = 0x0105;
    entry.payload = Bytes(8, fill);
    return entry;
}

ClumpSpec ModelWithExtension(const std::vector<ExtensionEntry>& entries) {
    ClumpSpec model = MakeCanonicalModel();
    model.ExtensionEntries() = entries;
    return model;
}

// The file the program should write: the model with the collision file
// appended as the last entry of its clump Extension.
Bytes WithCollision(ClumpSpec model, const Bytes& col) {
    model.ExtensionEntries().push_back(CollisionEntry(col));
    return BuildModel(model);
}

// A model whose clump Extension claims 4 bytes more than the file holds.
Bytes CutShortModel() {
    ClumpSpec model = ModelWithExtension({OtherEntry(7)});
    ClumpChild* extension = model.FindChild(ClumpChildKind::Extension);
    extension->declaredSize = static_cast<uint32_t>(EncodeEntries(extension->entries).size() + 4);
    return BuildModel(model);
}

ClumpSpec ModelWithoutExtension() {
    ClumpSpec model = MakeCanonicalModel();
    model.children.pop_back();
    return model;
}

Tree With(Tree tree, const std::string& name, const Bytes& bytes) {
    tree[name] = bytes;
    return tree;
}

class AppendModeTest : public ProgramTest {};

TEST_F(AppendModeTest, AttachesTheCollisionFileAsTheLastClumpExtensionEntry) {
    const ClumpSpec model = MakeCanonicalModel();
    const Bytes col = MakeCol3File();
    Put("a.dff", model);
    Put("a.col", col);
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "a.col", "-o", "out.dff"}).out, kAppended);
    const Bytes out = Get("out.dff");
    EXPECT_EQ(out, WithCollision(model, col));
    EXPECT_EQ(Snapshot(), With(before, "out.dff", out));

    // Both the clump and its Extension grow by the entry: header and file.
    const Bytes in = Get("a.dff");
    const uint32_t n = static_cast<uint32_t>(col.size());
    ASSERT_EQ(out.size(), in.size() + n + 12);
    EXPECT_EQ(GetU32(out, 4), GetU32(in, 4) + n + 12);
    ClumpView clump;
    std::string why;
    ASSERT_TRUE(ParseClump(out, &clump, &why)) << why;
    const ChunkView* extension = clump.Find(kChunkExtension);
    ASSERT_NE(extension, nullptr);
    EXPECT_EQ(extension->size, n + 12);
    const Bytes entryHeader = {0xFF,
                               0xF2,
                               0x53,
                               0x02,
                               static_cast<uint8_t>(n),
                               static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 24),
                               0xFF,
                               0xFF,
                               0x03,
                               0x18};
    EXPECT_EQ(extension->payload, Cat({entryHeader, col}));

    EXPECT_EQ(Run({"-i", "-d", "out.dff"}).out, "[info] File has a collision\n");
}

TEST_F(AppendModeTest, KeepsEarlierExtensionEntriesBeforeTheCollision) {
    const ClumpSpec model = ModelWithExtension({OtherEntry(1), OtherEntry(2)});
    const Bytes col = MakeCol3File();
    Put("a.dff", model);
    Put("a.col", col);

    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "a.col", "-o", "out.dff"}).out, kAppended);
    EXPECT_EQ(Get("out.dff"), WithCollision(model, col));
    // The collision is not the first entry, so the model still reads as without.
    EXPECT_EQ(Run({"-i", "-d", "out.dff"}).out, "[info] File doesn't have a collision\n");
}

TEST_F(AppendModeTest, RewritesTheModelInPlaceWhenOutputIsTheInput) {
    const ClumpSpec model = MakeBoxModel();
    const Bytes col = MakeCol3File();
    Put("a.dff", model);
    Put("a.col", col);
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "a.col", "-o", "a.dff"}).out, kAppended);
    const Bytes expected = WithCollision(model, col);
    EXPECT_EQ(Snapshot(), With(before, "a.dff", expected));
}

TEST_F(AppendModeTest, WritesTheKeptChildrenInFixedOrder) {
    const Bytes col = MakeCol3File();
    Put("a.col", col);

    // Children in another order, with a light and a camera that are dropped.
    ClumpSpec shuffled = MakeCanonicalModel();
    const std::vector<ClumpChild> kept = shuffled.children;
    shuffled.children = {kept[1],
                         kept[4],
                         ClumpChild::MakeLight(),
                         kept[3],
                         ClumpChild::MakeStruct(1, 1, 1),
                         kept[2],
                         ClumpChild::MakeCamera()};
    Put("shuffled.dff", shuffled);
    EXPECT_EQ(Run({"-a", "-d", "shuffled.dff", "-c", "a.col", "-o", "out1.dff"}).out, kAppended);
    EXPECT_EQ(Get("out1.dff"), WithCollision(MakeCanonicalModel(), col));

    // A leading animation dictionary is written back before the clump.
    ClumpSpec withDictionary = MakeCanonicalModel();
    withDictionary.uvAnimDictionary = Bytes{1, 2, 3, 4, 5, 6, 7, 8};
    Put("dict.dff", withDictionary);
    EXPECT_EQ(Run({"-a", "-d", "dict.dff", "-c", "a.col", "-o", "out2.dff"}).out, kAppended);
    EXPECT_EQ(Get("out2.dff"), WithCollision(withDictionary, col));

    // Missing children are not made up.
    ClumpSpec noFrames = MakeCanonicalModel();
    noFrames.children.erase(noFrames.children.begin() + 1);
    Put("noframes.dff", noFrames);
    EXPECT_EQ(Run({"-a", "-d", "noframes.dff", "-c", "a.col", "-o", "out3.dff"}).out, kAppended);
    EXPECT_EQ(Get("out3.dff"), WithCollision(noFrames, col));
}

TEST_F(AppendModeTest, RefusesCollisionFilesThatAreEmptyOrNotCollisionFiles) {
    Put("a.dff", MakeCanonicalModel());
    Put("empty.col", Bytes{});
    Put("text.col", Bytes{'C', 'O', 'L', '5', 0, 0, 0, 0});
    const Tree before = Snapshot();
    for (const char* col : {"empty.col", "text.col"}) {
        EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", col, "-o", "out.dff"}).out, AttachError(col, -2));
    }
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(AppendModeTest, ReportsAttachFailuresAndWritesNothing) {
    Put("a.dff", MakeCanonicalModel());
    Put("noext.dff", ModelWithoutExtension());
    Put("a.col", MakeCol3File());
    MakeDir("cdir");
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "missing.col", "-o", "out.dff"}).out,
              AttachError("missing.col", -2));
    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "missing.col", "-o", "a.dff"}).out,
              AttachError("missing.col", -2));
    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "cdir", "-o", "out.dff"}).out,
              AttachError("cdir", -2));
    EXPECT_EQ(Run({"-a", "-d", "noext.dff", "-c", "a.col", "-o", "out.dff"}).out,
              AttachError("a.col", -1));
    // Without a clump Extension the collision file is not even opened.
    EXPECT_EQ(Run({"-a", "-d", "noext.dff", "-c", "missing.col", "-o", "out.dff"}).out,
              AttachError("missing.col", -1));
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(AppendModeTest, RefusesAModelThatAlreadyHasACollision) {
    Put("has.dff", ModelWithExtension({CollisionEntry(MakeCol3File())}));
    Put("a.col", MakeCol3File());
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-a", "-d", "has.dff", "-c", "a.col", "-o", "out.dff"}).out,
              AlreadyHasError("has.dff"));
    EXPECT_EQ(Run({"-a", "-d", "has.dff", "-c", "a.col", "-o", "has.dff"}).out,
              AlreadyHasError("has.dff"));
    // The refusal comes before the collision file is looked at.
    EXPECT_EQ(Run({"-a", "-d", "has.dff", "-c", "missing.col", "-o", "out.dff"}).out,
              AlreadyHasError("has.dff"));
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(AppendModeTest, ReportsModelsThatCannotBeLoaded) {
    Put("struct.dff", MakeChunk(kChunkStruct, {1, 0, 0, 0}));
    Put("a.col", MakeCol3File());
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-a", "-d", "missing.dff", "-c", "a.col", "-o", "out.dff"}).out,
              LoadError("missing.dff"));
    EXPECT_EQ(Run({"-a", "-d", "struct.dff", "-c", "a.col", "-o", "out.dff"}).out,
              LoadError("struct.dff"));
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(AppendModeTest, LeavesEveryFileUnchangedWhenTheSaveFails) {
    Put("a.dff", MakeCanonicalModel());
    Put("cut.dff", CutShortModel());
    Put("old.dff", MakeBoxModel());
    ClumpSpec noStruct = MakeCanonicalModel();
    noStruct.children.erase(noStruct.children.begin());
    Put("nostruct.dff", noStruct);
    Put("a.col", MakeCol3File());
    MakeDir("outdir");
    Put("outdir/keep.txt", Bytes{'k'});
    const std::string missing = MissingDirPath("new.dff");
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "a.col", "-o", missing}).out, SaveError(missing));
    EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "a.col", "-o", "outdir"}).out, SaveError("outdir"));
    // A model whose chunks are cut short is not written back at all.
    EXPECT_EQ(Run({"-a", "-d", "cut.dff", "-c", "a.col", "-o", "old.dff"}).out,
              SaveError("old.dff"));
    EXPECT_EQ(Run({"-a", "-d", "cut.dff", "-c", "a.col", "-o", "cut.dff"}).out,
              SaveError("cut.dff"));
    EXPECT_EQ(Run({"-a", "-d", "nostruct.dff", "-c", "a.col", "-o", "old.dff"}).out,
              SaveError("old.dff"));
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(AppendModeTest, SavesUnderTheLongestNameTheSystemAllows) {
    const ClumpSpec model = MakeCanonicalModel();
    const Bytes col = MakeCol3File();
    Put("a.dff", model);
    Put("a.col", col);
    std::string output;  // as the program is given it
    std::string stored;  // the same file below the scratch directory
    size_t folders = 0;
    if (TargetsWindows()) {
        // A short name in a deep folder, given as a full path of MAX_PATH - 1
        // characters: Wine's drive Z: is the POSIX root.
        output = "Z:" + dir_.string() + "/";
        std::replace(output.begin(), output.end(), '/', '\\');
        ASSERT_LT(output.size() + 2 + 5, 259u);
        while (output.size() + 5 < 259) {
            const size_t left = 259 - 5 - output.size();
            const size_t n = left > 62 ? 61 : left;  // a folder's name and a backslash
            output += std::string(n - 1, 'd') + "\\";
            stored += std::string(n - 1, 'd') + "/";
            MakeDir(stored);
            ++folders;
        }
        output += "a.dff";
        stored += "a.dff";
        ASSERT_EQ(output.size(), 259u);
    } else {
        const long longest = pathconf(dir_.c_str(), _PC_NAME_MAX);
        ASSERT_GT(longest, 8);
        output = stored = std::string(static_cast<size_t>(longest) - 4, 'x') + ".dff";
    }

    // A new file under that name, then the same file replaced.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Run({"-a", "-d", "a.dff", "-c", "a.col", "-o", output}).out, kAppended);
        EXPECT_EQ(Get(stored), WithCollision(model, col));
    }
    if (!TargetsWindows()) {
        // Rewritten in place by the process-all mode.
        Put(stored, model);
        Put(stored.substr(0, stored.size() - 4) + ".col", col);
        EXPECT_EQ(Run({"-p"}).out, "[info] Processed 2 files");
        EXPECT_EQ(Get(stored), WithCollision(model, col));
    }
    // No temporary file is left behind.
    EXPECT_EQ(Snapshot().size(), TargetsWindows() ? 3 + folders : 4);
}

class ProcessAllTest : public ProgramTest {};

TEST_F(ProcessAllTest, AttachesEachModelsCollisionFileInPlace) {
    const ClumpSpec modelA = MakeCanonicalModel();
    const Bytes col = MakeCol3File();
    Put("a.dff", modelA);
    Put("a.col", col);
    Put("b.dff", MakeBoxModel());
    MakeDir("c.dff");
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-p"}).out, AttachError("b.col", -2) + "[info] Processed 2 files");
    EXPECT_EQ(Snapshot(), With(before, "a.dff", WithCollision(modelA, col)));
}

TEST_F(ProcessAllTest, SecondRunReportsTheCollisionsOfTheFirst) {
    const ClumpSpec modelA = MakeCanonicalModel();
    const ClumpSpec modelD = ModelWithExtension({OtherEntry(3)});
    const Bytes col = MakeCol3File();
    Put("a.dff", modelA);
    Put("a.col", col);
    Put("d.dff", modelD);
    Put("d.col", col);

    EXPECT_EQ(Run({"-p"}).out, "[info] Processed 2 files");
    const Bytes firstA = WithCollision(modelA, col);
    EXPECT_EQ(Get("a.dff"), firstA);
    EXPECT_EQ(Get("d.dff"), WithCollision(modelD, col));

    // d.dff's collision is its second entry, so it is attached once more.
    EXPECT_EQ(Run({"-p"}).out, AlreadyHasError("a.dff") + "[info] Processed 2 files");
    EXPECT_EQ(Get("a.dff"), firstA);
    ClumpSpec twice = modelD;
    twice.ExtensionEntries().push_back(CollisionEntry(col));
    EXPECT_EQ(Get("d.dff"), WithCollision(twice, col));
}

TEST_F(ProcessAllTest, CountsZeroWithoutModelFiles) {
    EXPECT_EQ(Run({"-p"}).out, "[info] Processed 0 files");
    EXPECT_EQ(Snapshot(), Tree{});

    Put("notes.txt", Bytes{'x'});
    Put("a.col", MakeCol3File());
    Put("a.dff.bak", MakeCanonicalModel());
    MakeDir("sub.dff");
    const Tree before = Snapshot();
    EXPECT_EQ(Run({"-p"}).out, "[info] Processed 0 files");
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(ProcessAllTest, FindsModelsWhateverTheCaseOfTheirExtension) {
    const ClumpSpec house = MakeHouseModel();
    const ClumpSpec box = MakeBoxModel();
    const Bytes col = MakeCol3File();
    Put("HOUSE.DFF", house);
    Put("HOUSE.col", col);
    Put("x.y.Dff", box);
    Put("x.y.col", col);
    Tree expected = Snapshot();
    expected["HOUSE.DFF"] = WithCollision(house, col);
    expected["x.y.Dff"] = WithCollision(box, col);

    EXPECT_EQ(Run({"-p"}).out, "[info] Processed 2 files");
    EXPECT_EQ(Snapshot(), expected) << DescribeDifference(expected, Snapshot());
}

TEST_F(ProcessAllTest, ReportsEachFailingModelAndCountsItToo) {
    const ClumpSpec ok = MakeCanonicalModel();
    const Bytes col = MakeCol3File();
    Put("bad.dff", MakeChunk(kChunkStruct, {1, 0, 0, 0}));
    Put("cut.dff", CutShortModel());
    Put("cut.col", col);
    Put("has.dff", ModelWithExtension({CollisionEntry(col)}));
    Put("has.col", col);
    Put("noext.dff", ModelWithoutExtension());
    Put("noext.col", col);
    Put("ok.dff", ok);
    Put("ok.col", col);
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-p"}).out, LoadError("bad.dff") + SaveError("cut.dff") +
                                   AlreadyHasError("has.dff") + AttachError("noext.col", -1) +
                                   "[info] Processed 5 files");
    EXPECT_EQ(Snapshot(), With(before, "ok.dff", WithCollision(ok, col)));
}

TEST_F(ProcessAllTest, PassesOverEntriesThatAreNotFilesUncounted) {
    if (TargetsWindows())
        GTEST_SKIP() << "FIFOs and device links are POSIX matters";
    const ClumpSpec model = MakeCanonicalModel();
    const Bytes col = MakeCol3File();
    Put("ok.dff", model);
    Put("ok.col", col);
    ASSERT_EQ(mkfifo((dir_ / "fifo.dff").c_str(), 0644), 0);
    ASSERT_EQ(symlink("fifo.dff", (dir_ / "fifolink.dff").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir_ / "zero.dff").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (dir_ / "null.dff").c_str()), 0);

    // Neither waits for the FIFO's writer nor reads the devices.
    const RunResult result = RunProgram(dir_, {"-p"}, "", 20);
    EXPECT_EQ(result.problem, "") << result.err;
    EXPECT_EQ(result.out, "[info] Processed 1 files");
    EXPECT_EQ(Get("ok.dff"), WithCollision(model, col));
}

TEST_F(ProcessAllTest, FindsTheCollisionFileWhateverTheCaseOfItsName) {
    if (TargetsWindows())
        GTEST_SKIP() << "Windows finds names in any case by itself";
    const ClumpSpec model = MakeCanonicalModel();
    const Bytes col = MakeCol3File();
    Bytes other = col;
    other.back() ^= 0xFF;
    Put("HOUSE.DFF", model);
    Put("HOUSE.COL", col);
    // Several names match: the first in byte order is used.
    Put("Mixed.dff", model);
    Put("mixed.COL", col);
    Put("MIXED.col", other);
    // The exact name comes first.
    Put("exact.dff", model);
    Put("exact.col", col);
    Put("EXACT.COL", other);
    // Messages name the file actually used.
    Put("dir.dff", model);
    MakeDir("DIR.COL");
    Tree expected = Snapshot();
    expected["HOUSE.DFF"] = WithCollision(model, col);
    expected["Mixed.dff"] = WithCollision(model, other);
    expected["exact.dff"] = WithCollision(model, col);

    EXPECT_EQ(Run({"-p"}).out, AttachError("DIR.COL", -2) + "[info] Processed 4 files");
    EXPECT_EQ(Snapshot(), expected) << DescribeDifference(expected, Snapshot());
}

}  // namespace
}  // namespace brennix::e2e
