// Collision for a whole model: welding, tight bounds, the limits, surfaces,
// face groups and the standard COL3 header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "col/ColGenerate.h"
#include "support/ModelBuilder.h"

namespace brennix::test {
namespace {

// Frames "root" (far away, never applied), "body" moved by (1, 2, 3) and
// "door" under it turned 90 degrees about z and moved by (5, 0, 0), so the
// door maps (x, y, z) to (6 - y, x + 2, z + 3). Atomic 0 draws geometry 0
// (texture "grass_a") on "body", atomic 1 geometry 1 (texture "wall") on "door".
ClumpSpec TwoAtomicModel(std::vector<Vec3> second = {{1, 0, 0}, {0, 2, 0}, {0, 0, 1}}) {
    FrameListSpec frames;
    frames.frames = {MakeFrame("root", -1), MakeFrame("body", 0), MakeFrame("door", 1)};
    frames.frames[0].position = {100.0f, 0.0f, 0.0f};
    frames.frames[1].position = {1.0f, 2.0f, 3.0f};
    frames.frames[2].rotation = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    frames.frames[2].position = {5.0f, 0.0f, 0.0f};
    GeometryListSpec list;
    list.geometries = {MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}),
                       MakeGeometryWithPositions(second, {{0, 1, 0, 2}})};
    list.geometries[0].materials = {MakeMaterial("grass_a")};
    list.geometries[1].materials = {MakeMaterial("wall")};
    return MakeMultiAtomicModel(frames, list);
}

// Generates from a model built by the builder; false with `why` on refusal.
bool Generate(const ClumpSpec& plan, const ColRequest& request, ColModel* col, std::string* why) {
    const Bytes bytes = BuildModel(plan);
    WholeModel model;
    return model.Parse(bytes.data(), bytes.size()) && GenerateCol(model, request, col, why);
}

std::vector<Vec3> Vertices(const ColModel& col) {
    std::vector<Vec3> out;
    for (uint32_t i = 0; i < col.vertexCount; ++i)
        out.push_back(
            {col.vertices[i].x / 128.0f, col.vertices[i].y / 128.0f, col.vertices[i].z / 128.0f});
    return out;
}

TEST(ColGenerateTest, WeldsVerticesOnOneQuantisedPoint) {
    struct Case {
        const char* what;
        std::vector<Vec3> positions;
        std::vector<Triangle> triangles;
        bool weld;
        uint32_t faces, vertices;
    };
    const std::vector<Vec3> split = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                     {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const std::vector<Vec3> near = {{0, 0, 0}, {0.004f, 0, 0}, {0, 1, 0}, {0.0078125f, 1, 0}};
    const std::vector<Vec3> line = {{0, 0, 0}, {-0.001f, 0, 0}, {0, 1, 0}, {9, 9, 9}};
    const Case cases[] = {
        {"split edge", split, {{0, 1, 0, 2}, {3, 4, 0, 5}}, true, 2, 4},
        {"split edge kept", split, {{0, 1, 0, 2}, {3, 4, 0, 5}}, false, 2, 6},
        {"one step apart stays", near, {{0, 2, 0, 3}}, true, 1, 3},
        {"collapsed kept", near, {{0, 1, 0, 2}}, false, 1, 4},
        {"truncated to zero, unused dropped", line, {{0, 1, 0, 2}, {0, 2, 0, 3}}, true, 1, 3},
    };
    for (const Case& c : cases) {
        ColRequest request;
        request.weld = c.weld;
        ColModel col;
        std::string why;
        ASSERT_TRUE(Generate(MakeModelWithPositions(c.positions, c.triangles), request, &col, &why))
            << c.what << ": " << why;
        EXPECT_EQ(col.faceCount, c.faces) << c.what;
        EXPECT_EQ(col.vertexCount, c.vertices) << c.what;
        for (uint32_t f = 0; f < col.faceCount; ++f)
            EXPECT_LT(std::max({col.faces[f].a, col.faces[f].b, col.faces[f].c}), col.vertexCount);
    }
}

TEST(ColGenerateTest, BoundsAndSphereEncloseEveryVertex) {
    const std::vector<std::vector<Vec3>> sets = {
        {{1.003f, 2.5f, 3.9f}, {2.0f, 2.7f, 4.1f}, {1.5f, 3.01f, 4.0f}},
        {{-1.003f, -2.5f, -3.9f}, {-2.0f, -2.7f, -4.1f}, {-1.5f, -3.01f, -4.0f}},
        {{-255.9f, 0.3f, 0}, {255.98f, -0.3f, 0}, {0, 0, 255.99f}},
        {{7.0f, 7.0f, 7.0f}, {7.0f, 7.0f, 7.0f}, {7.0f, 7.0f, 7.0f}},
    };
    for (ColShape shape : {ColShape::kMesh, ColShape::kBox, ColShape::kEmpty}) {
        for (const std::vector<Vec3>& positions : sets) {
            ColRequest request;
            request.shape = shape;
            request.weld = false;
            ColModel col;
            std::string why;
            ASSERT_TRUE(
                Generate(MakeModelWithPositions(positions, {{0, 1, 0, 2}}), request, &col, &why))
                << why;
            const ColHeader& h = col.header;
            std::vector<Vec3> points = positions, quantised = Vertices(col);
            points.insert(points.end(), quantised.begin(), quantised.end());
            double farthest = 0;
            for (const Vec3& p : points) {
                const float v[3] = {p.x, p.y, p.z};
                double squared = 0;
                for (int k = 0; k < 3; ++k) {
                    EXPECT_LE(h.boundsMin[k], v[k]) << p;
                    EXPECT_GE(h.boundsMax[k], v[k]) << p;
                    squared += std::pow(static_cast<double>(v[k]) - h.sphereCentre[k], 2);
                }
                EXPECT_LE(squared, static_cast<double>(h.sphereRadius) * h.sphereRadius) << p;
                farthest = std::max(farthest, std::sqrt(squared));
            }
            for (int k = 0; k < 3; ++k)
                EXPECT_FLOAT_EQ(h.sphereCentre[k], (h.boundsMin[k] + h.boundsMax[k]) / 2);
            // Tight: the largest distance, rounded up to a float.
            EXPECT_LE(h.sphereRadius, std::nextafter(static_cast<float>(farthest), 1e9f));
        }
    }
}

ClumpSpec MissingFrame() {
    ClumpSpec plan = TwoAtomicModel();
    plan.FindChild(ClumpChildKind::Atomic, 1)->rawPayload = MakeAtomicPayload(9, 1);
    return plan;
}

ClumpSpec WithoutBinMesh(ClumpSpec plan) {
    plan.FirstGeometry().extensions.clear();
    return plan;
}

TEST(ColGenerateTest, TakesTheBinMeshWhenTheTriangleListNamesAMissingVertex) {
    // Strips unrolled: 0 1 2 3 gives (0 1 2) and (2 1 3) turned to face one way.
    for (uint32_t flags : {0u, 1u}) {
        ClumpSpec plan = MakeModelWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
                                                {{0, 1, 0, 2}, {2, 1, 0, 16256}});
        BinMeshSpec mesh;
        mesh.indices = flags == 1 ? std::vector<uint32_t>{0, 1, 2, 3}
                                  : std::vector<uint32_t>{0, 1, 2, 2, 1, 3};
        plan.FirstGeometry().extensions = {{kEntryBinMesh, MakeBinMeshPayload({mesh}, flags)}};
        ColModel col;
        std::string why;
        std::vector<std::string> notes;
        WholeModel model;
        const Bytes bytes = BuildModel(plan);
        ASSERT_TRUE(model.Parse(bytes.data(), bytes.size()));
        ASSERT_TRUE(GenerateCol(model, ColRequest(), &col, &why, &notes)) << why;
        EXPECT_EQ(col.faceCount, 2u) << flags;
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find("triangle 1 names vertex 16256"), std::string::npos) << notes[0];
        EXPECT_NE(notes[0].find("2 triangles of its Bin Mesh"), std::string::npos) << notes[0];
        ASSERT_EQ(model.warnings.size(), 1u);
        EXPECT_EQ(model.warnings[0].step, "geometry 0");
        EXPECT_TRUE(model.Ok());
    }
}

TEST(ColGenerateTest, RefusesWhatCol3CannotHoldWithTheReason) {
    const float nan = std::nanf("");
    const float inf = std::numeric_limits<float>::infinity();
    auto door = [](std::vector<Vec3> second) { return TwoAtomicModel(second); };
    const char* const kDoor = "atomic 1 (frame \"door\"): ";
    struct Case {
        ClumpSpec plan;
        ColShape shape;
        bool weld;
        std::string reason;  // empty: accepted
        double maxError = kDefaultMaxError;
        bool slow = false;  // most of a minute under a sanitizer: left to the release build
    };
    const Case cases[] = {
        {door({{1, 0, 0}, {0, 2, 0}, {0, 0, 252.99f}}), ColShape::kMesh, true, ""},
        {door({{1, 0, 0}, {0, 2, 0}, {0, 0, 253}}), ColShape::kMesh, true,
         std::string(kDoor) + "vertex 2 has z = 256, outside -256 .. 255.99"},
        {door({{1, 0, 0}, {0, 2, 0}, {0, 0, -259}}), ColShape::kMesh, true, ""},
        {door({{1, 0, 0}, {0, 2, 0}, {0, 0, -259.5f}}), ColShape::kMesh, true,
         std::string(kDoor) + "vertex 2 has z = -256.5, outside -256 .. 255.99"},
        {door({{1, 0, 0}, {0, 2, 0}, {0, 0, 300}}), ColShape::kEmpty, true, ""},
        {door({{1, 0, 0}, {0, nan, 0}, {0, 0, 1}}), ColShape::kEmpty, true,
         std::string(kDoor) + "vertex 1 has y = nan, which is not a finite number"},
        {door({{1, 0, 0}, {0, 2, inf}, {0, 0, 1}}), ColShape::kBox, true,
         std::string(kDoor) + "vertex 1 has z = inf, which is not a finite number"},
        {MakeModelWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}, {0, 3, 0, 2}}),
         ColShape::kMesh, true,
         "atomic 0 (frame \"canonical\"): triangle 1 names vertex 3, not below the vertex count 3, "
         "and its Bin Mesh names vertex 3 too"},
        {WithoutBinMesh(MakeModelWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                               {{0, 1, 0, 2}, {0, 3, 0, 2}})),
         ColShape::kMesh, true,
         "atomic 0 (frame \"canonical\"): triangle 1 names vertex 3, not below the vertex count 3, "
         "and it has no Bin Mesh to take the triangles from"},
        {MakeModelWithPositions({{0, 0, 0}, {0.004f, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}),
         ColShape::kMesh, true,
         "no face left: every one of the 1 triangles collapses to a line or a point at 1/128 "
         "units"},
        {MakeModelWithPositions({{0, 0, 0}, {0.004f, 0, 0}, {0, 1, 0}}, {}), ColShape::kMesh, true,
         "no face to make: the chosen atomics hold no triangle"},
        {MissingFrame(), ColShape::kMesh, true,
         "atomic 1 (frame 9): the atomic could not be read (frame 9 does not exist (3 frames))"},
        // Every triangle asked for: what does not fit is refused, after the
        // repeated triangles are left out. By default the same models are
        // simplified until they fit.
        {MakeLargeModel(65536, 1000), ColShape::kMesh, true, "", 0},
        {MakeLargeModel(65536, 65536), ColShape::kMesh, true,
         "more than 65535 faces after merging; a COL3 file holds at most that many", 0},
        {MakeLargeModel(65535, 65536), ColShape::kMesh, true,
         "more than 65535 vertices after merging; a COL3 file holds at most that many", 0},
        {MakeLargeModel(65536, 65536), ColShape::kMesh, true, "", kDefaultMaxError, true},
        {MakeLargeModel(65536, 65536), ColShape::kMesh, false,
         "more than 65535 vertices; a COL3 file holds at most that many"},
        {MakeLargeModel(65535, 65535), ColShape::kMesh, false, ""},
    };
    for (const Case& c : cases) {
        if (kSanitized && c.slow)
            continue;
        ColRequest request;
        request.shape = c.shape;
        request.weld = c.weld;
        request.maxError = c.maxError;
        ColModel col;
        std::string why;
        EXPECT_EQ(Generate(c.plan, request, &col, &why), c.reason.empty()) << why;
        EXPECT_EQ(why, c.reason);
        if (!c.reason.empty()) {
            EXPECT_EQ(col.faceCount + col.vertexCount + col.boxes.count, 0u);
        }
    }
}

TEST(ColGenerateTest, PlacesSkipsAndGivesSurfaces) {
    struct Case {
        Placement placement;
        std::vector<std::string> skip;
        std::vector<Vec3> vertices;
        std::vector<uint8_t> surfaces;  // per face
    };
    const Case cases[] = {
        {Placement::kAuto,
         {},
         {{1, 2, 3}, {2, 2, 3}, {1, 3, 3}, {6, 3, 3}, {4, 2, 3}, {6, 2, 4}},
         {9, 4}},
        {Placement::kNone, {}, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 0, 1}}, {9, 4}},
        {Placement::kFrames, {"D?OR"}, {{1, 2, 3}, {2, 2, 3}, {1, 3, 3}}, {9}},
        {Placement::kFrames, {"x", "*dy"}, {{6, 3, 3}, {4, 2, 3}, {6, 2, 4}}, {4}},
    };
    for (const Case& c : cases) {
        ColRequest request;
        request.placement = c.placement;
        request.skip = c.skip;
        request.surface = 4;
        request.surfaces = {{"nothing", 7}, {"grass*", 9}};  // "wall" gets --surface
        ColModel col;
        std::string why;
        ASSERT_TRUE(Generate(TwoAtomicModel(), request, &col, &why)) << why;
        EXPECT_EQ(Vertices(col), c.vertices);
        std::vector<uint8_t> surfaces;
        for (uint32_t f = 0; f < col.faceCount; ++f)
            surfaces.push_back(col.faces[f].material);
        EXPECT_EQ(surfaces, c.surfaces);
    }

    ColRequest box;
    box.shape = ColShape::kBox;
    box.surfaces = {{"GRASS_?", 12}};
    ColModel col;
    std::string why;
    ASSERT_TRUE(Generate(TwoAtomicModel(), box, &col, &why)) << why;
    ASSERT_EQ(col.boxes.count, 1u);
    EXPECT_EQ(col.boxes.items[0]->surface.material, 12);
    box.skip = {"*"};
    EXPECT_FALSE(Generate(TwoAtomicModel(), box, &col, &why));
    EXPECT_EQ(why, "every atomic is skipped");
}

// A flat n x n grid of 1-unit cells at height z, with extra vertices that no
// triangle names after the grid's.
ClumpSpec Grid(int n, float z, const std::vector<Vec3>& unused = {},
               float (*height)(int, int) = nullptr) {
    std::vector<Vec3> positions;
    std::vector<Triangle> triangles;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            positions.push_back({static_cast<float>(i) - n / 2.0f, static_cast<float>(j) - n / 2.0f,
                                 z + (height != nullptr ? height(i, j) : 0.0f)});
    auto at = [n](int i, int j) { return static_cast<uint16_t>(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            triangles.push_back({at(i, j), at(i + 1, j), 0, at(i + 1, j + 1)});
            triangles.push_back({at(i, j), at(i + 1, j + 1), 0, at(i, j + 1)});
        }
    }
    positions.insert(positions.end(), unused.begin(), unused.end());
    return MakeModelWithPositions(positions, triangles);
}

float Rough(int i, int j) {
    // Heights no simplification within 0.05 flattens, the same on every run.
    return static_cast<float>((i * 7919 + j * 104729) % 97) / 97.0f;
}

TEST(ColGenerateTest, UnusedVerticesAreNoPartOfTheCollision) {
    const float nan = std::nanf("");
    const std::vector<Vec3> garbage[] = {{}, {{5.8e25f, 0, 0}}, {{nan, nan, nan}}, {{0, 0, 255}}};
    for (const std::vector<Vec3>& unused : garbage) {
        for (ColShape shape : {ColShape::kMesh, ColShape::kBox, ColShape::kEmpty}) {
            ColRequest request;
            request.shape = shape;
            ColModel col;
            std::string why;
            ASSERT_TRUE(Generate(Grid(4, 1, unused), request, &col, &why)) << why;
            EXPECT_EQ(col.header.boundsMin[0], -2);
            EXPECT_EQ(col.header.boundsMax[1], 2);
            EXPECT_EQ(col.header.boundsMax[2], 1);
            EXPECT_LE(col.header.sphereRadius, 2.9f);
            if (shape == ColShape::kMesh) {
                // The flat grid is two faces over its four corners.
                EXPECT_EQ(col.faceCount, 2u);
                EXPECT_EQ(col.vertexCount, 4u);
            }
        }
    }
}

TEST(ColGenerateTest, SimplifiesWithinTheBoundAndFitsTheFileWithANote) {
    struct Case {
        const char* what;
        ClumpSpec plan;
        double maxError;
        uint32_t maxFaces;
        uint32_t atMost, atLeast;  // faces
        bool note;                 // a note says the bound was passed
        bool slow = false;         // minutes under a sanitizer: left to the release build
    };
    const Case cases[] = {
        {"flat grid", Grid(40, 0), kDefaultMaxError, 0, 2, 2, false},
        {"every triangle", Grid(40, 0), 0, 0, 3200, 3200, false},
        {"rough ground", Grid(30, 0, {}, Rough), kDefaultMaxError, 0, 1800, 1000, false},
        {"rough ground, 100 faces", Grid(30, 0, {}, Rough), kDefaultMaxError, 100, 100, 1, true},
        // 66,248 triangles that cannot all stay: written, with the distance.
        {"over 65535 faces", Grid(182, 0, {}, Rough), kDefaultMaxError, 0, kMaxColFaces, 1000, true,
         true},
    };
    for (const Case& c : cases) {
        if (kSanitized && c.slow)
            continue;
        ColRequest request;
        request.maxError = c.maxError;
        request.maxFaces = c.maxFaces;
        ColModel col;
        std::string why;
        std::vector<std::string> notes;
        ColStats stats;
        const Bytes bytes = BuildModel(c.plan);
        WholeModel model;
        ASSERT_TRUE(model.Parse(bytes.data(), bytes.size()));
        ASSERT_TRUE(GenerateCol(model, request, &col, &why, &notes, &stats)) << c.what << why;
        EXPECT_LE(col.faceCount, c.atMost) << c.what;
        EXPECT_GE(col.faceCount, c.atLeast) << c.what;
        EXPECT_EQ(stats.faces, col.faceCount);
        EXPECT_EQ(stats.beyondBound, c.note) << c.what;
        EXPECT_EQ(stats.maxDistance > c.maxError, c.note) << c.what << stats.maxDistance;
        const bool noted = std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
            return n.find("simplified past --max-error 0.05") != std::string::npos &&
                   n.find("largest distance") != std::string::npos;
        });
        EXPECT_EQ(noted, c.note) << c.what << (notes.empty() ? "" : notes[0]);
    }
}

TEST(ColGenerateTest, FaceGroupsAboveEightyFacesUnlessTurnedOff) {
    struct Case {
        FaceGroups mode;
        int grid;  // 2 n^2 faces at max-error 0
        bool groups;
    };
    const Case cases[] = {
        {FaceGroups::kAuto, 6, false},  // 72 faces
        {FaceGroups::kAuto, 7, true},   // 98
        {FaceGroups::kOff, 7, false},
        {FaceGroups::kOn, 2, true},
    };
    for (const Case& c : cases) {
        ColRequest request;
        request.maxError = 0;
        request.faceGroups = c.mode;
        ColModel col;
        std::string why;
        ASSERT_TRUE(Generate(Grid(c.grid, 0), request, &col, &why)) << why;
        EXPECT_EQ(col.faceGroupCount > 0, c.groups) << c.grid;
    }
}

TEST(ColGenerateTest, GroupsFacesInRunsOfAtMostFifty) {
    ColRequest request;
    request.faceGroups = FaceGroups::kOn;
    ColModel col;
    std::string why;
    ASSERT_TRUE(Generate(MakeLargeModel(1234, 2000), request, &col, &why)) << why;
    ASSERT_GE(col.faceGroupCount, 25u);
    uint32_t next = 0;
    for (uint32_t g = 0; g < col.faceGroupCount; ++g) {
        const Bytes group(col.faceGroups[g].bytes, col.faceGroups[g].bytes + 28);
        const uint16_t first = GetU16(group, 24), last = GetU16(group, 26);
        EXPECT_EQ(first, next);
        EXPECT_LT(last - first, static_cast<int>(kMaxFacesPerGroup));
        next = last + 1u;
        for (uint32_t f = first; f <= last; ++f) {
            for (uint16_t corner : {col.faces[f].a, col.faces[f].b, col.faces[f].c}) {
                const int16_t v[3] = {col.vertices[corner].x, col.vertices[corner].y,
                                      col.vertices[corner].z};
                for (int k = 0; k < 3; ++k) {
                    EXPECT_LE(GetF32(group, 4 * k), v[k] / 128.0f);
                    EXPECT_GE(GetF32(group, 12 + 4 * k), v[k] / 128.0f);
                }
            }
        }
    }
    EXPECT_EQ(next, col.faceCount);
}

TEST(ColGenerateTest, WritesTheStandardHeader) {
    const Bytes model = BuildModel(TwoAtomicModel());
    WholeModel whole;
    ASSERT_TRUE(whole.Parse(model.data(), model.size()));
    struct Case {
        ColShape shape;
        std::string name;
        uint32_t flags;
        const char* stored;
        size_t notes;
    };
    const Case cases[] = {
        {ColShape::kMesh, "house", 2, "house", 0},
        {ColShape::kBox, "a_name_of_21_letters_", 2, "a_name_of_21_letters_", 0},
        {ColShape::kEmpty, "a_name_of_22_letters__", 0, "a_name_of_22_letters_", 1},
    };
    for (const Case& c : cases) {
        ColRequest request;
        request.shape = c.shape;
        Bytes bytes;
        std::vector<std::string> notes;
        std::string why;
        ASSERT_TRUE(GenerateColBytes(whole, request, c.name, &bytes, &why, &notes)) << why;
        EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8);
        EXPECT_EQ(GetU32(bytes, 80), c.flags);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes.at(8))), c.stored);
        EXPECT_EQ(bytes.at(29), 0);
        EXPECT_EQ(notes.size(), c.notes);
        // The centre of the box (1, 2, 3) .. (6, 3, 4).
        EXPECT_EQ(GetF32(bytes, 56), 3.5f);
        EXPECT_EQ(GetF32(bytes, 60), 2.5f);
        EXPECT_EQ(GetF32(bytes, 64), 3.5f);
    }
}

TEST(ColGenerateTest, MatchesGlobsAndReadsSurfaceRules) {
    const std::vector<std::pair<std::string, std::string>> matches = {
        {"*", ""},        {"lod*", "LOD_door"}, {"*_dam", "door_dam"},
        {"d?or", "DOOR"}, {"a*b*c", "axxbyyc"}, {"**x", "abx"}};
    const std::vector<std::pair<std::string, std::string>> misses = {
        {"", "a"}, {"*_dam", "door_damaged"}, {"d?or", "dor"}, {"a*b*c", "axxbyy"}, {"*a*", "b"}};
    for (const auto& m : matches)
        EXPECT_TRUE(GlobMatch(m.first, m.second)) << m.first << " " << m.second;
    for (const auto& m : misses)
        EXPECT_FALSE(GlobMatch(m.first, m.second)) << m.first << " " << m.second;

    const std::pair<const char*, const char*> rules[] = {
        {"grass* = 9\n# comment\n\n  sand=12  # beach\r\n*=0", ""},
        {"grass* = 9\nwall\n", "line 2: expected PATTERN = ID, found \"wall\""},
        {"a = 256", "line 1: the surface id must be a number from 0 to 255, found \"256\""},
        {"a = 1 = 2", "line 1: the surface id must be a number from 0 to 255, found \"1 = 2\""},
        {"\n\n = 3", "line 3: no texture name pattern before '='"},
    };
    for (const auto& r : rules) {
        std::vector<SurfaceRule> read;
        std::string why;
        EXPECT_EQ(ParseSurfaceRules(r.first, &read, &why), *r.second == '\0') << r.first;
        EXPECT_EQ(why, r.second);
    }
    std::vector<SurfaceRule> read;
    std::string why;
    ASSERT_TRUE(ParseSurfaceRules("sand=12  # beach\r\n", &read, &why));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].pattern, "sand");
    EXPECT_EQ(read[0].surface, 12);
}

}  // namespace
}  // namespace brennix::test
