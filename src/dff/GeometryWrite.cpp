// Writing a changed geometry back: the Struct body afresh, the Material List
// as read, the Extension as read or with a fresh Night Colours entry last.
//
// Every size is worked out before anything is written, so each chunk is
// allocated once and the rebuilt Geometry List is assembled in place, without
// building the inner chunks separately and copying them into it. The same
// routine also lays the list out as pieces that point at the geometry's
// arrays and the file's bytes, which a save writes without assembling them.
#include <cstring>
#include <new>

#include "dff/DffModel.h"
#include "dff/GeometryPieces.h"
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

// Where written bytes go. Small runs are encoded values that live on the
// stack; large runs are arrays of the geometry or bytes of the file, which
// stay where they are while the model lives.
struct BufferSink {
    ByteBuffer& out;
    void Small(const void* bytes, uint32_t n) { out.Append(bytes, n); }
    void Large(const void* bytes, uint32_t n) {
        if (n > 0)
            out.Append(bytes, n);
    }
};

template <typename Sink>
void PutU16(Sink& sink, uint16_t value) {
    uint8_t bytes[2];
    StoreU16(bytes, value);
    sink.Small(bytes, 2);
}

template <typename Sink>
void PutU32(Sink& sink, uint32_t value) {
    uint8_t bytes[4];
    StoreU32(bytes, value);
    sink.Small(bytes, 4);
}

template <typename Sink>
void PutHeader(Sink& sink, uint32_t type, uint32_t size, uint16_t stampLow, uint16_t stampHigh) {
    uint8_t header[kChunkHeaderSize];
    StoreU32(header, type);
    StoreU32(header + 4, size);
    StoreU16(header + 8, stampLow);
    StoreU16(header + 10, stampHigh);
    sink.Small(header, kChunkHeaderSize);
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

template <typename Sink>
void PutStructBody(const Geometry& g, Sink& out) {
    const uint32_t v = VertexTotal(g);
    PutU16(out, g.formatFlags);
    PutU16(out, g.formatHigh);
    PutU32(out, static_cast<uint32_t>(g.triangleCount));
    PutU32(out, static_cast<uint32_t>(g.vertexCount));
    PutU32(out, g.morphTargetCount);
    // The arrays hold the file's little-endian bytes as read.
    if (WritesPrelit(g))
        out.Large(g.prelitColors, v * 4);
    if (WritesTexCoords(g))
        out.Large(g.texCoords, v * 8 * g.texCoordSets);
    out.Large(g.triangles, TriangleTotal(g) * 8);
    uint8_t tail[24];
    for (int i = 0; i < 4; ++i)
        StoreF32(tail + 4 * i, g.boundingSphere[i]);
    StoreU32(tail + 16, g.hasPositions);
    StoreU32(tail + 20, g.hasNormals);
    out.Small(tail, 24);
    if (WritesPositions(g))
        out.Large(g.positions, v * 12);
    if (WritesNormals(g))
        out.Large(g.normals, v * 12);
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

template <typename Sink>
void PutEntriesExcept(const Chunk* extension, uint32_t entryType, Sink& out) {
    ForEachEntryExcept(extension, entryType,
                       [&](const uint8_t* header, const uint8_t* body, uint32_t length) {
                           out.Large(header, kChunkHeaderSize);
                           out.Large(body, length);
                       });
}

uint32_t NightEntryPayloadSize(const Geometry& g) {
    return 4 + VertexTotal(g) * 4;
}

template <typename Sink>
void PutNightEntry(const Geometry& g, Sink& out) {
    PutHeader(out, kTypeNightColors, NightEntryPayloadSize(g), kDefaultStampLow, kDefaultStampHigh);
    PutU32(out, kNightColorsMarker);
    out.Large(g.nightColors, VertexTotal(g) * 4);
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
template <typename Sink>
void PutGeometryPayload(const Geometry& g, const GeometryLayout& layout, Sink& out) {
    PutHeader(out, kTypeStruct, layout.structBody, kDefaultStampLow, kDefaultStampHigh);
    PutStructBody(g, out);
    if (const Chunk* list = g.materialListChunk) {
        // Header exactly as read, with its declared size and its own stamp.
        PutHeader(out, list->type, list->size, list->stampLow, list->stampHigh);
        out.Large(list->payload.data, list->payload.length);
    }
    if (layout.rebuildExtension) {
        PutHeader(out, kTypeExtension, layout.extensionPayload, kDefaultStampLow,
                  kDefaultStampHigh);
        PutEntriesExcept(g.extensionChunk, kTypeNightColors, out);
        PutNightEntry(g, out);
    } else if (const Chunk* extension = g.extensionChunk) {
        PutHeader(out, extension->type, extension->size, extension->stampLow, extension->stampHigh);
        out.Large(extension->payload.data, extension->payload.length);
    }
}

// The rebuilt Geometry List's payload: a Struct holding the count 1, then the
// one Geometry chunk, all under the system's own stamp.
template <typename Sink>
void PutGeometryListPayload(const Geometry& g, const GeometryLayout& layout, Sink& out) {
    PutHeader(out, kTypeStruct, 4, kDefaultStampLow, kDefaultStampHigh);
    PutU32(out, 1);
    PutHeader(out, kTypeGeometry, layout.geometryPayload, kDefaultStampLow, kDefaultStampHigh);
    PutGeometryPayload(g, layout, out);
}

uint32_t ListPayloadSize(const GeometryLayout& layout) {
    return 2 * kChunkHeaderSize + 4 + layout.geometryPayload;
}

// Whether the rebuilt list held in runs (its payload, `total` bytes) gives a
// geometry whose Extension reads back with the new night colours. The
// Extension's payload ends the list. A list whose Extension is written as
// read reads back as it did.
bool ReadsBack(const Geometry& g, const GeometryLayout& layout, const platform::Segment* runs,
               size_t count, uint64_t total) {
    if (!layout.rebuildExtension)
        return true;
    return ExtensionReadsBack(runs, count, total - layout.extensionPayload, layout.extensionPayload,
                              g.vertexCount, g.nightColors, g.readOptions);
}

}  // namespace

bool PlanGeometryChunk(const Geometry& g, GeometryChunkPlan* plan) {
    GeometryLayout layout;
    if (!PlanGeometry(g, &layout))
        return false;
    plan->payload = layout.geometryPayload;
    plan->structBody = layout.structBody;
    plan->extensionPayload = layout.extensionPayload;
    plan->rebuildsExtension = layout.rebuildExtension;
    return true;
}

void PutGeometryChunk(const Geometry& g, const GeometryChunkPlan& plan, RunSink& sink) {
    GeometryLayout layout;
    layout.structBody = plan.structBody;
    layout.extensionPayload = plan.extensionPayload;
    layout.rebuildExtension = plan.rebuildsExtension;
    layout.geometryPayload = plan.payload;
    PutHeader(sink, kTypeGeometry, layout.geometryPayload, kDefaultStampLow, kDefaultStampHigh);
    PutGeometryPayload(g, layout, sink);
}

Chunk* Geometry::WriteStruct() const {
    uint64_t body = StructBodySize(*this);
    Chunk* chunk = NewChunk(kTypeStruct);
    if (chunk == nullptr)
        return nullptr;
    if (body > UINT32_MAX || !chunk->payload.Reserve(static_cast<uint32_t>(body))) {
        DestroyChunk(chunk);
        return nullptr;
    }
    BufferSink sink{chunk->payload};
    PutStructBody(*this, sink);
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
    BufferSink sink{rebuilt->payload};
    PutEntriesExcept(extensionChunk, entryType, sink);
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
    BufferSink sink{chunk->payload};
    PutGeometryPayload(*this, layout, sink);
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
    const uint32_t total = ListPayloadSize(layout);
    if (!list->payload.Reserve(total)) {
        DestroyChunk(list);
        return false;
    }
    BufferSink sink{list->payload};
    PutGeometryListPayload(*geometry, layout, sink);
    if (!Finish(list))
        return false;
    // Refused when the list would be written but not read back whole: the
    // new night colours are then lost inside an entry, or an entry that the
    // reader passed over as the Extension's end now stands before them.
    const platform::Segment written{list->payload.data, list->payload.length};
    if (list->payload.length != total || !ReadsBack(*geometry, layout, &written, 1, total)) {
        DestroyChunk(list);
        return false;
    }
    DestroyChunk(geometryList);
    geometryList = list;
    return true;
}

RebuiltListStatus LayOutRebuiltGeometryList(const DffModel& model, GeometryListPieces* pieces) {
    const Geometry* geometry = model.FirstGeometry();
    if (geometry == nullptr || !geometry->colorsChanged)
        return RebuiltListStatus::kNothingToWrite;
    GeometryLayout layout;
    if (!PlanGeometry(*geometry, &layout))
        return RebuiltListStatus::kNothingToWrite;
    PutGeometryListPayload(*geometry, layout, *pieces);
    if (pieces->overflow || pieces->total != ListPayloadSize(layout))
        return RebuiltListStatus::kTooManyPieces;
    if (!ReadsBack(*geometry, layout, pieces->segments, pieces->count, pieces->total))
        return RebuiltListStatus::kNothingToWrite;
    return RebuiltListStatus::kLaidOut;
}

}  // namespace brennix
