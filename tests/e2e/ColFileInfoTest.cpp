// brennix info on COL files: what each entry holds, the reader's errors and
// warnings in both forms with their exit codes, and COL files found in
// folders beside models.
#include <algorithm>
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

// One entry of a COL file, as the tests lay it out by hand.
struct EntrySpec {
    int version = 3;  // 1 or 3
    std::string name = "house";
    uint16_t modelId = 7;
    Vec3 min{-1, -1, -1}, max{1, 1, 1}, centre{0, 0, 0};
    float radius = 2;
    std::vector<std::pair<Vec3, uint8_t>> spheres;  // centre (radius 1), material
    std::vector<std::pair<Vec3, uint8_t>> boxes;    // min (size 1), material
    std::vector<Vec3> vertices;
    std::vector<Triangle> faces;  // the material in `materialIndex`
    int faceGroups = 0;           // groups before the faces, flag 8 or not
    int64_t flags = -1;           // -1: 2 when not empty, 8 with face groups
};

void PutVec(Bytes& out, const Vec3& v) {
    PutF32(out, v.x);
    PutF32(out, v.y);
    PutF32(out, v.z);
}

void PutSurface(Bytes& out, uint8_t material) {
    PutU8(out, material);
    PutU8(out, 0);
    PutU8(out, 0);
    PutU8(out, 0);
}

void PutVersion1(const EntrySpec& s, Bytes& out) {
    PutF32(out, s.radius);
    PutVec(out, s.centre);
    PutVec(out, s.min);
    PutVec(out, s.max);
    PutU32(out, static_cast<uint32_t>(s.spheres.size()));
    for (const auto& [centre, material] : s.spheres) {
        PutF32(out, 1);
        PutVec(out, centre);
        PutSurface(out, material);
    }
    PutU32(out, 0);  // lines
    PutU32(out, static_cast<uint32_t>(s.boxes.size()));
    for (const auto& [min, material] : s.boxes) {
        PutVec(out, min);
        PutVec(out, {min.x + 1, min.y + 1, min.z + 1});
        PutSurface(out, material);
    }
    PutU32(out, static_cast<uint32_t>(s.vertices.size()));
    for (const Vec3& v : s.vertices)
        PutVec(out, v);
    PutU32(out, static_cast<uint32_t>(s.faces.size()));
    for (const Triangle& t : s.faces) {
        PutU32(out, t.v1);
        PutU32(out, t.v2);
        PutU32(out, t.v3);
        PutSurface(out, static_cast<uint8_t>(t.materialIndex));
    }
}

// The 120-byte header, then spheres, boxes, vertices (padded), face groups
// and their count, faces.
void PutVersion3(const EntrySpec& s, Bytes& out) {
    Bytes body;
    auto offset = [&body] { return static_cast<uint32_t>(120 + body.size() - 4); };
    const uint32_t sphereOffset = s.spheres.empty() ? 0 : offset();
    for (const auto& [centre, material] : s.spheres) {
        PutVec(body, centre);
        PutF32(body, 1);
        PutSurface(body, material);
    }
    const uint32_t boxOffset = s.boxes.empty() ? 0 : offset();
    for (const auto& [min, material] : s.boxes) {
        PutVec(body, min);
        PutVec(body, {min.x + 1, min.y + 1, min.z + 1});
        PutSurface(body, material);
    }
    const uint32_t vertexOffset = s.vertices.empty() ? 0 : offset();
    for (const Vec3& v : s.vertices) {
        PutI16(body, static_cast<int16_t>(v.x * 128));
        PutI16(body, static_cast<int16_t>(v.y * 128));
        PutI16(body, static_cast<int16_t>(v.z * 128));
    }
    while (body.size() % 4 != 0)
        PutU8(body, 0);
    for (int g = 0; g < s.faceGroups; ++g) {
        PutVec(body, s.min);
        PutVec(body, s.max);
        PutU16(body, 0);
        PutU16(body, static_cast<uint16_t>(s.faces.size() - 1));
    }
    if (s.faceGroups > 0)
        PutU32(body, static_cast<uint32_t>(s.faceGroups));
    const uint32_t faceOffset = s.faces.empty() ? 0 : offset();
    for (const Triangle& t : s.faces) {
        PutU16(body, t.v1);
        PutU16(body, t.v2);
        PutU16(body, t.v3);
        PutU8(body, static_cast<uint8_t>(t.materialIndex));
        PutU8(body, 0);
    }
    uint32_t flags = s.spheres.size() + s.boxes.size() + s.faces.size() > 0 ? 2 : 0;
    flags |= s.faceGroups > 0 ? 8 : 0;
    PutVec(out, s.min);
    PutVec(out, s.max);
    PutVec(out, s.centre);
    PutF32(out, s.radius);
    PutU16(out, static_cast<uint16_t>(s.spheres.size()));
    PutU16(out, static_cast<uint16_t>(s.boxes.size()));
    PutU16(out, static_cast<uint16_t>(s.faces.size()));
    PutU16(out, 0);  // lines, pad
    PutU32(out, s.flags >= 0 ? static_cast<uint32_t>(s.flags) : flags);
    for (uint32_t at : {sphereOffset, boxOffset, 0u, vertexOffset, faceOffset, 0u, 0u, 0u, 0u})
        PutU32(out, at);
    PutBytes(out, body);
}

Bytes Entry(const EntrySpec& s) {
    Bytes rest;
    if (s.version == 1)
        PutVersion1(s, rest);
    else
        PutVersion3(s, rest);
    Bytes out;
    PutString(out, s.version == 1 ? "COLL" : "COL3");
    PutU32(out, static_cast<uint32_t>(32 + rest.size() - 8));
    // The whole 22 bytes when the name fills them: no terminator then.
    for (size_t i = 0; i < 22; ++i)
        PutU8(out, i < s.name.size() ? static_cast<uint8_t>(s.name[i]) : 0);
    PutU16(out, s.modelId);
    PutBytes(out, rest);
    return out;
}

// A triangle, one box and one sphere on two surfaces.
EntrySpec House() {
    EntrySpec s;
    s.spheres = {{{0, 0, 0}, 4}};
    s.boxes = {{{-1, -1, -1}, 1}};
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    s.faces = {{0, 1, 1, 2}};
    return s;
}

class ColFileInfoTest : public ProgramTest {
protected:
    RunResult RunCommand(const std::vector<std::string>& args) {
        RunResult result = RunProgram(dir_, args);
        EXPECT_EQ(result.problem, "");
        return result;
    }
    nlohmann::json RunJson(const std::string& name) {
        RunResult result = RunCommand({"info", "--json", name});
        return nlohmann::json::parse(result.out, nullptr, false);
    }
};

TEST_F(ColFileInfoTest, DescribesEveryEntryOfAnArchive) {
    EntrySpec shed = House();
    shed.version = 1;
    shed.name = "shed";
    shed.modelId = 9;
    shed.faces.clear();
    shed.vertices.clear();
    // Whatever its name, a file is known by its first bytes.
    Put("city.img", Cat({Entry(House()), Entry(shed)}));

    RunResult text = RunCommand({"info", "city.img"});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    for (const char* line : {
             "  file         COL archive, 2 entries, ",
             "  entry 1      COL3 \"house\", model id 7, ",
             "               1 sphere, 1 box, 1 face, 3 vertices, 0 face groups, 0 shadow faces, "
             "0 lines\n",
             "               flags 0x2 (not empty)\n",
             "               bounds: box (-1, -1, -1) to (1, 1, 1), centre (0, 0, 0), radius 2\n",
             "               surface 1 Tarmac: 1 face, 1 box\n",
             "               surface 4 Pavement: 1 sphere\n",
             "  entry 2      COLL \"shed\", model id 9, ",
         })
        EXPECT_TRUE(Contains(text.out, line)) << line << "\n" << text.out;

    const nlohmann::json doc = RunJson("city.img");
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["type"], "col");
    EXPECT_EQ(doc["ok"], true);
    ASSERT_EQ(doc["entries"].size(), 2u);
    const nlohmann::json& house = doc["entries"][0];
    EXPECT_EQ(house["fourcc"], "COL3");
    EXPECT_EQ(house["flags"], 2);
    EXPECT_EQ(house["vertices"], 3);
    EXPECT_EQ(house["bounds"]["radius"], 2.0);
    EXPECT_EQ(house["surfaces"][0],
              nlohmann::json::parse(R"({"id":1,"name":"Tarmac","group":"road","faces":1,
                                        "boxes":1,"spheres":0,"shadowFaces":0})"));
    const nlohmann::json& shedDoc = doc["entries"][1];
    EXPECT_EQ(shedDoc["number"], 1);
    EXPECT_EQ(shedDoc["version"], 1);
    EXPECT_EQ(shedDoc["flags"], nullptr);
    EXPECT_EQ(shedDoc["offset"], house["length"]);
    EXPECT_EQ(doc["errorCount"], 0);
}

TEST_F(ColFileInfoTest, ReportsErrorsAndWarnings) {
    struct Case {
        const char* what;
        Bytes bytes;
        bool error;           // else a warning
        const char* message;  // part of the one problem's message
        int entry;            // its "entry", -1 for null
        size_t entries;       // read whole
        int number;           // the first of them in the file, from 0
    };
    EntrySpec v1 = House();
    v1.version = 1;
    EntrySpec farVertex = v1;
    farVertex.vertices[2] = {0, 300, 0};
    farVertex.max = {1, 301, 1};
    EntrySpec pastVertices = v1;
    pastVertices.faces = {{0, 1, 0, 5}};
    EntrySpec loose = House();
    loose.max = {1, 0.5f, 1};
    EntrySpec empty;
    empty.flags = 2;
    EntrySpec grouped = House();
    grouped.faceGroups = 1;
    grouped.flags = 2;
    EntrySpec longName = House();
    longName.name = std::string(22, 'n');

    Bytes sizeOff = Entry(House());
    sizeOff[5] += 1;  // 256 bytes more than the file holds
    Bytes outside = Entry(House());
    outside[100] = 0xF0;  // the face offset
    const Bytes house = Entry(House());
    const Case cases[] = {
        {"size field", sizeOff, true, "is 452 bytes, but only 196 remain", 0, 0, -1},
        {"section outside", outside, true, "run past the end of the entry", 0, 0, -1},
        // The entry after the broken one is still read, and keeps its number.
        {"index past the vertices", Cat({Entry(pastVertices), house}), true,
         "face 0 names vertex 5", 0, 1, 1},
        {"trailing bytes", Cat({house, Bytes{'x', 'y', 'z', 0, 1, 2, 3, 4, 5}}), true,
         "trailing bytes", -1, 1, 0},
        {"loose bounds", Entry(loose), false, "do not enclose sphere 0", 0, 1, 0},
        {"flag 2 when empty", Entry(empty), false, "flag 2 (not empty) is set", 0, 1, 0},
        {"groups without flag 8", Entry(grouped), false, "but flag 8 is not set", 0, 1, 0},
        {"version-1 vertex", Entry(farVertex), false, "outside -256 .. 255.99", 0, 1, 0},
        {"name without terminator", Entry(longName), false, "no terminating zero", 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("x.col", c.bytes);
        RunResult text = RunCommand({"info", "x.col"});
        EXPECT_EQ(text.exitStatus, c.error ? 1 : 0) << text.err;
        const std::string label = c.error ? "\n  error        " : "\n  warning      ";
        const size_t at = text.out.find(label);
        ASSERT_NE(at, std::string::npos) << text.out;
        EXPECT_TRUE(Contains(text.out.substr(at), c.message)) << text.out;
        EXPECT_EQ(Contains(text.err, "[error] x.col: "), c.error) << text.err;

        const nlohmann::json doc = RunJson("x.col");
        ASSERT_FALSE(doc.is_discarded());
        EXPECT_EQ(doc["ok"], !c.error);
        ASSERT_EQ(doc["entries"].size(), c.entries);
        if (c.number >= 0) {
            EXPECT_EQ(doc["entries"][0]["number"], c.number);
            EXPECT_TRUE(Contains(text.out, "  entry " + std::to_string(c.number + 1) + "  "))
                << text.out;
        }
        const nlohmann::json& problems = doc[c.error ? "errors" : "warnings"];
        ASSERT_EQ(problems.size(), 1u) << doc;
        EXPECT_EQ(doc[c.error ? "errorCount" : "warningCount"], 1);
        EXPECT_EQ(doc[c.error ? "warningCount" : "errorCount"], 0) << doc;
        EXPECT_TRUE(Contains(problems[0]["message"].get<std::string>(), c.message)) << doc;
        EXPECT_EQ(problems[0]["entry"], c.entry < 0 ? nlohmann::json() : nlohmann::json(c.entry));
    }
}

TEST_F(ColFileInfoTest, FoldersGiveColFilesToInfoOnly) {
    MakeDir("maps/sub");
    Put("maps/sub/house.dff", MakeCanonicalModel());
    Put("maps/sub/house.COL", Entry(House()));
    Put("maps/notes.txt", Entry(House()));

    RunResult info = RunCommand({"info", "--json", "-r", "maps"});
    EXPECT_EQ(info.exitStatus, 0) << info.err;
    std::vector<nlohmann::json> docs;
    for (size_t at = 0, end; (end = info.out.find('\n', at)) != std::string::npos; at = end + 1)
        docs.push_back(nlohmann::json::parse(info.out.substr(at, end - at)));
    ASSERT_EQ(docs.size(), 2u) << info.out;
    EXPECT_TRUE(Contains(docs[0]["path"].get<std::string>(), "house.COL"));
    EXPECT_EQ(docs[0]["type"], "col");
    EXPECT_TRUE(Contains(docs[1]["file"].get<std::string>(), "house.dff"));

    // The model commands still take models alone.
    RunResult extract = RunCommand({"extract", "-r", "--out-dir", "out", "maps"});
    EXPECT_TRUE(Contains(extract.err, "[info] 1 file: ")) << extract.err;
}

}  // namespace
}  // namespace brennix::e2e
