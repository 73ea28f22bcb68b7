// The model work behind the commands: the summary of a collision file, a
// whole model written back with every geometry rebuilt or a new clump
// Extension, and the colour jobs, which on one-geometry models must write
// exactly what the library's exports write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "brennix.h"
#include "cli/Commands.h"
#include "cli/ModelCommands.h"
#include "col/ColFile.h"
#include "col/ColGenerate.h"
#include "col/ColInfo.h"
#include "dff/WholeModelWrite.h"
#include "support/ColBuilder.h"
#include "support/ModelBuilder.h"

namespace brennix::test {
namespace {

constexpr uint32_t kEntryVehicleCollision = 0x253F2FA;

// A version-1 collision file named "old" with so many records of each kind.
Bytes MakeColl(uint32_t spheres, uint32_t lines, uint32_t boxes, uint32_t vertices,
               uint32_t faces) {
    ColEntryPlan plan;
    plan.version = 1;
    plan.name = "old";
    plan.spheres.resize(spheres);
    plan.lines.resize(lines);
    plan.boxes.resize(boxes);
    plan.vertices.resize(vertices);
    plan.faces.resize(faces);
    return BuildColEntry(plan);
}

Bytes WithFourcc(Bytes bytes, const char* fourcc) {
    std::copy(fourcc, fourcc + 4, bytes.begin());
    return bytes;
}

TEST(ColSummaryTest, ReadsEveryVersionAndRefusesWhatLiesOutside) {
    const Bytes col3 = MakeCol3File();  // one box, two faces naming vertices 0 to 3
    Bytes farFaces = col3;
    farFaces[100] = 0xF0;  // the faces' offset points past the end
    Bytes cutColl = MakeColl(0, 0, 0, 0, 2);
    cutColl.pop_back();
    struct Case {
        const char* name;
        Bytes bytes;
        ColSummaryResult result;
        uint32_t version, spheres, boxes, faces, vertices;
    };
    const Case cases[] = {
        {"COL3", col3, ColSummaryResult::kOk, 3, 0, 1, 2, 4},
        {"COL2", WithFourcc(col3, "COL2"), ColSummaryResult::kOk, 2, 0, 1, 2, 4},
        {"COL4", WithFourcc(col3, "COL4"), ColSummaryResult::kOk, 4, 0, 1, 2, 4},
        {"COLL", MakeColl(2, 0, 1, 5, 3), ColSummaryResult::kOk, 1, 2, 1, 3, 5},
        {"COLL with lines", MakeColl(0, 1, 0, 0, 0), ColSummaryResult::kUnknownSections, 1, 0, 0, 0,
         0},
        {"COLL cut in its faces", cutColl, ColSummaryResult::kSectionOutside, 1, 0, 0, 0, 0},
        {"faces outside", farFaces, ColSummaryResult::kSectionOutside, 3, 0, 1, 2, 0},
        {"header cut", Bytes(col3.begin(), col3.begin() + 103), ColSummaryResult::kHeaderCutShort,
         3, 0, 0, 0, 0},
        {"COL5", WithFourcc(col3, "COL5"), ColSummaryResult::kNotCollision, 0, 0, 0, 0, 0},
        {"three bytes", Bytes{'C', 'O', 'L'}, ColSummaryResult::kNotCollision, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ColSummary summary;
        EXPECT_EQ(ReadColSummary(c.bytes.data(), c.bytes.size(), &summary), c.result) << c.name;
        EXPECT_EQ(summary.version, c.version) << c.name;
        if (c.result != ColSummaryResult::kOk)
            continue;
        EXPECT_EQ(std::string(summary.name), c.version == 1 ? "old" : "house") << c.name;
        EXPECT_EQ(summary.spheres, c.spheres) << c.name;
        EXPECT_EQ(summary.boxes, c.boxes) << c.name;
        EXPECT_EQ(summary.faces, c.faces) << c.name;
        EXPECT_EQ(summary.vertices, c.vertices) << c.name;
        EXPECT_EQ(summary.verticesFromFaces, c.version != 1) << c.name;
    }
}

// The two-geometry model with a camera before its second atomic, a collision
// entry in the clump Extension, and bytes after the clump.
ClumpSpec TwoGeometryModel() {
    ClumpSpec model = MakeTwoGeometryModel();
    model.children[0] = ClumpChild::MakeStruct(2, 1, 1);
    const ClumpChild* second = model.FindChild(ClumpChildKind::Atomic, 1);
    model.children.insert(model.children.begin() + (second - model.children.data()),
                          ClumpChild::MakeCamera());
    model.ExtensionEntries() = {CollisionEntry(MakeCol3File())};
    model.trailing = {0xAA, 0xBB, 0xCC};
    return model;
}

void Parse(const Bytes& bytes, WholeModel* model) {
    ASSERT_TRUE(model->Parse(bytes.data(), bytes.size()));
}

TEST(WholeModelWriteTest, RebuildsEveryGeometryAndKeepsEveryOtherChunk) {
    const Bytes input = BuildModel(TwoGeometryModel());
    WholeModel model;
    Parse(input, &model);
    ASSERT_TRUE(model.Ok());
    const uint8_t day[4] = {255, 0, 0, 255};
    const uint8_t night[4] = {1, 2, 3, 255};
    for (GeometryEntry& entry : model.geometries)
        ASSERT_TRUE(entry.geometry->SetUniformColors(day, night));
    std::vector<uint8_t> out;
    std::string why;
    ASSERT_TRUE(WriteModelWithGeometries(model, &out, &why)) << why;

    ClumpView before, after;
    ASSERT_TRUE(ParseClump(input, &before));
    ASSERT_TRUE(ParseClump(out, &after, &why)) << why;
    ASSERT_EQ(after.ChildTypes(), before.ChildTypes());
    for (size_t i = 0; i < after.children.size(); ++i) {
        if (after.children[i].type != kChunkGeometryList) {
            EXPECT_EQ(after.children[i].Encoded(), before.children[i].Encoded()) << i;
        }
    }
    EXPECT_EQ(Bytes(out.end() - 3, out.end()), (Bytes{0xAA, 0xBB, 0xCC}));

    std::vector<ChunkView> list;
    ASSERT_TRUE(SplitChunks(after.Find(kChunkGeometryList)->payload, &list, &why)) << why;
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(GetU32(list[0].payload, 0), 2u);
    std::vector<ChunkView> oldList;
    ASSERT_TRUE(SplitChunks(before.Find(kChunkGeometryList)->payload, &oldList));
    for (size_t k = 1; k < 3; ++k) {
        GeometryView written, original;
        ASSERT_TRUE(ParseGeometryChunk(list[k], &written, &why)) << k << ": " << why;
        ASSERT_TRUE(ParseGeometryChunk(oldList[k], &original, &why)) << k << ": " << why;
        EXPECT_EQ(written.positions, original.positions) << k;
        EXPECT_EQ(written.triangles, original.triangles) << k;
        EXPECT_EQ(written.prelit, std::vector<Rgba>(written.vertexCount, {255, 0, 0, 255})) << k;
        const ChunkView* entry = written.FindEntry(kEntryNightColours);
        ASSERT_NE(entry, nullptr) << k;
        std::vector<Rgba> colours;
        ASSERT_TRUE(DecodeNightColours(entry->payload, written.vertexCount, &colours));
        EXPECT_EQ(colours, std::vector<Rgba>(written.vertexCount, {1, 2, 3, 255})) << k;
    }
    WholeModel reread;
    Parse(out, &reread);
    EXPECT_TRUE(reread.Ok());
}

TEST(WholeModelWriteTest, PutsTheAttachedExtensionInsideTheClump) {
    const Bytes col = MakeCol3File();
    const Bytes padding = {0, 0, 0, 0};
    struct Case {
        const char* name;
        bool inside;  // else the Extension, if any, follows the clump
        Bytes after;
        size_t keptEntries;
        Bytes trailing;  // expected after the written clump
    };
    const Case cases[] = {
        {"inside", true, padding, 1, padding},
        {"after the clump", false, Cat({MakeExtensionChunk({HAnimEntry()}), padding}), 1, padding},
        {"none", false, padding, 0, padding},
    };
    for (const Case& c : cases) {
        ClumpSpec plan = MakeCanonicalModel();
        plan.ExtensionEntries() = {HAnimEntry()};
        if (!c.inside)
            plan.children.pop_back();
        plan.trailing = c.after;
        WholeModel model;
        Parse(BuildModel(plan), &model);
        std::vector<uint8_t> entries, out;
        std::string why;
        ASSERT_TRUE(BuildAttachedExtension(model, false, kEntryVehicleCollision, col.data(),
                                           col.size(), &entries, &why))
            << c.name << ": " << why;
        ASSERT_TRUE(WriteModelWithExtension(model, entries.data(), entries.size(), &out, &why))
            << c.name << ": " << why;

        ClumpView view;
        ASSERT_TRUE(ParseClump(out, &view, &why)) << c.name << ": " << why;
        EXPECT_EQ(view.children.back().type, kChunkExtension) << c.name;
        EXPECT_EQ(view.trailingBytes, c.trailing.size()) << c.name;
        std::vector<ChunkView> found;
        ASSERT_TRUE(SplitChunks(view.children.back().payload, &found)) << c.name;
        ASSERT_EQ(found.size(), c.keptEntries + 1) << c.name;
        EXPECT_EQ(found.back().type, kEntryVehicleCollision) << c.name;
        EXPECT_EQ(found.back().stamp, kDefaultStamp) << c.name;
        EXPECT_EQ(found.back().payload, col) << c.name;
    }
}

TEST(WholeModelWriteTest, ReplacesCollisionsOfBothKindsOnlyWhenTheEntriesFillTheExtension) {
    const Bytes col = MakeCol3File();
    ClumpSpec plan = MakeCanonicalModel();
    plan.ExtensionEntries() = {ExtensionEntry(kEntryVehicleCollision, col), HAnimEntry(),
                               CollisionEntry(col)};
    WholeModel model;
    Parse(BuildModel(plan), &model);
    std::vector<uint8_t> entries;
    std::string why;
    ASSERT_TRUE(BuildAttachedExtension(model, true, kEntryCollision, col.data(), col.size(),
                                       &entries, &why))
        << why;
    std::vector<ChunkView> found;
    ASSERT_TRUE(SplitChunks(entries, &found));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].type, kEntryHAnim);
    EXPECT_EQ(found[1].type, kEntryCollision);

    // New entries after these would be read as part of the old ones.
    Bytes cut = EncodeEntries({CollisionEntry(col)});
    cut.pop_back();
    struct Case {
        const char* name;
        Bytes payload;
    };
    const Case broken[] = {
        {"bytes after the last entry", Cat({EncodeEntries({HAnimEntry()}), Bytes{1, 2, 3}})},
        {"an entry cut short", cut},
    };
    for (const Case& c : broken) {
        plan.FindChild(ClumpChildKind::Extension)->rawPayload = c.payload;
        WholeModel lying;
        Parse(BuildModel(plan), &lying);
        EXPECT_FALSE(BuildAttachedExtension(lying, true, kEntryCollision, col.data(), col.size(),
                                            &entries, &why))
            << c.name;
        EXPECT_TRUE(entries.empty()) << c.name;
    }
}

TEST(ColourParseTest, TakesHexAndDecimalTriples) {
    struct Case {
        const char* text;
        bool ok;
        Rgba colour;
    };
    const Case cases[] = {
        {"#FF8000", true, {255, 128, 0, 255}},
        {"#0a0B0c", true, {10, 11, 12, 255}},
        {"255,128,0", true, {255, 128, 0, 255}},
        {"0,0,0", true, {0, 0, 0, 255}},
        {"#FF800", false, {}},
        {"#GG0000", false, {}},
        {"256,0,0", false, {}},
        {"1,2", false, {}},
        {"1,2,3,", false, {}},
        {"1, 2, 3", false, {}},
        {"0001,2,3", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        uint8_t out[4] = {};
        EXPECT_EQ(cli::ParseColour(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ((Rgba{out[0], out[1], out[2], out[3]}), c.colour) << c.text;
        }
    }
}

// Models the classic loader takes and whose clumps hold nothing its save
// drops: the colour jobs must write them exactly as the exports do.
std::vector<std::pair<const char*, ClumpSpec>> OneGeometryModels() {
    ClumpSpec decorated = MakeCanonicalModel();
    decorated.uvAnimDictionary = Bytes{1, 2, 3, 4};
    decorated.trailing = {9, 9};
    ClumpSpec skinned = MakeLargeModel(40, 30, {true, true, true, true, true, true});
    return {{"canonical", MakeCanonicalModel()},
            {"dictionary and trailing bytes", decorated},
            {"skin and night colours", skinned},
            {"house", MakeHouseModel()}};
}

TEST(ColourJobTest, OneGeometryIsWrittenAsTheExportsWriteIt) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    ClumpSpec nightSpec = MakeCanonicalModel();
    nightSpec.FirstGeometry().prelit = {
        {10, 20, 30, 255}, {1, 2, 3, 4}, {0, 0, 0, 0}, {5, 5, 5, 5}, {250, 251, 252, 253}};
    ASSERT_TRUE(WriteFile(dir.Path("night.dff"), BuildModel(nightSpec)));
    for (const auto& [name, plan] : OneGeometryModels()) {
        ASSERT_TRUE(WriteFile(dir.Path("in.dff"), BuildModel(plan))) << name;

        cli::PaintRequest paint;
        ASSERT_TRUE(cli::ParseColour("#FF8000", paint.day));
        ASSERT_TRUE(cli::ParseColour("10,20,30", paint.night));
        paint.target.output = dir.Path("paint.dff");
        cli::FileOutcome painted = cli::PaintModelFile(paint, dir.Path("in.dff"));
        ASSERT_TRUE(painted.ok) << name << ": " << painted.reason;
        ASSERT_EQ(EasyVertexColors(dir.Path("in.dff").c_str(), 0x0080FF, 0x1E140A,
                                   dir.Path("export.dff").c_str()),
                  0)
            << name;
        EXPECT_EQ(ReadFile(dir.Path("paint.dff")), ReadFile(dir.Path("export.dff"))) << name;

        if (plan.FirstGeometry().VertexCount() != 5)
            continue;  // the night model is the canonical one
        cli::NightRequest night;
        night.from = dir.Path("night.dff");
        night.target.output = dir.Path("night-out.dff");
        cli::FileOutcome imported = cli::ImportNightFile(night, dir.Path("in.dff"));
        ASSERT_TRUE(imported.ok) << name << ": " << imported.reason;
        ASSERT_EQ(ImportNVCFromDff(dir.Path("in.dff").c_str(), dir.Path("night.dff").c_str(),
                                   dir.Path("night-export.dff").c_str()),
                  0)
            << name;
        EXPECT_EQ(ReadFile(dir.Path("night-out.dff")), ReadFile(dir.Path("night-export.dff")))
            << name;
    }
}

TEST(ColourJobTest, SeveralGeometriesTakeTheNightModelsGeometryOfTheSameIndex) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    ClumpSpec target = TwoGeometryModel();
    ClumpSpec source = TwoGeometryModel();
    GeometryListSpec& list = source.FindChild(ClumpChildKind::GeometryList)->geometryList;
    list.geometries[1].prelit = {{7, 7, 7, 7}, {8, 8, 8, 8}, {9, 9, 9, 9}};
    list.geometries[1].formatFlags |= kGeoPrelit;
    ASSERT_TRUE(WriteFile(dir.Path("model.dff"), BuildModel(target)));
    ASSERT_TRUE(WriteFile(dir.Path("night.dff"), BuildModel(source)));

    cli::NightRequest request;
    request.from = dir.Path("night.dff");
    request.target.output = dir.Path("out.dff");
    cli::FileOutcome outcome = cli::ImportNightFile(request, dir.Path("model.dff"));
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    WholeModel written;
    ASSERT_EQ(written.Load(dir.Path("out.dff").c_str()), 1);
    ASSERT_EQ(written.geometries.size(), 2u);
    WholeModel night;
    ASSERT_EQ(night.Load(dir.Path("night.dff").c_str()), 1);
    for (size_t i = 0; i < 2; ++i) {
        const Geometry& source0 = *night.geometries[i].geometry;
        EXPECT_TRUE(ColoursReadBack(written, i, nullptr, source0.prelitColors, source0.vertexCount))
            << i;
    }

    // The second geometry of the night model lacks day colours: refused whole.
    ASSERT_TRUE(WriteFile(dir.Path("night.dff"), BuildModel(target)));
    outcome = cli::ImportNightFile(request, dir.Path("model.dff"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, "geometry 1 of the night model has no day colours");
}

// Version 1 is made from the collision as an entry, so that it can hold
// coordinates that COL3 cannot. Within COL3's range it must give the bytes
// that converting the COL3 file gives; beyond it, the float vertices as made.
TEST(ColVersionOneTest, TheEntryGivesTheConvertedBytesAndHoldsWideCoordinates) {
    const ClumpSpec house = MakeHouseModel();
    struct Same {
        ClumpSpec plan;
        ColShape shape;
        bool weld;
        std::string name;
    };
    const Same same[] = {
        {house, ColShape::kMesh, true, "house"},
        {house, ColShape::kMesh, false, "raw"},
        {house, ColShape::kBox, true, "box"},
        {house, ColShape::kEmpty, true, "a_name_longer_than_the_field"},
        {MakeLargeModel(2000, 1000), ColShape::kMesh, true, "large"},
    };
    for (const Same& c : same) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = BuildModel(c.plan);
        WholeModel model;
        ASSERT_TRUE(model.Parse(bytes.data(), bytes.size()));
        ColRequest request;
        request.shape = c.shape;
        request.weld = c.weld;
        request.faceGroups = FaceGroups::kOff;
        request.surfaces = {{"*wall*", 40}};  // a later-family id, mapped for version 1
        request.surface = 9;
        std::vector<uint8_t> col3, converted, direct;
        std::vector<std::string> notes, warnings, entryNotes;
        std::string why;
        ASSERT_TRUE(GenerateColBytes(model, request, c.name, &col3, &why, &notes)) << why;
        ASSERT_TRUE(
            cli::ConvertColBytes(col3.data(), col3.size(), 1, &converted, &notes, &warnings, &why))
            << why;
        request.wideRange = true;
        ColEntry entry;
        ASSERT_TRUE(GenerateColEntry(model, request, c.name, &entry, &why, &entryNotes)) << why;
        ASSERT_TRUE(cli::ConvertColEntry(entry, 1, &direct, &entryNotes, &why)) << why;
        EXPECT_EQ(direct, converted);
        EXPECT_EQ(entryNotes, notes);
    }

    struct Wide {
        float z;
        std::string col3Reason;   // GenerateCol, which keeps COL3's limit
        std::string entryReason;  // GenerateColEntry with wideRange; empty: made
    };
    const Wide wide[] = {
        {255.99f, "", ""},
        {303, "vertex 3 has z = 303, outside -256 .. 255.99", ""},
        {-5000.25f, "vertex 3 has z = -5000.25, outside -256 .. 255.99", ""},
        {8388607, "vertex 3 has z = 8388607, outside -256 .. 255.99", ""},
        {8388608, "vertex 3 has z = 8388608, outside -256 .. 255.99",
         "vertex 3 has z = 8388608, outside -8388608 .. 8388607.99"},
    };
    for (const Wide& c : wide) {
        SCOPED_TRACE(c.z);
        const Bytes bytes = BuildModel(MakeModelWithPositions(
            {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.5f, 0.5f, c.z}}, {{0, 1, 0, 2}, {0, 1, 0, 3}}));
        WholeModel model;
        ASSERT_TRUE(model.Parse(bytes.data(), bytes.size()));
        ColRequest request;
        request.maxError = 0;
        request.wideRange = true;
        ColModel col;
        std::string why;
        EXPECT_EQ(GenerateCol(model, request, &col, &why), c.col3Reason.empty());
        EXPECT_EQ(why,
                  c.col3Reason.empty() ? "" : "atomic 0 (frame \"canonical\"): " + c.col3Reason);
        ColEntry entry;
        why.clear();
        const bool made = GenerateColEntry(model, request, "far", &entry, &why);
        EXPECT_EQ(made, c.entryReason.empty());
        if (!made) {
            EXPECT_EQ(why, "atomic 0 (frame \"canonical\"): " + c.entryReason);
            EXPECT_TRUE(entry.vertices.empty() && entry.faces.empty());
            continue;
        }
        ASSERT_EQ(entry.vertices.size(), 4u);
        const float z = std::trunc(c.z * 128.0f) / 128.0f;
        EXPECT_EQ(entry.vertices[3][2], z);
        EXPECT_EQ(entry.boundsMin[2], std::min(c.z, 0.0f));
        EXPECT_EQ(entry.boundsMax[2], std::max(c.z, 0.0f));
        EXPECT_GE(entry.radius, std::fabs(c.z) / 2);

        std::vector<uint8_t> v1;
        std::vector<std::string> notes;
        ASSERT_TRUE(cli::ConvertColEntry(entry, 1, &v1, &notes, &why)) << why;
        ColFile back;
        ReadColFile(v1.data(), v1.size(), &back);
        ASSERT_EQ(back.entries.size(), 1u);
        EXPECT_EQ(back.entries[0].vertices[3][2], z);
        const bool fitsCol3 = c.col3Reason.empty();
        EXPECT_EQ(cli::ConvertColEntry(entry, 2, &v1, &notes, &why), fitsCol3) << why;
    }
}

}  // namespace
}  // namespace brennix::test
