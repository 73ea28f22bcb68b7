// Independent checker for COL3 collision files, used by the tests to verify
// what the collision writer produces without going through the product code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace brennix::test {

constexpr size_t kCol3HeaderSize = 120;
constexpr size_t kCol3SphereSize = 20;
constexpr size_t kCol3BoxSize = 28;
constexpr size_t kCol3FaceGroupSize = 28;
constexpr size_t kCol3FaceSize = 8;
constexpr size_t kCol3VertexSize = 6;
constexpr uint32_t kCol3FlagFaceGroups = 8;

struct Col3Box {
    std::array<float, 3> min{};
    std::array<float, 3> max{};
    uint8_t material = 0;
    uint8_t flag = 0;
    uint8_t brightness = 0;
    uint8_t light = 0;
};

struct Col3Face {
    uint16_t a = 0;
    uint16_t b = 0;
    uint16_t c = 0;
    uint8_t material = 0;
    uint8_t light = 0;
};

// Coordinates in 1/128 units.
struct Col3Vertex {
    int16_t x = 0;
    int16_t y = 0;
    int16_t z = 0;
};

// Spheres and face groups are opaque records: their bytes are kept as they stand.
using Col3Sphere = std::array<uint8_t, kCol3SphereSize>;
using Col3FaceGroup = std::array<uint8_t, kCol3FaceGroupSize>;

// Floats compare by bit pattern, so a value read back equals the value written
// even for NaN, and -0.0 differs from 0.0.
bool operator==(const Col3Box& lhs, const Col3Box& rhs);
bool operator==(const Col3Face& lhs, const Col3Face& rhs);
bool operator==(const Col3Vertex& lhs, const Col3Vertex& rhs);
inline bool operator!=(const Col3Box& lhs, const Col3Box& rhs) {
    return !(lhs == rhs);
}
inline bool operator!=(const Col3Face& lhs, const Col3Face& rhs) {
    return !(lhs == rhs);
}
inline bool operator!=(const Col3Vertex& lhs, const Col3Vertex& rhs) {
    return !(lhs == rhs);
}
std::ostream& operator<<(std::ostream& os, const Col3Box& box);
std::ostream& operator<<(std::ostream& os, const Col3Face& face);
std::ostream& operator<<(std::ostream& os, const Col3Vertex& vertex);

// One COL3 file. ReadCol3 fills every field. EncodeCol3 (ModelBuilder.h) writes
// the lists and the name, id, bounds and sphere, and computes the size, counts,
// flags and offsets itself.
struct Col3File {
    uint32_t size = 0;                    // file length minus 4
    std::array<uint8_t, 22> nameField{};  // 20 name bytes plus two bytes that are always zero
    int16_t modelId = -1;
    std::array<float, 3> boundsMin{};
    std::array<float, 3> boundsMax{};
    std::array<float, 3> sphereCentre{};
    float sphereRadius = 0.0f;
    uint16_t sphereCount = 0;
    uint16_t boxCount = 0;
    uint16_t faceCount = 0;
    uint32_t flags = 0;
    // Offsets count from file position 4; 0 when the section is absent.
    uint32_t sphereOffset = 0;
    uint32_t boxOffset = 0;
    uint32_t vertexOffset = 0;
    uint32_t faceOffset = 0;

    std::vector<Col3Sphere> spheres;
    std::vector<Col3Box> boxes;
    std::vector<Col3FaceGroup> faceGroups;
    std::vector<Col3Face> faces;
    std::vector<Col3Vertex> vertices;  // count derived from the vertex section's length

    // The name bytes up to the first zero, at most 20 characters.
    std::string Name() const;
    // Stores at most 20 characters and zero-fills the rest of the field.
    void SetName(const std::string& name);
};

// Checks that `bytes` is a well-formed COL3 file and parses it into `out`.
// Rejects: a file shorter than the 120-byte header; a fourcc other than
// "COL3"; a size field other than the file length minus 4; non-zero bytes in
// the reserved header fields (28-29, 78-79, 92-95, 104-119); flags other than 0
// or 8; an offset that is set for an empty section, missing for a present one,
// or not exactly where the previous section ends; sections out of order, with
// gaps, or not filling the file exactly; a face-group count that disagrees with
// the room between the box section and the next section; a vertex section whose
// length is not a multiple of 6; a face whose vertex index is not below the
// vertex count. On failure returns false and, when `whyNot` is given, says why;
// `out` then holds whatever was read before the fault. `out` and `whyNot` may be null.
bool ReadCol3(const std::vector<uint8_t>& bytes, Col3File* out, std::string* whyNot);

}  // namespace brennix::test
