// Reading the Geometry List and the Geometry Struct body.
#include <cstdlib>
#include <cstring>
#include <new>

#include "dff/DffModel.h"
#include "dff/ReadArray.h"
#include "stream/Endian.h"

namespace brennix {

int32_t DffModel::ReadGeometryList() {
    if (geometryList == nullptr)
        return 0;
    ByteBuffer& list = geometryList->payload;
    list.Rewind();

    uint32_t structType = list.ReadU32();
    uint32_t structSize = list.ReadU32();
    list.ReadU32();
    if (structType != kTypeStruct || structSize != 4) {
        LatchError(*this, kErrorUnexpectedChunk);
        return 0;
    }
    if (list.ReadU32() != 1) {
        LatchError(*this, kErrorGeometryCount);
        return 0;
    }
    bool outOfMemory = false;
    Chunk* chunk = ReadChunk(list, &outOfMemory);
    if (chunk == nullptr) {
        if (!outOfMemory)
            return 1;
        LatchError(*this, kErrorGeometryData);
        return 0;
    }
    if (chunk->type != kTypeGeometry) {
        DestroyChunk(chunk);
        return 1;
    }
    uint8_t header[kChunkHeaderSize];
    chunk->payload.Read(header, kChunkHeaderSize);
    if (LoadU32(header) != kTypeStruct) {
        DestroyChunk(chunk);
        return 1;
    }
    Geometry* geometry = new (std::nothrow) Geometry();
    if (geometry == nullptr) {
        DestroyChunk(chunk);
        LatchError(*this, kErrorGeometryData);
        return 0;
    }
    geometry->Init();
    geometry->copyArrays = copyArrays;
    bool ok = geometry->Read(chunk->payload, chunk->stampHigh);
    if (ok && geometries.Add(geometry) < 0) {
        LatchError(*geometry, kErrorGeometryData);
        ok = false;
    }
    if (!ok) {
        if (errorCode == 0)
            errorCode = geometry->errorCode;
        errorDetail = geometry->errorDetail;
        geometry->Release();
        delete geometry;
    }
    // The kept chunks of the geometry view the file's bytes, not this record.
    DestroyChunk(chunk);
    return ok ? 1 : 0;
}

void Geometry::Init() {
    copyArrays = kArraysViewFile ? 0 : 1;
    colorsChanged = 0;
    readOptions = 0;
    errorCode = 0;
    errorDetail = 0;
    formatFlags = 0;
    formatHigh = 0;
    triangleCount = 0;
    vertexCount = 0;
    morphTargetCount = 0;
    hasPrelit = 0;
    hasNight = 0;
    prelitColors = nullptr;
    nightColors = nullptr;
    texCoords = nullptr;
    texCoordSets = 0;
    triangles = nullptr;
    std::memset(boundingSphere, 0, sizeof boundingSphere);
    hasPositions = 0;
    hasNormals = 0;
    positions = nullptr;
    normals = nullptr;
    materialListChunk = nullptr;
    extensionChunk = nullptr;
    materialCount = 0;
    materials = PointerArray<Material>();
    hasBinMesh = 0;
    binMeshFlags = 0;
    meshCount = 0;
    meshIndexTotal = 0;
    meshes = PointerArray<BinMesh>();
    boneCount = 0;
    usedBoneCount = 0;
    oldSkinLayout = 0;
    maxWeightsPerVertex = 0;
    skinPadding = 0;
    usedBones = nullptr;
    vertexBoneIndices = nullptr;
    vertexBoneWeights = nullptr;
    inverseBoneMatrices = nullptr;
    std::memset(skinTrailer, 0, sizeof skinTrailer);
    ownsPrelit = ownsNight = ownsTexCoords = ownsTriangles = ownsPositions = ownsNormals = 0;
    ownsUsedBones = ownsBoneIndices = ownsBoneWeights = ownsInverseMatrices = 0;
}

void Geometry::Release() {
    // Frees the arrays the record owns; views are only let go.
    ForEachArray([](uint8_t*& array, uint8_t& owns, uint64_t) {
        if (owns)
            std::free(array);
        array = nullptr;
        owns = 0;
    });
    texCoordSets = 0;
    DestroyChunk(materialListChunk);
    DestroyChunk(extensionChunk);
    for (uint32_t i = 0; i < materials.count; ++i)
        delete materials.items[i];
    materials.Resize(0);
    for (uint32_t i = 0; i < meshes.count; ++i)
        delete meshes.items[i];
    meshes.Resize(0);
}

bool Geometry::Read(ByteBuffer& payload, uint16_t stampHigh) {
    formatFlags = payload.ReadU16();
    formatHigh = payload.ReadU16();
    triangleCount = static_cast<int32_t>(payload.ReadU32());
    vertexCount = static_cast<int32_t>(payload.ReadU32());
    morphTargetCount = payload.ReadU32();

    // Stamps below version 3.4 (and old-style stamps whose upper half is 0)
    // carry a lighting block that nothing uses.
    uint16_t version = static_cast<uint16_t>((stampHigh >> 6) + 0x300);
    if (version < 0x340)
        payload.Skip(12);

    if (payload.atEnd) {
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    // Beyond the classic limits, the arrays' fit in the chunk bounds the
    // counts: a count whose arrays cannot fit is out of range.
    const bool anyCounts = (readOptions & kReadAnyCounts) != 0;
    const uint64_t vertexBytes = ((formatFlags & kFormatPrelit) ? 4u : 0u) +
                                 ((formatFlags & kFormatTexCoords) ? 8u : 0u) +
                                 ((formatFlags & kFormatNormals) ? 12u : 0u);
    const bool trianglesFit =
        anyCounts && 8 * static_cast<uint64_t>(triangleCount) <= payload.Remaining();
    const bool verticesFit =
        anyCounts && vertexBytes * static_cast<uint64_t>(vertexCount) <= payload.Remaining();
    if (triangleCount < 0 || (triangleCount > kMaxTriangles && !trianglesFit)) {
        LatchError(*this, kErrorTriangleCount);
        return false;
    }
    if (vertexCount < 0 || (vertexCount > kMaxVertices && !verticesFit)) {
        LatchError(*this, kErrorVertexCount);
        return false;
    }
    const uint64_t v = static_cast<uint64_t>(vertexCount);
    if (formatFlags & kFormatPrelit) {
        hasPrelit = 1;
        if (!TakeArray(payload, v, 4, copyArrays, &prelitColors, &ownsPrelit)) {
            LatchError(*this, kErrorGeometryData);
            return false;
        }
    }
    if (formatFlags & kFormatTexCoords) {
        // The low byte of the high format half counts the coordinate sets;
        // 0 and 1 both mean one set.
        uint32_t sets = formatHigh & 0xFF;
        if (sets < 2)
            sets = 1;
        if (!TakeArray(payload, v * sets, 8, copyArrays, &texCoords, &ownsTexCoords)) {
            LatchError(*this, kErrorGeometryData);
            return false;
        }
        texCoordSets = sets;
    }
    if (!TakeArray(payload, static_cast<uint64_t>(triangleCount), 8, copyArrays, &triangles,
                   &ownsTriangles) ||
        payload.atEnd) {
        // At least one byte must follow the triangles.
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    uint8_t sphere[16];
    payload.Read(sphere, 16);
    for (int i = 0; i < 4; ++i)
        LoadF32(sphere + 4 * i, &boundingSphere[i]);
    hasPositions = payload.ReadU32();
    hasNormals = payload.ReadU32();
    if (hasPositions != 0 && !TakeArray(payload, v, 12, copyArrays, &positions, &ownsPositions)) {
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    if ((formatFlags & kFormatNormals) &&
        !TakeArray(payload, v, 12, copyArrays, &normals, &ownsNormals)) {
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    // Past the classic limit only the arrays bound the count, so a geometry
    // holding no per-vertex array cannot go past it.
    if (vertexCount > kMaxVertices && vertexBytes == 0 && positions == nullptr) {
        LatchError(*this, kErrorVertexCount);
        return false;
    }
    if (!ReadMaterialList(payload)) {
        LatchError(*this, kErrorMaterialList);
        return false;
    }
    if (!ReadExtension(payload)) {
        LatchError(*this, kErrorGeometryExtension);
        return false;
    }
    return true;
}

}  // namespace brennix
