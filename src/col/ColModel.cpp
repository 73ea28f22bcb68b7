#include "col/ColModel.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "stream/Endian.h"

namespace brennix {

static_assert(sizeof(ColSurface) == 4, "surface is 4 bytes");
static_assert(sizeof(ColBox) == 28, "box record is 28 bytes");
static_assert(sizeof(ColSphere) == 20, "sphere record is 20 bytes");
static_assert(sizeof(ColFaceGroup) == 28, "face group record is 28 bytes");
static_assert(sizeof(ColFace) == 8, "face record is 8 bytes");
static_assert(sizeof(ColVertex) == 6, "vertex record is 6 bytes");
static_assert(sizeof(ColHeader) == kColHeaderSize, "header is 120 bytes");

namespace {

constexpr uint32_t kBoxBytes = 28;
constexpr uint32_t kSphereBytes = 20;
constexpr uint32_t kFaceGroupBytes = 28;
constexpr uint32_t kFaceBytes = 8;
constexpr uint32_t kVertexBytes = 6;
constexpr uint32_t kNameBytes = 20;
constexpr uint32_t kStandardNameBytes = 21;

void StoreFloats(uint8_t* out, const float* values, int n) {
    for (int i = 0; i < n; ++i)
        StoreF32(out + 4 * i, values[i]);
}

void EncodeBox(const ColBox& box, uint8_t out[kBoxBytes]) {
    StoreFloats(out, box.min, 3);
    StoreFloats(out + 12, box.max, 3);
    out[24] = box.surface.material;
    out[25] = box.surface.flag;
    out[26] = box.surface.brightness;
    out[27] = box.surface.light;
}

void EncodeFace(const ColFace& face, uint8_t out[kFaceBytes]) {
    StoreU16(out, face.a);
    StoreU16(out + 2, face.b);
    StoreU16(out + 4, face.c);
    out[6] = face.material;
    out[7] = face.light;
}

void EncodeVertex(const ColVertex& vertex, uint8_t out[kVertexBytes]) {
    StoreU16(out, static_cast<uint16_t>(vertex.x));
    StoreU16(out + 2, static_cast<uint16_t>(vertex.y));
    StoreU16(out + 4, static_cast<uint16_t>(vertex.z));
}

}  // namespace

void EncodeColHeader(const ColHeader& h, uint8_t out[kColHeaderSize]) {
    std::memset(out, 0, kColHeaderSize);
    std::memcpy(out, h.fourcc, 4);
    StoreU32(out + 4, h.size);
    std::memcpy(out + 8, h.name, sizeof h.name);
    StoreU16(out + 30, static_cast<uint16_t>(h.modelId));
    StoreFloats(out + 32, h.boundsMin, 3);
    StoreFloats(out + 44, h.boundsMax, 3);
    StoreFloats(out + 56, h.sphereCentre, 3);
    StoreF32(out + 68, h.sphereRadius);
    StoreU16(out + 72, h.sphereCount);
    StoreU16(out + 74, h.boxCount);
    StoreU16(out + 76, h.faceCount);
    StoreU16(out + 78, h.padding0);
    StoreU32(out + 80, h.flags);
    StoreU32(out + 84, h.sphereOffset);
    StoreU32(out + 88, h.boxOffset);
    StoreU32(out + 92, h.unused92);
    StoreU32(out + 96, h.vertexOffset);
    StoreU32(out + 100, h.faceOffset);
    std::memcpy(out + 104, h.unused104, sizeof h.unused104);
}

ColModel::ColModel()
    : faces(nullptr),
      faceCount(0),
      vertices(nullptr),
      vertexCount(0),
      faceGroups(nullptr),
      faceGroupCount(0) {
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.fourcc, "COL3", 4);
    header.modelId = -1;
}

ColModel::~ColModel() {
    Release();
}

void ColModel::Release() {
    for (uint32_t i = 0; i < boxes.count; ++i)
        delete boxes.items[i];
    boxes.Resize(0);
    for (uint32_t i = 0; i < spheres.count; ++i)
        delete spheres.items[i];
    spheres.Resize(0);
    std::free(faces);
    faces = nullptr;
    faceCount = 0;
    std::free(vertices);
    vertices = nullptr;
    vertexCount = 0;
    std::free(faceGroups);
    faceGroups = nullptr;
    faceGroupCount = 0;
}

bool ColModel::BuildFile(ByteBuffer& out, const char* modelName, ColConvention convention) {
    const bool standard = convention == ColConvention::kStandard;
    out.Reset();
    // The header's counts are 16 bits wide: a model they cannot describe is
    // not written rather than written with a header that disagrees.
    if (spheres.count > 0xFFFF || boxes.count > 0xFFFF || faceCount > 0xFFFF)
        return false;
    uint64_t total = kColHeaderSize + static_cast<uint64_t>(spheres.count) * kSphereBytes +
                     static_cast<uint64_t>(boxes.count) * kBoxBytes +
                     static_cast<uint64_t>(faceCount) * kFaceBytes +
                     static_cast<uint64_t>(vertexCount) * kVertexBytes;
    if (faceGroupCount > 0)
        total += static_cast<uint64_t>(faceGroupCount) * kFaceGroupBytes + 4;
    if (total > UINT32_MAX || !out.Reserve(static_cast<uint32_t>(total)))
        return false;

    // The classic name leaves bytes 28 and 29 alone; the standard one may use
    // byte 28 too, keeping byte 29 as the terminator.
    const size_t nameBytes = standard ? kStandardNameBytes : kNameBytes;
    std::memset(header.name, 0, nameBytes);
    if (modelName != nullptr) {
        size_t n = std::strlen(modelName);
        std::memcpy(header.name, modelName, n < nameBytes ? n : nameBytes);
    }
    if (standard && (spheres.count > 0 || boxes.count > 0 || faceCount > 0))
        header.flags |= kColFlagNotEmpty;
    // The size counts from the end of the size field (standard) or from the
    // end of the fourcc (classic).
    header.size = standard ? kColHeaderSize - 8 : kColHeaderSize - 4;
    uint8_t encoded[kColHeaderSize];
    EncodeColHeader(header, encoded);
    out.Append(encoded, kColHeaderSize);

    if (spheres.count > 0) {
        header.sphereCount = static_cast<uint16_t>(spheres.count);
        uint32_t offset = out.length - 4;
        for (uint32_t i = 0; i < spheres.count; ++i) {
            static const ColSphere kEmpty = {};
            const ColSphere* sphere = spheres.items[i] ? spheres.items[i] : &kEmpty;
            out.Append(sphere->bytes, kSphereBytes);
        }
        header.size += spheres.count * kSphereBytes;
        header.sphereOffset = offset;
    }
    if (boxes.count > 0) {
        header.boxCount = static_cast<uint16_t>(boxes.count);
        uint32_t offset = out.length - 4;
        for (uint32_t i = 0; i < boxes.count; ++i) {
            uint8_t record[kBoxBytes] = {};
            if (boxes.items[i])
                EncodeBox(*boxes.items[i], record);
            out.Append(record, kBoxBytes);
        }
        header.size += boxes.count * kBoxBytes;
        header.boxOffset = offset;
    }
    if (faceGroupCount > 0) {
        header.flags |= kColFlagFaceGroups;
        out.Append(faceGroups, faceGroupCount * kFaceGroupBytes);
        out.AppendU32(faceGroupCount);
        header.size += faceGroupCount * kFaceGroupBytes + 4;
    }
    if (faceCount > 0) {
        header.faceCount = static_cast<uint16_t>(faceCount);
        header.faceOffset = out.length - 4;
        // Encoded straight into the reserved file image.
        if (uint8_t* records = out.Extend(faceCount * kFaceBytes)) {
            for (uint32_t i = 0; i < faceCount; ++i)
                EncodeFace(faces[i], records + kFaceBytes * static_cast<size_t>(i));
        }
        header.size += faceCount * kFaceBytes;
    }
    if (vertexCount > 0) {
        header.vertexOffset = out.length - 4;
        if (uint8_t* records = out.Extend(vertexCount * kVertexBytes)) {
            for (uint32_t i = 0; i < vertexCount; ++i)
                EncodeVertex(vertices[i], records + kVertexBytes * static_cast<size_t>(i));
        }
        header.size += vertexCount * kVertexBytes;
    }
    // Rewrite the header in place now that sizes, counts and offsets are known.
    out.Rewind();
    EncodeColHeader(header, encoded);
    out.Append(encoded, kColHeaderSize);
    if (out.failed || out.length != total) {
        out.Reset();
        return false;
    }
    return true;
}

int32_t ColModel::WriteFile(const char* path, const char* modelName, ColConvention convention) {
    ByteBuffer out;
    if (!BuildFile(out, modelName, convention))
        return 0;
    uint32_t written = out.SaveFile(path);
    out.Release();
    return static_cast<int32_t>(written > INT32_MAX ? INT32_MAX : written);
}

int32_t ComputeGeometryBounds(const Geometry& geometry, float min[3], float max[3]) {
    for (int k = 0; k < 3; ++k) {
        min[k] = 100000.0f;
        max[k] = -100000.0f;
    }
    if (geometry.positions == nullptr)
        return 0;
    for (int32_t i = 0; i < geometry.vertexCount; ++i) {
        float p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = Geometry::FloatAt(geometry.positions, 3 * static_cast<size_t>(i) + k);
        for (int k = 0; k < 3; ++k) {
            if (p[k] < min[k])
                min[k] = p[k];
        }
        for (int k = 0; k < 3; ++k) {
            if (p[k] > max[k])
                max[k] = p[k];
        }
    }
    return 1;
}

int32_t ColModel::GenerateEmpty(const Geometry& geometry) {
    ComputeGeometryBounds(geometry, header.boundsMin, header.boundsMax);
    // Bit for bit: a copy through memory keeps any NaN payload as it is.
    std::memcpy(&header.sphereRadius, &geometry.boundingSphere[3], sizeof(float));
    return 1;
}

int32_t ColModel::GenerateBox(const Geometry& geometry) {
    GenerateEmpty(geometry);
    ColBox* box = new (std::nothrow) ColBox();
    if (box == nullptr)
        return 0;
    std::memcpy(box->min, header.boundsMin, sizeof box->min);
    std::memcpy(box->max, header.boundsMax, sizeof box->max);
    box->surface = {0, 0, 255, 255};
    if (boxes.Add(box) < 0) {
        delete box;
        return 0;
    }
    return 1;
}

// Scales a coordinate to 1/128 units, truncating toward zero. False when the
// result does not fit a 16-bit vertex or is not a number.
static bool ScaleCoordinate(float value, int16_t* out) {
    float scaled = std::trunc(value * 128.0f);
    if (!(scaled >= -32768.0f && scaled <= 32767.0f))
        return false;
    *out = static_cast<int16_t>(scaled);
    return true;
}

int32_t ColModel::GenerateMesh(const Geometry& geometry) {
    GenerateEmpty(geometry);
    if (geometry.hasPositions == 0)
        return 0;
    const uint32_t triangleTotal =
        geometry.triangleCount > 0 ? static_cast<uint32_t>(geometry.triangleCount) : 0;
    const uint32_t vertexTotal =
        geometry.vertexCount > 0 ? static_cast<uint32_t>(geometry.vertexCount) : 0;
    if (triangleTotal > 0xFFFF)
        return 0;
    if (triangleTotal > 0 && geometry.triangles == nullptr)
        return 0;
    if (vertexTotal > 0 && geometry.positions == nullptr)
        return 0;

    ColFace* newFaces =
        static_cast<ColFace*>(std::calloc(triangleTotal > 0 ? triangleTotal : 1, sizeof(ColFace)));
    ColVertex* newVertices =
        static_cast<ColVertex*>(std::calloc(vertexTotal > 0 ? vertexTotal : 1, sizeof(ColVertex)));
    bool ok = newFaces != nullptr && newVertices != nullptr;
    for (uint32_t i = 0; ok && i < triangleTotal; ++i) {
        const uint8_t* t = geometry.triangles + 8 * static_cast<size_t>(i);
        uint16_t first = LoadU16(t), second = LoadU16(t + 2), third = LoadU16(t + 6);
        // A face naming a vertex that is not written would point outside the
        // vertex section of the file.
        if (first >= vertexTotal || second >= vertexTotal || third >= vertexTotal) {
            ok = false;
            break;
        }
        newFaces[i] = {third, first, second, 0, 255};
    }
    for (uint32_t i = 0; ok && i < vertexTotal; ++i) {
        float p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = Geometry::FloatAt(geometry.positions, 3 * static_cast<size_t>(i) + k);
        ok = ScaleCoordinate(p[0], &newVertices[i].x) && ScaleCoordinate(p[1], &newVertices[i].y) &&
             ScaleCoordinate(p[2], &newVertices[i].z);
    }
    if (!ok) {
        std::free(newFaces);
        std::free(newVertices);
        return 0;
    }
    std::free(faces);
    faces = newFaces;
    faceCount = triangleTotal;
    std::free(vertices);
    vertices = newVertices;
    vertexCount = vertexTotal;
    return 1;
}

bool LooksLikeColFile(const uint8_t* bytes, uint32_t length) {
    if (bytes == nullptr || length < 4)
        return false;
    if (bytes[0] != 'C' || bytes[1] != 'O' || bytes[2] != 'L')
        return false;
    const uint8_t version = bytes[3];
    return version == 'L' || version == '2' || version == '3' || version == '4';
}

}  // namespace brennix
