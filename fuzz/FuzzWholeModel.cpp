// Reads arbitrary bytes with the whole-model reader and runs every command's
// work on them: the info reports (text and JSON), the col generator, the
// attach rebuild of the clump Extension, the paint command, and the paint
// rebuild of every geometry, and the view command's picture of the model and
// its made collision. Checks that every geometry array the reader
// views lies inside the input, that the JSON report is one JSON document,
// that a made collision is a standard COL3 file, that an attached model
// reads back with the collision entry last in the clump's own Extension,
// that a model the paint command writes reads back with its day and night
// colours on every geometry, and that a rebuilt model reads back with the
// painted day colours on every geometry that reads back whole, and that the
// picture is an SVG document within its byte bound. Throughout, the heap may hold
// at most 8 x the input's bytes + 64 MiB more than before the input; an
// allocation past that aborts with its stack.
#include <sanitizer/allocator_interface.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/ModelCommands.h"
#include "col/ColGenerate.h"
#include "col/ColInfo.h"
#include "dff/WholeModel.h"
#include "dff/WholeModelWrite.h"
#include "stream/Endian.h"
#include "support/ModelBuilder.h"
#include "view/Picture.h"

namespace {

using brennix::ByteBuffer;
using brennix::Geometry;
using brennix::GeometryEntry;
using brennix::WholeModel;
using brennix::fuzz::ScratchPath;
using brennix::fuzz::WriteBytes;

constexpr int64_t kMiB = 1024 * 1024;

// ---------------------------------------------------------------------------
// The heap bound: live bytes counted through the allocator's hooks.

std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gLimit{0};  // live bytes allowed; 0 while not armed

void MallocHook(const volatile void*, size_t size) {
    const int64_t live = gLive.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
    const int64_t limit = gLimit.load();
    if (limit > 0 && live > limit) {
        gLimit.store(0);  // what follows may allocate
        static const char kMessage[] =
            "heap past 8 x the input + 64 MiB: the allocation that passed it is below\n";
        if (write(2, kMessage, sizeof kMessage - 1) < 0) {
        }
        __sanitizer_print_stack_trace();
        std::abort();
    }
}

void FreeHook(const volatile void* pointer) {
    if (pointer != nullptr)
        gLive.fetch_sub(
            static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(pointer))));
}

// Arms the bound for one input, and disarms it however the input ends.
struct HeapBound {
    explicit HeapBound(size_t inputBytes) {
        gLimit.store(gLive.load() + 8 * static_cast<int64_t>(inputBytes) + 64 * kMiB);
    }
    ~HeapBound() { gLimit.store(0); }
};

// ---------------------------------------------------------------------------

std::string gInputPath;
std::string gOutputPath;
std::vector<uint8_t> gCol3Bytes;
const uint8_t kDay[4] = {200, 180, 160, 255};
const uint8_t kNight[4] = {40, 40, 80, 255};

// The geometry record of an entry: null when its chunk could hold none.
// Either form of the entry's record is taken.
[[maybe_unused]] Geometry* RecordOf(Geometry* geometry) {
    return geometry;
}
[[maybe_unused]] Geometry* RecordOf(Geometry& geometry) {
    return &geometry;
}

// Every array the geometry does not own lies whole inside the input.
void CheckViewsLieInInput(const Geometry& g, const uint8_t* data, size_t size) {
    g.ForEachArray([&](const uint8_t* array, uint8_t owns, uint64_t bytes) {
        if (array == nullptr || owns)
            return;
        FUZZ_CHECK(array >= data && bytes <= size &&
                   static_cast<uint64_t>(array - data) <= size - bytes);
    });
}

// The info reports, text and JSON, of the model read from the input.
void CheckReports(const WholeModel& model) {
    for (bool json : {false, true}) {
        const std::string out = brennix::cli::ModelReport(model, gInputPath, json);
        FUZZ_CHECK(!out.empty() && out.back() == '\n');
        if (!json)
            continue;
        // One document on one line.
        FUZZ_CHECK(out.find('\n') == out.size() - 1);
        const nlohmann::json document = nlohmann::json::parse(out, nullptr, false);
        FUZZ_CHECK(document.is_object());
    }
}

// A made collision is a standard COL3 file: "COL3", then the length less 8.
void CheckCollision(const WholeModel& model) {
    ByteBuffer col;
    std::string why;
    if (!brennix::GenerateColBytes(model, brennix::ColRequest(), "fuzz", &col, &why)) {
        FUZZ_CHECK(col.data == nullptr || col.length == 0);
        return;
    }
    FUZZ_CHECK(col.length >= 8 && std::memcmp(col.data, "COL3", 4) == 0);
    FUZZ_CHECK(brennix::LoadU32(col.data + 4) == col.length - 8);
    col.Release();
}

// The picture of the model and the collision col makes of it, as view draws
// it: an SVG document within its bound.
void CheckPicture(const WholeModel& model) {
    brennix::view::PictureInput input;
    input.name = "fuzz";
    input.model = brennix::view::GatherModelMesh(model, brennix::Placement::kAuto);
    brennix::ColEntry entry;
    std::string why;
    if (brennix::GenerateColEntry(model, brennix::ColRequest(), "fuzz", &entry, &why))
        input.collision = &entry;
    else
        input.noCollisionReason = why;
    const brennix::view::PictureOptions options;
    const std::string svg = brennix::view::DrawPicture(input, options);
    FUZZ_CHECK(svg.size() <= options.maxBytes);
    FUZZ_CHECK(svg.compare(0, 5, "<?xml") == 0 && svg.find("</svg>") != std::string::npos);
}

// The attach rebuild, keeping the collisions or removing them first.
void CheckAttach(const WholeModel& model) {
    for (bool remove : {false, true}) {
        std::vector<uint8_t> entries;
        std::vector<uint8_t> bytes;
        std::string why;
        if (!brennix::BuildAttachedExtension(model, remove, brennix::kTypeCollisionEntry,
                                             gCol3Bytes.data(), gCol3Bytes.size(), &entries, &why))
            continue;
        if (!brennix::WriteModelWithExtension(model, entries.data(), entries.size(), &bytes, &why))
            continue;
        WholeModel after;
        FUZZ_CHECK(after.View(bytes.data(), bytes.size()));
        FUZZ_CHECK(after.hasClump);
        FUZZ_CHECK(after.extensionPlace == brennix::ExtensionPlace::kInside);
        FUZZ_CHECK(!after.extensionEntries.empty());
        const brennix::ChunkPlace& last = after.extensionEntries.back();
        FUZZ_CHECK(last.type == brennix::kTypeCollisionEntry);
        FUZZ_CHECK(last.size == gCol3Bytes.size() && last.present == last.size);
        FUZZ_CHECK(std::memcmp(bytes.data() + last.PayloadOffset(), gCol3Bytes.data(),
                               gCol3Bytes.size()) == 0);
        if (remove) {
            for (size_t i = 0; i + 1 < after.extensionEntries.size(); ++i)
                FUZZ_CHECK(!brennix::IsCollisionEntryType(after.extensionEntries[i].type));
        }
    }
}

// Day and night colour records for `vertices` vertices.
void PaintedRecords(size_t vertices, std::vector<uint8_t>* day, std::vector<uint8_t>* night) {
    day->resize(4 * vertices);
    night->resize(4 * vertices);
    for (size_t i = 0; i < vertices; ++i) {
        std::memcpy(day->data() + 4 * i, kDay, 4);
        std::memcpy(night->data() + 4 * i, kNight, 4);
    }
}

size_t MostVertices(const WholeModel& model) {
    size_t most = 0;
    for (const GeometryEntry& entry : model.geometries) {
        const Geometry* g = RecordOf(const_cast<GeometryEntry&>(entry).geometry);
        if (g != nullptr && g->vertexCount > 0 && static_cast<size_t>(g->vertexCount) > most)
            most = static_cast<size_t>(g->vertexCount);
    }
    return most;
}

// The paint rebuild: every geometry painted and the Geometry List written
// afresh. The written model reads back with a clump and every geometry, and
// each geometry that reads back whole has its vertices and the new day
// colours. A geometry's Extension may not read back as written (one the
// reader takes though it does not follow the entries' sizes, such as a Bin
// Mesh padded past its meshes): the paint command reads what it writes back
// first and refuses such a model, which CheckPaintCommand holds it to.
void CheckPaintRebuild(WholeModel& model) {
    // As the command: only a model whose every geometry reads whole (the
    // counts of one that does not may name arrays that are not there).
    for (const GeometryEntry& entry : model.geometries) {
        if (!entry.ok)
            return;
    }
    for (GeometryEntry& entry : model.geometries) {
        Geometry* g = RecordOf(entry.geometry);
        if (g != nullptr)
            FUZZ_CHECK(g->SetUniformColors(kDay, kNight));
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!brennix::WriteModelWithGeometries(model, &bytes, &why)) {
        FUZZ_CHECK(bytes.empty());
        return;
    }
    std::vector<uint8_t> day, night;
    PaintedRecords(MostVertices(model), &day, &night);
    WholeModel after;
    FUZZ_CHECK(after.View(bytes.data(), bytes.size()));
    FUZZ_CHECK(after.hasClump);
    FUZZ_CHECK(after.geometries.size() == model.geometries.size());
    for (size_t i = 0; i < model.geometries.size(); ++i) {
        const Geometry* g = RecordOf(model.geometries[i].geometry);
        const Geometry* back = RecordOf(after.geometries[i].geometry);
        FUZZ_CHECK(g != nullptr);
        // A geometry whose Extension does not read back refuses the command.
        if (back == nullptr || !after.geometries[i].ok)
            continue;
        FUZZ_CHECK(back->vertexCount == g->vertexCount);
        if (back->vertexCount > 0) {
            FUZZ_CHECK(back->hasPrelit && back->prelitColors != nullptr);
            FUZZ_CHECK(std::memcmp(back->prelitColors, day.data(),
                                   4 * static_cast<size_t>(back->vertexCount)) == 0);
        }
    }
}

// The paint command on the input's file: what it writes reads back with
// the day and night colours on every geometry.
void CheckPaintCommand() {
    brennix::cli::PaintRequest request;
    std::memcpy(request.day, kDay, 4);
    std::memcpy(request.night, kNight, 4);
    request.target.output = gOutputPath;
    std::remove(gOutputPath.c_str());
    if (!brennix::cli::PaintModelFile(request, gInputPath).ok)
        return;
    std::vector<uint8_t> written;
    FUZZ_CHECK(brennix::fuzz::ReadBytes(gOutputPath, &written));
    WholeModel after;
    FUZZ_CHECK(after.View(written.data(), written.size()));
    FUZZ_CHECK(after.hasClump && !after.geometries.empty());
    std::vector<uint8_t> day, night;
    PaintedRecords(MostVertices(after), &day, &night);
    for (size_t i = 0; i < after.geometries.size(); ++i) {
        const Geometry* back = RecordOf(after.geometries[i].geometry);
        FUZZ_CHECK(back != nullptr);
        FUZZ_CHECK(brennix::ColoursReadBack(after, i, day.data(), night.data(), back->vertexCount));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gInputPath = ScratchPath("whole.dff");
    gOutputPath = ScratchPath("whole-painted.dff");
    gCol3Bytes = brennix::test::MakeCol3File();
    FUZZ_CHECK(__sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook) != 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HeapBound bound(size);
    FUZZ_CHECK(WriteBytes(gInputPath, data, size));
    WholeModel model;
    FUZZ_CHECK(model.View(data, size));
    FUZZ_CHECK(model.fileLength == size);
    for (const GeometryEntry& entry : model.geometries) {
        const Geometry* g = RecordOf(const_cast<GeometryEntry&>(entry).geometry);
        if (g != nullptr)
            CheckViewsLieInInput(*g, data, size);
    }
    CheckReports(model);
    CheckCollision(model);
    CheckPicture(model);
    CheckAttach(model);
    CheckPaintCommand();
    CheckPaintRebuild(model);
    return 0;
}
