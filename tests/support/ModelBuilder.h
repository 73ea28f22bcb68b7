// Builds DFF model files byte by byte for the tests, and parses them back
// without the product code, so that reader and writer tests have an
// independent reference. Every value is written little-endian one byte at a
// time. The plan records (GeometrySpec, ClumpSpec, ...) describe well-formed
// models by default; their override fields let a test declare sizes and
// counts that disagree with the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/Col3Reader.h"

namespace brennix::test {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Chunk and entry type ids, stamps and format bits.

constexpr uint32_t kChunkStruct = 0x01;
constexpr uint32_t kChunkString = 0x02;
constexpr uint32_t kChunkExtension = 0x03;
constexpr uint32_t kChunkCamera = 0x05;
constexpr uint32_t kChunkTexture = 0x06;
constexpr uint32_t kChunkMaterial = 0x07;
constexpr uint32_t kChunkMaterialList = 0x08;
constexpr uint32_t kChunkFrameList = 0x0E;
constexpr uint32_t kChunkGeometry = 0x0F;
constexpr uint32_t kChunkClump = 0x10;
constexpr uint32_t kChunkLight = 0x12;
constexpr uint32_t kChunkAtomic = 0x14;
constexpr uint32_t kChunkGeometryList = 0x1A;
constexpr uint32_t kChunkUvAnimDictionary = 0x2B;

constexpr uint32_t kEntrySkipped105 = 0x105;
constexpr uint32_t kEntrySkin = 0x116;
constexpr uint32_t kEntryHAnim = 0x11E;
constexpr uint32_t kEntryMaterial120 = 0x120;
constexpr uint32_t kEntryMaterial135 = 0x135;
constexpr uint32_t kEntryBinMesh = 0x50E;
constexpr uint32_t kEntryMaterial2F6 = 0x253F2F6;
constexpr uint32_t kEntrySkipped2F8 = 0x253F2F8;
constexpr uint32_t kEntryNightColours = 0x253F2F9;
constexpr uint32_t kEntryMaterial2FC = 0x253F2FC;
constexpr uint32_t kEntrySkipped2FD = 0x253F2FD;
constexpr uint32_t kEntryFrameName = 0x253F2FE;
constexpr uint32_t kEntryCollision = 0x253F2FF;

// Stamp of every chunk the builder makes unless told otherwise (bytes FF FF 03 18).
constexpr uint32_t kDefaultStamp = 0x1803FFFF;
// An old-style stamp whose upper half is 0: a geometry chunk with it carries
// the 12-byte lighting block after the 16-byte head of its Struct.
constexpr uint32_t kOldStamp = 0x00000310;
// Leading word of a Night Colours entry as the product writes it ("PPP7").
constexpr uint32_t kNightLeadWordWritten = 0x37505050;

// Low half of the geometry format word.
constexpr uint16_t kGeoTriStrip = 0x01;
constexpr uint16_t kGeoPositions = 0x02;
constexpr uint16_t kGeoTextured = 0x04;
constexpr uint16_t kGeoPrelit = 0x08;
constexpr uint16_t kGeoNormals = 0x10;
constexpr uint16_t kGeoLit = 0x20;
constexpr uint16_t kGeoModulateColour = 0x40;
constexpr uint16_t kGeoTextured2 = 0x80;

// ---------------------------------------------------------------------------
// Little-endian byte helpers.

void PutU8(Bytes& out, uint8_t value);
void PutU16(Bytes& out, uint16_t value);
void PutI16(Bytes& out, int16_t value);
void PutU32(Bytes& out, uint32_t value);
void PutI32(Bytes& out, int32_t value);
void PutF32(Bytes& out, float value);
void PutBytes(Bytes& out, const Bytes& bytes);
void PutBytes(Bytes& out, const uint8_t* bytes, size_t count);
// The characters of `text`, no terminator.
void PutString(Bytes& out, const std::string& text);
// `text` cut or zero-padded to exactly `width` bytes.
void PutFixedString(Bytes& out, const std::string& text, size_t width);

// Readers for test assertions. They throw std::out_of_range when the value
// does not lie wholly inside `in`, which GoogleTest reports as a failure.
uint8_t GetU8(const Bytes& in, size_t offset);
uint16_t GetU16(const Bytes& in, size_t offset);
int16_t GetI16(const Bytes& in, size_t offset);
uint32_t GetU32(const Bytes& in, size_t offset);
int32_t GetI32(const Bytes& in, size_t offset);
float GetF32(const Bytes& in, size_t offset);

uint32_t FloatBits(float value);
float BitsToFloat(uint32_t bits);

// Concatenation: Cat({a, b, c}).
Bytes Cat(const std::vector<Bytes>& parts);

// ---------------------------------------------------------------------------
// Chunks and extension entries.

// A 12-byte header (type, payload size, stamp) followed by the payload.
// Throws std::length_error for a payload that does not fit 32 bits.
Bytes MakeChunk(uint32_t type, const Bytes& payload, uint32_t stamp = kDefaultStamp);
// The same with a declared size that may differ from the payload's length, for
// chunks that are cut short or claim more than they hold.
Bytes MakeChunkWithSize(uint32_t type, uint32_t declaredSize, const Bytes& payload,
                        uint32_t stamp = kDefaultStamp);

// One entry of an Extension chunk: a chunk header plus payload.
struct ExtensionEntry {
    ExtensionEntry() = default;
    ExtensionEntry(uint32_t entryType, Bytes entryPayload, uint32_t entryStamp = kDefaultStamp)
        : type(entryType), payload(std::move(entryPayload)), stamp(entryStamp) {}

    uint32_t type = 0;
    Bytes payload;
    uint32_t stamp = kDefaultStamp;
    std::optional<uint32_t> declaredSize;  // header size when it must lie about the payload
};

// The entries back to back, the payload of an Extension chunk.
Bytes EncodeEntries(const std::vector<ExtensionEntry>& entries);
// An Extension chunk (type 3) holding `entries`.
Bytes MakeExtensionChunk(const std::vector<ExtensionEntry>& entries,
                         uint32_t stamp = kDefaultStamp);

// ---------------------------------------------------------------------------
// Plain value types. Floats compare by bit pattern.

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct Uv {
    float u = 0.0f;
    float v = 0.0f;
};

struct Rgba {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;
};

// Field order is the on-disk order: first, second, material index, third.
struct Triangle {
    uint16_t v1 = 0;
    uint16_t v2 = 0;
    uint16_t materialIndex = 0;
    uint16_t v3 = 0;
};

struct Sphere {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float r = 0.0f;
};

bool operator==(const Vec3& lhs, const Vec3& rhs);
bool operator==(const Uv& lhs, const Uv& rhs);
bool operator==(const Rgba& lhs, const Rgba& rhs);
bool operator==(const Triangle& lhs, const Triangle& rhs);
bool operator==(const Sphere& lhs, const Sphere& rhs);
inline bool operator!=(const Vec3& lhs, const Vec3& rhs) {
    return !(lhs == rhs);
}
inline bool operator!=(const Uv& lhs, const Uv& rhs) {
    return !(lhs == rhs);
}
inline bool operator!=(const Rgba& lhs, const Rgba& rhs) {
    return !(lhs == rhs);
}
inline bool operator!=(const Triangle& lhs, const Triangle& rhs) {
    return !(lhs == rhs);
}
inline bool operator!=(const Sphere& lhs, const Sphere& rhs) {
    return !(lhs == rhs);
}
std::ostream& operator<<(std::ostream& os, const Vec3& value);
std::ostream& operator<<(std::ostream& os, const Uv& value);
std::ostream& operator<<(std::ostream& os, const Rgba& value);
std::ostream& operator<<(std::ostream& os, const Triangle& value);
std::ostream& operator<<(std::ostream& os, const Sphere& value);

// Centre of the positions' bounding box and the largest distance from it.
Sphere BoundingSphereOf(const std::vector<Vec3>& positions);

// ---------------------------------------------------------------------------
// Geometry extension entry payloads.

struct BinMeshSpec {
    uint32_t materialIndex = 0;
    std::vector<uint32_t> indices;
};

// flags, mesh count, index total, then per mesh: index count, material index,
// indices. The counts are taken from `meshes` unless overridden.
Bytes MakeBinMeshPayload(const std::vector<BinMeshSpec>& meshes, uint32_t flags = 0,
                         std::optional<uint32_t> meshCountOverride = std::nullopt,
                         std::optional<uint32_t> indexTotalOverride = std::nullopt);
// One triangle-list mesh per material index used, in ascending material order.
std::vector<BinMeshSpec> BinMeshesFromTriangles(const std::vector<Triangle>& triangles);
ExtensionEntry BinMeshEntry(const std::vector<Triangle>& triangles);

// Skin payload: four header bytes, used bones, 4 bone-index bytes and 16
// weight bytes per vertex, 64 bytes per bone, three trailer words. Arrays left
// empty are filled with a plausible pattern of the right length (used bone i
// is i, every vertex fully bound to bone (vertex % boneCount), identity
// matrices); arrays that are set are written as given, whatever their length.
struct SkinSpec {
    uint8_t boneCount = 1;
    uint8_t usedBoneCount = 1;
    uint8_t maxWeightsPerVertex = 1;
    uint8_t padding = 0;
    std::vector<uint8_t> usedBones;
    std::vector<uint8_t> vertexBoneIndices;  // 4 per vertex
    std::vector<float> vertexBoneWeights;    // 4 per vertex
    std::vector<float> inverseBoneMatrices;  // 16 per bone
    std::array<uint32_t, 3> trailer{};
    // The older layout: usedBoneCount must be 0; each identity matrix follows
    // a 4-byte marker, and the trailer is written only when asked for.
    bool olderLayout = false;
    bool olderTrailer = false;
};
Bytes MakeSkinPayload(const SkinSpec& skin, uint32_t vertexCount);
// 16 + U + 20V + 64B: the length of a well-formed Skin payload.
size_t SkinPayloadSize(uint32_t boneCount, uint32_t usedBoneCount, uint32_t vertexCount);
ExtensionEntry SkinEntry(const SkinSpec& skin, uint32_t vertexCount);

// Leading word, then one RGBA record per colour.
Bytes MakeNightColoursPayload(const std::vector<Rgba>& colours, uint32_t leadingWord = 1);
ExtensionEntry NightColoursEntry(const std::vector<Rgba>& colours, uint32_t leadingWord = 1);

// Frame extension entries. The name is stored as its characters, no terminator.
ExtensionEntry FrameNameEntry(const std::string& name);
ExtensionEntry HAnimEntry(int32_t nodeId = 0);

// A clump Extension entry carrying a whole COL3 file.
ExtensionEntry CollisionEntry(const Bytes& col3File);

// ---------------------------------------------------------------------------
// Materials.

struct TextureSpec {
    uint32_t chunkType = kChunkTexture;  // any other type makes a bare 12-byte header
    uint32_t textureWord = 0x1106;
    std::optional<uint32_t> structDeclaredSize;  // normally 4
    uint32_t nameType = kChunkString;
    std::string name;
    uint32_t maskType = kChunkString;
    std::string maskName;
    // Padded names carry a terminator and are zero-padded to a multiple of 4
    // bytes, as files normally hold them. Unpadded names are exactly the
    // characters, for payloads of a precise length (32 or 33 bytes).
    bool padNames = true;
    uint32_t closingType = kChunkExtension;
    Bytes closingPayload;
    std::optional<uint32_t> closingDeclaredSize;
    std::optional<Bytes> raw;  // replaces the whole texture chunk
};

struct MaterialSpec {
    // Flags, colour, unused, texture count, ambient, specular, diffuse. Word 3
    // is written as textureCountOverride or else textures.size(), whatever
    // words[3] holds.
    std::array<uint32_t, 7> words{0, 0xFFFFFFFFu, 0, 0, 0x3F800000u, 0x3F800000u, 0x3F800000u};
    std::optional<uint32_t> textureCountOverride;
    std::optional<Bytes> structPayloadOverride;  // e.g. 24 bytes for a short Struct
    std::vector<TextureSpec> textures;
    uint32_t extensionType = kChunkExtension;
    std::optional<uint32_t> extensionDeclaredSize;
    std::vector<ExtensionEntry> extensions;
    std::optional<Bytes> raw;  // replaces the whole material chunk
};

TextureSpec MakeTexture(const std::string& name, const std::string& maskName = "");
MaterialSpec MakeMaterial(const std::string& textureName = "");

Bytes EncodeTextureChunk(const TextureSpec& texture, uint32_t stamp = kDefaultStamp);
Bytes EncodeMaterialChunk(const MaterialSpec& material, uint32_t stamp = kDefaultStamp);
// Material List chunk: Struct (count, then -1 per material), then the materials.
Bytes EncodeMaterialListChunk(const std::vector<MaterialSpec>& materials,
                              std::optional<uint32_t> countOverride = std::nullopt,
                              uint32_t stamp = kDefaultStamp);

// ---------------------------------------------------------------------------
// Geometry.

// One geometry. Each optional section of the Struct body (day colours,
// texture coordinates, positions, normals) is written exactly when its vector
// is non-empty; formatFlags, hasPositions and hasNormals are written as given.
// So a description can make a file whose flags disagree with its data, and the
// factories below keep them consistent.
struct GeometrySpec {
    uint16_t formatFlags = 0;
    uint16_t formatHigh = 0;  // low byte: number of texture coordinate sets
    std::optional<int32_t> triangleCountOverride;
    std::optional<int32_t> vertexCountOverride;
    uint32_t morphTargetCount = 1;

    uint32_t stamp = kDefaultStamp;  // of the Geometry chunk and its children
    std::array<float, 3> lighting{1.0f, 1.0f, 1.0f};
    // Normally the lighting block follows from the stamp; this forces it.
    std::optional<bool> lightingBlockOverride;

    std::vector<Rgba> prelit;
    std::vector<std::vector<Uv>> uvSets;  // every set is written, one after another
    std::vector<Triangle> triangles;
    Sphere sphere;
    uint32_t hasPositions = 1;
    uint32_t hasNormals = 0;
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;

    uint32_t structType = kChunkStruct;
    std::optional<uint32_t> structDeclaredSize;
    // Cuts or zero-pads the encoded Struct body to this many bytes.
    std::optional<size_t> structBodyLength;

    std::vector<MaterialSpec> materials;
    std::optional<uint32_t> materialCountOverride;
    // Replaces the whole Material List chunk; an empty vector leaves it out.
    std::optional<Bytes> materialListRaw;

    std::vector<ExtensionEntry> extensions;
    std::optional<uint32_t> extensionDeclaredSize;
    // Replaces the whole Extension chunk; an empty vector leaves it out.
    std::optional<Bytes> extensionRaw;

    Bytes trailing;                        // bytes after the Extension, inside the Geometry chunk
    std::optional<uint32_t> declaredSize;  // of the Geometry chunk

    bool WritesLightingBlock() const;
    // The override, else the size of the first non-empty of positions,
    // normals, prelit, uvSets[0]; else 0.
    int32_t VertexCount() const;
    int32_t TriangleCount() const;
};

Bytes EncodeGeometryStructBody(const GeometrySpec& geometry);
Bytes EncodeGeometryChunk(const GeometrySpec& geometry);

struct GeometryListSpec {
    std::vector<GeometrySpec> geometries;  // normally exactly one
    std::optional<uint32_t> countOverride;
    std::optional<Bytes> structPayloadOverride;  // normally the 4-byte count
    Bytes trailing;                              // raw chunks after the geometries
};

// The Geometry List payload around already encoded geometry chunks.
Bytes MakeGeometryListPayload(const std::vector<Bytes>& geometryChunks, uint32_t count);
Bytes EncodeGeometryListPayload(const GeometryListSpec& list);

// ---------------------------------------------------------------------------
// Frames.

struct FrameSpec {
    std::array<float, 9> rotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<float, 3> position{};
    int32_t parent = -1;
    uint32_t matrixFlags = 0;
    std::optional<std::array<uint8_t, 56>> rawRecord;  // replaces the 56 bytes above
    bool hasExtension = true;
    std::vector<ExtensionEntry> extensions;
};

struct FrameListSpec {
    std::vector<FrameSpec> frames;
    std::optional<uint32_t> countOverride;
    uint32_t structType = kChunkStruct;
    Bytes trailing;  // raw chunks after the frame extensions
};

FrameSpec MakeFrame(const std::string& name = "", int32_t parent = -1);
// Struct (count, 56-byte records), then one Extension per frame that has one.
Bytes EncodeFrameListPayload(const FrameListSpec& frames);

// ---------------------------------------------------------------------------
// Clump.

// Atomic payload: Struct (frame, geometry, flags, 0) and an empty Extension.
Bytes MakeAtomicPayload(uint32_t frameIndex = 0, uint32_t geometryIndex = 0, uint32_t flags = 5);
Bytes MakeLightPayload();
Bytes MakeCameraPayload();

enum class ClumpChildKind {
    Struct,
    FrameList,
    GeometryList,
    Atomic,
    Extension,
    Light,
    Camera,
    Raw
};

// One child chunk of the clump. Only the fields of its kind are used.
struct ClumpChild {
    ClumpChildKind kind = ClumpChildKind::Raw;
    uint32_t rawType = 0;  // chunk type of a Raw child
    uint32_t stamp = kDefaultStamp;
    std::optional<uint32_t> declaredSize;
    // Payload of an Atomic, Light, Camera or Raw child (a default one when
    // unset); for the other kinds it replaces the payload built from the fields.
    std::optional<Bytes> rawPayload;

    uint32_t atomicCount = 1;  // Struct
    uint32_t lightCount = 0;
    uint32_t cameraCount = 0;
    bool shortStruct = false;  // a 4-byte Struct holding the atomic count only

    FrameListSpec frameList;
    GeometryListSpec geometryList;
    std::vector<ExtensionEntry> entries;  // Extension

    static ClumpChild MakeStruct(uint32_t atomics = 1, uint32_t lights = 0, uint32_t cameras = 0);
    static ClumpChild MakeShortStruct(uint32_t atomics = 1);
    static ClumpChild MakeFrameList(const FrameListSpec& frames);
    static ClumpChild MakeGeometryList(const GeometryListSpec& list);
    static ClumpChild MakeGeometryList(const GeometrySpec& geometry);
    static ClumpChild MakeAtomic(const Bytes& payload = MakeAtomicPayload());
    static ClumpChild MakeExtension(const std::vector<ExtensionEntry>& entries = {});
    static ClumpChild MakeLight(const Bytes& payload = MakeLightPayload());
    static ClumpChild MakeCamera(const Bytes& payload = MakeCameraPayload());
    static ClumpChild MakeRaw(uint32_t type, const Bytes& payload);

    uint32_t ChunkType() const;
};

Bytes EncodeClumpChild(const ClumpChild& child);

// A whole model file. Default-constructed it is the canonical model: Struct
// (1 atomic, 0 lights, 0 cameras), Frame List (one frame), Geometry List (the
// canonical geometry), Atomic, empty Extension, all stamped kDefaultStamp.
struct ClumpSpec {
    ClumpSpec();

    std::optional<Bytes> uvAnimDictionary;  // payload of a leading 0x2B chunk
    uint32_t stamp = kDefaultStamp;
    std::optional<uint32_t> declaredSize;
    std::vector<ClumpChild> children;
    Bytes trailing;  // bytes after the clump

    // The nth child of a kind, or null.
    ClumpChild* FindChild(ClumpChildKind kind, size_t nth = 0);
    const ClumpChild* FindChild(ClumpChildKind kind, size_t nth = 0) const;
    // These throw std::logic_error when the child is missing.
    GeometrySpec& FirstGeometry();
    const GeometrySpec& FirstGeometry() const;
    FrameListSpec& Frames();
    std::vector<ExtensionEntry>& ExtensionEntries();
};

Bytes BuildModel(const ClumpSpec& model);

// ---------------------------------------------------------------------------
// Ready-made models.

// Square pyramid: 5 vertices, 6 triangles, day colours, one uv set, normals,
// one material textured "canonical_tex", Bin Mesh entry.
GeometrySpec MakeCanonicalGeometry();
ClumpSpec MakeCanonicalModel();

// Positions, triangles, one untextured material and a Bin Mesh entry; no
// colours, uvs or normals. The bounding sphere is computed.
GeometrySpec MakeGeometryWithPositions(const std::vector<Vec3>& positions,
                                       const std::vector<Triangle>& triangles);
ClumpSpec MakeModelWithPositions(const std::vector<Vec3>& positions,
                                 const std::vector<Triangle>& triangles);

// An axis-aligned box: 8 vertices, 12 triangles, white day colours, uvs,
// normals, one textured material, Bin Mesh entry.
ClumpSpec MakeBoxModel(Vec3 min = {-1.0f, -1.0f, -1.0f}, Vec3 max = {1.0f, 1.0f, 1.0f});

struct LargeModelOptions {
    bool prelit = true;
    bool uv = true;
    bool normals = true;
    bool binMesh = true;
    bool nightColours = false;
    bool skin = false;
};
// A grid of `vertexCount` positions within +-250 units and `triangleCount`
// triangles over the first 65536 vertices, with patterned colours. Fit for
// the limits: 100000 triangles and 200000 vertices.
ClumpSpec MakeLargeModel(int32_t triangleCount, int32_t vertexCount,
                         const LargeModelOptions& options = {});

// The committed sample: a small house (walls and a gabled roof), frame named
// "house", texture "house_wall", empty clump Extension.
ClumpSpec MakeHouseModel();
// A clump whose Struct counts one atomic per geometry: the frames, the
// geometries, then atomic i drawing geometry i on frame i + 1 (frame 0 is the
// root), and an empty clump Extension.
ClumpSpec MakeMultiAtomicModel(const FrameListSpec& frames, const GeometryListSpec& geometries);
// Two geometries (the canonical one, and one triangle without day colours)
// drawn by two atomics on frames "root" and "door", a light between the
// atomics, and an empty clump Extension.
ClumpSpec MakeTwoGeometryModel();

// ---------------------------------------------------------------------------
// COL3 files.

// Writes the sections in order spheres, boxes, face groups and their count,
// faces, vertices, and fills size, counts, flags and offsets from the lists.
// Throws std::length_error for more than 65535 spheres, boxes or faces.
Bytes EncodeCol3(const Col3File& file);
// A small valid file: name "house", one box, two faces over four vertices.
Col3File MakeSmallCol3();
Bytes MakeCol3File();

// ---------------------------------------------------------------------------
// Files.

bool WriteFile(const std::string& path, const Bytes& bytes);
// Throws std::runtime_error when the file cannot be read.
Bytes ReadFile(const std::string& path);

// ---------------------------------------------------------------------------
// Independent parser.

struct ChunkView {
    uint32_t type = 0;
    uint32_t size = 0;
    uint32_t stamp = 0;
    size_t offset = 0;  // of the header, within the bytes that were split
    Bytes payload;
    Bytes Encoded() const;  // header and payload again
};

// Splits `data` into consecutive chunks that must fill it exactly, each
// declared size within the bytes that remain.
bool SplitChunks(const Bytes& data, std::vector<ChunkView>* out, std::string* whyNot = nullptr);

struct ClumpView {
    bool hasUvAnimDictionary = false;
    ChunkView clump;
    std::vector<ChunkView> children;
    size_t trailingBytes = 0;
    const ChunkView* Find(uint32_t type, size_t nth = 0) const;
    std::vector<uint32_t> ChildTypes() const;
};

// An optional leading 0x2B chunk, then a Clump whose children tile its payload.
bool ParseClump(const Bytes& file, ClumpView* out, std::string* whyNot = nullptr);

struct TextureView {
    uint32_t textureWord = 0;
    std::string name;  // up to the first zero byte
    std::string maskName;
    uint32_t closingType = 0;
};

struct MaterialView {
    std::array<uint32_t, 7> words{};
    std::vector<TextureView> textures;
    std::vector<ChunkView> extensions;
};

// A Material List chunk (payload view) into its materials: Struct (count and
// one word per material), then that many Material chunks, each a 28-byte
// Struct, word 3 Texture chunks and an Extension of well-formed entries.
bool ParseMaterialList(const ChunkView& list, std::vector<MaterialView>* out,
                       std::string* whyNot = nullptr);

struct ViewOptions {
    // Read (low byte of formatHigh) texture coordinate sets instead of one.
    bool uvSetsFromFormatHigh = false;
    // When false, a material list or extension entries that do not parse leave
    // materialsParsed / entriesParsed false instead of failing the parse.
    bool requireWellFormedMaterials = true;
    bool requireWellFormedEntries = true;
};

struct GeometryView {
    uint32_t geometryCount = 0;  // from the Geometry List's Struct
    uint32_t stamp = 0;          // of the Geometry chunk
    uint32_t structSize = 0;
    uint16_t formatFlags = 0;
    uint16_t formatHigh = 0;
    int32_t triangleCount = 0;
    int32_t vertexCount = 0;
    uint32_t morphTargetCount = 0;
    bool hasLightingBlock = false;
    std::array<float, 3> lighting{};
    std::vector<Rgba> prelit;
    std::vector<std::vector<Uv>> uvSets;
    std::vector<Triangle> triangles;
    Sphere sphere;
    uint32_t hasPositions = 0;
    uint32_t hasNormals = 0;
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;

    Bytes materialListChunk;  // header and payload as in the file
    bool materialsParsed = false;
    uint32_t materialCount = 0;
    std::vector<MaterialView> materials;

    ChunkView extension;
    bool entriesParsed = false;
    std::vector<ChunkView> extensionEntries;
    std::vector<ChunkView> extraChunks;  // after the Extension, inside the Geometry

    const ChunkView* FindEntry(uint32_t type, size_t nth = 0) const;
};

// The first geometry of a model file. The Struct body must fill the Struct's
// declared size exactly, with the lighting block when the Geometry chunk's
// stamp has an upper half below 0x1000; the Geometry chunk must hold a Struct,
// a Material List and an Extension in that order.
bool ParseFirstGeometry(const Bytes& file, GeometryView* out, std::string* whyNot = nullptr,
                        const ViewOptions& options = {});
bool ParseGeometryChunk(const ChunkView& geometry, GeometryView* out, std::string* whyNot = nullptr,
                        const ViewOptions& options = {});

// A Night Colours payload holding exactly `vertexCount` colours.
bool DecodeNightColours(const Bytes& payload, uint32_t vertexCount, std::vector<Rgba>* colours,
                        uint32_t* leadingWord = nullptr);
// A Bin Mesh payload whose meshes fill it exactly.
bool DecodeBinMesh(const Bytes& payload, uint32_t* flags, std::vector<BinMeshSpec>* meshes,
                   uint32_t* indexTotal = nullptr);

}  // namespace brennix::test
