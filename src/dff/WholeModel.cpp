// The whole-clump reader and the placement of atomics by their frames.
#include "dff/WholeModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dff/DffModel.h"
#include "dff/Triangles.h"
#include "platform/Platform.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

constexpr uint32_t kFrameRecordSize = 56;
// The game keeps frame names of up to 23 characters.
constexpr size_t kMaxFrameNameLength = 23;
// The least a Geometry's payload holds before its material list: the Struct
// header and the Struct's counts, bounding sphere and two position words.
// A shorter chunk gets no Geometry record of its own.
constexpr uint32_t kMinGeometryPayload = kChunkHeaderSize + 16 + 16 + 8;
// Coordinates beyond this are taken for garbage rather than a model's.
constexpr float kHugeCoordinate = 1.0e6f;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string Indexed(const char* step, size_t index) {
    return std::string(step) + " " + std::to_string(index);
}

// Reads the chunk header at the parent's cursor into `place` and gives a view
// of the payload bytes the parent really holds. Moves the parent's cursor past
// them. False at the end of the parent, or when fewer than 12 bytes remain
// there (`cutShort` set, cursor moved to the end).
bool NextChunk(ByteBuffer& parent, const uint8_t* fileStart, ChunkPlace* place, ByteBuffer* payload,
               bool* cutShort) {
    *cutShort = false;
    uint32_t remaining = parent.length - parent.cursor;
    if (remaining == 0)
        return false;
    if (remaining < kChunkHeaderSize) {
        *cutShort = true;
        parent.cursor = parent.length;
        return false;
    }
    uint8_t* header = parent.data + parent.cursor;
    place->type = LoadU32(header);
    place->size = LoadU32(header + 4);
    place->stamp = LoadU32(header + 8);
    place->offset = static_cast<uint32_t>(header - fileStart);
    remaining -= kChunkHeaderSize;
    place->present = place->size < remaining ? place->size : remaining;
    *payload = ByteBuffer::View(header + kChunkHeaderSize, place->present);
    parent.cursor += kChunkHeaderSize + place->present;
    return true;
}

void LoadVector(const uint8_t* p, float out[3]) {
    for (int i = 0; i < 3; ++i)
        LoadF32(p + 4 * i, &out[i]);
}

}  // namespace

StampVersion DecodeStamp(uint32_t stamp) {
    StampVersion result;
    if ((stamp >> 16) == 0) {
        result.version = stamp;
        return result;
    }
    result.version = (((stamp >> 14) & 0x3FF00) + 0x30000) | ((stamp >> 16) & 0x3F);
    result.build = stamp & 0xFFFF;
    result.hasBuild = true;
    return result;
}

void FormatVersion(uint32_t version, char* out, size_t size) {
    if (out == nullptr || size == 0)
        return;
    if (version < 0x10000) {
        // Old style: 0x310 is 3.1.0.
        std::snprintf(out, size, "%u.%u.%u", (version >> 8) & 0xFu, (version >> 4) & 0xFu,
                      version & 0xFu);
        return;
    }
    std::snprintf(out, size, "%u.%u.%u.%u", (version >> 16) & 0xFu, (version >> 12) & 0xFu,
                  (version >> 8) & 0xFu, version & 0xFFu);
}

GeometryEntry::GeometryEntry(GeometryEntry&& other) noexcept
    : chunk(other.chunk), geometry(other.geometry), ok(other.ok) {
    other.geometry = nullptr;
}

GeometryEntry::~GeometryEntry() {
    if (geometry != nullptr) {
        geometry->Release();
        delete geometry;
    }
}

WholeModel::WholeModel() = default;

WholeModel::~WholeModel() {
    Clear();
}

void WholeModel::Clear() {
    // The geometries view the file's bytes, so they go first.
    geometries.clear();
    file.Reset();
    fileLength = 0;
    hasUvAnimDictionary = false;
    uvAnimDictionary = ChunkPlace();
    hasClump = false;
    clump = ChunkPlace();
    children.clear();
    trailingBytes = 0;
    trailingOffset = 0;
    atomicCountInStruct = 0;
    frames.clear();
    frameCountInList = 0;
    atomics.clear();
    geometryCountInList = 0;
    extensionPlace = ExtensionPlace::kNone;
    clumpExtension = ChunkPlace();
    extensionEntries.clear();
    problems.clear();
    problemCount = 0;
    warnings.clear();
    warningCount = 0;
    clumpCount = 0;
    outOfMemory = false;
}

const GeometryEntry* WholeModel::GeometryOf(const AtomicInfo& atomic) const {
    return atomic.geometryIndex < geometries.size() ? &geometries[atomic.geometryIndex] : nullptr;
}

void WholeModel::AddProblem(const std::string& step, uint32_t code, uint32_t detail,
                            const std::string& message) {
    ++problemCount;
    if (problems.size() >= kMaxKeptProblems)
        return;
    try {
        problems.push_back(ModelProblem{step, code, detail, message});
    } catch (...) {
        outOfMemory = true;
    }
}

void WholeModel::AddWarning(const std::string& step, const std::string& message) {
    ++warningCount;
    if (warnings.size() >= kMaxKeptProblems)
        return;
    try {
        warnings.push_back(ModelProblem{step, kErrorNone, 0, message});
    } catch (...) {
        outOfMemory = true;
    }
}

int32_t WholeModel::Load(const char* path) {
    Clear();
    if (path == nullptr || file.LoadFile(path) == 0) {
        file.Reset();
        return -1;
    }
    // The loader gives an empty file one zero byte; the model is empty.
    if (file.length == 1 && file.data[0] == 0) {
        uint64_t size = 1;
        std::FILE* again = platform::OpenRegularFile(path, &size);
        if (again != nullptr)
            std::fclose(again);
        if (size == 0)
            file.length = 0;
    }
    fileLength = file.length;
    ReadAll();
    return 1;
}

bool WholeModel::Parse(const uint8_t* data, size_t length) {
    Clear();
    if (length > UINT32_MAX) {
        AddProblem("file", kErrorGeometryData, 0, "the file is 4 GiB or larger");
        return false;
    }
    if (length > 0) {
        file.data = static_cast<uint8_t*>(std::malloc(length));
        if (file.data == nullptr) {
            AddProblem("file", kErrorGeometryData, 0, "out of memory");
            return false;
        }
        std::memcpy(file.data, data, length);
        file.ownsData = 1;
        file.length = file.capacity = static_cast<uint32_t>(length);
    }
    fileLength = file.length;
    ReadAll();
    return true;
}

bool WholeModel::View(const uint8_t* data, size_t length) {
    Clear();
    if (length > UINT32_MAX) {
        AddProblem("file", kErrorGeometryData, 0, "the file is 4 GiB or larger");
        return false;
    }
    // A view is only read; appending to one copies it first.
    file = ByteBuffer::View(const_cast<uint8_t*>(data), static_cast<uint32_t>(length));
    fileLength = file.length;
    ReadAll();
    return true;
}

void WholeModel::ReadAll() {
    try {
        ByteBuffer top = ByteBuffer::View(file.data, file.length);
        ChunkPlace place;
        ByteBuffer payload;
        bool cutShort = false;
        bool found = NextChunk(top, file.data, &place, &payload, &cutShort);
        if (found && place.type == kTypeUvAnimDictionary) {
            hasUvAnimDictionary = true;
            uvAnimDictionary = place;
            found = NextChunk(top, file.data, &place, &payload, &cutShort);
        }
        if (!found || place.type != kTypeClump) {
            AddProblem("file", kErrorNotAClump, found ? place.type : 0,
                       found ? "the first chunk is not a clump (type " + Hex(place.type) + ")"
                             : "the file holds no clump");
            return;
        }
        hasClump = true;
        clump = place;
        trailingOffset = top.cursor;
        trailingBytes = top.length - top.cursor;
        CountClumps(top);
        if (place.present < place.size)
            AddProblem("clump", kErrorUnexpectedChunk, kTypeClump,
                       "the clump is cut short: " + std::to_string(place.present) + " of " +
                           std::to_string(place.size) + " bytes");
        ReadClump(payload);

        if (extensionPlace == ExtensionPlace::kNone) {
            // Stream readers take an Extension right after the clump as the
            // clump's own.
            ChunkPlace next;
            ByteBuffer nextPayload;
            if (NextChunk(top, file.data, &next, &nextPayload, &cutShort) &&
                next.type == kTypeExtension) {
                extensionPlace = ExtensionPlace::kAfterClump;
                clumpExtension = next;
            }
        }
        ReadExtensionEntries();
        CheckAtomics();
    } catch (const std::bad_alloc&) {
        AddProblem("file", kErrorGeometryData, 0, "out of memory");
        outOfMemory = true;
    } catch (...) {
        AddProblem("file", kErrorGeometryData, 0, "internal failure");
    }
}

void WholeModel::CountClumps(const ByteBuffer& top) {
    // Chunks after the first clump, by their declared sizes, for as long as
    // they are whole chunks.
    clumpCount = 1;
    ByteBuffer rest = top;
    ChunkPlace place;
    ByteBuffer payload;
    bool cutShort = false;
    while (NextChunk(rest, file.data, &place, &payload, &cutShort)) {
        if (place.type == kTypeClump)
            ++clumpCount;
    }
    if (clumpCount > 1)
        AddWarning("file", "the file holds " + std::to_string(clumpCount) +
                               " clumps; only the first is read");
}

void WholeModel::ReadClump(ByteBuffer& clumpPayload) {
    bool haveStruct = false;
    bool haveFrames = false;
    bool haveGeometryList = false;
    ChunkPlace place;
    ByteBuffer payload;
    bool cutShort = false;
    while (NextChunk(clumpPayload, file.data, &place, &payload, &cutShort)) {
        children.push_back(place);
        if (place.present < place.size)
            AddProblem("clump", kErrorUnexpectedChunk, place.type,
                       "child " + Hex(place.type) + " is cut short");
        switch (place.type) {
            case kTypeStruct:
                if (!haveStruct && payload.length >= 4)
                    atomicCountInStruct = LoadU32(payload.data);
                haveStruct = true;
                break;
            case kTypeFrameList:
                if (haveFrames) {
                    AddProblem("clump", kErrorSecondFrameList, 0,
                               "a second Frame List is passed over");
                    break;
                }
                haveFrames = true;
                ReadFrames(payload);
                break;
            case kTypeGeometryList:
                if (haveGeometryList) {
                    AddProblem("clump", kErrorSecondGeometryList, 0,
                               "a second Geometry List is passed over");
                    break;
                }
                haveGeometryList = true;
                ReadGeometryList(payload);
                break;
            case kTypeAtomic:
                ReadAtomic(place, payload);
                break;
            case kTypeExtension:
                if (extensionPlace == ExtensionPlace::kNone) {
                    extensionPlace = ExtensionPlace::kInside;
                    clumpExtension = place;
                }
                break;
            default:
                break;
        }
    }
    if (cutShort)
        AddProblem("clump", kErrorUnexpectedChunk, 0, "a child's header is cut short");
}

void WholeModel::ReadFrames(ByteBuffer& list) {
    ChunkPlace place;
    ByteBuffer body;
    bool cutShort = false;
    if (!NextChunk(list, file.data, &place, &body, &cutShort) || place.type != kTypeStruct ||
        body.length < 4) {
        AddProblem("frames", kErrorUnexpectedChunk, 1,
                   "the Frame List does not begin with a Struct");
        return;
    }
    uint32_t count = LoadU32(body.data);
    frameCountInList = count;
    if (count >= kMaxFrames) {
        AddProblem("frames", kErrorFrameCount, count, std::to_string(count) + " frames");
        return;
    }
    uint32_t held = (body.length - 4) / kFrameRecordSize;
    if (held < count)
        AddProblem("frames", kErrorUnexpectedChunk, 1,
                   "the Frame List holds " + std::to_string(held) + " of " + std::to_string(count) +
                       " frame records");
    uint32_t n = held < count ? held : count;
    frames.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* record = body.data + 4 + static_cast<size_t>(i) * kFrameRecordSize;
        FrameInfo& frame = frames[i];
        LoadVector(record, frame.right);
        LoadVector(record + 12, frame.up);
        LoadVector(record + 24, frame.at);
        LoadVector(record + 36, frame.position);
        frame.parent = static_cast<int32_t>(LoadU32(record + 48));
        frame.flags = LoadU32(record + 52);
    }

    // The i-th Extension after the records belongs to frame i.
    size_t extensionIndex = 0;
    while (NextChunk(list, file.data, &place, &body, &cutShort)) {
        if (place.type != kTypeExtension)
            continue;
        size_t frameIndex = extensionIndex++;
        ChunkPlace entry;
        ByteBuffer entryPayload;
        while (NextChunk(body, file.data, &entry, &entryPayload, &cutShort)) {
            if (entry.type != kTypeFrameName || frameIndex >= frames.size())
                continue;  // HAnim and other entries are passed over
            FrameInfo& frame = frames[frameIndex];
            size_t nameLength = 0;
            while (nameLength < entryPayload.length && entryPayload.data[nameLength] != 0)
                ++nameLength;
            frame.name.assign(reinterpret_cast<const char*>(entryPayload.data), nameLength);
            frame.hasName = true;
            if (nameLength > kMaxFrameNameLength)
                AddWarning(Indexed("frame", frameIndex), "its name is " +
                                                             std::to_string(nameLength) +
                                                             " characters; the game keeps " +
                                                             std::to_string(kMaxFrameNameLength));
        }
        if (cutShort)
            AddProblem("frames", kErrorUnexpectedChunk, 1,
                       "an entry header of frame " + std::to_string(frameIndex) + " is cut short");
    }
    if (cutShort)
        AddProblem("frames", kErrorUnexpectedChunk, 1, "a chunk header is cut short");
}

void WholeModel::ReadGeometryList(ByteBuffer& list) {
    ChunkPlace place;
    ByteBuffer body;
    bool cutShort = false;
    if (!NextChunk(list, file.data, &place, &body, &cutShort) || place.type != kTypeStruct ||
        place.size != 4 || body.length < 4) {
        AddProblem("geometry list", kErrorUnexpectedChunk, 0,
                   "the Geometry List does not begin with a 4-byte Struct");
        return;
    }
    geometryCountInList = LoadU32(body.data);
    while (NextChunk(list, file.data, &place, &body, &cutShort)) {
        if (place.type != kTypeGeometry)
            continue;
        size_t index = geometries.size();
        geometries.emplace_back();
        GeometryEntry& entry = geometries.back();
        entry.chunk = place;
        if (body.length < kChunkHeaderSize || LoadU32(body.data) != kTypeStruct) {
            AddProblem(Indexed("geometry", index), kErrorUnexpectedChunk, 0,
                       "the Geometry does not begin with a Struct");
            continue;
        }
        if (body.length < kMinGeometryPayload) {
            AddProblem(Indexed("geometry", index), kErrorGeometryData, body.length,
                       "the Geometry is too short to hold one (" + std::to_string(body.length) +
                           " bytes)");
            continue;
        }
        entry.geometry = new Geometry();
        Geometry& geometry = *entry.geometry;
        geometry.Init();
        geometry.readOptions = readOptions;
        body.cursor = kChunkHeaderSize;
        entry.ok = geometry.Read(body, static_cast<uint16_t>(place.stamp >> 16));
        if (!entry.ok)
            AddProblem(Indexed("geometry", index), geometry.errorCode, geometry.errorDetail,
                       ErrorCodeName(geometry.errorCode));
        else
            CheckGeometry(index, geometry);
    }
    if (cutShort)
        AddProblem("geometry list", kErrorUnexpectedChunk, 0, "a chunk header is cut short");
    if (geometries.size() != geometryCountInList)
        AddProblem("geometry list", kErrorGeometryCount, static_cast<uint32_t>(geometries.size()),
                   "the list declares " + std::to_string(geometryCountInList) +
                       " geometries and holds " + std::to_string(geometries.size()));
}

void WholeModel::CheckGeometry(size_t index, const Geometry& g) {
    const std::string step = Indexed("geometry", index);
    const TriangleCheck check = CheckTriangles(g);
    const std::string listFault = "triangle " + std::to_string(check.badTriangle) +
                                  " names vertex " + std::to_string(check.badVertex) + " of " +
                                  std::to_string(g.vertexCount);
    if (check.source == TriangleSource::kBinMesh) {
        AddWarning(step, listFault + "; its Bin Mesh is sound and is drawn instead");
    } else if (check.source == TriangleSource::kBroken) {
        AddProblem(step, kErrorGeometryData, check.badTriangle,
                   listFault + (check.hasBinMesh
                                    ? ", and Bin Mesh " + std::to_string(check.badMesh) +
                                          " names vertex " + std::to_string(check.badMeshVertex) +
                                          " at index " + std::to_string(check.badMeshIndex)
                                    : ", and there is no Bin Mesh to draw instead"));
    }
    for (uint32_t m = 0; m < g.materials.count; ++m) {
        const Material* material = g.materials.items[m];
        if (material != nullptr && material->texturesHeld > 2)
            AddWarning(step, "material " + std::to_string(m) + " holds " +
                                 std::to_string(material->texturesHeld) +
                                 " textures; the game uses two");
    }

    // Vertices no triangle uses are never drawn, but tools that take every
    // vertex (bounds, collision) trip over garbage in them.
    if (g.positions == nullptr || g.vertexCount <= 0 || check.source == TriangleSource::kBroken)
        return;
    const size_t vertices = static_cast<size_t>(g.vertexCount);
    std::vector<bool> used(vertices, false);
    if (check.source == TriangleSource::kList) {
        for (size_t t = 0; t < static_cast<size_t>(std::max(g.triangleCount, 0)); ++t) {
            const uint8_t* record = g.triangles + 8 * t;
            used[LoadU16(record)] = used[LoadU16(record + 2)] = used[LoadU16(record + 6)] = true;
        }
    } else {
        for (uint32_t m = 0; m < g.meshes.count; ++m) {
            const BinMesh* mesh = g.meshes.items[m];
            for (uint32_t i = 0;
                 mesh != nullptr && mesh->indices != nullptr && i < mesh->indexCount; ++i)
                used[LoadU32(mesh->indices + 4 * size_t{i})] = true;
        }
    }
    size_t odd = 0, first = 0;
    float value = 0;
    for (size_t v = 0; v < vertices; ++v) {
        if (used[v])
            continue;
        for (int k = 0; k < 3; ++k) {
            const float x = Geometry::FloatAt(g.positions, 3 * v + k);
            if (!std::isfinite(x) || std::fabs(x) > kHugeCoordinate) {
                if (odd++ == 0) {
                    first = v;
                    value = x;
                }
                break;
            }
        }
    }
    if (odd > 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
        AddWarning(step, std::to_string(odd) + (odd == 1 ? " vertex" : " vertices") +
                             " that no triangle uses " + (odd == 1 ? "holds" : "hold") +
                             " a non-finite or huge value (vertex " + std::to_string(first) + ": " +
                             text + ")");
    }
}

void WholeModel::ReadAtomic(const ChunkPlace& atomicPlace, ByteBuffer& payload) {
    size_t index = atomics.size();
    atomics.emplace_back();
    AtomicInfo& atomic = atomics.back();
    atomic.chunk = atomicPlace;
    ChunkPlace place;
    ByteBuffer body;
    bool cutShort = false;
    if (!NextChunk(payload, file.data, &place, &body, &cutShort) || place.type != kTypeStruct ||
        body.length < 8) {
        AddProblem(Indexed("atomic", index), kErrorUnexpectedChunk, 0,
                   "the Atomic does not begin with a Struct of its frame and geometry");
        return;
    }
    atomic.frameIndex = LoadU32(body.data);
    atomic.geometryIndex = LoadU32(body.data + 4);
    atomic.flags = body.length >= 12 ? LoadU32(body.data + 8) : 0;
    atomic.valid = true;
}

void WholeModel::CheckAtomics() {
    for (size_t i = 0; i < atomics.size(); ++i) {
        AtomicInfo& atomic = atomics[i];
        if (!atomic.valid)
            continue;
        if (atomic.frameIndex >= frames.size()) {
            atomic.valid = false;
            AddProblem(Indexed("atomic", i), kErrorUnexpectedChunk, atomic.frameIndex,
                       "frame " + std::to_string(atomic.frameIndex) + " does not exist (" +
                           std::to_string(frames.size()) + " frames)");
        }
        if (atomic.geometryIndex >= geometries.size()) {
            atomic.valid = false;
            AddProblem(Indexed("atomic", i), kErrorUnexpectedChunk, atomic.geometryIndex,
                       "geometry " + std::to_string(atomic.geometryIndex) + " does not exist (" +
                           std::to_string(geometries.size()) + " geometries)");
        }
    }
}

void WholeModel::ReadExtensionEntries() {
    if (extensionPlace == ExtensionPlace::kNone)
        return;
    if (clumpExtension.present < clumpExtension.size)
        AddProblem("clump extension", kErrorUnexpectedChunk, kTypeExtension,
                   "the Extension is cut short");
    ByteBuffer entries =
        ByteBuffer::View(file.data + clumpExtension.PayloadOffset(), clumpExtension.present);
    ChunkPlace place;
    ByteBuffer payload;
    bool cutShort = false;
    while (NextChunk(entries, file.data, &place, &payload, &cutShort)) {
        extensionEntries.push_back(place);
        if (place.present < place.size)
            AddProblem("clump extension", kErrorUnexpectedChunk, place.type,
                       "entry " + Hex(place.type) + " is cut short");
    }
    if (cutShort)
        AddProblem("clump extension", kErrorUnexpectedChunk, 0, "an entry header is cut short");
}

// ---------------------------------------------------------------------------
// Placement

Placement ResolvePlacement(const WholeModel& model, Placement placement) {
    if (placement != Placement::kAuto)
        return placement;
    return model.atomics.size() > 1 ? Placement::kFrames : Placement::kNone;
}

Point3 FrameTransform::Apply(const float p[3]) const {
    Point3 q;
    double x = p[0] * right[0] + p[1] * up[0] + p[2] * at[0] + position[0];
    double y = p[0] * right[1] + p[1] * up[1] + p[2] * at[1] + position[1];
    double z = p[0] * right[2] + p[1] * up[2] + p[2] * at[2] + position[2];
    q.x = static_cast<float>(x);
    q.y = static_cast<float>(y);
    q.z = static_cast<float>(z);
    return q;
}

namespace {

// v (a direction, or a point when `point` is set) through one frame's matrix.
void ThroughFrame(const FrameInfo& f, const double v[3], bool point, double out[3]) {
    for (int k = 0; k < 3; ++k) {
        out[k] = v[0] * f.right[k] + v[1] * f.up[k] + v[2] * f.at[k] + (point ? f.position[k] : 0);
    }
}

}  // namespace

bool FrameToModel(const WholeModel& model, uint32_t frameIndex, FrameTransform* out,
                  std::string* why) {
    *out = FrameTransform();
    const size_t count = model.frames.size();
    if (frameIndex >= count) {
        if (why != nullptr)
            *why = "frame " + std::to_string(frameIndex) + " does not exist";
        return false;
    }
    size_t index = frameIndex;
    // Each step climbs one parent; more steps than frames means a cycle.
    for (size_t steps = 0;; ++steps) {
        const FrameInfo& frame = model.frames[index];
        if (frame.parent == -1)
            return true;  // the root's matrix is the object's placement, not ours
        if (steps >= count) {
            if (why != nullptr)
                *why = "the parents of frame " + std::to_string(frameIndex) + " form a cycle";
            return false;
        }
        FrameTransform next;
        ThroughFrame(frame, out->right, false, next.right);
        ThroughFrame(frame, out->up, false, next.up);
        ThroughFrame(frame, out->at, false, next.at);
        ThroughFrame(frame, out->position, true, next.position);
        *out = next;
        if (frame.parent < 0 || static_cast<uint32_t>(frame.parent) >= count) {
            if (why != nullptr)
                *why = "frame " + std::to_string(index) + " has parent " +
                       std::to_string(frame.parent) + ", which does not exist";
            *out = FrameTransform();
            return false;
        }
        index = static_cast<size_t>(frame.parent);
    }
}

bool PlaceAtomic(const WholeModel& model, size_t atomicIndex, Placement placement,
                 std::vector<Point3>* out, std::string* why) {
    std::string reason;
    try {
        out->clear();
        if (atomicIndex >= model.atomics.size()) {
            reason = "atomic " + std::to_string(atomicIndex) + " does not exist";
        } else {
            const AtomicInfo& atomic = model.atomics[atomicIndex];
            const GeometryEntry* entry = model.GeometryOf(atomic);
            const bool byFrames = ResolvePlacement(model, placement) == Placement::kFrames;
            FrameTransform transform;
            if (entry == nullptr) {
                reason = "geometry " + std::to_string(atomic.geometryIndex) + " does not exist";
            } else if (!entry->ok) {
                reason = "geometry " + std::to_string(atomic.geometryIndex) + " could not be read";
            } else if (!byFrames || FrameToModel(model, atomic.frameIndex, &transform, &reason)) {
                const Geometry& geometry = *entry->geometry;
                if (geometry.positions == nullptr || geometry.vertexCount <= 0)
                    return true;
                const size_t vertexCount = static_cast<size_t>(geometry.vertexCount);
                out->resize(vertexCount);
                for (size_t i = 0; i < vertexCount; ++i) {
                    float p[3];
                    LoadVector(geometry.positions + 12 * i, p);
                    // As stored means bit for bit: no arithmetic at all.
                    (*out)[i] = byFrames ? transform.Apply(p) : Point3{p[0], p[1], p[2]};
                }
                return true;
            }
        }
    } catch (...) {
        out->clear();
        reason = "out of memory";
    }
    if (why != nullptr)
        why->swap(reason);
    return false;
}

}  // namespace brennix
