// Lighter collision meshes: a welded triangle mesh reduced with
// meshoptimizer, region by region, within a distance bound that is checked by
// measuring both meshes against each other rather than trusted from the
// simplifier's own estimate.
//
// Nothing here prints or keeps state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brennix {

struct SimplifyInput {
    const float* positions = nullptr;  // three floats a vertex, model units
    size_t vertexCount = 0;
    const uint32_t* indices = nullptr;  // three a triangle, each below vertexCount
    const uint8_t* surfaces = nullptr;  // one a triangle
    size_t triangleCount = 0;
};

struct SimplifyOptions {
    // The bound, in model units, on the two-sided distance between the input
    // and the result. 0 returns the input's triangles.
    double maxError = 0.05;
    // At most this many triangles (0: no limit). Reached by going past
    // maxError when it must be.
    size_t maxTriangles = 0;
    // At most this many distinct vertices used (0: no limit); as maxTriangles.
    size_t maxVertices = 0;
};

struct SimplifyResult {
    std::vector<uint32_t> indices;  // into the input's vertices, same winding
    std::vector<uint8_t> surfaces;  // one a triangle, from the triangle it stands for
    // Largest distance measured between input and result, both ways.
    double maxDistance = 0;
    // The limits of the options could not be met within maxError.
    bool beyondBound = false;
    // The limits could not be met at all (the result is the lightest found).
    bool overLimits = false;
};

// Reduces the triangles. The input must hold no degenerate triangle (three
// distinct vertex indices with distinct positions). The result names only
// input vertices, holds no degenerate or repeated triangle, and keeps every
// triangle's surface; where two surfaces meet, both sides keep the edge they
// share. The same input gives the same result on every run and platform.
// Throws std::bad_alloc when memory runs out.
void SimplifyMesh(const SimplifyInput& input, const SimplifyOptions& options,
                  SimplifyResult* result);

}  // namespace brennix
