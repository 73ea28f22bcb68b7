// Writing a whole model back with one clump child replaced.
#include "dff/WholeModelWrite.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>

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

void PutHeader(RunSink& out, uint32_t type, uint32_t size, uint32_t stamp) {
    uint8_t header[kChunkHeaderSize];
    StoreU32(header, type);
    StoreU32(header + 4, size);
    StoreU32(header + 8, stamp);
    out.Small(header, kChunkHeaderSize);
}

// Puts `n` bytes from the file, in runs a segment's length holds.
void PutFileBytes(RunSink& out, const uint8_t* bytes, uint64_t n) {
    while (n > 0) {
        const uint32_t piece = n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
        out.Large(bytes, piece);
        bytes += piece;
        n -= piece;
    }
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
    layout->pieces.reserve(m.children.size() + 2);
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

// The rebuilt Geometry List's payload: a Struct counting the geometries,
// then each rebuilt Geometry chunk.
void PutGeometryList(const WholeModel& m, const std::vector<GeometryChunkPlan>& plans,
                     RunSink& out) {
    PutHeader(out, kTypeStruct, 4, kDefaultStamp);
    uint8_t count[4];
    StoreU32(count, static_cast<uint32_t>(plans.size()));
    out.Small(count, 4);
    for (size_t i = 0; i < plans.size(); ++i)
        PutGeometryChunk(*m.geometries[i].geometry, plans[i], out);
}

// Puts the laid-out file into `out`. `plans`, when given, are of the
// geometries the list replacement stands for.
void Assemble(const WholeModel& m, const Layout& layout,
              const std::vector<GeometryChunkPlan>* plans, RunSink& out) {
    const uint8_t* file = m.file.data;
    PutFileBytes(out, file, layout.prefixLength);
    PutHeader(out, kTypeClump, static_cast<uint32_t>(layout.clumpSize), m.clump.stamp);
    for (const Piece& piece : layout.pieces) {
        if (piece.child != nullptr) {
            PutFileBytes(out, file + piece.child->offset, piece.length);
        } else if (piece.replaced != nullptr) {
            const Replacement& r = *piece.replaced;
            PutHeader(out, r.type, static_cast<uint32_t>(r.length), r.stamp);
            if (plans != nullptr && r.type == kTypeGeometryList)
                PutGeometryList(m, *plans, out);
            else
                PutFileBytes(out, r.payload, r.length);
        } else {
            PutFileBytes(out, piece.bytes, piece.length);
        }
    }
    PutFileBytes(out, file + layout.suffixStart, m.fileLength - layout.suffixStart);
}

bool LayOutGeometries(const WholeModel& model, FileRuns* out, std::string* why) {
    if (model.geometries.empty()) {
        *why = "the Geometry List holds no geometry";
        return false;
    }
    std::vector<GeometryChunkPlan> plans(model.geometries.size());
    uint64_t listSize = kChunkHeaderSize + 4;
    for (size_t i = 0; i < model.geometries.size(); ++i) {
        const GeometryEntry& entry = model.geometries[i];
        if (!entry.ok || entry.geometry == nullptr) {
            *why = "geometry " + std::to_string(i) + " could not be read";
            return false;
        }
        if (!PlanGeometryChunk(*entry.geometry, &plans[i])) {
            *why = "geometry " + std::to_string(i) +
                   " cannot be written (a chunk of it is cut short, or it would pass 4 GiB)";
            return false;
        }
        listSize += kChunkHeaderSize + static_cast<uint64_t>(plans[i].payload);
        if (listSize > UINT32_MAX) {
            *why = "the Geometry List would pass 4 GiB";
            return false;
        }
    }
    Replacement list;
    list.active = true;
    list.type = kTypeGeometryList;
    list.length = static_cast<size_t>(listSize);
    Layout layout;
    if (!LayOut(model, list, Replacement(), &layout, why))
        return false;
    Assemble(model, layout, &plans, *out);
    return true;
}

// Reads forward through the runs of a laid-out file, as if they were one
// block. Reads past the end give zeros and are noted.
class RunCursor {
public:
    explicit RunCursor(const std::vector<platform::Segment>& runs) : runs_(runs) {}

    uint64_t position = 0;
    bool overrun = false;

    // Hands the next n bytes to visit, run by run.
    template <typename Visit>
    void Walk(uint64_t n, Visit visit) {
        while (n > 0 && run_ < runs_.size()) {
            const uint32_t left = runs_[run_].length - offset_;
            const uint32_t piece = n < left ? static_cast<uint32_t>(n) : left;
            if (piece > 0)
                visit(runs_[run_].data + offset_, piece);
            offset_ += piece;
            position += piece;
            n -= piece;
            if (offset_ == runs_[run_].length) {
                ++run_;
                offset_ = 0;
            }
        }
        if (n > 0)
            overrun = true;
    }
    void Skip(uint64_t n) {
        Walk(n, [](const uint8_t*, uint32_t) {});
    }
    uint32_t ReadU32() {
        uint8_t bytes[4] = {};
        uint8_t* at = bytes;
        Walk(4, [&at](const uint8_t* data, uint32_t piece) {
            std::memcpy(at, data, piece);
            at += piece;
        });
        return LoadU32(bytes);
    }
    bool Header(uint32_t* type, uint32_t* size) {
        *type = ReadU32();
        *size = ReadU32();
        ReadU32();
        return !overrun;
    }
    // Whether the next n bytes are `expected`; moves past them.
    bool Matches(const uint8_t* expected, uint64_t n) {
        bool equal = true;
        Walk(n, [&](const uint8_t* data, uint32_t piece) {
            if (data != expected && std::memcmp(data, expected, piece) != 0)
                equal = false;
            expected += piece;
        });
        return equal && !overrun;
    }
    // The runs from here on, and how far into the first of them here lies.
    const platform::Segment* Runs() const { return runs_.data() + run_; }
    size_t RunsLeft() const { return runs_.size() - run_; }
    uint32_t Offset() const { return offset_; }

private:
    const std::vector<platform::Segment>& runs_;
    size_t run_ = 0;
    uint32_t offset_ = 0;
};

// Walks geometry `index`'s chunk in the runs; the cursor stands after its
// header, whose payload size is `size`.
bool GeometryReadsBack(const Geometry& g, const ExpectedColours& expected, RunCursor& runs,
                       uint32_t size, std::string* why) {
    const uint64_t end = runs.position + size;
    uint32_t type = 0;
    uint32_t length = 0;
    if (!runs.Header(&type, &length) || type != kTypeStruct || length < 16) {
        *why = "its Struct is missing";
        return false;
    }
    const uint64_t structEnd = runs.position + length;
    const uint32_t format = runs.ReadU32();
    const uint32_t triangles = runs.ReadU32();
    const uint32_t vertices = runs.ReadU32();
    const uint32_t morphTargets = runs.ReadU32();
    if (format != (g.formatFlags | static_cast<uint32_t>(g.formatHigh) << 16) ||
        triangles != static_cast<uint32_t>(g.triangleCount) ||
        vertices != static_cast<uint32_t>(g.vertexCount) || morphTargets != g.morphTargetCount) {
        *why = "its Struct does not hold its format and counts";
        return false;
    }
    const uint64_t colourBytes = 4 * static_cast<uint64_t>(g.vertexCount > 0 ? g.vertexCount : 0);
    if (expected.day != nullptr) {
        // Day colours come first after the counts in a Struct of the
        // system's own stamp, which has no lighting block.
        if (!(g.formatFlags & kFormatPrelit) || structEnd - runs.position < colourBytes ||
            !runs.Matches(expected.day, colourBytes)) {
            *why = "its day colours would not read back";
            return false;
        }
    }
    runs.Skip(structEnd - runs.position);
    if (const Chunk* list = g.materialListChunk) {
        if (!runs.Header(&type, &length) || type != list->type || length != list->size) {
            *why = "its Material List would not read back";
            return false;
        }
        runs.Skip(length);
    }
    if (g.extensionChunk != nullptr || g.nightColors != nullptr) {
        if (!runs.Header(&type, &length) || type != kTypeExtension ||
            end - runs.position != length) {
            *why = "its Extension would not read back";
            return false;
        }
        if (expected.night != nullptr &&
            !ExtensionReadsBack(runs.Runs(), runs.RunsLeft(), runs.Offset(), length, g.vertexCount,
                                expected.night, g.readOptions)) {
            *why = "its Extension would not read back with the new night colours";
            return false;
        }
        runs.Skip(length);
    }
    if (runs.overrun || runs.position != end) {
        *why = "its chunks do not fill it";
        return false;
    }
    return true;
}

bool ListReadsBack(const WholeModel& m, const std::vector<ExpectedColours>& expected,
                   RunCursor& runs, uint32_t size, std::string* why) {
    const uint64_t end = runs.position + size;
    uint32_t type = 0;
    uint32_t length = 0;
    if (!runs.Header(&type, &length) || type != kTypeStruct || length != 4 ||
        runs.ReadU32() != m.geometries.size()) {
        *why = "the written Geometry List would not count its geometries";
        return false;
    }
    for (size_t i = 0; i < m.geometries.size(); ++i) {
        const Geometry* g = m.geometries[i].geometry;
        std::string reason = "its header";
        if (g == nullptr || !runs.Header(&type, &length) || type != kTypeGeometry ||
            end - runs.position < length ||
            !GeometryReadsBack(*g, expected[i], runs, length, &reason)) {
            *why = "the written geometry " + std::to_string(i) + " would not read back: " + reason;
            return false;
        }
    }
    if (runs.position != end) {
        *why = "the written Geometry List holds more than its geometries";
        return false;
    }
    return true;
}

}  // namespace

void FileRuns::Add(const uint8_t* start, uint32_t n) {
    total_ += n;
    if (!segments_.empty()) {
        platform::Segment& last = segments_.back();
        if (last.data + last.length == start && last.length <= UINT32_MAX - n) {
            last.length += n;
            return;
        }
    }
    segments_.push_back({start, n});
}

void FileRuns::Small(const void* bytes, uint32_t n) {
    if (n == 0)
        return;
    if (n > kBlockBytes) {
        const uint8_t* from = static_cast<const uint8_t*>(bytes);
        for (uint32_t done = 0; done < n;) {
            const uint32_t piece = n - done < kBlockBytes ? n - done : kBlockBytes;
            Small(from + done, piece);
            done += piece;
        }
        return;
    }
    if (n > kBlockBytes - blockUsed_) {
        blocks_.push_back(std::unique_ptr<uint8_t[]>(new uint8_t[kBlockBytes]));
        blockUsed_ = 0;
    }
    uint8_t* at = blocks_.back().get() + blockUsed_;
    std::memcpy(at, bytes, n);
    blockUsed_ += n;
    Add(at, n);
}

void FileRuns::Large(const void* bytes, uint32_t n) {
    if (n == 0)
        return;
    const uint8_t* start = static_cast<const uint8_t*>(bytes);
    if (n <= kCopiedRun &&
        !(!segments_.empty() && segments_.back().data + segments_.back().length == start)) {
        Small(bytes, n);
        return;
    }
    Add(start, n);
}

void FileRuns::JoinInto(std::vector<uint8_t>* out) const {
    out->clear();
    out->reserve(static_cast<size_t>(total_));
    for (const platform::Segment& segment : segments_)
        PutBytes(*out, segment.data, segment.length);
}

void FileRuns::Clear() {
    segments_.clear();
    blocks_.clear();
    blockUsed_ = kBlockBytes;
    total_ = 0;
}

bool LayOutModelWithGeometries(const WholeModel& model, FileRuns* out, std::string* why) {
    out->Clear();
    try {
        if (LayOutGeometries(model, out, why))
            return true;
    } catch (...) {
        *why = "out of memory";
    }
    out->Clear();
    return false;
}

bool WriteModelWithGeometries(WholeModel& model, std::vector<uint8_t>* out, std::string* why) {
    out->clear();
    try {
        FileRuns runs;
        if (LayOutGeometries(model, &runs, why)) {
            runs.JoinInto(out);
            return true;
        }
    } catch (...) {
        *why = "out of memory";
    }
    out->clear();
    return false;
}

bool LaidOutModelReadsBack(const WholeModel& model, const FileRuns& laidOut,
                           const std::vector<ExpectedColours>& expected, std::string* why) {
    if (!model.hasClump || expected.size() != model.geometries.size()) {
        *why = "the written model would not read back";
        return false;
    }
    RunCursor runs(laidOut.Segments());
    const uint64_t suffix = static_cast<uint64_t>(model.fileLength) - model.trailingOffset;
    runs.Skip(model.clump.offset);
    uint32_t type = 0;
    uint32_t size = 0;
    if (!runs.Header(&type, &size) || type != kTypeClump ||
        runs.position + size + suffix != laidOut.Size()) {
        *why = "the written clump would not read back";
        return false;
    }
    const uint64_t clumpEnd = runs.position + size;
    bool listDone = false;
    for (const ChunkPlace& child : model.children) {
        uint32_t length = 0;
        if (!runs.Header(&type, &length) || type != child.type ||
            clumpEnd - runs.position < length) {
            *why = "the written clump child " + Hex(child.type) + " would not read back";
            return false;
        }
        if (type == kTypeGeometryList && !listDone) {
            listDone = true;
            if (!ListReadsBack(model, expected, runs, length, why))
                return false;
            continue;
        }
        if (length != child.size) {
            *why = "the written clump child " + Hex(child.type) + " would not read back";
            return false;
        }
        runs.Skip(length);
    }
    // Bytes after the last child are written as they were.
    runs.Skip(clumpEnd - runs.position);
    if (!listDone || runs.overrun || runs.position != clumpEnd) {
        *why = "the written clump would not read back";
        return false;
    }
    return true;
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
        Layout layout;
        if (LayOut(model, Replacement(), extension, &layout, why)) {
            FileRuns runs;
            Assemble(model, layout, nullptr, runs);
            runs.JoinInto(out);
            return true;
        }
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

namespace {

// A problem as ReadsBackAsWell compares them: step, code and detail.
struct ProblemKey {
    const ModelProblem* problem;
    bool operator==(const ProblemKey& other) const {
        return problem->code == other.problem->code && problem->detail == other.problem->detail &&
               problem->step == other.problem->step;
    }
};

struct ProblemKeyHash {
    size_t operator()(const ProblemKey& key) const {
        const size_t step = std::hash<std::string>()(key.problem->step);
        return step ^ (static_cast<size_t>(key.problem->code) * 0x9E3779B1u) ^
               (static_cast<size_t>(key.problem->detail) << 7);
    }
};

}  // namespace

bool ReadsBackAsWell(const WholeModel& before, const WholeModel& after, std::string* why) {
    if (!after.hasClump || after.outOfMemory) {
        *why = "the written model would not read back";
        return false;
    }
    if (after.problemCount > before.problemCount) {
        *why = "the written model would not read back (" + std::to_string(after.problemCount) +
               " problems, against " + std::to_string(before.problemCount) + ")";
        return false;
    }
    if (after.problems.empty())
        return true;
    try {
        std::unordered_set<ProblemKey, ProblemKeyHash> known;
        known.reserve(before.problems.size());
        for (const ModelProblem& old : before.problems)
            known.insert(ProblemKey{&old});
        for (const ModelProblem& problem : after.problems) {
            if (known.count(ProblemKey{&problem}) == 0) {
                *why = "the written model would not read back (" + problem.step + ": " +
                       problem.message + ")";
                return false;
            }
        }
    } catch (...) {
        *why = "out of memory";
        return false;
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
