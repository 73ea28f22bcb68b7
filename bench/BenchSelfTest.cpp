// Checks of the benchmarks' own measuring tools: the distance sampling that
// cross-checks the collision's error bound, and the varied models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "MeshSampling.h"
#include "VariedModels.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"

namespace brennix::bench {
namespace {

// A fixed stream of numbers in [0, 1), the same on every run.
class Numbers {
public:
    double Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    uint64_t state_ = 12345;
};

double Distance(V3 a, V3 b) {
    return std::sqrt(Dot(a - b, a - b));
}

Mesh MeshOf(const std::vector<V3>& points, const std::vector<uint32_t>& indices) {
    Mesh mesh;
    for (const V3& p : points)
        mesh.positions.insert(mesh.positions.end(), {p.x, p.y, p.z});
    mesh.indices = indices;
    return mesh;
}

// A square from (x0, y0) to (x1, y1) at height z, as two triangles.
Mesh Square(double x0, double y0, double x1, double y1, double z) {
    return MeshOf({{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}}, {0, 1, 2, 0, 2, 3});
}

TEST(MeshSamplingTest, MeasuresThePointToTriangleDistance) {
    struct Case {
        const char* what;
        V3 p, a, b, c;
        double distance;
    };
    const V3 o = {0, 0, 0}, x = {1, 0, 0}, y = {0, 1, 0};
    const Case cases[] = {
        {"above the inside", {0.25, 0.25, 2}, o, x, y, 2},
        {"below the inside", {0.1, 0.1, -0.5}, o, x, y, 0.5},
        {"in the plane past the long edge", {1, 1, 0}, o, x, y, std::sqrt(0.5)},
        {"past a corner", {-1, -1, 0}, o, x, y, std::sqrt(2.0)},
        {"under and beside an edge", {0.5, -1, -1}, o, x, y, std::sqrt(2.0)},
        {"on the triangle", {0.2, 0.3, 0}, o, x, y, 0},
        {"beside a triangle on one line", {1, 1, 0}, o, x, {2, 0, 0}, 1},
        {"past the end of one on a line", {3, 0, 0}, o, x, {2, 0, 0}, 1},
        {"beside one on a single point", {0, 3, 4}, o, o, o, 5},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(std::sqrt(DistanceSquared(c.p, MakeTriangle(c.a, c.b, c.c))), c.distance, 1e-12)
            << c.what;
    }
}

TEST(MeshSamplingTest, SamplesLieWithinTheSpacingOfEveryPoint) {
    struct Case {
        const char* what;
        V3 a, b, c;
        size_t mostSamples;  // a sliver must not take the square of its length
    };
    constexpr double kSpacing = 0.1;
    const Case cases[] = {
        {"right triangle", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 100},
        {"obtuse, longest edge last", {0, 0, 0}, {3, 0.2, 0}, {1.5, 0.5, 1}, 400},
        {"long sliver", {0, 0, 0}, {10, 0, 0}, {5, 0.01, 0}, 210},
        {"on one line", {0, 0, 0}, {4, 0, 0}, {2, 0, 0}, 45},
        {"on one point", {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, 1},
    };
    Numbers numbers;
    for (const Case& c : cases) {
        std::vector<V3> samples;
        SampleTriangle(c.a, c.b, c.c, kSpacing, [&](V3 p) { samples.push_back(p); });
        EXPECT_LE(samples.size(), c.mostSamples) << c.what;
        auto nearest = [&](V3 p) {
            double best = 1e9;
            for (const V3& s : samples)
                best = std::min(best, Distance(p, s));
            return best;
        };
        for (const V3& corner : {c.a, c.b, c.c})
            EXPECT_LT(nearest(corner), 1e-9) << c.what;
        for (int i = 0; i < 500; ++i) {
            double u = numbers.Next(), v = numbers.Next();
            if (u + v > 1) {
                u = 1 - u;
                v = 1 - v;
            }
            const V3 p = c.a + u * (c.b - c.a) + v * (c.c - c.a);
            ASSERT_LE(nearest(p), kSpacing) << c.what;
            ASSERT_LT(std::sqrt(DistanceSquared(samples[static_cast<size_t>(i) % samples.size()],
                                                MakeTriangle(c.a, c.b, c.c))),
                      1e-9)
                << c.what << ": a sample off the triangle";
        }
    }
}

TEST(MeshSamplingTest, GridFindsTheNearestOfAllTriangles) {
    // Small, large, long and flat triangles together.
    Numbers numbers;
    std::vector<V3> points;
    std::vector<uint32_t> indices;
    for (uint32_t t = 0; t < 300; ++t) {
        const double size = t % 50 == 0 ? 20 : t % 7 == 0 ? 2 : 0.2;
        const V3 at = {numbers.Next() * 10, numbers.Next() * 10, numbers.Next() * 2};
        points.push_back(at);
        points.push_back(at + V3{size * numbers.Next(), size * numbers.Next(), 0});
        // Every ninth on one line with its first two corners.
        points.push_back(t % 9 == 0 ? at + 2.0 * (points.back() - at)
                                    : at + V3{0, size * numbers.Next(), size * numbers.Next()});
        indices.insert(indices.end(), {3 * t, 3 * t + 1, 3 * t + 2});
    }
    const Mesh mesh = MeshOf(points, indices);
    TriangleGrid grid(mesh);
    struct Case {
        const char* what;
        double low, high;  // each coordinate drawn from this range
    };
    const Case cases[] = {{"among the triangles", -1, 11}, {"far outside them", -200, 200}};
    for (const Case& c : cases) {
        for (int i = 0; i < 400; ++i) {
            const V3 p = {c.low + (c.high - c.low) * numbers.Next(),
                          c.low + (c.high - c.low) * numbers.Next(),
                          c.low + (c.high - c.low) * numbers.Next()};
            double all = 1e300;
            for (size_t t = 0; t < mesh.TriangleCount(); ++t) {
                all = std::min(
                    all, DistanceSquared(p, MakeTriangle(Corner(mesh, t, 0), Corner(mesh, t, 1),
                                                         Corner(mesh, t, 2))));
            }
            all = std::sqrt(all);
            ASSERT_NEAR(grid.Nearest(p), all, 1e-9) << c.what;
            // Stopping at the first triangle near enough: never below the
            // nearest, never above `enough` when one is that near.
            const double enough = all + 0.5;
            const double early = grid.Nearest(p, enough);
            ASSERT_GE(early, all - 1e-9) << c.what;
            ASSERT_LE(early, enough) << c.what;
        }
    }
}

TEST(MeshSamplingTest, MeasuresTheLargestDistanceEachWay) {
    struct Case {
        const char* what;
        Mesh from, to;
        double distance;
    };
    const Case cases[] = {
        {"the same square", Square(0, 0, 1, 1, 0), Square(0, 0, 1, 1, 0), 0},
        {"a square over another", Square(0, 0, 1, 1, 0.3), Square(0, 0, 1, 1, 0), 0.3},
        {"a large square to a small one in its corner", Square(0, 0, 2, 2, 0),
         Square(0, 0, 1, 1, 0), std::sqrt(2.0)},
        {"a small square to a large one around it", Square(0, 0, 1, 1, 0), Square(0, 0, 2, 2, 0),
         0},
        {"a square to a triangle of its lower half", Square(0, 0, 1, 1, 0),
         MeshOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {0, 1, 2}), std::sqrt(0.5)},
    };
    for (const Case& c : cases) {
        TriangleGrid to(c.to);
        uint64_t samples = 0;
        EXPECT_NEAR(LargestDistance(c.from, to, 0.05, &samples), c.distance, 1e-9) << c.what;
        EXPECT_GT(samples, 400u) << c.what;
    }
}

std::vector<uint8_t> BytesOf(const ShapeModel& model) {
    return test::BuildModel(model.plan);
}

TEST(VariedModelsTest, AreTheSameForTheSameSeedWhateverTheCount) {
    const std::vector<ShapeModel> many = MakeVariedModels(14, 7);
    const std::vector<ShapeModel> again = MakeVariedModels(14, 7);
    const std::vector<ShapeModel> fewer = MakeVariedModels(7, 7);
    const std::vector<ShapeModel> other = MakeVariedModels(14, 8);
    ASSERT_EQ(many.size(), 14u);
    ASSERT_EQ(fewer.size(), 7u);
    size_t differ = 0;
    for (size_t i = 0; i < many.size(); ++i) {
        EXPECT_EQ(BytesOf(many[i]), BytesOf(again[i])) << many[i].name;
        if (i < fewer.size()) {
            EXPECT_EQ(BytesOf(many[i]), BytesOf(fewer[i])) << many[i].name;
        }
        EXPECT_EQ(many[i].name, other[i].name);
        differ += BytesOf(many[i]) != BytesOf(other[i]) ? 1 : 0;
    }
    EXPECT_EQ(differ, many.size());
}

// Every model can be written with every triangle kept, and each material
// becomes the surface the rules give it.
TEST(VariedModelsTest, FitTheExactCollisionWithASurfaceForEachMaterial) {
    std::vector<SurfaceRule> rules;
    std::string why;
    ASSERT_TRUE(ParseSurfaceRules(VariedSurfaceRules(), &rules, &why)) << why;
    std::vector<ShapeModel> models = MakeVariedModels(70, 1);
    const std::vector<ShapeModel> checks = MakeCheckShapes();
    models.insert(models.end(), checks.begin(), checks.end());
    std::set<std::string> kinds;
    size_t severalSurfaces = 0, severalAtomics = 0;
    for (const ShapeModel& model : models) {
        kinds.insert(model.kind);
        const std::vector<uint8_t> bytes = BytesOf(model);
        WholeModel whole;
        ASSERT_TRUE(whole.Parse(bytes.data(), bytes.size()));
        ColRequest request;
        request.maxError = 0;
        request.surfaces = rules;
        ColModel col;
        ColStats stats;
        ASSERT_TRUE(GenerateCol(whole, request, &col, &why, nullptr, &stats))
            << model.name << ": " << why;
        EXPECT_EQ(stats.triangles, model.triangles) << model.name;
        EXPECT_GE(model.triangles, 2u) << model.name;
        EXPECT_LE(model.triangles, 40000u) << model.name;
        std::set<uint8_t> surfaces;
        uint32_t materials = 0;
        for (const GeometryEntry& entry : whole.geometries) {
            ASSERT_NE(entry.geometry, nullptr) << model.name;
            materials = std::max(materials, entry.geometry->materials.count);
        }
        for (uint32_t f = 0; f < col.faceCount; ++f) {
            EXPECT_LT(col.faces[f].material, materials) << model.name;
            surfaces.insert(col.faces[f].material);
        }
        for (int k = 0; k < 3; ++k) {
            EXPECT_GT(col.header.boundsMin[k], -100.0f) << model.name;
            EXPECT_LT(col.header.boundsMax[k], 100.0f) << model.name;
        }
        severalSurfaces += surfaces.size() > 1 ? 1 : 0;
        severalAtomics += whole.atomics.size() > 1 ? 1 : 0;
    }
    EXPECT_EQ(kinds.size(), 8u);  // seven kinds and the checks
    EXPECT_GE(severalSurfaces, models.size() / 3);
    EXPECT_EQ(severalAtomics, 10u);
}

// The solids close up once welded (every edge between two faces), and the
// open surfaces keep a border: a crack in a box or a cylinder's caps would
// change what the folder benchmark measures.
TEST(VariedModelsTest, SolidsAreClosedAndSheetsOpen) {
    std::vector<ShapeModel> models = MakeVariedModels(70, 1);
    const std::vector<ShapeModel> checks = MakeCheckShapes();
    models.insert(models.end(), checks.begin(), checks.end());
    const std::set<std::string> closed = {"box",   "cylinder",       "sphere",
                                          "plate", "tessellatedbox", "thinplate"};
    const std::set<std::string> open = {"terrain", "sheet", "openborder", "foldededge",
                                        "sharededge"};
    size_t checked = 0;
    for (const ShapeModel& model : models) {
        const std::string what = model.kind == "check" ? model.name : model.kind;
        const bool isClosed = closed.count(what) != 0;
        if (!isClosed && open.count(what) == 0)
            continue;
        const std::vector<uint8_t> bytes = BytesOf(model);
        WholeModel whole;
        ASSERT_TRUE(whole.Parse(bytes.data(), bytes.size()));
        ColRequest request;
        request.maxError = 0;
        ColModel col;
        std::string why;
        ASSERT_TRUE(GenerateCol(whole, request, &col, &why)) << model.name << ": " << why;
        std::map<std::pair<uint16_t, uint16_t>, int> edges;
        for (uint32_t f = 0; f < col.faceCount; ++f) {
            const uint16_t v[3] = {col.faces[f].a, col.faces[f].b, col.faces[f].c};
            for (int k = 0; k < 3; ++k)
                edges[std::minmax(v[k], v[(k + 1) % 3])]++;
        }
        size_t border = 0, shared = 0;
        for (const auto& edge : edges) {
            border += edge.second == 1 ? 1 : 0;
            shared += edge.second == 2 ? 1 : 0;
        }
        if (isClosed) {
            EXPECT_EQ(border, 0u) << model.name;
            EXPECT_EQ(shared, edges.size()) << model.name;
        } else {
            EXPECT_GT(border, 0u) << model.name;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 60u + 5u);  // six kinds of ten, and the checks
}

}  // namespace
}  // namespace brennix::bench
