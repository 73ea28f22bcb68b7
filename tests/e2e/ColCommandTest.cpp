// brennix col: standard COL3 files from whole models, compared with the
// classic generator, their paths, archives, refusals and exit codes.
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

Col3File ReadCol(const Bytes& bytes) {
    Col3File col;
    std::string why;
    EXPECT_TRUE(ReadCol3(bytes, &col, &why)) << why;
    return col;
}

// Reads a standard COL3 file (size = length - 8, flag 2 when not empty, a
// name of up to 21 bytes) with the independent reader, which knows the
// classic layout: the standard fields are checked here and then put back
// into the classic form.
Col3File ReadStandard(Bytes bytes, std::string* name = nullptr) {
    Col3File col;
    EXPECT_GE(bytes.size(), kCol3HeaderSize);
    if (bytes.size() < kCol3HeaderSize)
        return col;
    EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8);
    const uint32_t flags = GetU32(bytes, 80);
    EXPECT_EQ((flags & 2) != 0, GetU16(bytes, 72) + GetU16(bytes, 74) + GetU16(bytes, 76) > 0);
    EXPECT_EQ(bytes[29], 0);
    if (name != nullptr)
        *name = std::string(reinterpret_cast<const char*>(&bytes[8]));
    const uint32_t classicSize = static_cast<uint32_t>(bytes.size() - 4);
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = static_cast<uint8_t>(classicSize >> (8 * i));
    bytes[28] = 0;
    bytes[80] = static_cast<uint8_t>(flags & ~2u);
    std::string why;
    EXPECT_TRUE(ReadCol3(bytes, &col, &why)) << why;
    return col;
}

// Each face as its three vertices, so that meshes with different vertex
// numbering compare by what they describe.
std::vector<std::vector<Col3Vertex>> Corners(const Col3File& col) {
    std::vector<std::vector<Col3Vertex>> faces;
    for (const Col3Face& f : col.faces)
        faces.push_back({col.vertices.at(f.a), col.vertices.at(f.b), col.vertices.at(f.c)});
    return faces;
}

// Two atomics on two geometries: "body" moved by (1, 2, 3), "door" under it
// moved by (4, 0, 0) more. Each geometry is one triangle.
ClumpSpec TwoGeometryModel(float doorZ = 1) {
    FrameListSpec frames;
    frames.frames = {MakeFrame("root", -1), MakeFrame("body", 0), MakeFrame("door", 1)};
    frames.frames[1].position = {1.0f, 2.0f, 3.0f};
    frames.frames[2].position = {4.0f, 0.0f, 0.0f};
    GeometryListSpec list;
    list.geometries = {
        MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}),
        MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 0, doorZ}}, {{0, 1, 0, 2}})};
    return MakeMultiAtomicModel(frames, list);
}

class ColCommandTest : public ProgramTest {
protected:
    RunResult RunCommand(const std::vector<std::string>& args) {
        RunResult result = RunProgram(dir_, args);
        EXPECT_EQ(result.problem, "");
        return result;
    }
};

TEST_F(ColCommandTest, OneAtomicModelGivesTheClassicMesh) {
    const ClumpSpec models[] = {MakeCanonicalModel(), MakeHouseModel(), MakeBoxModel()};
    for (const ClumpSpec& model : models) {
        Put("m.dff", model);
        Run({"-g", "mesh", "-d", "m.dff", "-o", "classic.col"});
        Col3File classic = ReadCol(Get("classic.col"));

        RunResult welded = RunCommand({"col", "--force", "m.dff"});
        ASSERT_EQ(welded.exitStatus, 0) << welded.err;
        std::string name;
        Col3File col = ReadStandard(Get("m.col"), &name);
        EXPECT_EQ(name, "m");
        EXPECT_EQ(Corners(col), Corners(classic));

        RunResult kept = RunCommand({"col", "--no-weld", "--force", "-o", "kept.col", "m.dff"});
        ASSERT_EQ(kept.exitStatus, 0) << kept.err;
        Col3File exact = ReadStandard(Get("kept.col"));
        EXPECT_EQ(exact.faces, classic.faces);
        EXPECT_EQ(exact.vertices, classic.vertices);
    }
}

TEST_F(ColCommandTest, TwoGeometryModelGivesBothPartsInPlace) {
    Put("car.dff", TwoGeometryModel());
    Run({"-g", "mesh", "-d", "car.dff", "-o", "classic.col"});
    EXPECT_FALSE(Exists("classic.col"));

    RunResult result = RunCommand({"col", "car.dff"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    Col3File col = ReadStandard(Get("car.col"));
    // Body at (1, 2, 3), door at (5, 2, 3); faces a = third, b = first, c = second.
    const std::vector<std::vector<Col3Vertex>> expected = {
        {{128, 384, 384}, {128, 256, 384}, {256, 256, 384}},
        {{640, 256, 512}, {640, 256, 384}, {768, 256, 384}},
    };
    EXPECT_EQ(Corners(col), expected);
    EXPECT_EQ(col.boundsMin, (std::array<float, 3>{1, 2, 3}));
    EXPECT_EQ(col.boundsMax, (std::array<float, 3>{6, 3, 4}));
    EXPECT_EQ(col.sphereCentre, (std::array<float, 3>{3.5f, 2.5f, 3.5f}));
}

TEST_F(ColCommandTest, TakesAnyPathAndFolders) {
    MakeDir("my models/sub-dir");
    MakeDir("out put");
    Put("my models/a-b c.dff", MakeCanonicalModel());
    Put("my models/sub-dir/D.DFF", MakeHouseModel());
    Put("-lead.dff", MakeCanonicalModel());

    RunResult beside = RunCommand({"col", "-r", "-j", "2", "--", "my models", "-lead.dff"});
    EXPECT_EQ(beside.exitStatus, 0) << beside.err;
    EXPECT_TRUE(Exists("my models/a-b c.col"));
    EXPECT_TRUE(Exists("my models/sub-dir/D.col"));
    EXPECT_TRUE(Exists("-lead.col"));
    EXPECT_TRUE(Contains(beside.err, "[info] 3 files: 3 written\n")) << beside.err;

    RunResult gathered = RunCommand({"col", "--out-dir", "out put", "-r", "my models"});
    EXPECT_EQ(gathered.exitStatus, 0) << gathered.err;
    std::string name;
    ReadStandard(Get("out put/a-b c.col"), &name);
    EXPECT_EQ(name, "a-b c");
    ReadStandard(Get("out put/sub-dir/D.col"), &name);
    EXPECT_EQ(name, "D");
}

TEST_F(ColCommandTest, ExitsZeroOneOrTwo) {
    Put("good.dff", MakeCanonicalModel());
    Put("other.dff", MakeHouseModel());
    Put("broken.dff", Bytes{1, 2, 3});
    Put("bad-rules.txt", Bytes{'a', ' ', '=', ' ', '1', '\n', 'b', '\n'});
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        const char* inErr;
    };
    const Case cases[] = {
        {{"col", "good.dff", "other.dff"}, 0, "[info] 2 files: 2 written\n"},
        {{"col", "--force", "good.dff", "broken.dff", "gone.dff"},
         1,
         "[info] 3 files: 1 written, 2 failed\n"},
        {{"col", "good.dff", "gone.dff"}, 1, "[error] gone.dff: no such file or folder\n"},
        {{"col", "-o", "x.col", "good.dff", "other.dff"}, 2, "-o names the output of one model"},
        {{"col", "--shape", "ball", "good.dff"}, 2, "--shape"},
        {{"col", "--surfaces", "bad-rules.txt", "good.dff"},
         2,
         "[error] --surfaces bad-rules.txt: line 2: expected PATTERN = ID, found \"b\"\n"},
        {{"col", "--archive", "a.col", "--out-dir", ".", "good.dff"}, 2, "--archive"},
    };
    for (const Case& c : cases) {
        RunResult result = RunCommand(c.args);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.args[1] << "\n" << result.err;
        EXPECT_TRUE(Contains(result.err, c.inErr)) << result.err;
    }
    EXPECT_FALSE(Exists("broken.col"));
    EXPECT_FALSE(Exists("x.col"));
}

TEST_F(ColCommandTest, RefusesAModelPastTheRangeAndWritesNothing) {
    Put("far.dff", TwoGeometryModel(300));
    RunResult result = RunCommand({"col", "far.dff"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(Contains(result.err,
                         "[error] far.dff: atomic 1 (frame \"door\"): vertex 2 has z = 303, "
                         "outside -256 .. 255.99\n"))
        << result.err;
    EXPECT_FALSE(Exists("far.col"));

    RunResult bounds = RunCommand({"col", "--shape", "empty", "far.dff"});
    EXPECT_EQ(bounds.exitStatus, 0) << bounds.err;
    EXPECT_EQ(ReadStandard(Get("far.col")).boundsMax[2], 303.0f);
}

TEST_F(ColCommandTest, ArchiveHoldsEveryModelInOrderByName) {
    const std::string longName = "a_model_name_of_25_bytes_";
    Put("b.dff", MakeCanonicalModel());
    Put("a.dff", TwoGeometryModel());
    Put("bad.dff", Bytes{0});
    Put(longName + ".dff", MakeHouseModel());
    RunResult result =
        RunCommand({"col", "--archive", "all.col", "b.dff", "bad.dff", "a.dff", longName + ".dff"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(Contains(result.err, "[info] " + longName + ".dff: model name")) << result.err;
    EXPECT_FALSE(Exists("b.col"));

    const Bytes archive = Get("all.col");
    std::vector<std::string> names;
    for (size_t at = 0; at < archive.size();) {
        ASSERT_LE(at + 8, archive.size());
        const size_t length = GetU32(archive, at + 4) + 8;
        ASSERT_LE(length, archive.size() - at);
        std::string name;
        ReadStandard(Bytes(archive.begin() + static_cast<std::ptrdiff_t>(at),
                           archive.begin() + static_cast<std::ptrdiff_t>(at + length)),
                     &name);
        names.push_back(name);
        at += length;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"b", "a", longName.substr(0, 21)}));
}

}  // namespace
}  // namespace brennix::e2e
