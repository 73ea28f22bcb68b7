// The shared library as a host program sees it: opened at run time, the four
// functions looked up by name, called on model files made by the builder.
// Every result code of every function is reached, the files written are
// checked byte for byte where practical, failures are shown to write nothing,
// and the diagnostics are read from the process's standard error (and, for
// the one save failure of AppendColToDff, standard output).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "library/LibraryHarness.h"
#include "support/Col3Reader.h"
#include "support/ModelBuilder.h"

namespace brennix::test {
namespace {

const char kLoadFailed[] = "[brennixdll:error:read] Could not load the dff file.\n";
const char kGeometryFailed[] = "[brennixdll:error:read] Couldn't read the geometry.\n";
const char kGenEmptyFailed[] = "[brennixdll:error:genempty] Couldn't generate the col.\n";
const char kGenBoxFailed[] = "[brennixdll:error:genbox] Couldn't generate the col.\n";
const char kGenFacesFailed[] = "[brennixdll:error:genfaces] Couldn't generate the col.\n";
const char kColSaveFailed[] = "[brennixdll:error:save] Couldn't save the col.\n";
const char kHasCollision[] = "[brennixdll:error:read] File already has a col.\n";
const char kNoClumpExtension[] =
    "[brennixdll:error:appendcol] Could not append col to file. Error: -1\n";
const char kColUnreadable[] =
    "[brennixdll:error:appendcol] Could not append col to file. Error: -2\n";
// Printed on standard output, with no line break.
const char kClumpSaveFailed[] = "[brennixdll:error:savedff] Could not save clump to file.";

// Positions whose scaled coordinates show the truncation toward zero, and two
// triangles whose faces show the vertex order third, first, second.
const std::vector<Vec3> kPositions = {
    {0.0f, 0.0f, 0.0f}, {1.5f, 2.3f, 3.0f}, {-1.0f, 5.0f, -2.3f}, {-0.01f, 0.004f, -0.004f}};
const std::vector<Triangle> kTriangles = {{0, 1, 0, 2}, {3, 2, 0, 1}};

uint32_t Bits(float value) {
    return FloatBits(value);
}

ClumpSpec PositionsModel() {
    return MakeModelWithPositions(kPositions, kTriangles);
}

// A model whose vertices carry the given day colours.
ClumpSpec ColouredModel(const std::vector<Rgba>& dayColours) {
    std::vector<Vec3> positions;
    for (size_t i = 0; i < dayColours.size(); ++i) {
        positions.push_back({static_cast<float>(i), static_cast<float>(i % 2), 1.0f});
    }
    ClumpSpec model = MakeModelWithPositions(positions, {{0, 1, 0, 2}});
    GeometrySpec& geometry = model.FirstGeometry();
    geometry.formatFlags |= kGeoPrelit;
    geometry.prelit = dayColours;
    return model;
}

const std::vector<Rgba> kDayColours = {
    {200, 10, 10, 255}, {10, 200, 10, 255}, {10, 10, 200, 128}, {1, 2, 3, 0}};
const std::vector<Rgba> kNightColours = {
    {20, 30, 90, 255}, {21, 31, 91, 200}, {22, 32, 92, 100}, {23, 33, 93, 0}};

// A Geometry List whose Struct announces two geometries: the list is not read.
ClumpSpec WithUnreadableGeometryList(ClumpSpec model) {
    model.FindChild(ClumpChildKind::GeometryList)->geometryList.countOverride = 2;
    return model;
}

// A Geometry List that announces one geometry and holds none: the list reads,
// but there is no first geometry.
ClumpSpec WithoutGeometry(ClumpSpec model) {
    GeometryListSpec& list = model.FindChild(ClumpChildKind::GeometryList)->geometryList;
    list.geometries.clear();
    list.countOverride = 1;
    return model;
}

ClumpSpec WithoutChild(ClumpSpec model, ClumpChildKind kind) {
    auto& children = model.children;
    for (auto it = children.begin(); it != children.end();) {
        it = it->kind == kind ? children.erase(it) : it + 1;
    }
    return model;
}

ClumpSpec WithClumpEntries(ClumpSpec model, const std::vector<ExtensionEntry>& entries) {
    model.ExtensionEntries() = entries;
    return model;
}

// Models that read, but whose geometry Extension, rebuilt with night colours
// last, would not read back with them.
std::vector<std::pair<const char*, ClumpSpec>> ModelsWhoseNightColoursWouldNotReadBack() {
    ClumpSpec padded = ColouredModel(kDayColours);
    ExtensionEntry& binMesh = padded.FirstGeometry().extensions.at(0);
    binMesh.payload.resize(binMesh.payload.size() + 4, 0);
    ClumpSpec swallowed = ColouredModel(kDayColours);
    ExtensionEntry pastTheEnd{kEntrySkipped2F8, Bytes(8, 1)};
    pastTheEnd.declaredSize = 100;
    swallowed.FirstGeometry().extensions.push_back(pastTheEnd);
    return {{"bin mesh longer than its meshes", padded},
            {"entry declared past the end", swallowed}};
}

// Bytes that are no clump at all.
const Bytes kNotAModel = {'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'd', 'e', 'l'};

// The header of a collision model that no generator touched, named "yolt".
Bytes BareCol3Header() {
    Bytes header(kCol3HeaderSize, 0);
    header[0] = 'C';
    header[1] = 'O';
    header[2] = 'L';
    header[3] = '3';
    header[4] = 116;
    header[8] = 'y';
    header[9] = 'o';
    header[10] = 'l';
    header[11] = 't';
    header[30] = 0xFF;
    header[31] = 0xFF;
    return header;
}

std::vector<std::string> Names(std::initializer_list<const char*> names) {
    std::vector<std::string> sorted(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

class LibraryHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = new HostLibrary();
        if (!library_->Open(BRENNIX_LIBRARY_PATH))
            loadError_ = library_->Error();
    }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(loadError_.empty()) << loadError_;
        ASSERT_NE(library_->generateColFromDff, nullptr) << "the library was not reopened";
        ASSERT_TRUE(dir_.Ok());
    }

    std::string Put(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(WriteFile(path, bytes)) << path;
        return path;
    }
    std::string PutModel(const std::string& name, const ClumpSpec& model) {
        return Put(name, BuildModel(model));
    }

    int Generate(const std::string& dff, int mode, const std::string& col, CapturedOutput* output) {
        int result = -100;
        *output = CaptureOutput(
            [&] { result = library_->generateColFromDff(dff.c_str(), mode, col.c_str()); });
        return result;
    }
    int Append(const std::string& dff, const std::string& col, const std::string& out,
               CapturedOutput* output) {
        int result = -100;
        *output = CaptureOutput(
            [&] { result = library_->appendColToDff(dff.c_str(), col.c_str(), out.c_str()); });
        return result;
    }
    int ImportNight(const std::string& dff, const std::string& night, const std::string& out,
                    CapturedOutput* output) {
        int result = -100;
        *output = CaptureOutput(
            [&] { result = library_->importNVCFromDff(dff.c_str(), night.c_str(), out.c_str()); });
        return result;
    }
    int Paint(const std::string& dff, uint32_t day, uint32_t night, const std::string& out,
              CapturedOutput* output) {
        int result = -100;
        *output = CaptureOutput(
            [&] { result = library_->easyVertexColors(dff.c_str(), day, night, out.c_str()); });
        return result;
    }

    // Reads and checks a COL3 file written by the library.
    Col3File ReadCol(const std::string& path) {
        Col3File file;
        std::string why;
        EXPECT_TRUE(ReadCol3(ReadFile(path), &file, &why)) << why;
        return file;
    }

    GeometryView ReadGeometry(const std::string& path) {
        GeometryView view;
        std::string why;
        EXPECT_TRUE(ParseFirstGeometry(ReadFile(path), &view, &why)) << why;
        return view;
    }

    static HostLibrary* library_;
    static std::string loadError_;
    ScratchDir dir_;
};

HostLibrary* LibraryHostTest::library_ = nullptr;
std::string LibraryHostTest::loadError_;

// ---------------------------------------------------------------------------
// GenerateColFromDff

using GenerateColFromDff = LibraryHostTest;

TEST_F(GenerateColFromDff, EmptyGeneratorWritesBoundsAndRadiusOnly) {
    const ClumpSpec model = PositionsModel();
    const Bytes modelBytes = BuildModel(model);
    const std::string dff = Put("model.dff", modelBytes);
    CapturedOutput output;
    ASSERT_EQ(Generate(dff, 0, dir_.Path("out.col"), &output), 0);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");

    const Bytes bytes = ReadFile(dir_.Path("out.col"));
    ASSERT_EQ(bytes.size(), kCol3HeaderSize);
    const Col3File col = ReadCol(dir_.Path("out.col"));
    EXPECT_EQ(col.Name(), "yolt");
    EXPECT_EQ(col.modelId, -1);
    EXPECT_EQ(Bits(col.boundsMin[0]), Bits(-1.0f));
    EXPECT_EQ(Bits(col.boundsMin[1]), Bits(0.0f));
    EXPECT_EQ(Bits(col.boundsMin[2]), Bits(-2.3f));
    EXPECT_EQ(Bits(col.boundsMax[0]), Bits(1.5f));
    EXPECT_EQ(Bits(col.boundsMax[1]), Bits(5.0f));
    EXPECT_EQ(Bits(col.boundsMax[2]), Bits(3.0f));
    EXPECT_EQ(Bits(col.sphereRadius), Bits(model.FirstGeometry().sphere.r));
    for (float c : col.sphereCentre)
        EXPECT_EQ(Bits(c), 0u);
    EXPECT_EQ(col.boxCount, 0u);
    EXPECT_EQ(col.faceCount, 0u);
    EXPECT_TRUE(col.vertices.empty());
    // The model is only read.
    EXPECT_EQ(ReadFile(dff), modelBytes);
}

TEST_F(GenerateColFromDff, BoxGeneratorWritesOneBoxEqualToBounds) {
    const std::string dff = PutModel("model.dff", PositionsModel());
    CapturedOutput output;
    ASSERT_EQ(Generate(dff, 1, dir_.Path("out.col"), &output), 0);
    EXPECT_EQ(output.err, "");

    const Col3File col = ReadCol(dir_.Path("out.col"));
    EXPECT_EQ(col.size, 116u + kCol3BoxSize);
    ASSERT_EQ(col.boxes.size(), 1u);
    Col3Box expected;
    expected.min = {-1.0f, 0.0f, -2.3f};
    expected.max = {1.5f, 5.0f, 3.0f};
    expected.material = 0;
    expected.flag = 0;
    expected.brightness = 255;
    expected.light = 255;
    EXPECT_EQ(col.boxes[0], expected);
    EXPECT_EQ(col.boxOffset, 116u);
    EXPECT_TRUE(col.faces.empty());
}

TEST_F(GenerateColFromDff, MeshGeneratorWritesOneFacePerTriangleAndScaledVertices) {
    const std::string dff = PutModel("model.dff", PositionsModel());
    CapturedOutput output;
    ASSERT_EQ(Generate(dff, 2, dir_.Path("out.col"), &output), 0);
    EXPECT_EQ(output.err, "");

    const Col3File col = ReadCol(dir_.Path("out.col"));
    EXPECT_TRUE(col.boxes.empty());
    const std::vector<Col3Face> faces = {{2, 0, 1, 0, 255}, {1, 3, 2, 0, 255}};
    EXPECT_EQ(col.faces, faces);
    const std::vector<Col3Vertex> vertices = {
        {0, 0, 0}, {192, 294, 384}, {-128, 640, -294}, {-1, 0, 0}};
    EXPECT_EQ(col.vertices, vertices);
    EXPECT_EQ(col.faceOffset, 116u);
    EXPECT_EQ(col.vertexOffset, 116u + 2 * kCol3FaceSize);
    EXPECT_EQ(Bits(col.boundsMax[1]), Bits(5.0f));
}

TEST_F(GenerateColFromDff, OtherModesWriteTheUntouchedHeaderExactly) {
    // Only 0, 1 and 2 select a generator; the comparison is on the whole
    // signed value, so 256 and 258 are not 0 and 2.
    const std::string withGeometry = PutModel("model.dff", PositionsModel());
    const std::string noGeometry = PutModel("empty.dff", WithoutGeometry(PositionsModel()));
    for (const std::string& dff : {withGeometry, noGeometry}) {
        for (int mode : {3, -1, 256, 258, INT_MAX, INT_MIN}) {
            SCOPED_TRACE(dff + " mode " + std::to_string(mode));
            CapturedOutput output;
            const std::string col = dir_.Path("out.col");
            ASSERT_EQ(Generate(dff, mode, col, &output), 0);
            EXPECT_EQ(output.err, "");
            EXPECT_EQ(ReadFile(col), BareCol3Header());
        }
    }
}

TEST_F(GenerateColFromDff, UnloadableModelReturns1AndWritesNothing) {
    Put("garbage.dff", kNotAModel);
    for (const char* name : {"missing.dff", "garbage.dff"}) {
        SCOPED_TRACE(name);
        CapturedOutput output;
        EXPECT_EQ(Generate(dir_.Path(name), 2, dir_.Path("out.col"), &output), 1);
        EXPECT_EQ(output.err, kLoadFailed);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(dir_.Entries(), Names({"garbage.dff"}));
    }
}

TEST_F(GenerateColFromDff, UnreadableGeometryListReturns2AndWritesNothing) {
    PutModel("count.dff", WithUnreadableGeometryList(PositionsModel()));
    PutModel("nolist.dff", WithoutChild(PositionsModel(), ClumpChildKind::GeometryList));
    for (const char* name : {"count.dff", "nolist.dff"}) {
        for (int mode : {0, 1, 2, 3}) {
            SCOPED_TRACE(std::string(name) + " mode " + std::to_string(mode));
            CapturedOutput output;
            EXPECT_EQ(Generate(dir_.Path(name), mode, dir_.Path("out.col"), &output), 2);
            EXPECT_EQ(output.err, kGeometryFailed);
            EXPECT_EQ(output.out, "");
            EXPECT_EQ(dir_.Entries(), Names({"count.dff", "nolist.dff"}));
        }
    }
}

TEST_F(GenerateColFromDff, MeshGeneratorWithoutPositionsReturns4) {
    ClumpSpec model = PositionsModel();
    GeometrySpec& geometry = model.FirstGeometry();
    geometry.formatFlags = static_cast<uint16_t>(geometry.formatFlags & ~kGeoPositions);
    geometry.hasPositions = 0;
    geometry.positions.clear();
    geometry.vertexCountOverride = static_cast<int32_t>(kPositions.size());
    const std::string dff = PutModel("model.dff", model);

    CapturedOutput output;
    EXPECT_EQ(Generate(dff, 2, dir_.Path("out.col"), &output), 4);
    EXPECT_EQ(output.err, kGenFacesFailed);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(dir_.Entries(), Names({"model.dff"}));

    // The other generators do without positions: the bounds keep their
    // start values.
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Generate(dff, mode, dir_.Path("out.col"), &output), 0);
        EXPECT_EQ(output.err, "");
        const Col3File col = ReadCol(dir_.Path("out.col"));
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_EQ(Bits(col.boundsMin[axis]), 0x47C35000u);
            EXPECT_EQ(Bits(col.boundsMax[axis]), 0xC7C35000u);
        }
        EXPECT_EQ(col.boxes.size(), mode == 1 ? 1u : 0u);
    }
}

TEST_F(GenerateColFromDff, MeshGeneratorRejectsCoordinatesBeyondTheVertexRange) {
    // 256 units scale to 32768, one past the largest 16-bit coordinate.
    const std::string dff =
        PutModel("model.dff",
                 MakeModelWithPositions({{0, 0, 0}, {256.0f, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}));
    CapturedOutput output;
    EXPECT_EQ(Generate(dff, 2, dir_.Path("out.col"), &output), 4);
    EXPECT_EQ(output.err, kGenFacesFailed);
    EXPECT_EQ(dir_.Entries(), Names({"model.dff"}));
}

TEST_F(GenerateColFromDff, EachGeneratorFailsWithItsOwnDiagnosticWithoutAGeometry) {
    const std::string dff = PutModel("model.dff", WithoutGeometry(PositionsModel()));
    const struct {
        int mode;
        const char* diagnostic;
    } cases[] = {{0, kGenEmptyFailed}, {1, kGenBoxFailed}, {2, kGenFacesFailed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        CapturedOutput output;
        EXPECT_EQ(Generate(dff, c.mode, dir_.Path("out.col"), &output), 4);
        EXPECT_EQ(output.err, c.diagnostic);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(dir_.Entries(), Names({"model.dff"}));
    }
}

TEST_F(GenerateColFromDff, UnwritableColPathReturns5) {
    const std::string dff = PutModel("model.dff", PositionsModel());
    std::filesystem::create_directory(dir_.Path("adir"));
    for (const std::string& col : {dir_.Path("missing/out.col"), dir_.Path("adir")}) {
        for (int mode : {0, 1, 2, 3}) {
            SCOPED_TRACE(col + " mode " + std::to_string(mode));
            CapturedOutput output;
            EXPECT_EQ(Generate(dff, mode, col, &output), 5);
            EXPECT_EQ(output.err, kColSaveFailed);
            EXPECT_EQ(output.out, "");
            EXPECT_EQ(dir_.Entries(), Names({"adir", "model.dff"}));
        }
    }
}

// ---------------------------------------------------------------------------
// AppendColToDff

using AppendColToDff = LibraryHostTest;

TEST_F(AppendColToDff, AttachesTheColFileAsACollisionEntry) {
    const Bytes modelBytes = BuildModel(MakeCanonicalModel());
    const Bytes colBytes = MakeCol3File();
    const std::string dff = Put("model.dff", modelBytes);
    const std::string col = Put("model.col", colBytes);
    CapturedOutput output;
    ASSERT_EQ(Append(dff, col, dir_.Path("out.dff"), &output), 0);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");

    ClumpView before;
    ClumpView after;
    std::string why;
    ASSERT_TRUE(ParseClump(modelBytes, &before, &why)) << why;
    ASSERT_TRUE(ParseClump(ReadFile(dir_.Path("out.dff")), &after, &why)) << why;
    ASSERT_EQ(after.ChildTypes(), before.ChildTypes());
    for (size_t i = 0; i < after.children.size(); ++i) {
        if (after.children[i].type == kChunkExtension)
            continue;
        EXPECT_EQ(after.children[i].Encoded(), before.children[i].Encoded()) << "child " << i;
    }
    const ChunkView* extension = after.Find(kChunkExtension);
    ASSERT_NE(extension, nullptr);
    std::vector<ChunkView> entries;
    ASSERT_TRUE(SplitChunks(extension->payload, &entries, &why)) << why;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, kEntryCollision);
    EXPECT_EQ(entries[0].payload, colBytes);
    // Inputs are only read.
    EXPECT_EQ(ReadFile(dff), modelBytes);
    EXPECT_EQ(ReadFile(col), colBytes);
}

TEST_F(AppendColToDff, RewritesTheModelInPlaceAndThenRefusesASecondCol) {
    const std::string dff = PutModel("model.dff", MakeCanonicalModel());
    const std::string col = Put("model.col", MakeCol3File());
    CapturedOutput output;
    ASSERT_EQ(Append(dff, col, dff, &output), 0);
    const Bytes attached = ReadFile(dff);
    ClumpView view;
    ASSERT_TRUE(ParseClump(attached, &view));
    std::vector<ChunkView> entries;
    ASSERT_TRUE(SplitChunks(view.Find(kChunkExtension)->payload, &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, kEntryCollision);

    EXPECT_EQ(Append(dff, col, dff, &output), 6);
    EXPECT_EQ(output.err, kHasCollision);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(ReadFile(dff), attached);
    EXPECT_EQ(dir_.Entries(), Names({"model.col", "model.dff"}));
}

TEST_F(AppendColToDff, CollisionEntryThatIsNotFirstDoesNotCount) {
    const ExtensionEntry other{0x11F, {1, 2, 3, 4}};
    const Bytes oldCol = EncodeCol3(MakeSmallCol3());
    const std::string dff = PutModel(
        "model.dff", WithClumpEntries(MakeCanonicalModel(), {other, CollisionEntry(oldCol)}));
    Col3File newColFile = MakeSmallCol3();
    newColFile.SetName("newer");
    const Bytes newCol = EncodeCol3(newColFile);
    const std::string col = Put("model.col", newCol);
    CapturedOutput output;
    ASSERT_EQ(Append(dff, col, dir_.Path("out.dff"), &output), 0);

    ClumpView view;
    ASSERT_TRUE(ParseClump(ReadFile(dir_.Path("out.dff")), &view));
    std::vector<ChunkView> entries;
    ASSERT_TRUE(SplitChunks(view.Find(kChunkExtension)->payload, &entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, 0x11Fu);
    EXPECT_EQ(entries[0].payload, other.payload);
    EXPECT_EQ(entries[1].type, kEntryCollision);
    EXPECT_EQ(entries[1].payload, oldCol);
    EXPECT_EQ(entries[2].type, kEntryCollision);
    EXPECT_EQ(entries[2].payload, newCol);
}

TEST_F(AppendColToDff, UnloadableModelReturns1AndWritesNothing) {
    const std::string col = Put("model.col", MakeCol3File());
    Put("garbage.dff", kNotAModel);
    for (const char* name : {"missing.dff", "garbage.dff"}) {
        SCOPED_TRACE(name);
        CapturedOutput output;
        EXPECT_EQ(Append(dir_.Path(name), col, dir_.Path("out.dff"), &output), 1);
        EXPECT_EQ(output.err, kLoadFailed);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(dir_.Entries(), Names({"garbage.dff", "model.col"}));
    }
}

TEST_F(AppendColToDff, ModelWhoseFirstClumpEntryIsCollisionReturns6) {
    const std::string dff = PutModel(
        "model.dff", WithClumpEntries(MakeCanonicalModel(), {CollisionEntry(MakeCol3File())}));
    const std::string col = Put("model.col", MakeCol3File());
    CapturedOutput output;
    EXPECT_EQ(Append(dff, col, dir_.Path("out.dff"), &output), 6);
    EXPECT_EQ(output.err, kHasCollision);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(dir_.Entries(), Names({"model.col", "model.dff"}));
    // Already having a collision is found before the COL3 file is opened.
    EXPECT_EQ(Append(dff, dir_.Path("missing.col"), dir_.Path("out.dff"), &output), 6);
}

TEST_F(AppendColToDff, ModelWithoutClumpExtensionReturns7WithErrorMinus1) {
    const std::string dff =
        PutModel("model.dff", WithoutChild(MakeCanonicalModel(), ClumpChildKind::Extension));
    const std::string col = Put("model.col", MakeCol3File());
    CapturedOutput output;
    EXPECT_EQ(Append(dff, col, dir_.Path("out.dff"), &output), 7);
    EXPECT_EQ(output.err, kNoClumpExtension);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(dir_.Entries(), Names({"model.col", "model.dff"}));
}

TEST_F(AppendColToDff, MissingColFileReturns7WithErrorMinus2) {
    const std::string dff = PutModel("model.dff", MakeCanonicalModel());
    std::filesystem::create_directory(dir_.Path("adir"));
    for (const std::string& col : {dir_.Path("missing.col"), dir_.Path("adir")}) {
        SCOPED_TRACE(col);
        CapturedOutput output;
        EXPECT_EQ(Append(dff, col, dir_.Path("out.dff"), &output), 7);
        EXPECT_EQ(output.err, kColUnreadable);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(dir_.Entries(), Names({"adir", "model.dff"}));
    }
}

TEST_F(AppendColToDff, UnusableColFileOrExtensionReturns7WithErrorMinus2) {
    ExtensionEntry pastTheEnd{0x11F, Bytes(8, 1)};
    pastTheEnd.declaredSize = 100;
    const ClumpSpec canonical = MakeCanonicalModel();
    const struct {
        const char* what;
        ClumpSpec model;
        Bytes col;
    } cases[] = {
        {"empty collision file", canonical, {}},
        {"not a collision file", canonical, kNotAModel},
        {"COL5", canonical, {'C', 'O', 'L', '5', 0, 0, 0, 0}},
        {"clump entry past the end of the extension", WithClumpEntries(canonical, {pastTheEnd}),
         MakeCol3File()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const Bytes model = BuildModel(c.model);
        ASSERT_TRUE(WriteFile(dir.Path("model.dff"), model));
        ASSERT_TRUE(WriteFile(dir.Path("model.col"), c.col));
        int result = -100;
        const CapturedOutput output = CaptureOutput([&] {
            result = library_->appendColToDff(dir.Path("model.dff").c_str(),
                                              dir.Path("model.col").c_str(),
                                              dir.Path("out.dff").c_str());
        });
        EXPECT_EQ(result, 7);
        EXPECT_EQ(output.err, kColUnreadable);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(dir.Entries(), Names({"model.col", "model.dff"}));
        EXPECT_EQ(ReadFile(dir.Path("model.dff")), model);
    }
}

TEST_F(AppendColToDff, UnwritableOutputReturns5AndTellsStandardOutputWithoutLineBreak) {
    const std::string dff = PutModel("model.dff", MakeCanonicalModel());
    const std::string col = Put("model.col", MakeCol3File());
    std::filesystem::create_directory(dir_.Path("adir"));
    for (const std::string& out : {dir_.Path("missing/out.dff"), dir_.Path("adir")}) {
        SCOPED_TRACE(out);
        CapturedOutput output;
        EXPECT_EQ(Append(dff, col, out, &output), 5);
        EXPECT_EQ(output.out, kClumpSaveFailed);
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(dir_.Entries(), Names({"adir", "model.col", "model.dff"}));
    }
}

// ---------------------------------------------------------------------------
// ImportNVCFromDff

using ImportNVCFromDff = LibraryHostTest;

TEST_F(ImportNVCFromDff, CopiesTheNightModelsDayColoursIntoNightColours) {
    const Bytes dayBytes = BuildModel(ColouredModel(kDayColours));
    const Bytes nightBytes = BuildModel(ColouredModel(kNightColours));
    const std::string day = Put("day.dff", dayBytes);
    const std::string night = Put("night.dff", nightBytes);
    CapturedOutput output;
    ASSERT_EQ(ImportNight(day, night, dir_.Path("out.dff"), &output), 0);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");

    const GeometryView before = ReadGeometry(day);
    const GeometryView after = ReadGeometry(dir_.Path("out.dff"));
    EXPECT_EQ(after.prelit, kDayColours);
    EXPECT_EQ(after.formatFlags, before.formatFlags);
    EXPECT_EQ(after.positions, before.positions);
    EXPECT_EQ(after.triangles, before.triangles);
    ASSERT_FALSE(after.extensionEntries.empty());
    const ChunkView& last = after.extensionEntries.back();
    ASSERT_EQ(last.type, kEntryNightColours);
    std::vector<Rgba> colours;
    uint32_t leadingWord = 0;
    ASSERT_TRUE(DecodeNightColours(last.payload, 4, &colours, &leadingWord));
    EXPECT_EQ(leadingWord, kNightLeadWordWritten);
    EXPECT_EQ(colours, kNightColours);
    EXPECT_EQ(after.FindEntry(kEntryNightColours, 1), nullptr);
    // Neither input is written.
    EXPECT_EQ(ReadFile(day), dayBytes);
    EXPECT_EQ(ReadFile(night), nightBytes);
}

TEST_F(ImportNVCFromDff, ReplacesAnOlderNightColoursEntry) {
    ClumpSpec model = ColouredModel(kDayColours);
    model.FirstGeometry().extensions.push_back(
        NightColoursEntry({{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}}));
    const std::string day = PutModel("day.dff", model);
    const std::string night = PutModel("night.dff", ColouredModel(kNightColours));
    CapturedOutput output;
    ASSERT_EQ(ImportNight(day, night, day, &output), 0);

    const GeometryView after = ReadGeometry(day);
    ASSERT_NE(after.FindEntry(kEntryNightColours), nullptr);
    EXPECT_EQ(after.FindEntry(kEntryNightColours, 1), nullptr);
    std::vector<Rgba> colours;
    ASSERT_TRUE(DecodeNightColours(after.FindEntry(kEntryNightColours)->payload, 4, &colours));
    EXPECT_EQ(colours, kNightColours);
    EXPECT_EQ(dir_.Entries(), Names({"day.dff", "night.dff"}));
}

TEST_F(ImportNVCFromDff, SamePathForBothModelsMakesNightEqualDay) {
    const std::string dff = PutModel("model.dff", ColouredModel(kDayColours));
    CapturedOutput output;
    ASSERT_EQ(ImportNight(dff, dff, dir_.Path("out.dff"), &output), 0);
    const GeometryView after = ReadGeometry(dir_.Path("out.dff"));
    std::vector<Rgba> colours;
    const ChunkView* entry = after.FindEntry(kEntryNightColours);
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(DecodeNightColours(entry->payload, 4, &colours));
    EXPECT_EQ(colours, kDayColours);
    EXPECT_EQ(after.prelit, kDayColours);
}

TEST_F(ImportNVCFromDff, ReturnsTheCodeOfTheFirstFailingStepAndWritesNothing) {
    std::vector<Rgba> fiveColours = kNightColours;
    fiveColours.push_back({5, 5, 5, 5});
    const ClumpSpec good = ColouredModel(kDayColours);
    const ClumpSpec goodNight = ColouredModel(kNightColours);
    const ClumpSpec noDayColours = MakeModelWithPositions(kPositions, kTriangles);
    ClumpSpec fiveWithoutColours = ColouredModel(fiveColours);
    fiveWithoutColours.FirstGeometry().prelit.clear();
    fiveWithoutColours.FirstGeometry().formatFlags = kGeoPositions;

    const std::optional<Bytes> missing;
    auto built = [](const ClumpSpec& model) { return std::optional<Bytes>(BuildModel(model)); };
    const struct {
        const char* what;
        std::optional<Bytes> day;  // no file when empty
        std::optional<Bytes> night;
        bool outputDirMissing;
        int expected;
    } cases[] = {
        {"model missing", missing, built(goodNight), false, 1},
        {"model not a clump, night model missing", kNotAModel, missing, false, 1},
        {"night model missing", built(good), missing, false, 2},
        {"night model not a clump", built(good), kNotAModel, false, 2},
        {"model's list unreadable", built(WithUnreadableGeometryList(good)), built(goodNight),
         false, 4},
        {"model without geometry", built(WithoutGeometry(good)), built(goodNight), false, 4},
        {"both lists unreadable", built(WithUnreadableGeometryList(good)),
         built(WithUnreadableGeometryList(goodNight)), false, 4},
        {"night list unreadable", built(good), built(WithUnreadableGeometryList(goodNight)), false,
         5},
        {"night model without geometry", built(good), built(WithoutGeometry(goodNight)), false, 5},
        // Both lists are read before either geometry is looked for.
        {"model without geometry, night list unreadable", built(WithoutGeometry(good)),
         built(WithUnreadableGeometryList(goodNight)), false, 5},
        {"night model has one vertex more", built(good), built(ColouredModel(fiveColours)), false,
         6},
        {"vertex counts differ and no day colours", built(good), built(fiveWithoutColours), false,
         6},
        {"night model without day colours", built(good), built(noDayColours), false, 9},
        {"output not writable", built(good), built(goodNight), true, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::vector<std::string> inputs;
        if (c.day) {
            ASSERT_TRUE(WriteFile(dir.Path("day.dff"), *c.day));
            inputs.push_back("day.dff");
        }
        if (c.night) {
            ASSERT_TRUE(WriteFile(dir.Path("night.dff"), *c.night));
            inputs.push_back("night.dff");
        }
        const std::string out = dir.Path(c.outputDirMissing ? "missing/out.dff" : "out.dff");
        int result = -100;
        const CapturedOutput output = CaptureOutput([&] {
            result = library_->importNVCFromDff(dir.Path("day.dff").c_str(),
                                                dir.Path("night.dff").c_str(), out.c_str());
        });
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(dir.Entries(), inputs);
        if (c.day) {
            EXPECT_EQ(ReadFile(dir.Path("day.dff")), *c.day);
        }
        if (c.night) {
            EXPECT_EQ(ReadFile(dir.Path("night.dff")), *c.night);
        }
    }
}

TEST_F(ImportNVCFromDff, NightColoursThatWouldNotReadBackReturn7AndWriteNothing) {
    for (const auto& [what, model] : ModelsWhoseNightColoursWouldNotReadBack()) {
        SCOPED_TRACE(what);
        const std::string dff = PutModel("model.dff", model);
        CapturedOutput output;
        EXPECT_EQ(ImportNight(dff, dff, dir_.Path("out.dff"), &output), 7);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(dir_.Entries(), Names({"model.dff"}));
    }
}

// ---------------------------------------------------------------------------
// EasyVertexColors

using EasyVertexColors = LibraryHostTest;

TEST_F(EasyVertexColors, PaintsEveryVertexWithOpaqueDayAndNightColours) {
    ClumpSpec model = PositionsModel();
    model.FirstGeometry().formatFlags |= kGeoLit | kGeoNormals;
    model.FirstGeometry().hasNormals = 1;
    model.FirstGeometry().normals = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1}};
    const Bytes modelBytes = BuildModel(model);
    const std::string dff = Put("model.dff", modelBytes);
    CapturedOutput output;
    // Day bytes from the least significant: 255, 0, 0, 255; night: 128, 64, 32, 0.
    ASSERT_EQ(Paint(dff, 0xFF0000FFu, 0x00204080u, dir_.Path("out.dff"), &output), 0);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");

    const GeometryView before = ReadGeometry(dff);
    const GeometryView after = ReadGeometry(dir_.Path("out.dff"));
    EXPECT_EQ(after.formatFlags, kGeoPositions | kGeoNormals | kGeoPrelit);
    EXPECT_EQ(after.prelit, std::vector<Rgba>(4, Rgba{255, 0, 0, 255}));
    const ChunkView* entry = after.FindEntry(kEntryNightColours);
    ASSERT_NE(entry, nullptr);
    std::vector<Rgba> night;
    ASSERT_TRUE(DecodeNightColours(entry->payload, 4, &night));
    EXPECT_EQ(night, std::vector<Rgba>(4, Rgba{128, 64, 32, 255}));
    EXPECT_EQ(after.positions, before.positions);
    EXPECT_EQ(after.normals, before.normals);
    EXPECT_EQ(after.triangles, before.triangles);
    EXPECT_EQ(ReadFile(dff), modelBytes);
}

TEST_F(EasyVertexColors, IgnoresTheTopByteAndReplacesEarlierColours) {
    // The canonical model has its own day colours with varying alpha.
    const std::string dff = PutModel("model.dff", MakeCanonicalModel());
    CapturedOutput output;
    ASSERT_EQ(Paint(dff, 0x12345678u, 0xAB010203u, dir_.Path("a.dff"), &output), 0);
    ASSERT_EQ(Paint(dff, 0x00345678u, 0x00010203u, dir_.Path("b.dff"), &output), 0);
    ASSERT_EQ(Paint(dff, 0xFF345678u, 0xFF010203u, dir_.Path("c.dff"), &output), 0);
    const Bytes painted = ReadFile(dir_.Path("a.dff"));
    EXPECT_EQ(ReadFile(dir_.Path("b.dff")), painted);
    EXPECT_EQ(ReadFile(dir_.Path("c.dff")), painted);

    const GeometryView after = ReadGeometry(dir_.Path("a.dff"));
    EXPECT_EQ(after.formatFlags & kGeoPrelit, kGeoPrelit);
    EXPECT_EQ(after.formatFlags & kGeoLit, 0);
    EXPECT_EQ(after.prelit, std::vector<Rgba>(5, Rgba{0x78, 0x56, 0x34, 255}));
    std::vector<Rgba> night;
    ASSERT_NE(after.FindEntry(kEntryNightColours), nullptr);
    ASSERT_TRUE(DecodeNightColours(after.FindEntry(kEntryNightColours)->payload, 5, &night));
    EXPECT_EQ(night, std::vector<Rgba>(5, Rgba{3, 2, 1, 255}));
}

TEST_F(EasyVertexColors, ReturnsTheCodeOfTheFirstFailingStepAndWritesNothing) {
    const struct {
        const char* what;
        Bytes model;  // empty: no model file
        bool outputDirMissing;
        int expected;
    } cases[] = {
        {"model missing", {}, false, 1},
        {"not a model", kNotAModel, false, 1},
        {"geometry list unreadable", BuildModel(WithUnreadableGeometryList(PositionsModel())),
         false, 4},
        {"no geometry list",
         BuildModel(WithoutChild(PositionsModel(), ClumpChildKind::GeometryList)), false, 4},
        {"list without geometry", BuildModel(WithoutGeometry(PositionsModel())), false, 4},
        {"output not writable", BuildModel(PositionsModel()), true, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::vector<std::string> inputs;
        if (!c.model.empty()) {
            ASSERT_TRUE(WriteFile(dir.Path("model.dff"), c.model));
            inputs.push_back("model.dff");
        }
        const std::string out = dir.Path(c.outputDirMissing ? "missing/out.dff" : "out.dff");
        int result = -100;
        const CapturedOutput output = CaptureOutput([&] {
            result = library_->easyVertexColors(dir.Path("model.dff").c_str(), 0x00FFFFFFu,
                                                0x00101010u, out.c_str());
        });
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(dir.Entries(), inputs);
        if (!c.model.empty()) {
            EXPECT_EQ(ReadFile(dir.Path("model.dff")), c.model);
        }
    }
}

TEST_F(EasyVertexColors, NightColoursThatWouldNotReadBackReturn7AndWriteNothing) {
    for (const auto& [what, model] : ModelsWhoseNightColoursWouldNotReadBack()) {
        SCOPED_TRACE(what);
        const std::string dff = PutModel("model.dff", model);
        CapturedOutput output;
        EXPECT_EQ(Paint(dff, 0x00FFFFFFu, 0x00101010u, dir_.Path("out.dff"), &output), 7);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(dir_.Entries(), Names({"model.dff"}));
    }
}

// ---------------------------------------------------------------------------
// All four

TEST_F(LibraryHostTest, FailureLeavesAnExistingOutputUntouched) {
    const Bytes sentinel = {'k', 'e', 'e', 'p'};
    ClumpSpec noPositions = PositionsModel();
    noPositions.FirstGeometry().hasPositions = 0;
    noPositions.FirstGeometry().positions.clear();
    noPositions.FirstGeometry().formatFlags = 0;
    noPositions.FirstGeometry().vertexCountOverride = 4;
    const std::string noPositionsPath = PutModel("nopos.dff", noPositions);
    const std::string withCol = PutModel(
        "withcol.dff", WithClumpEntries(MakeCanonicalModel(), {CollisionEntry(MakeCol3File())}));
    const std::string col = Put("model.col", MakeCol3File());
    const std::string day = PutModel("day.dff", ColouredModel(kDayColours));
    const std::string night =
        PutModel("night.dff", ColouredModel({{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}}));
    const std::string noGeometry = PutModel("nogeo.dff", WithoutGeometry(PositionsModel()));
    const std::string out = Put("out.bin", sentinel);
    CapturedOutput output;

    EXPECT_EQ(Generate(noPositionsPath, 2, out, &output), 4);
    EXPECT_EQ(ReadFile(out), sentinel);
    EXPECT_EQ(Append(withCol, col, out, &output), 6);
    EXPECT_EQ(ReadFile(out), sentinel);
    EXPECT_EQ(ImportNight(day, night, out, &output), 6);
    EXPECT_EQ(ReadFile(out), sentinel);
    EXPECT_EQ(Paint(noGeometry, 0, 0, out, &output), 4);
    EXPECT_EQ(ReadFile(out), sentinel);
    EXPECT_EQ(dir_.Entries(), Names({"day.dff", "model.col", "night.dff", "nogeo.dff", "nopos.dff",
                                     "out.bin", "withcol.dff"}));
}

TEST_F(LibraryHostTest, EveryJobThatSavesKeepsWhatFollowsTheClumpAndAFourByteStruct) {
    ClumpSpec model = ColouredModel(kDayColours);
    model.children[0] = ClumpChild::MakeShortStruct(1);
    const Bytes after = Cat({BuildModel(MakeHouseModel()), Bytes(300, 0)});
    model.trailing = after;
    const std::string dff = PutModel("model.dff", model);
    const std::string col = Put("model.col", MakeCol3File());
    const std::string out = dir_.Path("out.dff");
    CapturedOutput output;
    const struct {
        const char* what;
        std::function<int()> job;
    } jobs[] = {
        {"AppendColToDff", [&] { return Append(dff, col, out, &output); }},
        {"ImportNVCFromDff", [&] { return ImportNight(dff, dff, out, &output); }},
        {"EasyVertexColors", [&] { return Paint(dff, 0x00FFFFFFu, 0x00101010u, out, &output); }},
    };
    for (const auto& job : jobs) {
        SCOPED_TRACE(job.what);
        ASSERT_EQ(job.job(), 0);
        const Bytes saved = ReadFile(out);
        ClumpView view;
        std::string why;
        ASSERT_TRUE(ParseClump(saved, &view, &why)) << why;
        ASSERT_FALSE(view.children.empty());
        EXPECT_EQ(view.children[0].type, kChunkStruct);
        EXPECT_EQ(view.children[0].size, 4u);
        ASSERT_EQ(view.trailingBytes, after.size());
        EXPECT_TRUE(std::equal(after.begin(), after.end(), saved.end() - after.size()));
    }
}

TEST_F(LibraryHostTest, ReloadedLibraryStartsAfresh) {
    // Loading and unloading keep no state: a second copy opened after the
    // first was closed does the same job the same way.
    const std::string dff = PutModel("model.dff", PositionsModel());
    CapturedOutput output;
    ASSERT_EQ(Generate(dff, 2, dir_.Path("first.col"), &output), 0);
    HostLibrary second;
    library_->Close();
    ASSERT_TRUE(second.Open(BRENNIX_LIBRARY_PATH)) << second.Error();
    EXPECT_EQ(second.generateColFromDff(dff.c_str(), 2, dir_.Path("second.col").c_str()), 0);
    second.Close();
    ASSERT_TRUE(library_->Open(BRENNIX_LIBRARY_PATH)) << library_->Error();
    EXPECT_EQ(ReadFile(dir_.Path("second.col")), ReadFile(dir_.Path("first.col")));
}

}  // namespace
}  // namespace brennix::test
