// brennix convert, split and merge, and col --format: entries between
// versions with their notes and refusals, archives taken apart and put back
// byte for byte, names made safe, and outputs replaced only with --force.
#include <array>
#include <cstring>
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

using Point = std::array<float, 3>;
using Face = std::array<uint16_t, 4>;  // a, b, c, material

// One entry to be written as version 1 or 3 in the standard layout.
struct Entry {
    int version = 3;
    std::string name = "gate";
    std::vector<std::pair<Point, uint8_t>> spheres;  // centre (radius 1), material
    std::vector<std::pair<Point, uint8_t>> boxes;    // min (max = min + 1), material
    std::vector<Point> vertices;
    std::vector<Face> faces;
    bool faceGroup = false;  // one group over every face (version 3)
    std::vector<Point> shadowVertices;
    std::vector<Face> shadowFaces;
};

struct Writer {
    Bytes bytes;
    void U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) { U8(v), U8(v >> 8); }
    void U32(uint32_t v) { U16(v), U16(v >> 16); }
    void F(float f) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        U32(v);
    }
    void P(const Point& p) { F(p[0]), F(p[1]), F(p[2]); }
    void At(size_t offset, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
};

Bytes Encode(const Entry& e) {
    Writer w;
    for (char c : std::string(e.version == 1 ? "COLL" : "COL3"))
        w.U8(static_cast<uint8_t>(c));
    w.U32(0);
    for (size_t i = 0; i < 22; ++i)
        w.U8(i < e.name.size() ? static_cast<uint8_t>(e.name[i]) : 0);
    w.U16(0xFFFF);
    const Point lo{-300, -300, -300}, hi{300, 300, 300}, mid{0, 0, 0};
    auto vertex6 = [&](const Point& p) {
        for (float f : p)
            w.U16(static_cast<uint16_t>(static_cast<int16_t>(f * 128)));
    };
    if (e.version == 1) {
        w.F(600), w.P(mid), w.P(lo), w.P(hi);
        w.U32(static_cast<uint32_t>(e.spheres.size()));
        for (const auto& s : e.spheres)
            w.F(1), w.P(s.first), w.U32(s.second);
        w.U32(0);
        w.U32(static_cast<uint32_t>(e.boxes.size()));
        for (const auto& b : e.boxes)
            w.P(b.first), w.P({b.first[0] + 1, b.first[1] + 1, b.first[2] + 1}), w.U32(b.second);
        w.U32(static_cast<uint32_t>(e.vertices.size()));
        for (const Point& p : e.vertices)
            w.P(p);
        w.U32(static_cast<uint32_t>(e.faces.size()));
        for (const Face& f : e.faces)
            w.U32(f[0]), w.U32(f[1]), w.U32(f[2]), w.U32(f[3]);
    } else {
        w.P({-256, -256, -256}), w.P({255, 255, 255}), w.P(mid), w.F(450);
        w.U16(static_cast<uint32_t>(e.spheres.size())),
            w.U16(static_cast<uint32_t>(e.boxes.size()));
        w.U16(static_cast<uint32_t>(e.faces.size())), w.U16(0);
        const uint32_t flags = (e.spheres.size() + e.boxes.size() + e.faces.size() > 0 ? 2 : 0) |
                               (e.faceGroup ? 8 : 0) | (e.shadowFaces.empty() ? 0 : 16);
        w.U32(flags);
        while (w.bytes.size() < 120)
            w.U8(0);
        auto here = [&] { return static_cast<uint32_t>(w.bytes.size() - 4); };
        if (!e.spheres.empty())
            w.At(84, here());
        for (const auto& s : e.spheres)
            w.P(s.first), w.F(1), w.U32(s.second);
        if (!e.boxes.empty())
            w.At(88, here());
        for (const auto& b : e.boxes)
            w.P(b.first), w.P({b.first[0] + 1, b.first[1] + 1, b.first[2] + 1}), w.U32(b.second);
        if (!e.vertices.empty())
            w.At(96, here());
        for (const Point& p : e.vertices)
            vertex6(p);
        while (w.bytes.size() % 4 != 0)
            w.U8(0);
        if (e.faceGroup) {
            w.P(lo), w.P(hi), w.U16(0), w.U16(static_cast<uint32_t>(e.faces.size() - 1));
            w.U32(1);
        }
        if (!e.faces.empty())
            w.At(100, here());
        for (const Face& f : e.faces)
            w.U16(f[0]), w.U16(f[1]), w.U16(f[2]), w.U8(f[3]), w.U8(0);
        if (!e.shadowFaces.empty()) {
            w.At(108, static_cast<uint32_t>(e.shadowFaces.size()));
            w.At(112, here());
            for (const Point& p : e.shadowVertices)
                vertex6(p);
            while (w.bytes.size() % 4 != 0)
                w.U8(0);
            w.At(116, here());
            for (const Face& f : e.shadowFaces)
                w.U16(f[0]), w.U16(f[1]), w.U16(f[2]), w.U8(f[3]), w.U8(0);
        }
    }
    w.At(4, static_cast<uint32_t>(w.bytes.size() - 8));
    return w.bytes;
}

Bytes Archive(const std::vector<Entry>& entries) {
    Bytes all;
    for (const Entry& e : entries) {
        const Bytes one = Encode(e);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

// A triangle, its faces on `material`.
Entry Triangle(int version, const std::string& name, uint8_t material = 0) {
    Entry e;
    e.version = version;
    e.name = name;
    e.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    e.faces = {{0, 1, 2, material}};
    return e;
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
    Entry grouped = Triangle(3, "house", 1);
    grouped.faceGroup = true;
    grouped.shadowVertices = grouped.vertices;
    grouped.shadowFaces = grouped.faces;
    const Bytes archive = Archive({Triangle(1, "gate", 2), grouped, Triangle(3, "shed")});
    Put("city.col", archive);
    const RunResult split = RunCommand({"split", "--out-dir", "parts", "city.col"});
    ASSERT_EQ(split.exitStatus, 0) << split.err;
    EXPECT_EQ(Get("parts/gate.col"), Encode(Triangle(1, "gate", 2)));
    const RunResult merge = RunCommand(
        {"merge", "-o", "back.col", "parts/gate.col", "parts/house.col", "parts/shed.col"});
    ASSERT_EQ(merge.exitStatus, 0) << merge.err;
    EXPECT_TRUE(Contains(merge.err, "3 entries")) << merge.err;
    EXPECT_EQ(Get("back.col"), archive);
}

TEST_F(ColFileCommandsTest, ConvertRefusesOrNotesWhatTheVersionCannotHold) {
    Entry far = Triangle(1, "far");
    far.vertices[1] = {300, 0, 0};
    Entry many = Triangle(1, "many");
    many.faces.assign(65536, Face{0, 1, 2, 0});
    Entry shadow = Triangle(3, "shade");
    shadow.shadowVertices = shadow.vertices;
    shadow.shadowFaces = shadow.faces;
    Entry grouped = Triangle(3, "groups");
    grouped.faceGroup = true;
    Entry unmatched = Triangle(1, "metal", 6);  // Aluminum has no counterpart
    unmatched.boxes = {{{0, 0, 0}, 6}};
    unmatched.spheres = {{{0, 0, 0}, 1}};  // Street: Tarmac
    const struct {
        Entry entry;
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
        Put("in.col", Encode(c.entry));
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
    Entry e;
    e.name = "kiosk";
    e.spheres = {{{1, 2, 3}, 1}};  // Tarmac - Street
    e.boxes = {{{-1, -1, 0}, 9}};  // Grass
    e.vertices = {{0, 0, 0}, {2.5f, 0, 0}, {0, -4, 1}, {1, 1, 1}};
    e.faces = {{0, 1, 2, 45}, {1, 3, 2, 1}};  // Glass, Tarmac
    Put("kiosk.col", Encode(e));
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
    std::vector<Entry> entries;
    for (const auto& c : cases)
        entries.push_back(Triangle(3, c.name));
    Put("mixed.col", Archive(entries));
    const RunResult run = RunCommand({"split", "--out-dir", "out", "mixed.col"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].file);
        EXPECT_EQ(Get("out/" + cases[i].file), Encode(entries[i]));
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
        Put("a.col", Encode(Triangle(3, "gate")));
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
