// The program's command line as a whole: which lines print the usage text,
// how switches and values are scanned, and the info mode that reports a
// model's collision.
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

using Args = std::vector<std::string>;

std::string ArgsText(const Args& args) {
    std::string text;
    for (const std::string& arg : args)
        text += " " + arg;
    return text;
}

const char* const kHasCollision = "[info] File has a collision\n";
const char* const kNoCollision = "[info] File doesn't have a collision\n";

std::string LoadError(const std::string& path) {
    return "[error] Could not load the dff file: " + path + "\n";
}

ClumpSpec ModelWithExtension(const std::vector<ExtensionEntry>& entries) {
    ClumpSpec model = MakeCanonicalModel();
    model.ExtensionEntries() = entries;
    return model;
}

// An opaque clump Extension entry that is not a collision.
ExtensionEntry OtherEntry() {
    ExtensionEntry entry;
    entry.type = 0x0105;
    entry.payload = {1, 2, 3, 4, 5, 6, 7, 8};
    return entry;
}

class UsageTest : public ProgramTest {};

TEST_F(UsageTest, PrintsExactUsageTextWithoutArguments) {
    const Tree before = Snapshot();
    EXPECT_EQ(Run({}).out, kUsageText);
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(UsageTest, PrintsUsageWhenModeOrInputIsMissing) {
    Put("a.dff", MakeCanonicalModel());
    Put("b.dff", MakeCanonicalModel());
    Put("a.col", MakeCol3File());
    MakeDir("models");
    Put("models/a.dff", MakeCanonicalModel());
    const std::vector<Args> lines = {
        {"-n", "a.dff"},                         // -n names a file but selects no mode
        {"-a", "-d", "a.dff", "-c", "a.col"},    // append without output
        {"-a", "-d", "a.dff", "-o", "out.dff"},  // append without collision file
        {"-i"},
        {"-i", "-d", "a.dff", "-d"},  // the last -d empties the path
        {"-I", "-D", "a.dff"},        // upper-case letters are no switches
        {"-g", "cube", "-d", "a.dff", "-o", "a2.col"},
        {"-g", "box", "-d", "a.dff"},
        {"-g", "-d", "a.dff", "-o", "a2.col"},  // the generator word ends at the next '-'
        {"-i", "-d", "models/a.dff"},           // "/a" inside the value selects append
        {"-v", "-d", "a.dff", "-n", "b.dff"},
        {"-v", "-d", "a.dff", "-o", "out.dff"},
        {"-a", "-i", "-d", "a.dff", "-c", "a.col", "-a"},  // the last mode wins
    };
    const Tree before = Snapshot();
    for (const Args& line : lines) {
        SCOPED_TRACE("arguments:" + ArgsText(line));
        EXPECT_EQ(Run(line).out, kUsageText);
        EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
    }
}

TEST_F(UsageTest, PrintsUsageForValuesLongerThanTheirField) {
    Put("a.dff", MakeCanonicalModel());
    Put("a.col", MakeCol3File());
    const std::string path260(260, 'p');
    const std::string path261(261, 'p');
    const Tree before = Snapshot();

    // A path of 260 characters fits; no such file can exist, so the load fails
    // with the whole path in the message.
    EXPECT_EQ(Run({"-i", "-d", path260}).out, LoadError(path260));

    const std::vector<Args> lines = {
        {"-i", "-d", path261},
        {"-a", "-d", "a.dff", "-c", path261, "-o", "out.dff"},
        {"-g", "box", "-d", "a.dff", "-o", path261},
        {"-g", std::string(65, 'x'), "-d", "a.dff", "-o", "a2.col"},
        {"-g", "box" + std::string(62, 'x'), "-d", "a.dff", "-o", "a2.col"},
    };
    for (const Args& line : lines) {
        SCOPED_TRACE("arguments:" + ArgsText(line).substr(0, 80));
        EXPECT_EQ(Run(line).out, kUsageText);
    }
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

class InfoModeTest : public ProgramTest {};

TEST_F(InfoModeTest, ReportsWhetherTheClumpExtensionBeginsWithACollision) {
    Put("plain.dff", MakeCanonicalModel());
    Put("col.dff", ModelWithExtension({CollisionEntry(MakeCol3File())}));
    Put("colfirst.dff", ModelWithExtension({CollisionEntry(MakeCol3File()), OtherEntry()}));
    Put("colsecond.dff", ModelWithExtension({OtherEntry(), CollisionEntry(MakeCol3File())}));
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-i", "-d", "plain.dff"}).out, kNoCollision);
    EXPECT_EQ(Run({"-i", "-d", "col.dff"}).out, kHasCollision);
    EXPECT_EQ(Run({"-i", "-d", "colfirst.dff"}).out, kHasCollision);
    // Only the first entry is looked at.
    EXPECT_EQ(Run({"-i", "-d", "colsecond.dff"}).out, kNoCollision);
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(InfoModeTest, ReportsModelsThatCannotBeLoaded) {
    Put("empty.dff", Bytes{});
    Put("struct.dff", MakeChunk(kChunkStruct, {1, 0, 0, 0}));
    Put("dictonly.dff", MakeChunk(kChunkUvAnimDictionary, {0, 0, 0, 0}));
    ClumpSpec twoAtomics = MakeCanonicalModel();
    twoAtomics.children.push_back(ClumpChild::MakeAtomic());
    Put("twoatomics.dff", twoAtomics);
    MakeDir("dir.dff");
    const Tree before = Snapshot();

    for (const std::string name :
         {"missing.dff", "empty.dff", "struct.dff", "dictonly.dff", "twoatomics.dff", "dir.dff"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Run({"-i", "-d", name}).out, LoadError(name));
    }
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(InfoModeTest, AcceptsSwitchesInAnyOrderAndSpelling) {
    Put("a.dff", MakeCanonicalModel());
    const std::vector<Args> lines = {
        {"-i", "-d", "a.dff"},
        {"-d", "a.dff", "-i"},
        {"-da.dff", "-i"},
        {"/i", "/d", "a.dff"},
        {"-i", "-d", "b.dff", "-d", "a.dff"},  // the last value wins
        {"-x", "-i", "-q", "-d", "a.dff"},     // unknown letters are ignored
        {"-v", "-g", "box", "-i", "-d", "a.dff"},
    };
    for (const Args& line : lines) {
        SCOPED_TRACE("arguments:" + ArgsText(line));
        EXPECT_EQ(Run(line).out, kNoCollision);
    }
}

TEST_F(InfoModeTest, SkipsSpacesBeforeAValue) {
    if (UsesLauncher())
        GTEST_SKIP() << "a launcher quotes an argument that holds spaces";
    Put("a.dff", MakeCanonicalModel());
    EXPECT_EQ(Run({"-i", "-d", "   a.dff"}).out, kNoCollision);
}

TEST_F(InfoModeTest, EndsAValueAtADash) {
    Put("my-house.dff", MakeCanonicalModel());
    // The value is "my"; the 'h' after the dash is an unknown switch.
    EXPECT_EQ(Run({"-i", "-d", "my-house.dff"}).out, LoadError("my"));
    Put("my", ModelWithExtension({CollisionEntry(MakeCol3File())}));
    EXPECT_EQ(Run({"-i", "-d", "my-house.dff"}).out, kHasCollision);
}

TEST_F(InfoModeTest, KeepsQuotationMarksInValues) {
    if (UsesLauncher())
        GTEST_SKIP() << "a launcher re-quotes the arguments";
    Put("a.dff", MakeCanonicalModel());
    EXPECT_EQ(Run({"-i", "-d", "\"a.dff\""}).out, LoadError("\"a.dff\""));
    Put("\"q.dff\"", MakeCanonicalModel());
    EXPECT_EQ(Run({"-i", "-d", "\"q.dff\""}).out, kNoCollision);
}

TEST_F(InfoModeTest, ScansTheProgramNameButNotItsDirectory) {
    if (UsesLauncher())
        GTEST_SKIP() << "the launcher decides the program's name";
    Put("a.dff", MakeCanonicalModel());
    EXPECT_EQ(Run({"-d", "a.dff"}, "brennix-i").out, kNoCollision);
    // Only the name after the last '/' is scanned: "-ocol" in the directory
    // would otherwise name an output file.
    const Tree before = Snapshot();
    EXPECT_EQ(Run({"-g", "box", "-d", "a.dff"}, "x-ocol/brennix").out, kUsageText);
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(InfoModeTest, AnswersEvenWhenFramesOrGeometryCannotBeRead) {
    ClumpSpec badFrames = MakeCanonicalModel();
    badFrames.Frames().structType = kChunkString;
    Put("frames.dff", badFrames);

    ClumpSpec badGeometry = MakeCanonicalModel();
    badGeometry.FindChild(ClumpChildKind::GeometryList)->geometryList.countOverride = 2;
    Put("geometry.dff", badGeometry);

    ClumpSpec cutGeometry = MakeCanonicalModel();
    cutGeometry.FirstGeometry().structBodyLength = 10;
    cutGeometry.ExtensionEntries() = {CollisionEntry(MakeCol3File())};
    Put("cut.dff", cutGeometry);

    ClumpSpec bare;
    bare.children = {ClumpChild::MakeStruct(), ClumpChild::MakeExtension()};
    Put("bare.dff", bare);
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-i", "-d", "frames.dff"}).out, kNoCollision);
    EXPECT_EQ(Run({"-i", "-d", "geometry.dff"}).out, kNoCollision);
    EXPECT_EQ(Run({"-i", "-d", "cut.dff"}).out, kHasCollision);
    EXPECT_EQ(Run({"-i", "-d", "bare.dff"}).out, kNoCollision);
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

}  // namespace
}  // namespace brennix::e2e
