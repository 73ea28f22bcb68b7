#include "col/ColInfo.h"

#include <cstring>

#include "stream/Endian.h"

namespace brennix {

namespace {

constexpr size_t kNameOffset = 8;
constexpr size_t kNameBytes = 22;
// Versions 2 to 4: 16-bit counts at 72, 74 and 76; the faces' offset, counted
// from byte 4, at 100. A face is three 16-bit vertex indices, a material and
// a light byte.
constexpr size_t kPackedHeadBytes = 104;
constexpr size_t kPackedFaceBytes = 8;
// Version 1: the sections follow the 72-byte head, each led by a 32-bit count.
constexpr size_t kPlainHeadBytes = 72;
constexpr size_t kPlainSphereBytes = 20;
constexpr size_t kPlainBoxBytes = 28;
constexpr size_t kPlainVertexBytes = 12;
constexpr size_t kPlainFaceBytes = 16;

// Reads one count and steps over its records; false when either lies outside.
bool TakeSection(const uint8_t* data, size_t length, size_t* at, size_t recordBytes,
                 uint32_t* count, ColSummaryResult* failure) {
    if (length - *at < 4) {
        *failure = ColSummaryResult::kHeaderCutShort;
        return false;
    }
    *count = LoadU32(data + *at);
    *at += 4;
    if (*count > (length - *at) / recordBytes) {
        *failure = ColSummaryResult::kSectionOutside;
        return false;
    }
    *at += static_cast<size_t>(*count) * recordBytes;
    return true;
}

ColSummaryResult ReadPlain(const uint8_t* data, size_t length, ColSummary* out) {
    if (length < kPlainHeadBytes)
        return ColSummaryResult::kHeaderCutShort;
    size_t at = kPlainHeadBytes;
    ColSummaryResult failure = ColSummaryResult::kOk;
    uint32_t lines = 0;
    if (!TakeSection(data, length, &at, kPlainSphereBytes, &out->spheres, &failure))
        return failure;
    // A section between the spheres and the boxes that files leave empty;
    // its records' size is not known, so nothing after it can be found.
    if (length - at < 4)
        return ColSummaryResult::kHeaderCutShort;
    lines = LoadU32(data + at);
    at += 4;
    if (lines != 0)
        return ColSummaryResult::kUnknownSections;
    if (!TakeSection(data, length, &at, kPlainBoxBytes, &out->boxes, &failure) ||
        !TakeSection(data, length, &at, kPlainVertexBytes, &out->vertices, &failure) ||
        !TakeSection(data, length, &at, kPlainFaceBytes, &out->faces, &failure))
        return failure;
    return ColSummaryResult::kOk;
}

ColSummaryResult ReadPacked(const uint8_t* data, size_t length, ColSummary* out) {
    if (length < kPackedHeadBytes)
        return ColSummaryResult::kHeaderCutShort;
    out->spheres = LoadU16(data + 72);
    out->boxes = LoadU16(data + 74);
    out->faces = LoadU16(data + 76);
    out->verticesFromFaces = true;
    if (out->faces == 0)
        return ColSummaryResult::kOk;
    const uint64_t start = static_cast<uint64_t>(LoadU32(data + 100)) + 4;
    const uint64_t bytes = static_cast<uint64_t>(out->faces) * kPackedFaceBytes;
    if (start > length || bytes > length - start)
        return ColSummaryResult::kSectionOutside;
    uint32_t highest = 0;
    const uint8_t* face = data + start;
    for (uint32_t i = 0; i < out->faces; ++i, face += kPackedFaceBytes) {
        for (size_t k = 0; k < 3; ++k) {
            const uint32_t index = LoadU16(face + 2 * k);
            if (index > highest)
                highest = index;
        }
    }
    out->vertices = highest + 1;
    return ColSummaryResult::kOk;
}

}  // namespace

ColSummaryResult ReadColSummary(const uint8_t* data, size_t length, ColSummary* out) {
    *out = ColSummary();
    if (data == nullptr || length < 4 || std::memcmp(data, "COL", 3) != 0)
        return ColSummaryResult::kNotCollision;
    switch (data[3]) {
        case 'L':
            out->version = 1;
            break;
        case '2':
        case '3':
        case '4':
            out->version = static_cast<uint32_t>(data[3] - '0');
            break;
        default:
            return ColSummaryResult::kNotCollision;
    }
    if (length < kNameOffset + kNameBytes)
        return ColSummaryResult::kHeaderCutShort;
    for (size_t i = 0; i < kNameBytes && data[kNameOffset + i] != 0; ++i)
        out->name[i] = static_cast<char>(data[kNameOffset + i]);
    return out->version == 1 ? ReadPlain(data, length, out) : ReadPacked(data, length, out);
}

const char* ColSummaryResultText(ColSummaryResult result) {
    switch (result) {
        case ColSummaryResult::kOk:
            return "read";
        case ColSummaryResult::kNotCollision:
            return "not a collision file";
        case ColSummaryResult::kHeaderCutShort:
            return "the collision header is cut short";
        case ColSummaryResult::kSectionOutside:
            return "a collision section lies outside the entry";
        case ColSummaryResult::kUnknownSections:
            return "a collision section of unknown layout";
    }
    return "unknown";
}

}  // namespace brennix
