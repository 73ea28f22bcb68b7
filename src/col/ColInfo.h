// A short description of a collision file held in memory: its version, model
// name and the sizes of its sections, as a report on a model shows them. Only
// the first model of the bytes is looked at; nothing is allocated or copied
// beyond the fixed record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brennix {

// Entry types of a clump Extension that carry a whole collision file: the
// one of objects, and the one of vehicles.
constexpr uint32_t kTypeCollisionEntry = 0x253F2FF;
constexpr uint32_t kTypeVehicleCollisionEntry = 0x253F2FA;

inline bool IsCollisionEntryType(uint32_t type) {
    return type == kTypeCollisionEntry || type == kTypeVehicleCollisionEntry;
}

struct ColSummary {
    uint32_t version = 0;  // 1 for "COLL", 2 to 4 for "COL2" to "COL4"
    char name[23] = {};    // the name field up to its first zero byte
    uint32_t spheres = 0;
    uint32_t boxes = 0;
    uint32_t faces = 0;
    uint32_t vertices = 0;
    // Versions 2 to 4 store no vertex count: it is one more than the largest
    // vertex index that a face names (0 without faces).
    bool verticesFromFaces = false;
};

enum class ColSummaryResult {
    kOk,
    kNotCollision,     // does not begin with "COLL", "COL2", "COL3" or "COL4"
    kHeaderCutShort,   // the bytes end inside the header or a count
    kSectionOutside,   // a section the counts need lies outside the bytes
    kUnknownSections,  // version 1 with a section of unknown record size
};

// Fills `out` from the bytes of a collision file. Every read is bounded by
// `length`. `out` is complete only with kOk; it may be partly filled else.
ColSummaryResult ReadColSummary(const uint8_t* data, size_t length, ColSummary* out);

// The result in a few words, for reports.
const char* ColSummaryResultText(ColSummaryResult result);

}  // namespace brennix
