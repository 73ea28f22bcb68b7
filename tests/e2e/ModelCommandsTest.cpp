// The commands that read and change models: info (its JSON read back with a
// JSON parser), attach, extract, paint and night, with their exit codes.
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;
using nlohmann::json;

constexpr uint32_t kEntryVehicleCollision = 0x253F2FA;

// A collision file other than the builder's standard one.
Bytes OtherCol() {
    Col3File col = MakeSmallCol3();
    col.SetName("other");
    col.boxes.push_back(col.boxes[0]);
    return EncodeCol3(col);
}

std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> docs;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        docs.push_back(json::parse(line));
    return docs;
}

std::vector<uint32_t> CollisionTypes(const Bytes& model) {
    ClumpView view;
    std::vector<ChunkView> entries;
    std::vector<uint32_t> types;
    if (!ParseClump(model, &view) || view.Find(kChunkExtension) == nullptr ||
        !SplitChunks(view.Find(kChunkExtension)->payload, &entries))
        return {0};
    for (const ChunkView& entry : entries) {
        if (entry.type == kEntryCollision || entry.type == kEntryVehicleCollision)
            types.push_back(entry.type);
    }
    return types;
}

class ModelCommandsTest : public ProgramTest {
protected:
    RunResult RunCommand(const std::vector<std::string>& args) {
        RunResult result = RunProgram(dir_, args);
        EXPECT_EQ(result.problem, "");
        return result;
    }
};

TEST_F(ModelCommandsTest, InfoJsonDescribesEveryPartAndEveryProblem) {
    ClumpSpec full = MakeTwoGeometryModel();
    full.uvAnimDictionary = Bytes{1, 2, 3, 4};
    GeometrySpec& skinned =
        full.FindChild(ClumpChildKind::GeometryList)->geometryList.geometries[0];
    SkinSpec skin;
    skin.boneCount = 2;
    skin.usedBoneCount = 2;
    skin.maxWeightsPerVertex = 4;
    skinned.extensions.push_back(SkinEntry(skin, 5));
    full.ExtensionEntries() = {ExtensionEntry(kEntryVehicleCollision, MakeCol3File()), HAnimEntry(),
                               CollisionEntry(OtherCol())};
    Put("full.dff", full);
    ClumpSpec broken = MakeCanonicalModel();
    broken.FirstGeometry().vertexCountOverride = 300000;
    Put("broken.dff", broken);

    RunResult result = RunCommand({"info", "--json", "full.dff", "broken.dff"});
    EXPECT_EQ(result.exitStatus, 1) << result.err;
    std::vector<json> docs = JsonLines(result.out);
    ASSERT_EQ(docs.size(), 2u) << result.out;

    const json& model = docs[0];
    EXPECT_EQ(model["file"], "full.dff");
    EXPECT_EQ(model["ok"], true);
    EXPECT_EQ(model["version"]["version"], "3.6.0.3");
    EXPECT_EQ(model["version"]["stamp"], kDefaultStamp);
    EXPECT_EQ(model["uvAnimDictionary"]["size"], 4);
    EXPECT_EQ(model["clump"]["children"],
              json({kChunkStruct, kChunkFrameList, kChunkGeometryList, kChunkAtomic, kChunkLight,
                    kChunkAtomic, kChunkExtension}));
    EXPECT_EQ(model["frames"][1]["name"], "door");
    EXPECT_EQ(model["frames"][1]["parent"], 0);
    EXPECT_EQ(model["atomics"][1], json({{"frame", 1}, {"geometry", 1}}));
    ASSERT_EQ(model["geometries"].size(), 2u);
    const json& first = model["geometries"][0];
    EXPECT_EQ(first["vertices"], 5);
    EXPECT_EQ(first["triangles"], 6);
    EXPECT_EQ(first["format"]["prelit"], true);
    EXPECT_EQ(first["format"]["uvSets"], 1);
    EXPECT_EQ(first["skin"], json({{"bones", 2}, {"usedBones", 2}, {"weightsPerVertex", 4}}));
    EXPECT_EQ(first["binMesh"]["type"], "triangle list");
    EXPECT_EQ(first["materials"][0]["textures"], json({"canonical_tex"}));
    EXPECT_TRUE(first["bounds"]["radius"].is_number());
    const json& second = model["geometries"][1];
    EXPECT_EQ(second["format"]["prelit"], false);
    EXPECT_EQ(second["skin"], nullptr);
    EXPECT_EQ(second["bounds"]["max"], json({1.0, 1.0, 0.0}));

    const json& collisions = model["collisions"];
    ASSERT_EQ(collisions.size(), 2u);
    EXPECT_EQ(collisions[0]["id"], kEntryVehicleCollision);
    EXPECT_EQ(collisions[0]["position"], 0);
    EXPECT_EQ(collisions[0]["size"], MakeCol3File().size());
    EXPECT_EQ(collisions[0]["col"], json({{"version", 3},
                                          {"name", "house"},
                                          {"spheres", 0},
                                          {"boxes", 1},
                                          {"faces", 2},
                                          {"vertices", 4},
                                          {"verticesFromFaces", true}}));
    EXPECT_EQ(collisions[1]["id"], kEntryCollision);
    EXPECT_EQ(collisions[1]["position"], 2);
    EXPECT_EQ(collisions[1]["col"]["name"], "other");
    EXPECT_EQ(collisions[1]["col"]["boxes"], 2);
    EXPECT_EQ(model["errors"], json::array());

    const json& bad = docs[1];
    EXPECT_EQ(bad["ok"], false);
    ASSERT_EQ(bad["errors"].size(), 1u);
    EXPECT_EQ(bad["errors"][0]["step"], "geometry 0");
    EXPECT_EQ(bad["errors"][0]["code"], 44004);
    EXPECT_EQ(bad["frames"].size(), 1u);  // what could be read is there
    EXPECT_NE(result.err.find("[error] broken.dff: geometry 0: "), std::string::npos) << result.err;

    RunResult text = RunCommand({"info", "full.dff"});
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_NE(text.out.find("  collision    0x253F2FA, "), std::string::npos) << text.out;
}

TEST_F(ModelCommandsTest, AttachReplacesAndWritesVehicleEntries) {
    const Bytes model = BuildModel(MakeCanonicalModel());
    Put("a.dff", model);
    Put("a.col", MakeCol3File());
    Put("other.col", OtherCol());

    RunResult attached = RunCommand({"attach", "--in-place", "a.dff"});
    ASSERT_EQ(attached.exitStatus, 0) << attached.err;
    const Bytes once = Get("a.dff");
    EXPECT_EQ(CollisionTypes(once), std::vector<uint32_t>{kEntryCollision});

    RunResult refused = RunCommand({"attach", "--in-place", "-c", "other.col", "a.dff"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_NE(refused.err.find("already has a collision"), std::string::npos) << refused.err;
    EXPECT_EQ(Get("a.dff"), once);

    RunResult replaced =
        RunCommand({"attach", "--replace", "--vehicle", "-c", "other.col", "-o", "b.dff", "a.dff"});
    ASSERT_EQ(replaced.exitStatus, 0) << replaced.err;
    EXPECT_EQ(CollisionTypes(Get("b.dff")), std::vector<uint32_t>{kEntryVehicleCollision});
    EXPECT_EQ(Get("a.dff"), once);

    // The Extension of 88 real models follows the clump: it moves inside.
    ClumpSpec outside = MakeCanonicalModel();
    outside.children.pop_back();
    outside.trailing = Cat({MakeExtensionChunk({HAnimEntry()}), Bytes{0, 0, 0, 0}});
    Put("c.dff", outside);
    Put("C.COL", MakeCol3File());  // found whatever the case of its name
    RunResult moved = RunCommand({"attach", "--in-place", "c.dff"});
    ASSERT_EQ(moved.exitStatus, 0) << moved.err;
    ClumpView view;
    ASSERT_TRUE(ParseClump(Get("c.dff"), &view));
    EXPECT_EQ(view.children.back().type, kChunkExtension);
    EXPECT_EQ(view.trailingBytes, 4u);
    EXPECT_EQ(CollisionTypes(Get("c.dff")), std::vector<uint32_t>{kEntryCollision});
}

TEST_F(ModelCommandsTest, AttachGeneratesTheCollisionInTheSameRun) {
    Put("house.dff", MakeHouseModel());
    RunResult made = RunCommand(
        {"attach", "--generate", "--shape", "box", "--vehicle", "-o", "boxed.dff", "house.dff"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    RunResult info = RunCommand({"info", "--json", "boxed.dff"});
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    const json collision = JsonLines(info.out).at(0)["collisions"].at(0);
    EXPECT_EQ(collision["id"], kEntryVehicleCollision);
    EXPECT_EQ(collision["col"]["name"], "house");
    EXPECT_EQ(collision["col"]["boxes"], 1);
    EXPECT_EQ(collision["col"]["faces"], 0);
}

TEST_F(ModelCommandsTest, ExtractThenAttachGivesTheSameBytes) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.ExtensionEntries() = {HAnimEntry(), ExtensionEntry(kEntryVehicleCollision, OtherCol())};
    const Bytes model = BuildModel(plan);
    Put("m.dff", model);
    Put("plain.dff", MakeCanonicalModel());

    RunResult extracted = RunCommand({"extract", "m.dff", "plain.dff"});
    EXPECT_EQ(extracted.exitStatus, 1);
    EXPECT_NE(extracted.err.find("[error] plain.dff: the model has no embedded collision"),
              std::string::npos)
        << extracted.err;
    EXPECT_EQ(Get("m.col"), OtherCol());
    EXPECT_FALSE(Exists("plain.col"));

    RunResult back =
        RunCommand({"attach", "--replace", "--vehicle", "-c", "m.col", "-o", "back.dff", "m.dff"});
    ASSERT_EQ(back.exitStatus, 0) << back.err;
    EXPECT_EQ(Get("back.dff"), model);
}

TEST_F(ModelCommandsTest, AttachesOnlyFilesThatLookLikeCollision) {
    Put("a.dff", MakeCanonicalModel());
    Bytes col4 = MakeCol3File();
    col4[3] = '4';
    // The classic generator declares 4 bytes more than it writes: not checked.
    Bytes oversized = MakeCol3File();
    oversized[4] = static_cast<uint8_t>(oversized[4] + 4);
    struct Case {
        const char* name;
        Bytes bytes;
        int exitStatus;
        const char* message;
    };
    const Case cases[] = {
        {"empty.col", {}, 1, "the collision file is empty"},
        {"col5.col", Bytes{'C', 'O', 'L', '5', 0, 0, 0, 0}, 1, "does not begin with COLL"},
        {"text.col", Bytes{'h', 'e', 'l', 'l', 'o'}, 1, "does not begin with COLL"},
        {"coll.col", Bytes{'C', 'O', 'L', 'L'}, 0, nullptr},
        {"col4.col", col4, 0, nullptr},
        {"oversized.col", oversized, 0, nullptr},
    };
    for (const Case& c : cases) {
        Put(c.name, c.bytes);
        RunResult result =
            RunCommand({"attach", "-c", c.name, "--force", "-o", "out.dff", "a.dff"});
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.name << ": " << result.err;
        if (c.message != nullptr) {
            EXPECT_NE(result.err.find(c.message), std::string::npos) << c.name << result.err;
            EXPECT_FALSE(Exists("out.dff")) << c.name;
        } else {
            EXPECT_EQ(CollisionTypes(Get("out.dff")), std::vector<uint32_t>{kEntryCollision});
        }
    }
}

TEST_F(ModelCommandsTest, WritingCommandsRefuseUnusableCommandLines) {
    Put("a.dff", MakeCanonicalModel());
    Put("b.dff", MakeCanonicalModel());
    MakeDir("folder");
    const Bytes before = Get("a.dff");
    const std::vector<std::vector<std::string>> usage = {
        {"attach", "a.dff"},
        {"attach", "-o", "x.dff", "a.dff", "b.dff"},
        {"attach", "-o", "x.dff", "--in-place", "a.dff"},
        {"attach", "-c", "missing.col", "--in-place", "a.dff"},
        {"extract", "-o", "x.col", "a.dff", "b.dff"},
        {"paint", "--day", "#FF0000", "--in-place", "a.dff"},
        {"paint", "--day", "#FF00", "--night", "0,0,0", "--in-place", "a.dff"},
        {"paint", "--day", "1,2,300", "--night", "0,0,0", "--in-place", "a.dff"},
        {"attach", "--shape", "box", "--in-place", "a.dff"},
        {"attach", "--generate", "-c", "b.dff", "--in-place", "a.dff"},
        {"night", "--from", "b.dff", "a.dff"},
        {"night", "--from", "missing.dff", "--in-place", "a.dff"},
        {"night", "--from", "b.dff", "--in-place", "folder"},
    };
    for (const std::vector<std::string>& args : usage) {
        RunResult result = RunCommand(args);
        EXPECT_EQ(result.exitStatus, 2) << args[0] << " " << args[1] << ": " << result.err;
        EXPECT_FALSE(result.err.empty()) << args[0];
    }
    EXPECT_EQ(Get("a.dff"), before);
    EXPECT_FALSE(Exists("x.dff"));
    EXPECT_FALSE(Exists("x.col"));
}

TEST_F(ModelCommandsTest, NightOfOneGeometryIsTheClassicMode) {
    ClumpSpec night = MakeCanonicalModel();
    night.FirstGeometry().prelit = {
        {10, 20, 30, 255}, {40, 50, 60, 128}, {0, 0, 0, 0}, {1, 2, 3, 4}, {250, 251, 252, 253}};
    Put("day.dff", MakeCanonicalModel());
    Put("night.dff", night);
    RunResult ours = RunCommand({"night", "--from", "night.dff", "-o", "ours.dff", "day.dff"});
    ASSERT_EQ(ours.exitStatus, 0) << ours.err;
    Run({"-v", "-d", "day.dff", "-n", "night.dff", "-o", "classic.dff"});
    EXPECT_EQ(Get("ours.dff"), Get("classic.dff"));

    Put("two.dff", MakeTwoGeometryModel());
    RunResult mismatch = RunCommand({"night", "--from", "night.dff", "--in-place", "two.dff"});
    EXPECT_EQ(mismatch.exitStatus, 1);
    EXPECT_NE(mismatch.err.find("the model holds 2 geometries and the night model 1"),
              std::string::npos)
        << mismatch.err;
}

TEST_F(ModelCommandsTest, PaintRebuildsEveryGeometryOfATwoGeometryModel) {
    const Bytes input = BuildModel(MakeTwoGeometryModel());
    Put("two.dff", input);
    RunResult result = RunCommand(
        {"paint", "--day", "255,0,0", "--night", "#102030", "-j", "2", "--in-place", "two.dff"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const Bytes painted = Get("two.dff");
    ClumpView before, after;
    ASSERT_TRUE(ParseClump(input, &before));
    ASSERT_TRUE(ParseClump(painted, &after));
    EXPECT_EQ(after.ChildTypes(), before.ChildTypes());  // the light and both atomics kept
    std::vector<ChunkView> list;
    ASSERT_TRUE(SplitChunks(after.Find(kChunkGeometryList)->payload, &list));
    ASSERT_EQ(list.size(), 3u);
    for (size_t k = 1; k < 3; ++k) {
        GeometryView g;
        std::string why;
        ASSERT_TRUE(ParseGeometryChunk(list[k], &g, &why)) << why;
        EXPECT_EQ(g.formatFlags & kGeoPrelit, kGeoPrelit) << k;
        EXPECT_EQ(g.prelit, std::vector<Rgba>(g.vertexCount, {255, 0, 0, 255})) << k;
        std::vector<Rgba> night;
        ASSERT_NE(g.FindEntry(kEntryNightColours), nullptr) << k;
        ASSERT_TRUE(DecodeNightColours(g.FindEntry(kEntryNightColours)->payload,
                                       static_cast<uint32_t>(g.vertexCount), &night));
        EXPECT_EQ(night, std::vector<Rgba>(g.vertexCount, {0x10, 0x20, 0x30, 255})) << k;
    }
}

}  // namespace
}  // namespace brennix::e2e
