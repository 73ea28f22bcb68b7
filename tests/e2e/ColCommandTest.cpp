// brennix col: standard COL3 files from whole models, compared with the
// classic generator, their paths, archives, refusals and exit codes; the
// simplified mesh, its face groups, and what the summary and info say of it.
#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
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

// A box from -2 to 2 on each axis, each side a grid of n x n squares: 12 n^2
// triangles that 12 describe as well.
ClumpSpec TessellatedBox(int n) {
    std::vector<Vec3> positions;
    std::vector<Triangle> triangles;
    for (int axis = 0; axis < 3; ++axis) {
        for (float side : {-2.0f, 2.0f}) {
            const auto first = static_cast<uint16_t>(positions.size());
            for (int i = 0; i <= n; ++i) {
                for (int j = 0; j <= n; ++j) {
                    float p[3];
                    p[axis] = side;
                    p[(axis + 1) % 3] =
                        -2.0f + 4.0f * static_cast<float>(i) / static_cast<float>(n);
                    p[(axis + 2) % 3] =
                        -2.0f + 4.0f * static_cast<float>(j) / static_cast<float>(n);
                    positions.push_back({p[0], p[1], p[2]});
                }
            }
            auto at = [&](int i, int j) { return static_cast<uint16_t>(first + i * (n + 1) + j); };
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j) {
                    // Outward on both sides.
                    const uint16_t a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1),
                                   d = at(i, j + 1);
                    if (side > 0)
                        triangles.insert(triangles.end(), {{a, b, 0, c}, {a, c, 0, d}});
                    else
                        triangles.insert(triangles.end(), {{a, c, 0, b}, {a, d, 0, c}});
                }
            }
        }
    }
    return MakeModelWithPositions(positions, triangles);
}

// A grid of cols x rows unit squares, two triangles each, its vertices at
// height(i, j): the first `count` of its triangles (every one for -1).
ClumpSpec Grid(int cols, int rows, float (*height)(int, int), int count = -1) {
    std::vector<Vec3> positions;
    std::vector<Triangle> triangles;
    for (int i = 0; i <= cols; ++i) {
        for (int j = 0; j <= rows; ++j)
            positions.push_back({static_cast<float>(i), static_cast<float>(j), height(i, j)});
    }
    for (int i = 0; i < cols; ++i) {
        for (int j = 0; j < rows; ++j) {
            const auto a = static_cast<uint16_t>(i * (rows + 1) + j);
            const auto b = static_cast<uint16_t>(a + rows + 1);
            const auto c = static_cast<uint16_t>(b + 1), d = static_cast<uint16_t>(a + 1);
            triangles.insert(triangles.end(), {{a, b, 0, c}, {a, c, 0, d}});
        }
    }
    if (count >= 0)
        triangles.resize(static_cast<size_t>(count));
    return MakeModelWithPositions(positions, triangles);
}

float Flat(int, int) {
    return 0;
}

// Scattered heights up to 1 unit: on unit squares, no triangle may go
// within 0.05.
float Rough(int i, int j) {
    return static_cast<float>((i * 37 + j * j * 11 + i * j * 5) % 17) / 16;
}

// 1200 as "1,200".
std::string Grouped(size_t n) {
    const std::string digits = std::to_string(n);
    return n < 1000 ? digits
                    : digits.substr(0, digits.size() - 3) + "," + digits.substr(digits.size() - 3);
}

// The summary's "largest distance D", or -1 when it has none.
double LargestDistance(const std::string& err) {
    const std::string key = "largest distance ";
    const size_t at = err.find(key);
    return at == std::string::npos ? -1 : std::stod(err.substr(at + key.size()));
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

        RunResult welded = RunCommand({"col", "--max-error", "0", "--force", "m.dff"});
        ASSERT_EQ(welded.exitStatus, 0) << welded.err;
        std::string name;
        Col3File col = ReadStandard(Get("m.col"), &name);
        EXPECT_EQ(name, "m");
        EXPECT_EQ(Corners(col), Corners(classic));

        RunResult kept = RunCommand(
            {"col", "--max-error", "0", "--no-weld", "--force", "-o", "kept.col", "m.dff"});
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

    RunResult result = RunCommand({"col", "--max-error", "0", "car.dff"});
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
    EXPECT_TRUE(Contains(beside.err, "[info] 3 files: 3 written, ")) << beside.err;

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
        {{"col", "good.dff", "other.dff"}, 0, "[info] 2 files: 2 written, "},
        {{"col", "--force", "good.dff", "broken.dff", "gone.dff"},
         1,
         "[info] 3 files: 1 written, 2 failed, "},
        {{"col", "good.dff", "gone.dff"}, 1, "[error] gone.dff: no such file or folder\n"},
        {{"col", "-o", "x.col", "good.dff", "other.dff"}, 2, "-o names the output of one model"},
        {{"col", "--shape", "ball", "good.dff"}, 2, "--shape"},
        {{"col", "--surfaces", "bad-rules.txt", "good.dff"},
         2,
         "[error] --surfaces bad-rules.txt: line 2: expected PATTERN = ID, found \"b\"\n"},
        {{"col", "--archive", "a.col", "--out-dir", ".", "good.dff"}, 2, "--archive"},
        {{"col", "--max-error", "-0.01", "good.dff"}, 2, "--max-error: Value -0.01 is not"},
        {{"col", "--max-error", "nan", "good.dff"}, 2, "--max-error: Value nan is not"},
        {{"col", "--max-error", "inf", "good.dff"}, 2, "--max-error: Value inf is not"},
        {{"col", "--max-error", "0.05mm", "good.dff"}, 2, "--max-error: Value 0.05mm is not"},
        {{"col", "--max-faces", "0", "good.dff"}, 2, "--max-faces"},
        {{"col", "--max-faces", "65536", "good.dff"}, 2, "--max-faces"},
        {{"col", "--face-groups", "--no-face-groups", "good.dff"}, 2, "excludes --no-face-groups"},
        {{"attach", "--generate", "--face-groups", "-o", "x.col", "good.dff"},
         2,
         "[error] --face-groups: attach writes no face groups"},
        {{"attach", "--generate", "--no-face-groups", "-o", "x.col", "good.dff"},
         2,
         "[error] --no-face-groups: attach writes no face groups"},
        {{"attach", "--max-error", "0", "-o", "x.col", "good.dff"}, 2, "requires --generate"},
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

    // Version 1 stores floats: the same mesh is written whole.
    RunResult v1 = RunCommand({"col", "--format", "col1", "-o", "far1.col", "far.dff"});
    EXPECT_EQ(v1.exitStatus, 0) << v1.err;
    const Bytes coll = Get("far1.col");
    ASSERT_GE(coll.size(), 4u);
    EXPECT_EQ(std::string(coll.begin(), coll.begin() + 4), "COLL");
    EXPECT_EQ(RunCommand({"col", "--format", "col2", "-o", "far2.col", "far.dff"}).exitStatus, 1);
    EXPECT_FALSE(Exists("far2.col"));
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

TEST_F(ColCommandTest, SimplifiesTheMeshWithinTheBound) {
    Put("box.dff", TessellatedBox(10));
    Put("grid.dff", Grid(10, 10, Rough));
    struct Case {
        std::string model;
        std::vector<std::string> options;
        size_t minFaces, maxFaces;
        double bound;  // box: of every vertex from its surface, in units
        bool forced;   // past the bound, with a note
    };
    const Case cases[] = {
        {"box", {}, 12, 48, 0.05, false},
        {"box", {"--max-error", "0.5"}, 12, 48, 0.5, false},
        {"box", {"--max-error", "0"}, 1200, 1200, 0, false},
        {"grid", {"--max-faces", "100"}, 1, 100, 0.05, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.begin(), {"col", "--force"});
        args.push_back(c.model + ".dff");
        RunResult result = RunCommand(args);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        const Col3File col = ReadStandard(Get(c.model + ".col"));
        const std::string what = c.model + " " + (c.options.empty() ? "" : c.options.back());
        EXPECT_GE(col.faces.size(), c.minFaces) << what;
        EXPECT_LE(col.faces.size(), c.maxFaces) << what;
        for (const Col3Vertex& v : col.vertices) {
            if (c.model != "box")
                break;
            const int largest = std::max({std::abs(v.x), std::abs(v.y), std::abs(v.z)});
            EXPECT_LE(std::abs(largest / 128.0 - 2), c.bound + 1 / 128.0) << what;
        }
        EXPECT_TRUE(Contains(result.err, "[info] 1 file: 1 written, " +
                                             std::string(c.model == "box" ? "1,200" : "200") +
                                             " triangles -> " + Grouped(col.faces.size()) +
                                             " faces, largest distance "))
            << result.err;
        const double distance = LargestDistance(result.err);
        EXPECT_EQ(distance > c.bound + 0.0005, c.forced) << what << ": " << result.err;
        EXPECT_EQ(Contains(result.err, "[info] " + c.model + ".dff: "), c.forced) << result.err;
    }
}

TEST_F(ColCommandTest, WritesFaceGroupsPastEightyFacesInColFilesOnly) {
    struct Case {
        ClumpSpec model;
        std::vector<std::string> options;
        size_t faces;
        bool groups;
    };
    const Case cases[] = {
        {Grid(40, 1, Flat), {"--max-error", "0"}, 80, false},
        {Grid(41, 1, Flat, 81), {"--max-error", "0"}, 81, true},
        {Grid(41, 1, Flat, 81), {"--max-error", "0", "--no-face-groups"}, 81, false},
        {MakeBoxModel(), {"--face-groups"}, 12, true},
        {Grid(10, 10, Rough), {}, 200, true},
        {Grid(10, 10, Rough), {"--no-face-groups"}, 200, false},
    };
    for (const Case& c : cases) {
        Put("m.dff", c.model);
        std::vector<std::string> args = {"col", "--force", "m.dff"};
        args.insert(args.begin() + 1, c.options.begin(), c.options.end());
        RunResult result = RunCommand(args);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        const Col3File col = ReadStandard(Get("m.col"));
        EXPECT_EQ(col.faces.size(), c.faces);
        EXPECT_EQ(!col.faceGroups.empty(), c.groups) << c.faces;
        EXPECT_EQ((col.flags & kCol3FlagFaceGroups) != 0, c.groups) << c.faces;
    }

    // An archive's entries get them as files do.
    Put("a.dff", Grid(40, 1, Flat));
    Put("b.dff", Grid(41, 1, Flat, 81));
    ASSERT_EQ(RunCommand({"col", "--max-error", "0", "--archive", "all.col", "a.dff", "b.dff"})
                  .exitStatus,
              0);
    const Bytes archive = Get("all.col");
    const size_t firstLength = GetU32(archive, 4) + 8;
    ASSERT_LT(firstLength, archive.size());
    EXPECT_TRUE(
        ReadStandard(Bytes(archive.begin(), archive.begin() + firstLength)).faceGroups.empty());
    EXPECT_FALSE(
        ReadStandard(Bytes(archive.begin() + firstLength, archive.end())).faceGroups.empty());

    // Collision embedded in a model gets none, however many faces it has.
    Put("m.dff", Grid(10, 10, Rough));
    RunResult attached = RunCommand({"attach", "--generate", "-o", "out.dff", "m.dff"});
    ASSERT_EQ(attached.exitStatus, 0) << attached.err;
    EXPECT_TRUE(Contains(attached.err, "[info] 1 file: 1 written, 200 triangles -> 200 faces, "))
        << attached.err;
    ASSERT_EQ(RunCommand({"extract", "-o", "out.col", "out.dff"}).exitStatus, 0);
    const Col3File col = ReadStandard(Get("out.col"));
    EXPECT_EQ(col.faces.size(), 200u);
    EXPECT_TRUE(col.faceGroups.empty());
    EXPECT_EQ(col.flags & kCol3FlagFaceGroups, 0u);
}

TEST_F(ColCommandTest, InfoReportsWhatColMakes) {
    Put("box.dff", TessellatedBox(10));
    Put("far.dff", TwoGeometryModel(300));
    Put("none.dff", Bytes{1, 2, 3, 4});
    ASSERT_EQ(RunCommand({"col", "box.dff"}).exitStatus, 0);
    const Col3File col = ReadStandard(Get("box.col"));

    RunResult text = RunCommand({"info", "box.dff", "far.dff"});
    EXPECT_TRUE(Contains(text.out, "  collision    made by col: 1,200 triangles -> " +
                                       Grouped(col.faces.size()) + " faces, "))
        << text.out;
    EXPECT_TRUE(Contains(text.out, "  collision    made by col: none, atomic 1 (frame \"door\")"))
        << text.out;

    RunResult result = RunCommand({"info", "--json", "box.dff", "far.dff", "none.dff"});
    std::vector<nlohmann::json> docs;
    for (size_t at = 0, end; (end = result.out.find('\n', at)) != std::string::npos; at = end + 1)
        docs.push_back(nlohmann::json::parse(result.out.substr(at, end - at)));
    ASSERT_EQ(docs.size(), 3u) << result.out;
    const nlohmann::json& box = docs[0]["generated"];
    EXPECT_EQ(box["triangles"], 1200);
    EXPECT_EQ(box["faces"], col.faces.size());
    EXPECT_EQ(box["vertices"], col.vertices.size());
    EXPECT_LE(box["maxDistance"].get<double>(), 0.05);
    EXPECT_EQ(box["error"], nullptr);
    const nlohmann::json& far = docs[1]["generated"];
    EXPECT_EQ(far["faces"], nullptr);
    EXPECT_TRUE(Contains(far["error"].get<std::string>(), "outside -256 .. 255.99")) << far;
    EXPECT_EQ(docs[2]["generated"], nullptr);
}

}  // namespace
}  // namespace brennix::e2e
