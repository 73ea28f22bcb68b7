// Writes the seed corpus of the fuzz targets, one model file per kind of
// chunk and entry that the readers know, each hostile shape with a few of
// its records, and COL files of every version: fuzz_make_seeds OUTDIR
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "col/ColFile.h"
#include "stream/Endian.h"
#include "support/HostileModels.h"
#include "support/ModelBuilder.h"

namespace {

using namespace brennix::test;

// Records of each hostile shape in its seed: enough to repeat, few enough
// for the fuzzers' input length.
constexpr size_t kHostileSeedCount = 12;

std::vector<Rgba> Colours(size_t count, uint8_t base) {
    std::vector<Rgba> colours;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t k = static_cast<uint8_t>(base + 17 * i);
        colours.push_back({k, static_cast<uint8_t>(255 - k), static_cast<uint8_t>(k / 2), 255});
    }
    return colours;
}

ClumpSpec WithUvAnimDictionary() {
    ClumpSpec model = MakeCanonicalModel();
    Bytes count;
    PutU32(count, 0);
    model.uvAnimDictionary = MakeChunk(kChunkStruct, count);
    return model;
}

ClumpSpec WithLightsAndCameras() {
    ClumpSpec model = MakeCanonicalModel();
    model.children[0] = ClumpChild::MakeStruct(1, 1, 1);
    model.children.insert(model.children.begin() + 3, ClumpChild::MakeLight());
    model.children.insert(model.children.begin() + 4, ClumpChild::MakeCamera());
    return model;
}

ClumpSpec WithCollision() {
    ClumpSpec model = MakeCanonicalModel();
    model.ExtensionEntries() = {CollisionEntry(MakeCol3File())};
    return model;
}

ClumpSpec WithCollisionSecond() {
    ClumpSpec model = MakeCanonicalModel();
    model.ExtensionEntries() = {HAnimEntry(3), CollisionEntry(MakeCol3File())};
    return model;
}

ClumpSpec WithNamedFrames() {
    ClumpSpec model = MakeCanonicalModel();
    FrameListSpec& frames = model.Frames();
    frames.frames.clear();
    FrameSpec root = MakeFrame("root");
    root.extensions.push_back(HAnimEntry(0));
    frames.frames.push_back(root);
    FrameSpec child = MakeFrame("child_frame", 0);
    child.position = {1.0f, 2.0f, 3.0f};
    child.extensions.push_back(HAnimEntry(1));
    frames.frames.push_back(child);
    FrameSpec bare = MakeFrame("", 1);
    bare.hasExtension = false;
    frames.frames.push_back(bare);
    frames.frames.push_back(MakeFrame("a_name_of_twenty_three", 0));
    return model;
}

ClumpSpec WithOldStamp() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    g.stamp = kOldStamp;
    g.lighting = {0.5f, 0.25f, 1.0f};
    return model;
}

ClumpSpec WithTwoUvSets() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    g.formatFlags = static_cast<uint16_t>((g.formatFlags & ~kGeoTextured) | kGeoTextured2);
    g.formatHigh = 2;
    std::vector<Uv> second;
    for (const Uv& uv : g.uvSets[0])
        second.push_back({uv.v, uv.u});
    g.uvSets.push_back(second);
    return model;
}

ClumpSpec WithSkin() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    SkinSpec skin;
    skin.boneCount = 2;
    skin.usedBoneCount = 2;
    skin.maxWeightsPerVertex = 2;
    g.extensions.push_back(SkinEntry(skin, static_cast<uint32_t>(g.VertexCount())));
    return model;
}

ClumpSpec WithBinMeshes() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    for (size_t i = 0; i < g.triangles.size(); i += 2)
        g.triangles[i].materialIndex = 1;
    g.materials.push_back(MakeMaterial("second_tex"));
    g.extensions = {BinMeshEntry(g.triangles)};
    return model;
}

ClumpSpec WithNightColours() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    g.extensions.push_back(NightColoursEntry(Colours(static_cast<size_t>(g.VertexCount()), 40),
                                             kNightLeadWordWritten));
    return model;
}

ClumpSpec WithMaterials() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    MaterialSpec twoTextures = MakeMaterial("wall_diffuse");
    twoTextures.textures[0] = MakeTexture("wall_diffuse", "wall_mask");
    twoTextures.textures.push_back(MakeTexture("wall_detail"));
    twoTextures.extensions = {{kEntryMaterial120, Bytes(8, 1)}, {kEntryMaterial135, Bytes(4, 2)}};
    MaterialSpec plain = MakeMaterial();
    plain.extensions = {{kEntryMaterial2F6, Bytes(12, 3)}, {kEntryMaterial2FC, Bytes(4, 4)}};
    MaterialSpec exactName = MakeMaterial();
    TextureSpec longName = MakeTexture(std::string(32, 'n'), std::string(31, 'm'));
    longName.padNames = false;
    exactName.textures.push_back(longName);
    g.materials = {twoTextures, plain, exactName};
    for (size_t i = 0; i < g.triangles.size(); ++i) {
        g.triangles[i].materialIndex = static_cast<uint16_t>(i % 3);
    }
    g.extensions = {BinMeshEntry(g.triangles)};
    return model;
}

ClumpSpec WithSkippedEntries() {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    g.extensions.push_back({kEntrySkipped105, Bytes(8, 5)});
    g.extensions.push_back({kEntrySkipped2F8, Bytes(16, 6)});
    g.extensions.push_back({kEntrySkipped2FD, Bytes(4, 7)});
    return model;
}

ClumpSpec WithReorderedChildren() {
    ClumpSpec model = MakeCanonicalModel();
    // Frame List, Extension, Atomic, Struct, Geometry List.
    std::vector<ClumpChild> children = model.children;
    model.children = {children[1], children[4], children[3], children[0], children[2]};
    return model;
}

ClumpSpec WithShortStruct() {
    ClumpSpec model = MakeCanonicalModel();
    model.children[0] = ClumpChild::MakeShortStruct(1);
    return model;
}

ClumpSpec WithEverything() {
    ClumpSpec model = WithMaterials();
    model.uvAnimDictionary = WithUvAnimDictionary().uvAnimDictionary;
    model.Frames() = WithNamedFrames().Frames();
    GeometrySpec& g = model.FirstGeometry();
    const uint32_t v = static_cast<uint32_t>(g.VertexCount());
    g.extensions.push_back(SkinEntry(SkinSpec(), v));
    g.extensions.push_back({kEntrySkipped105, Bytes(4, 9)});
    g.extensions.push_back(NightColoursEntry(Colours(v, 90)));
    model.ExtensionEntries() = {CollisionEntry(MakeCol3File())};
    return model;
}

// The clump's declared size stops before its empty Extension, which follows
// with zero padding; then a second clump.
ClumpSpec WithBytesAfterTheClump() {
    ClumpSpec model = MakeCanonicalModel();
    model.children.pop_back();
    model.trailing = Cat({MakeExtensionChunk({}), Bytes(64, 0), BuildModel(MakeBoxModel())});
    return model;
}

// A clump Extension whose entry claims more bytes than it holds.
ClumpSpec WithClumpEntryPastTheEnd() {
    ClumpSpec model = MakeCanonicalModel();
    ExtensionEntry entry = HAnimEntry(2);
    entry.declaredSize = 200;
    model.ExtensionEntries() = {entry};
    return model;
}

// Geometry Extensions that read but whose rebuilt form would not read back:
// a Bin Mesh longer than its meshes, an entry past the end, old night
// colours hidden after the meshes before an entry that swallows the rest.
ClumpSpec WithExtensionThatWouldNotReadBack(int shape) {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    ExtensionEntry binMesh = BinMeshEntry(g.triangles);
    const std::vector<Rgba> old = Colours(static_cast<size_t>(g.VertexCount()), 7);
    if (shape == 0) {
        binMesh.payload.resize(binMesh.payload.size() + 4, 0);
        g.extensions = {binMesh};
    } else if (shape == 1) {
        ExtensionEntry past{kEntrySkipped2F8, Bytes(8, 3)};
        past.declaredSize = 90;
        g.extensions = {binMesh, past};
    } else {
        ExtensionEntry swallower{kEntrySkipped2F8, {}};
        swallower.declaredSize = 500;
        binMesh.payload =
            Cat({binMesh.payload, EncodeEntries({NightColoursEntry(old), swallower})});
        g.extensions = {binMesh};
    }
    return model;
}

bool Write(const std::string& dir, const std::string& name, const ClumpSpec& model) {
    const std::string path = dir + "/" + name + ".dff";
    if (!WriteFile(path, BuildModel(model))) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// A collision entry with a little of everything: spheres, a box, a fan of
// faces with face groups, and a shadow mesh.
brennix::ColEntry MakeColEntry(const char* name, bool shadow) {
    brennix::ColEntry e;
    e.name = name;
    std::memcpy(e.nameBytes, name, std::strlen(name));
    for (int k = 0; k < 3; ++k) {
        e.boundsMin[k] = -8;
        e.boundsMax[k] = 8;
    }
    e.radius = 14;
    e.flags = 1;
    brennix::ColFileSphere sphere;
    sphere.radius = 2;
    sphere.surface = {3, 0, 0, 255};
    e.spheres = {sphere, sphere};
    brennix::ColFileBox box;
    for (int k = 0; k < 3; ++k) {
        box.min[k] = -1;
        box.max[k] = 1;
    }
    e.boxes = {box};
    for (uint32_t i = 0; i < 6; ++i) {
        e.vertices.push_back({i / 2.0f, i / 128.0f, -static_cast<float>(i)});
        if (i >= 2)
            e.faces.push_back({0, i - 1, i, {static_cast<uint8_t>(i), 0, 0, 100}});
    }
    brennix::ColFileFaceGroup group;
    group.first = 0;
    group.last = 3;
    e.faceGroups = {group};
    if (shadow) {
        e.shadowVertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        e.shadowFaces = {{0, 1, 2, {1, 0, 0, 0}}};
    }
    return e;
}

// Version 4 is version 3 with one more header field: every offset moves by 4.
Bytes AsVersion4(Bytes col3) {
    col3.insert(col3.begin() + 120, {1, 0, 0, 0});
    std::memcpy(col3.data(), "COL4", 4);
    brennix::StoreU32(col3.data() + 4, static_cast<uint32_t>(col3.size() - 8));
    for (size_t at : {84, 88, 92, 96, 100, 112, 116}) {
        const uint32_t offset = brennix::LoadU32(col3.data() + at);
        if (offset != 0)
            brennix::StoreU32(col3.data() + at, offset + 4);
    }
    return col3;
}

bool WriteColSeeds(const std::string& dir) {
    Bytes archive;
    std::vector<std::pair<std::string, Bytes>> files;
    for (int version = 1; version <= 3; ++version) {
        Bytes bytes;
        std::string why;
        const std::string name = "col" + std::to_string(version);
        if (!brennix::WriteColEntry(MakeColEntry(name.c_str(), true), version, &bytes, &why)) {
            std::fprintf(stderr, "cannot write the %s seed: %s\n", name.c_str(), why.c_str());
            return false;
        }
        archive.insert(archive.end(), bytes.begin(), bytes.end());
        if (version == 3)
            files.push_back({"col4", AsVersion4(bytes)});
        files.push_back({name, std::move(bytes)});
    }
    files.push_back({"col_archive", archive});
    for (const auto& [name, bytes] : files) {
        const std::string path = dir + "/" + name + ".col";
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        const std::vector<std::pair<std::string, ClumpSpec>> seeds = {
            {"canonical", MakeCanonicalModel()},
            {"house", MakeHouseModel()},
            {"box", MakeBoxModel()},
            {"positions_only",
             MakeModelWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}})},
            {"large", MakeLargeModel(200, 300, {true, true, true, true, true, true})},
            {"uv_anim_dictionary", WithUvAnimDictionary()},
            {"lights_cameras", WithLightsAndCameras()},
            {"collision_entry", WithCollision()},
            {"collision_entry_second", WithCollisionSecond()},
            {"frames_names_hanim", WithNamedFrames()},
            {"old_stamp_lighting", WithOldStamp()},
            {"two_uv_sets", WithTwoUvSets()},
            {"skin", WithSkin()},
            {"bin_mesh", WithBinMeshes()},
            {"night_colours", WithNightColours()},
            {"materials_textures", WithMaterials()},
            {"skipped_entries", WithSkippedEntries()},
            {"reordered_children", WithReorderedChildren()},
            {"short_struct", WithShortStruct()},
            {"everything", WithEverything()},
            {"bytes_after_clump", WithBytesAfterTheClump()},
            {"clump_entry_past_end", WithClumpEntryPastTheEnd()},
            {"padded_bin_mesh", WithExtensionThatWouldNotReadBack(0)},
            {"geometry_entry_past_end", WithExtensionThatWouldNotReadBack(1)},
            {"hidden_night_colours", WithExtensionThatWouldNotReadBack(2)},
        };
        for (const auto& [name, model] : seeds) {
            if (!Write(dir, name, model))
                return 1;
        }
        // Each hostile shape with a few of its repeated records.
        for (const HostileShape& shape : HostileShapes()) {
            const std::string path = dir + "/hostile_" + shape.name + ".dff";
            if (!WriteFile(path, shape.make(kHostileSeedCount))) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
        }
        if (!WriteColSeeds(dir))
            return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot build the seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
