// Reading the Geometry List: the Geometry Struct body, the material list and
// the geometry's extension entries, with their failure codes and details.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "dff/DffModel.h"
#include "dff/Geometry.h"

namespace brennix::test {
namespace {

using Mutation = std::function<void(GeometrySpec&)>;

// The canonical geometry without normals, so that a Struct body cut inside
// its tail reads zeros instead of asking for more arrays.
GeometrySpec LeanGeometry() {
    GeometrySpec g = MakeCanonicalGeometry();
    g.formatFlags &= static_cast<uint16_t>(~kGeoNormals);
    g.normals.clear();
    g.hasNormals = 0;
    return g;
}

// A geometry with no vertices and no triangles.
GeometrySpec EmptyGeometry() {
    GeometrySpec g;
    g.hasPositions = 0;
    g.materials = {MakeMaterial()};
    return g;
}

Bytes WithHeader(uint32_t type, uint32_t size, const Bytes& payload) {
    return MakeChunkWithSize(type, size, payload);
}

class GeometryTest : public ::testing::Test {
public:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }

    // Loads the canonical model with the given Geometry List and reads it.
    int32_t ReadList(ScopedModel& model, const ClumpChild& list, uint32_t earlierCode = 0,
                     uint32_t earlierDetail = 0) {
        ClumpSpec plan = MakeCanonicalModel();
        *plan.FindChild(ClumpChildKind::GeometryList) = list;
        EXPECT_EQ(LoadBytes(*model, dir.Path("model.dff"), BuildModel(plan)), 1);
        model->errorCode = earlierCode;
        model->errorDetail = earlierDetail;
        return model->ReadGeometryList();
    }
    int32_t ReadList(ScopedModel& model, const GeometryListSpec& list) {
        return ReadList(model, ClumpChild::MakeGeometryList(list));
    }
    int32_t Read(ScopedModel& model, const GeometrySpec& geometry, uint32_t earlierCode = 0,
                 uint32_t earlierDetail = 0) {
        return ReadList(model, ClumpChild::MakeGeometryList(geometry), earlierCode, earlierDetail);
    }
    // Reads the geometry and expects success with exactly one geometry.
    const Geometry& ReadOk(ScopedModel& model, const GeometrySpec& geometry) {
        EXPECT_EQ(Read(model, geometry), 1)
            << ErrorCodeName(model->errorCode) << " detail " << model->errorDetail;
        EXPECT_EQ(model->errorCode, 0u);
        static Geometry none = [] {
            Geometry g;
            g.Init();
            return g;
        }();
        const Geometry* g = model->FirstGeometry();
        EXPECT_NE(g, nullptr);
        return g != nullptr ? *g : none;
    }

    TempDir dir;
};

// Geometry::Read on one encoded Geometry chunk, with an error already
// latched in the record when asked.
struct DirectRead {
    Bytes chunk;
    Geometry geometry;
    bool ok = false;

    explicit DirectRead(const GeometrySpec& plan, uint32_t code = 0, uint32_t detail = 0)
        : chunk(EncodeGeometryChunk(plan)) {
        ByteBuffer payload =
            ByteBuffer::View(chunk.data() + 12, static_cast<uint32_t>(chunk.size() - 12));
        payload.Skip(12);  // the Struct header
        geometry.Init();
        geometry.errorCode = code;
        geometry.errorDetail = detail;
        ok = geometry.Read(payload, static_cast<uint16_t>(plan.stamp >> 16));
    }
    ~DirectRead() { geometry.Release(); }
};

// ---------------------------------------------------------------------------
// Geometry List

TEST_F(GeometryTest, ReadsTheCanonicalGeometry) {
    ScopedModel model;
    const GeometrySpec plan = MakeCanonicalGeometry();
    const Geometry& g = ReadOk(model, plan);
    ExpectGeometryEquals(g, plan);
    EXPECT_EQ(model->geometries.count, 1u);
    EXPECT_EQ(g.colorsChanged, 0);
    EXPECT_EQ(g.hasNight, 0);
    EXPECT_EQ(g.nightColors, nullptr);
    EXPECT_EQ(g.materialCount, 1);
    ASSERT_EQ(g.materials.count, 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(g.materials.At(0)->textures[0].textureName),
                 "canonical_tex");
    EXPECT_EQ(g.materials.At(0)->structWords[3], 1u);
    EXPECT_EQ(g.hasBinMesh, 1);
    ASSERT_NE(g.materialListChunk, nullptr);
    EXPECT_EQ(ChunkBytes(*g.materialListChunk), EncodeMaterialListChunk(plan.materials));
    ASSERT_NE(g.extensionChunk, nullptr);
    EXPECT_EQ(ChunkBytes(*g.extensionChunk), MakeExtensionChunk(plan.extensions));
}

TEST_F(GeometryTest, NoGeometryListReadsNothing) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.children.erase(plan.children.begin() + 2);
    ScopedModel model;
    ASSERT_EQ(LoadBytes(*model, dir.Path("model.dff"), BuildModel(plan)), 1);
    EXPECT_EQ(model->ReadGeometryList(), 0);
    EXPECT_EQ(model->errorCode, 0u);
}

TEST_F(GeometryTest, ListHeadFailures) {
    GeometryListSpec noGeometryCount;
    noGeometryCount.geometries = {MakeCanonicalGeometry()};
    noGeometryCount.countOverride = 0;
    GeometryListSpec countTwo = noGeometryCount;
    countTwo.countOverride = 2;
    GeometryListSpec twoGeometries;
    twoGeometries.geometries = {MakeCanonicalGeometry(), MakeCanonicalGeometry()};
    GeometryListSpec longStruct = noGeometryCount;
    longStruct.countOverride.reset();
    longStruct.structPayloadOverride = Bytes{1, 0, 0, 0, 0, 0, 0, 0};
    GeometryListSpec emptyStruct = longStruct;
    emptyStruct.structPayloadOverride = Bytes{};
    ClumpChild noStruct = ClumpChild::MakeGeometryList(MakeCanonicalGeometry());
    noStruct.rawPayload = EncodeGeometryChunk(MakeCanonicalGeometry());
    const struct {
        const char* name;
        ClumpChild list;
        uint32_t code;
    } cases[] = {
        {"count 0", ClumpChild::MakeGeometryList(noGeometryCount), kErrorGeometryCount},
        {"count 2", ClumpChild::MakeGeometryList(countTwo), kErrorGeometryCount},
        {"two geometries", ClumpChild::MakeGeometryList(twoGeometries), kErrorGeometryCount},
        {"8-byte struct", ClumpChild::MakeGeometryList(longStruct), kErrorUnexpectedChunk},
        {"0-byte struct", ClumpChild::MakeGeometryList(emptyStruct), kErrorUnexpectedChunk},
        {"geometry first", noStruct, kErrorUnexpectedChunk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedModel model;
        EXPECT_EQ(ReadList(model, c.list), 0);
        EXPECT_EQ(model->errorCode, c.code);
        EXPECT_EQ(model->geometries.count, 0u);
    }
}

TEST_F(GeometryTest, ListWithoutAParsableGeometrySucceedsEmpty) {
    GeometryListSpec nothing;
    nothing.countOverride = 1;
    GeometryListSpec otherChunk = nothing;
    otherChunk.trailing = MakeChunk(0x99, EncodeGeometryChunk(MakeCanonicalGeometry()));
    GeometryListSpec noStruct;
    noStruct.geometries = {MakeCanonicalGeometry()};
    noStruct.geometries[0].structType = kChunkExtension;
    const std::vector<std::pair<const char*, GeometryListSpec>> cases = {
        {"nothing after the struct", nothing},
        {"next chunk not a geometry", otherChunk},
        {"geometry without struct", noStruct},
    };
    for (const auto& [name, list] : cases) {
        SCOPED_TRACE(name);
        ScopedModel model;
        EXPECT_EQ(ReadList(model, list), 1);
        EXPECT_EQ(model->errorCode, 0u);
        EXPECT_EQ(model->FirstGeometry(), nullptr);
    }
}

// ---------------------------------------------------------------------------
// Failure table: one mutation of a well-formed geometry, the code and detail
// the model ends with.

struct FailureCase {
    const char* name;
    Mutation mutate;
    uint32_t code;
    uint32_t detail;
};

void RunFailureCases(GeometryTest* test, const std::vector<FailureCase>& cases,
                     const GeometrySpec& base) {
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        GeometrySpec plan = base;
        c.mutate(plan);
        ScopedModel model;
        EXPECT_EQ(test->Read(model, plan), 0);
        EXPECT_EQ(model->errorCode, c.code) << ErrorCodeName(model->errorCode);
        EXPECT_EQ(model->errorDetail, c.detail);
        EXPECT_EQ(model->geometries.count, 0u);
    }
}

// Cuts the Struct body and leaves out everything after it.
Mutation CutBody(size_t length) {
    return [length](GeometrySpec& g) {
        g.structBodyLength = length;
        g.materialListRaw = Bytes{};
        g.extensionRaw = Bytes{};
    };
}

TEST_F(GeometryTest, StructBodyFailures) {
    const std::vector<FailureCase> lean = {
        {"head cut", CutBody(10), kErrorGeometryData, 0},
        {"head fills the payload", CutBody(16), kErrorGeometryData, 0},
        {"day colours cut", CutBody(30), kErrorGeometryData, 0},
        {"texture coordinates cut", CutBody(50), kErrorGeometryData, 0},
        {"triangles cut", CutBody(100), kErrorGeometryData, 0},
        {"ends right after the triangles", CutBody(124), kErrorGeometryData, 0},
        {"ends inside the sphere", CutBody(130), kErrorMissingMaterialList, 0},
        {"ends before the position word", CutBody(140), kErrorMissingMaterialList, 0},
        {"positions cut", CutBody(180), kErrorGeometryData, 0},
        {"whole body, nothing after", CutBody(208), kErrorMissingMaterialList, 0},
        {"lighting block cut",
         [](GeometrySpec& g) {
             g.stamp = kOldStamp;
             CutBody(22)(g);
         },
         kErrorGeometryData, 0},
        {"lighting block fills the payload",
         [](GeometrySpec& g) {
             g.stamp = kOldStamp;
             CutBody(28)(g);
         },
         kErrorGeometryData, 0},
        {"100001 triangles", [](GeometrySpec& g) { g.triangleCountOverride = 100001; },
         kErrorTriangleCount, 0},
        {"negative triangles", [](GeometrySpec& g) { g.triangleCountOverride = -1; },
         kErrorTriangleCount, 0},
        {"200001 vertices", [](GeometrySpec& g) { g.vertexCountOverride = 200001; },
         kErrorVertexCount, 0},
        {"negative vertices", [](GeometrySpec& g) { g.vertexCountOverride = -5; },
         kErrorVertexCount, 0},
        {"both counts out of range",
         [](GeometrySpec& g) {
             g.triangleCountOverride = 100001;
             g.vertexCountOverride = -1;
         },
         kErrorTriangleCount, 0},
        {"no material list", [](GeometrySpec& g) { g.materialListRaw = Bytes{}; },
         kErrorMissingMaterialList, 0},
        {"extension where the material list belongs",
         [](GeometrySpec& g) { g.materialListRaw = MakeExtensionChunk({}); },
         kErrorMissingMaterialList, 0},
        {"no extension", [](GeometrySpec& g) { g.extensionRaw = Bytes{}; }, kErrorMissingExtension,
         0},
        {"other chunk where the extension belongs",
         [](GeometrySpec& g) { g.extensionRaw = MakeChunk(0x99, {}); }, kErrorMissingExtension, 0},
    };
    RunFailureCases(this, lean, LeanGeometry());
    RunFailureCases(this, {{"normals cut", CutBody(240), kErrorGeometryData, 0}},
                    MakeCanonicalGeometry());
}

MaterialSpec& FirstMaterial(GeometrySpec& g) {
    return g.materials.at(0);
}
TextureSpec& FirstTexture(GeometrySpec& g) {
    return g.materials.at(0).textures.at(0);
}

TEST_F(GeometryTest, MaterialListFailures) {
    const std::vector<FailureCase> cases = {
        {"count 0", [](GeometrySpec& g) { g.materialCountOverride = 0; }, kErrorMaterialCount, 0},
        {"count 256", [](GeometrySpec& g) { g.materialCountOverride = 256; }, kErrorMaterialCount,
         0},
        {"negative count", [](GeometrySpec& g) { g.materialCountOverride = 0xFFFFFFFF; },
         kErrorMaterialCount, 0},
        {"24-byte material struct",
         [](GeometrySpec& g) { FirstMaterial(g).structPayloadOverride = Bytes(24, 0); },
         kErrorUnexpectedChunk, 9},
        {"three textures",
         [](GeometrySpec& g) {
             FirstMaterial(g).textures = {MakeTexture("a"), MakeTexture("b"), MakeTexture("c")};
         },
         kErrorTextureCount, 3},
        {"texture count 7", [](GeometrySpec& g) { FirstMaterial(g).textureCountOverride = 7; },
         kErrorTextureCount, 7},
        {"8-byte texture struct", [](GeometrySpec& g) { FirstTexture(g).structDeclaredSize = 8; },
         kErrorUnexpectedChunk, 4},
        {"33-byte texture name",
         [](GeometrySpec& g) {
             FirstTexture(g).padNames = false;
             FirstTexture(g).name = std::string(33, 't');
         },
         kErrorUnexpectedChunk, 5},
        {"texture name not a string",
         [](GeometrySpec& g) { FirstTexture(g).nameType = kChunkStruct; }, kErrorUnexpectedChunk,
         5},
        {"33-byte mask name",
         [](GeometrySpec& g) {
             FirstTexture(g).padNames = false;
             FirstTexture(g).maskName = std::string(33, 'm');
         },
         kErrorUnexpectedChunk, 6},
        {"mask name not a string", [](GeometrySpec& g) { FirstTexture(g).maskType = 0x99; },
         kErrorUnexpectedChunk, 6},
        {"texture closed by another chunk with a payload",
         [](GeometrySpec& g) {
             FirstTexture(g).closingType = 0x99;
             FirstTexture(g).closingPayload = Bytes(4, 0);
         },
         kErrorUnexpectedChunk, 7},
        {"material closed by another chunk",
         [](GeometrySpec& g) { FirstMaterial(g).extensionType = 0x99; }, kErrorUnexpectedChunk, 8},
        {"unknown material entry",
         [](GeometrySpec& g) {
             FirstMaterial(g).extensions = {ExtensionEntry{0x11F, Bytes(4, 0)}};
         },
         kErrorUnknownEntry, 0x11F},
        {"material entries short of the extension size",
         [](GeometrySpec& g) {
             FirstMaterial(g).extensions = {ExtensionEntry{0x120, Bytes(4, 0)}};
             FirstMaterial(g).extensionDeclaredSize = 20;
         },
         kErrorUnknownEntry, 0},
        {"second material fails",
         [](GeometrySpec& g) {
             g.materials.push_back(MakeMaterial("second"));
             g.materials[1].textures[0].padNames = false;
             g.materials[1].textures[0].name = std::string(40, 's');
         },
         kErrorUnexpectedChunk, 5},
    };
    RunFailureCases(this, cases, MakeCanonicalGeometry());
}

TEST_F(GeometryTest, ExtensionFailures) {
    auto night = [](int32_t count) {
        return NightColoursEntry(std::vector<Rgba>(static_cast<size_t>(count), Rgba{1, 2, 3, 4}));
    };
    const std::vector<FailureCase> cases = {
        {"unknown entry 0x50F",
         [](GeometrySpec& g) {
             g.extensions.push_back(ExtensionEntry{0x50F, Bytes(8, 0)});
         },
         kErrorUnknownEntry, 0x50F},
        {"unknown entry of 1 byte in a 13-byte extension",
         [](GeometrySpec& g) {
             g.extensions = {ExtensionEntry{0x50F, Bytes(1, 0)}};
         },
         kErrorUnknownEntry, 0x50F},
        {"night colours cut short",
         [night](GeometrySpec& g) {
             ExtensionEntry entry = night(5);
             entry.payload.resize(entry.payload.size() - 4);
             entry.declaredSize = 4 + 4 * 5;
             g.extensions = {entry};
         },
         kErrorGeometryData, kEntryNightColours},
        {"bin mesh of 100000 meshes",
         [](GeometrySpec& g) {
             g.extensions = {ExtensionEntry{kEntryBinMesh, MakeBinMeshPayload({}, 0, 100000)}};
         },
         kErrorTriangleCount, 0},
        {"bin mesh indices longer than the rest",
         [](GeometrySpec& g) {
             Bytes payload;
             for (uint32_t word : {0u, 1u, 10u, 10u, 0u, 0u, 1u, 2u})
                 PutU32(payload, word);
             g.extensions = {ExtensionEntry{kEntryBinMesh, payload}};
         },
         kErrorGeometryData, 0},
    };
    RunFailureCases(this, cases, MakeCanonicalGeometry());
}

TEST_F(GeometryTest, SkinFailures) {
    auto skin = [](SkinSpec s, uint32_t vertices = 5) {
        return [s, vertices](GeometrySpec& g) { g.extensions.push_back(SkinEntry(s, vertices)); };
    };
    SkinSpec bones65;
    bones65.boneCount = 65;
    SkinSpec usedAboveBones;
    usedAboveBones.boneCount = 2;
    usedAboveBones.usedBoneCount = 3;
    std::vector<FailureCase> cases = {
        {"65 bones", skin(bones65), kErrorUnexpectedChunk, kEntrySkin},
        {"more used bones than bones", skin(usedAboveBones), kErrorUnexpectedChunk, kEntrySkin},
        {"declared 4 bytes beyond its contents",
         [](GeometrySpec& g) {
             ExtensionEntry entry = SkinEntry(SkinSpec(), 5);
             entry.payload.resize(entry.payload.size() + 4, 0);
             g.extensions.push_back(entry);
         },
         kErrorUnexpectedChunk, kEntrySkin},
        {"cut short",
         [](GeometrySpec& g) {
             ExtensionEntry entry = SkinEntry(SkinSpec(), 5);
             entry.declaredSize = static_cast<uint32_t>(entry.payload.size());
             entry.payload.resize(entry.payload.size() - 20);
             g.extensions.push_back(entry);
         },
         kErrorUnexpectedChunk, kEntrySkin},
        {"last, cut short, declared as long as the bytes left",
         [](GeometrySpec& g) {
             ExtensionEntry entry = SkinEntry(SkinSpec(), 5);
             entry.payload.resize(entry.payload.size() - 20);
             g.extensions.push_back(entry);
         },
         kErrorUnexpectedChunk, kEntrySkin},
    };
    for (size_t word = 0; word < 3; ++word) {
        SkinSpec trailer;
        trailer.trailer[word] = 1;
        cases.push_back(
            {"non-zero trailer word", skin(trailer), kErrorUnexpectedChunk, kEntrySkin});
    }
    RunFailureCases(this, cases, MakeCanonicalGeometry());

    GeometrySpec empty = EmptyGeometry();
    RunFailureCases(this, {{"no vertices", skin(SkinSpec(), 0), kErrorUnexpectedChunk, kEntrySkin}},
                    empty);
}

// ---------------------------------------------------------------------------
// First code wins; a detail is written wherever one is named.

TEST_F(GeometryTest, GeometryKeepsItsFirstCodeAndWritesNamedDetails) {
    const struct {
        const char* name;
        Mutation mutate;
        uint32_t code;    // after a fresh read
        uint32_t detail;  // after a read with detail 77 already stored
    } cases[] = {
        {"material name", [](GeometrySpec& g) { FirstTexture(g).nameType = 0x99; },
         kErrorUnexpectedChunk, 5},
        {"texture count", [](GeometrySpec& g) { FirstMaterial(g).textureCountOverride = 4; },
         kErrorTextureCount, 4},
        {"material entry",
         [](GeometrySpec& g) {
             FirstMaterial(g).extensions = {ExtensionEntry{0x99, {}}};
         },
         kErrorUnknownEntry, 0x99},
        {"no material list", [](GeometrySpec& g) { g.materialListRaw = Bytes{}; },
         kErrorMissingMaterialList, 77},
        {"no extension", [](GeometrySpec& g) { g.extensionRaw = Bytes{}; }, kErrorMissingExtension,
         0},
        {"bin mesh count",
         [](GeometrySpec& g) {
             g.extensions = {ExtensionEntry{kEntryBinMesh, MakeBinMeshPayload({}, 0, 200000)}};
         },
         kErrorTriangleCount, 77},
        {"skin",
         [](GeometrySpec& g) {
             SkinSpec skin;
             skin.usedBoneCount = 2;
             g.extensions.push_back(SkinEntry(skin, 5));
         },
         kErrorUnexpectedChunk, kEntrySkin},
        {"struct body cut", CutBody(50), kErrorGeometryData, 77},
        {"material count", [](GeometrySpec& g) { g.materialCountOverride = 0; },
         kErrorMaterialCount, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GeometrySpec plan = MakeCanonicalGeometry();
        c.mutate(plan);
        DirectRead fresh(plan);
        EXPECT_FALSE(fresh.ok);
        EXPECT_EQ(fresh.geometry.errorCode, c.code);
        DirectRead latched(plan, kErrorVertexCount, 77);
        EXPECT_FALSE(latched.ok);
        EXPECT_EQ(latched.geometry.errorCode, kErrorVertexCount);
        EXPECT_EQ(latched.geometry.errorDetail, c.detail);
    }
}

TEST_F(GeometryTest, ModelKeepsItsFirstCodeAndTakesTheGeometrysDetail) {
    GeometrySpec badName = MakeCanonicalGeometry();
    FirstTexture(badName).nameType = 0x99;
    GeometrySpec noList = MakeCanonicalGeometry();
    noList.materialListRaw = Bytes{};
    const struct {
        const char* name;
        GeometrySpec plan;
        uint32_t detail;
    } cases[] = {{"material name", badName, 5}, {"no material list", noList, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedModel model;
        EXPECT_EQ(Read(model, c.plan, kErrorNotAClump, 3), 0);
        EXPECT_EQ(model->errorCode, kErrorNotAClump);
        EXPECT_EQ(model->errorDetail, c.detail);
    }
}

// ---------------------------------------------------------------------------
// Accepted edge cases

TEST_F(GeometryTest, AcceptsTheLargestCounts) {
    ClumpSpec large = MakeLargeModel(100000, 200000);
    ScopedModel model;
    const Geometry& g = ReadOk(model, large.FirstGeometry());
    EXPECT_EQ(g.triangleCount, 100000);
    EXPECT_EQ(g.vertexCount, 200000);
    ASSERT_NE(g.positions, nullptr);
    EXPECT_EQ(Geometry::FloatAt(g.positions, 3 * 199999), large.FirstGeometry().positions.back().x);
    EXPECT_EQ(TrianglesOf(g).back(), large.FirstGeometry().triangles.back());
}

TEST_F(GeometryTest, LightingBlockIsSkippedUnderOldStamps) {
    for (uint32_t stamp : {0x00000310u, 0x0FFFFFFFu, 0x10000000u, 0x1803FFFFu}) {
        SCOPED_TRACE(stamp);
        GeometrySpec plan = MakeCanonicalGeometry();
        plan.stamp = stamp;
        plan.lighting = {7.0f, 8.0f, 9.0f};
        ScopedModel model;
        ExpectGeometryEquals(ReadOk(model, plan), plan);
    }
}

TEST_F(GeometryTest, TextureCoordinateSetsFollowTheFormat) {
    auto set = [](float base) {
        std::vector<Uv> uvs;
        for (int i = 0; i < 5; ++i)
            uvs.push_back({base + static_cast<float>(i), -base});
        return uvs;
    };
    const struct {
        uint16_t flags;
        uint16_t formatHigh;
        size_t sets;
    } cases[] = {
        {0x04, 1, 1}, {0x80, 0, 1},      {0x84, 0, 1}, {0x84, 1, 1},
        {0x84, 2, 2}, {0x04, 0x0102, 2}, {0x80, 3, 3}, {0x00, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags " << c.flags << " high " << c.formatHigh);
        GeometrySpec plan = MakeCanonicalGeometry();
        plan.formatFlags = static_cast<uint16_t>((plan.formatFlags & ~0x84) | c.flags);
        plan.formatHigh = c.formatHigh;
        plan.uvSets.clear();
        for (size_t s = 0; s < c.sets; ++s)
            plan.uvSets.push_back(set(10.0f * static_cast<float>(s)));
        ScopedModel model;
        const Geometry& g = ReadOk(model, plan);
        EXPECT_EQ(g.texCoordSets, c.sets);
        ExpectGeometryEquals(g, plan);
    }
}

TEST_F(GeometryTest, PositionAndNormalWordsDecideWhatIsRead) {
    GeometrySpec noPositions = MakeCanonicalGeometry();
    noPositions.hasPositions = 0;
    noPositions.positions.clear();
    GeometrySpec normalsWordOnly = LeanGeometry();
    normalsWordOnly.hasNormals = 1;
    GeometrySpec emptyPrelit = EmptyGeometry();
    emptyPrelit.formatFlags = kGeoPrelit;
    for (const GeometrySpec& plan : {noPositions, normalsWordOnly, emptyPrelit}) {
        ScopedModel model;
        const Geometry& g = ReadOk(model, plan);
        ExpectGeometryEquals(g, plan);
        EXPECT_EQ(g.positions == nullptr, plan.hasPositions == 0);
        EXPECT_EQ(g.normals == nullptr, (plan.formatFlags & kGeoNormals) == 0);
    }
    ScopedModel model;
    const Geometry& g = ReadOk(model, emptyPrelit);
    EXPECT_EQ(g.hasPrelit, 1);
    EXPECT_NE(g.prelitColors, nullptr);
}

TEST_F(GeometryTest, AcceptedMaterialLists) {
    auto words = [](uint32_t count, uint32_t structSize) {
        Bytes body;
        PutU32(body, count);
        return WithHeader(kChunkStruct, structSize, body);
    };
    const Bytes oneMaterial = EncodeMaterialChunk(MakeMaterial("m"));
    const struct {
        const char* name;
        Mutation mutate;
        int32_t materialCount;
        uint32_t records;
    } cases[] = {
        {"one material", [](GeometrySpec&) {}, 1, 1},
        {"255 materials", [](GeometrySpec& g) { g.materials.assign(255, MakeMaterial("x")); }, 255,
         255},
        {"list without struct",
         [](GeometrySpec& g) {
             g.materialListRaw = MakeChunk(kChunkMaterialList, MakeChunk(0x99, {1, 0, 0, 0}));
         },
         0, 0},
        {"declares 3, holds 2",
         [](GeometrySpec& g) {
             g.materials = {MakeMaterial("a"), MakeMaterial("b")};
             g.materialCountOverride = 3;
         },
         3, 2},
        {"struct size 0 counts as 4",
         [&](GeometrySpec& g) {
             g.materialListRaw = MakeChunk(kChunkMaterialList, Cat({words(1, 0), oneMaterial}));
         },
         1, 1},
        {"struct size 3 counts as 4",
         [&](GeometrySpec& g) {
             g.materialListRaw = MakeChunk(kChunkMaterialList, Cat({words(1, 3), oneMaterial}));
         },
         1, 1},
        {"entries 0x120, 0x253F2F6, 0x135, 0x253F2FC",
         [](GeometrySpec& g) {
             FirstMaterial(g).extensions = {{0x120, Bytes(4, 1)},
                                            {kEntryMaterial2F6, Bytes(8, 2)},
                                            {0x135, {}},
                                            {kEntryMaterial2FC, Bytes(12, 3)}};
         },
         1, 1},
        {"texture closed by an empty chunk of another type",
         [](GeometrySpec& g) { FirstTexture(g).closingType = 0x99; }, 1, 1},
        {"texture closed by an extension with entries",
         [](GeometrySpec& g) { FirstTexture(g).closingPayload = Bytes(20, 9); }, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GeometrySpec plan = MakeCanonicalGeometry();
        c.mutate(plan);
        ScopedModel model;
        const Geometry& g = ReadOk(model, plan);
        EXPECT_EQ(g.materialCount, c.materialCount);
        EXPECT_EQ(g.materials.count, c.records);
        EXPECT_EQ(g.hasBinMesh, 1);  // the extension after the list was read
    }
}

TEST_F(GeometryTest, TextureSlotsHoldTheNamesAsStored) {
    GeometrySpec plan = MakeCanonicalGeometry();
    TextureSpec full = MakeTexture(std::string(32, 'T'), std::string(32, 'M'));
    full.padNames = false;
    full.textureWord = 0x12345678;
    TextureSpec second = MakeTexture("wall", "wall_mask");
    FirstMaterial(plan).textures = {full, second};
    FirstMaterial(plan).words[0] = 0xAABBCCDD;
    ScopedModel model;
    const Geometry& g = ReadOk(model, plan);
    ASSERT_EQ(g.materials.count, 1u);
    const Material& m = *g.materials.At(0);
    EXPECT_EQ(m.structWords[0], 0xAABBCCDDu);
    EXPECT_EQ(m.structWords[3], 2u);
    EXPECT_EQ(m.textures[0].textureWord, 0x12345678u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.textures[0].textureName), 32),
              std::string(32, 'T'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.textures[0].maskName), 32),
              std::string(32, 'M'));
    EXPECT_STREQ(reinterpret_cast<const char*>(m.textures[1].textureName), "wall");
    EXPECT_STREQ(reinterpret_cast<const char*>(m.textures[1].maskName), "wall_mask");
}

TEST_F(GeometryTest, TextureEntryOfAnotherTypeLeavesItsSlotEmpty) {
    GeometrySpec plan = MakeCanonicalGeometry();
    FirstTexture(plan).raw = MakeChunk(0x99, {});
    ScopedModel model;
    const Geometry& g = ReadOk(model, plan);
    ASSERT_EQ(g.materials.count, 1u);
    const TextureSlot& slot = g.materials.At(0)->textures[0];
    const TextureSlot zero = {};
    EXPECT_EQ(0, std::memcmp(&slot, &zero, sizeof slot));
}

TEST_F(GeometryTest, ExtensionsThatAreNotExamined) {
    const struct {
        const char* name;
        Bytes extension;
    } cases[] = {
        {"empty", MakeExtensionChunk({})},
        {"12 bytes holding an unknown zero-size entry",
         MakeExtensionChunk({ExtensionEntry{0x50F, {}}})},
        {"fewer than 12 bytes", MakeChunk(kChunkExtension, Bytes(7, 0xEE))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GeometrySpec plan = MakeCanonicalGeometry();
        plan.extensionRaw = c.extension;
        ScopedModel model;
        const Geometry& g = ReadOk(model, plan);
        EXPECT_EQ(g.hasBinMesh, 0);
        ASSERT_NE(g.extensionChunk, nullptr);
        EXPECT_EQ(ChunkBytes(*g.extensionChunk), c.extension);
    }
}

TEST_F(GeometryTest, NightColoursAreReadWhenTheirSizeFitsTheVertexCount) {
    const std::vector<Rgba> first = {
        {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}, {17, 18, 19, 20}};
    std::vector<Rgba> second = first;
    second[2] = {200, 201, 202, 203};
    const std::vector<Rgba> six(6, Rgba{99, 99, 99, 99});
    const ExtensionEntry bin = BinMeshEntry(MakeCanonicalGeometry().triangles);
    const struct {
        const char* name;
        std::vector<ExtensionEntry> entries;
        std::vector<Rgba> expected;  // empty: none read
    } cases[] = {
        {"any leading word", {bin, NightColoursEntry(first, 0xDEADBEEF)}, first},
        {"another vertex count is skipped", {NightColoursEntry(six), bin}, {}},
        {"entries after a skipped one are read",
         {NightColoursEntry(six), NightColoursEntry(first), bin},
         first},
        {"sizes below 4 are skipped",
         {ExtensionEntry{kEntryNightColours, {}}, ExtensionEntry{kEntryNightColours, Bytes(3, 1)},
          bin},
         {}},
        {"a later entry replaces an earlier one",
         {NightColoursEntry(first), bin, NightColoursEntry(second)},
         second},
        {"skipped entry types of any size",
         {ExtensionEntry{kEntrySkipped105, {}}, ExtensionEntry{kEntrySkipped2F8, Bytes(7, 1)},
          ExtensionEntry{kEntrySkipped2FD, Bytes(100, 2)}, NightColoursEntry(first)},
         first},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GeometrySpec plan = MakeCanonicalGeometry();
        plan.extensions = c.entries;
        ScopedModel model;
        const Geometry& g = ReadOk(model, plan);
        EXPECT_EQ(g.hasNight, c.expected.empty() ? 0 : 1);
        EXPECT_EQ(g.nightColors == nullptr, c.expected.empty());
        EXPECT_EQ(ColoursOf(g.nightColors, g.vertexCount), c.expected);
    }
    GeometrySpec empty = EmptyGeometry();
    empty.extensions = {NightColoursEntry({})};
    ScopedModel model;
    const Geometry& g = ReadOk(model, empty);
    EXPECT_EQ(g.hasNight, 1);
    EXPECT_NE(g.nightColors, nullptr);
}

TEST_F(GeometryTest, BinMeshIsReadUpToOneMeshBelowTheLimit) {
    ScopedModel canonical;
    const GeometrySpec plan = MakeCanonicalGeometry();
    const Geometry& g = ReadOk(canonical, plan);
    const std::vector<BinMeshSpec> meshes = BinMeshesFromTriangles(plan.triangles);
    ASSERT_EQ(g.meshes.count, meshes.size());
    EXPECT_EQ(g.meshCount, meshes.size());
    EXPECT_EQ(g.meshIndexTotal, 3 * plan.triangles.size());
    for (size_t i = 0; i < meshes.size(); ++i) {
        const BinMesh& mesh = *g.meshes.At(static_cast<uint32_t>(i));
        EXPECT_EQ(mesh.materialIndex, meshes[i].materialIndex);
        std::vector<uint32_t> indices;
        for (uint32_t k = 0; k < mesh.indexCount; ++k)
            indices.push_back(LoadU32(mesh.indices + 4 * k));
        EXPECT_EQ(indices, meshes[i].indices);
    }

    GeometrySpec many = MakeCanonicalGeometry();
    many.extensions = {
        ExtensionEntry{kEntryBinMesh, MakeBinMeshPayload(std::vector<BinMeshSpec>(99999), 1)}};
    ScopedModel model;
    const Geometry& big = ReadOk(model, many);
    EXPECT_EQ(big.meshCount, 99999u);
    EXPECT_EQ(big.meshes.count, 99999u);
    EXPECT_EQ(big.binMeshFlags, 1u);
}

TEST_F(GeometryTest, SkinIsReadWhenItFillsItsEntryExactly) {
    for (uint8_t bones : {uint8_t{1}, uint8_t{64}}) {
        SCOPED_TRACE(static_cast<int>(bones));
        SkinSpec skin;
        skin.boneCount = bones;
        skin.usedBoneCount = bones;
        skin.maxWeightsPerVertex = 2;
        skin.padding = 7;
        GeometrySpec plan = MakeCanonicalGeometry();
        plan.extensions.push_back(SkinEntry(skin, 5));
        plan.extensions.push_back(ExtensionEntry{kEntrySkipped2F8, Bytes(4, 0)});
        ScopedModel model;
        const Geometry& g = ReadOk(model, plan);
        EXPECT_EQ(g.boneCount, bones);
        EXPECT_EQ(g.usedBoneCount, bones);
        EXPECT_EQ(g.maxWeightsPerVertex, 2);
        EXPECT_EQ(g.skinPadding, 7);
        ASSERT_NE(g.inverseBoneMatrices, nullptr);
        const Bytes payload = MakeSkinPayload(skin, 5);
        EXPECT_EQ(0, std::memcmp(g.vertexBoneIndices, payload.data() + 4 + bones, 20));
        EXPECT_EQ(0, std::memcmp(g.inverseBoneMatrices, payload.data() + 4 + bones + 100,
                                 64 * static_cast<size_t>(bones)));
    }
}

// Frame names of any length come before the Geometry List, so the arrays of
// a real file start at any offset. Viewed in place they read, change and
// write exactly as copies do.
TEST_F(GeometryTest, ArraysAtAnyOffsetReadAndWriteAsCopies) {
    SkinSpec skin;
    skin.boneCount = skin.usedBoneCount = 3;
    skin.maxWeightsPerVertex = 2;
    GeometrySpec geometry = MakeCanonicalGeometry();
    geometry.formatHigh = 2;  // two sets of texture coordinates
    geometry.uvSets.push_back(geometry.uvSets[0]);
    geometry.extensions.push_back(SkinEntry(skin, 5));
    const std::vector<Rgba> nightColours = {
        {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}, {17, 18, 19, 20}};
    geometry.extensions.push_back(NightColoursEntry(nightColours));
    std::vector<size_t> positionOffsets;
    for (size_t nameLength = 1; nameLength <= 4; ++nameLength) {
        ClumpSpec plan = MakeCanonicalModel();
        plan.FirstGeometry() = geometry;
        plan.Frames().frames[0].extensions = {FrameNameEntry(std::string(nameLength, 'n'))};
        const Bytes file = BuildModel(plan);
        Bytes written[2];
        for (uint8_t copy : {0, 1}) {
            SCOPED_TRACE("name of " + std::to_string(nameLength) +
                         (copy ? ", copied" : ", viewed"));
            ScopedModel model;
            ASSERT_EQ(LoadBytes(*model, dir.Path("model.dff"), file), 1);
            model->copyArrays = copy;
            ASSERT_EQ(model->ReadGeometryList(), 1);
            Geometry& g = *model->FirstGeometry();
            ExpectGeometryEquals(g, geometry);
            const ByteBuffer& bytes = model->fileBuffer;
            const auto viewed = [&](const uint8_t* array, uint8_t owns) {
                const bool inside = array >= bytes.data && array < bytes.data + bytes.length;
                return inside && !owns;
            };
            for (auto [array, owns] : {std::pair{g.prelitColors, g.ownsPrelit},
                                       {g.texCoords, g.ownsTexCoords},
                                       {g.triangles, g.ownsTriangles},
                                       {g.positions, g.ownsPositions},
                                       {g.normals, g.ownsNormals},
                                       {g.nightColors, g.ownsNight},
                                       {g.vertexBoneIndices, g.ownsBoneIndices},
                                       {g.vertexBoneWeights, g.ownsBoneWeights},
                                       {g.inverseBoneMatrices, g.ownsInverseMatrices},
                                       {g.meshes.At(0)->indices, g.meshes.At(0)->ownsIndices}}) {
                EXPECT_EQ(viewed(array, owns), copy == 0);
                EXPECT_EQ(owns != 0, copy == 1);
            }
            if (!copy)
                positionOffsets.push_back(static_cast<size_t>(g.positions - bytes.data));
            const Bytes skinPayload = MakeSkinPayload(skin, 5);
            EXPECT_EQ(0, std::memcmp(g.vertexBoneWeights, skinPayload.data() + 4 + 3 + 20, 80));
            EXPECT_EQ(ColoursOf(g.nightColors, 5), nightColours);
            Bytes unchanged;
            ASSERT_TRUE(SaveBytes(*model, dir.Path("same.dff"), &unchanged));
            EXPECT_EQ(unchanged, file);
            const uint8_t day[4] = {10, 20, 30, 255}, night[4] = {1, 2, 3, 255};
            ASSERT_TRUE(g.SetUniformColors(day, night));
            ASSERT_GT(model->SaveWithRebuiltGeometry(dir.Path("painted.dff").c_str()), 0);
            written[copy] = ReadFile(dir.Path("painted.dff"));
        }
        EXPECT_EQ(written[0], written[1]);
    }
    std::sort(positionOffsets.begin(), positionOffsets.end());
    ASSERT_EQ(positionOffsets.size(), 4u);
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(positionOffsets[i] - positionOffsets[i - 1], 1u);
}

}  // namespace
}  // namespace brennix::test
