// Writes the model and collision files that the Windows library host test
// (host.c) works on, and the files that this platform's build of the library
// writes for the successful jobs, which the Windows build must reproduce byte
// for byte:
//
//   brennix_windows_fixtures DIR
//
// DIR/in holds the inputs (city.col, a COL archive, among them), DIR/expected
// the reference outputs. The command
// checks of .ci/windows take their references from the native program
// instead, run on the same inputs.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "brennix.h"
#include "support/ModelBuilder.h"

namespace fs = std::filesystem;
using namespace brennix::test;

namespace {

// A signalling NaN with a payload, and a quiet one with another: a float that
// passes through an x87 register comes out quieted, so these catch a copy that
// is not bit for bit.
constexpr uint32_t kSignallingNan = 0x7FA00001u;
constexpr uint32_t kQuietNan = 0xFFC12345u;

bool Put(const fs::path& path, const Bytes& bytes) {
    if (WriteFile(path.string(), bytes))
        return true;
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return false;
}

// The builder's COL3 file in the standard layout the commands write: the
// size field counts from the end of itself, flag 2 marks an entry that holds
// something.
Bytes StandardCol3(const Col3File& col) {
    Bytes bytes = EncodeCol3(col);
    const uint32_t size = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    if (!col.boxes.empty() || !col.faces.empty() || !col.spheres.empty())
        bytes[80] |= 2;
    return bytes;
}

// A COL archive of two entries, "house" and "shed", for info, convert and
// split.
Bytes ColArchive() {
    Col3File house = MakeSmallCol3();
    Col3File shed = house;
    shed.SetName("shed");
    for (Col3Box& box : shed.boxes)
        box.material = 6;
    for (Col3Face& face : shed.faces)
        face.material = 45;
    Bytes bytes = StandardCol3(house);
    const Bytes more = StandardCol3(shed);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

ClumpSpec WithoutClumpExtension(ClumpSpec model) {
    for (auto it = model.children.begin(); it != model.children.end(); ++it) {
        if (it->kind == ClumpChildKind::Extension) {
            model.children.erase(it);
            break;
        }
    }
    return model;
}

// Day colours that differ from the canonical model's, vertex by vertex.
ClumpSpec NightVersion(ClumpSpec model) {
    std::vector<Rgba>& prelit = model.FirstGeometry().prelit;
    for (size_t i = 0; i < prelit.size(); ++i) {
        prelit[i] = {static_cast<uint8_t>(10 + i), static_cast<uint8_t>(40 + 3 * i),
                     static_cast<uint8_t>(200 - i), static_cast<uint8_t>(128 + i)};
    }
    return model;
}

// Frames "root" (moved, never applied), "body" under it moved by a fraction
// and "door" under "body" turned 30 degrees about z and tilted, so that the
// placed vertices are inexact floats. The body draws the canonical geometry,
// the door a box, each with its own texture.
ClumpSpec TwoPartModel() {
    FrameListSpec frames;
    frames.frames = {MakeFrame("root", -1), MakeFrame("body", 0), MakeFrame("door", 1)};
    frames.frames[0].position = {40.0f, -7.0f, 3.0f};
    frames.frames[1].position = {1.3f, -2.7f, 0.35f};
    const float c = 0.8660254f;  // cos 30
    const float s = 0.5f;
    frames.frames[2].rotation = {c, s, 0.0f, -s, c, 0.1f, 0.0f, -0.1f, 0.99f};
    frames.frames[2].position = {2.05f, 0.6f, -1.15f};
    GeometryListSpec list;
    list.geometries = {MakeCanonicalGeometry(),
                       MakeBoxModel({-0.45f, -0.2f, 0.0f}, {0.45f, 0.2f, 1.7f}).FirstGeometry()};
    list.geometries[1].materials = {MakeMaterial("door_panel")};
    return MakeMultiAtomicModel(frames, list);
}

// A terrain of kTerrainCells x kTerrainCells squares, two triangles each,
// over 120 x 120 units: a flat plain, a rounded hill and a ridge whose slopes
// are inexact floats. `col` simplifies its collision a long way, and the
// choices it makes on the curved parts depend on every rounding of the
// simplifier's arithmetic.
constexpr int kTerrainCells = 80;

ClumpSpec TerrainModel() {
    const int n = kTerrainCells + 1;
    std::vector<Vec3> positions;
    positions.reserve(static_cast<size_t>(n) * n);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double x = -60.0 + 120.0 * i / kTerrainCells;
            const double y = -60.0 + 120.0 * j / kTerrainCells;
            const double hill =
                9.0 * std::exp(-((x - 20.0) * (x - 20.0) + (y + 15.0) * (y + 15.0)) / 300.0);
            const double ridge =
                x < -10.0 ? 0.0 : 2.5 * std::sin((x + 10.0) * 0.21) * std::cos(y * 0.07);
            positions.push_back({static_cast<float>(x), static_cast<float>(y),
                                 static_cast<float>(hill + std::fabs(ridge))});
        }
    }
    std::vector<Triangle> triangles;
    for (int j = 0; j < kTerrainCells; ++j) {
        for (int i = 0; i < kTerrainCells; ++i) {
            const auto v = [n](int a, int b) { return static_cast<uint16_t>(b * n + a); };
            triangles.push_back({v(i, j), v(i + 1, j), 0, v(i + 1, j + 1)});
            triangles.push_back({v(i, j), v(i + 1, j + 1), 0, v(i, j + 1)});
        }
    }
    return MakeModelWithPositions(positions, triangles);
}

// A box of 14 x 9 x 5 units whose every side is a grid of kBoxCells x
// kBoxCells squares, each side with vertices of its own (the edges meet once
// `col` welds them): flat sides that simplify to a few triangles each.
constexpr int kBoxCells = 24;

ClumpSpec FinelyTessellatedBox() {
    const float size[3] = {14.0f, 9.0f, 5.0f};
    const int n = kBoxCells + 1;
    std::vector<Vec3> positions;
    std::vector<Triangle> triangles;
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = 0; side < 2; ++side) {
            const int u = (axis + 1) % 3;
            const int w = (axis + 2) % 3;
            const auto base = static_cast<uint16_t>(positions.size());
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    float p[3];
                    p[axis] = side == 0 ? -size[axis] / 2 : size[axis] / 2;
                    p[u] = size[u] * (static_cast<float>(i) / kBoxCells - 0.5f);
                    p[w] = size[w] * (static_cast<float>(j) / kBoxCells - 0.5f);
                    positions.push_back({p[0], p[1], p[2]});
                }
            }
            const auto v = [&](int a, int b) { return static_cast<uint16_t>(base + b * n + a); };
            for (int j = 0; j < kBoxCells; ++j) {
                for (int i = 0; i < kBoxCells; ++i) {
                    // Outward winding on both sides of each axis.
                    if (side == 1) {
                        triangles.push_back({v(i, j), v(i + 1, j), 0, v(i + 1, j + 1)});
                        triangles.push_back({v(i, j), v(i + 1, j + 1), 0, v(i, j + 1)});
                    } else {
                        triangles.push_back({v(i, j), v(i + 1, j + 1), 0, v(i + 1, j)});
                        triangles.push_back({v(i, j), v(i, j + 1), 0, v(i + 1, j + 1)});
                    }
                }
            }
        }
    }
    return MakeModelWithPositions(positions, triangles);
}

// The vehicles' collision id, beside the classic kEntryCollision.
constexpr uint32_t kEntryVehicleCollision = 0x253F2FA;

bool Check(int result, const char* what) {
    if (result == 0)
        return true;
    std::fprintf(stderr, "%s returned %d on this platform\n", what, result);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: brennix_windows_fixtures DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path in = root / "in";
    const fs::path expected = root / "expected";
    std::error_code ec;
    fs::create_directories(in, ec);
    fs::create_directories(expected, ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s\n", root.string().c_str());
        return 1;
    }

    const ClumpSpec canonical = MakeCanonicalModel();

    ClumpSpec withCollision = canonical;
    withCollision.ExtensionEntries() = {ExtensionEntry{kEntryCollision, MakeCol3File()}};

    // The Geometry List's count says 2 where one geometry follows.
    ClumpSpec badGeometry = canonical;
    badGeometry.FindChild(ClumpChildKind::GeometryList)->geometryList.countOverride = 2;

    // A Geometry List that reads but holds no Geometry chunk.
    ClumpSpec noGeometry = canonical;
    {
        GeometryListSpec& list = noGeometry.FindChild(ClumpChildKind::GeometryList)->geometryList;
        list.geometries.clear();
        list.countOverride = 1;
    }

    ClumpSpec noPositions = canonical;
    noPositions.FirstGeometry().hasPositions = 0;
    noPositions.FirstGeometry().positions.clear();

    // One vertex more than the canonical model.
    ClumpSpec moreVertices = canonical;
    {
        GeometrySpec& g = moreVertices.FirstGeometry();
        g.prelit.push_back({1, 2, 3, 4});
        for (auto& set : g.uvSets)
            set.push_back({0.5f, 0.5f});
        g.positions.push_back({0.25f, 0.25f, 0.25f});
        g.normals.push_back({0.0f, 0.0f, 1.0f});
    }

    ClumpSpec noDayColours = canonical;
    noDayColours.FirstGeometry().formatFlags &= static_cast<uint16_t>(~kGeoPrelit);
    noDayColours.FirstGeometry().prelit.clear();

    ClumpSpec nanModel = canonical;
    nanModel.FirstGeometry().sphere.r = BitsToFloat(kSignallingNan);
    nanModel.FirstGeometry().sphere.x = BitsToFloat(kQuietNan);

    const ClumpSpec parts = TwoPartModel();
    // Both collision ids in the clump Extension, the vehicles' one first.
    ClumpSpec partsWithCollision = parts;
    partsWithCollision.ExtensionEntries() = {ExtensionEntry{kEntryVehicleCollision, MakeCol3File()},
                                             ExtensionEntry{kEntryCollision, MakeCol3File()}};

    const bool written =
        Put(in / "model.dff", BuildModel(canonical)) &&
        Put(in / "night.dff", BuildModel(NightVersion(canonical))) &&
        Put(in / "withcol.dff", BuildModel(withCollision)) &&
        Put(in / "noext.dff", BuildModel(WithoutClumpExtension(canonical))) &&
        Put(in / "badgeom.dff", BuildModel(badGeometry)) &&
        Put(in / "nogeom.dff", BuildModel(noGeometry)) &&
        Put(in / "nopos.dff", BuildModel(noPositions)) &&
        Put(in / "more.dff", BuildModel(moreVertices)) &&
        Put(in / "noprelit.dff", BuildModel(noDayColours)) &&
        Put(in / "nan.dff", BuildModel(nanModel)) && Put(in / "small.col", MakeCol3File()) &&
        Put(in / "city.col", ColArchive()) && Put(in / "parts.dff", BuildModel(parts)) &&
        Put(in / "partscol.dff", BuildModel(partsWithCollision)) &&
        Put(in / "terrain.dff", BuildModel(TerrainModel())) &&
        Put(in / "finebox.dff", BuildModel(FinelyTessellatedBox())) &&
        Put(in / "garbage.dff", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'd', 'e', 'l'});
    if (!written)
        return 1;

    auto I = [&](const char* name) { return (in / name).string(); };
    auto E = [&](const char* name) { return (expected / name).string(); };
    // Day colour red, night colour (128, 64, 32); the top bytes are ignored.
    const uint32_t day = 0xFF0000FFu;
    const uint32_t night = 0x00204080u;
    bool ok =
        Check(GenerateColFromDff(I("model.dff").c_str(), 0, E("gen0.col").c_str()), "gen 0") &&
        Check(GenerateColFromDff(I("model.dff").c_str(), 1, E("gen1.col").c_str()), "gen 1") &&
        Check(GenerateColFromDff(I("model.dff").c_str(), 2, E("gen2.col").c_str()), "gen 2") &&
        Check(GenerateColFromDff(I("model.dff").c_str(), 3, E("gen3.col").c_str()), "gen 3") &&
        Check(GenerateColFromDff(I("nan.dff").c_str(), 0, E("gennan.col").c_str()), "gen nan") &&
        Check(
            AppendColToDff(I("model.dff").c_str(), I("small.col").c_str(), E("append.dff").c_str()),
            "append") &&
        Check(
            ImportNVCFromDff(I("model.dff").c_str(), I("night.dff").c_str(), E("nvc.dff").c_str()),
            "night colours") &&
        Check(ImportNVCFromDff(I("model.dff").c_str(), I("model.dff").c_str(),
                               E("nvcsame.dff").c_str()),
              "night colours from itself") &&
        Check(EasyVertexColors(I("model.dff").c_str(), day, night, E("paint.dff").c_str()),
              "paint") &&
        Check(EasyVertexColors(I("nan.dff").c_str(), day, night, E("paintnan.dff").c_str()),
              "paint nan");
    return ok ? 0 : 1;
}
