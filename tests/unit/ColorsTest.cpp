// Colour operations on a parsed geometry, and writing the changed geometry
// back: every round trip is checked against the model the builder expects and
// read again by the product and by the builder's own parser.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "UnitHelpers.h"
#include "dff/DffModel.h"
#include "dff/Geometry.h"

namespace brennix::test {
namespace {

constexpr uint32_t kOtherStamp = 0x1C020065;

ClumpSpec ModelWith(const GeometrySpec& geometry) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.FirstGeometry() = geometry;
    return plan;
}

Bytes MaterialListBytes(const GeometrySpec& g) {
    return g.materialListRaw
               ? *g.materialListRaw
               : EncodeMaterialListChunk(g.materials, g.materialCountOverride, g.stamp);
}

// The geometry as a rebuild writes it: everything under the system's stamp
// except the Material List and the kept entries, which keep their bytes, and
// one fresh Night Colours entry at the end of the Extension.
GeometrySpec Rebuilt(const GeometrySpec& g, const std::vector<Rgba>& night) {
    GeometrySpec out = g;
    out.materialListRaw = MaterialListBytes(g);
    out.stamp = kDefaultStamp;
    out.extensions.clear();
    for (const ExtensionEntry& entry : g.extensions) {
        if (entry.type != kEntryNightColours)
            out.extensions.push_back(entry);
    }
    out.extensions.push_back(NightColoursEntry(night, kNightLeadWordWritten));
    return out;
}

std::vector<Rgba> Pattern(size_t count, uint8_t seed) {
    std::vector<Rgba> colours;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t k = static_cast<uint8_t>(i);
        colours.push_back({static_cast<uint8_t>(seed + 10 * k), static_cast<uint8_t>(255 - k), seed,
                           static_cast<uint8_t>(k * 50)});
    }
    return colours;
}

class ColorsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }

    // Loads a model and reads its geometry; the model's first geometry.
    Geometry* Load(ScopedModel& model, const ClumpSpec& plan, const std::string& name) {
        EXPECT_EQ(LoadBytes(*model, dir.Path(name), BuildModel(plan)), 1);
        EXPECT_EQ(model->ReadGeometryList(), 1);
        Geometry* g = model->FirstGeometry();
        EXPECT_NE(g, nullptr);
        return g;
    }

    // Rebuilds and saves a changed model.
    Bytes RebuildAndSave(ScopedModel& model) {
        EXPECT_TRUE(model->RebuildGeometryList());
        Bytes out;
        EXPECT_TRUE(SaveBytes(*model, dir.Path("saved.dff"), &out));
        return out;
    }

    // The saved model is the one the builder makes from `expected`, and both
    // the product's reader and the builder's parser find in it the geometry
    // and the night colours.
    void CheckSaved(const Bytes& saved, const GeometrySpec& expected,
                    const std::vector<Rgba>& night) {
        EXPECT_EQ(saved, BuildModel(ModelWith(expected)));

        ScopedModel again;
        ASSERT_EQ(LoadBytes(*again, dir.Path("again.dff"), saved), 1);
        ASSERT_EQ(again->ReadGeometryList(), 1)
            << ErrorCodeName(again->errorCode) << " detail " << again->errorDetail;
        const Geometry* g = again->FirstGeometry();
        ASSERT_NE(g, nullptr);
        ExpectGeometryEquals(*g, expected);
        EXPECT_EQ(g->hasNight, 1);
        EXPECT_NE(g->nightColors, nullptr);
        EXPECT_EQ(ColoursOf(g->nightColors, g->vertexCount), night);

        ViewOptions options;
        options.uvSetsFromFormatHigh = true;
        GeometryView view;
        std::string why;
        ASSERT_TRUE(ParseFirstGeometry(saved, &view, &why, options)) << why;
        EXPECT_EQ(view.geometryCount, 1u);
        EXPECT_EQ(view.stamp, kDefaultStamp);
        EXPECT_FALSE(view.hasLightingBlock);
        EXPECT_EQ(view.formatFlags, expected.formatFlags);
        EXPECT_EQ(view.formatHigh, expected.formatHigh);
        EXPECT_EQ(view.triangleCount, expected.TriangleCount());
        EXPECT_EQ(view.vertexCount, expected.VertexCount());
        EXPECT_EQ(view.prelit, expected.prelit);
        EXPECT_EQ(view.uvSets, expected.uvSets);
        EXPECT_EQ(view.triangles, expected.triangles);
        EXPECT_EQ(view.sphere, expected.sphere);
        EXPECT_EQ(view.positions, expected.positions);
        EXPECT_EQ(view.normals, expected.normals);
        EXPECT_EQ(view.materialListChunk, MaterialListBytes(expected));
        EXPECT_EQ(view.extension.stamp, kDefaultStamp);
        EXPECT_TRUE(view.extraChunks.empty());

        // Kept entries byte for byte with their own stamps, the new Night
        // Colours entry last.
        ASSERT_EQ(view.extensionEntries.size(), expected.extensions.size());
        for (size_t i = 0; i + 1 < expected.extensions.size(); ++i) {
            EXPECT_EQ(view.extensionEntries[i].Encoded(), EncodeEntries({expected.extensions[i]}));
        }
        const ChunkView& last = view.extensionEntries.back();
        EXPECT_EQ(last.type, kEntryNightColours);
        EXPECT_EQ(last.size, 4 + 4 * night.size());
        EXPECT_EQ(last.stamp, kDefaultStamp);
        std::vector<Rgba> decoded;
        uint32_t leading = 0;
        ASSERT_TRUE(DecodeNightColours(last.payload, static_cast<uint32_t>(night.size()), &decoded,
                                       &leading));
        EXPECT_EQ(leading, 0x37505050u);
        EXPECT_EQ(decoded, night);

        // The rebuilt Geometry List: system stamps, a 4-byte count of 1.
        ClumpView clump;
        ASSERT_TRUE(ParseClump(saved, &clump));
        const ChunkView* list = clump.Find(kChunkGeometryList);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->stamp, kDefaultStamp);
        std::vector<ChunkView> parts;
        ASSERT_TRUE(SplitChunks(list->payload, &parts));
        ASSERT_EQ(parts.size(), 2u);
        EXPECT_EQ(parts[0].Encoded(), MakeChunk(kChunkStruct, {1, 0, 0, 0}));
        EXPECT_EQ(parts[1].type, kChunkGeometry);
        EXPECT_EQ(parts[1].stamp, kDefaultStamp);
        std::vector<ChunkView> geometryParts;
        ASSERT_TRUE(SplitChunks(parts[1].payload, &geometryParts));
        ASSERT_FALSE(geometryParts.empty());
        EXPECT_EQ(geometryParts[0].stamp, kDefaultStamp);
    }

    TempDir dir;
};

// Targets for the round trips, each with something a rebuild must carry over.
std::vector<std::pair<const char*, GeometrySpec>> RoundTripTargets() {
    GeometrySpec twoSets = MakeCanonicalGeometry();
    twoSets.formatFlags |= kGeoTextured2;
    twoSets.formatHigh = 2;
    twoSets.uvSets.push_back({{0.25f, 0.5f}, {2, 3}, {-1, 4}, {5, -6}, {7.5f, 8}});

    GeometrySpec ownStamps = MakeCanonicalGeometry();
    ownStamps.materialListRaw = EncodeMaterialListChunk(ownStamps.materials, {}, kOtherStamp);
    ownStamps.extensions[0].stamp = kOldStamp;
    ownStamps.extensions.push_back({kEntrySkipped2F8, Bytes(10, 0x2F), kOtherStamp});
    ownStamps.extensions.push_back({kEntrySkipped105, {}, kOldStamp});

    GeometrySpec oldNight = MakeCanonicalGeometry();
    ExtensionEntry skin = SkinEntry(SkinSpec(), 5);
    skin.stamp = kOtherStamp;
    oldNight.extensions = {
        skin, NightColoursEntry(Pattern(5, 90)), {kEntrySkipped2F8, Bytes(6, 0x44), kOldStamp}};

    GeometrySpec oldStamp = MakeCanonicalGeometry();
    oldStamp.stamp = kOldStamp;
    oldStamp.lighting = {0.5f, 0.25f, 0.125f};

    return {{"canonical", MakeCanonicalGeometry()},
            {"two texture coordinate sets", twoSets},
            {"kept entries with their own stamps", ownStamps},
            {"skin, night colours, 0x253F2F8", oldNight},
            {"old stamp with lighting block", oldStamp},
            {"box", MakeBoxModel().FirstGeometry()}};
}

TEST_F(ColorsTest, ImportedNightColoursRoundTrip) {
    for (const auto& [name, target] : RoundTripTargets()) {
        SCOPED_TRACE(name);
        GeometrySpec source = target;
        source.prelit = Pattern(target.prelit.size(), 3);
        ScopedModel model;
        ScopedModel night;
        Geometry* g = Load(model, ModelWith(target), "target.dff");
        Geometry* s = Load(night, ModelWith(source), "source.dff");
        ASSERT_TRUE(g && s);
        ASSERT_TRUE(g->ImportNightColors(*s));
        EXPECT_EQ(g->colorsChanged, 1);
        EXPECT_EQ(g->hasNight, 1);
        EXPECT_EQ(ColoursOf(g->nightColors, g->vertexCount), source.prelit);
        EXPECT_EQ(ColoursOf(g->prelitColors, g->vertexCount), target.prelit);
        EXPECT_EQ(g->formatFlags, target.formatFlags);
        EXPECT_EQ(ColoursOf(s->prelitColors, s->vertexCount), source.prelit);
        EXPECT_EQ(s->colorsChanged, 0);

        CheckSaved(RebuildAndSave(model), Rebuilt(target, source.prelit), source.prelit);
    }
}

TEST_F(ColorsTest, UniformColoursRoundTrip) {
    for (const auto& [name, target] : RoundTripTargets()) {
        SCOPED_TRACE(name);
        const uint8_t day[4] = {255, 0, 0, 255};
        const uint8_t night[4] = {128, 64, 32, 255};
        ScopedModel model;
        Geometry* g = Load(model, ModelWith(target), "target.dff");
        ASSERT_NE(g, nullptr);
        ASSERT_TRUE(g->SetUniformColors(day, night));

        const size_t v = static_cast<size_t>(g->vertexCount);
        const std::vector<Rgba> nights(v, Rgba{128, 64, 32, 255});
        GeometrySpec expected = Rebuilt(target, nights);
        expected.prelit.assign(v, Rgba{255, 0, 0, 255});
        expected.formatFlags = static_cast<uint16_t>((target.formatFlags & ~kGeoLit) | kGeoPrelit);
        CheckSaved(RebuildAndSave(model), expected, nights);
    }
}

TEST_F(ColorsTest, UniformColoursSetPrelitAndClearLighting) {
    const struct {
        uint16_t before;
        uint16_t after;
    } cases[] = {{0x0036, 0x001E}, {0x0020, 0x0008}, {0x0008, 0x0008}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        GeometrySpec target = MakeCanonicalGeometry();
        target.formatFlags = c.before;
        if (!(c.before & kGeoPrelit))
            target.prelit.clear();
        if (!(c.before & kGeoTextured))
            target.uvSets.clear();
        if (!(c.before & kGeoNormals))
            target.normals.clear();
        target.hasNormals = target.normals.empty() ? 0 : 1;

        const uint8_t day[4] = {1, 2, 3, 4};
        const uint8_t night[4] = {5, 6, 7, 8};
        ScopedModel model;
        Geometry* g = Load(model, ModelWith(target), "target.dff");
        ASSERT_NE(g, nullptr);
        ASSERT_TRUE(g->SetUniformColors(day, night));
        EXPECT_EQ(g->formatFlags, c.after);
        EXPECT_EQ(g->formatHigh, target.formatHigh);
        EXPECT_EQ(g->hasPrelit, 1);

        const std::vector<Rgba> nights(5, Rgba{5, 6, 7, 8});
        GeometrySpec expected = Rebuilt(target, nights);
        expected.formatFlags = c.after;
        expected.prelit.assign(5, Rgba{1, 2, 3, 4});  // gained when there were none
        CheckSaved(RebuildAndSave(model), expected, nights);
    }
}

TEST_F(ColorsTest, UniformColoursReplaceEveryOldColour) {
    GeometrySpec target = MakeCanonicalGeometry();
    target.positions.resize(3);
    target.normals.resize(3);
    target.prelit.resize(3);
    target.uvSets[0].resize(3);
    target.triangles = {{0, 1, 0, 2}};
    target.extensions = {NightColoursEntry(Pattern(3, 77))};
    ScopedModel model;
    Geometry* g = Load(model, ModelWith(target), "target.dff");
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->hasNight, 1);
    const uint8_t day[4] = {255, 0, 0, 255};
    const uint8_t night[4] = {128, 64, 32, 255};
    ASSERT_TRUE(g->SetUniformColors(day, night));
    const uint8_t dayBytes[12] = {0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF};
    const uint8_t nightBytes[12] = {0x80, 0x40, 0x20, 0xFF, 0x80, 0x40,
                                    0x20, 0xFF, 0x80, 0x40, 0x20, 0xFF};
    EXPECT_EQ(0, std::memcmp(g->prelitColors, dayBytes, 12));
    EXPECT_EQ(0, std::memcmp(g->nightColors, nightBytes, 12));
    EXPECT_EQ(g->colorsChanged, 1);
    EXPECT_EQ(g->hasNight, 1);
}

TEST_F(ColorsTest, ImportCopiesDayColoursWithAlphaAndReplacesOldNightColours) {
    GeometrySpec target = MakeCanonicalGeometry();
    target.positions.resize(3);
    target.normals.resize(3);
    target.prelit.resize(3);
    target.uvSets[0].resize(3);
    target.triangles = {{0, 1, 0, 2}};
    target.extensions = {NightColoursEntry(Pattern(3, 77))};
    GeometrySpec source = target;
    source.prelit = {{10, 20, 30, 255}, {40, 50, 60, 128}, {0, 0, 0, 0}};
    source.extensions.clear();
    ScopedModel model;
    ScopedModel other;
    Geometry* g = Load(model, ModelWith(target), "target.dff");
    Geometry* s = Load(other, ModelWith(source), "source.dff");
    ASSERT_TRUE(g && s);
    ASSERT_EQ(ColoursOf(g->nightColors, 3), Pattern(3, 77));
    ASSERT_TRUE(g->ImportNightColors(*s));
    EXPECT_EQ(ColoursOf(g->nightColors, 3), source.prelit);
    EXPECT_EQ(ColoursOf(g->prelitColors, 3), target.prelit);
    EXPECT_NE(g->nightColors, s->prelitColors);  // a copy, not shared
}

TEST_F(ColorsTest, ImportFromTheSameFileCopiesItsOwnDayColours) {
    const ClumpSpec plan = MakeCanonicalModel();
    ScopedModel model;
    ScopedModel same;
    Geometry* g = Load(model, plan, "a.dff");
    Geometry* s = Load(same, plan, "a.dff");
    ASSERT_TRUE(g && s);
    ASSERT_TRUE(g->ImportNightColors(*s));
    EXPECT_EQ(ColoursOf(g->nightColors, g->vertexCount), MakeCanonicalGeometry().prelit);
}

TEST_F(ColorsTest, ImportRefusesUnfitSourcesAndChangesNothing) {
    GeometrySpec target = MakeCanonicalGeometry();
    target.extensions.push_back(NightColoursEntry(Pattern(5, 60)));
    GeometrySpec moreVertices =
        MakeModelWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 2, 2}, {3, 3, 3}},
                               {{0, 1, 0, 2}})
            .FirstGeometry();
    moreVertices.formatFlags |= kGeoPrelit;
    moreVertices.prelit = Pattern(6, 1);
    GeometrySpec noDayColours = MakeCanonicalGeometry();
    noDayColours.formatFlags &= static_cast<uint16_t>(~kGeoPrelit);
    noDayColours.prelit.clear();
    const std::vector<std::pair<const char*, GeometrySpec>> sources = {
        {"six vertices", moreVertices}, {"no day colours", noDayColours}};
    for (const auto& [name, source] : sources) {
        SCOPED_TRACE(name);
        ScopedModel model;
        ScopedModel other;
        Geometry* g = Load(model, ModelWith(target), "target.dff");
        Geometry* s = Load(other, ModelWith(source), "source.dff");
        ASSERT_TRUE(g && s);
        const uint8_t* nightBefore = g->nightColors;
        const Chunk* listBefore = model->geometryList;
        EXPECT_FALSE(g->ImportNightColors(*s));
        EXPECT_EQ(g->nightColors, nightBefore);
        EXPECT_EQ(ColoursOf(g->nightColors, 5), Pattern(5, 60));
        EXPECT_EQ(g->hasNight, 1);
        EXPECT_EQ(g->colorsChanged, 0);
        EXPECT_EQ(s->colorsChanged, 0);
        EXPECT_EQ(s->nightColors, nullptr);
        EXPECT_FALSE(model->RebuildGeometryList());
        EXPECT_EQ(model->geometryList, listBefore);
    }
}

TEST_F(ColorsTest, ZeroVerticesGiveANightColoursEntryOfOnlyItsLeadingWord) {
    GeometrySpec empty;
    empty.formatFlags = kGeoPrelit;
    empty.hasPositions = 0;
    empty.materials = {MakeMaterial()};
    for (bool uniform : {false, true}) {
        SCOPED_TRACE(uniform ? "uniform colours" : "import");
        ScopedModel model;
        ScopedModel other;
        Geometry* g = Load(model, ModelWith(empty), "target.dff");
        Geometry* s = Load(other, ModelWith(empty), "source.dff");
        ASSERT_TRUE(g && s);
        const uint8_t day[4] = {1, 1, 1, 1};
        ASSERT_TRUE(uniform ? g->SetUniformColors(day, day) : g->ImportNightColors(*s));
        EXPECT_NE(g->nightColors, nullptr);
        CheckSaved(RebuildAndSave(model), Rebuilt(empty, {}), {});
    }
}

TEST_F(ColorsTest, NothingIsRebuiltWithoutAChangedFirstGeometry) {
    const Bytes file = BuildModel(MakeCanonicalModel());
    {
        ScopedModel model;
        ASSERT_EQ(LoadBytes(*model, dir.Path("a.dff"), file), 1);
        EXPECT_FALSE(model->RebuildGeometryList());  // geometry not read
        ASSERT_EQ(model->ReadGeometryList(), 1);
        const Chunk* list = model->geometryList;
        const uint8_t* bytes = list->payload.data;
        EXPECT_FALSE(model->RebuildGeometryList());  // colours unchanged
        EXPECT_EQ(model->geometryList, list);
        EXPECT_EQ(model->geometryList->payload.data, bytes);
        Bytes saved;
        ASSERT_TRUE(SaveBytes(*model, dir.Path("saved.dff"), &saved));
        EXPECT_EQ(saved, file);
    }
    GeometryListSpec noStruct;
    noStruct.geometries = {MakeCanonicalGeometry()};
    noStruct.geometries[0].structType = kChunkExtension;
    ClumpSpec plan = MakeCanonicalModel();
    *plan.FindChild(ClumpChildKind::GeometryList) = ClumpChild::MakeGeometryList(noStruct);
    ScopedModel model;
    ASSERT_EQ(LoadBytes(*model, dir.Path("b.dff"), BuildModel(plan)), 1);
    ASSERT_EQ(model->ReadGeometryList(), 1);
    const Chunk* list = model->geometryList;
    EXPECT_FALSE(model->RebuildGeometryList());
    EXPECT_EQ(model->geometryList, list);
}

TEST_F(ColorsTest, ChangedGeometryWithoutNightColoursKeepsItsExtensionAsRead) {
    // Old Night Colours entries stay when no new ones are set.
    GeometrySpec target = MakeCanonicalGeometry();
    target.extensions = {NightColoursEntry(Pattern(5, 9)), BinMeshEntry(target.triangles),
                         NightColoursEntry(Pattern(6, 1))};
    ScopedModel model;
    Geometry* g = Load(model, ModelWith(target), "target.dff");
    ASSERT_NE(g, nullptr);
    if (g->ownsNight)
        std::free(g->nightColors);
    g->nightColors = nullptr;
    g->ownsNight = 0;
    g->colorsChanged = 1;
    EXPECT_EQ(RebuildAndSave(model), BuildModel(ModelWith(target)));
}

// Geometry Extensions that read, each with whether the Extension a rebuild
// writes from them (kept entries, then the new Night Colours entry) fails to
// read back with the new night colours.
std::vector<std::tuple<const char*, std::vector<ExtensionEntry>, bool>> ReadBackCases() {
    const GeometrySpec base = MakeCanonicalGeometry();
    const ExtensionEntry binMesh = BinMeshEntry(base.triangles);

    ExtensionEntry padded = binMesh;  // the reader stops at the last 4 bytes
    padded.payload.resize(padded.payload.size() + 4, 0);
    ExtensionEntry pastTheEnd{kEntrySkipped2F8, Bytes(8, 1)};
    pastTheEnd.declaredSize = 100;
    // Old night colours after the meshes, then an entry that swallows the rest.
    ExtensionEntry swallower{kEntrySkipped2F8, {}};
    swallower.declaredSize = 1000;
    ExtensionEntry hiding = binMesh;
    hiding.payload =
        Cat({binMesh.payload, EncodeEntries({NightColoursEntry(Pattern(5, 200)), swallower})});
    // Declared 8 bytes short of its meshes: walked by sizes, the header at
    // the declared end (indices 2 and 12) covers the next entry exactly.
    ExtensionEntry shortMesh{kEntryBinMesh, MakeBinMeshPayload({{0, {0, 1, 2, 12}}})};
    shortMesh.declaredSize = static_cast<uint32_t>(shortMesh.payload.size() - 8);
    // More runs than a save writes piece by piece.
    std::vector<ExtensionEntry> manyRuns;
    for (int i = 0; i < 60; ++i) {
        manyRuns.push_back({kEntrySkipped2FD, Bytes(4, static_cast<uint8_t>(i))});
        manyRuns.push_back(NightColoursEntry(Pattern(5, 9)));
    }
    std::vector<ExtensionEntry> manyRunsPadded = manyRuns;
    manyRunsPadded.push_back(padded);
    manyRuns.push_back(binMesh);

    return {
        {"bin mesh longer than its meshes", {padded}, true},
        {"last entry of size 0 of a type that is not skipped", {binMesh, {0x50F, {}}}, true},
        {"entry declared past the end", {binMesh, pastTheEnd}, true},
        {"other night colours found", {hiding}, true},
        {"many runs, then a bin mesh longer than its meshes", manyRunsPadded, true},
        {"bin mesh shorter than its meshes, then an entry",
         {shortMesh, {kEntrySkipped2F8, Bytes(4, 7)}},
         false},
        {"last entry of size 0 of a skipped type", {binMesh, {kEntrySkipped2F8, {}}}, false},
        {"many runs", manyRuns, false},
    };
}

TEST_F(ColorsTest, RebuildIsRefusedExactlyWhenItsExtensionWouldNotReadBack) {
    const uint8_t day[4] = {1, 2, 3, 4};
    const uint8_t night[4] = {5, 6, 7, 8};
    const std::string built = dir.Path("built.dff");
    const std::string piecewise = dir.Path("piecewise.dff");
    for (const auto& [name, extensions, refused] : ReadBackCases()) {
        SCOPED_TRACE(name);
        GeometrySpec target = MakeCanonicalGeometry();
        target.extensions = extensions;
        ScopedModel a;
        ScopedModel b;
        Geometry* g = Load(a, ModelWith(target), "target.dff");
        Geometry* h = Load(b, ModelWith(target), "target.dff");
        ASSERT_TRUE(g && h);
        ASSERT_TRUE(g->SetUniformColors(day, night) && h->SetUniformColors(day, night));
        std::filesystem::remove(built);
        std::filesystem::remove(piecewise);

        const Chunk* listBefore = a->geometryList;
        EXPECT_EQ(a->RebuildGeometryList(), !refused);
        EXPECT_EQ(b->SaveWithRebuiltGeometry(piecewise.c_str()) < 0, refused);
        if (refused) {
            EXPECT_EQ(a->geometryList, listBefore);
            EXPECT_FALSE(Exists(piecewise));
            continue;
        }
        ASSERT_GT(a->Save(built.c_str()), 0);
        EXPECT_EQ(ReadFile(piecewise), ReadFile(built));
        ScopedModel again;
        ASSERT_EQ(again->Load(built.c_str()), 1);
        ASSERT_EQ(again->ReadGeometryList(), 1);
        const Geometry* read = again->FirstGeometry();
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->hasNight, 1);
        EXPECT_EQ(ColoursOf(read->nightColors, read->vertexCount),
                  std::vector<Rgba>(5, Rgba{5, 6, 7, 8}));
    }
}

TEST_F(ColorsTest, DayColoursAreLeftOutWhenFlaggedButNotHeld) {
    ScopedModel model;
    Geometry* g = Load(model, MakeCanonicalModel(), "target.dff");
    ASSERT_NE(g, nullptr);
    Chunk* full = g->WriteStruct();
    ASSERT_NE(full, nullptr);
    g->hasPrelit = 0;
    Chunk* without = g->WriteStruct();
    ASSERT_NE(without, nullptr);
    EXPECT_EQ(full->size, EncodeGeometryStructBody(MakeCanonicalGeometry()).size());
    EXPECT_EQ(without->size, full->size - 4 * 5);
    EXPECT_EQ(without->Stamp(), kDefaultStamp);
    EXPECT_NE(GetU16(PayloadBytes(without->payload), 0) & kGeoPrelit, 0);
    DestroyChunk(full);
    DestroyChunk(without);
}

TEST_F(ColorsTest, WritingTwiceGivesTheSameBytes) {
    ScopedModel model;
    ScopedModel other;
    GeometrySpec source = MakeCanonicalGeometry();
    source.prelit = Pattern(5, 44);
    Geometry* g = Load(model, MakeCanonicalModel(), "target.dff");
    Geometry* s = Load(other, ModelWith(source), "source.dff");
    ASSERT_TRUE(g && s);
    ASSERT_TRUE(g->ImportNightColors(*s));
    const uint32_t extensionBefore = g->extensionChunk->size;
    Chunk* first = g->WriteChunk();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(g->extensionChunk->size, extensionBefore + 16 + 4 * 5);
    Chunk* second = g->WriteChunk();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ChunkBytes(*first), ChunkBytes(*second));
    EXPECT_EQ(first->type, kChunkGeometry);
    EXPECT_EQ(first->size, first->payload.length);
    DestroyChunk(first);
    DestroyChunk(second);
}

}  // namespace
}  // namespace brennix::test
