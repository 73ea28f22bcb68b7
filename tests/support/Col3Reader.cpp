#include "support/Col3Reader.h"

#include <cstring>
#include <sstream>

namespace brennix::test {
namespace {

uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

float LoadF32(const uint8_t* p) {
    uint32_t bits = LoadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::array<float, 3> LoadVec3(const uint8_t* p) {
    return {LoadF32(p), LoadF32(p + 4), LoadF32(p + 8)};
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool SameBits(const std::array<float, 3>& lhs, const std::array<float, 3>& rhs) {
    for (size_t i = 0; i < 3; ++i) {
        if (FloatBits(lhs[i]) != FloatBits(rhs[i]))
            return false;
    }
    return true;
}

bool Fail(std::string* whyNot, const std::string& reason) {
    if (whyNot)
        *whyNot = reason;
    return false;
}

std::string Hex(uint64_t value) {
    std::ostringstream os;
    os << "0x" << std::hex << value;
    return os.str();
}

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// Checks an offset field against where its section must start (`start`, an
// absolute position) when the section is present, or against 0 when it is not.
bool CheckOffset(const char* what, uint32_t field, bool present, size_t start,
                 std::string* whyNot) {
    if (!present) {
        if (field != 0) {
            return Fail(whyNot, std::string(what) + " offset is " + std::to_string(field) +
                                    " but the section is empty");
        }
        return true;
    }
    if (field != start - 4) {
        return Fail(whyNot, std::string(what) + " offset is " + std::to_string(field) +
                                ", expected " + std::to_string(start - 4));
    }
    return true;
}

}  // namespace

bool operator==(const Col3Box& lhs, const Col3Box& rhs) {
    return SameBits(lhs.min, rhs.min) && SameBits(lhs.max, rhs.max) &&
           lhs.material == rhs.material && lhs.flag == rhs.flag &&
           lhs.brightness == rhs.brightness && lhs.light == rhs.light;
}

bool operator==(const Col3Face& lhs, const Col3Face& rhs) {
    return lhs.a == rhs.a && lhs.b == rhs.b && lhs.c == rhs.c && lhs.material == rhs.material &&
           lhs.light == rhs.light;
}

bool operator==(const Col3Vertex& lhs, const Col3Vertex& rhs) {
    return lhs.x == rhs.x && lhs.y == rhs.y && lhs.z == rhs.z;
}

std::ostream& operator<<(std::ostream& os, const Col3Box& box) {
    return os << "box{(" << box.min[0] << ", " << box.min[1] << ", " << box.min[2] << ")-("
              << box.max[0] << ", " << box.max[1] << ", " << box.max[2] << ") " << int(box.material)
              << "/" << int(box.flag) << "/" << int(box.brightness) << "/" << int(box.light) << "}";
}

std::ostream& operator<<(std::ostream& os, const Col3Face& face) {
    return os << "face{" << face.a << ", " << face.b << ", " << face.c << " m" << int(face.material)
              << " l" << int(face.light) << "}";
}

std::ostream& operator<<(std::ostream& os, const Col3Vertex& vertex) {
    return os << "vertex{" << vertex.x << ", " << vertex.y << ", " << vertex.z << "}";
}

std::string Col3File::Name() const {
    size_t n = 0;
    while (n < 20 && nameField[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(nameField.data()), n);
}

void Col3File::SetName(const std::string& name) {
    nameField.fill(0);
    std::memcpy(nameField.data(), name.data(), name.size() < 20 ? name.size() : 20);
}

bool ReadCol3(const std::vector<uint8_t>& bytes, Col3File* out, std::string* whyNot) {
    Col3File local;
    Col3File& f = out ? *out : local;
    f = Col3File();

    const size_t length = bytes.size();
    if (length < kCol3HeaderSize) {
        return Fail(whyNot, "file has " + std::to_string(length) + " bytes, less than a header");
    }
    const uint8_t* h = bytes.data();
    if (std::memcmp(h, "COL3", 4) != 0)
        return Fail(whyNot, "fourcc is not COL3");

    f.size = LoadU32(h + 4);
    if (f.size != length - 4) {
        return Fail(whyNot, "size field is " + std::to_string(f.size) + " but the file has " +
                                std::to_string(length) + " bytes");
    }
    std::memcpy(f.nameField.data(), h + 8, f.nameField.size());
    f.modelId = static_cast<int16_t>(LoadU16(h + 30));
    f.boundsMin = LoadVec3(h + 32);
    f.boundsMax = LoadVec3(h + 44);
    f.sphereCentre = LoadVec3(h + 56);
    f.sphereRadius = LoadF32(h + 68);
    f.sphereCount = LoadU16(h + 72);
    f.boxCount = LoadU16(h + 74);
    f.faceCount = LoadU16(h + 76);
    f.flags = LoadU32(h + 80);
    f.sphereOffset = LoadU32(h + 84);
    f.boxOffset = LoadU32(h + 88);
    f.vertexOffset = LoadU32(h + 96);
    f.faceOffset = LoadU32(h + 100);

    if (!AllZero(h + 28, 2))
        return Fail(whyNot, "name bytes 28-29 are not zero");
    if (!AllZero(h + 78, 2))
        return Fail(whyNot, "reserved bytes 78-79 are not zero");
    if (!AllZero(h + 92, 4))
        return Fail(whyNot, "reserved bytes 92-95 are not zero");
    if (!AllZero(h + 104, 16))
        return Fail(whyNot, "reserved bytes 104-119 are not zero");
    if (f.flags != 0 && f.flags != kCol3FlagFaceGroups) {
        return Fail(whyNot, "unexpected flags " + Hex(f.flags));
    }

    // Every size below is at most 65535 records of at most 28 bytes, so these
    // sums cannot overflow; each is compared with the file length before use.
    size_t cursor = kCol3HeaderSize;

    const size_t sphereBytes = size_t{f.sphereCount} * kCol3SphereSize;
    if (!CheckOffset("sphere", f.sphereOffset, f.sphereCount != 0, cursor, whyNot))
        return false;
    if (sphereBytes > length - cursor)
        return Fail(whyNot, "sphere section runs past the end");
    for (size_t i = 0; i < f.sphereCount; ++i) {
        Col3Sphere s;
        std::memcpy(s.data(), h + cursor + i * kCol3SphereSize, s.size());
        f.spheres.push_back(s);
    }
    cursor += sphereBytes;

    const size_t boxBytes = size_t{f.boxCount} * kCol3BoxSize;
    if (!CheckOffset("box", f.boxOffset, f.boxCount != 0, cursor, whyNot))
        return false;
    if (boxBytes > length - cursor)
        return Fail(whyNot, "box section runs past the end");
    for (size_t i = 0; i < f.boxCount; ++i) {
        const uint8_t* p = h + cursor + i * kCol3BoxSize;
        Col3Box box;
        box.min = LoadVec3(p);
        box.max = LoadVec3(p + 12);
        box.material = p[24];
        box.flag = p[25];
        box.brightness = p[26];
        box.light = p[27];
        f.boxes.push_back(box);
    }
    cursor += boxBytes;

    if (f.flags & kCol3FlagFaceGroups) {
        // The groups carry no header field of their own: their u32 count sits
        // just before the next section, which is the faces, else the vertices,
        // else the end of the file.
        size_t next = length;
        if (f.faceCount != 0) {
            next = size_t{f.faceOffset} + 4;
        } else if (f.vertexOffset != 0) {
            next = size_t{f.vertexOffset} + 4;
        }
        if (next > length || next < cursor + 4) {
            return Fail(whyNot,
                        "no room for the face-group count before position " + std::to_string(next));
        }
        const size_t countAt = next - 4;
        const uint32_t groupCount = LoadU32(h + countAt);
        if (groupCount == 0)
            return Fail(whyNot, "face-group flag set with a group count of 0");
        if ((countAt - cursor) % kCol3FaceGroupSize != 0 ||
            (countAt - cursor) / kCol3FaceGroupSize != groupCount) {
            return Fail(whyNot, "face-group count " + std::to_string(groupCount) +
                                    " disagrees with the " + std::to_string(countAt - cursor) +
                                    " bytes before it");
        }
        for (size_t i = 0; i < groupCount; ++i) {
            Col3FaceGroup g;
            std::memcpy(g.data(), h + cursor + i * kCol3FaceGroupSize, g.size());
            f.faceGroups.push_back(g);
        }
        cursor = next;
    }

    const size_t faceBytes = size_t{f.faceCount} * kCol3FaceSize;
    if (!CheckOffset("face", f.faceOffset, f.faceCount != 0, cursor, whyNot))
        return false;
    if (faceBytes > length - cursor)
        return Fail(whyNot, "face section runs past the end");
    for (size_t i = 0; i < f.faceCount; ++i) {
        const uint8_t* p = h + cursor + i * kCol3FaceSize;
        Col3Face face;
        face.a = LoadU16(p);
        face.b = LoadU16(p + 2);
        face.c = LoadU16(p + 4);
        face.material = p[6];
        face.light = p[7];
        f.faces.push_back(face);
    }
    cursor += faceBytes;

    // The vertex section runs to the end of the file; the file holds no count.
    const bool hasVertices = f.vertexOffset != 0;
    if (hasVertices) {
        if (!CheckOffset("vertex", f.vertexOffset, true, cursor, whyNot))
            return false;
        const size_t vertexBytes = length - cursor;
        if (vertexBytes == 0)
            return Fail(whyNot, "vertex offset set but no vertex bytes follow");
        if (vertexBytes % kCol3VertexSize != 0) {
            return Fail(whyNot, "vertex section of " + std::to_string(vertexBytes) +
                                    " bytes is not a whole number of vertices");
        }
        for (size_t at = cursor; at < length; at += kCol3VertexSize) {
            Col3Vertex v;
            v.x = static_cast<int16_t>(LoadU16(h + at));
            v.y = static_cast<int16_t>(LoadU16(h + at + 2));
            v.z = static_cast<int16_t>(LoadU16(h + at + 4));
            f.vertices.push_back(v);
        }
        cursor = length;
    }
    if (cursor != length) {
        return Fail(whyNot, std::to_string(length - cursor) + " stray bytes after position " +
                                std::to_string(cursor));
    }

    for (size_t i = 0; i < f.faces.size(); ++i) {
        const Col3Face& face = f.faces[i];
        const size_t n = f.vertices.size();
        if (face.a >= n || face.b >= n || face.c >= n) {
            return Fail(whyNot, "face " + std::to_string(i) + " has a vertex index not below " +
                                    std::to_string(n));
        }
    }
    return true;
}

}  // namespace brennix::test
