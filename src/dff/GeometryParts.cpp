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

// The bytes of the next `size` bytes of `parent` as a buffer of their own,
// moving the parent past them. False when they are not all there.
bool TakeChild(ByteBuffer& parent, uint32_t size, ByteBuffer* child) {
    if (size > parent.Remaining())
        return false;
    *child = ByteBuffer::View(parent.data != nullptr ? parent.data + parent.cursor : nullptr, size);
    parent.Skip(size);
    return true;
}

// Points `*name` at a String payload of `size` bytes at the cursor (what of it
// the buffer holds) and measures it up to its first zero byte.
void ViewName(const ByteBuffer& at, uint32_t size, const uint8_t** name, uint32_t* length) {
    const uint32_t held = size < at.Remaining() ? size : at.Remaining();
    const uint8_t* bytes = at.data != nullptr ? at.data + at.cursor : nullptr;
    uint32_t n = 0;
    while (bytes != nullptr && n < held && bytes[n] != 0)
        ++n;
    *name = bytes;
    *length = n;
}

// A String (or the wide-character string type) of any length.
bool IsStringType(uint32_t type) {
    return type == kTypeString || type == 0x13;
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
    const uint32_t structStart = list.cursor;
    materialCount = static_cast<int32_t>(list.ReadU32());
    if (readOptions & kReadAnyMaterial)
        return ReadMaterials(list, head.size, structStart);
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

bool Geometry::ReadMaterials(ByteBuffer& list, uint32_t structSize, uint32_t structStart) {
    if (materialCount < 0 || (materialCount == 0 && !(readOptions & kReadEmptyMaterialList))) {
        LatchError(*this, kErrorMaterialCount, static_cast<uint32_t>(materialCount));
        return false;
    }
    if (structSize < 4 || structSize > list.length - structStart) {
        LatchError(*this, kErrorUnexpectedChunk, kTypeMaterialList);
        return false;
    }
    // An index of -1 marks a material of its own, which a Material chunk
    // follows; any other index repeats an earlier material.
    const uint32_t count = static_cast<uint32_t>(materialCount);
    uint32_t own = count;
    if (uint64_t{count} * 4 <= structSize - 4) {
        own = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (LoadU32(list.data + structStart + 4 + 4 * static_cast<size_t>(i)) == 0xFFFFFFFFu)
                ++own;
        }
    }
    list.cursor = structStart;
    list.Skip(structSize);
    uint32_t found = 0;
    while (found < own && list.Remaining() >= kChunkHeaderSize) {
        EntryHeader chunk = ReadHeader(list);
        ByteBuffer body;
        if (!TakeChild(list, chunk.size, &body)) {
            LatchError(*this, kErrorUnexpectedChunk, kTypeMaterial);
            return false;
        }
        if (chunk.type != kTypeMaterial)
            continue;
        if (!ReadMaterial(body))
            return false;
        ++found;
    }
    if (found < own) {
        LatchError(*this, kErrorMaterialCount, found);
        return false;
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
    if (readOptions & kReadAnyMaterial) {
        if (!ReadAnyMaterial(list, material))
            return fail(errorCode != 0 ? errorCode : kErrorUnexpectedChunk, errorDetail);
        if (materials.Add(material) < 0) {
            delete material;
            LatchError(*this, kErrorGeometryData);
            return false;
        }
        return true;
    }

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
        ViewName(list, name.size, &out.name, &out.nameLength);
        list.Read(out.textureName, name.size);
        EntryHeader mask = ReadHeader(list);
        if (mask.type != kTypeString || mask.size > 32)
            return fail(kErrorUnexpectedChunk, 6);
        ViewName(list, mask.size, &out.mask, &out.maskLength);
        list.Read(out.maskName, mask.size);
        ++material->texturesHeld;
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

bool Geometry::ReadAnyMaterial(ByteBuffer& body, Material* material) {
    // The Struct: 28 bytes, or 16 in older files; what it lacks reads as 0.
    EntryHeader head = ReadHeader(body);
    ByteBuffer words;
    if (head.type != kTypeStruct || head.size < 16 || !TakeChild(body, head.size, &words)) {
        LatchError(*this, kErrorUnexpectedChunk, 9);
        return false;
    }
    for (uint32_t& word : material->structWords)
        word = words.ReadU32();
    // Then any Texture chunks and the Extension, each within its own size.
    while (body.Remaining() >= kChunkHeaderSize) {
        EntryHeader chunk = ReadHeader(body);
        ByteBuffer child;
        if (!TakeChild(body, chunk.size, &child)) {
            LatchError(*this, kErrorUnexpectedChunk, chunk.type == kTypeTexture ? 4 : 8);
            return false;
        }
        if (chunk.type != kTypeTexture)
            continue;  // the Extension, with entries of any type, or other chunks
        const uint32_t slot = material->texturesHeld++;
        if (slot >= 2)
            continue;
        TextureSlot& out = material->textures[slot];
        EntryHeader textureStruct = ReadHeader(child);
        ByteBuffer filter;
        if (textureStruct.type != kTypeStruct || textureStruct.size < 4 ||
            !TakeChild(child, textureStruct.size, &filter)) {
            LatchError(*this, kErrorUnexpectedChunk, 4);
            return false;
        }
        out.textureWord = filter.ReadU32();
        // The texture name, then the mask name.
        for (int which = 0; which < 2; ++which) {
            if (child.Remaining() < kChunkHeaderSize)
                break;
            EntryHeader name = ReadHeader(child);
            if (!IsStringType(name.type) || name.size > child.Remaining()) {
                LatchError(*this, kErrorUnexpectedChunk, 5 + which);
                return false;
            }
            uint8_t* fixed = which == 0 ? out.textureName : out.maskName;
            ViewName(child, name.size, which == 0 ? &out.name : &out.mask,
                     which == 0 ? &out.nameLength : &out.maskLength);
            const uint32_t keep = name.size < 32 ? name.size : 32;
            child.Read(fixed, keep);
            child.Skip(name.size - keep);
        }
    }
    if (body.Remaining() != 0) {
        LatchError(*this, kErrorUnexpectedChunk, 8);
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
    // The older layout, and the payload size it was matched with.
    bool oldLayout = false;
    uint64_t oldSize = 0;
};

// 16 + U + 20V + 64B: the size of a Skin payload of the current layout.
uint64_t SkinSize(const SkinHead& head, int32_t vertexCount) {
    return 16 + uint64_t{head.usedBoneCount} + 20 * static_cast<uint64_t>(vertexCount) +
           64 * uint64_t{head.boneCount};
}

// The older layout has no used-bone list and a 4-byte marker before each bone
// matrix; its trailer words may be missing. Only an entry whose size fits
// that layout and not the current one is taken for it.
bool MatchesOldSkin(const SkinHead& head, int32_t vertexCount, uint32_t entrySize, uint64_t* size) {
    if (head.usedBoneCount != 0 || head.boneCount == 0 || entrySize == SkinSize(head, vertexCount))
        return false;
    const uint64_t bare =
        4 + 20 * static_cast<uint64_t>(vertexCount) + 68 * uint64_t{head.boneCount};
    if (entrySize != bare && entrySize != bare + 12)
        return false;
    *size = entrySize;
    return true;
}

// Reads a Skin entry's payload: counts, arrays, trailer. False when the
// geometry has no vertices, the counts are out of range, an array cannot be
// kept or a trailer word is not 0. A short entry reads zeros. With
// kReadOldSkin, an entry of the older layout is read as such (head->oldLayout).
template <typename Source, typename Keeper>
bool ReadSkinEntry(Source& entries, int32_t vertexCount, Keeper& keep, SkinHead* head,
                   uint32_t options = 0, uint32_t entrySize = 0) {
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
    if ((options & kReadOldSkin) && MatchesOldSkin(*head, vertexCount, entrySize, &head->oldSize)) {
        head->oldLayout = true;
        if (head->oldSize - 4 > entries.Remaining())
            return false;
        if (!keep.OldSkinArrays(entries, v, head->boneCount))
            return false;
        // Markers, matrices and the optional trailer are passed over as they are.
        entries.Skip(static_cast<uint32_t>(head->oldSize - 4 - 20 * v));
        return true;
    }
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
bool WalkExtensionEntries(Source& entries, int32_t vertexCount, Keeper& keep, Errors& errors,
                          uint32_t options) {
    // An Extension of 12 bytes or less is accepted without being examined.
    while (entries.Remaining() > kChunkHeaderSize) {
        EntryHeader entry = ReadHeader(entries);
        switch (entry.type) {
            case kTypeBinMesh: {
                const uint32_t flags = entries.ReadU32();
                const uint32_t meshCount = entries.ReadU32();
                const uint32_t indexTotal = entries.ReadU32();
                keep.BinMeshHead(flags, meshCount, indexTotal);
                if (meshCount >= kMaxBinMeshes && !(options & kReadAnyCounts)) {
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
                const bool ok =
                    ReadSkinEntry(entries, vertexCount, keep, &head, options, entry.size);
                // Its size is fixed by its counts wherever it stands; a last
                // entry cut short must not pass for whole because its
                // declared size happens to equal the bytes left.
                const uint64_t expected =
                    head.oldLayout ? head.oldSize : SkinSize(head, vertexCount);
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
                if (options & kReadUnknownEntries) {
                    entries.Skip(entry.size);
                    break;
                }
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
    bool OldSkinArrays(ByteBuffer& entries, uint64_t vertices, uint32_t) {
        // The matrices lie between markers, not as one array: they are not kept.
        g.oldSkinLayout = 1;
        const bool copy = g.copyArrays;
        return TakeArray(entries, vertices, 4, copy, &g.vertexBoneIndices, &g.ownsBoneIndices) &&
               TakeArray(entries, vertices, 16, copy, &g.vertexBoneWeights, &g.ownsBoneWeights);
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
    bool OldSkinArrays(RunReader& entries, uint64_t vertices, uint32_t) {
        entries.Skip(static_cast<uint32_t>(20 * vertices));
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
    return WalkExtensionEntries(entries, vertexCount, keep, *this, readOptions);
}

bool Geometry::ReadSkin(ByteBuffer& entries) {
    KeepInGeometry keep{*this};
    SkinHead head;
    return ReadSkinEntry(entries, vertexCount, keep, &head, readOptions, entries.Remaining());
}

bool ExtensionReadsBack(const platform::Segment* runs, size_t count, uint64_t start,
                        uint32_t length, int32_t vertexCount, const uint8_t* night,
                        uint32_t options) {
    if (night == nullptr)
        return false;
    RunReader entries(runs, count, start, length);
    FollowOnly follow{night};
    LatchedCode errors;
    if (!WalkExtensionEntries(entries, vertexCount, follow, errors, options))
        return false;
    return follow.nightFound && follow.nightMatches;
}

}  // namespace brennix
