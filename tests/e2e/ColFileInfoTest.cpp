// brennix info on COL files: what each entry holds, the reader's errors and
// warnings in both forms with their exit codes, and COL files found in
// folders beside models.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ProgramRunner.h"
#include "support/ColBuilder.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// An entry with nothing in it yet: version 3, "house", model id 7, in the
// box -1 .. 1.
ColEntryPlan Plain() {
    ColEntryPlan s;
    s.name = "house";
    s.modelId = 7;
    s.boundsMin = {-1, -1, -1};
    s.boundsMax = {1, 1, 1};
    s.radius = 2;
    return s;
}

// A triangle, one box and one sphere on two surfaces.
ColEntryPlan House() {
    ColEntryPlan s = Plain();
    s.spheres = {{{0, 0, 0}, 1, {4}}};
    s.boxes = {{{-1, -1, -1}, {0, 0, 0}, {1}}};
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    s.faces = {{0, 1, 2, {1}}};
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
    ColEntryPlan shed = House();
    shed.version = 1;
    shed.name = "shed";
    shed.modelId = 9;
    shed.faces.clear();
    shed.vertices.clear();
    // Whatever its name, a file is known by its first bytes.
    Put("city.img", BuildColArchive({House(), shed}));

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
    ColEntryPlan v1 = House();
    v1.version = 1;
    ColEntryPlan farVertex = v1;
    farVertex.vertices[2] = {0, 300, 0};
    farVertex.boundsMax = {1, 301, 1};
    ColEntryPlan pastVertices = v1;
    pastVertices.faces = {{0, 1, 5, {0}}};
    ColEntryPlan loose = House();
    loose.boundsMax = {1, 0.5f, 1};
    ColEntryPlan empty = Plain();
    empty.flags = 2;
    ColEntryPlan grouped = House();
    grouped.faceGroups = {{{-1, -1, -1}, {1, 1, 1}, 0, 0}};
    grouped.flags = 2;
    ColEntryPlan longName = House();
    longName.name = std::string(22, 'n');

    Bytes sizeOff = BuildColEntry(House());
    sizeOff[kColSizeAt + 1] += 1;  // 256 bytes more than the file holds
    Bytes outside = BuildColEntry(House());
    outside[kColFaceOffsetAt] = 0xF0;
    const Bytes house = BuildColEntry(House());
    const Case cases[] = {
        {"size field", sizeOff, true, "is 452 bytes, but only 196 remain", 0, 0, -1},
        {"section outside", outside, true, "run past the end of the entry", 0, 0, -1},
        // The entry after the broken one is still read, and keeps its number.
        {"index past the vertices", Cat({BuildColEntry(pastVertices), house}), true,
         "face 0 names vertex 5", 0, 1, 1},
        {"trailing bytes", Cat({house, Bytes{'x', 'y', 'z', 0, 1, 2, 3, 4, 5}}), true,
         "trailing bytes", -1, 1, 0},
        {"loose bounds", BuildColEntry(loose), false, "do not enclose sphere 0", 0, 1, 0},
        {"flag 2 when empty", BuildColEntry(empty), false, "flag 2 (not empty) is set", 0, 1, 0},
        {"groups without flag 8", BuildColEntry(grouped), false, "but flag 8 is not set", 0, 1, 0},
        {"version-1 vertex", BuildColEntry(farVertex), false, "outside -256 .. 255.99", 0, 1, 0},
        {"name without terminator", BuildColEntry(longName), false, "no terminating zero", 0, 1, 0},
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
    Put("maps/sub/house.COL", BuildColEntry(House()));
    Put("maps/notes.txt", BuildColEntry(House()));

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
