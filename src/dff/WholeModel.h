// The whole clump of a model file, read child by child: every frame with its
// name, every atomic, every geometry of the Geometry List and every entry of
// the clump's Extension, with the place and size of each chunk. Whatever
// cannot be read is recorded as a problem next to everything that could be.
//
// This reader is separate from DffModel::Load, which keeps the classic rules
// (one geometry, one atomic) for the classic jobs.
//
// Ownership: a WholeModel owns the file's bytes and its geometries. The
// geometries' kept chunks view the file's bytes, so the model is neither
// copied nor moved; hold it by value for the length of one job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dff/ErrorCode.h"
#include "dff/Geometry.h"
#include "stream/Stream.h"

namespace brennix {

// Version number of a chunk's version stamp. A stamp whose upper half is
// non-zero packs the version and a build number (0x1803FFFF is version
// 0x36003, build 0xFFFF); an old-style stamp is the version itself (0x310).
struct StampVersion {
    uint32_t version = 0;
    uint32_t build = 0;
    bool hasBuild = false;
};
StampVersion DecodeStamp(uint32_t stamp);
// The version as dotted text: 0x36003 -> "3.6.0.3", 0x310 -> "3.1.0". Writes
// at most `size` bytes including the terminator.
void FormatVersion(uint32_t version, char* out, size_t size);

// A chunk as it lies in the file. Offsets are of the 12-byte header, from the
// start of the file; `present` counts the payload bytes the file really holds
// (less than `size` when the chunk is cut short).
struct ChunkPlace {
    uint32_t type = 0;
    uint32_t size = 0;
    uint32_t stamp = 0;
    uint32_t offset = 0;
    uint32_t present = 0;

    uint32_t PayloadOffset() const { return offset + kChunkHeaderSize; }
};

// One record of the Frame List, decoded. Row-vector convention: a point p
// in this frame's space lies at p.x*right + p.y*up + p.z*at + position in
// the parent frame's space.
struct FrameInfo {
    float right[3] = {1, 0, 0};
    float up[3] = {0, 1, 0};
    float at[3] = {0, 0, 1};
    float position[3] = {0, 0, 0};
    int32_t parent = -1;  // -1: a root frame
    uint32_t flags = 0;
    std::string name;  // from the frame's Frame Name entry, up to a zero byte
    bool hasName = false;
};

struct AtomicInfo {
    ChunkPlace chunk;
    uint32_t frameIndex = 0;
    uint32_t geometryIndex = 0;
    uint32_t flags = 0;
    bool valid = false;  // Struct read, both indices in range
};

// One Geometry chunk of the Geometry List. `geometry` is read with
// Geometry::Read (and the model's readOptions); when `ok` is false the read
// stopped part way (its counts may be set while its arrays are not) and its
// errorCode says why. A chunk too short to hold a geometry at all has no
// record: `geometry` is null then, and `ok` false.
struct GeometryEntry {
    ChunkPlace chunk;
    Geometry* geometry = nullptr;  // owned
    bool ok = false;

    GeometryEntry() = default;
    ~GeometryEntry();
    GeometryEntry(GeometryEntry&& other) noexcept;
    GeometryEntry(const GeometryEntry&) = delete;
    GeometryEntry& operator=(const GeometryEntry&) = delete;
    GeometryEntry& operator=(GeometryEntry&&) = delete;
};

// Something that could not be read, or (as a warning) that reads soundly but
// may trouble the game or older tools. `step` names where: "file", "clump",
// "frames", "frame N", "geometry list", "geometry N", "atomic N", "clump
// extension" (N counts from 0, as the atomics' geometry and frame indices do).
struct ModelProblem {
    std::string step;
    uint32_t code = kErrorNone;  // an ErrorCode with its usual meaning (0 for warnings)
    uint32_t detail = 0;
    std::string message;  // a short reason in words
};

// Problems and warnings kept in words; more are counted only.
constexpr size_t kMaxKeptProblems = 100;

enum class ExtensionPlace {
    kNone,        // the clump has no Extension and none follows it
    kInside,      // the clump's own Extension child
    kAfterClump,  // an Extension chunk directly after the clump in the file
};

struct WholeModel {
    WholeModel();
    ~WholeModel();
    WholeModel(const WholeModel&) = delete;
    WholeModel& operator=(const WholeModel&) = delete;

    // Reads the file whole and then the clump. -1 when the file cannot be
    // read (nothing else is set); 1 otherwise, with problems recorded.
    int32_t Load(const char* path);
    // The same on bytes in memory, which are copied. False only when the
    // copy cannot be made (a problem is recorded then).
    bool Parse(const uint8_t* data, size_t length);
    // The same on bytes that stay where they are: the model and its
    // geometries view them (never writing to them), so they must outlive it.
    // False when they are 4 GiB or more (a problem is recorded then).
    bool View(const uint8_t* data, size_t length);

    ByteBuffer file;  // the whole file; geometries view it
    uint32_t fileLength = 0;

    bool hasUvAnimDictionary = false;
    ChunkPlace uvAnimDictionary;
    bool hasClump = false;
    ChunkPlace clump;                  // its stamp is the model's version stamp
    std::vector<ChunkPlace> children;  // the clump's children, in file order
    uint32_t trailingBytes = 0;        // after the clump's declared end
    uint32_t trailingOffset = 0;

    uint32_t atomicCountInStruct = 0;  // as the clump Struct says
    std::vector<FrameInfo> frames;
    uint32_t frameCountInList = 0;  // as the Frame List says
    std::vector<AtomicInfo> atomics;
    uint32_t geometryCountInList = 0;  // as the Geometry List says
    std::vector<GeometryEntry> geometries;

    ExtensionPlace extensionPlace = ExtensionPlace::kNone;
    ChunkPlace clumpExtension;                 // valid unless kNone
    std::vector<ChunkPlace> extensionEntries;  // its entries, in order

    // What could not be read: the first kMaxKeptProblems, and how many in all.
    std::vector<ModelProblem> problems;
    size_t problemCount = 0;
    // What reads soundly but may trouble the game: the first
    // kMaxKeptProblems, and how many in all. They do not make the model bad.
    std::vector<ModelProblem> warnings;
    size_t warningCount = 0;
    // Clumps in the file, the one read included (0 when there is none).
    uint32_t clumpCount = 0;
    bool outOfMemory = false;  // a problem could not even be recorded

    // ReadOption bits for the geometries; set before Load, Parse or View.
    // Everything the format allows by default.
    uint32_t readOptions = kReadFormat;

    bool Ok() const { return problemCount == 0 && !outOfMemory; }
    // The geometry an atomic draws, or null when its index is out of range.
    const GeometryEntry* GeometryOf(const AtomicInfo& atomic) const;

    void Clear();

private:
    void ReadAll();
    void ReadClump(ByteBuffer& clumpPayload);
    void ReadFrames(ByteBuffer& list);
    void ReadGeometryList(ByteBuffer& list);
    void ReadAtomic(const ChunkPlace& place, ByteBuffer& payload);
    void ReadExtensionEntries();
    void CheckAtomics();
    void CheckGeometry(size_t index, const Geometry& geometry);
    void CountClumps(const ByteBuffer& top);
    void AddProblem(const std::string& step, uint32_t code, uint32_t detail,
                    const std::string& message);
    void AddWarning(const std::string& step, const std::string& message);
};

// ---------------------------------------------------------------------------
// Placement of an atomic's vertices in model space.

enum class Placement {
    kAuto,    // kFrames for a clump of more than one atomic, else kNone
    kFrames,  // by the atomic's frame and its ancestors, the root excluded
    kNone,    // coordinates as stored in the geometry
};

// kAuto resolved for this model; the other values are returned as given.
Placement ResolvePlacement(const WholeModel& model, Placement placement);

struct Point3 {
    float x = 0;
    float y = 0;
    float z = 0;
};

// An affine map in the format's row-vector convention: a point p maps to
// p.x*right + p.y*up + p.z*at + position.
struct FrameTransform {
    double right[3] = {1, 0, 0};
    double up[3] = {0, 1, 0};
    double at[3] = {0, 0, 1};
    double position[3] = {0, 0, 0};

    Point3 Apply(const float p[3]) const;
};

// The map from frame `frameIndex`'s space to model space: the frame's own
// matrix, then each ancestor's, up to but excluding the root (the frame whose
// parent is -1, whose matrix the game replaces by the object's placement).
// False with `why` set on a frame index or parent out of range, or a cycle.
bool FrameToModel(const WholeModel& model, uint32_t frameIndex, FrameTransform* out,
                  std::string* why);

// The vertices of atomic `atomicIndex` placed in model space (one per vertex
// of its geometry; none when the geometry holds no positions). False with
// `why` set when the atomic, its geometry or its frames cannot be used;
// `out` is then empty. Never throws: running out of memory is a false too.
bool PlaceAtomic(const WholeModel& model, size_t atomicIndex, Placement placement,
                 std::vector<Point3>* out, std::string* why);

}  // namespace brennix
