// The in-memory form of one COL3 collision model, its file writer and the
// three generators that fill it from a model's geometry.
#pragma once

#include <cstdint>

#include "dff/Geometry.h"
#include "stream/Stream.h"

namespace brennix {

constexpr uint32_t kColHeaderSize = 120;
constexpr uint32_t kColFlagNotEmpty = 2;
constexpr uint32_t kColFlagFaceGroups = 8;

// How the writer fills in the header.
enum class ColConvention {
    // As the classic generators always wrote it: size = file length - 4, a
    // name of at most 20 bytes, no "not empty" flag.
    kClassic,
    // As other readers and writers of the format expect: size = file length
    // - 8, a name of at most 21 bytes (byte 29 stays zero), and flag 2 when a
    // sphere, box or face is written.
    kStandard,
};

struct ColSurface {
    uint8_t material;
    uint8_t flag;
    uint8_t brightness;
    uint8_t light;
};

struct ColBox {
    float min[3];
    float max[3];
    ColSurface surface;
};

struct ColSphere {
    uint8_t bytes[20];  // opaque: written as stored
};

struct ColFaceGroup {
    uint8_t bytes[28];  // opaque: written as stored
};

struct ColFace {
    uint16_t a, b, c;
    uint8_t material;
    uint8_t light;
};

struct ColVertex {
    int16_t x, y, z;
};

// The 120-byte file header, field for field. The writer encodes it
// little-endian; its on-disk positions are given beside each field.
struct ColHeader {
    char fourcc[4];         // 0: "COL3"
    uint32_t size;          // 4: file length minus 4 (classic) or 8
    char name[22];          // 8: 20 name bytes, then two zero bytes
    int16_t modelId;        // 30: -1
    float boundsMin[3];     // 32
    float boundsMax[3];     // 44
    float sphereCentre[3];  // 56: zero from the classic generators
    float sphereRadius;     // 68
    uint16_t sphereCount;   // 72
    uint16_t boxCount;      // 74
    uint16_t faceCount;     // 76
    uint16_t padding0;      // 78
    uint32_t flags;         // 80: 8 with face groups; 2 when not empty (standard)
    uint32_t sphereOffset;  // 84: section start minus 4, or 0
    uint32_t boxOffset;     // 88
    uint32_t unused92;      // 92
    uint32_t vertexOffset;  // 96
    uint32_t faceOffset;    // 100
    uint8_t unused104[16];  // 104
};

// Encodes a header as its 120 file bytes.
void EncodeColHeader(const ColHeader& header, uint8_t out[kColHeaderSize]);

struct ColModel {
    ColHeader header;
    PointerArray<ColBox> boxes;
    PointerArray<ColSphere> spheres;
    ColFace* faces;
    uint32_t faceCount;
    ColVertex* vertices;
    uint32_t vertexCount;
    ColFaceGroup* faceGroups;
    uint32_t faceGroupCount;

    // An empty model: header zero but "COL3" and model id -1, no sections.
    ColModel();
    ~ColModel();
    ColModel(const ColModel&) = delete;
    ColModel& operator=(const ColModel&) = delete;

    // Frees every list and array; the header is kept. Safe at any point.
    void Release();

    // Builds the file image in memory and saves it. Returns the file length,
    // or 0 when the model cannot be described by the header (a count above
    // 65535), memory ran out or the file could not be written.
    int32_t WriteFile(const char* path, const char* modelName,
                      ColConvention convention = ColConvention::kClassic);
    // Builds the file image into out (fresh buffer). False as for WriteFile.
    bool BuildFile(ByteBuffer& out, const char* modelName,
                   ColConvention convention = ColConvention::kClassic);

    // Bounds and radius only. Always 1.
    int32_t GenerateEmpty(const Geometry& geometry);
    // Bounds, radius and one box equal to the bounds. 0 when out of memory.
    int32_t GenerateBox(const Geometry& geometry);
    // Bounds, radius, one face per triangle and one vertex per position.
    // 0 when the geometry has no positions, has more than 65535 triangles (the
    // header's face count is 16 bits), names a vertex outside its vertex count, holds a coordinate
    // that does not fit a vertex (x 128 outside -32768..32767, or not a
    // number), or memory ran out.
    int32_t GenerateMesh(const Geometry& geometry);
};

// Whether bytes begin like a collision file: "COL" and then 'L', '2', '3' or
// '4'. Nothing else of the file is examined.
bool LooksLikeColFile(const uint8_t* bytes, uint32_t length);

// Fills min and max with the geometry's bounds, starting from +-100000.
// Returns 0 when the geometry has no positions (start values kept), else 1.
int32_t ComputeGeometryBounds(const Geometry& geometry, float min[3], float max[3]);

}  // namespace brennix
