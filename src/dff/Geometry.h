// One geometry of a model: the parsed Geometry Struct, its material list and
// its extension entries, and the operations that change and write it back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/Endian.h"
#include "stream/Stream.h"

namespace brennix {

constexpr int32_t kMaxTriangles = 100000;
constexpr int32_t kMaxVertices = 200000;
constexpr uint32_t kMaxBinMeshes = 100000;

constexpr uint16_t kFormatPrelit = 0x08;
constexpr uint16_t kFormatTexCoords = 0x84;  // either bit
constexpr uint16_t kFormatNormals = 0x10;
constexpr uint16_t kFormatLight = 0x20;

constexpr uint32_t kTypeStruct = 0x01;
constexpr uint32_t kTypeString = 0x02;
constexpr uint32_t kTypeExtension = 0x03;
constexpr uint32_t kTypeTexture = 0x06;
constexpr uint32_t kTypeMaterial = 0x07;
constexpr uint32_t kTypeMaterialList = 0x08;
constexpr uint32_t kTypeGeometry = 0x0F;
constexpr uint32_t kTypeSkin = 0x116;
constexpr uint32_t kTypeBinMesh = 0x50E;
constexpr uint32_t kTypeNightColors = 0x253F2F9;
constexpr uint32_t kNightColorsMarker = 0x37505050;  // "PPP7"

// What a geometry reader accepts beyond the classic limits: a bit set, 0 for
// the classic reader. Whatever the bits, a size past its parent, an array that
// does not fit its chunk and an index past its array stay errors.
enum ReadOption : uint32_t {
    // Any triangle, vertex and Bin Mesh count whose arrays fit the chunk.
    kReadAnyCounts = 1u << 0,
    // The older Skin layout: no used-bone list, a 4-byte marker before each
    // bone matrix, and the trailer words optional.
    kReadOldSkin = 1u << 1,
    // Any texture flag and any number of Texture chunks in a material, read
    // within the Material chunk's own size; names of any length within their
    // String; a material Struct of 16 bytes or more; any material and
    // texture extension entry.
    kReadAnyMaterial = 1u << 2,
    // A Material List of no material.
    kReadEmptyMaterialList = 1u << 3,
    // Geometry extension entries of types the classic reader refuses are
    // passed over.
    kReadUnknownEntries = 1u << 4,
    // Everything the format allows: the commands' reader.
    kReadFormat = kReadAnyCounts | kReadOldSkin | kReadAnyMaterial | kReadEmptyMaterialList |
                  kReadUnknownEntries,
};

struct TextureSlot {
    uint32_t textureWord;
    uint8_t textureName[32];  // not terminated when the name fills all 32 bytes
    uint8_t maskName[32];
    // The names where they lie in the Material List, up to their first zero
    // byte, whatever their length (null when the slot is empty). They view
    // the bytes the geometry was read from.
    const uint8_t* name;
    uint32_t nameLength;
    const uint8_t* mask;
    uint32_t maskLength;
};

struct Material {
    uint32_t structWords[7];  // word 3 is the texture count (the texture flag)
    TextureSlot textures[2];
    // Texture chunks the material holds; only the first two are kept.
    uint32_t texturesHeld;
};

struct BinMesh {
    uint32_t indexCount;
    uint32_t materialIndex;
    uint8_t* indices;  // indexCount little-endian words
    uint8_t ownsIndices;
};

// Whether read-only arrays are kept where they lie in the bytes they were read
// from. Every reader of the arrays decodes their little-endian records byte by
// byte, so a view is right on any host. Still, only hosts known to read
// unaligned memory cheaply view; a big-endian host or one that traps on
// unaligned access copies each array into an aligned block of its own, as
// before. A build may ask for copies on any host
// (BRENNIX_COPY_GEOMETRY_ARRAYS).
#if defined(BRENNIX_COPY_GEOMETRY_ARRAYS)
constexpr bool kArraysViewFile = false;
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    (defined(__i386__) || defined(__x86_64__) || defined(__aarch64__))
constexpr bool kArraysViewFile = true;
#elif defined(_M_IX86) || defined(_M_X64)
constexpr bool kArraysViewFile = true;
#else
constexpr bool kArraysViewFile = false;
#endif

// The arrays hold the file's little-endian records as read. Each one either
// views the payload it was read from, which must then outlive the record (a
// model's geometries view its file buffer), or lies in a block the record owns
// and frees: its owns* flag says which. Arrays a job changes are always owned.
struct Geometry {
    uint8_t copyArrays;  // read arrays into blocks of their own (kArraysViewFile's opposite)
    uint8_t colorsChanged;
    uint32_t readOptions;  // ReadOption bits; 0 (Init) reads as the classic jobs do
    uint32_t errorCode;
    uint32_t errorDetail;
    uint16_t formatFlags;
    uint16_t formatHigh;
    int32_t triangleCount;
    int32_t vertexCount;
    uint32_t morphTargetCount;
    uint8_t hasPrelit;
    uint8_t hasNight;
    uint8_t* prelitColors;  // vertexCount RGBA records
    uint8_t* nightColors;   // vertexCount RGBA records
    uint8_t* texCoords;     // texCoordSets sets of vertexCount (u, v) float pairs
    uint32_t texCoordSets;  // sets held in texCoords (0 when none)
    uint8_t* triangles;     // triangleCount 8-byte records as on disk
    float boundingSphere[4];
    uint32_t hasPositions;
    uint32_t hasNormals;
    uint8_t* positions;  // vertexCount float x, y, z
    uint8_t* normals;    // vertexCount float x, y, z
    Chunk* materialListChunk;
    Chunk* extensionChunk;
    int32_t materialCount;
    PointerArray<Material> materials;
    uint8_t hasBinMesh;
    uint32_t binMeshFlags;
    uint32_t meshCount;
    uint32_t meshIndexTotal;
    PointerArray<BinMesh> meshes;
    uint8_t boneCount;
    uint8_t usedBoneCount;
    uint8_t oldSkinLayout;  // the Skin entry is of the older layout
    uint8_t maxWeightsPerVertex;
    uint8_t skinPadding;
    uint8_t* usedBones;
    uint8_t* vertexBoneIndices;
    uint8_t* vertexBoneWeights;
    uint8_t* inverseBoneMatrices;
    uint32_t skinTrailer[3];
    uint8_t ownsPrelit;
    uint8_t ownsNight;
    uint8_t ownsTexCoords;
    uint8_t ownsTriangles;
    uint8_t ownsPositions;
    uint8_t ownsNormals;
    uint8_t ownsUsedBones;
    uint8_t ownsBoneIndices;
    uint8_t ownsBoneWeights;
    uint8_t ownsInverseMatrices;

    // Calls visit(array, owns, bytes) for every array the record holds or
    // may hold, each Bin Mesh's indices included: the pointer (null when
    // absent), its owns flag and the bytes it spans.
    template <typename Visit>
    void ForEachArray(Visit visit) {
        VisitArrays(*this, visit);
    }
    template <typename Visit>
    void ForEachArray(Visit visit) const {
        VisitArrays(*this, visit);
    }

    // One float of positions or normals (vertex i, axis 0..2), or of texCoords.
    static float FloatAt(const uint8_t* array, size_t index) {
        float value;
        LoadF32(array + 4 * index, &value);
        return value;
    }

    // Empty state: flags and counts 0, pointers null, arrays empty; arrays
    // will be viewed where the host allows it.
    void Init();
    // Frees everything owned; safe on a half-read or only initialised record.
    void Release();

    // Reads the Struct body (the payload positioned after the Struct header),
    // then the material list and the extension from the same payload. False
    // with errorCode latched on failure. stampHigh is the Geometry chunk's.
    bool Read(ByteBuffer& payload, uint16_t stampHigh);
    bool ReadMaterialList(ByteBuffer& payload);
    bool ReadMaterial(ByteBuffer& listPayload);
    // The Material chunks as kReadAnyMaterial reads them: each within its
    // own size, as many as the list's Struct (structSize bytes from
    // structStart) names materials of their own.
    bool ReadMaterials(ByteBuffer& list, uint32_t structSize, uint32_t structStart);
    bool ReadAnyMaterial(ByteBuffer& materialPayload, Material* material);
    bool ReadExtension(ByteBuffer& payload);
    bool ReadSkin(ByteBuffer& extensionPayload);

    // Serialises the Struct body afresh. Null when out of memory.
    Chunk* WriteStruct() const;
    // Builds the Geometry chunk: the new Struct, the Material List as read,
    // and the Extension (rebuilt with a fresh Night Colours entry when night
    // colours are set, which replaces extensionChunk). Null when out of
    // memory; the geometry is then unchanged.
    Chunk* WriteChunk();
    // Replaces extensionChunk by a copy without entries of the given type.
    // False only when out of memory (extensionChunk then unchanged).
    bool RemoveExtensionEntries(uint32_t entryType);

    // Installs the source's day colours as this geometry's night colours.
    // False when the vertex counts differ, the source has no day colours, or
    // memory ran out; nothing changes then.
    bool ImportNightColors(const Geometry& source);
    // Paints every vertex with one day and one night colour (RGBA records).
    // False only when out of memory; nothing changes then.
    bool SetUniformColors(const uint8_t day[4], const uint8_t night[4]);

private:
    template <typename Self, typename Visit>
    static void VisitArrays(Self& g, Visit& visit) {
        const uint64_t v = g.vertexCount > 0 ? static_cast<uint64_t>(g.vertexCount) : 0;
        const uint64_t t = g.triangleCount > 0 ? static_cast<uint64_t>(g.triangleCount) : 0;
        visit(g.prelitColors, g.ownsPrelit, 4 * v);
        visit(g.nightColors, g.ownsNight, 4 * v);
        visit(g.texCoords, g.ownsTexCoords, 8 * v * g.texCoordSets);
        visit(g.triangles, g.ownsTriangles, 8 * t);
        visit(g.positions, g.ownsPositions, 12 * v);
        visit(g.normals, g.ownsNormals, 12 * v);
        visit(g.usedBones, g.ownsUsedBones, uint64_t{g.usedBoneCount});
        visit(g.vertexBoneIndices, g.ownsBoneIndices, 4 * v);
        visit(g.vertexBoneWeights, g.ownsBoneWeights, 16 * v);
        visit(g.inverseBoneMatrices, g.ownsInverseMatrices, 64 * uint64_t{g.boneCount});
        for (uint32_t i = 0; i < g.meshes.count; ++i) {
            if (g.meshes.items[i] != nullptr)
                visit(g.meshes.items[i]->indices, g.meshes.items[i]->ownsIndices,
                      4 * uint64_t{g.meshes.items[i]->indexCount});
        }
    }
};

}  // namespace brennix
