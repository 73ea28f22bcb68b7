// brennix convert, split and merge, and col --format: entries between
// versions with their notes and refusals, archives taken apart and put back
// byte for byte, names made safe, and outputs replaced only with --force.
#include <array>
#include <cstring>
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

// An empty entry in the bounds these tests give every entry: -300 .. 300 in
// version 1, -256 .. 255 in version 3.
ColEntryPlan Blank(int version, const std::string& name) {
    ColEntryPlan e;
    e.version = version;
    e.name = name;
    if (version == 1) {
        e.boundsMin = {-300, -300, -300};
        e.boundsMax = {300, 300, 300};
        e.radius = 600;
    } else {
        e.boundsMin = {-256, -256, -256};
        e.boundsMax = {255, 255, 255};
        e.radius = 450;
    }
    return e;
}

// A triangle, its faces on `material`.
ColEntryPlan Triangle(int version, const std::string& name, uint8_t material = 0) {
    ColEntryPlan e = Blank(version, name);
    e.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    e.faces = {{0, 1, 2, {material}}};
    return e;
}

// One face group over every face.
void GroupEveryFace(ColEntryPlan& e) {
    e.faceGroups = {
        {{-300, -300, -300}, {300, 300, 300}, 0, static_cast<uint16_t>(e.faces.size() - 1)}};
}

class ColFileCommandsTest : public ProgramTest {
protected:
    RunResult RunCommand(const std::vector<std::string>& args) {
        RunResult result = RunProgram(dir_, args);
        EXPECT_EQ(result.problem, "");
        return result;
    }
    nlohmann::json Info(const std::string& name) {
        const RunResult info = RunCommand({"info", "--json", name});
        EXPECT_EQ(info.exitStatus, 0) << info.err;
        return nlohmann::json::parse(info.out, nullptr, false);
    }
};

TEST_F(ColFileCommandsTest, SplitThenMergeGivesTheArchiveBack) {
    ColEntryPlan grouped = Triangle(3, "house", 1);
    GroupEveryFace(grouped);
    grouped.shadowVertices = grouped.vertices;
    grouped.shadowFaces = grouped.faces;
    const Bytes archive = BuildColArchive({Triangle(1, "gate", 2), grouped, Triangle(3, "shed")});
    Put("city.col", archive);
    const RunResult split = RunCommand({"split", "--out-dir", "parts", "city.col"});
    ASSERT_EQ(split.exitStatus, 0) << split.err;
    EXPECT_EQ(Get("parts/gate.col"), BuildColEntry(Triangle(1, "gate", 2)));
    const RunResult merge = RunCommand(
        {"merge", "-o", "back.col", "parts/gate.col", "parts/house.col", "parts/shed.col"});
    ASSERT_EQ(merge.exitStatus, 0) << merge.err;
    EXPECT_TRUE(Contains(merge.err, "3 entries")) << merge.err;
    EXPECT_EQ(Get("back.col"), archive);
}

TEST_F(ColFileCommandsTest, ConvertRefusesOrNotesWhatTheVersionCannotHold) {
    ColEntryPlan far = Triangle(1, "far");
    far.vertices[1] = {300, 0, 0};
    ColEntryPlan many = Triangle(1, "many");
    many.faces.assign(65536, ColFacePlan{0, 1, 2, {}});
    ColEntryPlan shadow = Triangle(3, "shade");
    shadow.shadowVertices = shadow.vertices;
    shadow.shadowFaces = shadow.faces;
    ColEntryPlan grouped = Triangle(3, "groups");
    GroupEveryFace(grouped);
    ColEntryPlan unmatched = Triangle(1, "metal", 6);  // Aluminum has no counterpart
    unmatched.boxes = {{{0, 0, 0}, {1, 1, 1}, {6}}};
    unmatched.spheres = {{{0, 0, 0}, 1, {1}}};  // Street: Tarmac
    const struct {
        ColEntryPlan entry;
        const char* to;
        bool written;
        std::string message;
    } cases[] = {
        {far, "col3", false, "[error] in.col: entry 1 \"far\": "},
        {many, "col3", false, "[error] in.col: entry 1 \"many\": "},
        {shadow, "col2", true,
         "[info] in.col: entry 1 \"shade\": the shadow mesh (1 face) is left out: version 2 "
         "holds none"},
        {grouped, "col1", true,
         "[info] in.col: entry 1 \"groups\": 1 face group left out: version 1 holds none"},
        {unmatched, "col3", true,
         "[info] in.col: entry 1 \"metal\": 2 surfaces without a counterpart took their "
         "group's default"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Put("in.col", BuildColEntry(c.entry));
        const RunResult run =
            RunCommand({"convert", "--to", c.to, "--force", "-o", "out.col", "in.col"});
        EXPECT_EQ(run.exitStatus, c.written ? 0 : 1) << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
        EXPECT_EQ(Exists("out.col"), c.written);
        if (Exists("out.col"))
            std::filesystem::remove(dir_ / "out.col");
    }
}

TEST_F(ColFileCommandsTest, ConvertThreeToOneToThreeKeepsTheRecords) {
    ColEntryPlan e = Blank(3, "kiosk");
    e.spheres = {{{1, 2, 3}, 1, {1}}};          // Tarmac - Street
    e.boxes = {{{-1, -1, 0}, {0, 0, 1}, {9}}};  // Grass
    e.vertices = {{0, 0, 0}, {2.5f, 0, 0}, {0, -4, 1}, {1, 1, 1}};
    e.faces = {{0, 1, 2, {45}}, {1, 3, 2, {1}}};  // Glass, Tarmac
    Put("kiosk.col", BuildColEntry(e));
    ASSERT_EQ(RunCommand({"convert", "--to", "col3", "-o", "same.col", "kiosk.col"}).exitStatus, 0);
    const RunResult down = RunCommand({"convert", "--to", "col1", "-o", "one.col", "kiosk.col"});
    ASSERT_EQ(down.exitStatus, 0) << down.err;
    EXPECT_FALSE(Contains(down.err, "counterpart")) << down.err;
    const nlohmann::json one = Info("one.col");
    std::vector<int> ids;
    for (const auto& s : one["entries"][0]["surfaces"])
        ids.push_back(s["id"].get<int>());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 7}));
    EXPECT_EQ(one["entries"][0]["faces"], 2);
    EXPECT_EQ(one["entries"][0]["vertices"], 4);
    ASSERT_EQ(RunCommand({"convert", "--to", "col3", "-o", "three.col", "one.col"}).exitStatus, 0);
    EXPECT_EQ(Get("three.col"), Get("same.col"));
}

TEST_F(ColFileCommandsTest, SplitMakesNamesSafeAndDistinct) {
    // Names compare as the system compares them: GATE is gate on Windows.
    const bool folds = TargetsWindows();
    const struct {
        std::string name;
        std::string file;
        bool noted;
    } cases[] = {
        {"gate", "gate.col", false},
        {"gate", "gate-2.col", true},
        {"GATE", folds ? "GATE-3.col" : "GATE.col", folds},
        {"a/b:c", "a_b_c.col", true},
        {"con", "con_.col", true},
        {"lpt1.x", "lpt1_.x.col", true},
        {"dots. .", "dots.col", true},
        {"", "unnamed.col", true},
        {"\x01\xff", "__.col", true},
    };
    std::vector<ColEntryPlan> entries;
    for (const auto& c : cases)
        entries.push_back(Triangle(3, c.name));
    Put("mixed.col", BuildColArchive(entries));
    const RunResult run = RunCommand({"split", "--out-dir", "out", "mixed.col"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].file);
        EXPECT_EQ(Get("out/" + cases[i].file), BuildColEntry(entries[i]));
        EXPECT_EQ(Contains(run.err, "entry " + std::to_string(i + 1) + " ") &&
                      Contains(run.err, " is written as " + cases[i].file + ": "),
                  cases[i].noted)
            << run.err;
    }
}

TEST_F(ColFileCommandsTest, ReplacesAnOutputOnlyWithForce) {
    const Bytes old = {'o', 'l', 'd'};
    const struct {
        std::vector<std::string> args;
        std::string output;
        int refused;
    } cases[] = {
        {{"convert", "--to", "col1", "-o", "out.col", "a.col"}, "out.col", 1},
        {{"split", "a.col"}, "gate.col", 1},
        {{"merge", "-o", "out.col", "a.col"}, "out.col", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        Put("a.col", BuildColEntry(Triangle(3, "gate")));
        Put(c.output, old);
        const RunResult refused = RunCommand(c.args);
        EXPECT_EQ(refused.exitStatus, c.refused);
        EXPECT_TRUE(Contains(refused.err, "exists; --force replaces it")) << refused.err;
        EXPECT_EQ(Get(c.output), old);
        std::vector<std::string> forced = c.args;
        forced.push_back("--force");
        EXPECT_EQ(RunCommand(forced).exitStatus, 0);
        EXPECT_NE(Get(c.output), old);
    }
}

TEST_F(ColFileCommandsTest, ColFormatWritesAVersionThatReadsBack) {
    Put("house.dff", MakeHouseModel());
    for (int version : {1, 2}) {
        const std::string format = "col" + std::to_string(version);
        SCOPED_TRACE(format);
        ASSERT_EQ(RunCommand({"col", "--format", format, "--force", "house.dff"}).exitStatus, 0);
        const nlohmann::json made = Info("house.col");
        EXPECT_EQ(made["ok"], true);
        EXPECT_EQ(made["entries"][0]["version"], version);
        EXPECT_EQ(made["entries"][0]["name"], "house");
        EXPECT_GT(made["entries"][0]["faces"].get<int>(), 0);
        ASSERT_EQ(RunCommand({"col", "--format", format, "--archive", "all.col", "--force",
                              "house.dff", "house.dff"})
                      .exitStatus,
                  0);
        EXPECT_EQ(Info("all.col")["entries"].size(), 2u);
    }
}

}  // namespace
}  // namespace brennix::e2e
