// Reading a geometry's material list and its extension entries.
#include <cstdlib>
#include <new>

#include "dff/DffModel.h"
#include "dff/ReadArray.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

struct EntryHeader {
    uint32_t type;
    uint32_t size;
};

EntryHeader ReadHeader(ByteBuffer& payload) {
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
    // An Extension of 12 bytes or less is accepted without being examined.
    while (entries.Remaining() > kChunkHeaderSize) {
        EntryHeader entry = ReadHeader(entries);
        switch (entry.type) {
            case kTypeBinMesh: {
                hasBinMesh = 1;
                binMeshFlags = entries.ReadU32();
                meshCount = entries.ReadU32();
                meshIndexTotal = entries.ReadU32();
                if (meshCount >= kMaxBinMeshes) {
                    LatchError(*this, kErrorTriangleCount);
                    return false;
                }
                for (uint32_t i = 0; i < meshCount; ++i) {
                    // Past the end every mesh reads as empty; such meshes
                    // carry nothing, so no records are made for them.
                    if (entries.Remaining() == 0)
                        break;
                    uint32_t indexCount = entries.ReadU32();
                    uint32_t materialIndex = entries.ReadU32();
                    uint32_t bytes = 0;
                    if (!ArrayBytes(indexCount, 4, &bytes) || bytes > entries.Remaining()) {
                        LatchError(*this, kErrorGeometryData);
                        return false;
                    }
                    BinMesh* mesh = new (std::nothrow) BinMesh();
                    if (mesh == nullptr) {
                        LatchError(*this, kErrorGeometryData);
                        return false;
                    }
                    mesh->indexCount = indexCount;
                    mesh->materialIndex = materialIndex;
                    mesh->indices = static_cast<uint32_t*>(std::calloc(bytes > 0 ? bytes : 1, 1));
                    if (mesh->indices == nullptr || meshes.Add(mesh) < 0) {
                        std::free(mesh->indices);
                        delete mesh;
                        LatchError(*this, kErrorGeometryData);
                        return false;
                    }
                    entries.Read(mesh->indices, bytes);
                }
                break;
            }
            case kTypeNightColors: {
                // S below 4 wraps to a count that never fits.
                uint32_t fits = (entry.size - 4) / 4;
                if (fits != static_cast<uint32_t>(vertexCount)) {
                    entries.Skip(entry.size);
                    break;
                }
                hasNight = 1;
                entries.Skip(4);  // the leading word
                if (!ReadArray(entries, static_cast<uint32_t>(vertexCount), 4, &nightColors)) {
                    LatchError(*this, kErrorGeometryData, kTypeNightColors);
                    return false;
                }
                break;
            }
            case kTypeSkin: {
                uint32_t before = entries.cursor;
                bool ok = ReadSkin(entries);
                if (!ok || entries.cursor - before != entry.size) {
                    LatchError(*this, kErrorUnexpectedChunk, kTypeSkin);
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
                LatchError(*this, kErrorUnknownEntry, entry.type);
                return false;
        }
    }
    return true;
}

bool Geometry::ReadSkin(ByteBuffer& entries) {
    if (vertexCount < 1)
        return false;
    boneCount = entries.ReadU8();
    usedBoneCount = entries.ReadU8();
    maxWeightsPerVertex = entries.ReadU8();
    skinPadding = entries.ReadU8();
    if (boneCount > 64 || usedBoneCount > boneCount)
        return false;

    const uint64_t v = static_cast<uint64_t>(vertexCount);
    const uint64_t arrays = usedBoneCount + 20 * v + 64ull * boneCount;
    if (arrays + 12 <= entries.Remaining()) {
        if (!ReadArray(entries, usedBoneCount, 1, &usedBones) ||
            !ReadArray(entries, v, 4, &vertexBoneIndices) ||
            !ReadArray(entries, v, 16, &vertexBoneWeights) ||
            !ReadArray(entries, boneCount, 64, &inverseBoneMatrices)) {
            return false;
        }
    } else {
        // The entry is cut short: the arrays would read partly as zeros and
        // are not kept, but the cursor and the trailer come out as if read.
        entries.Skip(static_cast<uint32_t>(arrays));
    }
    for (uint32_t& word : skinTrailer)
        word = entries.ReadU32();
    return skinTrailer[0] == 0 && skinTrailer[1] == 0 && skinTrailer[2] == 0;
}

}  // namespace brennix
