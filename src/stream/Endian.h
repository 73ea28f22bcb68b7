// Little-endian encoding and decoding of on-disk values, byte by byte, so the
// file layout does not depend on the host's byte order.
#pragma once

#include <cstdint>
#include <cstring>

namespace brennix {

inline uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Floats move as bytes, never through a floating-point register: on 32-bit
// x86 a register load would quiet a signalling NaN, and every float the
// system copies is copied bit for bit.
inline void LoadF32(const uint8_t* p, float* out) {
    uint32_t bits = LoadU32(p);
    std::memcpy(out, &bits, sizeof bits);
}

inline void StoreU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void StoreF32(uint8_t* p, const float& value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    StoreU32(p, bits);
}

// Size of count elements of elementSize bytes, or false when it does not fit
// 32 bits. Every array size derived from file data goes through here.
inline bool ArrayBytes(uint64_t count, uint64_t elementSize, uint32_t* bytes) {
    if (elementSize != 0 && count > UINT32_MAX / elementSize)
        return false;
    *bytes = static_cast<uint32_t>(count * elementSize);
    return true;
}

}  // namespace brennix
