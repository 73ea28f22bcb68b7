// Bounded array reads shared by the geometry readers.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "stream/Endian.h"
#include "stream/Stream.h"

namespace brennix {

// Takes count elements of elementSize bytes at the payload's cursor, provided
// that many bytes remain, and moves past them. The size is checked before
// anything is allocated or pointed at.
//
// In place (copy false), *out points at the payload's own bytes, which must
// outlive the holder of *out, and *owns is cleared. Copied, *out points at a
// fresh block holding every byte (so it needs no zero fill) and *owns is set.
// A zero count still gives a non-null pointer. An array *out held before is
// freed when *owns said it was owned.
inline bool TakeArray(ByteBuffer& payload, uint64_t count, uint64_t elementSize, bool copy,
                      uint8_t** out, uint8_t* owns) {
    uint32_t bytes = 0;
    if (!ArrayBytes(count, elementSize, &bytes) || bytes > payload.Remaining())
        return false;
    uint8_t* array = nullptr;
    const bool inPlace = !copy && payload.data != nullptr;
    if (inPlace) {
        array = payload.data + payload.cursor;
    } else {
        array = static_cast<uint8_t*>(std::malloc(bytes > 0 ? bytes : 1));
        if (array == nullptr)
            return false;
        if (bytes > 0)
            std::memcpy(array, payload.data + payload.cursor, bytes);
    }
    if (bytes > 0)
        payload.Skip(bytes);  // sets atEnd when the array reaches the end
    if (*owns)
        std::free(*out);
    *out = array;
    *owns = inPlace ? 0 : 1;
    return true;
}

}  // namespace brennix
