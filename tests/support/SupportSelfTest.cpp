// Tests of the test support itself: if the builder or the checkers were wrong,
// every test built on them would be wrong in the same way.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/Col3Reader.h"
#include "support/ColBuilder.h"
#include "support/ModelBuilder.h"

namespace brennix::test {
namespace {

// Walks a chunk tree and checks that every declared size lies inside its parent.
// Only chunks known to hold children are descended into.
bool IsContainer(uint32_t type) {
    return type == kChunkClump || type == kChunkFrameList || type == kChunkGeometryList ||
           type == kChunkGeometry || type == kChunkMaterialList || type == kChunkMaterial ||
           type == kChunkTexture || type == kChunkAtomic || type == kChunkExtension;
}

void ExpectNested(const Bytes& data, int depth, size_t* chunksSeen) {
    std::vector<ChunkView> chunks;
    std::string why;
    ASSERT_TRUE(SplitChunks(data, &chunks, &why)) << why << " at depth " << depth;
    for (const ChunkView& chunk : chunks) {
        ++*chunksSeen;
        ASSERT_EQ(chunk.payload.size(), chunk.size);
        // Extensions hold entries whose payloads are not chunk lists.
        if (chunk.type == kChunkExtension) {
            std::vector<ChunkView> entries;
            ASSERT_TRUE(SplitChunks(chunk.payload, &entries, &why)) << why;
            continue;
        }
        if (IsContainer(chunk.type))
            ExpectNested(chunk.payload, depth + 1, chunksSeen);
    }
}

TEST(ChunkBuilder, WritesHeaderLittleEndianWithDefaultStamp) {
    const Bytes chunk = MakeChunk(0x0102030A, {0xAA, 0xBB});
    const Bytes expected = {0x0A, 0x03, 0x02, 0x01, 0x02, 0x00, 0x00,
                            0x00, 0xFF, 0xFF, 0x03, 0x18, 0xAA, 0xBB};
    EXPECT_EQ(chunk, expected);
}

TEST(ChunkBuilder, DeclaredSizeMayDisagreeWithPayload) {
    const Bytes chunk = MakeChunkWithSize(kChunkStruct, 100, {1, 2, 3}, kOldStamp);
    ASSERT_EQ(chunk.size(), 15u);
    EXPECT_EQ(GetU32(chunk, 4), 100u);
    EXPECT_EQ(GetU32(chunk, 8), kOldStamp);
}

TEST(ChunkBuilder, LittleEndianPutsAndGetsAgree) {
    Bytes b;
    PutU16(b, 0xBEEF);
    PutI32(b, -2);
    PutF32(b, 1.5f);
    PutI16(b, -300);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[1], 0xBE);
    EXPECT_EQ(GetI32(b, 2), -2);
    EXPECT_EQ(GetU32(b, 6), 0x3FC00000u);
    EXPECT_EQ(GetI16(b, 10), -300);
    EXPECT_THROW(GetU32(b, 9), std::out_of_range);
}

TEST(ModelBuilder, CanonicalChunkSizesNestExactly) {
    const Bytes file = BuildModel(MakeCanonicalModel());
    EXPECT_EQ(GetU32(file, 0), kChunkClump);
    EXPECT_EQ(GetU32(file, 4), file.size() - 12);
    size_t seen = 0;
    ExpectNested(file, 0, &seen);
    EXPECT_GT(seen, 15u);
}

TEST(ModelBuilder, CanonicalClumpChildrenComeInSavedOrder) {
    ClumpView clump;
    std::string why;
    ASSERT_TRUE(ParseClump(BuildModel(MakeCanonicalModel()), &clump, &why)) << why;
    const std::vector<uint32_t> expected = {kChunkStruct, kChunkFrameList, kChunkGeometryList,
                                            kChunkAtomic, kChunkExtension};
    EXPECT_EQ(clump.ChildTypes(), expected);
    const ChunkView& header = clump.children[0];
    ASSERT_EQ(header.size, 12u);
    EXPECT_EQ(GetU32(header.payload, 0), 1u);
    EXPECT_EQ(GetU32(header.payload, 4), 0u);
    EXPECT_EQ(GetU32(header.payload, 8), 0u);
    EXPECT_EQ(clump.children[4].size, 0u);
    EXPECT_EQ(clump.trailingBytes, 0u);
}

TEST(ModelBuilder, GeometryViewReadsBackWhatWasBuilt) {
    const ClumpSpec model = MakeCanonicalModel();
    const GeometrySpec& built = model.FirstGeometry();
    GeometryView view;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(BuildModel(model), &view, &why)) << why;
    EXPECT_EQ(view.geometryCount, 1u);
    EXPECT_EQ(view.stamp, kDefaultStamp);
    EXPECT_FALSE(view.hasLightingBlock);
    EXPECT_EQ(view.formatFlags, built.formatFlags);
    EXPECT_EQ(view.formatHigh, built.formatHigh);
    EXPECT_EQ(view.vertexCount, 5);
    EXPECT_EQ(view.triangleCount, 6);
    EXPECT_EQ(view.prelit, built.prelit);
    EXPECT_EQ(view.uvSets, built.uvSets);
    EXPECT_EQ(view.triangles, built.triangles);
    EXPECT_EQ(view.sphere, built.sphere);
    EXPECT_EQ(view.positions, built.positions);
    EXPECT_EQ(view.normals, built.normals);
    EXPECT_EQ(view.materialListChunk, EncodeMaterialListChunk(built.materials));
    ASSERT_TRUE(view.materialsParsed);
    ASSERT_EQ(view.materials.size(), 1u);
    ASSERT_EQ(view.materials[0].textures.size(), 1u);
    EXPECT_EQ(view.materials[0].textures[0].name, "canonical_tex");
    ASSERT_EQ(view.extensionEntries.size(), 1u);
    EXPECT_EQ(view.extensionEntries[0].type, kEntryBinMesh);
}

TEST(ModelBuilder, TrianglesAreStoredFirstSecondMaterialThird) {
    GeometrySpec g = MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{4, 5, 2, 6}});
    g.triangleCountOverride = 1;
    const Bytes body = EncodeGeometryStructBody(g);
    EXPECT_EQ(GetU16(body, 16), 4);
    EXPECT_EQ(GetU16(body, 18), 5);
    EXPECT_EQ(GetU16(body, 20), 2);
    EXPECT_EQ(GetU16(body, 22), 6);
}

TEST(ModelBuilder, OldStampAddsLightingBlockAfterHead) {
    ClumpSpec model = MakeCanonicalModel();
    const size_t plain = EncodeGeometryStructBody(model.FirstGeometry()).size();
    model.FirstGeometry().stamp = kOldStamp;
    model.FirstGeometry().lighting = {0.25f, 0.5f, 0.75f};
    const Bytes body = EncodeGeometryStructBody(model.FirstGeometry());
    ASSERT_EQ(body.size(), plain + 12);
    EXPECT_EQ(GetF32(body, 16), 0.25f);
    EXPECT_EQ(GetF32(body, 24), 0.75f);
    // Day colours follow at 28.
    EXPECT_EQ(GetU8(body, 28), model.FirstGeometry().prelit[0].r);

    GeometryView view;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(BuildModel(model), &view, &why)) << why;
    EXPECT_TRUE(view.hasLightingBlock);
    EXPECT_EQ(view.lighting[1], 0.5f);
    EXPECT_EQ(view.positions, model.FirstGeometry().positions);
}

TEST(ModelBuilder, CountOverridesAreWrittenAndViewRejectsThem) {
    ClumpSpec model = MakeCanonicalModel();
    model.FirstGeometry().vertexCountOverride = 6;
    const Bytes body = EncodeGeometryStructBody(model.FirstGeometry());
    EXPECT_EQ(GetI32(body, 8), 6);
    GeometryView view;
    std::string why;
    EXPECT_FALSE(ParseFirstGeometry(BuildModel(model), &view, &why));
    EXPECT_FALSE(why.empty());
}

TEST(ModelBuilder, ViewRejectsEveryTruncatedPrefix) {
    const Bytes file = BuildModel(MakeCanonicalModel());
    GeometryView view;
    for (size_t n = 0; n < file.size(); ++n) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ParseFirstGeometry(prefix, &view)) << "prefix of " << n << " bytes";
    }
    EXPECT_TRUE(ParseFirstGeometry(file, &view));
}

TEST(ModelBuilder, MultipleUvSetsFollowFormatHighWhenAsked) {
    ClumpSpec model = MakeCanonicalModel();
    GeometrySpec& g = model.FirstGeometry();
    std::vector<Uv> second;
    for (size_t i = 0; i < g.positions.size(); ++i)
        second.push_back({0.125f * float(i), 2.0f});
    g.uvSets.push_back(second);
    g.formatHigh = 2;
    g.formatFlags = static_cast<uint16_t>(g.formatFlags | kGeoTextured2);
    const Bytes file = BuildModel(model);

    GeometryView view;
    ViewOptions options;
    options.uvSetsFromFormatHigh = true;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(file, &view, &why, options)) << why;
    ASSERT_EQ(view.uvSets.size(), 2u);
    EXPECT_EQ(view.uvSets[1], second);
    // Read as a single set, the second set's bytes are left over.
    EXPECT_FALSE(ParseFirstGeometry(file, &view));
}

TEST(ModelBuilder, MaterialOverridesProduceMalformedParts) {
    MaterialSpec m = MakeMaterial("wall");
    m.structPayloadOverride = Bytes(24, 0);
    const Bytes chunk = EncodeMaterialChunk(m);
    EXPECT_EQ(GetU32(chunk, 12), kChunkStruct);
    EXPECT_EQ(GetU32(chunk, 16), 24u);

    MaterialSpec three = MakeMaterial("a");
    three.textureCountOverride = 3;
    EXPECT_EQ(GetU32(EncodeMaterialChunk(three), 12 + 12 + 12), 3u);
}

TEST(ModelBuilder, TextureNamesArePaddedUnlessAskedNot) {
    TextureSpec t = MakeTexture("house_wall");
    Bytes chunk = EncodeTextureChunk(t);
    // Texture header, Struct (12 + 4), then the name String.
    EXPECT_EQ(GetU32(chunk, 28), kChunkString);
    EXPECT_EQ(GetU32(chunk, 32), 12u);

    t.name = std::string(33, 'n');
    t.padNames = false;
    chunk = EncodeTextureChunk(t);
    EXPECT_EQ(GetU32(chunk, 32), 33u);
}

TEST(ModelBuilder, EntryPayloadHelpersHaveTheirLayouts) {
    const std::vector<Triangle> tris = {{0, 1, 1, 2}, {2, 1, 0, 3}};
    uint32_t flags = 99;
    uint32_t total = 0;
    std::vector<BinMeshSpec> meshes;
    ASSERT_TRUE(DecodeBinMesh(BinMeshEntry(tris).payload, &flags, &meshes, &total));
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(total, 6u);
    ASSERT_EQ(meshes.size(), 2u);
    EXPECT_EQ(meshes[0].materialIndex, 0u);
    EXPECT_EQ(meshes[0].indices, (std::vector<uint32_t>{2, 1, 3}));

    SkinSpec skin;
    skin.boneCount = 3;
    skin.usedBoneCount = 2;
    EXPECT_EQ(MakeSkinPayload(skin, 7).size(), SkinPayloadSize(3, 2, 7));
    EXPECT_EQ(SkinPayloadSize(3, 2, 7), 16u + 2 + 140 + 192);

    const std::vector<Rgba> night = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    const Bytes payload = MakeNightColoursPayload(night, kNightLeadWordWritten);
    EXPECT_EQ(payload.size(), 12u);
    std::vector<Rgba> back;
    uint32_t lead = 0;
    ASSERT_TRUE(DecodeNightColours(payload, 2, &back, &lead));
    EXPECT_EQ(back, night);
    EXPECT_EQ(lead, 0x37505050u);
    EXPECT_FALSE(DecodeNightColours(payload, 3, &back));
}

TEST(ModelBuilder, LargeModelReachesTheLimits) {
    LargeModelOptions options;
    options.skin = true;
    options.nightColours = true;
    const ClumpSpec model = MakeLargeModel(100000, 200000, options);
    const Bytes file = BuildModel(model);
    GeometryView view;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(file, &view, &why)) << why;
    EXPECT_EQ(view.triangleCount, 100000);
    EXPECT_EQ(view.vertexCount, 200000);
    ASSERT_EQ(view.positions.size(), 200000u);
    for (const Vec3& p : view.positions) {
        ASSERT_LE(p.x, 250.0f);
        ASSERT_GE(p.x, -250.0f);
        ASSERT_LE(p.y, 250.0f);
        ASSERT_GE(p.y, -250.0f);
    }
    const ChunkView* skin = view.FindEntry(kEntrySkin);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->size, SkinPayloadSize(1, 1, 200000));
    const ChunkView* night = view.FindEntry(kEntryNightColours);
    ASSERT_NE(night, nullptr);
    std::vector<Rgba> colours;
    EXPECT_TRUE(DecodeNightColours(night->payload, 200000, &colours));
}

TEST(ModelBuilder, ClumpExtrasAreEncodedWhereAsked) {
    ClumpSpec model = MakeCanonicalModel();
    model.uvAnimDictionary = Bytes{};
    model.children.insert(model.children.begin() + 1, ClumpChild::MakeLight());
    model.children[0] = ClumpChild::MakeShortStruct(1);
    model.ExtensionEntries().push_back(CollisionEntry(MakeCol3File()));
    const Bytes file = BuildModel(model);
    EXPECT_EQ(GetU32(file, 0), kChunkUvAnimDictionary);
    ClumpView clump;
    std::string why;
    ASSERT_TRUE(ParseClump(file, &clump, &why)) << why;
    EXPECT_TRUE(clump.hasUvAnimDictionary);
    EXPECT_EQ(clump.children[0].size, 4u);
    EXPECT_EQ(clump.children[1].type, kChunkLight);
    const ChunkView* extension = clump.Find(kChunkExtension);
    ASSERT_NE(extension, nullptr);
    std::vector<ChunkView> entries;
    ASSERT_TRUE(SplitChunks(extension->payload, &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, kEntryCollision);
    EXPECT_TRUE(ReadCol3(entries[0].payload, nullptr, &why)) << why;
}

TEST(HouseSample, IsDeterministicSmallAndWellFormed) {
    const Bytes first = BuildModel(MakeHouseModel());
    EXPECT_EQ(first, BuildModel(MakeHouseModel()));
    EXPECT_LT(first.size(), 4096u);

    ClumpView clump;
    std::string why;
    ASSERT_TRUE(ParseClump(first, &clump, &why)) << why;
    const ChunkView* extension = clump.Find(kChunkExtension);
    ASSERT_NE(extension, nullptr);
    EXPECT_EQ(extension->size, 0u);
    ASSERT_NE(clump.Find(kChunkAtomic), nullptr);

    // One frame, named by the first entry of its Extension.
    const ChunkView* frames = clump.Find(kChunkFrameList);
    ASSERT_NE(frames, nullptr);
    std::vector<ChunkView> frameParts;
    ASSERT_TRUE(SplitChunks(frames->payload, &frameParts));
    ASSERT_EQ(frameParts.size(), 2u);
    EXPECT_EQ(GetU32(frameParts[0].payload, 0), 1u);
    std::vector<ChunkView> frameEntries;
    ASSERT_TRUE(SplitChunks(frameParts[1].payload, &frameEntries));
    ASSERT_EQ(frameEntries.size(), 1u);
    EXPECT_EQ(frameEntries[0].type, kEntryFrameName);
    EXPECT_EQ(std::string(frameEntries[0].payload.begin(), frameEntries[0].payload.end()), "house");

    GeometryView view;
    ASSERT_TRUE(ParseFirstGeometry(first, &view, &why)) << why;
    EXPECT_GE(view.vertexCount, 8);
    EXPECT_EQ(view.prelit.size(), size_t(view.vertexCount));
    EXPECT_EQ(view.uvSets.size(), 1u);
    EXPECT_EQ(view.normals.size(), size_t(view.vertexCount));
    for (const Vec3& p : view.positions) {
        EXPECT_LE(std::abs(p.x), 10.0f);
        EXPECT_LE(std::abs(p.y), 10.0f);
        EXPECT_LE(std::abs(p.z), 10.0f);
    }
    for (const Triangle& t : view.triangles) {
        EXPECT_LT(t.v1, view.vertexCount);
        EXPECT_LT(t.v2, view.vertexCount);
        EXPECT_LT(t.v3, view.vertexCount);
    }
    ASSERT_EQ(view.materials.size(), 1u);
    ASSERT_EQ(view.materials[0].textures.size(), 1u);
    EXPECT_EQ(view.materials[0].textures[0].name, "house_wall");
    ASSERT_NE(view.FindEntry(kEntryBinMesh), nullptr);
}

TEST(HouseSample, CommittedFileMatchesTheBuilder) {
    const Bytes committed = ReadFile(std::string(BRENNIX_SAMPLES_DIR) + "/house.dff");
    EXPECT_EQ(committed, BuildModel(MakeHouseModel()));
}

// One sphere, one box, a face over three vertices, in each version and
// layout: where the sections land, what the size field counts, the flags.
TEST(ColBuilder, LaysOutEveryVersionAsItsHeaderSays) {
    ColEntryPlan plan;
    plan.spheres = {{{1, 2, 3}, 4, {5, 6, 7, 8}}};
    plan.boxes = {{{-1, -1, -1}, {1, 1, 1}, {9}}};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, -1.5f, 0}};
    plan.faces = {{0, 1, 2, {3, 0, 0, 4}}};
    struct Case {
        int version;
        ColLayout layout;
        size_t size, sphereAt, boxAt, vertexAt, faceAt;
    };
    const Case cases[] = {
        // 6-byte vertices padded to 4 bytes before the faces.
        {2, ColLayout::kStandard, 184, 108, 128, 156, 176},
        {3, ColLayout::kStandard, 196, 120, 140, 168, 188},
        {4, ColLayout::kStandard, 200, 124, 144, 172, 192},
        // Faces before vertices, nothing padded.
        {3, ColLayout::kEarlier, 194, 120, 140, 176, 168},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        plan.version = c.version;
        plan.layout = c.layout;
        const Bytes b = BuildColEntry(plan);
        ASSERT_EQ(b.size(), c.size);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "COL" + std::to_string(c.version));
        EXPECT_EQ(GetU32(b, kColSizeAt), c.size - (c.layout == ColLayout::kStandard ? 8 : 4));
        EXPECT_EQ(GetU32(b, kColFlagsAt), 2u);
        EXPECT_EQ(GetU32(b, kColSphereOffsetAt) + 4, c.sphereAt);
        EXPECT_EQ(GetU32(b, kColBoxOffsetAt) + 4, c.boxAt);
        EXPECT_EQ(GetU32(b, kColVertexOffsetAt) + 4, c.vertexAt);
        EXPECT_EQ(GetU32(b, kColFaceOffsetAt) + 4, c.faceAt);
        EXPECT_EQ(GetU32(b, kColLineOffsetAt), 0u);
        EXPECT_EQ(GetF32(b, c.sphereAt + 12), 4.0f);  // the radius after the centre
        EXPECT_EQ(GetU8(b, c.boxAt + 24), 9);
        EXPECT_EQ(GetI16(b, c.vertexAt + 6 * 2 + 2), -192);  // -1.5 in 1/128 steps
        EXPECT_EQ(GetU16(b, c.faceAt + 4), 2);
        EXPECT_EQ(GetU8(b, c.faceAt + 7), 4);  // the light
    }
    // Version 1: counts before their records, floats, whole surfaces.
    plan.version = 1;
    plan.layout = ColLayout::kStandard;
    const Bytes v1 = BuildColEntry(plan);
    ASSERT_EQ(v1.size(), 72u + 4 + 20 + 4 + 4 + 28 + 4 + 36 + 4 + 16);
    EXPECT_EQ(GetU32(v1, kColSizeAt), v1.size() - 8);
    EXPECT_EQ(GetU32(v1, kColV1HeaderBytes), 1u);
    EXPECT_EQ(GetF32(v1, kColV1HeaderBytes + 4), 4.0f);  // the radius first
    EXPECT_EQ(GetU32(v1, v1.size() - 20), 1u);           // the face count
    EXPECT_EQ(GetU32(v1, v1.size() - 8), 2u);            // the third index
    EXPECT_EQ(GetU32(v1, v1.size() - 4), 0x04000003u);   // material and light
}

TEST(ColBuilder, GivesTheFlagsOfWhatItHoldsUnlessTold) {
    ColEntryPlan plan;
    EXPECT_EQ(GetU32(BuildColEntry(plan), kColFlagsAt), 0u);
    plan.vertices = {{0, 0, 0}};
    plan.faces = {{}};
    plan.faceGroups = {{}};
    plan.shadowVertices = {{0, 0, 0}};
    plan.shadowFaces = {{}};
    EXPECT_EQ(GetU32(BuildColEntry(plan), kColFlagsAt), 2u | 8 | 16);
    EXPECT_EQ(GetU32(BuildColEntry(plan), kColShadowFaceCountAt), 1u);
    plan.version = 2;  // no shadow mesh
    EXPECT_EQ(GetU32(BuildColEntry(plan), kColFlagsAt), 2u | 8);
    plan.flags = 0x40;
    EXPECT_EQ(GetU32(BuildColEntry(plan), kColFlagsAt), 0x40u);
    plan.faces.resize(0x10000);
    EXPECT_THROW(BuildColEntry(plan), std::length_error);
    Bytes b(6, 0);
    PatchU32(b, 2, 0x01020304);
    EXPECT_EQ(b, (Bytes{0, 0, 4, 3, 2, 1}));
    EXPECT_THROW(PatchU32(b, 3, 0), std::out_of_range);
    EXPECT_THROW(PatchU16(b, 7, 0), std::out_of_range);
}

TEST(Col3, EncodedFileReadsBack) {
    Col3File small = MakeSmallCol3();
    small.spheres.push_back(Col3Sphere{});
    small.spheres[0][3] = 7;
    const Bytes bytes = EncodeCol3(small);
    Col3File back;
    std::string why;
    ASSERT_TRUE(ReadCol3(bytes, &back, &why)) << why;
    EXPECT_EQ(back.Name(), "house");
    EXPECT_EQ(back.modelId, -1);
    EXPECT_EQ(back.size, bytes.size() - 4);
    EXPECT_EQ(back.spheres, small.spheres);
    EXPECT_EQ(back.boxes, small.boxes);
    EXPECT_EQ(back.faces, small.faces);
    EXPECT_EQ(back.vertices, small.vertices);
    EXPECT_EQ(back.sphereOffset, 116u);
    EXPECT_EQ(back.boxOffset, 136u);
    EXPECT_EQ(back.faceOffset, 164u);
    EXPECT_EQ(back.vertexOffset, 180u);
}

TEST(Col3, HeaderOnlyAndBoxOnlyFilesHaveKnownSizes) {
    Col3File empty;
    empty.SetName("yolt");
    const Bytes headerOnly = EncodeCol3(empty);
    ASSERT_EQ(headerOnly.size(), 120u);
    EXPECT_EQ(GetU32(headerOnly, 4), 116u);
    EXPECT_TRUE(ReadCol3(headerOnly, nullptr, nullptr));

    Col3File boxOnly;
    boxOnly.boxes.push_back(Col3Box{});
    const Bytes bytes = EncodeCol3(boxOnly);
    ASSERT_EQ(bytes.size(), 148u);
    EXPECT_EQ(GetU32(bytes, 4), 144u);
    EXPECT_EQ(GetU16(bytes, 74), 1u);
    EXPECT_EQ(GetU32(bytes, 88), 116u);
}

TEST(Col3, FaceGroupsPrecedeFacesWithTheirCount) {
    Col3File f = MakeSmallCol3();
    f.boxes.clear();
    f.faceGroups.resize(2);
    const Bytes bytes = EncodeCol3(f);
    Col3File back;
    std::string why;
    ASSERT_TRUE(ReadCol3(bytes, &back, &why)) << why;
    EXPECT_EQ(back.flags, 8u);
    EXPECT_EQ(back.faceGroups.size(), 2u);
    EXPECT_EQ(GetU32(bytes, 120 + 56), 2u);
    EXPECT_EQ(back.faceOffset, 120u + 56);
}

TEST(Col3, ReaderRejectsOffsetsThatDisagree) {
    Bytes bytes = MakeCol3File();
    std::string why;
    ASSERT_TRUE(ReadCol3(bytes, nullptr, &why)) << why;

    Bytes badFace = bytes;
    badFace[100] += 1;
    EXPECT_FALSE(ReadCol3(badFace, nullptr, &why));
    EXPECT_NE(why.find("face offset"), std::string::npos) << why;

    Bytes badVertex = bytes;
    badVertex[96] -= 6;
    EXPECT_FALSE(ReadCol3(badVertex, nullptr, &why));

    Bytes strayBox = bytes;
    strayBox[74] = 0;  // box count 0 while its offset is still set
    EXPECT_FALSE(ReadCol3(strayBox, nullptr, &why));
}

TEST(Col3, ReaderRejectsWrongSizeFourccAndIndices) {
    const Bytes bytes = MakeCol3File();
    std::string why;

    Bytes fourcc = bytes;
    fourcc[3] = '2';
    EXPECT_FALSE(ReadCol3(fourcc, nullptr, &why));

    Bytes size = bytes;
    size[4] += 4;  // as if the size counted from the start
    EXPECT_FALSE(ReadCol3(size, nullptr, &why));

    Bytes extra = bytes;
    extra.push_back(0);
    extra[4] += 1;  // size agrees, but a byte is left after the vertices
    EXPECT_FALSE(ReadCol3(extra, nullptr, &why));

    Col3File f = MakeSmallCol3();
    f.faces[1].c = 4;  // only four vertices
    EXPECT_FALSE(ReadCol3(EncodeCol3(f), nullptr, &why));
    EXPECT_NE(why.find("face 1"), std::string::npos) << why;

    Bytes reserved = bytes;
    reserved[110] = 1;
    EXPECT_FALSE(ReadCol3(reserved, nullptr, &why));
}

TEST(Col3, ReaderRejectsEveryTruncatedPrefix) {
    const Bytes bytes = MakeCol3File();
    for (size_t n = 0; n < bytes.size(); ++n) {
        Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        if (prefix.size() >= 8) {
            // Keep the size field consistent so that the section checks are reached.
            const uint32_t size = static_cast<uint32_t>(n - 4);
            prefix[4] = static_cast<uint8_t>(size);
            prefix[5] = static_cast<uint8_t>(size >> 8);
            prefix[6] = 0;
            prefix[7] = 0;
        }
        EXPECT_FALSE(ReadCol3(prefix, nullptr, nullptr)) << "prefix of " << n << " bytes";
    }
}

}  // namespace
}  // namespace brennix::test
