// Writing a model read by the whole-model reader back as a file, with its
// Geometry List or its clump Extension replaced. Everything else is written
// as read and in its place: a leading UV Animation Dictionary, every clump
// child in file order (lights, cameras and every atomic included), bytes
// left in the clump after its last child, and whatever follows the clump.
//
// These functions never throw (but for FileRuns' own, as it says) and never
// print; a false result comes with a reason in words, and `out` is then
// empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dff/GeometryPieces.h"
#include "dff/WholeModel.h"
#include "platform/Platform.h"

namespace brennix {

// A file laid out as runs of bytes, in order: views of a model's file bytes
// and of its geometries' arrays, which must stay where they are until the
// runs are written, and small encoded values held here. A run that
// continues the one before it joins it. Small and Large throw
// std::bad_alloc when memory runs out.
class FileRuns : public RunSink {
public:
    FileRuns() = default;
    FileRuns(const FileRuns&) = delete;
    FileRuns& operator=(const FileRuns&) = delete;

    void Small(const void* bytes, uint32_t n) override;
    void Large(const void* bytes, uint32_t n) override;

    const std::vector<platform::Segment>& Segments() const { return segments_; }
    uint64_t Size() const { return total_; }
    // The runs one after the other in one block.
    void JoinInto(std::vector<uint8_t>* out) const;
    void Clear();

private:
    static constexpr uint32_t kBlockBytes = 16384;
    // Runs of up to this many bytes are copied: fewer runs to write.
    static constexpr uint32_t kCopiedRun = 64;

    void Add(const uint8_t* start, uint32_t n);

    std::vector<platform::Segment> segments_;
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
    uint32_t blockUsed_ = kBlockBytes;
    uint64_t total_ = 0;
};

// Lays out the file with every geometry of the Geometry List rebuilt from
// its record, piece by piece (the Struct afresh from the arrays, the
// Material List as read, the Extension as read or, when night colours are
// set, with a fresh Night Colours entry last), in list order, under a list
// Struct that counts them. The list and its chunks take the system's own
// stamp, like the rebuild of a one-geometry model; other chunks the list
// held are left out. Nothing of the model is copied: the runs view its file
// bytes and its geometries' arrays, so the model must outlive them and stay
// unchanged. For a clump that holds exactly what the classic save writes
// (a Struct of 4 bytes, or of 12 counting no light and no camera, then the
// Frame List, Geometry List, Atomic and Extension in that order, each at most
// once, filling the clump), the bytes are the classic rebuild's.
// False when a geometry was not read whole, the model has no Geometry List,
// a chunk to be written is cut short in the file, the file would pass
// 4 GiB, or memory ran out; `out` is then empty.
bool LayOutModelWithGeometries(const WholeModel& model, FileRuns* out, std::string* why);

// The same file in one block.
bool WriteModelWithGeometries(WholeModel& model, std::vector<uint8_t>* out, std::string* why);

// The colours geometry i of a laid-out model must read back with, one RGBA
// record per vertex each: `night` always, `day` when given.
struct ExpectedColours {
    const uint8_t* day = nullptr;
    const uint8_t* night = nullptr;
};

// Whether the runs LayOutModelWithGeometries laid out for `model` read back
// as they must, walked as a reader walks them: the chunks before, around and
// after the clump as read, every clump child of the type and size it had in
// its place, and in the Geometry List the geometries counted by its Struct,
// each of the format, counts and chunks of its record, with its day colours
// where the Struct holds them and its Extension read as the geometry reader
// reads one, ending in exactly the expected night colours. `expected` holds
// one record per geometry. Nothing is copied.
bool LaidOutModelReadsBack(const WholeModel& model, const FileRuns& runs,
                           const std::vector<ExpectedColours>& expected, std::string* why);

// The file with the clump Extension's payload replaced by `entries`. An
// Extension that stood after the clump is moved into it, and a clump that
// had none gains one after its last child; the clump's size counts it. The
// Extension keeps its stamp; a new one takes the system's own.
bool WriteModelWithExtension(const WholeModel& model, const uint8_t* entries, size_t length,
                             std::vector<uint8_t>* out, std::string* why);

// The first collision entry of the clump Extension, of either type, in any
// position; null when there is none.
const ChunkPlace* FirstCollisionEntry(const WholeModel& model);

// The payload of a new clump Extension: the entries of the current one as
// read, without the collision entries of both types when `removeCollisions`
// is set, then a new entry of `entryType` (stamped with the system's own
// stamp) holding the collision file's bytes unchanged. False when the current
// entries do not fill their Extension exactly (a new entry after them would
// be read as part of one), or an entry is cut short.
bool BuildAttachedExtension(const WholeModel& model, bool removeCollisions, uint32_t entryType,
                            const uint8_t* col, size_t colLength, std::vector<uint8_t>* entries,
                            std::string* why);

// Whether a written model, read back as `after`, reads at least as well as
// the model it was made from: it holds a clump, it has no more problems in
// all, and each problem it keeps (step, code and detail) is one `before`
// keeps too. Takes time in proportion to the problems kept.
bool ReadsBackAsWell(const WholeModel& before, const WholeModel& after, std::string* why);

// Whether geometry `index` of a written model, read back, holds `night` as
// its night colours and, when `day` is given, `day` as its day colours, one
// RGBA record per vertex each (vertexCount records).
bool ColoursReadBack(const WholeModel& written, size_t index, const uint8_t* day,
                     const uint8_t* night, int32_t vertexCount);

}  // namespace brennix
