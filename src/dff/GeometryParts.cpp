// Reading a geometry's material list and its extension entries, and the
// check that an Extension about to be written reads back the same way.
#include <cstdlib>
#include <cstring>
#include <new>

#include "dff/DffModel.h"
#include "dff/GeometryPieces.h"
#include "dff/ReadArray.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

struct EntryHeader {
    uint32_t type;
    uint32_t size;
};

template <typename Source>
EntryHeader ReadHeader(Source& payload) {
    uint8_t bytes[kChunkHeaderSize];
    payload.Read(bytes, kChunkHeaderSize);
    return {LoadU32(bytes), LoadU32(bytes + 4)};
}

bool IsMaterialEntry(uint32_t type) {
    return type == 0x253F2FC || type == 0x253F2F6 || type == 0x120 || type == 0x135;
}

}  // namespace

bool Geometry::ReadMaterialList(ByteBuffer& payload) {
    bool outOfMemory = false;
    materialListChunk = ReadChunk(payload, &outOfMemory);
    if (outOfMemory) {
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    if (materialListChunk == nullptr || materialListChunk->type != kTypeMaterialList) {
        LatchError(*this, kErrorMissingMaterialList);
        return false;
    }
    // Walk a copy of the view: the kept chunk is written back as it was read.
    ByteBuffer list = materialListChunk->payload;
    list.ownsData = 0;
    EntryHeader head = ReadHeader(list);
    if (head.type != kTypeStruct)
        return true;
    materialCount = static_cast<int32_t>(list.ReadU32());
    // A Struct declared shorter than its count word still holds the count.
    list.Skip(head.size < 4 ? 0 : head.size - 4);
    if (materialCount <= 0 || materialCount >= 256) {
        LatchError(*this, kErrorMaterialCount);
        return false;
    }
    for (int32_t i = 0; i < materialCount; ++i) {
        EntryHeader material = ReadHeader(list);
        if (material.type != kTypeMaterial)
            continue;
        if (!ReadMaterial(list)) {
            LatchError(*this, kErrorMaterialCount);
            return false;
        }
    }
    return true;
}

bool Geometry::ReadMaterial(ByteBuffer& list) {
    Material* material = new (std::nothrow) Material();
    if (material == nullptr) {
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    auto fail = [&](uint32_t code, uint32_t detail) {
        delete material;
        LatchError(*this, code, detail);
        return false;
    };

    EntryHeader head = ReadHeader(list);
    if (head.type != kTypeStruct || head.size != 28)
        return fail(kErrorUnexpectedChunk, 9);
    for (uint32_t& word : material->structWords)
        word = list.ReadU32();
    uint32_t textureCount = material->structWords[3];
    if (textureCount > 2)
        return fail(kErrorTextureCount, textureCount);

    for (uint32_t slot = 0; slot < textureCount; ++slot) {
        EntryHeader texture = ReadHeader(list);
        if (texture.type != kTypeTexture)
            continue;  // the slot stays empty
        TextureSlot& out = material->textures[slot];
        EntryHeader textureStruct = ReadHeader(list);
        if (textureStruct.type != kTypeStruct || textureStruct.size != 4) {
            return fail(kErrorUnexpectedChunk, 4);
        }
        out.textureWord = list.ReadU32();
        EntryHeader name = ReadHeader(list);
        if (name.type != kTypeString || name.size > 32)
            return fail(kErrorUnexpectedChunk, 5);
        list.Read(out.textureName, name.size);
        EntryHeader mask = ReadHeader(list);
        if (mask.type != kTypeString || mask.size > 32)
            return fail(kErrorUnexpectedChunk, 6);
        list.Read(out.maskName, mask.size);
        EntryHeader closing = ReadHeader(list);
        if (closing.type == kTypeExtension) {
            list.Skip(closing.size);
        } else if (closing.size != 0) {
            return fail(kErrorUnexpectedChunk, 7);
        }
    }

    EntryHeader extension = ReadHeader(list);
    if (extension.type != kTypeExtension)
        return fail(kErrorUnexpectedChunk, 8);
    // The entries must fill the Extension exactly; sizes that do not add up
    // keep the walk going until it meets a type that is not accepted (at the
    // end of the payload that is type 0).
    uint32_t remaining = extension.size;
    while (remaining != 0) {
        EntryHeader entry = ReadHeader(list);
        remaining -= kChunkHeaderSize;
        if (!IsMaterialEntry(entry.type))
            return fail(kErrorUnknownEntry, entry.type);
        list.Skip(entry.size);
        remaining -= entry.size;
    }
    if (materials.Add(material) < 0) {
        delete material;
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    return true;
}

namespace {

// The counts at the head of a Skin entry and its trailer.
struct SkinHead {
    uint8_t boneCount = 0;
    uint8_t usedBoneCount = 0;
    uint8_t maxWeightsPerVertex = 0;
    uint8_t padding = 0;
    uint32_t trailer[3] = {0, 0, 0};
};

// Reads a Skin entry's payload: counts, arrays, trailer. False when the
// geometry has no vertices, the counts are out of range, an array cannot be
// kept or a trailer word is not 0. A short entry reads zeros.
template <typename Source, typename Keeper>
bool ReadSkinEntry(Source& entries, int32_t vertexCount, Keeper& keep, SkinHead* head) {
    if (vertexCount < 1)
        return false;
    head->boneCount = entries.ReadU8();
    head->usedBoneCount = entries.ReadU8();
    head->maxWeightsPerVertex = entries.ReadU8();
    head->padding = entries.ReadU8();
    keep.SkinCounts(*head);
    if (head->boneCount > 64 || head->usedBoneCount > head->boneCount)
        return false;

    const uint64_t v = static_cast<uint64_t>(vertexCount);
    const uint64_t arrays = head->usedBoneCount + 20 * v + 64ull * head->boneCount;
    if (arrays + 12 <= entries.Remaining()) {
        if (!keep.SkinArrays(entries, head->usedBoneCount, v, head->boneCount))
            return false;
    } else {
        // The entry is cut short: the arrays would read partly as zeros and
        // are not kept, but the cursor and the trailer come out as if read.
        entries.Skip(static_cast<uint32_t>(arrays));
    }
    for (uint32_t& word : head->trailer)
        word = entries.ReadU32();
    keep.SkinTrailer(head->trailer);
    return head->trailer[0] == 0 && head->trailer[1] == 0 && head->trailer[2] == 0;
}

// The walk over a geometry Extension's entries. It runs the same way whether
// what the entries hold is kept (reading a geometry) or only followed
// (checking that an Extension about to be written reads back): the source is
// a payload or the runs of bytes a rebuild would write, and the keeper
// decides what is stored. Codes are latched into `errors`.
template <typename Source, typename Keeper, typename Errors>
bool WalkExtensionEntries(Source& entries, int32_t vertexCount, Keeper& keep, Errors& errors) {
    // An Extension of 12 bytes or less is accepted without being examined.
    while (entries.Remaining() > kChunkHeaderSize) {
        EntryHeader entry = ReadHeader(entries);
        switch (entry.type) {
            case kTypeBinMesh: {
                const uint32_t flags = entries.ReadU32();
                const uint32_t meshCount = entries.ReadU32();
                const uint32_t indexTotal = entries.ReadU32();
                keep.BinMeshHead(flags, meshCount, indexTotal);
                if (meshCount >= kMaxBinMeshes) {
                    LatchError(errors, kErrorTriangleCount);
                    return false;
                }
                for (uint32_t i = 0; i < meshCount; ++i) {
                    // Past the end every mesh reads as empty; such meshes
                    // carry nothing, so no records are made for them.
                    if (entries.Remaining() == 0)
                        break;
                    const uint32_t indexCount = entries.ReadU32();
                    const uint32_t materialIndex = entries.ReadU32();
                    uint32_t bytes = 0;
                    if (!ArrayBytes(indexCount, 4, &bytes) || bytes > entries.Remaining() ||
                        !keep.Mesh(entries, indexCount, materialIndex, bytes)) {
                        LatchError(errors, kErrorGeometryData);
                        return false;
                    }
                }
                break;
            }
            case kTypeNightColors: {
                // S below 4 wraps to a count that never fits.
                const uint32_t fits = (entry.size - 4) / 4;
                if (fits != static_cast<uint32_t>(vertexCount)) {
                    entries.Skip(entry.size);
                    break;
                }
                entries.Skip(4);  // the leading word
                if (!keep.NightColors(entries, fits)) {
                    LatchError(errors, kErrorGeometryData, kTypeNightColors);
                    return false;
                }
                break;
            }
            case kTypeSkin: {
                const uint32_t before = entries.cursor;
                SkinHead head;
                const bool ok = ReadSkinEntry(entries, vertexCount, keep, &head);
                // Its size is fixed by its counts wherever it stands; a last
                // entry cut short must not pass for whole because its
                // declared size happens to equal the bytes left.
                const uint64_t expected = 16 + uint64_t{head.usedBoneCount} +
                                          20 * static_cast<uint64_t>(vertexCount) +
                                          64 * uint64_t{head.boneCount};
                if (!ok || entry.size != expected || entries.cursor - before != entry.size) {
                    LatchError(errors, kErrorUnexpectedChunk, kTypeSkin);
                    return false;
                }
                break;
            }
            case 0x105:
            case 0x253F2F8:
            case 0x253F2FD:
                entries.Skip(entry.size);
                break;
            default:
                LatchError(errors, kErrorUnknownEntry, entry.type);
                return false;
        }
    }
    return true;
}

// Keeps what the walk reads in the geometry.
struct KeepInGeometry {
    Geometry& g;

    void BinMeshHead(uint32_t flags, uint32_t meshCount, uint32_t indexTotal) {
        g.hasBinMesh = 1;
        g.binMeshFlags = flags;
        g.meshCount = meshCount;
        g.meshIndexTotal = indexTotal;
    }
    bool Mesh(ByteBuffer& entries, uint32_t indexCount, uint32_t materialIndex, uint32_t) {
        BinMesh* mesh = new (std::nothrow) BinMesh();
        if (mesh == nullptr)
            return false;
        mesh->indexCount = indexCount;
        mesh->materialIndex = materialIndex;
        mesh->indices = nullptr;
        mesh->ownsIndices = 0;
        if (!TakeArray(entries, indexCount, 4, g.copyArrays, &mesh->indices, &mesh->ownsIndices) ||
            g.meshes.Add(mesh) < 0) {
            if (mesh->ownsIndices)
                std::free(mesh->indices);
            delete mesh;
            return false;
        }
        return true;
    }
    bool NightColors(ByteBuffer& entries, uint32_t count) {
        g.hasNight = 1;
        return TakeArray(entries, count, 4, g.copyArrays, &g.nightColors, &g.ownsNight);
    }
    void SkinCounts(const SkinHead& head) {
        g.boneCount = head.boneCount;
        g.usedBoneCount = head.usedBoneCount;
        g.maxWeightsPerVertex = head.maxWeightsPerVertex;
        g.skinPadding = head.padding;
    }
    bool SkinArrays(ByteBuffer& entries, uint32_t usedBones, uint64_t vertices, uint32_t bones) {
        const bool copy = g.copyArrays;
        return TakeArray(entries, usedBones, 1, copy, &g.usedBones, &g.ownsUsedBones) &&
               TakeArray(entries, vertices, 4, copy, &g.vertexBoneIndices, &g.ownsBoneIndices) &&
               TakeArray(entries, vertices, 16, copy, &g.vertexBoneWeights, &g.ownsBoneWeights) &&
               TakeArray(entries, bones, 64, copy, &g.inverseBoneMatrices, &g.ownsInverseMatrices);
    }
    void SkinTrailer(const uint32_t words[3]) {
        for (int i = 0; i < 3; ++i)
            g.skinTrailer[i] = words[i];
    }
};

// Reads forward through runs of bytes as if they were one buffer: the
// Extension a rebuild would write, without copying it together. Reads never
// fail: missing bytes read as zero and the cursor stops at the end.
class RunReader {
public:
    // Starts `start` bytes into the runs and covers `length` bytes from there,
    // which the runs must hold.
    RunReader(const platform::Segment* runs, size_t count, uint64_t start, uint32_t length)
        : runs_(runs), count_(count), length_(length) {
        Walk(start, [](const uint8_t*, uint32_t) {});
    }

    uint32_t cursor = 0;

    uint32_t Remaining() const { return length_ - cursor; }
    uint32_t Read(void* destination, uint32_t n) {
        uint8_t* out = static_cast<uint8_t*>(destination);
        if (n > 0)
            std::memset(out, 0, n);
        const uint32_t k = n < Remaining() ? n : Remaining();
        Walk(k, [&out](const uint8_t* bytes, uint32_t piece) {
            std::memcpy(out, bytes, piece);
            out += piece;
        });
        cursor += k;
        return k;
    }
    uint32_t ReadU32() {
        uint8_t bytes[4];
        Read(bytes, 4);
        return LoadU32(bytes);
    }
    uint8_t ReadU8() {
        uint8_t byte = 0;
        Read(&byte, 1);
        return byte;
    }
    uint32_t Skip(uint32_t n) {
        const uint32_t k = n < Remaining() ? n : Remaining();
        Walk(k, [](const uint8_t*, uint32_t) {});
        cursor += k;
        return cursor;
    }
    // Whether the next n bytes (which remain) equal `expected`; moves past them.
    bool Matches(const uint8_t* expected, uint32_t n) {
        bool equal = true;
        Walk(n, [&](const uint8_t* bytes, uint32_t piece) {
            // A run that is the expected array itself needs no comparing.
            if (bytes != expected && std::memcmp(bytes, expected, piece) != 0)
                equal = false;
            expected += piece;
        });
        cursor += n;
        return equal;
    }

private:
    // Hands the next n bytes to visit, run by run, and moves past them.
    template <typename Visit>
    void Walk(uint64_t n, Visit visit) {
        while (n > 0 && run_ < count_) {
            const uint32_t left = runs_[run_].length - offset_;
            const uint32_t piece = n < left ? static_cast<uint32_t>(n) : left;
            if (piece > 0)
                visit(runs_[run_].data + offset_, piece);
            offset_ += piece;
            n -= piece;
            if (offset_ == runs_[run_].length) {
                ++run_;
                offset_ = 0;
            }
        }
    }

    const platform::Segment* runs_;
    size_t count_;
    size_t run_ = 0;
    uint32_t offset_ = 0;
    uint32_t length_;
};

// Follows the walk without keeping anything, noting whether the last fitting
// Night Colours entry holds exactly `night` (never null).
struct FollowOnly {
    const uint8_t* night;
    bool nightFound = false;
    bool nightMatches = false;

    void BinMeshHead(uint32_t, uint32_t, uint32_t) {}
    bool Mesh(RunReader& entries, uint32_t, uint32_t, uint32_t bytes) {
        entries.Skip(bytes);
        return true;
    }
    bool NightColors(RunReader& entries, uint32_t count) {
        uint32_t bytes = 0;
        if (!ArrayBytes(count, 4, &bytes) || bytes > entries.Remaining())
            return false;
        nightFound = true;
        nightMatches = entries.Matches(night, bytes);
        return true;
    }
    void SkinCounts(const SkinHead&) {}
    bool SkinArrays(RunReader& entries, uint32_t usedBones, uint64_t vertices, uint32_t bones) {
        entries.Skip(static_cast<uint32_t>(usedBones + 20 * vertices + 64ull * bones));
        return true;
    }
    void SkinTrailer(const uint32_t*) {}
};

struct LatchedCode {
    uint32_t errorCode = 0;
    uint32_t errorDetail = 0;
};

}  // namespace

bool Geometry::ReadExtension(ByteBuffer& payload) {
    bool outOfMemory = false;
    extensionChunk = ReadChunk(payload, &outOfMemory);
    if (outOfMemory) {
        LatchError(*this, kErrorGeometryData);
        return false;
    }
    if (extensionChunk == nullptr || extensionChunk->type != kTypeExtension) {
        LatchError(*this, kErrorMissingExtension, 0);
        return false;
    }
    ByteBuffer entries = extensionChunk->payload;
    entries.ownsData = 0;
    KeepInGeometry keep{*this};
    return WalkExtensionEntries(entries, vertexCount, keep, *this);
}

bool Geometry::ReadSkin(ByteBuffer& entries) {
    KeepInGeometry keep{*this};
    SkinHead head;
    return ReadSkinEntry(entries, vertexCount, keep, &head);
}

bool ExtensionReadsBack(const platform::Segment* runs, size_t count, uint64_t start,
                        uint32_t length, int32_t vertexCount, const uint8_t* night) {
    if (night == nullptr)
        return false;
    RunReader entries(runs, count, start, length);
    FollowOnly follow{night};
    LatchedCode errors;
    if (!WalkExtensionEntries(entries, vertexCount, follow, errors))
        return false;
    return follow.nightFound && follow.nightMatches;
}

}  // namespace brennix
