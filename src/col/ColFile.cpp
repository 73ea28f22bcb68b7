#include "col/ColFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "stream/Endian.h"

namespace brennix {

namespace {

constexpr size_t kCommonBytes = 32;  // tag, size, name, model id
constexpr size_t kV1HeaderBytes = 72;
constexpr size_t kV2HeaderBytes = 108;
constexpr size_t kV3HeaderBytes = 120;
constexpr size_t kV4HeaderBytes = 124;

constexpr size_t kV1SphereBytes = 20;
constexpr size_t kV1LineBytes = 24;
constexpr size_t kV1BoxBytes = 28;
constexpr size_t kV1VertexBytes = 12;
constexpr size_t kV1FaceBytes = 16;

constexpr size_t kSphereBytes = 20;
constexpr size_t kBoxBytes = 28;
constexpr size_t kLineBytes = 24;
constexpr size_t kVertexBytes = 6;
constexpr size_t kFaceBytes = 8;
constexpr size_t kFaceGroupBytes = 28;

constexpr uint32_t kFlagNotEmpty = 2;
constexpr uint32_t kFlagFaceGroups = 8;
constexpr uint32_t kFlagShadowMesh = 16;
constexpr uint32_t kComputedFlags = kFlagNotEmpty | kFlagFaceGroups | kFlagShadowMesh;

int VersionOfTag(const uint8_t* p) {
    if (std::memcmp(p, "COLL", 4) == 0)
        return 1;
    if (std::memcmp(p, "COL2", 4) == 0)
        return 2;
    if (std::memcmp(p, "COL3", 4) == 0)
        return 3;
    if (std::memcmp(p, "COL4", 4) == 0)
        return 4;
    return 0;
}

size_t HeaderBytes(int version) {
    switch (version) {
        case 1:
            return kV1HeaderBytes;
        case 2:
            return kV2HeaderBytes;
        case 3:
            return kV3HeaderBytes;
        default:
            return kV4HeaderBytes;
    }
}

float F32(const uint8_t* p) {
    float value;
    LoadF32(p, &value);
    return value;
}

void LoadVec3(const uint8_t* p, float out[3]) {
    for (int k = 0; k < 3; ++k)
        LoadF32(p + 4 * k, &out[k]);
}

void StoreVec3(uint8_t* p, const float v[3]) {
    for (int k = 0; k < 3; ++k)
        StoreF32(p + 4 * k, v[k]);
}

ColFileSurface LoadSurface(const uint8_t* p) {
    return {p[0], p[1], p[2], p[3]};
}

void StoreSurface(uint8_t* p, const ColFileSurface& s) {
    p[0] = s.material;
    p[1] = s.flag;
    p[2] = s.brightness;
    p[3] = s.light;
}

// ---------------------------------------------------------------------------
// Records: each layout is written once, as the fields at their byte offsets,
// and walked by a loader to read or by a storer to write. Version 1 keeps a
// sphere's radius first, and faces of 32-bit indices with a whole surface;
// later versions the radius last, and 8-byte faces with the material and the
// light only. Boxes and lines are alike in every version.

struct FieldLoader {
    const uint8_t* p;
    void F32(size_t at, float& v) const { LoadF32(p + at, &v); }
    void Vec3(size_t at, float* v) const { LoadVec3(p + at, v); }
    void Surface(size_t at, ColFileSurface& s) const { s = LoadSurface(p + at); }
    void U8(size_t at, uint8_t& v) const { v = p[at]; }
    template <typename T>
    void U16(size_t at, T& v) const {
        v = LoadU16(p + at);
    }
    void U32(size_t at, uint32_t& v) const { v = LoadU32(p + at); }
};

struct FieldStorer {
    uint8_t* p;
    void F32(size_t at, float v) const { StoreF32(p + at, v); }
    void Vec3(size_t at, const float* v) const { StoreVec3(p + at, v); }
    void Surface(size_t at, const ColFileSurface& s) const { StoreSurface(p + at, s); }
    void U8(size_t at, uint8_t v) const { p[at] = v; }
    // Indices are checked to fit before anything is written.
    void U16(size_t at, uint32_t v) const { StoreU16(p + at, static_cast<uint16_t>(v)); }
    void U32(size_t at, uint32_t v) const { StoreU32(p + at, v); }
};

// Each codec: the record's size, and Fields(io, record), where the record is
// const when storing.
struct V1SphereCodec {
    static constexpr size_t kBytes = kV1SphereBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& s) {
        io.F32(0, s.radius);
        io.Vec3(4, s.centre);
        io.Surface(16, s.surface);
    }
};

struct SphereCodec {
    static constexpr size_t kBytes = kSphereBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& s) {
        io.Vec3(0, s.centre);
        io.F32(12, s.radius);
        io.Surface(16, s.surface);
    }
};

struct BoxCodec {
    static constexpr size_t kBytes = kBoxBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& b) {
        io.Vec3(0, b.min);
        io.Vec3(12, b.max);
        io.Surface(24, b.surface);
    }
};

struct LineCodec {
    static constexpr size_t kBytes = kLineBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& l) {
        io.Vec3(0, l.start);
        io.Vec3(12, l.end);
    }
};

struct V1VertexCodec {
    static constexpr size_t kBytes = kV1VertexBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& v) {
        io.Vec3(0, v.data());
    }
};

struct V1FaceCodec {
    static constexpr size_t kBytes = kV1FaceBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& f) {
        io.U32(0, f.a);
        io.U32(4, f.b);
        io.U32(8, f.c);
        io.Surface(12, f.surface);
    }
};

struct FaceCodec {
    static constexpr size_t kBytes = kFaceBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& f) {
        io.U16(0, f.a);
        io.U16(2, f.b);
        io.U16(4, f.c);
        io.U8(6, f.surface.material);
        io.U8(7, f.surface.light);
    }
};

struct FaceGroupCodec {
    static constexpr size_t kBytes = kFaceGroupBytes;
    template <typename IO, typename R>
    static void Fields(const IO& io, R& g) {
        io.Vec3(0, g.min);
        io.Vec3(12, g.max);
        io.U16(24, g.first);
        io.U16(26, g.last);
    }
};

// `count` records from `p`, which the caller has checked hold them.
template <typename Codec, typename R>
void LoadRecords(const uint8_t* p, size_t count, std::vector<R>* out) {
    out->resize(count);
    for (R& r : *out) {
        Codec::Fields(FieldLoader{p}, r);
        p += Codec::kBytes;
    }
}

// Every record of `records` from `p`, which the caller has sized for them.
template <typename Codec, typename R>
void StoreRecords(uint8_t* p, const std::vector<R>& records) {
    for (const R& r : records) {
        Codec::Fields(FieldStorer{p}, r);
        p += Codec::kBytes;
    }
}

// The largest vertex index the faces name; 0 without faces.
uint32_t TopIndex(const std::vector<ColFileFace>& faces) {
    uint32_t top = 0;
    for (const ColFileFace& f : faces)
        top = std::max({top, f.a, f.b, f.c});
    return top;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The name as it goes into a message: printable ASCII as it is, anything else
// as \xNN, so that a message stays one line.
std::string PrintableName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Scales a coordinate to the 1/128 steps of versions 2 and later, rounding to
// the nearest step. False when the step does not fit 16 bits or the value is
// not a number.
bool QuantizeCoordinate(float value, int16_t* out) {
    const float scaled = std::round(value * 128.0f);
    if (!(scaled >= -32768.0f && scaled <= 32767.0f))
        return false;
    *out = static_cast<int16_t>(scaled);
    return true;
}

float StepsToUnits(int16_t steps) {
    return static_cast<float>(steps) / 128.0f;
}

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameBits3(const float* a, const float* b) {
    return SameBits(a[0], b[0]) && SameBits(a[1], b[1]) && SameBits(a[2], b[2]);
}

// ---------------------------------------------------------------------------
// Reading one entry. `e` is the entry's first byte and `length` its whole
// length, both already checked to lie in the buffer; every read below is
// checked against `length`.

struct EntryReader {
    const uint8_t* e;
    size_t length;
    ColEntry* entry;
    std::string error;
    // The byte ranges of the sections read so far.
    std::vector<std::pair<size_t, size_t>> spans = {};

    bool Fail(std::string message) {
        error = std::move(message);
        return false;
    }

    // A version-1 section: a 32-bit count at `*at` and its records after it.
    bool V1Section(size_t* at, size_t recordBytes, const char* one, const char* many,
                   uint32_t* count, size_t* records) {
        if (length - *at < 4) {
            return Fail(std::string("the entry ends at byte ") + std::to_string(length) +
                        ", before the " + one + " count");
        }
        *count = LoadU32(e + *at);
        *at += 4;
        if (*count > (length - *at) / recordBytes) {
            return Fail(Count(*count, one, many) + " need " +
                        std::to_string(uint64_t{*count} * recordBytes) +
                        " bytes, but the entry has " + std::to_string(length - *at) +
                        " left at byte " + std::to_string(*at));
        }
        *records = *at;
        *at += *count * recordBytes;
        return true;
    }

    // A version-1 count and its records, read into `out`.
    template <typename Codec, typename R>
    bool V1Records(size_t* at, const char* one, const char* many, std::vector<R>* out) {
        uint32_t count = 0;
        size_t records = 0;
        if (!V1Section(at, Codec::kBytes, one, many, &count, &records))
            return false;
        LoadRecords<Codec>(e + records, count, out);
        return true;
    }

    bool ReadVersion1() {
        ColEntry& out = *entry;
        if (length < kV1HeaderBytes) {
            return Fail("the entry is " + std::to_string(length) + " bytes, shorter than the " +
                        std::to_string(kV1HeaderBytes) + "-byte header of version 1");
        }
        out.radius = F32(e + 32);
        LoadVec3(e + 36, out.centre);
        LoadVec3(e + 48, out.boundsMin);
        LoadVec3(e + 60, out.boundsMax);

        size_t at = kV1HeaderBytes;
        if (!V1Records<V1SphereCodec>(&at, "sphere", "spheres", &out.spheres) ||
            !V1Records<LineCodec>(&at, "line", "lines", &out.lines) ||
            !V1Records<BoxCodec>(&at, "box", "boxes", &out.boxes) ||
            !V1Records<V1VertexCodec>(&at, "vertex", "vertices", &out.vertices) ||
            !V1Records<V1FaceCodec>(&at, "face", "faces", &out.faces))
            return false;
        for (size_t i = 0; i < out.faces.size(); ++i) {
            const ColFileFace& f = out.faces[i];
            const uint32_t top = std::max({f.a, f.b, f.c});
            if (top >= out.vertices.size()) {
                return Fail("face " + std::to_string(i) + " names vertex " + std::to_string(top) +
                            ", but the entry holds " +
                            Count(out.vertices.size(), "vertex", "vertices"));
            }
        }
        // Version 1 has no offsets: the sections run one after another, and
        // the last must end where the size field says the entry ends.
        if (at != length) {
            return Fail("the size field says the entry is " + std::to_string(length) +
                        " bytes, but its sections end at byte " + std::to_string(at));
        }
        return true;
    }

    // Where a section of `count` records starting at `offset` (from byte 4)
    // lies; false when it is missing or not wholly inside the entry, after
    // the header.
    bool Locate(uint64_t count, size_t recordBytes, uint32_t offset, const char* one,
                const char* many, size_t headerBytes, size_t* pos) {
        if (offset == 0) {
            return Fail(Count(count, one, many) + ", but no " + one + " offset");
        }
        const uint64_t start = uint64_t{offset} + 4;
        if (start < headerBytes) {
            return Fail(std::string("the ") + one + " section starts at byte " +
                        std::to_string(start) + ", inside the " + std::to_string(headerBytes) +
                        "-byte header");
        }
        if (start > length || count > (length - start) / recordBytes) {
            return Fail(Count(count, one, many) + " at byte " + std::to_string(start) +
                        " run past the end of the entry at byte " + std::to_string(length));
        }
        *pos = static_cast<size_t>(start);
        spans.push_back({*pos, *pos + static_cast<size_t>(count) * recordBytes});
        return true;
    }

    // A section of `count` records at `offset`, when there are any: located,
    // its start added to `starts`, and read into `out`. `*pos`, when given,
    // receives its start.
    template <typename Codec, typename R>
    bool Records(uint64_t count, uint32_t offset, const char* one, const char* many,
                 size_t headerBytes, std::vector<size_t>* starts, std::vector<R>* out,
                 size_t* pos = nullptr) {
        if (count == 0)
            return true;
        size_t at = 0;
        if (!Locate(count, Codec::kBytes, offset, one, many, headerBytes, &at))
            return false;
        starts->push_back(at);
        LoadRecords<Codec>(e + at, static_cast<size_t>(count), out);
        if (pos != nullptr)
            *pos = at;
        return true;
    }

    // The first section start after `pos`, or the entry's end: where a
    // vertex section, which has no count, must end.
    static size_t NextStart(const std::vector<size_t>& starts, size_t pos, size_t end) {
        size_t next = end;
        for (size_t s : starts) {
            if (s > pos && s < next)
                next = s;
        }
        return next;
    }

    // The vertices that faces naming up to vertex `top` need, from the
    // section at `offset`, which ends at the next section.
    bool ReadVertices(uint32_t offset, uint32_t top, const std::vector<size_t>& starts,
                      size_t headerBytes, const char* what, std::vector<ColFilePoint>* out) {
        const std::string faces = std::string(what) + "faces";
        if (offset == 0) {
            return Fail(faces + " name vertex " + std::to_string(top) + ", but the entry has no " +
                        what + "vertex section");
        }
        const uint64_t start = uint64_t{offset} + 4;
        if (start < headerBytes || start > length) {
            return Fail(std::string("the ") + what + "vertex section starts at byte " +
                        std::to_string(start) + ", outside the entry's " +
                        std::to_string(headerBytes) + " .. " + std::to_string(length));
        }
        const size_t pos = static_cast<size_t>(start);
        const size_t room = (NextStart(starts, pos, length) - pos) / kVertexBytes;
        const uint64_t needed = uint64_t{top} + 1;
        if (needed > room) {
            return Fail(faces + " name vertex " + std::to_string(top) + ", but the " + what +
                        "vertex section holds " + std::to_string(room));
        }
        out->resize(static_cast<size_t>(needed));
        spans.push_back({pos, pos + out->size() * kVertexBytes});
        for (size_t i = 0; i < needed; ++i) {
            const uint8_t* p = e + pos + kVertexBytes * i;
            for (int k = 0; k < 3; ++k)
                (*out)[i][k] = StepsToUnits(static_cast<int16_t>(LoadU16(p + 2 * k)));
        }
        return true;
    }

    bool ReadVersion2Up(int version, std::vector<std::string>* warnings) {
        ColEntry& out = *entry;
        const size_t headerBytes = HeaderBytes(version);
        if (length < headerBytes) {
            return Fail("the entry is " + std::to_string(length) + " bytes, shorter than the " +
                        std::to_string(headerBytes) + "-byte header of version " +
                        std::to_string(version));
        }
        LoadVec3(e + 32, out.boundsMin);
        LoadVec3(e + 44, out.boundsMax);
        LoadVec3(e + 56, out.centre);
        out.radius = F32(e + 68);
        const uint16_t sphereCount = LoadU16(e + 72);
        const uint16_t boxCount = LoadU16(e + 74);
        const uint16_t faceCount = LoadU16(e + 76);
        const uint8_t lineCount = e[78];
        out.flags = LoadU32(e + 80);
        const uint32_t sphereOffset = LoadU32(e + 84);
        const uint32_t boxOffset = LoadU32(e + 88);
        const uint32_t lineOffset = LoadU32(e + 92);
        const uint32_t vertexOffset = LoadU32(e + 96);
        const uint32_t faceOffset = LoadU32(e + 100);
        uint32_t shadowFaceCount = 0, shadowVertexOffset = 0, shadowFaceOffset = 0;
        if (version >= 3) {
            shadowFaceCount = LoadU32(e + 108);
            shadowVertexOffset = LoadU32(e + 112);
            shadowFaceOffset = LoadU32(e + 116);
        }
        if (version >= 4)
            out.version4Field = LoadU32(e + 120);

        // Every section start, for the end of the vertex sections.
        std::vector<size_t> starts;
        size_t facePos = 0;
        if (!Records<SphereCodec>(sphereCount, sphereOffset, "sphere", "spheres", headerBytes,
                                  &starts, &out.spheres) ||
            !Records<BoxCodec>(boxCount, boxOffset, "box", "boxes", headerBytes, &starts,
                               &out.boxes) ||
            !Records<LineCodec>(lineCount, lineOffset, "line", "lines", headerBytes, &starts,
                                &out.lines) ||
            !Records<FaceCodec>(faceCount, faceOffset, "face", "faces", headerBytes, &starts,
                                &out.faces, &facePos))
            return false;
        const uint32_t top = TopIndex(out.faces);
        if (faceCount > 0 && (out.flags & kFlagFaceGroups)) {
            // The group count sits just before the faces, the groups before
            // it.
            if (facePos < headerBytes + 4) {
                return Fail("flag 8 says face groups precede the faces at byte " +
                            std::to_string(facePos) + ", but there is no room for their count");
            }
            const size_t countAt = facePos - 4;
            const uint32_t groups = LoadU32(e + countAt);
            if (groups > (countAt - headerBytes) / kFaceGroupBytes) {
                return Fail(Count(groups, "face group", "face groups") + " need " +
                            std::to_string(uint64_t{groups} * kFaceGroupBytes) +
                            " bytes before byte " + std::to_string(countAt) + ", but only " +
                            std::to_string(countAt - headerBytes) + " follow the header");
            }
            const size_t g = countAt - groups * kFaceGroupBytes;
            starts.push_back(g);
            LoadRecords<FaceGroupCodec>(e + g, groups, &out.faceGroups);
        }
        const bool shadow = version >= 3 && (out.flags & kFlagShadowMesh) && shadowFaceCount > 0;
        if (shadow && !Records<FaceCodec>(shadowFaceCount, shadowFaceOffset, "shadow face",
                                          "shadow faces", headerBytes, &starts, &out.shadowFaces))
            return false;
        const uint32_t shadowTop = TopIndex(out.shadowFaces);
        if (faceCount > 0 && vertexOffset != 0)
            starts.push_back(size_t{vertexOffset} + 4);
        if (shadow && shadowVertexOffset != 0)
            starts.push_back(size_t{shadowVertexOffset} + 4);
        if (faceCount > 0) {
            if (!ReadVertices(vertexOffset, top, starts, headerBytes, "", &out.vertices))
                return false;
        }
        if (shadow) {
            if (!ReadVertices(shadowVertexOffset, shadowTop, starts, headerBytes, "shadow ",
                              &out.shadowVertices))
                return false;
        }

        // Flags that disagree with what the entry holds.
        const bool holdsSomething = sphereCount > 0 || boxCount > 0 || faceCount > 0;
        if ((out.flags & kFlagNotEmpty) && !holdsSomething)
            warnings->push_back(
                "flag 2 (not empty) is set, but the entry has no sphere, box or face");
        if (!(out.flags & kFlagNotEmpty) && holdsSomething)
            warnings->push_back(
                "the entry has spheres, boxes or faces, but flag 2 (not empty) is not set");
        if ((out.flags & kFlagFaceGroups) && faceCount == 0)
            warnings->push_back("flag 8 says there are face groups, but the entry has no faces");
        if ((out.flags & kFlagFaceGroups) && faceCount > 0 && out.faceGroups.empty())
            warnings->push_back("flag 8 says there are face groups, but their count is 0");
        if (!(out.flags & kFlagFaceGroups) && faceCount > 0 &&
            LooksLikeFaceGroups(faceOffset, headerBytes))
            warnings->push_back(
                "face groups precede the faces, but flag 8 is not set: they are not read");
        if (version >= 3) {
            if ((out.flags & kFlagShadowMesh) && shadowFaceCount == 0)
                warnings->push_back("flag 16 says there is a shadow mesh, but it has no faces");
            if (!(out.flags & kFlagShadowMesh) && shadowFaceCount > 0) {
                warnings->push_back("the header counts " +
                                    Count(shadowFaceCount, "shadow face", "shadow faces") +
                                    ", but flag 16 is not set: the shadow mesh is not read");
            }
        }
        return true;
    }

    // Whether the bytes just before the faces hold a plausible face-group
    // count and groups, in a gap no other section claims.
    bool LooksLikeFaceGroups(uint32_t faceOffset, size_t headerBytes) const {
        const size_t facePos = size_t{faceOffset} + 4;
        if (facePos < headerBytes + 4 + kFaceGroupBytes)
            return false;
        const uint32_t groups = LoadU32(e + facePos - 4);
        if (groups == 0 || groups > (facePos - 4 - headerBytes) / kFaceGroupBytes)
            return false;
        const size_t groupStart = facePos - 4 - groups * kFaceGroupBytes;
        for (const auto& [start, end] : spans) {
            if (start < facePos && end > groupStart)
                return false;
        }
        return true;
    }
};

void WarnAboutEntry(const ColEntry& entry, std::vector<std::string>* warnings) {
    if (!entry.nameTerminated)
        warnings->push_back("the name has no terminating zero within its 22 bytes");

    // Bounds: every primitive inside the bounding box, allowing a vertex step
    // and float rounding.
    auto outside = [&](const float* p, float grow, int* axis) {
        for (int k = 0; k < 3; ++k) {
            const float slack = 1.0f / 128 + 1e-5f * std::fabs(p[k]);
            if (!(p[k] - grow >= entry.boundsMin[k] - slack &&
                  p[k] + grow <= entry.boundsMax[k] + slack)) {
                *axis = k;
                return true;
            }
        }
        return false;
    };
    static const char* const kAxis[] = {"x", "y", "z"};
    int axis = 0;
    std::string what;
    for (size_t i = 0; what.empty() && i < entry.spheres.size(); ++i) {
        if (outside(entry.spheres[i].centre, entry.spheres[i].radius, &axis))
            what = "sphere " + std::to_string(i);
    }
    for (size_t i = 0; what.empty() && i < entry.boxes.size(); ++i) {
        if (outside(entry.boxes[i].min, 0, &axis) || outside(entry.boxes[i].max, 0, &axis))
            what = "box " + std::to_string(i);
    }
    for (size_t i = 0; what.empty() && i < entry.vertices.size(); ++i) {
        if (outside(entry.vertices[i].data(), 0, &axis)) {
            what = "vertex " + std::to_string(i) + " (" + kAxis[axis] + " = " +
                   Number(entry.vertices[i][axis]) + ")";
        }
    }
    if (!what.empty()) {
        warnings->push_back("the bounds " + std::string(kAxis[axis]) + " = " +
                            Number(entry.boundsMin[axis]) + " .. " + Number(entry.boundsMax[axis]) +
                            " do not enclose " + what);
    }

    if (entry.version == 1) {
        size_t count = 0, first = 0;
        int firstAxis = 0;
        for (size_t i = 0; i < entry.vertices.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                int16_t steps;
                if (!QuantizeCoordinate(entry.vertices[i][k], &steps)) {
                    if (count == 0) {
                        first = i;
                        firstAxis = k;
                    }
                    ++count;
                    break;
                }
            }
        }
        if (count > 0) {
            warnings->push_back(Count(count, "vertex lies", "vertices lie") +
                                " outside -256 .. 255.99, which versions 2 and 3 cannot hold "
                                "(first: vertex " +
                                std::to_string(first) + ", " + kAxis[firstAxis] + " = " +
                                Number(entry.vertices[first][firstAxis]) + ")");
        }
    }
}

std::string EntryLabel(size_t index, const std::string& name) {
    return "entry " + std::to_string(index + 1) + " \"" + PrintableName(name) + "\": ";
}

void ReadFile(const uint8_t* data, size_t length, ColFile* out) {
    size_t pos = 0;
    size_t walked = 0;
    std::vector<std::string> fileErrors;
    while (pos < length) {
        const size_t remaining = length - pos;
        const uint8_t* e = data + pos;
        const int version = remaining >= 8 ? VersionOfTag(e) : 0;
        if (version == 0) {
            if (walked == 0) {
                fileErrors.push_back(
                    "the file does not start with an entry (a COLL, COL2, COL3 "
                    "or COL4 tag and a size)");
            } else {
                fileErrors.push_back("trailing bytes: the " + std::to_string(remaining) +
                                     " bytes from byte " + std::to_string(pos) +
                                     " after the last entry are not an entry");
            }
            break;
        }
        const size_t index = walked++;
        ColEntry entry;
        entry.version = version;
        entry.offset = pos;
        const size_t nameBytes = std::min<size_t>(22, remaining - 8);
        std::memcpy(entry.nameBytes, e + 8, nameBytes);
        const void* zero = std::memchr(entry.nameBytes, 0, nameBytes);
        entry.nameTerminated = zero != nullptr;
        entry.name.assign(reinterpret_cast<const char*>(entry.nameBytes),
                          zero ? static_cast<const uint8_t*>(zero) - entry.nameBytes : nameBytes);
        const std::string label = EntryLabel(index, entry.name);

        uint64_t entryLength = uint64_t{LoadU32(e + 4)} + 8;
        std::vector<std::string> warnings;
        // Older tools, this program's classic generators among them, count
        // the size from the end of the tag: a last entry 4 bytes short of
        // its size field is read to the end of the file.
        if (entryLength == uint64_t{remaining} + 4 && remaining >= kCommonBytes) {
            warnings.push_back(
                "the size field counts 4 bytes more than the file holds (the "
                "size counts from the end of the tag, as older tools wrote it)");
            entryLength = remaining;
        }
        if (entryLength > remaining) {
            std::string message = label + "the size field says the entry is " +
                                  std::to_string(entryLength) + " bytes, but only " +
                                  std::to_string(remaining) + " remain in the file";
            if (entryLength == uint64_t{remaining} + 4)
                message += " (the size counts from the end of the tag, not of the size field)";
            out->errors.push_back({index, message});
            break;
        }
        entry.length = static_cast<size_t>(entryLength);
        pos += entry.length;
        if (entry.length < kCommonBytes) {
            out->errors.push_back(
                {index, label + "the size field says the entry is " + std::to_string(entry.length) +
                            " bytes, shorter than the 32 bytes every entry starts with"});
            continue;
        }
        entry.modelId = LoadU16(e + 30);

        EntryReader reader{e, entry.length, &entry, {}};
        const bool ok =
            version == 1 ? reader.ReadVersion1() : reader.ReadVersion2Up(version, &warnings);
        if (!ok) {
            out->errors.push_back({index, label + reader.error});
            continue;
        }
        WarnAboutEntry(entry, &warnings);
        for (std::string& w : warnings)
            out->warnings.push_back({index, label + w});
        out->entries.push_back(std::move(entry));
    }
    if (length == 0)
        fileErrors.push_back("the file is empty");
    for (std::string& message : fileErrors)
        out->errors.push_back({walked, std::move(message)});
}

// ---------------------------------------------------------------------------
// Writing.

bool Refuse(std::string* why, std::string message) {
    if (why != nullptr)
        *why = std::move(message);
    return false;
}

// The 22 name bytes to write: as read when the name is unchanged, else the
// name and zeros. False when the name cannot be held.
bool NameField(const ColEntry& entry, uint8_t out[22], std::string* why) {
    const void* zero = std::memchr(entry.nameBytes, 0, 22);
    const size_t stored = zero ? static_cast<const uint8_t*>(zero) - entry.nameBytes : 22;
    if (entry.name.size() == stored &&
        std::memcmp(entry.name.data(), entry.nameBytes, stored) == 0) {
        std::memcpy(out, entry.nameBytes, 22);
        return true;
    }
    if (entry.name.size() > 22) {
        return Refuse(why, "the name \"" + PrintableName(entry.name) + "\" has " +
                               std::to_string(entry.name.size()) +
                               " characters; an entry holds at most 22");
    }
    if (entry.name.find('\0') != std::string::npos)
        return Refuse(why, "the name \"" + PrintableName(entry.name) + "\" holds a zero byte");
    std::memset(out, 0, 22);
    std::memcpy(out, entry.name.data(), entry.name.size());
    return true;
}

bool CheckPoints(const std::vector<ColFilePoint>& points, size_t count, const char* what,
                 int version, std::vector<int16_t>* steps, std::string* why) {
    static const char* const kAxis[] = {"x", "y", "z"};
    steps->resize(3 * count);
    for (size_t i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) {
            if (!QuantizeCoordinate(points[i][k], &(*steps)[3 * i + k])) {
                return Refuse(why, std::string(what) + " " + std::to_string(i) + " has " +
                                       kAxis[k] + " = " + Number(points[i][k]) +
                                       ", outside -256 .. 255.99, which version " +
                                       std::to_string(version) + " cannot hold");
            }
        }
    }
    return true;
}

// The number of vertices faces name (largest index + 1), checked against
// the vertices there are and the 16-bit indices of versions 2 and later.
bool UsedVertices(const std::vector<ColFileFace>& faces, size_t vertexCount, const char* what,
                  int version, size_t* used, std::string* why) {
    uint64_t top = 0;
    for (size_t i = 0; i < faces.size(); ++i) {
        const uint32_t m = std::max({faces[i].a, faces[i].b, faces[i].c});
        if (m >= vertexCount) {
            return Refuse(why, std::string(what) + "face " + std::to_string(i) + " names vertex " +
                                   std::to_string(m) + ", but the entry holds " +
                                   Count(vertexCount, "vertex", "vertices"));
        }
        if (version >= 2 && m > 0xFFFF) {
            return Refuse(why, std::string(what) + "face " + std::to_string(i) + " names vertex " +
                                   std::to_string(m) + "; version " + std::to_string(version) +
                                   " names vertices 0 .. 65535 only");
        }
        top = std::max<uint64_t>(top, uint64_t{m} + 1);
    }
    *used = static_cast<size_t>(top);
    return true;
}

// A version-1 section at byte `at` of `e`: the 32-bit count, then the
// records. Returns where the next section starts.
template <typename Codec, typename R>
size_t StoreV1Section(uint8_t* e, size_t at, const std::vector<R>& records) {
    StoreU32(e + at, static_cast<uint32_t>(records.size()));
    at += 4;
    StoreRecords<Codec>(e + at, records);
    return at + records.size() * Codec::kBytes;
}

bool WriteVersion1(const ColEntry& entry, const uint8_t name[22], std::vector<uint8_t>* out,
                   std::string* why) {
    size_t used = 0;
    if (!UsedVertices(entry.faces, entry.vertices.size(), "", 1, &used, why))
        return false;
    const uint64_t total = kV1HeaderBytes + 20 + entry.spheres.size() * uint64_t{kV1SphereBytes} +
                           entry.lines.size() * uint64_t{kV1LineBytes} +
                           entry.boxes.size() * uint64_t{kV1BoxBytes} +
                           entry.vertices.size() * uint64_t{kV1VertexBytes} +
                           entry.faces.size() * uint64_t{kV1FaceBytes};
    if (total - 8 > UINT32_MAX)
        return Refuse(why, "the entry would be " + std::to_string(total) +
                               " bytes; the size field holds at most 4 GiB");
    out->assign(static_cast<size_t>(total), 0);
    uint8_t* e = out->data();
    std::memcpy(e, "COLL", 4);
    StoreU32(e + 4, static_cast<uint32_t>(total - 8));
    std::memcpy(e + 8, name, 22);
    StoreU16(e + 30, entry.modelId);
    StoreF32(e + 32, entry.radius);
    StoreVec3(e + 36, entry.centre);
    StoreVec3(e + 48, entry.boundsMin);
    StoreVec3(e + 60, entry.boundsMax);
    size_t at = kV1HeaderBytes;
    at = StoreV1Section<V1SphereCodec>(e, at, entry.spheres);
    at = StoreV1Section<LineCodec>(e, at, entry.lines);
    at = StoreV1Section<BoxCodec>(e, at, entry.boxes);
    at = StoreV1Section<V1VertexCodec>(e, at, entry.vertices);
    StoreV1Section<V1FaceCodec>(e, at, entry.faces);
    return true;
}

size_t Padded4(size_t n) {
    return (n + 3) & ~size_t{3};
}

void StoreSteps(uint8_t* p, const std::vector<int16_t>& steps) {
    for (size_t i = 0; i < steps.size(); ++i)
        StoreU16(p + 2 * i, static_cast<uint16_t>(steps[i]));
}

bool WriteVersion2Or3(const ColEntry& entry, int version, const uint8_t name[22],
                      std::vector<uint8_t>* out, std::string* why) {
    const std::string v = "version " + std::to_string(version);
    auto tooMany = [&](size_t n, const char* what, size_t limit) {
        return Refuse(why, std::to_string(n) + " " + what + "; " + v + " holds at most " +
                               std::to_string(limit));
    };
    if (entry.spheres.size() > 0xFFFF)
        return tooMany(entry.spheres.size(), "spheres", 0xFFFF);
    if (entry.boxes.size() > 0xFFFF)
        return tooMany(entry.boxes.size(), "boxes", 0xFFFF);
    if (entry.faces.size() > 0xFFFF)
        return tooMany(entry.faces.size(), "faces", 0xFFFF);
    if (entry.lines.size() > 0xFF)
        return tooMany(entry.lines.size(), "lines", 0xFF);
    const bool shadow = version >= 3 && !entry.shadowFaces.empty();
    if (shadow && entry.shadowFaces.size() > 0xFFFF)
        return tooMany(entry.shadowFaces.size(), "shadow faces", 0xFFFF);
    // Face groups sit before the faces: without faces there is nowhere to put them.
    const bool groups = !entry.faces.empty() && !entry.faceGroups.empty();
    if (groups && entry.faceGroups.size() > 0xFFFF)
        return tooMany(entry.faceGroups.size(), "face groups", 0xFFFF);

    size_t used = 0, shadowUsed = 0;
    if (!UsedVertices(entry.faces, entry.vertices.size(), "", version, &used, why))
        return false;
    if (shadow && !UsedVertices(entry.shadowFaces, entry.shadowVertices.size(), "shadow ", version,
                                &shadowUsed, why))
        return false;
    std::vector<int16_t> steps, shadowSteps;
    if (!CheckPoints(entry.vertices, used, "vertex", version, &steps, why) ||
        !CheckPoints(entry.shadowVertices, shadowUsed, "shadow vertex", version, &shadowSteps, why))
        return false;

    // Header, spheres, boxes, lines, vertices (to 4 bytes), face groups and
    // their count, faces, shadow vertices (to 4 bytes), shadow faces.
    const size_t headerBytes = version == 2 ? kV2HeaderBytes : kV3HeaderBytes;
    size_t at = headerBytes;
    const size_t spherePos = at;
    at += entry.spheres.size() * kSphereBytes;
    const size_t boxPos = at;
    at += entry.boxes.size() * kBoxBytes;
    const size_t linePos = at;
    at += entry.lines.size() * kLineBytes;
    const size_t vertexPos = at;
    at = Padded4(at + used * kVertexBytes);
    const size_t groupPos = at;
    if (groups)
        at += entry.faceGroups.size() * kFaceGroupBytes + 4;
    const size_t facePos = at;
    at += entry.faces.size() * kFaceBytes;
    const size_t shadowVertexPos = at;
    if (shadow)
        at = Padded4(at + shadowUsed * kVertexBytes);
    const size_t shadowFacePos = at;
    if (shadow)
        at += entry.shadowFaces.size() * kFaceBytes;
    const size_t total = at;  // at most a few megabytes: the counts are bounded above

    out->assign(total, 0);
    uint8_t* e = out->data();
    std::memcpy(e, version == 2 ? "COL2" : "COL3", 4);
    StoreU32(e + 4, static_cast<uint32_t>(total - 8));
    std::memcpy(e + 8, name, 22);
    StoreU16(e + 30, entry.modelId);
    StoreVec3(e + 32, entry.boundsMin);
    StoreVec3(e + 44, entry.boundsMax);
    StoreVec3(e + 56, entry.centre);
    StoreF32(e + 68, entry.radius);
    StoreU16(e + 72, static_cast<uint16_t>(entry.spheres.size()));
    StoreU16(e + 74, static_cast<uint16_t>(entry.boxes.size()));
    StoreU16(e + 76, static_cast<uint16_t>(entry.faces.size()));
    e[78] = static_cast<uint8_t>(entry.lines.size());
    uint32_t flags = entry.flags & ~kComputedFlags;
    if (!entry.spheres.empty() || !entry.boxes.empty() || !entry.faces.empty())
        flags |= kFlagNotEmpty;
    if (groups)
        flags |= kFlagFaceGroups;
    if (shadow)
        flags |= kFlagShadowMesh;
    StoreU32(e + 80, flags);
    auto offset = [](bool present, size_t pos) {
        return present ? static_cast<uint32_t>(pos - 4) : 0u;
    };
    StoreU32(e + 84, offset(!entry.spheres.empty(), spherePos));
    StoreU32(e + 88, offset(!entry.boxes.empty(), boxPos));
    StoreU32(e + 92, offset(!entry.lines.empty(), linePos));
    StoreU32(e + 96, offset(used > 0, vertexPos));
    StoreU32(e + 100, offset(!entry.faces.empty(), facePos));
    if (version >= 3) {
        StoreU32(e + 108, shadow ? static_cast<uint32_t>(entry.shadowFaces.size()) : 0);
        StoreU32(e + 112, offset(shadow && shadowUsed > 0, shadowVertexPos));
        StoreU32(e + 116, offset(shadow, shadowFacePos));
    }

    StoreRecords<SphereCodec>(e + spherePos, entry.spheres);
    StoreRecords<BoxCodec>(e + boxPos, entry.boxes);
    StoreRecords<LineCodec>(e + linePos, entry.lines);
    StoreSteps(e + vertexPos, steps);
    if (groups) {
        StoreRecords<FaceGroupCodec>(e + groupPos, entry.faceGroups);
        StoreU32(e + groupPos + entry.faceGroups.size() * kFaceGroupBytes,
                 static_cast<uint32_t>(entry.faceGroups.size()));
    }
    StoreRecords<FaceCodec>(e + facePos, entry.faces);
    if (shadow) {
        StoreSteps(e + shadowVertexPos, shadowSteps);
        StoreRecords<FaceCodec>(e + shadowFacePos, entry.shadowFaces);
    }
    return true;
}

}  // namespace

bool ReadColFile(const uint8_t* data, size_t length, ColFile* out) {
    *out = ColFile();
    if (data == nullptr)
        length = 0;
    try {
        ReadFile(data, length, out);
    } catch (const std::bad_alloc&) {
        out->errors.push_back({out->entries.size(), "out of memory"});
    }
    return !out->entries.empty() && out->errors.empty();
}

bool WriteColEntry(const ColEntry& entry, int version, std::vector<uint8_t>* out,
                   std::string* why) {
    out->clear();
    if (version < 1 || version > 3)
        return Refuse(why, "version " + std::to_string(version) + " cannot be written");
    try {
        uint8_t name[22];
        if (!NameField(entry, name, why))
            return false;
        const bool ok = version == 1 ? WriteVersion1(entry, name, out, why)
                                     : WriteVersion2Or3(entry, version, name, out, why);
        if (!ok)
            out->clear();
        return ok;
    } catch (const std::bad_alloc&) {
        out->clear();
        return Refuse(why, "out of memory");
    }
}

namespace {

struct RecordComparer {
    std::string* difference;

    bool Differ(const std::string& what) {
        if (difference != nullptr)
            *difference = what;
        return false;
    }

    template <typename T, typename Same>
    bool List(const char* what, const std::vector<T>& a, size_t count, const std::vector<T>& b,
              Same same) {
        if (b.size() != count) {
            return Differ(std::to_string(count) + " " + what + " written, " +
                          std::to_string(b.size()) + " read back");
        }
        for (size_t i = 0; i < count; ++i) {
            if (!same(a[i], b[i]))
                return Differ(std::string(what) + " " + std::to_string(i) + " differs");
        }
        return true;
    }
};

bool SamePoint(const ColFilePoint& a, const ColFilePoint& b) {
    return SameBits3(a.data(), b.data());
}

bool SameQuantizedPoint(const ColFilePoint& a, const ColFilePoint& b) {
    for (int k = 0; k < 3; ++k) {
        int16_t steps;
        if (!QuantizeCoordinate(a[k], &steps) || !SameBits(StepsToUnits(steps), b[k]))
            return false;
    }
    return true;
}

size_t NamedVertices(const std::vector<ColFileFace>& faces) {
    size_t used = 0;
    for (const ColFileFace& f : faces)
        used = std::max<size_t>(used, size_t{std::max({f.a, f.b, f.c})} + 1);
    return used;
}

}  // namespace

bool SameColRecords(const ColEntry& written, const ColEntry& readBack, int version,
                    std::string* difference) {
    RecordComparer c{difference};
    if (readBack.version != version)
        return c.Differ("version " + std::to_string(readBack.version) + " read back");
    if (readBack.name != written.name)
        return c.Differ("the name differs");
    if (readBack.modelId != written.modelId)
        return c.Differ("the model id differs");
    if (!SameBits3(written.boundsMin, readBack.boundsMin) ||
        !SameBits3(written.boundsMax, readBack.boundsMax) ||
        !SameBits3(written.centre, readBack.centre) || !SameBits(written.radius, readBack.radius))
        return c.Differ("the bounds differ");
    if (version >= 2 && (written.flags & ~kComputedFlags) != (readBack.flags & ~kComputedFlags))
        return c.Differ("the flags differ");
    const bool wholeSurface = version == 1;
    auto sameSurface = [wholeSurface](const ColFileSurface& a, const ColFileSurface& b) {
        if (wholeSurface)
            return a.material == b.material && a.flag == b.flag && a.brightness == b.brightness &&
                   a.light == b.light;
        return a.material == b.material && b.flag == 0 && b.brightness == 0 && a.light == b.light;
    };
    auto sameFace = [&](const ColFileFace& a, const ColFileFace& b) {
        return a.a == b.a && a.b == b.b && a.c == b.c && sameSurface(a.surface, b.surface);
    };
    auto sameSphere = [](const ColFileSphere& a, const ColFileSphere& b) {
        return SameBits3(a.centre, b.centre) && SameBits(a.radius, b.radius) &&
               std::memcmp(&a.surface, &b.surface, sizeof a.surface) == 0;
    };
    auto sameBox = [](const ColFileBox& a, const ColFileBox& b) {
        return SameBits3(a.min, b.min) && SameBits3(a.max, b.max) &&
               std::memcmp(&a.surface, &b.surface, sizeof a.surface) == 0;
    };
    auto sameLine = [](const ColFileLine& a, const ColFileLine& b) {
        return SameBits3(a.start, b.start) && SameBits3(a.end, b.end);
    };
    auto sameGroup = [](const ColFileFaceGroup& a, const ColFileFaceGroup& b) {
        return SameBits3(a.min, b.min) && SameBits3(a.max, b.max) && a.first == b.first &&
               a.last == b.last;
    };
    if (!c.List("spheres", written.spheres, written.spheres.size(), readBack.spheres, sameSphere) ||
        !c.List("boxes", written.boxes, written.boxes.size(), readBack.boxes, sameBox) ||
        !c.List("lines", written.lines, written.lines.size(), readBack.lines, sameLine) ||
        !c.List("faces", written.faces, written.faces.size(), readBack.faces, sameFace))
        return false;
    if (version == 1)
        return c.List("vertices", written.vertices, written.vertices.size(), readBack.vertices,
                      SamePoint) &&
               c.List("face groups", written.faceGroups, 0, readBack.faceGroups, sameGroup) &&
               c.List("shadow faces", written.shadowFaces, 0, readBack.shadowFaces, sameFace);
    const size_t used = std::min(NamedVertices(written.faces), written.vertices.size());
    const size_t groups = written.faces.empty() ? 0 : written.faceGroups.size();
    if (!c.List("vertices", written.vertices, used, readBack.vertices, SameQuantizedPoint) ||
        !c.List("face groups", written.faceGroups, groups, readBack.faceGroups, sameGroup))
        return false;
    const size_t shadowFaces = version >= 3 ? written.shadowFaces.size() : 0;
    const size_t shadowUsed = shadowFaces > 0 ? std::min(NamedVertices(written.shadowFaces),
                                                         written.shadowVertices.size())
                                              : 0;
    return c.List("shadow faces", written.shadowFaces, shadowFaces, readBack.shadowFaces,
                  sameFace) &&
           c.List("shadow vertices", written.shadowVertices, shadowUsed, readBack.shadowVertices,
                  SameQuantizedPoint);
}

}  // namespace brennix
