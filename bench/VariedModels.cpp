#include "VariedModels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace brennix::bench {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The most triangles one model holds, all atomics together: well below the
// 65535 faces a COL3 file holds, so that the exact collision can be written.
constexpr double kMostTriangles = 40000;
constexpr double kFewestTriangles = 60;

// PCG32 (O'Neill): small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) {
        Next();
        state_ += seed;
        Next();
    }
    uint32_t Next() {
        const uint64_t old = state_;
        state_ = old * 6364136223846793005ull + 1442695040888963407ull;
        const uint32_t shifted = static_cast<uint32_t>(((old >> 18) ^ old) >> 27);
        const uint32_t rotation = static_cast<uint32_t>(old >> 59);
        return (shifted >> rotation) | (shifted << ((32 - rotation) & 31));
    }
    // In [0, 1), 24 bits.
    double Unit() { return static_cast<double>(Next() >> 8) * (1.0 / 16777216.0); }
    double Between(double low, double high) { return low + (high - low) * Unit(); }
    // In [low, high], both included.
    int Int(int low, int high) {
        return low + static_cast<int>(Next() % static_cast<uint32_t>(high - low + 1));
    }
    // Spread evenly on a log scale between low and high.
    double LogBetween(double low, double high) {
        return std::exp(Between(std::log(low), std::log(high)));
    }

private:
    uint64_t state_ = 0;
};

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(double s, Vec a) {
    return {s * a.x, s * a.y, s * a.z};
}

double DistanceSquared(const test::Vec3& a, const test::Vec3& b) {
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

int Clamp(double value, int low, int high) {
    return static_cast<int>(std::max<double>(low, std::min<double>(high, std::round(value))));
}

// One geometry: patches of quads, two triangles each, with the material of
// each cell. Triangles left with two corners on one point (at the poles of a
// sphere, the centre of a disc) are left out.
class MeshBuilder {
public:
    // nu x nv cells over (u, v) in [0, 1]^2, placed by at(u, v). The cells
    // run so that cross(d/du, d/dv) is the outward side. material(i, j) < 0
    // leaves the cell out (a hole).
    template <class At, class Material>
    void Patch(int nu, int nv, At at, Material material) {
        const uint32_t first = static_cast<uint32_t>(positions_.size());
        for (int j = 0; j <= nv; ++j) {
            for (int i = 0; i <= nu; ++i) {
                const Vec p = at(static_cast<double>(i) / nu, static_cast<double>(j) / nv);
                positions_.push_back(
                    {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
            }
        }
        auto corner = [&](int i, int j) {
            return first + static_cast<uint32_t>(j) * static_cast<uint32_t>(nu + 1) +
                   static_cast<uint32_t>(i);
        };
        for (int j = 0; j < nv; ++j) {
            for (int i = 0; i < nu; ++i) {
                const int m = material(i, j);
                if (m < 0)
                    continue;
                materials_ = std::max(materials_, m + 1);
                Add(corner(i, j), corner(i + 1, j), corner(i + 1, j + 1), m);
                Add(corner(i, j), corner(i + 1, j + 1), corner(i, j + 1), m);
            }
        }
    }

    size_t TriangleCount() const { return triangles_.size(); }

    test::GeometrySpec Geometry() const {
        test::GeometrySpec g = test::MakeGeometryWithPositions(positions_, triangles_);
        g.materials.clear();
        for (int m = 0; m < materials_; ++m)
            g.materials.push_back(test::MakeMaterial("surf" + std::to_string(m)));
        return g;
    }

private:
    void Add(uint32_t a, uint32_t b, uint32_t c, int material) {
        constexpr double kSamePoint = 1e-10;
        if (DistanceSquared(positions_[a], positions_[b]) < kSamePoint ||
            DistanceSquared(positions_[b], positions_[c]) < kSamePoint ||
            DistanceSquared(positions_[c], positions_[a]) < kSamePoint) {
            return;
        }
        test::Triangle t;
        t.v1 = static_cast<uint16_t>(a);
        t.v2 = static_cast<uint16_t>(b);
        t.v3 = static_cast<uint16_t>(c);
        t.materialIndex = static_cast<uint16_t>(material);
        triangles_.push_back(t);
    }

    std::vector<test::Vec3> positions_;
    std::vector<test::Triangle> triangles_;
    int materials_ = 1;
};

// A box centred on the origin, each face a grid of cells about `perUnit`
// to the unit (counts per axis given), face f of material f % materials.
// Without its top (+z) face when `open`.
void AddBox(MeshBuilder& mesh, Vec size, const int n[3], int materials, bool open) {
    const Vec low = -0.5 * size;
    const Vec axis[3] = {{size.x, 0, 0}, {0, size.y, 0}, {0, 0, size.z}};
    struct Face {
        int u, v;   // axes along u and v, ordered so that cross(u, v) faces outwards
        int along;  // the axis the face lies across
        bool high;  // on the high side of that axis
    };
    const Face faces[6] = {{1, 0, 2, false}, {0, 1, 2, true},  {0, 2, 1, false},
                           {2, 0, 1, true},  {2, 1, 0, false}, {1, 2, 0, true}};
    for (int f = 0; f < 6; ++f) {
        const Face& face = faces[f];
        if (open && face.along == 2 && face.high)
            continue;
        const Vec origin = face.high ? low + axis[face.along] : low;
        const Vec du = axis[face.u], dv = axis[face.v];
        mesh.Patch(
            n[face.u], n[face.v], [&](double u, double v) { return origin + u * du + v * dv; },
            [&](int, int) { return f % materials; });
    }
}

// Cells per axis for a box of this size to hold about `triangles`.
void BoxDivisions(Vec size, double triangles, int n[3], int fewestAcrossZ = 1) {
    const double area = size.x * size.y + size.y * size.z + size.x * size.z;
    const double perUnit = std::sqrt(triangles / (4 * area));
    n[0] = Clamp(size.x * perUnit, 1, 180);
    n[1] = Clamp(size.y * perUnit, 1, 180);
    n[2] = Clamp(size.z * perUnit, fewestAcrossZ, 180);
}

void MakeBox(MeshBuilder& mesh, Random& rng, double triangles, int materials) {
    const Vec size = {rng.Between(0.3, 8), rng.Between(0.3, 8), rng.Between(0.3, 8)};
    int n[3];
    BoxDivisions(size, triangles, n);
    AddBox(mesh, size, n, materials, false);
}

void MakePlate(MeshBuilder& mesh, Random& rng, double triangles, int materials) {
    // Some plates are thinner than the default error bound, some thicker.
    const Vec size = {rng.Between(1, 12), rng.Between(1, 12), rng.Between(0.01, 0.12)};
    const double perUnit = std::sqrt(triangles / (4 * size.x * size.y));
    const int n[3] = {Clamp(size.x * perUnit, 1, 140), Clamp(size.y * perUnit, 1, 140), 1};
    AddBox(mesh, size, n, materials, false);
}

void MakeTerrain(MeshBuilder& mesh, Random& rng, double triangles, int materials) {
    const double ex = rng.Between(2, 16), ey = rng.Between(2, 16);
    const double perUnit = std::sqrt(triangles / (2 * ex * ey));
    const int nx = Clamp(ex * perUnit, 2, 140), ny = Clamp(ey * perUnit, 2, 140);
    // Relief: three waves, a flat floor below some level, and a fine noise
    // below the default error bound.
    const double amplitude = rng.LogBetween(0.02, 3);
    double fx[3], fy[3], phase[3], weight[3];
    for (int k = 0; k < 3; ++k) {
        fx[k] = rng.Between(-1.5, 1.5);
        fy[k] = rng.Between(-1.5, 1.5);
        phase[k] = rng.Between(0, 2 * kPi);
        weight[k] = rng.Between(0.2, 1) / (k + 1);
    }
    const double floor = rng.Unit() < 0.5 ? rng.Between(-0.5, 0.2) * amplitude : -1e9;
    const double noise = rng.Unit() < 0.4 ? rng.Between(0, 0.01) : 0;
    mesh.Patch(
        nx, ny,
        [&](double u, double v) {
            const double x = (u - 0.5) * ex, y = (v - 0.5) * ey;
            double h = 0;
            for (int k = 0; k < 3; ++k)
                h += weight[k] * std::sin(fx[k] * x + fy[k] * y + phase[k]);
            h = std::max(h * amplitude, floor) + noise * (rng.Unit() - 0.5);
            return Vec{x, y, h};
        },
        [&](int i, int j) { return (2 * i / nx + 2 * j / ny) % materials; });
}

void MakeCylinder(MeshBuilder& mesh, Random& rng, double triangles, int materials) {
    const double r = rng.Between(0.2, 4), height = rng.Between(0.5, 8);
    // Side cells about square; the caps take about a fifth of the triangles.
    const double side = 2 * kPi * r * height;
    const double perUnit = std::sqrt(0.8 * triangles / (2 * side));
    const int segments = Clamp(2 * kPi * r * perUnit, 8, 160);
    const int rings = Clamp(height * perUnit, 1, 160);
    // The caps (two triangles a cell, two caps) stay within a fifth.
    const int across = Clamp(std::min(r * perUnit, 0.05 * triangles / segments), 1, 40);
    mesh.Patch(
        segments, rings,
        [&](double u, double v) {
            const double a = 2 * kPi * u;
            return Vec{r * std::cos(a), r * std::sin(a), (v - 0.5) * height};
        },
        [&](int, int) { return 0; });
    const int capMaterial = materials > 1 ? 1 : 0;
    // Top: u along the radius, v around, so that the top faces +z.
    mesh.Patch(
        across, segments,
        [&](double u, double v) {
            const double a = 2 * kPi * v;
            return Vec{u * r * std::cos(a), u * r * std::sin(a), 0.5 * height};
        },
        [&](int, int) { return capMaterial; });
    mesh.Patch(
        segments, across,
        [&](double u, double v) {
            const double a = 2 * kPi * u;
            return Vec{v * r * std::cos(a), v * r * std::sin(a), -0.5 * height};
        },
        [&](int, int) { return materials > 2 ? 2 : capMaterial; });
}

void MakeSphere(MeshBuilder& mesh, Random& rng, double triangles, int materials) {
    const double r = rng.Between(0.2, 5);
    // Some are stretched into ellipsoids.
    const bool stretched = rng.Unit() < 0.4;
    const Vec scale =
        stretched ? Vec{rng.Between(0.5, 1.5), rng.Between(0.5, 1.5), 1} : Vec{1, 1, 1};
    const int rings = Clamp(std::sqrt(triangles / 4), 4, 120);
    const int segments = Clamp(2.0 * rings, 6, 240);
    mesh.Patch(
        segments, rings,
        [&](double u, double v) {
            const double a = 2 * kPi * u, b = kPi * (v - 0.5);
            return Vec{scale.x * r * std::cos(b) * std::cos(a),
                       scale.y * r * std::cos(b) * std::sin(a), r * std::sin(b)};
        },
        [&](int, int j) { return (2 * j / rings) % materials; });
}

// Open surfaces, each with a border the collision must keep.
void MakeSheet(MeshBuilder& mesh, Random& rng, double triangles, int materials) {
    const int variant = rng.Int(0, 3);
    const double ex = rng.Between(2, 12), ey = rng.Between(2, 12);
    const double perUnit = std::sqrt(triangles / (2 * ex * ey));
    const int nx = Clamp(ex * perUnit, 2, 140), ny = Clamp(ey * perUnit, 2, 140);
    switch (variant) {
        case 0: {  // a wavy sheet
            const double a = rng.Between(0.05, 1), k = rng.Between(0.3, 2), l = rng.Between(0.3, 2);
            mesh.Patch(
                nx, ny,
                [&](double u, double v) {
                    const double x = (u - 0.5) * ex, y = (v - 0.5) * ey;
                    return Vec{x, y, a * std::sin(k * x) * std::cos(l * y)};
                },
                [&](int i, int) { return (3 * i / nx) % materials; });
            break;
        }
        case 1: {  // part of a cylinder, a curved roof
            const double r = rng.Between(1, 6), sweep = rng.Between(kPi / 3, kPi);
            mesh.Patch(
                nx, ny,
                [&](double u, double v) {
                    const double angle = (u - 0.5) * sweep;
                    return Vec{r * std::sin(angle), (v - 0.5) * ey, r * std::cos(angle)};
                },
                [&](int, int j) { return (2 * j / ny) % materials; });
            break;
        }
        case 2: {  // a box without its top
            const Vec size = {ex * 0.6, ey * 0.6, rng.Between(0.5, 5)};
            int n[3];
            BoxDivisions(size, triangles, n);
            AddBox(mesh, size, n, materials, true);
            break;
        }
        default: {  // a flat square with a square hole
            const int hx0 = nx / 3, hx1 = 2 * nx / 3, hy0 = ny / 3, hy1 = 2 * ny / 3;
            mesh.Patch(
                nx, ny,
                [&](double u, double v) {
                    return Vec{(u - 0.5) * ex, (v - 0.5) * ey, 0};
                },
                [&](int i, int j) {
                    if (i >= hx0 && i < hx1 && j >= hy0 && j < hy1)
                        return -1;
                    return (i < nx / 2 ? 0 : 1) % materials;
                });
            break;
        }
    }
}

using ShapeMaker = void (*)(MeshBuilder&, Random&, double, int);

// A rotation by `angle` about a random axis, as the 3 x 3 matrix of a frame.
std::array<float, 9> RandomRotation(Random& rng) {
    Vec axis = {rng.Between(-1, 1), rng.Between(-1, 1), rng.Between(-1, 1)};
    double length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    if (length < 1e-3) {
        axis = {0, 0, 1};
        length = 1;
    }
    const double x = axis.x / length, y = axis.y / length, z = axis.z / length;
    const double angle = rng.Between(0, 2 * kPi);
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    const double m[9] = {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,
                         t * x * y + s * z, t * y * y + c,     t * y * z - s * x,
                         t * x * z - s * y, t * y * z + s * x, t * z * z + c};
    std::array<float, 9> out;
    for (int i = 0; i < 9; ++i)
        out[static_cast<size_t>(i)] = static_cast<float>(m[i]);
    return out;
}

// Several atomics, each a shape of its own on a frame turned and moved from
// its parent's.
test::ClumpSpec MakeAssembly(Random& rng, double triangles, uint32_t* count) {
    const ShapeMaker parts[] = {MakeBox, MakeCylinder, MakeSphere, MakePlate, MakeSheet};
    const int atomics = rng.Int(2, 5);
    test::FrameListSpec frames;
    frames.frames.push_back(test::MakeFrame("root"));
    test::GeometryListSpec list;
    *count = 0;
    for (int a = 0; a < atomics; ++a) {
        MeshBuilder mesh;
        const ShapeMaker make = parts[rng.Int(0, 4)];
        const int materials = rng.Int(1, 3);
        make(mesh, rng, triangles / atomics, materials);
        list.geometries.push_back(mesh.Geometry());
        *count += static_cast<uint32_t>(mesh.TriangleCount());
        // The parent is the root or an earlier part: chains as well as fans.
        const int parent = a == 0 ? 0 : rng.Int(0, a);
        test::FrameSpec frame = test::MakeFrame("part" + std::to_string(a), parent);
        frame.rotation = RandomRotation(rng);
        frame.position = {static_cast<float>(rng.Between(-6, 6)),
                          static_cast<float>(rng.Between(-6, 6)),
                          static_cast<float>(rng.Between(-3, 3))};
        frames.frames.push_back(frame);
    }
    return test::MakeMultiAtomicModel(frames, list);
}

ShapeModel OneGeometry(const std::string& name, const std::string& kind, const MeshBuilder& mesh) {
    ShapeModel model;
    model.name = name;
    model.kind = kind;
    model.plan.FirstGeometry() = mesh.Geometry();
    model.triangles = static_cast<uint32_t>(mesh.TriangleCount());
    return model;
}

}  // namespace

std::vector<ShapeModel> MakeVariedModels(int count, uint32_t seed) {
    struct Kind {
        const char* name;
        ShapeMaker make;  // null: an assembly
    };
    const Kind kinds[] = {{"box", MakeBox},           {"terrain", MakeTerrain},
                          {"cylinder", MakeCylinder}, {"sphere", MakeSphere},
                          {"plate", MakePlate},       {"sheet", MakeSheet},
                          {"assembly", nullptr}};
    constexpr int kKinds = sizeof kinds / sizeof kinds[0];
    std::vector<ShapeModel> models;
    for (int i = 0; i < count; ++i) {
        // Each model from its own stream: model i is the same whatever the count.
        Random rng(static_cast<uint64_t>(seed) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(i));
        const Kind& kind = kinds[i % kKinds];
        const double triangles = rng.LogBetween(kFewestTriangles, kMostTriangles * 0.75);
        const int materials = rng.Int(1, 3);
        char name[32];
        std::snprintf(name, sizeof name, "v%03d%s", i, kind.name);
        if (kind.make == nullptr) {
            ShapeModel model;
            model.name = name;
            model.kind = kind.name;
            model.plan = MakeAssembly(rng, triangles, &model.triangles);
            models.push_back(std::move(model));
            continue;
        }
        MeshBuilder mesh;
        kind.make(mesh, rng, triangles, materials);
        models.push_back(OneGeometry(name, kind.name, mesh));
    }
    return models;
}

std::vector<ShapeModel> MakeCheckShapes() {
    std::vector<ShapeModel> shapes;
    {
        MeshBuilder mesh;
        const int n[3] = {8, 8, 8};
        AddBox(mesh, {2, 2, 2}, n, 1, false);
        shapes.push_back(OneGeometry("tessellatedbox", "check", mesh));
    }
    {
        MeshBuilder mesh;
        const int n[3] = {16, 16, 1};
        AddBox(mesh, {4, 4, 0.02}, n, 1, false);
        shapes.push_back(OneGeometry("thinplate", "check", mesh));
    }
    {
        MeshBuilder mesh;
        mesh.Patch(
            16, 16,
            [](double u, double v) {
                return Vec{4 * u, 4 * v, 0};
            },
            [](int, int) { return 0; });
        shapes.push_back(OneGeometry("openborder", "check", mesh));
    }
    {
        // Two surfaces meeting at an edge folded by 60 degrees.
        MeshBuilder mesh;
        const double c = std::cos(kPi / 3), s = std::sin(kPi / 3);
        mesh.Patch(
            8, 16,
            [](double u, double v) {
                return Vec{-2 * u, 4 * v, 0};
            },
            [](int, int) { return 0; });
        mesh.Patch(
            8, 16,
            [&](double u, double v) {
                return Vec{2 * u * c, 4 * v, 2 * u * s};
            },
            [](int, int) { return 1; });
        shapes.push_back(OneGeometry("foldededge", "check", mesh));
    }
    {
        // Two surfaces side by side in one plane.
        MeshBuilder mesh;
        mesh.Patch(
            16, 16,
            [](double u, double v) {
                return Vec{4 * u, 4 * v, 0};
            },
            [](int i, int) { return i < 8 ? 0 : 1; });
        shapes.push_back(OneGeometry("sharededge", "check", mesh));
    }
    return shapes;
}

std::string VariedSurfaceRules() {
    return "# texture surfN: surface N\nsurf1 = 1\nsurf2 = 2\nsurf3 = 3\n";
}

}  // namespace brennix::bench
