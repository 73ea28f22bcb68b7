// Loads arbitrary bytes as a model and reads its frames and first geometry.
// From a geometry that reads it generates the three collision models and
// checks their files with the independent COL3 reader, then changes the
// colours (night colours from its own day colours, then uniform colours),
// rebuilds the Geometry List, builds the model file and reads it back both
// independently and with the model library. A rebuild must be refused exactly
// when the Extension it writes, made here by hand and read with the
// geometry reader, does not give back the new night colours; every rebuild
// that is not refused must read back whole with them.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "col/ColModel.h"
#include "dff/DffModel.h"
#include "stream/Endian.h"
#include "support/Col3Reader.h"
#include "support/ModelBuilder.h"

namespace {

using brennix::ByteBuffer;
using brennix::Chunk;
using brennix::ColModel;
using brennix::DffModel;
using brennix::Geometry;
using brennix::fuzz::ScratchPath;
using brennix::fuzz::ViewsFileBuffer;
using brennix::fuzz::WriteBytes;
namespace test = brennix::test;

std::string gInputPath;
std::string gBuiltPath;
std::string gPiecewisePath;

constexpr uint8_t kDay[4] = {11, 22, 33, 44};
constexpr uint8_t kNight[4] = {55, 66, 77, 88};

struct ModelGuard {
    DffModel model;
    ModelGuard() { model.Init(); }
    ~ModelGuard() { model.Release(); }
};

bool Complete(const Chunk* chunk) {
    return chunk == nullptr || chunk->IsComplete();
}

std::vector<uint8_t> BufferBytes(const ByteBuffer& buffer) {
    return std::vector<uint8_t>(buffer.data, buffer.data + buffer.length);
}

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameBits(const std::array<float, 3>& a, const float b[3]) {
    return SameBits(a[0], b[0]) && SameBits(a[1], b[1]) && SameBits(a[2], b[2]);
}

// Whether a coordinate fits a collision vertex: x 128, truncated, within
// 16 bits, and a number.
bool FitsVertex(float value) {
    const float scaled = std::trunc(value * 128.0f);
    return scaled >= -32768.0f && scaled <= 32767.0f;
}

bool ExpectMesh(const Geometry& g) {
    if (g.hasPositions == 0 || g.triangleCount > 0xFFFF)
        return false;
    for (int32_t i = 0; i < g.triangleCount; ++i) {
        const uint8_t* t = g.triangles + 8 * static_cast<size_t>(i);
        const int32_t first = brennix::LoadU16(t);
        const int32_t second = brennix::LoadU16(t + 2);
        const int32_t third = brennix::LoadU16(t + 6);
        if (first >= g.vertexCount || second >= g.vertexCount || third >= g.vertexCount) {
            return false;
        }
    }
    for (int32_t i = 0; i < 3 * g.vertexCount; ++i) {
        if (!FitsVertex(brennix::Geometry::FloatAt(g.positions, static_cast<size_t>(i))))
            return false;
    }
    return true;
}

// Builds the collision file and checks it with the independent reader.
void CheckCollisionFile(ColModel& col, const Geometry& g) {
    ByteBuffer built;
    FUZZ_CHECK(col.BuildFile(built, "fuzz"));
    const std::vector<uint8_t> bytes = BufferBytes(built);
    built.Release();
    test::Col3File file;
    std::string whyNot;
    if (!test::ReadCol3(bytes, &file, &whyNot)) {
        std::fprintf(stderr, "COL3 file rejected: %s\n", whyNot.c_str());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(file.Name() == "fuzz");
    FUZZ_CHECK(file.modelId == -1);
    FUZZ_CHECK(file.sphereCount == 0 && file.spheres.empty());
    FUZZ_CHECK(file.boxes.size() == col.boxes.count);
    FUZZ_CHECK(file.faces.size() == col.faceCount);
    FUZZ_CHECK(file.vertices.size() == col.vertexCount);
    FUZZ_CHECK(file.faceGroups.empty());
    FUZZ_CHECK(SameBits(file.sphereRadius, g.boundingSphere[3]));
    FUZZ_CHECK(SameBits(file.boundsMin, col.header.boundsMin));
    FUZZ_CHECK(SameBits(file.boundsMax, col.header.boundsMax));
    for (const test::Col3Box& box : file.boxes) {
        FUZZ_CHECK(SameBits(box.min, col.header.boundsMin));
        FUZZ_CHECK(SameBits(box.max, col.header.boundsMax));
        FUZZ_CHECK(box.material == 0 && box.flag == 0 && box.brightness == 255 && box.light == 255);
    }
    for (size_t i = 0; i < file.faces.size(); ++i) {
        const uint8_t* t = g.triangles + 8 * i;
        const test::Col3Face expected{brennix::LoadU16(t + 6), brennix::LoadU16(t),
                                      brennix::LoadU16(t + 2), 0, 255};
        FUZZ_CHECK(file.faces[i] == expected);
    }
    for (size_t i = 0; i < file.vertices.size(); ++i) {
        float p[3];
        for (size_t k = 0; k < 3; ++k)
            p[k] = brennix::Geometry::FloatAt(g.positions, 3 * i + k);
        const test::Col3Vertex expected{static_cast<int16_t>(std::trunc(p[0] * 128.0f)),
                                        static_cast<int16_t>(std::trunc(p[1] * 128.0f)),
                                        static_cast<int16_t>(std::trunc(p[2] * 128.0f))};
        FUZZ_CHECK(file.vertices[i] == expected);
    }
    // The writer fills its header from the lists each time: a second build
    // gives the same bytes.
    ByteBuffer again;
    FUZZ_CHECK(col.BuildFile(again, "fuzz"));
    FUZZ_CHECK(BufferBytes(again) == bytes);
    again.Release();
}

void GenerateCollision(const Geometry& g) {
    {
        ColModel col;
        FUZZ_CHECK(col.GenerateEmpty(g) == 1);
        CheckCollisionFile(col, g);
    }
    {
        ColModel col;
        FUZZ_CHECK(col.GenerateBox(g) == 1);
        FUZZ_CHECK(col.boxes.count == 1);
        CheckCollisionFile(col, g);
    }
    {
        ColModel col;
        const int32_t made = col.GenerateMesh(g);
        FUZZ_CHECK(made == (ExpectMesh(g) ? 1 : 0));
        if (made == 1) {
            FUZZ_CHECK(col.faceCount == static_cast<uint32_t>(g.triangleCount));
            FUZZ_CHECK(col.vertexCount == static_cast<uint32_t>(g.vertexCount));
        } else {
            FUZZ_CHECK(col.faceCount == 0 && col.vertexCount == 0);
        }
        CheckCollisionFile(col, g);
    }
}

// What the geometry's Extension as read promises about the rebuilt one.
struct ExtensionShape {
    // The entries tile the payload, so the rebuilt Extension holds them
    // whole and ends with the new Night Colours entry.
    bool tiles = false;
    // The reader also walks them along their declared sizes, which is what
    // the writer keeps: each Bin Mesh entry's meshes fill it exactly, each
    // Skin entry is as long as its counts say, a Night Colours entry that
    // fits the vertex count holds nothing more, and a last entry of size 0,
    // which the reader does not examine, is one it would skip. Only then is
    // the rebuilt Extension bound to read back.
    bool readsBack = false;
};

// Whether the reader walks one entry along its declared size; `last` tells
// whether the entry ends the Extension.
bool WalkedAlongSize(const test::ChunkView& entry, bool last, int32_t vertexCount) {
    const uint32_t v = static_cast<uint32_t>(vertexCount);
    const bool skipped = entry.type == 0x105 || entry.type == 0x253F2F8 ||
                         entry.type == 0x253F2FD || entry.type == brennix::kTypeNightColors;
    if (last && entry.size == 0 && !skipped)
        return false;
    if (entry.type == brennix::kTypeBinMesh) {
        uint32_t flags = 0;
        std::vector<test::BinMeshSpec> meshes;
        return test::DecodeBinMesh(entry.payload, &flags, &meshes);
    }
    if (entry.type == brennix::kTypeSkin) {
        // Bone count, used bone count, then arrays and a trailer of
        // 16 + U + 20V + 64B bytes in all.
        if (entry.payload.size() < 2)
            return false;
        const uint64_t expected =
            16 + uint64_t{entry.payload[1]} + 20 * uint64_t{v} + 64 * uint64_t{entry.payload[0]};
        return entry.size == expected;
    }
    if (entry.type == brennix::kTypeNightColors && (entry.size - 4) / 4 == v)
        return entry.size == 4 + 4 * v;
    return true;
}

ExtensionShape ShapeOf(const Chunk* extension, int32_t vertexCount) {
    ExtensionShape shape;
    if (extension == nullptr) {
        shape.tiles = shape.readsBack = true;
        return shape;
    }
    const test::Bytes payload(extension->payload.data,
                              extension->payload.data + extension->payload.length);
    std::vector<test::ChunkView> entries;
    shape.tiles = test::SplitChunks(payload, &entries);
    shape.readsBack = shape.tiles;
    for (size_t i = 0; shape.readsBack && i < entries.size(); ++i) {
        shape.readsBack = WalkedAlongSize(entries[i], i + 1 == entries.size(), vertexCount);
    }
    return shape;
}

// The Extension payload a rebuild writes, made by hand: the entries walked
// along their declared sizes while a whole header remains, each kept with its
// body (cut at the end of the bytes) unless it is a Night Colours entry, and
// then the new Night Colours entry.
std::vector<uint8_t> RebuiltExtension(const Chunk* extension, const std::vector<uint8_t>& night) {
    std::vector<uint8_t> out;
    if (extension != nullptr) {
        const uint8_t* bytes = extension->payload.data;
        const uint64_t length = extension->payload.length;
        uint64_t at = 0;
        while (length - at >= brennix::kChunkHeaderSize) {
            const uint32_t type = brennix::LoadU32(bytes + at);
            const uint64_t body = brennix::LoadU32(bytes + at + 4);
            const uint64_t end = at + brennix::kChunkHeaderSize + body;
            const uint64_t kept = end < length ? end : length;
            if (type != brennix::kTypeNightColors)
                out.insert(out.end(), bytes + at, bytes + kept);
            at = kept;
        }
    }
    test::PutU32(out, brennix::kTypeNightColors);
    test::PutU32(out, static_cast<uint32_t>(4 + night.size()));
    test::PutU32(out, brennix::kDefaultStamp);
    test::PutU32(out, brennix::kNightColorsMarker);
    out.insert(out.end(), night.begin(), night.end());
    return out;
}

// Whether the geometry reader, given that Extension, reads it with exactly
// the new night colours.
bool ReaderReadsBack(const std::vector<uint8_t>& entries, int32_t vertexCount,
                     const std::vector<uint8_t>& night) {
    std::vector<uint8_t> chunk;
    test::PutU32(chunk, brennix::kTypeExtension);
    test::PutU32(chunk, static_cast<uint32_t>(entries.size()));
    test::PutU32(chunk, brennix::kDefaultStamp);
    chunk.insert(chunk.end(), entries.begin(), entries.end());
    ByteBuffer payload = ByteBuffer::View(chunk.data(), static_cast<uint32_t>(chunk.size()));
    Geometry reader;
    reader.Init();
    reader.vertexCount = vertexCount;
    bool ok = reader.ReadExtension(payload) && reader.hasNight && reader.nightColors != nullptr;
    if (ok && !night.empty())
        ok = std::memcmp(reader.nightColors, night.data(), night.size()) == 0;
    reader.Release();
    return ok;
}

// Checks a built model file against the geometry it was written from and the
// night colours (4 bytes per vertex) that its Night Colours entry must hold.
void CheckBuiltModel(const std::vector<uint8_t>& bytes, const Geometry& g,
                     const std::vector<uint8_t>& night, const ExtensionShape& shape) {
    const size_t v = static_cast<size_t>(g.vertexCount);

    // Independently: a clump whose rebuilt geometry holds a fresh Struct of
    // exactly its fields, and one Night Colours entry, the last.
    test::ViewOptions options;
    options.uvSetsFromFormatHigh = true;
    options.requireWellFormedMaterials = false;
    options.requireWellFormedEntries = false;
    test::GeometryView view;
    std::string whyNot;
    if (!test::ParseFirstGeometry(bytes, &view, &whyNot, options)) {
        std::fprintf(stderr, "built model rejected: %s\n", whyNot.c_str());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(view.geometryCount == 1);
    FUZZ_CHECK(view.stamp == brennix::kDefaultStamp);
    FUZZ_CHECK(!view.hasLightingBlock);
    FUZZ_CHECK(view.formatFlags == g.formatFlags && view.formatHigh == g.formatHigh);
    FUZZ_CHECK(view.vertexCount == g.vertexCount && view.triangleCount == g.triangleCount);
    FUZZ_CHECK(view.extraChunks.empty());
    if (g.formatFlags & brennix::kFormatPrelit) {
        FUZZ_CHECK(view.prelit.size() == v);
        for (size_t i = 0; i < v; ++i) {
            const uint8_t* c = g.prelitColors + 4 * i;
            FUZZ_CHECK(view.prelit[i] == (test::Rgba{c[0], c[1], c[2], c[3]}));
        }
    }
    if (shape.tiles) {
        FUZZ_CHECK(view.entriesParsed);
        FUZZ_CHECK(!view.extensionEntries.empty());
        const test::ChunkView& last = view.extensionEntries.back();
        FUZZ_CHECK(last.type == brennix::kTypeNightColors);
        FUZZ_CHECK(view.FindEntry(brennix::kTypeNightColors, 1) == nullptr);
        std::vector<test::Rgba> colours;
        uint32_t leadingWord = 0;
        FUZZ_CHECK(test::DecodeNightColours(last.payload, static_cast<uint32_t>(v), &colours,
                                            &leadingWord));
        FUZZ_CHECK(leadingWord == brennix::kNightColorsMarker);
        for (size_t i = 0; i < v; ++i) {
            FUZZ_CHECK(colours[i] == (test::Rgba{night[4 * i], night[4 * i + 1], night[4 * i + 2],
                                                 night[4 * i + 3]}));
        }
    }

    // With the model library: the file loads and its geometry reads back
    // with the same counts, day colours and the new night colours.
    FUZZ_CHECK(WriteBytes(gBuiltPath, bytes.data(), bytes.size()));
    ModelGuard guard;
    DffModel& again = guard.model;
    FUZZ_CHECK(again.Load(gBuiltPath.c_str()) == 1);
    FUZZ_CHECK(again.ReadGeometryList() == 1);
    const Geometry* read = again.FirstGeometry();
    FUZZ_CHECK(read != nullptr);
    FUZZ_CHECK(read->vertexCount == g.vertexCount);
    FUZZ_CHECK(read->triangleCount == g.triangleCount);
    FUZZ_CHECK(read->hasPrelit == g.hasPrelit);
    if (read->hasPrelit && v > 0) {
        FUZZ_CHECK(std::memcmp(read->prelitColors, g.prelitColors, 4 * v) == 0);
    }
    FUZZ_CHECK(read->hasNight == 1 && read->nightColors != nullptr);
    FUZZ_CHECK(v == 0 || std::memcmp(read->nightColors, night.data(), 4 * v) == 0);
}

// Rebuilds the Geometry List from the changed first geometry and checks the
// model file built from it.
void RebuildAndCheck(DffModel& model, const std::vector<uint8_t>& night,
                     const ExtensionShape& shape) {
    Geometry& g = *model.FirstGeometry();
    // A Material List cut short in the file cannot be written back, nor an
    // Extension that would not read back with the new night colours. The
    // rebuild walks the Extension where it lies, without a copy; here it is
    // made whole and read by the reader itself, and the two must agree.
    const bool readsBack =
        ReaderReadsBack(RebuiltExtension(g.extensionChunk, night), g.vertexCount, night);
    // Entries walked along their sizes always read back.
    FUZZ_CHECK(readsBack || !shape.readsBack);
    const bool writable = Complete(g.materialListChunk) && readsBack;
    // The save that writes the rebuilt list without building it first; its
    // file must be the one the list built in memory gives (compared below).
    std::remove(gPiecewisePath.c_str());
    const int32_t piecewise = model.SaveWithRebuiltGeometry(gPiecewisePath.c_str());
    FUZZ_CHECK((piecewise >= 0) == writable);
    const bool rebuilt = model.RebuildGeometryList();
    FUZZ_CHECK(rebuilt == writable);
    if (!rebuilt)
        return;
    const Chunk* list = model.geometryList;
    FUZZ_CHECK(list->type == brennix::kTypeGeometryList);
    FUZZ_CHECK(list->payload.ownsData && list->payload.length == list->size);

    // Writing the same geometry again gives the same bytes.
    const std::vector<uint8_t> first = BufferBytes(list->payload);
    FUZZ_CHECK(model.RebuildGeometryList());
    FUZZ_CHECK(BufferBytes(model.geometryList->payload) == first);

    // The Geometry chunk written on its own is the one the list holds after
    // its Struct (header and count) and the Geometry header. So is a second
    // one, written after the first has brought the Extension up to date,
    // unless an entry cut short in the file now claims the bytes after it.
    const size_t geometryStart = 2 * brennix::kChunkHeaderSize + 4;
    FUZZ_CHECK(first.size() >= geometryStart);
    const std::vector<uint8_t> inList(first.begin() + geometryStart, first.end());
    for (int round = 0; round < (shape.tiles ? 2 : 1); ++round) {
        Chunk* chunk = g.WriteChunk();
        FUZZ_CHECK(chunk != nullptr);
        FUZZ_CHECK(chunk->type == brennix::kTypeGeometry);
        FUZZ_CHECK(chunk->size == inList.size() && BufferBytes(chunk->payload) == inList);
        brennix::DestroyChunk(chunk);
    }

    // A clump Struct cut short inside the clump is refused like any other
    // kept chunk: its atomic count would be made up of missing bytes.
    const bool buildable = Complete(model.clumpStruct) && model.clumpStruct != nullptr &&
                           Complete(model.uvAnimDictionary) && Complete(model.frameList) &&
                           Complete(model.atomic) && Complete(model.clumpExtension);
    ByteBuffer out;
    const bool built = model.BuildFile(out);
    FUZZ_CHECK(built == buildable);
    FUZZ_CHECK((piecewise > 0) == built);
    if (!built)
        return;
    const std::vector<uint8_t> bytes = BufferBytes(out);
    out.Release();
    FUZZ_CHECK(static_cast<size_t>(piecewise) == bytes.size());
    FUZZ_CHECK(test::ReadFile(gPiecewisePath) == bytes);
    CheckBuiltModel(bytes, g, night, shape);
}

// Every array the geometry does not own lies whole inside the file's bytes.
bool ViewsLieInFile(const Geometry& g, const brennix::ByteBuffer& file) {
    bool ok = true;
    g.ForEachArray([&](const uint8_t* array, uint8_t owns, uint64_t bytes) {
        if (array != nullptr && !owns) {
            ok = ok && array >= file.data && bytes <= file.length &&
                 static_cast<uint64_t>(array - file.data) <= file.length - bytes;
        }
    });
    return ok;
}

// The Struct body and night colours of the geometry read with its arrays
// copied out of the file, which must equal those of the views.
void CheckCopiesReadTheSame(const Geometry& viewed) {
    ModelGuard guard;
    guard.model.copyArrays = 1;
    FUZZ_CHECK(guard.model.Load(gInputPath.c_str()) == 1);
    guard.model.ReadFrameList();
    FUZZ_CHECK(guard.model.ReadGeometryList() == 1);
    const Geometry* copied = guard.model.FirstGeometry();
    FUZZ_CHECK(copied != nullptr && copied->ownsTriangles);
    brennix::Chunk* a = viewed.WriteStruct();
    brennix::Chunk* b = copied->WriteStruct();
    FUZZ_CHECK(a != nullptr && b != nullptr && a->payload.length == b->payload.length);
    FUZZ_CHECK(std::memcmp(a->payload.data, b->payload.data, a->payload.length) == 0);
    brennix::DestroyChunk(a);
    brennix::DestroyChunk(b);
    FUZZ_CHECK((viewed.nightColors == nullptr) == (copied->nightColors == nullptr));
    if (viewed.nightColors != nullptr) {
        const size_t bytes = 4 * static_cast<size_t>(viewed.vertexCount);
        FUZZ_CHECK(std::memcmp(viewed.nightColors, copied->nightColors, bytes) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gInputPath = ScratchPath("geometry-in.dff");
    gBuiltPath = ScratchPath("geometry-built.dff");
    gPiecewisePath = ScratchPath("geometry-piecewise.dff");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_CHECK(WriteBytes(gInputPath, data, size));
    ModelGuard guard;
    DffModel& model = guard.model;
    if (model.Load(gInputPath.c_str()) != 1)
        return 0;

    const int32_t frames = model.ReadFrameList();
    FUZZ_CHECK(frames == 0 || frames == 1);
    if (frames == 1)
        FUZZ_CHECK(model.frameCount < brennix::kMaxFrames);
    if (frames == 0 && model.frameList != nullptr)
        FUZZ_CHECK(model.errorCode != 0);

    const int32_t read = model.ReadGeometryList();
    FUZZ_CHECK(read == 0 || read == 1);
    if (read == 0) {
        FUZZ_CHECK(model.FirstGeometry() == nullptr);
        if (model.geometryList != nullptr)
            FUZZ_CHECK(model.errorCode != 0);
        return 0;
    }
    Geometry* g = model.FirstGeometry();
    if (g == nullptr)
        return 0;

    FUZZ_CHECK(g->vertexCount >= 0 && g->vertexCount <= brennix::kMaxVertices);
    FUZZ_CHECK(g->triangleCount >= 0 && g->triangleCount <= brennix::kMaxTriangles);
    FUZZ_CHECK(!g->hasPrelit || g->prelitColors != nullptr);
    FUZZ_CHECK(g->hasPositions == 0 || g->positions != nullptr);
    FUZZ_CHECK(g->triangles != nullptr);
    FUZZ_CHECK(g->materialListChunk != nullptr && g->extensionChunk != nullptr);
    FUZZ_CHECK(ViewsFileBuffer(g->materialListChunk, model.fileBuffer));
    FUZZ_CHECK(ViewsFileBuffer(g->extensionChunk, model.fileBuffer));
    FUZZ_CHECK(ViewsFileBuffer(model.geometryList, model.fileBuffer));
    FUZZ_CHECK((g->ownsTriangles != 0) == !brennix::kArraysViewFile);
    FUZZ_CHECK(ViewsLieInFile(*g, model.fileBuffer));
    CheckCopiesReadTheSame(*g);

    GenerateCollision(*g);
    const ExtensionShape shape = ShapeOf(g->extensionChunk, g->vertexCount);

    const size_t v = static_cast<size_t>(g->vertexCount);
    // Night colours from the geometry's own day colours.
    const bool imported = g->ImportNightColors(*g);
    FUZZ_CHECK(imported == (g->hasPrelit != 0));
    if (imported) {
        FUZZ_CHECK(g->nightColors != nullptr && g->hasNight == 1 && g->colorsChanged == 1);
        FUZZ_CHECK(v == 0 || std::memcmp(g->nightColors, g->prelitColors, 4 * v) == 0);
        RebuildAndCheck(model, std::vector<uint8_t>(g->nightColors, g->nightColors + 4 * v), shape);
    }

    // One day and one night colour for every vertex.
    FUZZ_CHECK(g->SetUniformColors(kDay, kNight));
    FUZZ_CHECK(g->hasPrelit == 1 && g->hasNight == 1 && g->colorsChanged == 1);
    FUZZ_CHECK(g->formatFlags & brennix::kFormatPrelit);
    FUZZ_CHECK((g->formatFlags & brennix::kFormatLight) == 0);
    std::vector<uint8_t> night(4 * v);
    for (size_t i = 0; i < v; ++i) {
        FUZZ_CHECK(std::memcmp(g->prelitColors + 4 * i, kDay, 4) == 0);
        std::memcpy(night.data() + 4 * i, kNight, 4);
    }
    RebuildAndCheck(model, night, shape);
    return 0;
}
