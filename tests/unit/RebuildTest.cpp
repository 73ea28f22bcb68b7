// paint and night on one file: every clump child but the Geometry List comes
// back byte for byte in its place, every geometry with its new colours; a
// model only the commands' reader takes is painted too, and a model whose
// clump holds just what the classic save writes comes out as the classic
// jobs write it. Also the read-back comparison of two models' problems.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "cli/ModelCommands.h"
#include "dff/WholeModelWrite.h"

namespace brennix::test {
namespace {

constexpr uint8_t kDay[4] = {200, 100, 50, 255};
constexpr uint8_t kNight[4] = {20, 30, 40, 255};

std::vector<GeometrySpec>& GeometriesOf(ClumpSpec& plan) {
    return plan.FindChild(ClumpChildKind::GeometryList)->geometryList.geometries;
}

// The same model with day colours of its own on every geometry, to take
// night colours from.
ClumpSpec NightCopy(ClumpSpec plan) {
    uint8_t k = 1;
    for (GeometrySpec& g : GeometriesOf(plan)) {
        g.formatFlags = static_cast<uint16_t>(g.formatFlags | kGeoPrelit);
        g.prelit.clear();
        for (int32_t v = 0; v < g.VertexCount(); ++v, ++k)
            g.prelit.push_back(Rgba{k, static_cast<uint8_t>(k * 3), static_cast<uint8_t>(v), 255});
    }
    return plan;
}

ClumpSpec ManyGeometries(size_t count) {
    FrameListSpec frames;
    frames.frames.push_back(MakeFrame("root"));
    GeometryListSpec list;
    for (size_t i = 0; i < count; ++i) {
        frames.frames.push_back(MakeFrame("part" + std::to_string(i), 0));
        list.geometries.push_back(
            i % 2 == 0
                ? MakeCanonicalGeometry()
                : MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}));
    }
    return MakeMultiAtomicModel(frames, list);
}

struct Case {
    const char* name;
    ClumpSpec plan;
    bool warns = false;
};

std::vector<Case> KeptModels() {
    std::vector<Case> cases;
    auto canonicalWith = [](std::vector<ClumpChild> extra, size_t at) {
        ClumpSpec plan = MakeCanonicalModel();
        plan.children.insert(plan.children.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(),
                             extra.end());
        return plan;
    };
    ClumpSpec light = canonicalWith({ClumpChild::MakeLight(), ClumpChild::MakeLight()}, 2);
    light.children[0] = ClumpChild::MakeStruct(1, 2, 0);
    cases.push_back({"two lights", light});
    ClumpSpec camera = canonicalWith({ClumpChild::MakeCamera()}, 4);
    camera.children[0] = ClumpChild::MakeStruct(1, 0, 1);
    cases.push_back({"a camera", camera});
    cases.push_back(
        {"an unknown chunk", canonicalWith({ClumpChild::MakeRaw(0x253F2F0, Bytes(9, 0x5A))}, 3)});
    cases.push_back({"a second Struct", canonicalWith({ClumpChild::MakeStruct(7, 1, 1)}, 4)});
    ClumpSpec counted = MakeCanonicalModel();
    counted.children[0] = ClumpChild::MakeStruct(1, 3, 0);
    cases.push_back({"lights counted, none held", counted});
    ClumpSpec trailing = MakeCanonicalModel();
    trailing.uvAnimDictionary = Bytes{1, 2, 3, 4};
    trailing.trailing = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    cases.push_back({"a dictionary and bytes after the clump", trailing});
    ClumpSpec after = MakeCanonicalModel();
    after.children.pop_back();
    after.trailing = MakeExtensionChunk({HAnimEntry()});
    cases.push_back({"an Extension after the clump", after});
    cases.push_back({"one atomic", MakeCanonicalModel()});
    cases.push_back({"two atomics and a light", MakeTwoGeometryModel()});
    ClumpSpec many = ManyGeometries(60);
    many.Frames().frames[3].extensions = {FrameNameEntry(std::string(30, 'n'))};
    cases.push_back({"sixty geometries, a long frame name", many, true});
    return cases;
}

// Checks `out` against `in`: the same children in the same order, each but
// the Geometry List byte for byte, the same bytes around the clump, and
// geometry k of the list with `day[k]` (or its own) day colours and
// `night[k]` as its night colours.
void ExpectKept(const Bytes& in, const Bytes& out, const std::vector<std::vector<Rgba>>& day,
                const std::vector<std::vector<Rgba>>& night, const std::string& name) {
    ClumpView before, after;
    std::string why;
    ASSERT_TRUE(ParseClump(in, &before, &why)) << name << ": " << why;
    ASSERT_TRUE(ParseClump(out, &after, &why)) << name << ": " << why;
    ASSERT_EQ(after.ChildTypes(), before.ChildTypes()) << name;
    for (size_t i = 0; i < after.children.size(); ++i) {
        if (after.children[i].type == kChunkGeometryList)
            continue;
        EXPECT_EQ(after.children[i].Encoded(), before.children[i].Encoded()) << name << " " << i;
    }
    ASSERT_EQ(after.trailingBytes, before.trailingBytes) << name;
    EXPECT_TRUE(std::equal(out.end() - static_cast<std::ptrdiff_t>(after.trailingBytes), out.end(),
                           in.end() - static_cast<std::ptrdiff_t>(before.trailingBytes)))
        << name;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(after.clump.offset)),
              Bytes(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(before.clump.offset)))
        << name;

    std::vector<ChunkView> list;
    ASSERT_TRUE(SplitChunks(after.Find(kChunkGeometryList)->payload, &list, &why)) << name << why;
    ASSERT_EQ(list.size(), night.size() + 1) << name;
    EXPECT_EQ(GetU32(list[0].payload, 0), night.size()) << name;
    for (size_t k = 0; k < night.size(); ++k) {
        GeometryView g;
        ASSERT_TRUE(ParseGeometryChunk(list[k + 1], &g, &why)) << name << " " << k << ": " << why;
        EXPECT_EQ(g.prelit, day[k]) << name << " " << k;
        const ChunkView* entry = g.FindEntry(kEntryNightColours);
        ASSERT_NE(entry, nullptr) << name << " " << k;
        std::vector<Rgba> colours;
        ASSERT_TRUE(
            DecodeNightColours(entry->payload, static_cast<uint32_t>(g.vertexCount), &colours))
            << name << " " << k;
        EXPECT_EQ(colours, night[k]) << name << " " << k;
    }
}

class RebuildTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }

    cli::FileOutcome Paint(const std::string& in, const std::string& out) {
        cli::PaintRequest request;
        std::copy(kDay, kDay + 4, request.day);
        std::copy(kNight, kNight + 4, request.night);
        request.target.output = out;
        return cli::PaintModelFile(request, in);
    }
    cli::FileOutcome Night(const std::string& in, const std::string& from, const std::string& out) {
        cli::NightRequest request;
        request.from = from;
        request.target.output = out;
        return cli::ImportNightFile(request, in);
    }

    TempDir dir;
};

TEST_F(RebuildTest, PaintAndNightKeepEveryOtherChunkInPlace) {
    for (Case& c : KeptModels()) {
        const Bytes in = BuildModel(c.plan);
        ClumpSpec nightPlan = NightCopy(c.plan);
        ASSERT_TRUE(WriteFile(dir.Path("in.dff"), in)) << c.name;
        ASSERT_TRUE(WriteFile(dir.Path("night.dff"), BuildModel(nightPlan))) << c.name;

        cli::FileOutcome painted = Paint(dir.Path("in.dff"), dir.Path("painted.dff"));
        ASSERT_TRUE(painted.ok) << c.name << ": " << painted.reason;
        EXPECT_EQ(painted.messages.find("[warning] " + dir.Path("in.dff") + ": frame 3: ") !=
                      std::string::npos,
                  c.warns)
            << c.name << ": " << painted.messages;
        std::vector<std::vector<Rgba>> day, night, own;
        for (const GeometrySpec& g : GeometriesOf(c.plan)) {
            const size_t n = static_cast<size_t>(g.VertexCount());
            day.emplace_back(n, Rgba{kDay[0], kDay[1], kDay[2], kDay[3]});
            night.emplace_back(n, Rgba{kNight[0], kNight[1], kNight[2], kNight[3]});
            own.push_back(g.prelit);
        }
        ExpectKept(in, ReadFile(dir.Path("painted.dff")), day, night, c.name);

        cli::FileOutcome imported =
            Night(dir.Path("in.dff"), dir.Path("night.dff"), dir.Path("lit.dff"));
        ASSERT_TRUE(imported.ok) << c.name << ": " << imported.reason;
        night.clear();
        for (const GeometrySpec& g : GeometriesOf(nightPlan))
            night.push_back(g.prelit);
        ExpectKept(in, ReadFile(dir.Path("lit.dff")), own, night, c.name);
    }
}

TEST_F(RebuildTest, PaintsAModelOnlyTheCommandsReaderTakes) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.FirstGeometry().materials[0].textures = {MakeTexture("a"), MakeTexture("b", "mask"),
                                                  MakeTexture("c")};
    const Bytes in = BuildModel(plan);
    ScopedModel classic;
    ASSERT_EQ(LoadBytes(*classic, dir.Path("in.dff"), in), 1);
    ASSERT_EQ(classic->ReadGeometryList(), 0);  // more than two textures

    cli::FileOutcome painted = Paint(dir.Path("in.dff"), dir.Path("out.dff"));
    ASSERT_TRUE(painted.ok) << painted.reason;
    const Bytes out = ReadFile(dir.Path("out.dff"));
    const size_t n = static_cast<size_t>(plan.FirstGeometry().VertexCount());
    ExpectKept(in, out, {std::vector<Rgba>(n, {200, 100, 50, 255})},
               {std::vector<Rgba>(n, {20, 30, 40, 255})}, "three textures");
    GeometryView before, after;
    ASSERT_TRUE(ParseFirstGeometry(in, &before));
    ASSERT_TRUE(ParseFirstGeometry(out, &after));
    EXPECT_EQ(after.materialListChunk, before.materialListChunk);
    ASSERT_EQ(after.materials.size(), 1u);
    EXPECT_EQ(after.materials[0].textures.size(), 3u);
}

TEST_F(RebuildTest, AClumpOfWhatTheClassicSaveWritesGivesItsBytes) {
    ClumpSpec shortStruct = MakeCanonicalModel();
    shortStruct.children[0] = ClumpChild::MakeShortStruct(1);
    ClumpSpec skinned = MakeLargeModel(40, 30, {true, true, true, true, true, true});
    skinned.trailing = {7, 7, 7};
    for (const ClumpSpec& plan : {MakeCanonicalModel(), shortStruct, skinned}) {
        const Bytes in = BuildModel(plan);
        ClumpSpec nightPlan = NightCopy(plan);
        ASSERT_TRUE(WriteFile(dir.Path("night.dff"), BuildModel(nightPlan)));

        ScopedModel classic, source;
        ASSERT_EQ(LoadBytes(*classic, dir.Path("in.dff"), in), 1);
        ASSERT_EQ(source->Load(dir.Path("night.dff").c_str()), 1);
        ASSERT_EQ(classic->ReadGeometryList(), 1);
        ASSERT_EQ(source->ReadGeometryList(), 1);
        ASSERT_TRUE(classic->FirstGeometry()->ImportNightColors(*source->FirstGeometry()));
        ASSERT_GT(classic->SaveWithRebuiltGeometry(dir.Path("classic-night.dff").c_str()), 0);
        ASSERT_TRUE(classic->FirstGeometry()->SetUniformColors(kDay, kNight));
        ASSERT_GT(classic->SaveWithRebuiltGeometry(dir.Path("classic-paint.dff").c_str()), 0);

        ASSERT_TRUE(Paint(dir.Path("in.dff"), dir.Path("paint.dff")).ok);
        ASSERT_TRUE(Night(dir.Path("in.dff"), dir.Path("night.dff"), dir.Path("lit.dff")).ok);
        EXPECT_EQ(ReadFile(dir.Path("paint.dff")), ReadFile(dir.Path("classic-paint.dff")));
        EXPECT_EQ(ReadFile(dir.Path("lit.dff")), ReadFile(dir.Path("classic-night.dff")));
    }
}

TEST(ReadBackTest, AWrittenModelReadsAsWellWhenItKeepsNoOtherProblemAndNoMore) {
    // Atomics drawing geometries that do not exist, each a problem of its own.
    auto withBadAtomics = [](uint32_t count, uint32_t geometry) {
        ClumpSpec plan = MakeCanonicalModel();
        for (uint32_t i = 0; i < count; ++i)
            plan.children.insert(plan.children.end() - 1,
                                 ClumpChild::MakeAtomic(MakeAtomicPayload(0, geometry)));
        return BuildModel(plan);
    };
    struct Pair {
        const char* name;
        Bytes before, after;
        bool asWell;
    };
    const Pair pairs[] = {
        {"the same problems", withBadAtomics(2, 5), withBadAtomics(2, 5), true},
        {"fewer problems", withBadAtomics(2, 5), withBadAtomics(1, 5), true},
        {"one more problem", withBadAtomics(2, 5), withBadAtomics(3, 5), false},
        {"another problem", withBadAtomics(2, 5), withBadAtomics(2, 6), false},
        {"past the kept hundred, as many", withBadAtomics(150, 5), withBadAtomics(150, 5), true},
        {"past the kept hundred, one more", withBadAtomics(150, 5), withBadAtomics(151, 5), false},
    };
    for (const Pair& p : pairs) {
        WholeModel before, after;
        ASSERT_TRUE(before.Parse(p.before.data(), p.before.size()));
        ASSERT_TRUE(after.Parse(p.after.data(), p.after.size()));
        std::string why;
        EXPECT_EQ(ReadsBackAsWell(before, after, &why), p.asWell) << p.name << ": " << why;
    }
}

}  // namespace
}  // namespace brennix::test
