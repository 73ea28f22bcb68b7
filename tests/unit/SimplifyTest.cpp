// The collision simplifier on shapes whose answer is known, measured with a
// brute-force sampler of its own.
#include <meshoptimizer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>

#include "col/MeshDistance.h"
#include "col/Simplify.h"

namespace brennix {
namespace {

struct Mesh {
    std::vector<float> positions;
    std::vector<uint32_t> indices;
    std::vector<uint8_t> surfaces;
    std::map<std::array<int, 3>, uint32_t> welded;

    uint32_t Vertex(float x, float y, float z) {
        // Welded on a fine grid, as the generator welds at 1/128.
        const std::array<int, 3> key = {static_cast<int>(std::lround(x * 128)),
                                        static_cast<int>(std::lround(y * 128)),
                                        static_cast<int>(std::lround(z * 128))};
        auto found = welded.emplace(key, static_cast<uint32_t>(positions.size() / 3));
        if (found.second)
            positions.insert(positions.end(), {key[0] / 128.0f, key[1] / 128.0f, key[2] / 128.0f});
        return found.first->second;
    }
    // An n x n grid over the quad origin + s*u + t*v, s and t in 0..1, facing
    // along u x v.
    template <typename Place>
    void Grid(int n, uint8_t surface, Place place) {
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                uint32_t c[4];
                const int di[4] = {0, 1, 1, 0}, dj[4] = {0, 0, 1, 1};
                for (int k = 0; k < 4; ++k) {
                    const std::array<float, 3> p =
                        place(static_cast<float>(i + di[k]) / n, static_cast<float>(j + dj[k]) / n);
                    c[k] = Vertex(p[0], p[1], p[2]);
                }
                // Rows that weld onto one point leave no triangle.
                for (const std::array<uint32_t, 3> t :
                     {std::array<uint32_t, 3>{c[0], c[1], c[2]}, {c[0], c[2], c[3]}}) {
                    if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2])
                        continue;
                    indices.insert(indices.end(), t.begin(), t.end());
                    surfaces.push_back(surface);
                }
            }
        }
    }
    SimplifyInput Input() const {
        SimplifyInput in;
        in.positions = positions.data();
        in.vertexCount = positions.size() / 3;
        in.indices = indices.data();
        in.surfaces = surfaces.data();
        in.triangleCount = surfaces.size();
        return in;
    }
};

// A closed box from -h to h, each side an n x n grid facing outward; the top
// side (+z) gets `top` as its surface.
Mesh TessellatedBox(float hx, float hy, float hz, int n, uint8_t top = 0) {
    Mesh m;
    const float h[3] = {hx, hy, hz};
    for (int axis = 0; axis < 3; ++axis) {
        for (int sign : {-1, 1}) {
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            const uint8_t surface = axis == 2 && sign > 0 ? top : 0;
            m.Grid(n, surface, [&](float s, float t) {
                std::array<float, 3> p{};
                p[axis] = sign * h[axis];
                // Swapping the two grid directions on the negative side
                // keeps every face turned outward.
                const float a = sign > 0 ? s : t, b = sign > 0 ? t : s;
                p[u] = (2 * a - 1) * h[u];
                p[v] = (2 * b - 1) * h[v];
                return p;
            });
        }
    }
    return m;
}

// Brute force: the largest distance from lattice points of `from` to the
// nearest triangle of `to`.
double Farthest(const std::vector<float>& pos, const std::vector<uint32_t>& from,
                const std::vector<uint32_t>& to, double spacing) {
    const TriangleTree tree(pos.data(), to.data(), to.size() / 3);
    return LargestDistance(pos.data(), from.data(), from.size() / 3, tree, spacing,
                           std::numeric_limits<double>::infinity());
}

double TwoWay(const Mesh& m, const std::vector<uint32_t>& result, double spacing) {
    return std::max(Farthest(m.positions, result, m.indices, spacing),
                    Farthest(m.positions, m.indices, result, spacing));
}

// Edges of a mesh used by other than exactly one face each way round: where
// a closed mesh has a crack or a fold.
size_t OpenEdges(const std::vector<uint32_t>& indices) {
    std::map<std::pair<uint32_t, uint32_t>, int> turns;
    for (size_t i = 0; i < indices.size(); i += 3) {
        for (int k = 0; k < 3; ++k)
            ++turns[{indices[i + k], indices[i + (k + 1) % 3]}];
    }
    size_t open = 0;
    for (const auto& edge : turns) {
        auto back = turns.find({edge.first.second, edge.first.first});
        if (edge.second != 1 || back == turns.end() || back->second != 1)
            ++open;
    }
    return open;
}

SimplifyResult Simplify(const Mesh& m, double maxError, size_t maxTriangles = 0) {
    SimplifyOptions options;
    options.maxError = maxError;
    options.maxTriangles = maxTriangles;
    SimplifyResult result;
    SimplifyMesh(m.Input(), options, &result);
    return result;
}

TEST(SimplifyTest, ATessellatedBoxBecomesTwelveOutwardFacesOfTwoSurfacesWithoutACrack) {
    for (uint8_t top : {0, 7}) {
        const Mesh box = TessellatedBox(2, 1.5f, 1, 8, top);
        ASSERT_EQ(box.surfaces.size(), 768u);
        ASSERT_EQ(OpenEdges(box.indices), 0u);
        const SimplifyResult r = Simplify(box, 0.05);
        EXPECT_EQ(r.surfaces.size(), 12u) << "top surface " << int{top};
        EXPECT_EQ(OpenEdges(r.indices), 0u);
        EXPECT_FALSE(r.beyondBound);
        EXPECT_LE(TwoWay(box, r.indices, 0.05), 0.05 + 1e-6);
        for (size_t f = 0; f < r.surfaces.size(); ++f) {
            const float* a = &box.positions[3 * r.indices[3 * f]];
            const float* b = &box.positions[3 * r.indices[3 * f + 1]];
            const float* c = &box.positions[3 * r.indices[3 * f + 2]];
            double n[3], centre[3];
            const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            n[0] = u[1] * v[2] - u[2] * v[1];
            n[1] = u[2] * v[0] - u[0] * v[2];
            n[2] = u[0] * v[1] - u[1] * v[0];
            for (int k = 0; k < 3; ++k)
                centre[k] = (a[k] + b[k] + c[k]) / 3.0;
            EXPECT_GT(n[0] * centre[0] + n[1] * centre[1] + n[2] * centre[2], 0) << "face " << f;
            const bool onTop = a[2] == 1 && b[2] == 1 && c[2] == 1;
            EXPECT_EQ(r.surfaces[f], onTop ? top : 0) << "face " << f;
        }
    }
}

// Shapes a simplifier left to its own estimate takes beyond the bound: a
// plate and a bar a little thicker than the bound, an open strip curved along
// its border, and a flat sheet with a wavy border.
// The check shows whole triangles within the bound without sampling them;
// it must still find every place where they stray, as a dense sampler does.
TEST(SimplifyTest, TrianglesShownWithinTheBoundAreWithinItEverywhere) {
    using Place = std::array<float, 3> (*)(float, float);
    struct Case {
        const char* what;
        int fromCells, toCells;
        Place from, to;
        bool within;  // at 0.05
    };
    const Place flat = [](float s, float t) { return std::array<float, 3>{10 * s, 10 * t, 0}; };
    const Case cases[] = {
        {"raised 0.04", 1, 40, flat,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t, 0.04f};
         },
         true},
        {"raised 0.06", 1, 40, flat,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t, 0.06f};
         },
         false},
        {"a low ridge", 1, 40, flat,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t, 0.045f * (1 - std::fabs(2 * s - 1))};
         },
         true},
        {"a high ridge", 1, 40, flat,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t, 0.2f * (1 - std::fabs(2 * s - 1))};
         },
         false},
        // Away from the centres of the two large triangles, which are
        // looked at first.
        {"a narrow ridge", 1, 40, flat,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t,
                                         std::max(0.0f, 0.1f - 0.4f * std::fabs(10 * s - 9))};
         },
         false},
        {"a fine ridge over a plane", 40, 1,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t, 0.2f * (1 - std::fabs(2 * s - 1))};
         },
         flat, false},
        {"a sheet folded along a line", 40, 40,
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t, s > 0.5f ? 0.5f * (s - 0.5f) : 0.0f};
         },
         [](float s, float t) {
             return std::array<float, 3>{10 * s, 10 * t,
                                         0.03f + (s > 0.5f ? 0.5f * (s - 0.5f) : 0.0f)};
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Mesh m;
        m.Grid(c.fromCells, 0, c.from);
        const std::vector<uint32_t> from = m.indices;
        m.indices.clear();
        m.Grid(c.toCells, 0, c.to);
        const TriangleTree to(m.positions.data(), m.indices.data(), m.indices.size() / 3);
        const double fast =
            LargestDistance(m.positions.data(), from.data(), from.size() / 3, to, 0.025, 0.05);
        const double dense = Farthest(m.positions, from, m.indices, 0.01);
        EXPECT_EQ(fast <= 0.05, c.within) << fast;
        EXPECT_EQ(dense <= 0.05, c.within) << dense;
        if (c.within) {
            EXPECT_LE(fast, dense + 1e-6);
        }
    }
}

TEST(SimplifyTest, TheMeasuredCheckHoldsWhereTheSimplifiersEstimateDoesNot) {
    struct Case {
        const char* what;
        Mesh mesh;
    };
    Mesh strip;
    strip.Grid(24, 0, [](float s, float t) {
        const float angle = 3.14159265f * s;
        return std::array<float, 3>{2 * std::cos(angle), 2 * std::sin(angle), 0.3f * t};
    });
    Mesh ribbon;  // a wavy open border on a flat sheet
    ribbon.Grid(32, 0, [](float s, float t) {
        return std::array<float, 3>{4 * s, t * (1 + 0.08f * std::sin(12 * s)), 0};
    });
    const Case cases[] = {
        {"thin plate", TessellatedBox(3, 3, 0.03f, 12)},
        {"thin bar", TessellatedBox(6, 0.04f, 0.04f, 24)},
        {"curved open strip", strip},
        {"wavy border", ribbon},
    };
    const double bound = 0.05;
    for (const Case& c : cases) {
        const SimplifyResult r = Simplify(c.mesh, bound);
        EXPECT_LT(r.surfaces.size(), c.mesh.surfaces.size()) << c.what;
        EXPECT_LE(TwoWay(c.mesh, r.indices, bound / 4), bound + 1e-6) << c.what;
        EXPECT_LE(r.maxDistance, bound) << c.what;
        // Unchecked, the same simplifier at the same bound goes past it.
        std::vector<uint32_t> naive(c.mesh.indices.size());
        const float scale =
            meshopt_simplifyScale(c.mesh.positions.data(), c.mesh.positions.size() / 3, 12);
        naive.resize(meshopt_simplify(naive.data(), c.mesh.indices.data(), c.mesh.indices.size(),
                                      c.mesh.positions.data(), c.mesh.positions.size() / 3, 12, 3,
                                      static_cast<float>(bound / scale), 0, nullptr));
        EXPECT_GT(TwoWay(c.mesh, naive, bound / 4), bound) << c.what << ": not a hard case";
    }
}

TEST(SimplifyTest, LimitsGoPastTheBoundAndSayHowFar) {
    // Rough ground: heights that no simplification within 0.05 can flatten.
    Mesh ground;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> height(0, 1);
    std::map<std::pair<int, int>, float> heights;
    ground.Grid(20, 0, [&](float s, float t) {
        const auto key = std::make_pair(static_cast<int>(std::lround(s * 20)),
                                        static_cast<int>(std::lround(t * 20)));
        auto found = heights.emplace(key, height(random)).first;
        return std::array<float, 3>{10 * s, 10 * t, found->second};
    });
    const SimplifyResult free = Simplify(ground, 0.05);
    EXPECT_FALSE(free.beyondBound);
    EXPECT_GT(free.surfaces.size(), 400u);

    const SimplifyResult limited = Simplify(ground, 0.05, 60);
    EXPECT_LE(limited.surfaces.size(), 60u);
    EXPECT_TRUE(limited.beyondBound);
    EXPECT_FALSE(limited.overLimits);
    EXPECT_GT(limited.maxDistance, 0.05);
    // The distance reported is the distance there is, to within the sampling.
    EXPECT_NEAR(TwoWay(ground, limited.indices, 0.05), limited.maxDistance,
                0.05 + 0.05 * limited.maxDistance);

    const SimplifyResult exact = Simplify(ground, 0);
    EXPECT_EQ(exact.indices, ground.indices);
    EXPECT_EQ(exact.maxDistance, 0);
}

}  // namespace
}  // namespace brennix

namespace brennix {
namespace {

// Large cells on a gentle curve: most samples lie farther from the bound
// than their spacing allows, and the check must still pass what is within it.
TEST(SimplifyTest, AGentleCurveOfLargeCellsSimplifies) {
    Mesh wave;
    wave.Grid(30, 0, [](float s, float t) {
        return std::array<float, 3>{60 * s, 60 * t, 3 * std::sin(3 * s) * std::cos(2 * t)};
    });
    const SimplifyResult r = Simplify(wave, 0.05);
    EXPECT_LT(r.surfaces.size(), wave.surfaces.size() * 3 / 4);
    EXPECT_LE(TwoWay(wave, r.indices, 0.05 / 4), 0.05 + 1e-6);
}

}  // namespace
}  // namespace brennix
