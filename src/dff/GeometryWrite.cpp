// Writing a changed geometry back: the Struct body afresh, the Material List
// as read, the Extension as read or with a fresh Night Colours entry last.
#include <cstring>
#include <new>

#include "dff/DffModel.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

// A new chunk record with the system's own stamp, or null.
Chunk* NewChunk(uint32_t type) {
    Chunk* chunk = new (std::nothrow) Chunk();
    if (chunk == nullptr) return nullptr;
    chunk->Init();
    chunk->type = type;
    return chunk;
}

// Sets a built chunk's size to its payload length; false (and the chunk
// destroyed) when an append inside it ran out of memory.
bool Finish(Chunk*& chunk) {
    if (chunk->payload.failed) {
        DestroyChunk(chunk);
        return false;
    }
    chunk->size = chunk->payload.length;
    return true;
}

// A copy of extension without its entries of entryType; entries kept keep
// their order, bytes and stamps. A header of zero size at the very end is
// carried over too. Null when out of memory.
Chunk* CopyExtensionWithout(const Chunk* extension, uint32_t entryType, uint32_t extraBytes) {
    Chunk* copy = NewChunk(kTypeExtension);
    if (copy == nullptr) return nullptr;
    if (extension == nullptr) {
        if (!copy->payload.Reserve(extraBytes)) DestroyChunk(copy);
        return copy;
    }
    ByteBuffer entries = extension->payload;
    entries.ownsData = 0;
    entries.Rewind();
    uint64_t reserve = static_cast<uint64_t>(entries.length) + extraBytes;
    if (reserve > UINT32_MAX || !copy->payload.Reserve(static_cast<uint32_t>(reserve))) {
        DestroyChunk(copy);
        return nullptr;
    }
    while (entries.Remaining() >= kChunkHeaderSize) {
        const uint8_t* header = entries.data + entries.cursor;
        uint32_t type = LoadU32(header);
        uint32_t size = LoadU32(header + 4);
        entries.Skip(kChunkHeaderSize);
        if (type != entryType) {
            copy->payload.Append(header, kChunkHeaderSize);
            uint32_t body = size < entries.Remaining() ? size : entries.Remaining();
            if (body > 0) copy->payload.Append(entries.data + entries.cursor, body);
        }
        entries.Skip(size);
    }
    if (!Finish(copy)) return nullptr;
    return copy;
}

}  // namespace

Chunk* Geometry::WriteStruct() const {
    Chunk* chunk = NewChunk(kTypeStruct);
    if (chunk == nullptr) return nullptr;
    const uint64_t v = vertexCount > 0 ? static_cast<uint64_t>(vertexCount) : 0;
    const uint64_t t = triangleCount > 0 ? static_cast<uint64_t>(triangleCount) : 0;
    const bool writePrelit = (formatFlags & kFormatPrelit) && hasPrelit && prelitColors;
    const bool writeTexCoords = (formatFlags & kFormatTexCoords) && texCoords;
    const bool writePositions = hasPositions != 0 && positions;
    const bool writeNormals = (formatFlags & kFormatNormals) && normals;

    uint64_t total = 16 + t * 8 + 16 + 8;
    if (writePrelit) total += v * 4;
    if (writeTexCoords) total += v * 8 * texCoordSets;
    if (writePositions) total += v * 12;
    if (writeNormals) total += v * 12;
    if (total > UINT32_MAX || !chunk->payload.Reserve(static_cast<uint32_t>(total))) {
        DestroyChunk(chunk);
        return nullptr;
    }
    ByteBuffer& out = chunk->payload;
    out.AppendU16(formatFlags);
    out.AppendU16(formatHigh);
    out.AppendU32(static_cast<uint32_t>(triangleCount));
    out.AppendU32(static_cast<uint32_t>(vertexCount));
    out.AppendU32(morphTargetCount);
    // The arrays hold the file's little-endian bytes as read.
    if (writePrelit) out.Append(prelitColors, static_cast<uint32_t>(v * 4));
    if (writeTexCoords) out.Append(texCoords, static_cast<uint32_t>(v * 8 * texCoordSets));
    out.Append(triangles, static_cast<uint32_t>(t * 8));
    uint8_t sphere[16];
    for (int i = 0; i < 4; ++i) StoreF32(sphere + 4 * i, boundingSphere[i]);
    out.Append(sphere, 16);
    out.AppendU32(hasPositions);
    out.AppendU32(hasNormals);
    if (writePositions) out.Append(positions, static_cast<uint32_t>(v * 12));
    if (writeNormals) out.Append(normals, static_cast<uint32_t>(v * 12));
    if (!Finish(chunk)) return nullptr;
    return chunk;
}

bool Geometry::RemoveExtensionEntries(uint32_t entryType) {
    Chunk* rebuilt = CopyExtensionWithout(extensionChunk, entryType, 0);
    if (rebuilt == nullptr) return false;
    DestroyChunk(extensionChunk);
    extensionChunk = rebuilt;
    return true;
}

Chunk* Geometry::WriteChunk() {
    // A kept chunk cut short in the file cannot be written back whole.
    if ((materialListChunk && !materialListChunk->IsComplete()) ||
        (extensionChunk && !extensionChunk->IsComplete() && nightColors == nullptr)) {
        return nullptr;
    }
    Chunk* extension = extensionChunk;
    Chunk* rebuiltExtension = nullptr;
    if (nightColors != nullptr) {
        // The new Night Colours entry replaces every older one and stands last.
        const uint32_t v = vertexCount > 0 ? static_cast<uint32_t>(vertexCount) : 0;
        const uint32_t entryBytes = kChunkHeaderSize + 4 + v * 4;
        rebuiltExtension = CopyExtensionWithout(extensionChunk, kTypeNightColors, entryBytes);
        if (rebuiltExtension == nullptr) return nullptr;
        ByteBuffer& out = rebuiltExtension->payload;
        out.cursor = out.length;
        AppendChunkHeader(out, kTypeNightColors, 4 + v * 4, kDefaultStampLow, kDefaultStampHigh);
        out.AppendU32(kNightColorsMarker);
        if (v > 0) out.Append(nightColors, v * 4);
        if (!Finish(rebuiltExtension)) return nullptr;
        extension = rebuiltExtension;
    }

    Chunk* geometryChunk = NewChunk(kTypeGeometry);
    Chunk* structChunk = WriteStruct();
    bool ok = geometryChunk != nullptr && structChunk != nullptr;
    if (ok) {
        uint64_t total = kChunkHeaderSize + static_cast<uint64_t>(structChunk->payload.length);
        if (materialListChunk) total += kChunkHeaderSize + materialListChunk->payload.length;
        if (extension) total += kChunkHeaderSize + extension->payload.length;
        ok = total <= UINT32_MAX && geometryChunk->payload.Reserve(static_cast<uint32_t>(total));
    }
    ok = ok && Chunk::AppendChild(geometryChunk, structChunk);
    if (ok && materialListChunk) ok = Chunk::AppendChild(geometryChunk, materialListChunk);
    if (ok && extension) ok = Chunk::AppendChild(geometryChunk, extension);
    DestroyChunk(structChunk);
    if (!ok) {
        DestroyChunk(geometryChunk);
        DestroyChunk(rebuiltExtension);
        return nullptr;
    }
    if (rebuiltExtension != nullptr) {
        DestroyChunk(extensionChunk);
        extensionChunk = rebuiltExtension;
    }
    return geometryChunk;
}

bool DffModel::RebuildGeometryList() {
    Geometry* geometry = FirstGeometry();
    if (geometry == nullptr || !geometry->colorsChanged) return false;

    Chunk* list = NewChunk(kTypeGeometryList);
    Chunk* countStruct = NewChunk(kTypeStruct);
    if (list == nullptr || countStruct == nullptr) {
        DestroyChunk(list);
        DestroyChunk(countStruct);
        return false;
    }
    countStruct->payload.AppendU32(1);
    bool ok = Finish(countStruct);
    Chunk* geometryChunk = ok ? geometry->WriteChunk() : nullptr;
    ok = geometryChunk != nullptr;
    if (ok) {
        uint64_t total = 2 * kChunkHeaderSize + 4 + static_cast<uint64_t>(geometryChunk->payload.length);
        ok = total <= UINT32_MAX && list->payload.Reserve(static_cast<uint32_t>(total));
    }
    ok = ok && Chunk::AppendChild(list, countStruct) && Chunk::AppendChild(list, geometryChunk);
    DestroyChunk(countStruct);
    DestroyChunk(geometryChunk);
    if (!ok) {
        DestroyChunk(list);
        return false;
    }
    DestroyChunk(geometryList);
    geometryList = list;
    return true;
}

}  // namespace brennix
