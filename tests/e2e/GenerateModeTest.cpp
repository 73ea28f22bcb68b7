// The generate mode (-g empty|box|mesh): a COL3 file made from a model's
// first geometry, checked byte for byte and with the independent COL3 reader.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

const char* const kGenerateError = "[error] Couldn't generate the col";

std::string ReadGeometryError(const std::string& path) {
    return "[error] Couldn't read the geometry for: " + path + "\n";
}
std::string SaveColError(const std::string& path) {
    return "[error] Could not save col to file: " + path + "\n";
}

const std::vector<Vec3> kPositions = {{0, 0, 0}, {1, 2, 3}, {-1, 5, -2}};
const std::vector<Triangle> kTriangles = {{0, 1, 0, 2}};

// What every generator writes into the header: name "yolt", id -1, the given
// bounds, a zero centre and the geometry's own radius.
Col3File ExpectedHeader(const GeometrySpec& geometry, std::array<float, 3> min,
                        std::array<float, 3> max) {
    Col3File col;
    col.SetName("yolt");
    col.modelId = -1;
    col.boundsMin = min;
    col.boundsMax = max;
    col.sphereCentre = {0, 0, 0};
    col.sphereRadius = geometry.sphere.r;
    return col;
}

Col3File ReadCol(const Bytes& bytes) {
    Col3File col;
    std::string why;
    EXPECT_TRUE(ReadCol3(bytes, &col, &why)) << why;
    return col;
}

LargeModelOptions PositionsOnly() {
    LargeModelOptions options;
    options.prelit = false;
    options.uv = false;
    options.normals = false;
    options.binMesh = false;
    return options;
}

class GenerateModeTest : public ProgramTest {};

TEST_F(GenerateModeTest, WritesBoundsAndRadiusOnlyForEmpty) {
    const ClumpSpec model = MakeModelWithPositions(kPositions, kTriangles);
    Put("a.dff", model);
    Put("a.col", Bytes(300, 0xAB));  // replaced whole
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-g", "empty", "-d", "a.dff", "-o", "a.col"}).out, "");
    const Bytes file = Get("a.col");
    ASSERT_EQ(file.size(), 120u);
    EXPECT_EQ(file, EncodeCol3(ExpectedHeader(model.FirstGeometry(), {-1, 0, -2}, {1, 5, 3})));
    EXPECT_EQ(GetU32(file, 4), 116u);
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 30),
              Bytes({'y', 'o', 'l', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(GetI16(file, 30), -1);
    ReadCol(file);

    Tree expected = before;
    expected["a.col"] = file;
    EXPECT_EQ(Snapshot(), expected) << DescribeDifference(expected, Snapshot());
}

TEST_F(GenerateModeTest, WritesOneBoxEqualToTheBoundsForBox) {
    const ClumpSpec model = MakeModelWithPositions(kPositions, kTriangles);
    Put("a.dff", model);

    EXPECT_EQ(Run({"-g", "BOX", "-d", "a.dff", "-o", "a.col"}).out, "");
    Col3File expected = ExpectedHeader(model.FirstGeometry(), {-1, 0, -2}, {1, 5, 3});
    Col3Box box;
    box.min = {-1, 0, -2};
    box.max = {1, 5, 3};
    box.material = 0;
    box.flag = 0;
    box.brightness = 255;
    box.light = 255;
    expected.boxes = {box};
    const Bytes file = Get("a.col");
    ASSERT_EQ(file.size(), 148u);
    EXPECT_EQ(file, EncodeCol3(expected));
    const Col3File col = ReadCol(file);
    EXPECT_EQ(col.size, 144u);
    EXPECT_EQ(col.boxCount, 1u);
    EXPECT_EQ(col.boxOffset, 116u);
}

TEST_F(GenerateModeTest, WritesOneFacePerTriangleAndOneVertexPerPositionForMesh) {
    const std::vector<Vec3> positions = {{0, 0, 0}, {1, 2, 3}, {-1, 5, -2}, {1.5f, -0.01f, 2.3f}};
    const std::vector<Triangle> triangles = {{0, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 0, 1}};
    const ClumpSpec model = MakeModelWithPositions(positions, triangles);
    Put("a.dff", model);
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-g", "Mesh", "-d", "a.dff", "-o", "a.col"}).out, "");
    Col3File expected = ExpectedHeader(model.FirstGeometry(), {-1, -0.01f, -2}, {1.5f, 5, 3});
    // Each face lists the triangle's third, first and second vertex.
    expected.faces = {{2, 0, 1, 0, 255}, {2, 1, 3, 0, 255}, {1, 3, 0, 0, 255}};
    // Coordinates in 1/128 units, truncated toward zero.
    expected.vertices = {{0, 0, 0}, {128, 256, 384}, {-128, 640, -256}, {192, -1, 294}};
    const Bytes file = Get("a.col");
    ASSERT_EQ(file.size(), 120u + 3 * 8 + 4 * 6);
    EXPECT_EQ(file, EncodeCol3(expected));
    const Col3File col = ReadCol(file);
    EXPECT_EQ(col.faceCount, 3u);
    EXPECT_EQ(col.faceOffset, 116u);
    EXPECT_EQ(col.vertexOffset, 116u + 3 * 8);
    EXPECT_EQ(Get("a.dff"), before.at("a.dff"));
}

TEST_F(GenerateModeTest, UsesStartBoundsForAGeometryWithoutPositions) {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& geometry = model.FirstGeometry();
    geometry.positions.clear();
    geometry.hasPositions = 0;
    geometry.formatFlags &= static_cast<uint16_t>(~kGeoPositions);
    Put("a.dff", model);
    const Tree before = Snapshot();

    const std::array<float, 3> start = {100000.0f, 100000.0f, 100000.0f};
    const std::array<float, 3> negStart = {-100000.0f, -100000.0f, -100000.0f};
    EXPECT_EQ(Run({"-g", "empty", "-d", "a.dff", "-o", "e.col"}).out, "");
    EXPECT_EQ(Get("e.col"), EncodeCol3(ExpectedHeader(geometry, start, negStart)));

    EXPECT_EQ(Run({"-g", "box", "-d", "a.dff", "-o", "b.col"}).out, "");
    Col3File box = ExpectedHeader(geometry, start, negStart);
    Col3Box record;
    record.min = start;
    record.max = negStart;
    record.brightness = 255;
    record.light = 255;
    box.boxes = {record};
    EXPECT_EQ(Get("b.col"), EncodeCol3(box));

    EXPECT_EQ(Run({"-g", "mesh", "-d", "a.dff", "-o", "m.col"}).out, kGenerateError);
    EXPECT_FALSE(Exists("m.col"));
    Tree expected = before;
    expected["e.col"] = Get("e.col");
    expected["b.col"] = Get("b.col");
    EXPECT_EQ(Snapshot(), expected) << DescribeDifference(expected, Snapshot());
}

TEST_F(GenerateModeTest, ReportsModelsWhoseGeometryCannotBeRead) {
    ClumpSpec twoCounted = MakeCanonicalModel();
    twoCounted.FindChild(ClumpChildKind::GeometryList)->geometryList.countOverride = 2;
    Put("count.dff", twoCounted);

    ClumpSpec cut = MakeCanonicalModel();
    cut.FirstGeometry().structBodyLength = 10;
    Put("cut.dff", cut);

    ClumpSpec tooMany = MakeCanonicalModel();
    tooMany.FirstGeometry().vertexCountOverride = 200001;
    Put("vertices.dff", tooMany);

    ClumpSpec noList = MakeCanonicalModel();
    noList.children.erase(noList.children.begin() + 2);
    Put("nolist.dff", noList);
    const Tree before = Snapshot();

    for (const std::string name : {"count.dff", "cut.dff", "vertices.dff", "nolist.dff"}) {
        for (const std::string word : {"empty", "box", "mesh"}) {
            SCOPED_TRACE(name + " " + word);
            EXPECT_EQ(Run({"-g", word, "-d", name, "-o", "out.col"}).out, ReadGeometryError(name));
        }
    }
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(GenerateModeTest, FailsToGenerateFromAListWithoutGeometry) {
    GeometryListSpec empty;
    empty.countOverride = 1;
    ClumpSpec model = MakeCanonicalModel();
    model.FindChild(ClumpChildKind::GeometryList)->geometryList = empty;
    Put("empty.dff", model);

    GeometryListSpec other;
    other.countOverride = 1;
    other.trailing = MakeChunk(kChunkString, {'n', 'o', 'p', 0});
    model.FindChild(ClumpChildKind::GeometryList)->geometryList = other;
    Put("other.dff", model);
    const Tree before = Snapshot();

    for (const std::string name : {"empty.dff", "other.dff"}) {
        for (const std::string word : {"empty", "box", "mesh"}) {
            SCOPED_TRACE(name + " " + word);
            EXPECT_EQ(Run({"-g", word, "-d", name, "-o", "out.col"}).out, kGenerateError);
        }
    }
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(GenerateModeTest, ReportsModelsThatCannotBeLoaded) {
    Put("struct.dff", MakeChunk(kChunkStruct, {1, 0, 0, 0}));
    const Tree before = Snapshot();
    EXPECT_EQ(Run({"-g", "box", "-d", "missing.dff", "-o", "out.col"}).out,
              "[error] Could not load the dff file: missing.dff\n");
    EXPECT_EQ(Run({"-g", "mesh", "-d", "struct.dff", "-o", "out.col"}).out,
              "[error] Could not load the dff file: struct.dff\n");
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(GenerateModeTest, ReportsAnOutputThatCannotBeWritten) {
    Put("a.dff", MakeModelWithPositions(kPositions, kTriangles));
    MakeDir("outdir");
    const std::string missing = MissingDirPath("out.col");
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-g", "empty", "-d", "a.dff", "-o", missing}).out, SaveColError(missing));
    EXPECT_EQ(Run({"-g", "mesh", "-d", "a.dff", "-o", "outdir"}).out, SaveColError("outdir"));
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(GenerateModeTest, RefusesMeshesThatACollisionFileCannotHold) {
    Put("triangles.dff", MakeLargeModel(65536, 1000, PositionsOnly()));
    Put("index.dff", MakeModelWithPositions(kPositions, {{0, 1, 0, 3}}));
    Put("far.dff", MakeModelWithPositions({{0, 0, 0}, {256.0f, 0, 0}, {0, 1, 0}}, kTriangles));
    Put("nan.dff",
        MakeModelWithPositions(
            {{0, 0, 0}, {0, std::numeric_limits<float>::quiet_NaN(), 0}, {0, 1, 0}}, kTriangles));
    const Tree before = Snapshot();

    for (const std::string name : {"triangles.dff", "index.dff", "far.dff", "nan.dff"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Run({"-g", "mesh", "-d", name, "-o", "out.col"}).out, kGenerateError);
    }
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(GenerateModeTest, WritesMeshesAtTheEdgeOfWhatAFileCanHold) {
    Put("large.dff", MakeLargeModel(65535, 1000, PositionsOnly()));
    EXPECT_EQ(Run({"-g", "mesh", "-d", "large.dff", "-o", "large.col"}).out, "");
    const Bytes file = Get("large.col");
    EXPECT_EQ(file.size(), 120u + 65535u * 8 + 1000u * 6);
    const Col3File col = ReadCol(file);
    EXPECT_EQ(col.faceCount, 65535u);
    ASSERT_EQ(col.faces.size(), 65535u);
    EXPECT_EQ(col.faces[0], (Col3Face{2, 0, 1, 0, 255}));
    EXPECT_EQ(col.faces[65534], (Col3Face{536, 534, 535, 0, 255}));
    EXPECT_EQ(col.vertices.size(), 1000u);

    const std::vector<Vec3> edge = {{-256.0f, 255.99f, -0.004f}, {0.004f, -1.0f, 2.3f}, {0, 0, 0}};
    Put("edge.dff", MakeModelWithPositions(edge, kTriangles));
    EXPECT_EQ(Run({"-g", "mesh", "-d", "edge.dff", "-o", "edge.col"}).out, "");
    const Col3File edgeCol = ReadCol(Get("edge.col"));
    ASSERT_EQ(edgeCol.vertices.size(), 3u);
    EXPECT_EQ(edgeCol.vertices[0], (Col3Vertex{-32768, 32766, 0}));
    EXPECT_EQ(edgeCol.vertices[1], (Col3Vertex{0, -128, 294}));
}

}  // namespace
}  // namespace brennix::e2e
