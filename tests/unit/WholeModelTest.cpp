// The whole-model reader: every frame, atomic and geometry of a clump, the
// problems recorded next to what was read, and the placement of atomics in
// model space by their frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dff/WholeModel.h"
#include "support/ModelBuilder.h"

namespace brennix::test {
namespace {

// Root "root" moved far away (its matrix must never be applied), "body"
// under it moved by (1, 2, 3), "door" under "body" rotated 90 degrees about
// z and moved by (5, 0, 0). Atomic 0 draws geometry 0 on "body", atomic 1
// draws geometry 1 on "door".
ClumpSpec TwoAtomicModel() {
    FrameListSpec frames;
    frames.frames.push_back(MakeFrame("root", -1));
    frames.frames[0].position = {100.0f, 0.0f, 0.0f};
    frames.frames.push_back(MakeFrame("body", 0));
    frames.frames[1].position = {1.0f, 2.0f, 3.0f};
    frames.frames.push_back(MakeFrame("door", 1));
    frames.frames[2].rotation = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    frames.frames[2].position = {5.0f, 0.0f, 0.0f};

    GeometryListSpec list;
    list.geometries.push_back(
        MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}));
    list.geometries.push_back(
        MakeGeometryWithPositions({{1, 0, 0}, {0, 2, 0}, {0, 0, 1}}, {{0, 1, 0, 2}}));

    ClumpSpec model;
    model.children.clear();
    model.children.push_back(ClumpChild::MakeStruct(2));
    model.children.push_back(ClumpChild::MakeFrameList(frames));
    model.children.push_back(ClumpChild::MakeGeometryList(list));
    model.children.push_back(ClumpChild::MakeAtomic(MakeAtomicPayload(1, 0)));
    model.children.push_back(ClumpChild::MakeAtomic(MakeAtomicPayload(2, 1)));
    model.children.push_back(
        ClumpChild::MakeExtension({HAnimEntry(), CollisionEntry(MakeCol3File())}));
    return model;
}

void ParseModel(const Bytes& bytes, WholeModel* model) {
    ASSERT_TRUE(model->Parse(bytes.data(), bytes.size()));
}

std::vector<std::string> Steps(const WholeModel& model) {
    std::vector<std::string> steps;
    for (const ModelProblem& problem : model.problems)
        steps.push_back(problem.step);
    return steps;
}

TEST(WholeModelTest, ReadsEveryFrameAtomicGeometryAndEntry) {
    WholeModel model;
    ParseModel(BuildModel(TwoAtomicModel()), &model);
    EXPECT_TRUE(model.Ok()) << model.problems.size() << " problems";

    EXPECT_EQ(model.clump.stamp, kDefaultStamp);
    ASSERT_EQ(model.children.size(), 6u);
    const uint32_t types[] = {kChunkStruct, kChunkFrameList, kChunkGeometryList,
                              kChunkAtomic, kChunkAtomic,    kChunkExtension};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(model.children[i].type, types[i]) << i;
    EXPECT_EQ(model.atomicCountInStruct, 2u);
    EXPECT_EQ(model.trailingBytes, 0u);

    ASSERT_EQ(model.frames.size(), 3u);
    EXPECT_EQ(model.frames[0].name, "root");
    EXPECT_EQ(model.frames[2].name, "door");
    EXPECT_EQ(model.frames[2].parent, 1);
    EXPECT_EQ(model.frames[2].up[0], -1.0f);

    ASSERT_EQ(model.atomics.size(), 2u);
    EXPECT_EQ(model.atomics[1].frameIndex, 2u);
    EXPECT_EQ(model.atomics[1].geometryIndex, 1u);
    ASSERT_EQ(model.geometries.size(), 2u);
    EXPECT_TRUE(model.geometries[1].ok);
    EXPECT_EQ(model.geometries[1].geometry->vertexCount, 3);

    EXPECT_EQ(model.extensionPlace, ExtensionPlace::kInside);
    ASSERT_EQ(model.extensionEntries.size(), 2u);
    EXPECT_EQ(model.extensionEntries[1].type, kEntryCollision);
    EXPECT_EQ(model.extensionEntries[1].present, model.extensionEntries[1].size);
    // The entry's offset points at its header in the file.
    Bytes bytes = BuildModel(TwoAtomicModel());
    EXPECT_EQ(GetU32(bytes, model.extensionEntries[1].offset), kEntryCollision);
}

TEST(WholeModelTest, PlacesVerticesByFramesWithoutTheRoot) {
    WholeModel model;
    ParseModel(BuildModel(TwoAtomicModel()), &model);
    struct Case {
        Placement placement;
        size_t atomic;
        std::vector<Point3> expected;
    };
    // Computed by hand: door maps (x, y, z) to (-y + 5, x, z), body adds (1, 2, 3).
    const Case cases[] = {
        {Placement::kFrames, 0, {{1, 2, 3}, {2, 2, 3}, {1, 3, 3}}},
        {Placement::kFrames, 1, {{6, 3, 3}, {4, 2, 3}, {6, 2, 4}}},
        {Placement::kAuto, 1, {{6, 3, 3}, {4, 2, 3}, {6, 2, 4}}},
        {Placement::kNone, 1, {{1, 0, 0}, {0, 2, 0}, {0, 0, 1}}},
    };
    for (const Case& c : cases) {
        std::vector<Point3> placed;
        std::string why;
        ASSERT_TRUE(PlaceAtomic(model, c.atomic, c.placement, &placed, &why)) << why;
        ASSERT_EQ(placed.size(), c.expected.size());
        for (size_t i = 0; i < placed.size(); ++i) {
            EXPECT_EQ(placed[i].x, c.expected[i].x) << c.atomic << " vertex " << i;
            EXPECT_EQ(placed[i].y, c.expected[i].y) << c.atomic << " vertex " << i;
            EXPECT_EQ(placed[i].z, c.expected[i].z) << c.atomic << " vertex " << i;
        }
    }
}

TEST(WholeModelTest, AutoPlacementOfOneAtomicKeepsStoredCoordinates) {
    WholeModel model;
    ParseModel(BuildModel(MakeCanonicalModel()), &model);
    EXPECT_EQ(ResolvePlacement(model, Placement::kAuto), Placement::kNone);
    EXPECT_EQ(ResolvePlacement(model, Placement::kFrames), Placement::kFrames);
}

TEST(WholeModelTest, RefusesBrokenFrameChains) {
    struct Case {
        const char* name;
        std::vector<int32_t> parents;
        uint32_t frame;
        bool placed;
    };
    const Case cases[] = {
        {"root itself", {-1}, 0, true},          {"parent out of range", {-1, 7}, 1, false},
        {"parent below -1", {-1, -2}, 1, false}, {"cycle", {-1, 2, 1}, 1, false},
        {"self parent", {0}, 0, false},          {"frame out of range", {-1}, 3, false},
    };
    for (const Case& c : cases) {
        WholeModel model;
        for (int32_t parent : c.parents) {
            FrameInfo frame;
            frame.parent = parent;
            model.frames.push_back(frame);
        }
        FrameTransform transform;
        std::string why;
        EXPECT_EQ(FrameToModel(model, c.frame, &transform, &why), c.placed) << c.name;
        EXPECT_EQ(why.empty(), c.placed) << c.name << ": " << why;
    }
}

TEST(WholeModelTest, RecordsABrokenGeometryNextToWhatWasRead) {
    ClumpSpec plan = TwoAtomicModel();
    plan.FindChild(ClumpChildKind::GeometryList)->geometryList.geometries[1].vertexCountOverride =
        -1;
    WholeModel model;
    ParseModel(BuildModel(plan), &model);

    EXPECT_EQ(Steps(model), std::vector<std::string>{"geometry 1"});
    EXPECT_EQ(model.problems[0].code, kErrorVertexCount);
    ASSERT_EQ(model.geometries.size(), 2u);
    EXPECT_TRUE(model.geometries[0].ok);
    EXPECT_FALSE(model.geometries[1].ok);
    EXPECT_EQ(model.frames.size(), 3u);
    EXPECT_EQ(model.extensionEntries.size(), 2u);

    std::vector<Point3> placed;
    std::string why;
    EXPECT_TRUE(PlaceAtomic(model, 0, Placement::kFrames, &placed, &why)) << why;
    EXPECT_FALSE(PlaceAtomic(model, 1, Placement::kFrames, &placed, &why));
    EXPECT_EQ(why, "geometry 1 could not be read");
    EXPECT_TRUE(placed.empty());
}

TEST(WholeModelTest, FindsTheClumpExtensionWhereStreamReadersDo) {
    struct Case {
        const char* name;
        bool inside;
        Bytes after;
        ExtensionPlace expected;
    };
    const Case cases[] = {
        {"inside", true, {}, ExtensionPlace::kInside},
        {"after the clump", false, MakeExtensionChunk({}), ExtensionPlace::kAfterClump},
        {"another chunk after", false, MakeChunk(0x1234, {}), ExtensionPlace::kNone},
        {"nothing", false, {}, ExtensionPlace::kNone},
    };
    for (const Case& c : cases) {
        ClumpSpec plan = MakeCanonicalModel();
        plan.uvAnimDictionary = Bytes{1, 2, 3, 4};
        if (!c.inside) {
            auto& children = plan.children;
            for (size_t i = 0; i < children.size(); ++i) {
                if (children[i].kind == ClumpChildKind::Extension)
                    children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        plan.trailing = c.after;
        WholeModel model;
        ParseModel(BuildModel(plan), &model);
        EXPECT_TRUE(model.hasUvAnimDictionary) << c.name;
        EXPECT_EQ(model.clump.offset, 16u) << c.name;
        EXPECT_EQ(model.extensionPlace, c.expected) << c.name;
        EXPECT_EQ(model.trailingBytes, c.after.size()) << c.name;
    }
}

TEST(WholeModelTest, DecodesVersionStamps) {
    struct Case {
        uint32_t stamp;
        uint32_t version;
        const char* text;
    };
    const Case cases[] = {
        {0x1803FFFF, 0x36003, "3.6.0.3"},
        {0x0C02FFFF, 0x33002, "3.3.0.2"},
        {0x1003FFFF, 0x34003, "3.4.0.3"},
        {0x00000310, 0x310, "3.1.0"},
    };
    for (const Case& c : cases) {
        StampVersion decoded = DecodeStamp(c.stamp);
        EXPECT_EQ(decoded.version, c.version) << std::hex << c.stamp;
        EXPECT_EQ(decoded.hasBuild, (c.stamp >> 16) != 0);
        char text[32];
        FormatVersion(decoded.version, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_EQ(DecodeStamp(0x1803FFFF).build, 0xFFFFu);
}

TEST(WholeModelTest, EveryTruncatedPrefixIsReadWithAProblem) {
    const Bytes full = BuildModel(TwoAtomicModel());
    for (size_t length = 0; length < full.size(); ++length) {
        // An exact-size copy, so a read past its end is caught.
        WholeModel model;
        ASSERT_TRUE(model.Parse(full.data(), length));
        EXPECT_FALSE(model.problems.empty()) << length;
        for (size_t a = 0; a < model.atomics.size(); ++a) {
            std::vector<Point3> placed;
            std::string why;
            PlaceAtomic(model, a, Placement::kFrames, &placed, &why);
        }
    }
}

}  // namespace
}  // namespace brennix::test
