#include "support/HostileModels.h"

namespace brennix::test {

namespace {

// An unknown chunk type, for clump children and Extension entries.
constexpr uint32_t kUnknownType = 0x0000BEEF;
// The most frames a Frame List may declare is one less than this.
constexpr size_t kFrameLimit = 256;

Bytes Repeat(const Bytes& unit, size_t count) {
    Bytes out;
    out.reserve(unit.size() * count);
    for (size_t i = 0; i < count; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

// A chunk header declaring `size` bytes, with no payload.
Bytes Header(uint32_t type, uint32_t size = 0) {
    return MakeChunkWithSize(type, size, {});
}

Bytes ClumpOf(const std::vector<Bytes>& children) {
    return MakeChunk(kChunkClump, Cat(children));
}

Bytes StructChunk(size_t atomics) {
    return EncodeClumpChild(ClumpChild::MakeStruct(static_cast<uint32_t>(atomics)));
}

Bytes OneFrame() {
    FrameListSpec frames;
    frames.frames.push_back(MakeFrame("hostile"));
    return EncodeClumpChild(ClumpChild::MakeFrameList(frames));
}

Bytes AtomicChunk(uint32_t frame, uint32_t geometry) {
    return MakeChunk(kChunkAtomic, MakeAtomicPayload(frame, geometry));
}

Bytes ExtensionOf(const Bytes& entries) {
    return MakeChunk(kChunkExtension, entries);
}

// The canonical geometry, then `trailing` (raw chunks) in a list declaring
// `declared` geometries.
Bytes GeometryList(const GeometrySpec& first, const Bytes& trailing, size_t declared) {
    GeometryListSpec list;
    list.geometries = {first};
    list.countOverride = static_cast<uint32_t>(declared);
    list.trailing = trailing;
    return EncodeClumpChild(ClumpChild::MakeGeometryList(list));
}

// One frame, one geometry, one atomic; `extra` goes among the clump's
// children after the atomic, `entries` into the clump Extension.
Bytes CanonicalWith(const Bytes& geometryList, const Bytes& extra, const Bytes& entries,
                    size_t atomics = 1) {
    return ClumpOf({StructChunk(atomics), OneFrame(), geometryList, AtomicChunk(0, 0), extra,
                    ExtensionOf(entries)});
}

Bytes CanonicalList() {
    return GeometryList(MakeCanonicalGeometry(), {}, 1);
}

// One triangle with its corner at `at`.
GeometrySpec SmallGeometry(Vec3 at) {
    return MakeGeometryWithPositions({at, {at.x + 1, at.y, at.z}, {at.x, at.y + 1, at.z}},
                                     {{0, 1, 0, 2}});
}

}  // namespace

Bytes MakeBrokenAtomicsModel(size_t count) {
    Bytes shortStruct;
    PutU32(shortStruct, 0);
    const Bytes kinds[3] = {
        MakeChunk(kChunkAtomic,
                  Cat({MakeChunk(kChunkStruct, shortStruct), MakeExtensionChunk({})})),
        AtomicChunk(7, 0),
        AtomicChunk(0, 9),
    };
    Bytes broken;
    broken.reserve(count * kinds[1].size());
    for (size_t i = 0; i < count; ++i)
        PutBytes(broken, kinds[i % 3]);
    return CanonicalWith(CanonicalList(), broken, {}, count + 1);
}

Bytes MakeEmptyGeometriesModel(size_t count) {
    return CanonicalWith(
        GeometryList(MakeCanonicalGeometry(), Repeat(Header(kChunkGeometry), count), count + 1), {},
        {});
}

Bytes MakeCutGeometriesModel(size_t count) {
    const Bytes cut = MakeChunk(kChunkGeometry, Header(kChunkStruct, 64));
    return CanonicalWith(GeometryList(MakeCanonicalGeometry(), Repeat(cut, count), count + 1), {},
                         {});
}

Bytes MakeEmptyClumpEntriesModel(size_t count) {
    return CanonicalWith(CanonicalList(), {}, Repeat(Header(kUnknownType), count));
}

Bytes MakeEmptyCollisionEntriesModel(size_t count) {
    return CanonicalWith(CanonicalList(), {}, Repeat(Header(kEntryCollision), count));
}

Bytes MakeUnknownClumpChildrenModel(size_t count) {
    return CanonicalWith(CanonicalList(), Repeat(Header(kUnknownType), count), {});
}

Bytes MakeHugeMaterialCountModel(size_t count) {
    Bytes declared;
    PutU32(declared, 0x7FFFFFFF);
    GeometrySpec huge = SmallGeometry({0, 0, 0});
    huge.materialListRaw = MakeChunk(kChunkMaterialList, MakeChunk(kChunkStruct, declared));
    return CanonicalWith(
        GeometryList(MakeCanonicalGeometry(), Repeat(EncodeGeometryChunk(huge), count), count + 1),
        {}, {});
}

Bytes MakeEmptyBinMeshesModel(size_t count) {
    GeometrySpec g = MakeCanonicalGeometry();
    g.extensions = {{kEntryBinMesh, MakeBinMeshPayload(std::vector<BinMeshSpec>(count))}};
    return CanonicalWith(GeometryList(g, {}, 1), {}, {});
}

Bytes MakeDeepFramesModel(size_t count) {
    FrameListSpec frames;
    for (size_t i = 0; i + 1 < kFrameLimit; ++i) {
        FrameSpec frame = MakeFrame("f" + std::to_string(i), static_cast<int32_t>(i) - 1);
        frame.position = {0.25f, 0.0f, 0.0f};
        frames.frames.push_back(frame);
    }
    const uint32_t deepest = static_cast<uint32_t>(frames.frames.size() - 1);
    return ClumpOf({StructChunk(count), EncodeClumpChild(ClumpChild::MakeFrameList(frames)),
                    CanonicalList(), Repeat(AtomicChunk(deepest, 0), count), ExtensionOf({})});
}

Bytes MakeNightColourEntriesModel(size_t count) {
    GeometrySpec g = MakeCanonicalGeometry();
    const std::vector<Rgba> night(static_cast<size_t>(g.VertexCount()), Rgba{40, 40, 80, 255});
    const Bytes one = EncodeEntries({NightColoursEntry(night)});
    g.extensionRaw = MakeChunk(
        kChunkExtension, Cat({EncodeEntries({BinMeshEntry(g.triangles)}), Repeat(one, count)}));
    return CanonicalWith(GeometryList(g, {}, 1), {}, {});
}

Bytes MakeSmallGeometriesModel(size_t count) {
    Bytes geometries;
    Bytes atomics;
    for (size_t i = 0; i < count; ++i) {
        // A 28 x 28 x 28 grid, 8 units apart, around the origin.
        const Vec3 at{static_cast<float>(i % 28) * 8 - 112,
                      static_cast<float>(i / 28 % 28) * 8 - 112,
                      static_cast<float>(i / 784 % 28) * 8 - 112};
        PutBytes(geometries, EncodeGeometryChunk(SmallGeometry(at)));
        PutBytes(atomics, AtomicChunk(0, static_cast<uint32_t>(i)));
    }
    Bytes count32;
    PutU32(count32, static_cast<uint32_t>(count));
    const Bytes list =
        MakeChunk(kChunkGeometryList, Cat({MakeChunk(kChunkStruct, count32), geometries}));
    return ClumpOf({StructChunk(count), OneFrame(), list, atomics, ExtensionOf({})});
}

const std::vector<HostileShape>& HostileShapes() {
    static const std::vector<HostileShape> shapes = {
        {"broken_atomics", MakeBrokenAtomicsModel, 10000, 200000, true},
        {"empty_geometries", MakeEmptyGeometriesModel, 50000, 2000000, true},
        {"cut_geometries", MakeCutGeometriesModel, 40000, 1000000, true},
        {"empty_clump_entries", MakeEmptyClumpEntriesModel, 50000, 2000000, true},
        {"empty_collision_entries", MakeEmptyCollisionEntriesModel, 50000, 2000000, false},
        {"unknown_clump_children", MakeUnknownClumpChildrenModel, 50000, 2000000, false},
        {"huge_material_count", MakeHugeMaterialCountModel, 5000, 100000, false},
        {"empty_bin_meshes", MakeEmptyBinMeshesModel, 20000, 99999, false},
        {"deep_frames", MakeDeepFramesModel, 5000, 200000, false},
        {"night_colour_entries", MakeNightColourEntriesModel, 10000, 300000, false},
        {"small_geometries", MakeSmallGeometriesModel, 1500, 21845, false},
    };
    return shapes;
}

const HostileShape* FindHostileShape(const std::string& name) {
    for (const HostileShape& shape : HostileShapes()) {
        if (name == shape.name)
            return &shape;
    }
    return nullptr;
}

}  // namespace brennix::test
