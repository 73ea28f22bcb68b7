// A rebuilt Geometry List laid out as runs of bytes instead of one block: the
// encoded headers and values are kept here, the large runs point at the first
// geometry's arrays and at the model's file bytes. Saving from the pieces
// writes exactly the bytes that the rebuilt list would hold, without building
// a copy of the model's largest chunk.
#pragma once

#include <cstdint>
#include <cstring>

#include "dff/DffModel.h"
#include "platform/Platform.h"

namespace brennix {

struct GeometryListPieces {
    static constexpr size_t kMaxSegments = 48;
    static constexpr uint32_t kScratchBytes = 256;

    uint8_t scratch[kScratchBytes];
    uint32_t scratchUsed = 0;
    platform::Segment segments[kMaxSegments];
    size_t count = 0;
    uint64_t total = 0;
    bool overflow = false;  // more runs than fit: the caller builds the list instead

    // A run that is copied here (encoded values on the caller's stack).
    void Small(const void* bytes, uint32_t n) {
        if (n > kScratchBytes - scratchUsed) {
            overflow = true;
            return;
        }
        std::memcpy(scratch + scratchUsed, bytes, n);
        Large(scratch + scratchUsed, n);
        scratchUsed += n;
    }
    // A run that stays where it is until the pieces are written; a run that
    // continues the previous one joins it.
    void Large(const void* bytes, uint32_t n) {
        if (n == 0)
            return;
        const uint8_t* start = static_cast<const uint8_t*>(bytes);
        total += n;
        if (count > 0 && segments[count - 1].data + segments[count - 1].length == start &&
            segments[count - 1].length <= UINT32_MAX - n) {
            segments[count - 1].length += n;
            return;
        }
        if (count == kMaxSegments) {
            overflow = true;
            return;
        }
        segments[count++] = {start, n};
    }
};

// Where a piecewise writer puts its runs. Small runs are encoded values on
// the writer's stack, which the sink must copy; large runs stay where they
// are (a geometry's arrays, a model's file bytes) until the runs are written.
class RunSink {
public:
    virtual void Small(const void* bytes, uint32_t n) = 0;
    virtual void Large(const void* bytes, uint32_t n) = 0;

protected:
    ~RunSink() = default;
};

// The sizes of a geometry's rebuilt Geometry chunk: the Struct afresh, the
// Material List as read, then the Extension as read or, when night colours
// are set, without its Night Colours entries and with a fresh one last.
struct GeometryChunkPlan {
    uint32_t payload = 0;  // of the Geometry chunk
    uint32_t structBody = 0;
    uint32_t extensionPayload = 0;  // as written
    bool rebuildsExtension = false;
};

// False when a chunk the geometry keeps is cut short in the file, or the
// Geometry chunk would not fit 4 GiB with room for a list's headers.
bool PlanGeometryChunk(const Geometry& g, GeometryChunkPlan* plan);
// Puts the Geometry chunk, its header (the system's own stamp) and payload,
// as Geometry::WriteChunk would build it; the geometry is left as it is.
void PutGeometryChunk(const Geometry& g, const GeometryChunkPlan& plan, RunSink& sink);

enum class RebuiltListStatus { kLaidOut, kNothingToWrite, kTooManyPieces };

// Lays out the payload that RebuildGeometryList would give the model's
// Geometry List. kNothingToWrite exactly when RebuildGeometryList would
// refuse for a reason other than memory.
RebuiltListStatus LayOutRebuiltGeometryList(const DffModel& model, GeometryListPieces* pieces);

// Whether an Extension payload reads back: `length` bytes from `start` bytes
// into the runs are walked as the geometry reader walks an Extension of a
// geometry with vertexCount vertices. True when the walk succeeds and its last
// fitting Night Colours entry holds exactly the vertexCount colour records at
// `night`. `options` are the geometry's ReadOption bits. Nothing is copied or
// allocated.
bool ExtensionReadsBack(const platform::Segment* runs, size_t count, uint64_t start,
                        uint32_t length, int32_t vertexCount, const uint8_t* night,
                        uint32_t options = 0);

}  // namespace brennix
