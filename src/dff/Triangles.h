// A geometry's triangles, from its own triangle list or, when that list names
// a vertex the geometry lacks, from its Bin Mesh, as other readers draw it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dff/Geometry.h"

namespace brennix {

enum class TriangleSource {
    kList,     // the triangle list is sound (it may be empty)
    kBinMesh,  // the list names a missing vertex; the Bin Mesh is sound
    kBroken,   // the list names a missing vertex and there is no sound Bin Mesh
};

struct TriangleCheck {
    TriangleSource source = TriangleSource::kList;
    // The first triangle of the list that names a missing vertex, and that
    // vertex (when source is not kList).
    uint32_t badTriangle = 0;
    uint32_t badVertex = 0;
    // Why the Bin Mesh cannot stand in (source kBroken): "no Bin Mesh", or the
    // mesh and index that name a missing vertex.
    bool hasBinMesh = false;
    uint32_t badMesh = 0;
    uint32_t badMeshIndex = 0;
    uint32_t badMeshVertex = 0;
};

// Checks the triangle list and, where needed, the Bin Mesh against the
// vertex count. Linear in their sizes; allocates nothing.
TriangleCheck CheckTriangles(const Geometry& geometry);

struct MeshTriangle {
    uint32_t a, b, c;  // vertex indices, in the order the list would hold them
    uint32_t material;
};

// The triangles of a sound Bin Mesh: lists as they are, strips unrolled with
// every other triangle turned so all face one way, and the degenerate
// triangles that join strips left out. False when memory runs out.
bool BinMeshTriangles(const Geometry& geometry, std::vector<MeshTriangle>* out);

}  // namespace brennix
