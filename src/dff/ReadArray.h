// Bounded array reads shared by the geometry readers.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "stream/Endian.h"
#include "stream/Stream.h"

namespace brennix {

// Reads count elements of elementSize bytes into a fresh block, provided
// that many bytes remain; the size is checked before anything is allocated,
// and every byte of the block is then copied from the payload, so it needs no
// zero fill. A zero count still gives a (non-null) block. On success the old
// block at *out is freed and replaced.
template <typename T>
bool ReadArray(ByteBuffer& payload, uint64_t count, uint64_t elementSize, T** out) {
    uint32_t bytes = 0;
    if (!ArrayBytes(count, elementSize, &bytes) || bytes > payload.Remaining())
        return false;
    void* block = std::malloc(bytes > 0 ? bytes : 1);
    if (block == nullptr)
        return false;
    if (bytes > 0) {
        std::memcpy(block, payload.data + payload.cursor, bytes);
        payload.Skip(bytes);  // sets atEnd when the block reaches the end
    }
    std::free(*out);
    *out = static_cast<T*>(block);
    return true;
}

}  // namespace brennix
