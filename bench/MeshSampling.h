// Distances between triangle meshes, measured by dense sampling: points on
// every face of one mesh, and each point's distance to the nearest triangle
// of the other, found through a uniform grid. Written for checking the
// collision generator's distance bound from outside, so it shares nothing
// with the generator's own measurement.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "col/ColModel.h"

namespace brennix::bench {

struct Mesh {
    std::vector<double> positions;  // three a vertex
    std::vector<uint32_t> indices;  // three a triangle, each below the vertex count
    size_t TriangleCount() const { return indices.size() / 3; }
};

// The faces of a collision model, its vertices in model units (1/128 steps).
Mesh DecodeFaces(const ColModel& col);

struct V3 {
    double x, y, z;
};

inline V3 operator-(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline V3 operator+(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline V3 operator*(double s, V3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
inline double Dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline V3 Cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

V3 Corner(const Mesh& mesh, size_t triangle, int corner);

struct Triangle {
    V3 a, b, c;
    V3 normal;       // not of unit length
    double normal2;  // its squared length; 0 for a triangle (nearly) without area
};

Triangle MakeTriangle(V3 a, V3 b, V3 c);

// The squared distance from p to the nearest point of the triangle.
double DistanceSquared(V3 p, const Triangle& t);

// The triangles of a mesh in a uniform grid of cubes, each triangle in every
// cell its bounding box meets. Queries keep scratch state: one thread a grid.
class TriangleGrid {
public:
    explicit TriangleGrid(const Mesh& mesh);

    // The distance from p to the nearest triangle (infinity for a mesh
    // without triangles); or, once a triangle within `enough` of p is found,
    // that triangle's distance. The largest distance over many points stays
    // exact when `enough` is the largest so far, and most points then end at
    // the first triangle tried.
    double Nearest(V3 p, double enough = 0);

private:
    size_t Index(int x, int y, int z) const;
    void CellRange(const Triangle& t, int from[3], int to[3]) const;
    uint64_t Entries() const;
    void Fill();

    std::vector<Triangle> triangles_;
    double origin_[3] = {0, 0, 0};
    double cell_ = 1;
    int dims_[3] = {1, 1, 1};
    std::vector<uint32_t> start_;    // per cell, into entries_
    std::vector<uint32_t> entries_;  // triangle indices
    std::vector<uint32_t> stamps_;   // per triangle: the query that last tried it
    uint32_t stamp_ = 0;
    size_t last_ = std::numeric_limits<size_t>::max();  // the triangle that answered last
};

// Calls visit(p) for points on the triangle, no point of the triangle
// farther than `spacing` from one of them: rows parallel to the longest edge
// at most `spacing` apart, each row's points at most `spacing` apart, the
// corners and edges included. A triangle without area is its longest edge.
template <class Visit>
void SampleTriangle(V3 a, V3 b, V3 c, double spacing, Visit&& visit) {
    // Turn the corners so that the longest edge runs from a to b.
    const double ab = Dot(b - a, b - a), bc = Dot(c - b, c - b), ca = Dot(a - c, a - c);
    if (bc >= ab && bc >= ca) {
        const V3 first = a;
        a = b;
        b = c;
        c = first;
    } else if (ca >= ab && ca >= bc) {
        const V3 first = a;
        a = c;
        c = b;
        b = first;
    }
    const V3 base = b - a;
    const double length = std::sqrt(Dot(base, base));
    const V3 area = Cross(base, c - a);
    const double height = length > 0 ? std::sqrt(Dot(area, area)) / length : 0;
    const int rows = static_cast<int>(std::ceil(height / spacing));
    for (int r = 0; r <= rows; ++r) {
        const double t = rows > 0 ? static_cast<double>(r) / rows : 0;
        const V3 from = a + t * (c - a), to = b + t * (c - b);
        const int steps = static_cast<int>(std::ceil((1 - t) * length / spacing));
        for (int s = 0; s <= steps; ++s)
            visit(steps > 0 ? from + (static_cast<double>(s) / steps) * (to - from) : from);
    }
}

// The largest distance from a point of `from` (sampled as above) to the
// nearest triangle of `to`; `samples` counts the points tried.
double LargestDistance(const Mesh& from, TriangleGrid& to, double spacing, uint64_t* samples);

}  // namespace brennix::bench
