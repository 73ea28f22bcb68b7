#include "dff/Triangles.h"

#include <new>
#include <utility>

#include "stream/Endian.h"

namespace brennix {

namespace {

// The three vertex indices of triangle t of the list: on disk the record is
// first, second, material, third (16 bits each).
void TriangleAt(const Geometry& g, size_t t, uint32_t v[3]) {
    const uint8_t* record = g.triangles + 8 * t;
    v[0] = LoadU16(record);
    v[1] = LoadU16(record + 2);
    v[2] = LoadU16(record + 6);
}

}  // namespace

TriangleCheck CheckTriangles(const Geometry& g) {
    TriangleCheck check;
    const uint32_t vertices = g.vertexCount > 0 ? static_cast<uint32_t>(g.vertexCount) : 0;
    const size_t triangles =
        g.triangles != nullptr && g.triangleCount > 0 ? static_cast<size_t>(g.triangleCount) : 0;
    bool listSound = true;
    for (size_t t = 0; t < triangles && listSound; ++t) {
        uint32_t v[3];
        TriangleAt(g, t, v);
        for (uint32_t index : v) {
            if (index >= vertices) {
                listSound = false;
                check.badTriangle = static_cast<uint32_t>(t);
                check.badVertex = index;
                break;
            }
        }
    }
    if (listSound)
        return check;
    check.source = TriangleSource::kBroken;
    check.hasBinMesh = g.hasBinMesh != 0 && g.meshes.count > 0;
    if (!check.hasBinMesh)
        return check;
    for (uint32_t m = 0; m < g.meshes.count; ++m) {
        const BinMesh* mesh = g.meshes.items[m];
        if (mesh == nullptr || mesh->indices == nullptr)
            continue;
        for (uint32_t i = 0; i < mesh->indexCount; ++i) {
            const uint32_t index = LoadU32(mesh->indices + 4 * static_cast<size_t>(i));
            if (index >= vertices) {
                check.badMesh = m;
                check.badMeshIndex = i;
                check.badMeshVertex = index;
                return check;
            }
        }
    }
    check.source = TriangleSource::kBinMesh;
    return check;
}

bool BinMeshTriangles(const Geometry& g, std::vector<MeshTriangle>* out) {
    out->clear();
    const bool strips = g.binMeshFlags == 1;
    try {
        for (uint32_t m = 0; m < g.meshes.count; ++m) {
            const BinMesh* mesh = g.meshes.items[m];
            if (mesh == nullptr || mesh->indices == nullptr || mesh->indexCount < 3)
                continue;
            auto at = [mesh](uint32_t i) { return LoadU32(mesh->indices + 4 * size_t{i}); };
            if (!strips) {
                for (uint32_t i = 0; i + 2 < mesh->indexCount; i += 3)
                    out->push_back({at(i), at(i + 1), at(i + 2), mesh->materialIndex});
                continue;
            }
            for (uint32_t i = 0; i + 2 < mesh->indexCount; ++i) {
                uint32_t a = at(i), b = at(i + 1), c = at(i + 2);
                if (a == b || b == c || a == c)
                    continue;
                if (i % 2 == 1)
                    std::swap(a, b);
                out->push_back({a, b, c, mesh->materialIndex});
            }
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return false;
    }
    return true;
}

}  // namespace brennix
