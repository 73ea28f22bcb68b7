// Error codes latched by the model while reading. The first code wins; a
// detail value is stored wherever one is named, even when an earlier code is
// kept. Neither front end shows these: they map results to their own messages.
#pragma once

#include <cstdint>

namespace brennix {

enum ErrorCode : uint32_t {
    kErrorNone = 0,
    kErrorNotAClump = 44000,
    kErrorGeometryData = 44001,
    kErrorUnknownEntry = 44002,
    kErrorUnused44003 = 44003,
    kErrorVertexCount = 44004,
    kErrorTriangleCount = 44005,
    kErrorGeometryCount = 44006,
    kErrorUnexpectedChunk = 44007,
    kErrorTextureCount = 44008,
    kErrorMaterialCount = 44009,
    kErrorMaterialList = 44010,
    kErrorGeometryExtension = 44011,
    kErrorFrameCount = 44012,
    kErrorUnused44013 = 44013,
    kErrorFrameName = 44014,
    kErrorSecondGeometryList = 44015,
    kErrorSecondFrameList = 44016,
    kErrorSecondAtomic = 44017,
    kErrorMissingExtension = 44018,
    kErrorMissingMaterialList = 44019,
};

// A short name for a code, for tests and diagnostics ("unknown" otherwise).
const char* ErrorCodeName(uint32_t code);

// Stores code only while none is stored.
template <typename Record>
inline void LatchError(Record& record, uint32_t code) {
    if (record.errorCode == 0)
        record.errorCode = code;
}

// Stores code only while none is stored, and always stores the detail.
template <typename Record>
inline void LatchError(Record& record, uint32_t code, uint32_t detail) {
    if (record.errorCode == 0)
        record.errorCode = code;
    record.errorDetail = detail;
}

}  // namespace brennix
