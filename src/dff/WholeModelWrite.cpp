// Writing a whole model back with one clump child replaced.
#include "dff/WholeModelWrite.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "col/ColInfo.h"
#include "dff/DffModel.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

// A clump child to be written in place of the one read (or, for an
// Extension the clump lacks, after its last child).
struct Replacement {
    bool active = false;
    uint32_t type = 0;
    uint32_t stamp = kDefaultStamp;
    const uint8_t* payload = nullptr;
    size_t length = 0;
};

void PutBytes(std::vector<uint8_t>& out, const uint8_t* bytes, size_t n) {
    if (n > 0)
        out.insert(out.end(), bytes, bytes + n);
}

void PutHeader(std::vector<uint8_t>& out, uint32_t type, uint32_t size, uint32_t stamp) {
    uint8_t header[kChunkHeaderSize];
    StoreU32(header, type);
    StoreU32(header + 4, size);
    StoreU32(header + 8, stamp);
    PutBytes(out, header, kChunkHeaderSize);
}

// One run of the clump's payload: a child as read, a replacement, or bytes.
struct Piece {
    const ChunkPlace* child = nullptr;      // written from the file
    const Replacement* replaced = nullptr;  // written from the replacement
    const uint8_t* bytes = nullptr;         // raw bytes (the clump's tail)
    size_t length = 0;                      // of the whole piece, headers included
};

// Lays out the file: the clump's payload as pieces, and where the bytes
// before and after the clump lie. False with `why` when it cannot be written.
struct Layout {
    std::vector<Piece> pieces;
    uint64_t clumpSize = 0;
    size_t prefixLength = 0;  // bytes before the clump's header
    size_t suffixStart = 0;   // bytes from here to the end follow the clump
};

bool LayOut(const WholeModel& m, const Replacement& list, const Replacement& extension,
            Layout* layout, std::string* why) {
    if (!m.hasClump) {
        *why = "the file holds no clump";
        return false;
    }
    if (m.clump.present < m.clump.size) {
        *why = "the clump is cut short";
        return false;
    }
    const uint8_t* file = m.file.data;
    layout->prefixLength = m.clump.offset;
    layout->suffixStart = m.trailingOffset;
    bool listDone = false;
    bool extensionDone = false;
    const size_t clumpEnd = static_cast<size_t>(m.clump.PayloadOffset()) + m.clump.present;
    size_t childrenEnd = m.clump.PayloadOffset();
    for (const ChunkPlace& child : m.children) {
        Piece piece;
        childrenEnd = static_cast<size_t>(child.PayloadOffset()) + child.present;
        if (list.active && !listDone && child.type == kTypeGeometryList) {
            listDone = true;
            piece.replaced = &list;
        } else if (extension.active && m.extensionPlace == ExtensionPlace::kInside &&
                   child.offset == m.clumpExtension.offset) {
            extensionDone = true;
            piece.replaced = &extension;
        } else {
            if (child.present < child.size) {
                *why = "clump child " + Hex(child.type) + " is cut short";
                return false;
            }
            piece.child = &child;
            piece.length = kChunkHeaderSize + static_cast<size_t>(child.size);
        }
        layout->pieces.push_back(piece);
    }
    if (list.active && !listDone) {
        *why = "the model has no Geometry List";
        return false;
    }
    if (extension.active && !extensionDone) {
        // Readers take an Extension after the clump as the clump's own; it
        // moves inside, after the last child.
        Piece piece;
        piece.replaced = &extension;
        layout->pieces.push_back(piece);
        if (m.extensionPlace == ExtensionPlace::kAfterClump)
            layout->suffixStart =
                static_cast<size_t>(m.clumpExtension.PayloadOffset()) + m.clumpExtension.present;
    }
    if (childrenEnd < clumpEnd) {
        Piece tail;
        tail.bytes = file + childrenEnd;
        tail.length = clumpEnd - childrenEnd;
        layout->pieces.push_back(tail);
    }
    uint64_t total = 0;
    for (Piece& piece : layout->pieces) {
        if (piece.replaced != nullptr)
            piece.length = kChunkHeaderSize + piece.replaced->length;
        total += piece.length;
    }
    if (total > UINT32_MAX) {
        *why = "the clump would pass 4 GiB";
        return false;
    }
    layout->clumpSize = total;
    const uint64_t fileSize = layout->prefixLength + kChunkHeaderSize + total +
                              (static_cast<uint64_t>(m.fileLength) - layout->suffixStart);
    if (fileSize > UINT32_MAX) {
        *why = "the file would pass 4 GiB";
        return false;
    }
    return true;
}

bool Assemble(const WholeModel& m, const Replacement& list, const Replacement& extension,
              std::vector<uint8_t>* out, std::string* why) {
    Layout layout;
    if (!LayOut(m, list, extension, &layout, why))
        return false;
    const uint8_t* file = m.file.data;
    out->reserve(layout.prefixLength + kChunkHeaderSize + layout.clumpSize +
                 (m.fileLength - layout.suffixStart));
    PutBytes(*out, file, layout.prefixLength);
    PutHeader(*out, kTypeClump, static_cast<uint32_t>(layout.clumpSize), m.clump.stamp);
    for (const Piece& piece : layout.pieces) {
        if (piece.child != nullptr) {
            PutBytes(*out, file + piece.child->offset, piece.length);
        } else if (piece.replaced != nullptr) {
            const Replacement& r = *piece.replaced;
            PutHeader(*out, r.type, static_cast<uint32_t>(r.length), r.stamp);
            PutBytes(*out, r.payload, r.length);
        } else {
            PutBytes(*out, piece.bytes, piece.length);
        }
    }
    PutBytes(*out, file + layout.suffixStart, m.fileLength - layout.suffixStart);
    return true;
}

struct ChunkDeleter {
    void operator()(Chunk* chunk) const {
        Chunk* doomed = chunk;
        DestroyChunk(doomed);
    }
};
using ChunkHolder = std::unique_ptr<Chunk, ChunkDeleter>;

bool BuildGeometries(WholeModel& model, std::vector<uint8_t>* out, std::string* why) {
    if (model.geometries.empty()) {
        *why = "the Geometry List holds no geometry";
        return false;
    }
    std::vector<ChunkHolder> chunks;
    chunks.reserve(model.geometries.size());
    uint64_t listSize = kChunkHeaderSize + 4;
    for (size_t i = 0; i < model.geometries.size(); ++i) {
        GeometryEntry& entry = model.geometries[i];
        if (!entry.ok) {
            *why = "geometry " + std::to_string(i) + " could not be read";
            return false;
        }
        ChunkHolder chunk(entry.geometry->WriteChunk());
        if (!chunk) {
            *why = "geometry " + std::to_string(i) +
                   " cannot be written (a chunk of it is cut short, or out of memory)";
            return false;
        }
        listSize += kChunkHeaderSize + static_cast<uint64_t>(chunk->payload.length);
        chunks.push_back(std::move(chunk));
    }
    if (listSize > UINT32_MAX) {
        *why = "the Geometry List would pass 4 GiB";
        return false;
    }
    std::vector<uint8_t> payload;
    payload.reserve(static_cast<size_t>(listSize));
    PutHeader(payload, kTypeStruct, 4, kDefaultStamp);
    uint8_t count[4];
    StoreU32(count, static_cast<uint32_t>(chunks.size()));
    PutBytes(payload, count, 4);
    for (const ChunkHolder& chunk : chunks) {
        PutHeader(payload, chunk->type, chunk->payload.length, chunk->Stamp());
        PutBytes(payload, chunk->payload.data, chunk->payload.length);
    }
    Replacement list;
    list.active = true;
    list.type = kTypeGeometryList;
    list.payload = payload.data();
    list.length = payload.size();
    return Assemble(model, list, Replacement(), out, why);
}

}  // namespace

bool WriteModelWithGeometries(WholeModel& model, std::vector<uint8_t>* out, std::string* why) {
    out->clear();
    try {
        if (BuildGeometries(model, out, why))
            return true;
    } catch (...) {
        *why = "out of memory";
    }
    out->clear();
    return false;
}

bool WriteModelWithExtension(const WholeModel& model, const uint8_t* entries, size_t length,
                             std::vector<uint8_t>* out, std::string* why) {
    out->clear();
    try {
        if (length > UINT32_MAX) {
            *why = "the Extension would pass 4 GiB";
            return false;
        }
        Replacement extension;
        extension.active = true;
        extension.type = kTypeExtension;
        extension.stamp = model.extensionPlace == ExtensionPlace::kNone
                              ? kDefaultStamp
                              : model.clumpExtension.stamp;
        extension.payload = entries;
        extension.length = length;
        if (Assemble(model, Replacement(), extension, out, why))
            return true;
    } catch (...) {
        *why = "out of memory";
    }
    out->clear();
    return false;
}

const ChunkPlace* FirstCollisionEntry(const WholeModel& model) {
    for (const ChunkPlace& entry : model.extensionEntries) {
        if (IsCollisionEntryType(entry.type))
            return &entry;
    }
    return nullptr;
}

bool BuildAttachedExtension(const WholeModel& model, bool removeCollisions, uint32_t entryType,
                            const uint8_t* col, size_t colLength, std::vector<uint8_t>* entries,
                            std::string* why) {
    entries->clear();
    try {
        uint64_t filled = 0;
        uint64_t kept = 0;
        for (const ChunkPlace& entry : model.extensionEntries) {
            if (entry.present < entry.size) {
                *why = "the clump Extension's entry " + Hex(entry.type) + " is cut short";
                return false;
            }
            filled += kChunkHeaderSize + static_cast<uint64_t>(entry.size);
            if (!(removeCollisions && IsCollisionEntryType(entry.type)))
                kept += kChunkHeaderSize + static_cast<uint64_t>(entry.size);
        }
        if (model.extensionPlace != ExtensionPlace::kNone &&
            (model.clumpExtension.present < model.clumpExtension.size ||
             filled != model.clumpExtension.size)) {
            *why = "the clump Extension's entries do not fill it";
            return false;
        }
        const uint64_t total = kept + kChunkHeaderSize + colLength;
        if (colLength > UINT32_MAX || total > UINT32_MAX) {
            *why = "the clump Extension would pass 4 GiB";
            return false;
        }
        entries->reserve(static_cast<size_t>(total));
        for (const ChunkPlace& entry : model.extensionEntries) {
            if (removeCollisions && IsCollisionEntryType(entry.type))
                continue;
            PutBytes(*entries, model.file.data + entry.offset, kChunkHeaderSize + entry.size);
        }
        PutHeader(*entries, entryType, static_cast<uint32_t>(colLength), kDefaultStamp);
        PutBytes(*entries, col, colLength);
        return true;
    } catch (...) {
        *why = "out of memory";
    }
    entries->clear();
    return false;
}

bool ReadsBackAsWell(const WholeModel& before, const WholeModel& after, std::string* why) {
    if (!after.hasClump || after.outOfMemory) {
        *why = "the written model would not read back";
        return false;
    }
    for (const ModelProblem& problem : after.problems) {
        bool known = false;
        for (const ModelProblem& old : before.problems) {
            if (old.step == problem.step && old.code == problem.code &&
                old.detail == problem.detail) {
                known = true;
                break;
            }
        }
        if (!known) {
            *why = "the written model would not read back (" + problem.step + ": " +
                   problem.message + ")";
            return false;
        }
    }
    return true;
}

bool ColoursReadBack(const WholeModel& written, size_t index, const uint8_t* day,
                     const uint8_t* night, int32_t vertexCount) {
    if (index >= written.geometries.size() || vertexCount < 0)
        return false;
    const GeometryEntry& entry = written.geometries[index];
    if (!entry.ok || entry.geometry == nullptr)
        return false;
    const Geometry& g = *entry.geometry;
    if (g.vertexCount != vertexCount || !g.hasNight || g.nightColors == nullptr)
        return false;
    const size_t bytes = static_cast<size_t>(vertexCount) * 4;
    if (bytes > 0 && std::memcmp(g.nightColors, night, bytes) != 0)
        return false;
    if (day == nullptr)
        return true;
    if (!g.hasPrelit || g.prelitColors == nullptr)
        return false;
    return bytes == 0 || std::memcmp(g.prelitColors, day, bytes) == 0;
}

}  // namespace brennix
