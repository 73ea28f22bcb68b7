#include "dff/DffModel.h"

#include <cstdlib>

#include "col/ColModel.h"
#include "dff/GeometryPieces.h"
#include "platform/Platform.h"
#include "stream/Endian.h"

namespace brennix {

const char* ErrorCodeName(uint32_t code) {
    switch (code) {
        case kErrorNone:
            return "none";
        case kErrorNotAClump:
            return "not a clump";
        case kErrorGeometryData:
            return "geometry data cut short or not allocated";
        case kErrorUnknownEntry:
            return "unknown extension entry";
        case kErrorVertexCount:
            return "vertex count out of range";
        case kErrorTriangleCount:
            return "triangle or mesh count out of range";
        case kErrorGeometryCount:
            return "geometry count is not 1";
        case kErrorUnexpectedChunk:
            return "unexpected chunk type or size";
        case kErrorTextureCount:
            return "more than two textures";
        case kErrorMaterialCount:
            return "material count out of range or material failed";
        case kErrorMaterialList:
            return "material list failed";
        case kErrorGeometryExtension:
            return "geometry extension failed";
        case kErrorFrameCount:
            return "too many frames";
        case kErrorFrameName:
            return "frame name too long";
        case kErrorSecondGeometryList:
            return "second geometry list";
        case kErrorSecondFrameList:
            return "second frame list";
        case kErrorSecondAtomic:
            return "second atomic";
        case kErrorMissingExtension:
            return "no geometry extension";
        case kErrorMissingMaterialList:
            return "no material list";
        default:
            return "unknown";
    }
}

void DffModel::Init() {
    errorCode = 0;
    errorDetail = 0;
    copyArrays = kArraysViewFile ? 0 : 1;
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
    trailing = ByteBuffer();
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
    trailing = ByteBuffer();
    for (uint32_t i = 0; i < geometries.count; ++i) {
        Geometry* geometry = geometries.items[i];
        if (geometry == nullptr)
            continue;
        geometry->Release();
        delete geometry;
        geometries.items[i] = nullptr;
    }
    geometries.Resize(0);
    fileBuffer.Release();
    fileBuffer = ByteBuffer();
}

int32_t DffModel::Load(const char* path) {
    if (fileBuffer.LoadFile(path) == 0)
        return -1;
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
    // Readers of the stream go on after the clump's declared end, so what
    // lies there is part of the model as they see it.
    if (fileBuffer.cursor < fileBuffer.length) {
        trailing = ByteBuffer::View(fileBuffer.data + fileBuffer.cursor,
                                    fileBuffer.length - fileBuffer.cursor);
    }
    if (SortClumpChildren(clump) == 0)
        return 0;

    if (clumpExtension != nullptr && clumpExtension->size > 0) {
        // Only the first entry counts; the test reads through a copy of the
        // view so the Extension itself is left as loaded.
        ByteBuffer entries = clumpExtension->payload;
        entries.ownsData = 0;
        entries.Rewind();
        Chunk* entry = ReadChunk(entries);
        if (entry != nullptr && entry->type == kTypeCollision)
            hasCollision = 1;
        DestroyChunk(entry);
    }
    return 1;
}

int32_t DffModel::SortClumpChildren(Chunk* clumpChunk) {
    for (;;) {
        bool outOfMemory = false;
        Chunk* child = ReadChunk(clumpChunk->payload, &outOfMemory);
        if (child == nullptr) {
            if (!outOfMemory)
                return 1;
            LatchError(*this, kErrorGeometryData);
            return 0;
        }
        Chunk** slot = nullptr;
        uint32_t duplicateCode = 0;
        switch (child->type) {
            case kTypeStruct:
                slot = &clumpStruct;
                break;
            case kTypeExtension:
                slot = &clumpExtension;
                break;
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
            default:
                break;
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

namespace {

// The saved file as a list of byte runs: encoded headers and the kept
// chunks' payloads, which are written straight from where they lie.
struct SavedFile {
    static constexpr size_t kMaxSegments = 16 + GeometryListPieces::kMaxSegments;
    uint8_t headers[8][kChunkHeaderSize];
    uint8_t structBody[12];
    platform::Segment segments[kMaxSegments];
    size_t count = 0;
    size_t headerCount = 0;
    uint64_t total = 0;

    void Add(const uint8_t* data, uint32_t length) {
        segments[count++] = {data, length};
        total += length;
    }
    void AddHeader(uint32_t type, uint32_t size, uint16_t stampLow, uint16_t stampHigh) {
        uint8_t* header = headers[headerCount++];
        StoreU32(header, type);
        StoreU32(header + 4, size);
        StoreU16(header + 8, stampLow);
        StoreU16(header + 10, stampHigh);
        Add(header, kChunkHeaderSize);
    }
    // A kept chunk: its header as it stands and all of its payload bytes.
    void AddChunk(const Chunk& chunk) {
        AddHeader(chunk.type, chunk.size, chunk.stampLow, chunk.stampHigh);
        if (chunk.payload.length > 0)
            Add(chunk.payload.data, chunk.payload.length);
    }
};

}  // namespace

// Lays out the saved file: a leading dictionary as loaded, the clump header,
// the Struct (atomic count as loaded, then no lights and no cameras, unless it
// was loaded with the atomic count alone), the kept children that exist in
// the fixed order, and whatever followed the clump. False when nothing must be
// written: no clump Struct, or a kept chunk cut short in the file, whose
// header would promise bytes that are not there.
//
// rebuiltList, when given, stands for the Geometry List: the pieces of the
// list that RebuildGeometryList would install.
static bool LayOutFile(DffModel& model, SavedFile* file,
                       const GeometryListPieces* rebuiltList = nullptr) {
    if (model.clump == nullptr || model.clumpStruct == nullptr)
        return false;
    Chunk* const children[] = {model.frameList, model.geometryList, model.atomic,
                               model.clumpExtension};
    if (model.uvAnimDictionary != nullptr && !model.uvAnimDictionary->IsComplete())
        return false;
    // The Struct is judged by the size it was loaded with: an atomic count
    // made up of missing bytes must not be written.
    const Chunk& clumpStruct = *model.clumpStruct;
    if (!clumpStruct.IsComplete())
        return false;
    // Readers size an old Struct by its version and read 4 bytes of it; the
    // bytes after them would be taken for the next chunk's header.
    const uint32_t structSize = clumpStruct.size == 4 ? 4 : 12;
    uint64_t clumpSize = kChunkHeaderSize + structSize;
    for (const Chunk* child : children) {
        if (rebuiltList != nullptr && child == model.geometryList) {
            clumpSize += kChunkHeaderSize + rebuiltList->total;
            continue;
        }
        if (child == nullptr)
            continue;
        if (!child->IsComplete())
            return false;
        clumpSize += kChunkHeaderSize + static_cast<uint64_t>(child->payload.length);
    }
    if (clumpSize > UINT32_MAX - kChunkHeaderSize)
        return false;

    if (model.uvAnimDictionary != nullptr)
        file->AddChunk(*model.uvAnimDictionary);
    model.clump->size = static_cast<uint32_t>(clumpSize);
    file->AddHeader(model.clump->type, model.clump->size, model.clump->stampLow,
                    model.clump->stampHigh);
    file->AddHeader(clumpStruct.type, structSize, clumpStruct.stampLow, clumpStruct.stampHigh);
    ByteBuffer counts = clumpStruct.payload;
    counts.ownsData = 0;
    counts.Rewind();
    StoreU32(file->structBody, counts.ReadU32());  // atomic count
    StoreU32(file->structBody + 4, 0);             // lights are dropped
    StoreU32(file->structBody + 8, 0);             // cameras are dropped
    file->Add(file->structBody, structSize);
    for (const Chunk* child : children) {
        if (rebuiltList != nullptr && child == model.geometryList) {
            file->AddHeader(kTypeGeometryList, static_cast<uint32_t>(rebuiltList->total),
                            kDefaultStampLow, kDefaultStampHigh);
            for (size_t i = 0; i < rebuiltList->count; ++i)
                file->Add(rebuiltList->segments[i].data, rebuiltList->segments[i].length);
        } else if (child != nullptr) {
            file->AddChunk(*child);
        }
    }
    if (model.trailing.length > 0)
        file->Add(model.trailing.data, model.trailing.length);
    return file->total <= UINT32_MAX;
}

bool DffModel::BuildFile(ByteBuffer& out) {
    out.Reset();
    SavedFile file;
    if (!LayOutFile(*this, &file))
        return false;
    if (!out.Reserve(static_cast<uint32_t>(file.total)))
        return false;
    for (size_t i = 0; i < file.count; ++i) {
        if (file.segments[i].length > 0)
            out.Append(file.segments[i].data, file.segments[i].length);
    }
    if (out.failed) {
        out.Reset();
        return false;
    }
    return true;
}

// Lays the file out and writes it piece by piece from where the bytes lie:
// no whole-model copy. The bytes written, or 0.
static int32_t WriteModel(DffModel& model, const char* path,
                          const GeometryListPieces* rebuiltList) {
    SavedFile file;
    if (!LayOutFile(model, &file, rebuiltList))
        return 0;
    if (!platform::ReplaceFile(path, file.segments, file.count))
        return 0;
    if (file.total > static_cast<uint64_t>(INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(file.total);
}

int32_t DffModel::Save(const char* path) {
    return WriteModel(*this, path, nullptr);
}

int32_t DffModel::SaveWithRebuiltGeometry(const char* path) {
    GeometryListPieces pieces;
    switch (LayOutRebuiltGeometryList(*this, &pieces)) {
        case RebuiltListStatus::kNothingToWrite:
            return -1;
        case RebuiltListStatus::kTooManyPieces:
            // An Extension broken into many runs: build the list instead.
            if (!RebuildGeometryList())
                return -1;
            return Save(path);
        case RebuiltListStatus::kLaidOut:
            break;
    }
    // The rebuilt list always goes where the Geometry List stands; a model
    // read without one has no geometry to rebuild.
    if (geometryList == nullptr)
        return -1;
    return WriteModel(*this, path, &pieces);
}

// Whether the entries of an Extension payload, walked by their declared
// sizes, end exactly at its end: only then is an entry appended after them
// read as an entry of its own.
static bool EntriesEndWithin(const ByteBuffer& entries) {
    uint32_t at = 0;
    while (at < entries.length) {
        if (entries.length - at < kChunkHeaderSize)
            return false;
        const uint32_t size = LoadU32(entries.data + at + 4);
        at += kChunkHeaderSize;
        if (size > entries.length - at)
            return false;
        at += size;
    }
    return true;
}

int32_t DffModel::AttachCollisionFile(const char* path) {
    Chunk entry;
    entry.Init();
    if (clump == nullptr || clumpExtension == nullptr)
        return -1;
    if (!EntriesEndWithin(clumpExtension->payload))
        return -2;
    // An empty file loads as one zero byte, which is no collision file either.
    if (entry.payload.LoadFile(path) == 0 ||
        !LooksLikeColFile(entry.payload.data, entry.payload.length)) {
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
