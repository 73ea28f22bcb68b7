// Distances between triangle meshes, measured by sampling points on one mesh
// and finding the nearest point of the other through a bounding-volume tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brennix {

// Triangles given as positions and three indices each, for nearest-point
// queries. The arrays are not copied and must outlive the tree.
class TriangleTree {
public:
    TriangleTree(const float* positions, const uint32_t* indices, size_t triangleCount);

    // The distance from p to the nearest triangle, or `limit` when none is
    // nearer than `limit`. Stops at the first triangle found within
    // `enough`, returning its distance. `triangle`, when given, names a
    // triangle to try first (any number at or above the count for none) and
    // receives the nearest one found (unchanged when none is within `limit`).
    double Nearest(const double p[3], double limit, double enough = 0,
                   uint32_t* triangle = nullptr) const;
    size_t TriangleCount() const { return count_; }
    // The squared distance from p to triangle `triangle` (infinity for a
    // number at or above the count).
    double DistanceSquared(uint32_t triangle, const double p[3]) const;

private:
    struct Node {
        float min[3], max[3];
        uint32_t first, count;  // leaf: triangle range in order_; else children at first, first+1
    };
    void Build();
    double TriangleDistanceSquared(uint32_t triangle, const double p[3]) const;

    const float* positions_;
    const uint32_t* indices_;
    size_t count_;
    std::vector<uint32_t> order_;
    std::vector<Node> nodes_;
};

// The largest distance from a point of the triangles `from` to the nearest
// triangle of `to`, measured at a lattice of points on each triangle: its
// corners, and points `spacing` apart along the edges and across it (at most
// 64 steps an edge). Stops early, returning a value above `stopAbove`, as
// soon as one sample is farther than that.
//
// With a finite `stopAbove`, a triangle is first shown to lie within it
// whole, without samples: the distance to one triangle of `to` is convex, so
// three corners within `stopAbove` of one triangle put every point between
// them there too; pieces of the triangle are tried where no single triangle
// holds it all. Such a triangle is measured at its corners only; the others
// are sampled.
double LargestDistance(const float* positions, const uint32_t* indices, size_t triangleCount,
                       const TriangleTree& to, double spacing, double stopAbove);

}  // namespace brennix
