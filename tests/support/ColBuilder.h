// COL entries of every version laid out byte by byte from a plain
// description, independently of the model library's writer. A test that
// needs a damaged entry builds a sound one and patches the bytes at the named
// header offsets below (or cuts or extends the bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/ModelBuilder.h"

namespace brennix::test {

// Fields of every entry.
constexpr size_t kColSizeAt = 4;  // u32; kStandard counts from the end of this field
constexpr size_t kColNameAt = 8;  // 22 bytes
constexpr size_t kColModelIdAt = 30;
// Version 1: the header ends at 72, where the sphere count starts.
constexpr size_t kColV1HeaderBytes = 72;
// Versions 2 and later. Offsets count from byte 4; 0 means no section.
constexpr size_t kColSphereCountAt = 72;  // u16
constexpr size_t kColBoxCountAt = 74;     // u16
constexpr size_t kColFaceCountAt = 76;    // u16
constexpr size_t kColLineCountAt = 78;    // u8
constexpr size_t kColFlagsAt = 80;
constexpr size_t kColSphereOffsetAt = 84;
constexpr size_t kColBoxOffsetAt = 88;
constexpr size_t kColLineOffsetAt = 92;
constexpr size_t kColVertexOffsetAt = 96;
constexpr size_t kColFaceOffsetAt = 100;
constexpr size_t kColShadowFaceCountAt = 108;  // version 3 and later
constexpr size_t kColShadowVertexOffsetAt = 112;
constexpr size_t kColShadowFaceOffsetAt = 116;
constexpr size_t kColVersion4FieldAt = 120;  // version 4 only

struct ColSurfacePlan {
    uint8_t material = 0;
    uint8_t flag = 0;  // flag and brightness: spheres, boxes and version-1 faces
    uint8_t brightness = 0;
    uint8_t light = 0;
};

struct ColSpherePlan {
    Vec3 centre;
    float radius = 1;
    ColSurfacePlan surface;
};

struct ColBoxPlan {
    Vec3 min;
    Vec3 max;
    ColSurfacePlan surface;
};

struct ColLinePlan {
    Vec3 start;
    Vec3 end;
};

// Versions 2 and later keep 16-bit indices and the material and light only.
struct ColFacePlan {
    uint32_t a = 0, b = 0, c = 0;
    ColSurfacePlan surface;
};

struct ColFaceGroupPlan {
    Vec3 min;
    Vec3 max;
    uint16_t first = 0, last = 0;
};

enum class ColLayout {
    // The size counts from the end of the size field. Spheres, boxes, lines,
    // vertices (padded to 4 bytes), face groups and their count, faces,
    // shadow vertices (padded to 4 bytes), shadow faces.
    kStandard,
    // As earlier collision files were written: the size counts from the end
    // of the tag. Spheres, boxes, lines, face groups and their count, faces,
    // vertices, shadow vertices, shadow faces, without padding.
    kEarlier,
};

struct ColEntryPlan {
    int version = 3;  // 1 ("COLL") to 4
    ColLayout layout = ColLayout::kStandard;
    // The name field: these bytes, zero-padded to 22 (22 leave no terminator).
    std::string name = "entry";
    uint16_t modelId = 0xFFFF;
    Vec3 boundsMin, boundsMax, centre;
    float radius = 0;
    // Versions 2 and later. -1: 2 when there are spheres, boxes or faces, 8
    // with face groups, 16 with shadow faces.
    int64_t flags = -1;
    uint32_t version4Field = 0;
    std::vector<ColSpherePlan> spheres;
    std::vector<ColBoxPlan> boxes;
    std::vector<ColLinePlan> lines;
    // Floats in version 1; later, each coordinate as its whole number of
    // 1/128 steps, truncated.
    std::vector<Vec3> vertices;
    std::vector<ColFacePlan> faces;
    std::vector<ColFaceGroupPlan> faceGroups;  // versions 2 and later
    std::vector<Vec3> shadowVertices;          // version 3 and later
    std::vector<ColFacePlan> shadowFaces;
};

// Counts that do not fit their field (16 bits, 8 for lines, from version 2)
// throw std::length_error.
Bytes BuildColEntry(const ColEntryPlan& plan);
// The entries one after another.
Bytes BuildColArchive(const std::vector<ColEntryPlan>& entries);

// Overwrites the little-endian value at `at`; throws std::out_of_range when
// it does not lie inside `bytes`.
void PatchU16(Bytes& bytes, size_t at, uint16_t value);
void PatchU32(Bytes& bytes, size_t at, uint32_t value);

}  // namespace brennix::test
