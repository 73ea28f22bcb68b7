#include "dff/DffModel.h"

#include <cstdlib>

namespace brennix {

const char* ErrorCodeName(uint32_t code) {
    switch (code) {
        case kErrorNone: return "none";
        case kErrorNotAClump: return "not a clump";
        case kErrorGeometryData: return "geometry data cut short or not allocated";
        case kErrorUnknownEntry: return "unknown extension entry";
        case kErrorVertexCount: return "vertex count out of range";
        case kErrorTriangleCount: return "triangle or mesh count out of range";
        case kErrorGeometryCount: return "geometry count is not 1";
        case kErrorUnexpectedChunk: return "unexpected chunk type or size";
        case kErrorTextureCount: return "more than two textures";
        case kErrorMaterialCount: return "material count out of range or material failed";
        case kErrorMaterialList: return "material list failed";
        case kErrorGeometryExtension: return "geometry extension failed";
        case kErrorFrameCount: return "too many frames";
        case kErrorFrameName: return "frame name too long";
        case kErrorSecondGeometryList: return "second geometry list";
        case kErrorSecondFrameList: return "second frame list";
        case kErrorSecondAtomic: return "second atomic";
        case kErrorMissingExtension: return "no geometry extension";
        case kErrorMissingMaterialList: return "no material list";
        default: return "unknown";
    }
}

void DffModel::Init() {
    errorCode = 0;
    errorDetail = 0;
    fileBuffer = ByteBuffer();
    hasCollision = 0;
    geometries = PointerArray<Geometry>();
    uvAnimDictionary = nullptr;
    clump = nullptr;
    clumpStruct = nullptr;
    frameList = nullptr;
    geometryList = nullptr;
    atomic = nullptr;
    clumpExtension = nullptr;
    frames = nullptr;
    frameCount = 0;
}

void DffModel::Release() {
    DestroyChunk(clumpExtension);
    DestroyChunk(atomic);
    DestroyChunk(geometryList);
    DestroyChunk(frameList);
    DestroyChunk(clumpStruct);
    DestroyChunk(clump);
    DestroyChunk(uvAnimDictionary);
    std::free(frames);
    frames = nullptr;
    frameCount = 0;
    for (uint32_t i = 0; i < geometries.count; ++i) {
        Geometry* geometry = geometries.items[i];
        if (geometry == nullptr) continue;
        geometry->Release();
        delete geometry;
        geometries.items[i] = nullptr;
    }
    geometries.Resize(0);
    fileBuffer.Release();
    fileBuffer = ByteBuffer();
}

int32_t DffModel::Load(const char* path) {
    if (fileBuffer.LoadFile(path) == 0) return -1;
    bool outOfMemory = false;
    clump = ReadChunk(fileBuffer, &outOfMemory);
    if (clump == nullptr) {
        LatchError(*this, outOfMemory ? kErrorGeometryData : kErrorNotAClump);
        return 0;
    }
    if (clump->type == kTypeUvAnimDictionary) {
        // Kept and written back before the clump: materials name the
        // animations it holds.
        uvAnimDictionary = clump;
        clump = ReadChunk(fileBuffer, &outOfMemory);
    }
    if (clump == nullptr || clump->type != kTypeClump) {
        LatchError(*this, kErrorNotAClump);
        return 0;
    }
    if (SortClumpChildren(clump) == 0) return 0;

    if (clumpExtension != nullptr && clumpExtension->size > 0) {
        // Only the first entry counts; the test reads through a copy of the
        // view so the Extension itself is left as loaded.
        ByteBuffer entries = clumpExtension->payload;
        entries.ownsData = 0;
        entries.Rewind();
        Chunk* entry = ReadChunk(entries);
        if (entry != nullptr && entry->type == kTypeCollision) hasCollision = 1;
        DestroyChunk(entry);
    }
    return 1;
}

int32_t DffModel::SortClumpChildren(Chunk* clumpChunk) {
    for (;;) {
        bool outOfMemory = false;
        Chunk* child = ReadChunk(clumpChunk->payload, &outOfMemory);
        if (child == nullptr) {
            if (!outOfMemory) return 1;
            LatchError(*this, kErrorGeometryData);
            return 0;
        }
        Chunk** slot = nullptr;
        uint32_t duplicateCode = 0;
        switch (child->type) {
            case kTypeStruct: slot = &clumpStruct; break;
            case kTypeExtension: slot = &clumpExtension; break;
            case kTypeFrameList:
                slot = &frameList;
                duplicateCode = kErrorSecondFrameList;
                break;
            case kTypeAtomic:
                slot = &atomic;
                duplicateCode = kErrorSecondAtomic;
                break;
            case kTypeGeometryList:
                slot = &geometryList;
                duplicateCode = kErrorSecondGeometryList;
                break;
            default: break;
        }
        if (slot != nullptr && *slot == nullptr) {
            *slot = child;
            continue;
        }
        DestroyChunk(child);
        if (duplicateCode != 0) {
            LatchError(*this, duplicateCode);
            return 0;
        }
    }
}

// Appends a kept chunk's header as it stands and all of its payload.
static void AppendWholeChunk(ByteBuffer& out, const Chunk& chunk) {
    AppendChunkHeader(out, chunk.type, chunk.size, chunk.stampLow, chunk.stampHigh);
    if (chunk.payload.length > 0) out.Append(chunk.payload.data, chunk.payload.length);
}

bool DffModel::BuildFile(ByteBuffer& out) {
    out.Reset();
    if (clump == nullptr || clumpStruct == nullptr) return false;

    Chunk* const children[] = {frameList, geometryList, atomic, clumpExtension};
    // A chunk cut short in the file would be written with a header that
    // promises bytes that are not there.
    if (uvAnimDictionary != nullptr && !uvAnimDictionary->IsComplete()) return false;
    uint64_t clumpSize = 2 * kChunkHeaderSize;  // the Struct: header and 12 bytes
    for (const Chunk* child : children) {
        if (child == nullptr) continue;
        if (!child->IsComplete()) return false;
        clumpSize += kChunkHeaderSize + static_cast<uint64_t>(child->size);
    }
    uint64_t total = kChunkHeaderSize + clumpSize;
    if (uvAnimDictionary != nullptr) total += kChunkHeaderSize + uvAnimDictionary->size;
    if (total > UINT32_MAX) return false;
    if (!out.Reserve(static_cast<uint32_t>(total))) return false;

    if (uvAnimDictionary != nullptr) AppendWholeChunk(out, *uvAnimDictionary);
    clumpStruct->size = 12;
    clump->size = static_cast<uint32_t>(clumpSize);
    AppendChunkHeader(out, clump->type, clump->size, clump->stampLow, clump->stampHigh);
    AppendChunkHeader(out, clumpStruct->type, clumpStruct->size, clumpStruct->stampLow,
                      clumpStruct->stampHigh);
    clumpStruct->payload.Rewind();
    out.AppendU32(clumpStruct->payload.ReadU32());  // atomic count
    out.AppendU32(0);                               // lights are dropped
    out.AppendU32(0);                               // cameras are dropped
    for (const Chunk* child : children) {
        if (child != nullptr) AppendWholeChunk(out, *child);
    }
    if (out.failed || out.length != total) {
        out.Reset();
        return false;
    }
    return true;
}

int32_t DffModel::Save(const char* path) {
    ByteBuffer out;
    if (!BuildFile(out)) return 0;
    uint32_t written = out.SaveFile(path);
    out.Release();
    if (written > static_cast<uint32_t>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(written);
}

int32_t DffModel::AttachCollisionFile(const char* path) {
    Chunk entry;
    entry.Init();
    if (clump == nullptr || clumpExtension == nullptr) return -1;
    if (entry.payload.LoadFile(path) == 0) {
        entry.Release();
        return -2;
    }
    entry.size = entry.payload.length;
    entry.type = kTypeCollision;
    int result = Chunk::AppendChild(clumpExtension, &entry);
    entry.Release();
    // The COL3 bytes could not be taken in (no memory, or the Extension
    // would pass 4 GiB): the model is unchanged.
    return result > 0 ? 1 : -2;
}

}  // namespace brennix
