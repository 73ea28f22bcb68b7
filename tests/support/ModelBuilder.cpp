#include "support/ModelBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

#include "support/ColBuilder.h"

namespace brennix::test {

// ---------------------------------------------------------------------------
// Byte helpers

void PutU8(Bytes& out, uint8_t value) {
    out.push_back(value);
}

void PutU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutI16(Bytes& out, int16_t value) {
    PutU16(out, static_cast<uint16_t>(value));
}

void PutU32(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 16) & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 24));
}

void PutI32(Bytes& out, int32_t value) {
    PutU32(out, static_cast<uint32_t>(value));
}

void PutF32(Bytes& out, float value) {
    PutU32(out, FloatBits(value));
}

void PutBytes(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutBytes(Bytes& out, const uint8_t* bytes, size_t count) {
    out.insert(out.end(), bytes, bytes + count);
}

void PutString(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

void PutFixedString(Bytes& out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
    }
}

namespace {

void NeedBytes(const Bytes& in, size_t offset, size_t count) {
    if (offset > in.size() || count > in.size() - offset) {
        throw std::out_of_range("read of " + std::to_string(count) + " bytes at " +
                                std::to_string(offset) + " past " + std::to_string(in.size()));
    }
}

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

uint8_t GetU8(const Bytes& in, size_t offset) {
    NeedBytes(in, offset, 1);
    return in[offset];
}

uint16_t GetU16(const Bytes& in, size_t offset) {
    NeedBytes(in, offset, 2);
    return LoadU16(in.data() + offset);
}

int16_t GetI16(const Bytes& in, size_t offset) {
    return static_cast<int16_t>(GetU16(in, offset));
}

uint32_t GetU32(const Bytes& in, size_t offset) {
    NeedBytes(in, offset, 4);
    return LoadU32(in.data() + offset);
}

int32_t GetI32(const Bytes& in, size_t offset) {
    return static_cast<int32_t>(GetU32(in, offset));
}

float GetF32(const Bytes& in, size_t offset) {
    return BitsToFloat(GetU32(in, offset));
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float BitsToFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

Bytes Cat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts)
        PutBytes(out, part);
    return out;
}

// ---------------------------------------------------------------------------
// Chunks and entries

Bytes MakeChunk(uint32_t type, const Bytes& payload, uint32_t stamp) {
    if (payload.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("chunk payload does not fit 32 bits");
    }
    return MakeChunkWithSize(type, static_cast<uint32_t>(payload.size()), payload, stamp);
}

Bytes MakeChunkWithSize(uint32_t type, uint32_t declaredSize, const Bytes& payload,
                        uint32_t stamp) {
    Bytes out;
    out.reserve(12 + payload.size());
    PutU32(out, type);
    PutU32(out, declaredSize);
    PutU32(out, stamp);
    PutBytes(out, payload);
    return out;
}

Bytes EncodeEntries(const std::vector<ExtensionEntry>& entries) {
    Bytes out;
    for (const ExtensionEntry& entry : entries) {
        if (entry.declaredSize) {
            PutBytes(out, MakeChunkWithSize(entry.type, *entry.declaredSize, entry.payload,
                                            entry.stamp));
        } else {
            PutBytes(out, MakeChunk(entry.type, entry.payload, entry.stamp));
        }
    }
    return out;
}

Bytes MakeExtensionChunk(const std::vector<ExtensionEntry>& entries, uint32_t stamp) {
    return MakeChunk(kChunkExtension, EncodeEntries(entries), stamp);
}

// ---------------------------------------------------------------------------
// Value types

bool operator==(const Vec3& lhs, const Vec3& rhs) {
    return FloatBits(lhs.x) == FloatBits(rhs.x) && FloatBits(lhs.y) == FloatBits(rhs.y) &&
           FloatBits(lhs.z) == FloatBits(rhs.z);
}

bool operator==(const Uv& lhs, const Uv& rhs) {
    return FloatBits(lhs.u) == FloatBits(rhs.u) && FloatBits(lhs.v) == FloatBits(rhs.v);
}

bool operator==(const Rgba& lhs, const Rgba& rhs) {
    return lhs.r == rhs.r && lhs.g == rhs.g && lhs.b == rhs.b && lhs.a == rhs.a;
}

bool operator==(const Triangle& lhs, const Triangle& rhs) {
    return lhs.v1 == rhs.v1 && lhs.v2 == rhs.v2 && lhs.materialIndex == rhs.materialIndex &&
           lhs.v3 == rhs.v3;
}

bool operator==(const Sphere& lhs, const Sphere& rhs) {
    return FloatBits(lhs.x) == FloatBits(rhs.x) && FloatBits(lhs.y) == FloatBits(rhs.y) &&
           FloatBits(lhs.z) == FloatBits(rhs.z) && FloatBits(lhs.r) == FloatBits(rhs.r);
}

std::ostream& operator<<(std::ostream& os, const Vec3& value) {
    return os << "(" << value.x << ", " << value.y << ", " << value.z << ")";
}

std::ostream& operator<<(std::ostream& os, const Uv& value) {
    return os << "uv(" << value.u << ", " << value.v << ")";
}

std::ostream& operator<<(std::ostream& os, const Rgba& value) {
    return os << "rgba(" << int(value.r) << ", " << int(value.g) << ", " << int(value.b) << ", "
              << int(value.a) << ")";
}

std::ostream& operator<<(std::ostream& os, const Triangle& value) {
    return os << "tri(" << value.v1 << ", " << value.v2 << ", m" << value.materialIndex << ", "
              << value.v3 << ")";
}

std::ostream& operator<<(std::ostream& os, const Sphere& value) {
    return os << "sphere(" << value.x << ", " << value.y << ", " << value.z << ", r" << value.r
              << ")";
}

Sphere BoundingSphereOf(const std::vector<Vec3>& positions) {
    if (positions.empty())
        return Sphere{};
    Vec3 lo = positions[0];
    Vec3 hi = positions[0];
    for (const Vec3& p : positions) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    Sphere s;
    s.x = (lo.x + hi.x) / 2;
    s.y = (lo.y + hi.y) / 2;
    s.z = (lo.z + hi.z) / 2;
    double radius = 0;
    for (const Vec3& p : positions) {
        const double dx = p.x - s.x;
        const double dy = p.y - s.y;
        const double dz = p.z - s.z;
        radius = std::max(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    s.r = static_cast<float>(radius);
    return s;
}

// ---------------------------------------------------------------------------
// Geometry extension entries

Bytes MakeBinMeshPayload(const std::vector<BinMeshSpec>& meshes, uint32_t flags,
                         std::optional<uint32_t> meshCountOverride,
                         std::optional<uint32_t> indexTotalOverride) {
    uint32_t total = 0;
    for (const BinMeshSpec& mesh : meshes)
        total += static_cast<uint32_t>(mesh.indices.size());
    Bytes out;
    PutU32(out, flags);
    PutU32(out, meshCountOverride.value_or(static_cast<uint32_t>(meshes.size())));
    PutU32(out, indexTotalOverride.value_or(total));
    for (const BinMeshSpec& mesh : meshes) {
        PutU32(out, static_cast<uint32_t>(mesh.indices.size()));
        PutU32(out, mesh.materialIndex);
        for (uint32_t index : mesh.indices)
            PutU32(out, index);
    }
    return out;
}

std::vector<BinMeshSpec> BinMeshesFromTriangles(const std::vector<Triangle>& triangles) {
    std::map<uint16_t, BinMeshSpec> byMaterial;
    for (const Triangle& t : triangles) {
        BinMeshSpec& mesh = byMaterial[t.materialIndex];
        mesh.materialIndex = t.materialIndex;
        mesh.indices.push_back(t.v1);
        mesh.indices.push_back(t.v2);
        mesh.indices.push_back(t.v3);
    }
    std::vector<BinMeshSpec> meshes;
    for (auto& entry : byMaterial)
        meshes.push_back(std::move(entry.second));
    return meshes;
}

ExtensionEntry BinMeshEntry(const std::vector<Triangle>& triangles) {
    return ExtensionEntry{kEntryBinMesh, MakeBinMeshPayload(BinMeshesFromTriangles(triangles))};
}

size_t SkinPayloadSize(uint32_t boneCount, uint32_t usedBoneCount, uint32_t vertexCount) {
    return 16 + size_t{usedBoneCount} + 20 * size_t{vertexCount} + 64 * size_t{boneCount};
}

Bytes MakeSkinPayload(const SkinSpec& skin, uint32_t vertexCount) {
    Bytes out;
    out.reserve(SkinPayloadSize(skin.boneCount, skin.usedBoneCount, vertexCount));
    PutU8(out, skin.boneCount);
    PutU8(out, skin.usedBoneCount);
    PutU8(out, skin.maxWeightsPerVertex);
    PutU8(out, skin.padding);
    if (skin.usedBones.empty()) {
        for (uint32_t i = 0; i < skin.usedBoneCount; ++i)
            PutU8(out, static_cast<uint8_t>(i));
    } else {
        PutBytes(out, skin.usedBones);
    }
    if (skin.vertexBoneIndices.empty()) {
        for (uint32_t v = 0; v < vertexCount; ++v) {
            PutU8(out, static_cast<uint8_t>(skin.boneCount ? v % skin.boneCount : 0));
            PutU8(out, 0);
            PutU8(out, 0);
            PutU8(out, 0);
        }
    } else {
        PutBytes(out, skin.vertexBoneIndices);
    }
    if (skin.vertexBoneWeights.empty()) {
        for (uint32_t v = 0; v < vertexCount; ++v) {
            PutF32(out, 1.0f);
            PutF32(out, 0.0f);
            PutF32(out, 0.0f);
            PutF32(out, 0.0f);
        }
    } else {
        for (float w : skin.vertexBoneWeights)
            PutF32(out, w);
    }
    if (skin.olderLayout) {
        // No used bones (the count is 0), a marker before each matrix.
        for (uint32_t b = 0; b < skin.boneCount; ++b) {
            PutU32(out, 0xDEADDEADu);
            for (int i = 0; i < 16; ++i)
                PutF32(out, (i % 5 == 0) ? 1.0f : 0.0f);
        }
        if (skin.olderTrailer)
            for (uint32_t word : skin.trailer)
                PutU32(out, word);
        return out;
    }
    if (skin.inverseBoneMatrices.empty()) {
        for (uint32_t b = 0; b < skin.boneCount; ++b) {
            for (int i = 0; i < 16; ++i)
                PutF32(out, (i % 5 == 0) ? 1.0f : 0.0f);
        }
    } else {
        for (float m : skin.inverseBoneMatrices)
            PutF32(out, m);
    }
    for (uint32_t word : skin.trailer)
        PutU32(out, word);
    return out;
}

ExtensionEntry SkinEntry(const SkinSpec& skin, uint32_t vertexCount) {
    return ExtensionEntry{kEntrySkin, MakeSkinPayload(skin, vertexCount)};
}

Bytes MakeNightColoursPayload(const std::vector<Rgba>& colours, uint32_t leadingWord) {
    Bytes out;
    out.reserve(4 + 4 * colours.size());
    PutU32(out, leadingWord);
    for (const Rgba& c : colours) {
        PutU8(out, c.r);
        PutU8(out, c.g);
        PutU8(out, c.b);
        PutU8(out, c.a);
    }
    return out;
}

ExtensionEntry NightColoursEntry(const std::vector<Rgba>& colours, uint32_t leadingWord) {
    return ExtensionEntry{kEntryNightColours, MakeNightColoursPayload(colours, leadingWord)};
}

ExtensionEntry FrameNameEntry(const std::string& name) {
    Bytes payload;
    PutString(payload, name);
    return ExtensionEntry{kEntryFrameName, payload};
}

ExtensionEntry HAnimEntry(int32_t nodeId) {
    Bytes payload;
    PutU32(payload, 0x100);  // version
    PutI32(payload, nodeId);
    PutU32(payload, 0);  // no hierarchy attached to this frame
    return ExtensionEntry{kEntryHAnim, payload};
}

ExtensionEntry CollisionEntry(const Bytes& col3File) {
    return ExtensionEntry{kEntryCollision, col3File};
}

// ---------------------------------------------------------------------------
// Materials

namespace {

Bytes StringPayload(const std::string& text, bool pad) {
    Bytes out;
    PutString(out, text);
    if (pad) {
        out.push_back(0);
        while (out.size() % 4 != 0)
            out.push_back(0);
    }
    return out;
}

}  // namespace

TextureSpec MakeTexture(const std::string& name, const std::string& maskName) {
    TextureSpec t;
    t.name = name;
    t.maskName = maskName;
    return t;
}

MaterialSpec MakeMaterial(const std::string& textureName) {
    MaterialSpec m;
    if (!textureName.empty())
        m.textures.push_back(MakeTexture(textureName));
    return m;
}

Bytes EncodeTextureChunk(const TextureSpec& texture, uint32_t stamp) {
    if (texture.raw)
        return *texture.raw;
    Bytes word;
    PutU32(word, texture.textureWord);
    Bytes payload;
    PutBytes(payload,
             MakeChunkWithSize(kChunkStruct, texture.structDeclaredSize.value_or(4), word, stamp));
    PutBytes(payload,
             MakeChunk(texture.nameType, StringPayload(texture.name, texture.padNames), stamp));
    PutBytes(payload,
             MakeChunk(texture.maskType, StringPayload(texture.maskName, texture.padNames), stamp));
    PutBytes(payload, MakeChunkWithSize(texture.closingType,
                                        texture.closingDeclaredSize.value_or(
                                            static_cast<uint32_t>(texture.closingPayload.size())),
                                        texture.closingPayload, stamp));
    return MakeChunk(texture.chunkType, payload, stamp);
}

Bytes EncodeMaterialChunk(const MaterialSpec& material, uint32_t stamp) {
    if (material.raw)
        return *material.raw;
    Bytes body;
    if (material.structPayloadOverride) {
        body = *material.structPayloadOverride;
    } else {
        std::array<uint32_t, 7> words = material.words;
        words[3] =
            material.textureCountOverride.value_or(static_cast<uint32_t>(material.textures.size()));
        for (uint32_t word : words)
            PutU32(body, word);
    }
    Bytes payload = MakeChunk(kChunkStruct, body, stamp);
    for (const TextureSpec& texture : material.textures) {
        PutBytes(payload, EncodeTextureChunk(texture, stamp));
    }
    const Bytes entries = EncodeEntries(material.extensions);
    PutBytes(payload, MakeChunkWithSize(material.extensionType,
                                        material.extensionDeclaredSize.value_or(
                                            static_cast<uint32_t>(entries.size())),
                                        entries, stamp));
    return MakeChunk(kChunkMaterial, payload, stamp);
}

Bytes EncodeMaterialListChunk(const std::vector<MaterialSpec>& materials,
                              std::optional<uint32_t> countOverride, uint32_t stamp) {
    Bytes body;
    PutU32(body, countOverride.value_or(static_cast<uint32_t>(materials.size())));
    for (size_t i = 0; i < materials.size(); ++i)
        PutI32(body, -1);  // each material is its own
    Bytes payload = MakeChunk(kChunkStruct, body, stamp);
    for (const MaterialSpec& material : materials)
        PutBytes(payload, EncodeMaterialChunk(material, stamp));
    return MakeChunk(kChunkMaterialList, payload, stamp);
}

// ---------------------------------------------------------------------------
// Geometry

bool GeometrySpec::WritesLightingBlock() const {
    return lightingBlockOverride.value_or((stamp >> 16) < 0x1000);
}

int32_t GeometrySpec::VertexCount() const {
    if (vertexCountOverride)
        return *vertexCountOverride;
    size_t n = 0;
    if (!positions.empty()) {
        n = positions.size();
    } else if (!normals.empty()) {
        n = normals.size();
    } else if (!prelit.empty()) {
        n = prelit.size();
    } else if (!uvSets.empty()) {
        n = uvSets[0].size();
    }
    return static_cast<int32_t>(n);
}

int32_t GeometrySpec::TriangleCount() const {
    return triangleCountOverride.value_or(static_cast<int32_t>(triangles.size()));
}

Bytes EncodeGeometryStructBody(const GeometrySpec& g) {
    Bytes out;
    size_t uvCount = 0;
    for (const auto& set : g.uvSets)
        uvCount += set.size();
    out.reserve(40 + 4 * g.prelit.size() + 8 * uvCount + 8 * g.triangles.size() +
                12 * (g.positions.size() + g.normals.size()));
    PutU16(out, g.formatFlags);
    PutU16(out, g.formatHigh);
    PutI32(out, g.TriangleCount());
    PutI32(out, g.VertexCount());
    PutU32(out, g.morphTargetCount);
    if (g.WritesLightingBlock()) {
        for (float value : g.lighting)
            PutF32(out, value);
    }
    for (const Rgba& c : g.prelit) {
        PutU8(out, c.r);
        PutU8(out, c.g);
        PutU8(out, c.b);
        PutU8(out, c.a);
    }
    for (const auto& set : g.uvSets) {
        for (const Uv& uv : set) {
            PutF32(out, uv.u);
            PutF32(out, uv.v);
        }
    }
    for (const Triangle& t : g.triangles) {
        PutU16(out, t.v1);
        PutU16(out, t.v2);
        PutU16(out, t.materialIndex);
        PutU16(out, t.v3);
    }
    PutF32(out, g.sphere.x);
    PutF32(out, g.sphere.y);
    PutF32(out, g.sphere.z);
    PutF32(out, g.sphere.r);
    PutU32(out, g.hasPositions);
    PutU32(out, g.hasNormals);
    for (const Vec3& p : g.positions) {
        PutF32(out, p.x);
        PutF32(out, p.y);
        PutF32(out, p.z);
    }
    for (const Vec3& n : g.normals) {
        PutF32(out, n.x);
        PutF32(out, n.y);
        PutF32(out, n.z);
    }
    return out;
}

Bytes EncodeGeometryChunk(const GeometrySpec& g) {
    Bytes body = EncodeGeometryStructBody(g);
    if (g.structBodyLength)
        body.resize(*g.structBodyLength, 0);
    Bytes payload = MakeChunkWithSize(
        g.structType, g.structDeclaredSize.value_or(static_cast<uint32_t>(body.size())), body,
        g.stamp);
    if (g.materialListRaw) {
        PutBytes(payload, *g.materialListRaw);
    } else {
        PutBytes(payload, EncodeMaterialListChunk(g.materials, g.materialCountOverride, g.stamp));
    }
    if (g.extensionRaw) {
        PutBytes(payload, *g.extensionRaw);
    } else {
        const Bytes entries = EncodeEntries(g.extensions);
        PutBytes(payload, MakeChunkWithSize(kChunkExtension,
                                            g.extensionDeclaredSize.value_or(
                                                static_cast<uint32_t>(entries.size())),
                                            entries, g.stamp));
    }
    PutBytes(payload, g.trailing);
    if (g.declaredSize)
        return MakeChunkWithSize(kChunkGeometry, *g.declaredSize, payload, g.stamp);
    return MakeChunk(kChunkGeometry, payload, g.stamp);
}

Bytes MakeGeometryListPayload(const std::vector<Bytes>& geometryChunks, uint32_t count) {
    Bytes body;
    PutU32(body, count);
    Bytes payload = MakeChunk(kChunkStruct, body);
    for (const Bytes& chunk : geometryChunks)
        PutBytes(payload, chunk);
    return payload;
}

Bytes EncodeGeometryListPayload(const GeometryListSpec& list) {
    Bytes payload;
    if (list.structPayloadOverride) {
        payload = MakeChunk(kChunkStruct, *list.structPayloadOverride);
    } else {
        Bytes body;
        PutU32(body, list.countOverride.value_or(static_cast<uint32_t>(list.geometries.size())));
        payload = MakeChunk(kChunkStruct, body);
    }
    for (const GeometrySpec& g : list.geometries)
        PutBytes(payload, EncodeGeometryChunk(g));
    PutBytes(payload, list.trailing);
    return payload;
}

// ---------------------------------------------------------------------------
// Frames

FrameSpec MakeFrame(const std::string& name, int32_t parent) {
    FrameSpec f;
    f.parent = parent;
    if (!name.empty())
        f.extensions.push_back(FrameNameEntry(name));
    return f;
}

Bytes EncodeFrameListPayload(const FrameListSpec& list) {
    Bytes body;
    PutU32(body, list.countOverride.value_or(static_cast<uint32_t>(list.frames.size())));
    for (const FrameSpec& f : list.frames) {
        if (f.rawRecord) {
            PutBytes(body, f.rawRecord->data(), f.rawRecord->size());
            continue;
        }
        for (float value : f.rotation)
            PutF32(body, value);
        for (float value : f.position)
            PutF32(body, value);
        PutI32(body, f.parent);
        PutU32(body, f.matrixFlags);
    }
    Bytes payload = MakeChunk(list.structType, body);
    for (const FrameSpec& f : list.frames) {
        if (f.hasExtension)
            PutBytes(payload, MakeExtensionChunk(f.extensions));
    }
    PutBytes(payload, list.trailing);
    return payload;
}

// ---------------------------------------------------------------------------
// Clump

Bytes MakeAtomicPayload(uint32_t frameIndex, uint32_t geometryIndex, uint32_t flags) {
    Bytes body;
    PutU32(body, frameIndex);
    PutU32(body, geometryIndex);
    PutU32(body, flags);
    PutU32(body, 0);
    return Cat({MakeChunk(kChunkStruct, body), MakeExtensionChunk({})});
}

Bytes MakeLightPayload() {
    Bytes body;
    PutF32(body, 10.0f);  // radius
    PutF32(body, 1.0f);   // red
    PutF32(body, 0.9f);   // green
    PutF32(body, 0.8f);   // blue
    PutF32(body, 0.0f);   // minus cosine of the cone angle
    PutU16(body, 3);      // flags
    PutU16(body, 0x80);   // light type
    return Cat({MakeChunk(kChunkStruct, body), MakeExtensionChunk({})});
}

Bytes MakeCameraPayload() {
    Bytes body;
    PutF32(body, 1.0f);    // view window x
    PutF32(body, 0.75f);   // view window y
    PutF32(body, 0.0f);    // view offset x
    PutF32(body, 0.0f);    // view offset y
    PutF32(body, 0.1f);    // near plane
    PutF32(body, 100.0f);  // far plane
    PutF32(body, 50.0f);   // fog plane
    PutU32(body, 1);       // perspective
    return Cat({MakeChunk(kChunkStruct, body), MakeExtensionChunk({})});
}

ClumpChild ClumpChild::MakeStruct(uint32_t atomics, uint32_t lights, uint32_t cameras) {
    ClumpChild c;
    c.kind = ClumpChildKind::Struct;
    c.atomicCount = atomics;
    c.lightCount = lights;
    c.cameraCount = cameras;
    return c;
}

ClumpChild ClumpChild::MakeShortStruct(uint32_t atomics) {
    ClumpChild c = MakeStruct(atomics);
    c.shortStruct = true;
    return c;
}

ClumpChild ClumpChild::MakeFrameList(const FrameListSpec& frames) {
    ClumpChild c;
    c.kind = ClumpChildKind::FrameList;
    c.frameList = frames;
    return c;
}

ClumpChild ClumpChild::MakeGeometryList(const GeometryListSpec& list) {
    ClumpChild c;
    c.kind = ClumpChildKind::GeometryList;
    c.geometryList = list;
    return c;
}

ClumpChild ClumpChild::MakeGeometryList(const GeometrySpec& geometry) {
    GeometryListSpec list;
    list.geometries.push_back(geometry);
    return MakeGeometryList(list);
}

ClumpChild ClumpChild::MakeAtomic(const Bytes& payload) {
    ClumpChild c;
    c.kind = ClumpChildKind::Atomic;
    c.rawPayload = payload;
    return c;
}

ClumpChild ClumpChild::MakeExtension(const std::vector<ExtensionEntry>& entries) {
    ClumpChild c;
    c.kind = ClumpChildKind::Extension;
    c.entries = entries;
    return c;
}

ClumpChild ClumpChild::MakeLight(const Bytes& payload) {
    ClumpChild c;
    c.kind = ClumpChildKind::Light;
    c.rawPayload = payload;
    return c;
}

ClumpChild ClumpChild::MakeCamera(const Bytes& payload) {
    ClumpChild c;
    c.kind = ClumpChildKind::Camera;
    c.rawPayload = payload;
    return c;
}

ClumpChild ClumpChild::MakeRaw(uint32_t type, const Bytes& payload) {
    ClumpChild c;
    c.kind = ClumpChildKind::Raw;
    c.rawType = type;
    c.rawPayload = payload;
    return c;
}

uint32_t ClumpChild::ChunkType() const {
    switch (kind) {
        case ClumpChildKind::Struct:
            return kChunkStruct;
        case ClumpChildKind::FrameList:
            return kChunkFrameList;
        case ClumpChildKind::GeometryList:
            return kChunkGeometryList;
        case ClumpChildKind::Atomic:
            return kChunkAtomic;
        case ClumpChildKind::Extension:
            return kChunkExtension;
        case ClumpChildKind::Light:
            return kChunkLight;
        case ClumpChildKind::Camera:
            return kChunkCamera;
        case ClumpChildKind::Raw:
            return rawType;
    }
    return rawType;
}

Bytes EncodeClumpChild(const ClumpChild& child) {
    Bytes payload;
    if (child.rawPayload) {
        payload = *child.rawPayload;
    } else {
        switch (child.kind) {
            case ClumpChildKind::Struct:
                PutU32(payload, child.atomicCount);
                if (!child.shortStruct) {
                    PutU32(payload, child.lightCount);
                    PutU32(payload, child.cameraCount);
                }
                break;
            case ClumpChildKind::FrameList:
                payload = EncodeFrameListPayload(child.frameList);
                break;
            case ClumpChildKind::GeometryList:
                payload = EncodeGeometryListPayload(child.geometryList);
                break;
            case ClumpChildKind::Atomic:
                payload = MakeAtomicPayload();
                break;
            case ClumpChildKind::Extension:
                payload = EncodeEntries(child.entries);
                break;
            case ClumpChildKind::Light:
                payload = MakeLightPayload();
                break;
            case ClumpChildKind::Camera:
                payload = MakeCameraPayload();
                break;
            case ClumpChildKind::Raw:
                break;
        }
    }
    if (child.declaredSize) {
        return MakeChunkWithSize(child.ChunkType(), *child.declaredSize, payload, child.stamp);
    }
    return MakeChunk(child.ChunkType(), payload, child.stamp);
}

ClumpSpec::ClumpSpec() {
    FrameListSpec frames;
    frames.frames.push_back(MakeFrame("canonical"));
    children.push_back(ClumpChild::MakeStruct(1, 0, 0));
    children.push_back(ClumpChild::MakeFrameList(frames));
    children.push_back(ClumpChild::MakeGeometryList(MakeCanonicalGeometry()));
    children.push_back(ClumpChild::MakeAtomic());
    children.push_back(ClumpChild::MakeExtension());
}

ClumpChild* ClumpSpec::FindChild(ClumpChildKind kind, size_t nth) {
    for (ClumpChild& child : children) {
        if (child.kind == kind && nth-- == 0)
            return &child;
    }
    return nullptr;
}

const ClumpChild* ClumpSpec::FindChild(ClumpChildKind kind, size_t nth) const {
    for (const ClumpChild& child : children) {
        if (child.kind == kind && nth-- == 0)
            return &child;
    }
    return nullptr;
}

GeometrySpec& ClumpSpec::FirstGeometry() {
    ClumpChild* list = FindChild(ClumpChildKind::GeometryList);
    if (!list || list->geometryList.geometries.empty()) {
        throw std::logic_error("model description has no geometry");
    }
    return list->geometryList.geometries[0];
}

const GeometrySpec& ClumpSpec::FirstGeometry() const {
    const ClumpChild* list = FindChild(ClumpChildKind::GeometryList);
    if (!list || list->geometryList.geometries.empty()) {
        throw std::logic_error("model description has no geometry");
    }
    return list->geometryList.geometries[0];
}

FrameListSpec& ClumpSpec::Frames() {
    ClumpChild* list = FindChild(ClumpChildKind::FrameList);
    if (!list)
        throw std::logic_error("model description has no frame list");
    return list->frameList;
}

std::vector<ExtensionEntry>& ClumpSpec::ExtensionEntries() {
    ClumpChild* extension = FindChild(ClumpChildKind::Extension);
    if (!extension)
        throw std::logic_error("model description has no clump extension");
    return extension->entries;
}

Bytes BuildModel(const ClumpSpec& model) {
    Bytes payload;
    for (const ClumpChild& child : model.children)
        PutBytes(payload, EncodeClumpChild(child));
    Bytes file;
    if (model.uvAnimDictionary)
        PutBytes(file, MakeChunk(kChunkUvAnimDictionary, *model.uvAnimDictionary));
    if (model.declaredSize) {
        PutBytes(file, MakeChunkWithSize(kChunkClump, *model.declaredSize, payload, model.stamp));
    } else {
        PutBytes(file, MakeChunk(kChunkClump, payload, model.stamp));
    }
    PutBytes(file, model.trailing);
    return file;
}

// ---------------------------------------------------------------------------
// Ready-made models

namespace {

constexpr uint16_t kFullFormat =
    kGeoPositions | kGeoTextured | kGeoPrelit | kGeoNormals | kGeoLit | kGeoModulateColour;

// Corner normals of a box: (+-1, +-1, +-1) normalised.
constexpr float kInvSqrt3 = 0.57735026f;
constexpr float kInvSqrt2 = 0.70710678f;

}  // namespace

GeometrySpec MakeCanonicalGeometry() {
    GeometrySpec g;
    g.formatFlags = kFullFormat;
    g.formatHigh = 1;
    g.positions = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {0, 0, 2}};
    g.normals = {{-kInvSqrt3, -kInvSqrt3, -kInvSqrt3},
                 {kInvSqrt3, -kInvSqrt3, -kInvSqrt3},
                 {kInvSqrt3, kInvSqrt3, -kInvSqrt3},
                 {-kInvSqrt3, kInvSqrt3, -kInvSqrt3},
                 {0, 0, 1}};
    g.prelit = {{200, 10, 10, 255},
                {10, 200, 10, 255},
                {10, 10, 200, 255},
                {200, 200, 10, 128},
                {255, 255, 255, 0}};
    g.uvSets = {{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5f, 0.5f}}};
    g.triangles = {{0, 1, 0, 4}, {1, 2, 0, 4}, {2, 3, 0, 4},
                   {3, 0, 0, 4}, {0, 2, 0, 1}, {0, 3, 0, 2}};
    g.sphere = {0, 0, 1, 1.7320508f};
    g.hasPositions = 1;
    g.hasNormals = 1;
    g.materials = {MakeMaterial("canonical_tex")};
    g.extensions = {BinMeshEntry(g.triangles)};
    return g;
}

ClumpSpec MakeCanonicalModel() {
    return ClumpSpec();
}

GeometrySpec MakeGeometryWithPositions(const std::vector<Vec3>& positions,
                                       const std::vector<Triangle>& triangles) {
    GeometrySpec g;
    g.formatFlags = kGeoPositions;
    g.positions = positions;
    g.triangles = triangles;
    g.sphere = BoundingSphereOf(positions);
    g.hasPositions = 1;
    g.hasNormals = 0;
    g.materials = {MakeMaterial()};
    g.extensions = {BinMeshEntry(triangles)};
    return g;
}

ClumpSpec MakeModelWithPositions(const std::vector<Vec3>& positions,
                                 const std::vector<Triangle>& triangles) {
    ClumpSpec model;
    model.FirstGeometry() = MakeGeometryWithPositions(positions, triangles);
    return model;
}

ClumpSpec MakeBoxModel(Vec3 min, Vec3 max) {
    GeometrySpec g;
    g.formatFlags = kFullFormat;
    g.formatHigh = 1;
    for (int i = 0; i < 8; ++i) {
        const bool hx = (i & 1) != 0;
        const bool hy = (i & 2) != 0;
        const bool hz = (i & 4) != 0;
        g.positions.push_back({hx ? max.x : min.x, hy ? max.y : min.y, hz ? max.z : min.z});
        g.normals.push_back({hx ? kInvSqrt3 : -kInvSqrt3, hy ? kInvSqrt3 : -kInvSqrt3,
                             hz ? kInvSqrt3 : -kInvSqrt3});
        g.prelit.push_back({255, 255, 255, 255});
    }
    g.uvSets = {{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 0}, {1, 0}, {0, 1}, {1, 1}}};
    // Corner i has bit 0 = x, bit 1 = y, bit 2 = z; two triangles per face,
    // wound so that they face outwards.
    g.triangles = {{0, 2, 0, 3}, {0, 3, 0, 1},   // -z
                   {4, 5, 0, 7}, {4, 7, 0, 6},   // +z
                   {0, 1, 0, 5}, {0, 5, 0, 4},   // -y
                   {2, 6, 0, 7}, {2, 7, 0, 3},   // +y
                   {0, 4, 0, 6}, {0, 6, 0, 2},   // -x
                   {1, 3, 0, 7}, {1, 7, 0, 5}};  // +x
    g.sphere = BoundingSphereOf(g.positions);
    g.hasPositions = 1;
    g.hasNormals = 1;
    g.materials = {MakeMaterial("box_tex")};
    g.extensions = {BinMeshEntry(g.triangles)};
    ClumpSpec model;
    model.FirstGeometry() = g;
    return model;
}

ClumpSpec MakeLargeModel(int32_t triangleCount, int32_t vertexCount,
                         const LargeModelOptions& options) {
    const uint32_t v = vertexCount > 0 ? static_cast<uint32_t>(vertexCount) : 0;
    const uint32_t t = triangleCount > 0 ? static_cast<uint32_t>(triangleCount) : 0;
    GeometrySpec g;
    g.formatFlags = kGeoPositions | kGeoLit;
    g.formatHigh = 0;
    g.hasPositions = 1;
    g.positions.reserve(v);
    for (uint32_t i = 0; i < v; ++i) {
        g.positions.push_back({static_cast<float>(i % 1000) * 0.5f - 249.5f,
                               static_cast<float>((i / 1000) % 1000) * 0.5f - 249.5f,
                               static_cast<float>(i % 7) * 0.25f});
    }
    if (options.prelit) {
        g.formatFlags |= kGeoPrelit;
        g.prelit.reserve(v);
        for (uint32_t i = 0; i < v; ++i) {
            g.prelit.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8),
                                static_cast<uint8_t>(i >> 16), 255});
        }
    }
    if (options.uv) {
        g.formatFlags |= kGeoTextured;
        g.formatHigh = 1;
        std::vector<Uv> set;
        set.reserve(v);
        for (uint32_t i = 0; i < v; ++i) {
            set.push_back(
                {static_cast<float>(i % 1000) / 1000.0f, static_cast<float>(i / 1000) / 256.0f});
        }
        g.uvSets.push_back(std::move(set));
    }
    if (options.normals) {
        g.formatFlags |= kGeoNormals;
        g.hasNormals = 1;
        g.normals.assign(v, Vec3{0, 0, 1});
    }
    const uint32_t span = v < 65536 ? v : 65536;
    g.triangles.reserve(t);
    for (uint32_t i = 0; i < t; ++i) {
        Triangle tri;
        if (span > 0) {
            tri.v1 = static_cast<uint16_t>(i % span);
            tri.v2 = static_cast<uint16_t>((i + 1) % span);
            tri.v3 = static_cast<uint16_t>((i + 2) % span);
        }
        g.triangles.push_back(tri);
    }
    g.vertexCountOverride = vertexCount;
    g.triangleCountOverride = triangleCount;
    g.sphere = BoundingSphereOf(g.positions);
    g.materials = {MakeMaterial("large_tex")};
    if (options.binMesh)
        g.extensions.push_back(BinMeshEntry(g.triangles));
    if (options.skin)
        g.extensions.push_back(SkinEntry(SkinSpec(), v));
    if (options.nightColours) {
        std::vector<Rgba> night;
        night.reserve(v);
        for (uint32_t i = 0; i < v; ++i) {
            night.push_back(
                {static_cast<uint8_t>(255 - (i & 0xFF)), static_cast<uint8_t>(i >> 8), 40, 255});
        }
        g.extensions.push_back(NightColoursEntry(night));
    }
    ClumpSpec model;
    model.FirstGeometry() = std::move(g);
    return model;
}

ClumpSpec MakeMultiAtomicModel(const FrameListSpec& frames, const GeometryListSpec& geometries) {
    const uint32_t count = static_cast<uint32_t>(geometries.geometries.size());
    ClumpSpec model;
    model.children = {ClumpChild::MakeStruct(count), ClumpChild::MakeFrameList(frames),
                      ClumpChild::MakeGeometryList(geometries)};
    for (uint32_t i = 0; i < count; ++i)
        model.children.push_back(ClumpChild::MakeAtomic(MakeAtomicPayload(i + 1, i)));
    model.children.push_back(ClumpChild::MakeExtension());
    return model;
}

ClumpSpec MakeTwoGeometryModel() {
    FrameListSpec frames;
    frames.frames = {MakeFrame("root"), MakeFrame("door", 0)};
    GeometryListSpec list;
    list.geometries = {
        MakeCanonicalGeometry(),
        MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}})};
    ClumpSpec model;
    model.children = {ClumpChild::MakeStruct(2, 1),
                      ClumpChild::MakeFrameList(frames),
                      ClumpChild::MakeGeometryList(list),
                      ClumpChild::MakeAtomic(MakeAtomicPayload(0, 0)),
                      ClumpChild::MakeLight(),
                      ClumpChild::MakeAtomic(MakeAtomicPayload(1, 1)),
                      ClumpChild::MakeExtension()};
    return model;
}

ClumpSpec MakeHouseModel() {
    // Walls 8 x 6 x 5 units standing on z = 0, a ridge along x at z = 8.
    // Every number is a literal so the committed sample never depends on
    // floating-point evaluation at run time.
    GeometrySpec g;
    g.formatFlags = kFullFormat;
    g.formatHigh = 1;
    g.positions = {{-4, -3, 0}, {4, -3, 0}, {4, 3, 0}, {-4, 3, 0},  // ground corners
                   {-4, -3, 5}, {4, -3, 5}, {4, 3, 5}, {-4, 3, 5},  // eaves
                   {-4, 0, 8},  {4, 0, 8}};                         // ridge ends
    g.normals = {{-kInvSqrt3, -kInvSqrt3, -kInvSqrt3}, {kInvSqrt3, -kInvSqrt3, -kInvSqrt3},
                 {kInvSqrt3, kInvSqrt3, -kInvSqrt3},   {-kInvSqrt3, kInvSqrt3, -kInvSqrt3},
                 {-kInvSqrt3, -kInvSqrt3, kInvSqrt3},  {kInvSqrt3, -kInvSqrt3, kInvSqrt3},
                 {kInvSqrt3, kInvSqrt3, kInvSqrt3},    {-kInvSqrt3, kInvSqrt3, kInvSqrt3},
                 {-kInvSqrt2, 0, kInvSqrt2},           {kInvSqrt2, 0, kInvSqrt2}};
    g.prelit = {{180, 170, 160, 255}, {180, 170, 160, 255}, {180, 170, 160, 255},
                {180, 170, 160, 255}, {210, 200, 185, 255}, {210, 200, 185, 255},
                {210, 200, 185, 255}, {210, 200, 185, 255}, {150, 60, 50, 255},
                {150, 60, 50, 255}};
    g.uvSets = {{{0, 0},
                 {1, 0},
                 {0, 0},
                 {1, 0},
                 {0, 0.625f},
                 {1, 0.625f},
                 {0, 0.625f},
                 {1, 0.625f},
                 {0, 1},
                 {1, 1}}};
    g.triangles = {
        {0, 2, 0, 1}, {0, 3, 0, 2},  // floor
        {0, 1, 0, 5}, {0, 5, 0, 4},  // front wall
        {1, 2, 0, 6}, {1, 6, 0, 5},  // right wall
        {2, 3, 0, 7}, {2, 7, 0, 6},  // back wall
        {3, 0, 0, 4}, {3, 4, 0, 7},  // left wall
        {4, 5, 0, 9}, {4, 9, 0, 8},  // front roof slope
        {6, 7, 0, 8}, {6, 8, 0, 9},  // back roof slope
        {4, 8, 0, 7}, {5, 6, 0, 9},  // gables
    };
    // Centre above the floor's middle; the ground corners are farthest, at
    // sqrt(4*4 + 3*3 + 4*4).
    g.sphere = {0, 0, 4, 6.4031243f};
    g.hasPositions = 1;
    g.hasNormals = 1;
    g.materials = {MakeMaterial("house_wall")};
    g.extensions = {BinMeshEntry(g.triangles)};

    FrameListSpec frames;
    frames.frames.push_back(MakeFrame("house"));

    ClumpSpec model;
    model.children.clear();
    model.children.push_back(ClumpChild::MakeStruct(1, 0, 0));
    model.children.push_back(ClumpChild::MakeFrameList(frames));
    model.children.push_back(ClumpChild::MakeGeometryList(g));
    model.children.push_back(ClumpChild::MakeAtomic());
    model.children.push_back(ClumpChild::MakeExtension());
    return model;
}

// ---------------------------------------------------------------------------
// COL3

// The earlier layout: spheres, boxes, face groups and their count, faces,
// vertices, the size counted from the end of the tag.
Bytes EncodeCol3(const Col3File& file) {
    if (file.spheres.size() > 0xFFFF || file.boxes.size() > 0xFFFF || file.faces.size() > 0xFFFF) {
        throw std::length_error("COL3 section count does not fit 16 bits");
    }
    // Spheres and face groups are opaque here: their fields are taken from
    // the bytes as they stand, bit for bit.
    auto vec = [](const Bytes& b, size_t at) {
        return Vec3{GetF32(b, at), GetF32(b, at + 4), GetF32(b, at + 8)};
    };
    ColEntryPlan plan;
    plan.version = 3;
    plan.layout = ColLayout::kEarlier;
    plan.name.assign(file.nameField.begin(), file.nameField.begin() + 20);
    plan.modelId = static_cast<uint16_t>(file.modelId);
    plan.boundsMin = {file.boundsMin[0], file.boundsMin[1], file.boundsMin[2]};
    plan.boundsMax = {file.boundsMax[0], file.boundsMax[1], file.boundsMax[2]};
    plan.centre = {file.sphereCentre[0], file.sphereCentre[1], file.sphereCentre[2]};
    plan.radius = file.sphereRadius;
    plan.flags = file.faceGroups.empty() ? 0 : kCol3FlagFaceGroups;
    for (const Col3Sphere& s : file.spheres) {
        const Bytes b(s.begin(), s.end());
        plan.spheres.push_back({vec(b, 0), GetF32(b, 12), {b[16], b[17], b[18], b[19]}});
    }
    for (const Col3Box& b : file.boxes)
        plan.boxes.push_back({{b.min[0], b.min[1], b.min[2]},
                              {b.max[0], b.max[1], b.max[2]},
                              {b.material, b.flag, b.brightness, b.light}});
    for (const Col3FaceGroup& g : file.faceGroups) {
        const Bytes b(g.begin(), g.end());
        plan.faceGroups.push_back({vec(b, 0), vec(b, 12), GetU16(b, 24), GetU16(b, 26)});
    }
    for (const Col3Face& f : file.faces)
        plan.faces.push_back({f.a, f.b, f.c, {f.material, 0, 0, f.light}});
    // Whole steps, which the builder's conversion gives back exactly.
    for (const Col3Vertex& v : file.vertices)
        plan.vertices.push_back({v.x / 128.0f, v.y / 128.0f, v.z / 128.0f});
    return BuildColEntry(plan);
}

Col3File MakeSmallCol3() {
    Col3File f;
    f.SetName("house");
    f.modelId = -1;
    f.boundsMin = {-4, -3, 0};
    f.boundsMax = {4, 3, 8};
    f.sphereRadius = 6.4031243f;
    Col3Box box;
    box.min = {-4, -3, 0};
    box.max = {4, 3, 5};
    box.brightness = 255;
    box.light = 255;
    f.boxes.push_back(box);
    f.vertices = {{-512, -384, 640}, {512, -384, 640}, {512, 384, 640}, {-512, 384, 640}};
    f.faces = {{2, 0, 1, 0, 255}, {3, 0, 2, 0, 255}};
    return f;
}

Bytes MakeCol3File() {
    return EncodeCol3(MakeSmallCol3());
}

// ---------------------------------------------------------------------------
// Files

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

// ---------------------------------------------------------------------------
// Independent parser

namespace {

bool Fail(std::string* whyNot, const std::string& reason) {
    if (whyNot)
        *whyNot = reason;
    return false;
}

std::string Hex(uint32_t value) {
    std::ostringstream os;
    os << "0x" << std::hex << value;
    return os.str();
}

// A forward reader over one payload; every read checks the bytes left first.
class Cursor {
public:
    explicit Cursor(const Bytes& bytes) : bytes_(bytes) {}
    size_t Left() const { return bytes_.size() - at_; }
    size_t At() const { return at_; }
    bool U8(uint8_t* v) {
        if (Left() < 1)
            return false;
        *v = bytes_[at_++];
        return true;
    }
    bool U16(uint16_t* v) {
        if (Left() < 2)
            return false;
        *v = LoadU16(bytes_.data() + at_);
        at_ += 2;
        return true;
    }
    bool U32(uint32_t* v) {
        if (Left() < 4)
            return false;
        *v = LoadU32(bytes_.data() + at_);
        at_ += 4;
        return true;
    }
    bool I32(int32_t* v) {
        uint32_t u;
        if (!U32(&u))
            return false;
        *v = static_cast<int32_t>(u);
        return true;
    }
    bool F32(float* v) {
        uint32_t u;
        if (!U32(&u))
            return false;
        *v = BitsToFloat(u);
        return true;
    }
    bool Vec(Vec3* v) { return F32(&v->x) && F32(&v->y) && F32(&v->z); }

private:
    const Bytes& bytes_;
    size_t at_ = 0;
};

bool ReadChunkAt(const Bytes& data, size_t offset, ChunkView* out, std::string* whyNot) {
    if (offset > data.size() || data.size() - offset < 12) {
        return Fail(whyNot, "chunk header at " + std::to_string(offset) + " is cut short");
    }
    const uint8_t* p = data.data() + offset;
    out->type = LoadU32(p);
    out->size = LoadU32(p + 4);
    out->stamp = LoadU32(p + 8);
    out->offset = offset;
    if (out->size > data.size() - offset - 12) {
        return Fail(whyNot, "chunk " + Hex(out->type) + " at " + std::to_string(offset) +
                                " declares " + std::to_string(out->size) + " bytes, only " +
                                std::to_string(data.size() - offset - 12) + " remain");
    }
    out->payload.assign(p + 12, p + 12 + out->size);
    return true;
}

std::string NameFrom(const Bytes& payload) {
    size_t n = 0;
    while (n < payload.size() && payload[n] != 0)
        ++n;
    return std::string(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
}

bool ParseMaterial(const ChunkView& chunk, MaterialView* out, std::string* whyNot) {
    std::vector<ChunkView> parts;
    if (!SplitChunks(chunk.payload, &parts, whyNot))
        return false;
    if (parts.empty() || parts[0].type != kChunkStruct || parts[0].size != 28) {
        return Fail(whyNot, "material does not begin with a 28-byte Struct");
    }
    for (size_t i = 0; i < 7; ++i)
        out->words[i] = GetU32(parts[0].payload, 4 * i);
    const uint32_t textureCount = out->words[3];
    if (parts.size() != size_t{textureCount} + 2) {
        return Fail(whyNot, "material declares " + std::to_string(textureCount) +
                                " textures but holds " + std::to_string(parts.size()) + " chunks");
    }
    for (uint32_t i = 0; i < textureCount; ++i) {
        const ChunkView& texture = parts[1 + i];
        if (texture.type != kChunkTexture)
            return Fail(whyNot, "material child is not a Texture");
        std::vector<ChunkView> fields;
        if (!SplitChunks(texture.payload, &fields, whyNot))
            return false;
        if (fields.size() != 4 || fields[0].type != kChunkStruct || fields[0].size != 4 ||
            fields[1].type != kChunkString || fields[2].type != kChunkString) {
            return Fail(whyNot, "texture is not Struct, String, String, closing chunk");
        }
        TextureView view;
        view.textureWord = GetU32(fields[0].payload, 0);
        view.name = NameFrom(fields[1].payload);
        view.maskName = NameFrom(fields[2].payload);
        view.closingType = fields[3].type;
        out->textures.push_back(view);
    }
    const ChunkView& extension = parts.back();
    if (extension.type != kChunkExtension)
        return Fail(whyNot, "material does not end with an Extension");
    return SplitChunks(extension.payload, &out->extensions, whyNot);
}

}  // namespace

Bytes ChunkView::Encoded() const {
    return MakeChunkWithSize(type, size, payload, stamp);
}

bool SplitChunks(const Bytes& data, std::vector<ChunkView>* out, std::string* whyNot) {
    out->clear();
    size_t offset = 0;
    while (offset < data.size()) {
        ChunkView chunk;
        if (!ReadChunkAt(data, offset, &chunk, whyNot))
            return false;
        offset += 12 + size_t{chunk.size};
        out->push_back(std::move(chunk));
    }
    return true;
}

const ChunkView* ClumpView::Find(uint32_t type, size_t nth) const {
    for (const ChunkView& child : children) {
        if (child.type == type && nth-- == 0)
            return &child;
    }
    return nullptr;
}

std::vector<uint32_t> ClumpView::ChildTypes() const {
    std::vector<uint32_t> types;
    for (const ChunkView& child : children)
        types.push_back(child.type);
    return types;
}

bool ParseClump(const Bytes& file, ClumpView* out, std::string* whyNot) {
    *out = ClumpView();
    size_t offset = 0;
    ChunkView first;
    if (!ReadChunkAt(file, 0, &first, whyNot))
        return false;
    if (first.type == kChunkUvAnimDictionary) {
        out->hasUvAnimDictionary = true;
        offset = 12 + size_t{first.size};
        if (!ReadChunkAt(file, offset, &first, whyNot))
            return false;
    }
    if (first.type != kChunkClump)
        return Fail(whyNot, "first chunk is " + Hex(first.type) + ", not a Clump");
    out->clump = std::move(first);
    out->trailingBytes = file.size() - offset - 12 - out->clump.size;
    return SplitChunks(out->clump.payload, &out->children, whyNot);
}

bool ParseMaterialList(const ChunkView& list, std::vector<MaterialView>* out, std::string* whyNot) {
    out->clear();
    if (list.type != kChunkMaterialList)
        return Fail(whyNot, "not a Material List chunk");
    std::vector<ChunkView> parts;
    if (!SplitChunks(list.payload, &parts, whyNot))
        return false;
    if (parts.empty() || parts[0].type != kChunkStruct || parts[0].size < 4) {
        return Fail(whyNot, "material list does not begin with a Struct");
    }
    const uint32_t count = GetU32(parts[0].payload, 0);
    if (parts[0].size != 4 + 4 * size_t{count}) {
        return Fail(whyNot, "material list Struct size disagrees with its count");
    }
    if (parts.size() != size_t{count} + 1) {
        return Fail(whyNot, "material list declares " + std::to_string(count) +
                                " materials but holds " + std::to_string(parts.size() - 1));
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].type != kChunkMaterial)
            return Fail(whyNot, "material list child is not a Material");
        MaterialView material;
        if (!ParseMaterial(parts[i], &material, whyNot))
            return false;
        out->push_back(std::move(material));
    }
    return true;
}

const ChunkView* GeometryView::FindEntry(uint32_t type, size_t nth) const {
    for (const ChunkView& entry : extensionEntries) {
        if (entry.type == type && nth-- == 0)
            return &entry;
    }
    return nullptr;
}

bool ParseGeometryChunk(const ChunkView& geometry, GeometryView* out, std::string* whyNot,
                        const ViewOptions& options) {
    const uint32_t geometryCount = out->geometryCount;
    *out = GeometryView();
    out->geometryCount = geometryCount;
    if (geometry.type != kChunkGeometry)
        return Fail(whyNot, "not a Geometry chunk");
    out->stamp = geometry.stamp;

    std::vector<ChunkView> parts;
    if (!SplitChunks(geometry.payload, &parts, whyNot))
        return false;
    if (parts.size() < 3 || parts[0].type != kChunkStruct || parts[1].type != kChunkMaterialList ||
        parts[2].type != kChunkExtension) {
        return Fail(whyNot, "geometry does not hold Struct, Material List, Extension");
    }
    out->structSize = parts[0].size;

    Cursor in(parts[0].payload);
    if (!in.U16(&out->formatFlags) || !in.U16(&out->formatHigh) || !in.I32(&out->triangleCount) ||
        !in.I32(&out->vertexCount) || !in.U32(&out->morphTargetCount)) {
        return Fail(whyNot, "geometry head is cut short");
    }
    out->hasLightingBlock = (geometry.stamp >> 16) < 0x1000;
    if (out->hasLightingBlock) {
        for (float& value : out->lighting) {
            if (!in.F32(&value))
                return Fail(whyNot, "lighting block is cut short");
        }
    }
    if (out->triangleCount < 0 || out->vertexCount < 0)
        return Fail(whyNot, "negative count");
    const size_t v = static_cast<size_t>(out->vertexCount);
    const size_t t = static_cast<size_t>(out->triangleCount);
    // Each section is checked against the bytes left before it is read, so a
    // lying count fails here instead of reading past the Struct.
    if (out->formatFlags & kGeoPrelit) {
        if (in.Left() / 4 < v)
            return Fail(whyNot, "day colours are cut short");
        out->prelit.resize(v);
        for (Rgba& c : out->prelit) {
            in.U8(&c.r);
            in.U8(&c.g);
            in.U8(&c.b);
            in.U8(&c.a);
        }
    }
    if (out->formatFlags & (kGeoTextured | kGeoTextured2)) {
        size_t sets = 1;
        if (options.uvSetsFromFormatHigh && (out->formatHigh & 0xFF) != 0)
            sets = out->formatHigh & 0xFF;
        for (size_t s = 0; s < sets; ++s) {
            if (in.Left() / 8 < v)
                return Fail(whyNot, "texture coordinates are cut short");
            std::vector<Uv> set(v);
            for (Uv& uv : set) {
                in.F32(&uv.u);
                in.F32(&uv.v);
            }
            out->uvSets.push_back(std::move(set));
        }
    }
    if (in.Left() / 8 < t)
        return Fail(whyNot, "triangles are cut short");
    out->triangles.resize(t);
    for (Triangle& tri : out->triangles) {
        in.U16(&tri.v1);
        in.U16(&tri.v2);
        in.U16(&tri.materialIndex);
        in.U16(&tri.v3);
    }
    if (!in.F32(&out->sphere.x) || !in.F32(&out->sphere.y) || !in.F32(&out->sphere.z) ||
        !in.F32(&out->sphere.r) || !in.U32(&out->hasPositions) || !in.U32(&out->hasNormals)) {
        return Fail(whyNot, "bounding sphere or position words are cut short");
    }
    if (out->hasPositions != 0) {
        if (in.Left() / 12 < v)
            return Fail(whyNot, "positions are cut short");
        out->positions.resize(v);
        for (Vec3& p : out->positions)
            in.Vec(&p);
    }
    if (out->formatFlags & kGeoNormals) {
        if (in.Left() / 12 < v)
            return Fail(whyNot, "normals are cut short");
        out->normals.resize(v);
        for (Vec3& n : out->normals)
            in.Vec(&n);
    }
    if (in.Left() != 0) {
        return Fail(whyNot,
                    std::to_string(in.Left()) + " stray bytes at the end of the geometry Struct");
    }

    out->materialListChunk = parts[1].Encoded();
    if (parts[1].payload.size() >= 16 && GetU32(parts[1].payload, 0) == kChunkStruct) {
        out->materialCount = GetU32(parts[1].payload, 12);
    }
    std::string materialWhy;
    out->materialsParsed = ParseMaterialList(parts[1], &out->materials, &materialWhy);
    if (!out->materialsParsed && options.requireWellFormedMaterials) {
        return Fail(whyNot, "material list: " + materialWhy);
    }

    out->extension = parts[2];
    std::string entryWhy;
    out->entriesParsed = SplitChunks(parts[2].payload, &out->extensionEntries, &entryWhy);
    if (!out->entriesParsed && options.requireWellFormedEntries) {
        return Fail(whyNot, "geometry extension: " + entryWhy);
    }
    out->extraChunks.assign(parts.begin() + 3, parts.end());
    return true;
}

bool ParseFirstGeometry(const Bytes& file, GeometryView* out, std::string* whyNot,
                        const ViewOptions& options) {
    ClumpView clump;
    if (!ParseClump(file, &clump, whyNot))
        return false;
    const ChunkView* list = clump.Find(kChunkGeometryList);
    if (!list)
        return Fail(whyNot, "clump has no Geometry List");
    std::vector<ChunkView> parts;
    if (!SplitChunks(list->payload, &parts, whyNot))
        return false;
    if (parts.size() < 2 || parts[0].type != kChunkStruct || parts[0].size != 4) {
        return Fail(whyNot, "geometry list does not hold a 4-byte Struct and a geometry");
    }
    *out = GeometryView();
    out->geometryCount = GetU32(parts[0].payload, 0);
    return ParseGeometryChunk(parts[1], out, whyNot, options);
}

bool DecodeNightColours(const Bytes& payload, uint32_t vertexCount, std::vector<Rgba>* colours,
                        uint32_t* leadingWord) {
    if (payload.size() < 4 || (payload.size() - 4) / 4 != vertexCount ||
        (payload.size() - 4) % 4 != 0) {
        return false;
    }
    if (leadingWord)
        *leadingWord = LoadU32(payload.data());
    colours->resize(vertexCount);
    for (size_t i = 0; i < vertexCount; ++i) {
        const uint8_t* p = payload.data() + 4 + 4 * i;
        (*colours)[i] = Rgba{p[0], p[1], p[2], p[3]};
    }
    return true;
}

bool DecodeBinMesh(const Bytes& payload, uint32_t* flags, std::vector<BinMeshSpec>* meshes,
                   uint32_t* indexTotal) {
    Cursor in(payload);
    uint32_t meshCount = 0;
    uint32_t total = 0;
    if (!in.U32(flags) || !in.U32(&meshCount) || !in.U32(&total))
        return false;
    meshes->clear();
    for (uint32_t m = 0; m < meshCount; ++m) {
        BinMeshSpec mesh;
        uint32_t count = 0;
        if (!in.U32(&count) || !in.U32(&mesh.materialIndex))
            return false;
        if (in.Left() / 4 < count)
            return false;
        mesh.indices.resize(count);
        for (uint32_t& index : mesh.indices)
            in.U32(&index);
        meshes->push_back(std::move(mesh));
    }
    if (indexTotal)
        *indexTotal = total;
    return in.Left() == 0;
}

}  // namespace brennix::test
