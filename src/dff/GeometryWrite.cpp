// Writing a changed geometry back: the Struct body afresh, the Material List
// as read, the Extension as read or with a fresh Night Colours entry last.
//
// Every size is worked out before anything is written, so each chunk is
// allocated once and the rebuilt Geometry List is assembled in place, without
// building the inner chunks separately and copying them into it.
#include <cstring>
#include <new>

#include "dff/DffModel.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

// A new chunk record with the system's own stamp, or null.
Chunk* NewChunk(uint32_t type) {
    Chunk* chunk = new (std::nothrow) Chunk();
    if (chunk == nullptr)
        return nullptr;
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

uint32_t VertexTotal(const Geometry& g) {
    return g.vertexCount > 0 ? g.vertexCount : 0;
}
uint32_t TriangleTotal(const Geometry& g) {
    return g.triangleCount > 0 ? g.triangleCount : 0;
}

bool WritesPrelit(const Geometry& g) {
    return (g.formatFlags & kFormatPrelit) && g.hasPrelit && g.prelitColors;
}
bool WritesTexCoords(const Geometry& g) {
    return (g.formatFlags & kFormatTexCoords) && g.texCoords;
}
bool WritesPositions(const Geometry& g) {
    return g.hasPositions != 0 && g.positions;
}
bool WritesNormals(const Geometry& g) {
    return (g.formatFlags & kFormatNormals) && g.normals;
}

uint64_t StructBodySize(const Geometry& g) {
    const uint64_t v = VertexTotal(g);
    uint64_t total = 16 + static_cast<uint64_t>(TriangleTotal(g)) * 8 + 16 + 8;
    if (WritesPrelit(g))
        total += v * 4;
    if (WritesTexCoords(g))
        total += v * 8 * g.texCoordSets;
    if (WritesPositions(g))
        total += v * 12;
    if (WritesNormals(g))
        total += v * 12;
    return total;
}

void AppendStructBody(const Geometry& g, ByteBuffer& out) {
    const uint32_t v = VertexTotal(g);
    out.AppendU16(g.formatFlags);
    out.AppendU16(g.formatHigh);
    out.AppendU32(static_cast<uint32_t>(g.triangleCount));
    out.AppendU32(static_cast<uint32_t>(g.vertexCount));
    out.AppendU32(g.morphTargetCount);
    // The arrays hold the file's little-endian bytes as read.
    if (WritesPrelit(g))
        out.Append(g.prelitColors, v * 4);
    if (WritesTexCoords(g))
        out.Append(g.texCoords, v * 8 * g.texCoordSets);
    out.Append(g.triangles, TriangleTotal(g) * 8);
    uint8_t sphere[16];
    for (int i = 0; i < 4; ++i)
        StoreF32(sphere + 4 * i, g.boundingSphere[i]);
    out.Append(sphere, 16);
    out.AppendU32(g.hasPositions);
    out.AppendU32(g.hasNormals);
    if (WritesPositions(g))
        out.Append(g.positions, v * 12);
    if (WritesNormals(g))
        out.Append(g.normals, v * 12);
}

// Walks the entries of an Extension payload while at least a header
// remains, calling visit(header, bodyBytes, bodyLength) for each entry not
// of entryType. A body is never taken past the end of the payload.
template <typename Visit>
void ForEachEntryExcept(const Chunk* extension, uint32_t entryType, Visit visit) {
    if (extension == nullptr)
        return;
    ByteBuffer entries = extension->payload;
    entries.ownsData = 0;
    entries.Rewind();
    while (entries.Remaining() >= kChunkHeaderSize) {
        const uint8_t* header = entries.data + entries.cursor;
        uint32_t type = LoadU32(header);
        uint32_t size = LoadU32(header + 4);
        entries.Skip(kChunkHeaderSize);
        if (type != entryType) {
            uint32_t body = size < entries.Remaining() ? size : entries.Remaining();
            visit(header, entries.data + entries.cursor, body);
        }
        entries.Skip(size);
    }
}

uint64_t EntriesSizeExcept(const Chunk* extension, uint32_t entryType) {
    uint64_t total = 0;
    ForEachEntryExcept(extension, entryType, [&](const uint8_t*, const uint8_t*, uint32_t body) {
        total += kChunkHeaderSize + static_cast<uint64_t>(body);
    });
    return total;
}

void AppendEntriesExcept(const Chunk* extension, uint32_t entryType, ByteBuffer& out) {
    ForEachEntryExcept(extension, entryType,
                       [&](const uint8_t* header, const uint8_t* body, uint32_t length) {
                           out.Append(header, kChunkHeaderSize);
                           if (length > 0)
                               out.Append(body, length);
                       });
}

uint32_t NightEntryPayloadSize(const Geometry& g) {
    return 4 + VertexTotal(g) * 4;
}

void AppendNightEntry(const Geometry& g, ByteBuffer& out) {
    AppendChunkHeader(out, kTypeNightColors, NightEntryPayloadSize(g), kDefaultStampLow,
                      kDefaultStampHigh);
    out.AppendU32(kNightColorsMarker);
    if (VertexTotal(g) > 0)
        out.Append(g.nightColors, VertexTotal(g) * 4);
}

// The sizes of a written Geometry chunk's parts.
struct GeometryLayout {
    uint32_t structBody;
    uint32_t extensionPayload;  // as written: rebuilt or as read
    bool rebuildExtension;
    uint32_t geometryPayload;
};

bool PlanGeometry(const Geometry& g, GeometryLayout* layout) {
    // A kept chunk cut short in the file cannot be written back whole.
    if (g.materialListChunk && !g.materialListChunk->IsComplete())
        return false;
    layout->rebuildExtension = g.nightColors != nullptr;
    if (g.extensionChunk && !layout->rebuildExtension && !g.extensionChunk->IsComplete()) {
        return false;
    }
    uint64_t body = StructBodySize(g);
    uint64_t extension = 0;
    if (layout->rebuildExtension) {
        extension = EntriesSizeExcept(g.extensionChunk, kTypeNightColors) + kChunkHeaderSize +
                    NightEntryPayloadSize(g);
    } else if (g.extensionChunk) {
        extension = g.extensionChunk->payload.length;
    }
    uint64_t total = kChunkHeaderSize + body;
    if (g.materialListChunk)
        total += kChunkHeaderSize + g.materialListChunk->payload.length;
    if (g.extensionChunk || layout->rebuildExtension)
        total += kChunkHeaderSize + extension;
    // Room for the list's own headers as well, so the list fits too.
    if (total > UINT32_MAX - 64)
        return false;
    layout->structBody = static_cast<uint32_t>(body);
    layout->extensionPayload = static_cast<uint32_t>(extension);
    layout->geometryPayload = static_cast<uint32_t>(total);
    return true;
}

// The Geometry chunk's payload: Struct, Material List, Extension.
void AppendGeometryPayload(const Geometry& g, const GeometryLayout& layout, ByteBuffer& out) {
    AppendChunkHeader(out, kTypeStruct, layout.structBody, kDefaultStampLow, kDefaultStampHigh);
    AppendStructBody(g, out);
    if (const Chunk* list = g.materialListChunk) {
        // Header exactly as read, with its declared size and its own stamp.
        AppendChunkHeader(out, list->type, list->size, list->stampLow, list->stampHigh);
        if (list->payload.length > 0)
            out.Append(list->payload.data, list->payload.length);
    }
    if (layout.rebuildExtension) {
        AppendChunkHeader(out, kTypeExtension, layout.extensionPayload, kDefaultStampLow,
                          kDefaultStampHigh);
        AppendEntriesExcept(g.extensionChunk, kTypeNightColors, out);
        AppendNightEntry(g, out);
    } else if (const Chunk* extension = g.extensionChunk) {
        AppendChunkHeader(out, extension->type, extension->size, extension->stampLow,
                          extension->stampHigh);
        if (extension->payload.length > 0) {
            out.Append(extension->payload.data, extension->payload.length);
        }
    }
}

}  // namespace

Chunk* Geometry::WriteStruct() const {
    uint64_t body = StructBodySize(*this);
    Chunk* chunk = NewChunk(kTypeStruct);
    if (chunk == nullptr)
        return nullptr;
    if (body > UINT32_MAX || !chunk->payload.Reserve(static_cast<uint32_t>(body))) {
        DestroyChunk(chunk);
        return nullptr;
    }
    AppendStructBody(*this, chunk->payload);
    if (!Finish(chunk))
        return nullptr;
    return chunk;
}

bool Geometry::RemoveExtensionEntries(uint32_t entryType) {
    Chunk* rebuilt = NewChunk(kTypeExtension);
    if (rebuilt == nullptr)
        return false;
    uint64_t size = EntriesSizeExcept(extensionChunk, entryType);
    if (size > UINT32_MAX || !rebuilt->payload.Reserve(static_cast<uint32_t>(size))) {
        DestroyChunk(rebuilt);
        return false;
    }
    AppendEntriesExcept(extensionChunk, entryType, rebuilt->payload);
    if (!Finish(rebuilt))
        return false;
    DestroyChunk(extensionChunk);
    extensionChunk = rebuilt;
    return true;
}

Chunk* Geometry::WriteChunk() {
    GeometryLayout layout;
    if (!PlanGeometry(*this, &layout))
        return nullptr;
    Chunk* chunk = NewChunk(kTypeGeometry);
    if (chunk == nullptr)
        return nullptr;
    if (!chunk->payload.Reserve(layout.geometryPayload)) {
        DestroyChunk(chunk);
        return nullptr;
    }
    AppendGeometryPayload(*this, layout, chunk->payload);
    if (!Finish(chunk))
        return nullptr;
    if (layout.rebuildExtension) {
        // Keep the geometry's own Extension in step with what was written:
        // the written one is the old one without Night Colours entries, plus
        // the fresh entry last. Writing again gives the same bytes.
        const uint32_t start = chunk->payload.length - layout.extensionPayload;
        Chunk* rebuilt = NewChunk(kTypeExtension);
        if (rebuilt == nullptr ||
            rebuilt->payload.Append(chunk->payload.data + start, layout.extensionPayload) !=
                layout.extensionPayload ||
            !Finish(rebuilt)) {
            DestroyChunk(rebuilt);
            DestroyChunk(chunk);
            return nullptr;
        }
        DestroyChunk(extensionChunk);
        extensionChunk = rebuilt;
    }
    return chunk;
}

bool DffModel::RebuildGeometryList() {
    Geometry* geometry = FirstGeometry();
    if (geometry == nullptr || !geometry->colorsChanged)
        return false;

    GeometryLayout layout;
    if (!PlanGeometry(*geometry, &layout))
        return false;
    Chunk* list = NewChunk(kTypeGeometryList);
    if (list == nullptr)
        return false;
    const uint32_t total = 2 * kChunkHeaderSize + 4 + layout.geometryPayload;
    if (!list->payload.Reserve(total)) {
        DestroyChunk(list);
        return false;
    }
    // The list: a Struct holding the count 1, then the one Geometry chunk,
    // all under the system's own stamp.
    ByteBuffer& out = list->payload;
    AppendChunkHeader(out, kTypeStruct, 4, kDefaultStampLow, kDefaultStampHigh);
    out.AppendU32(1);
    AppendChunkHeader(out, kTypeGeometry, layout.geometryPayload, kDefaultStampLow,
                      kDefaultStampHigh);
    AppendGeometryPayload(*geometry, layout, out);
    if (!Finish(list))
        return false;
    if (list->payload.length != total) {
        DestroyChunk(list);
        return false;
    }
    DestroyChunk(geometryList);
    geometryList = list;
    return true;
}

}  // namespace brennix
