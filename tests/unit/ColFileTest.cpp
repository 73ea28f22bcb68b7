#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "col/ColFile.h"
#include "stream/Endian.h"
#include "support/Col3Reader.h"
#include "support/ColBuilder.h"
#include "support/ModelBuilder.h"

namespace brennix {
namespace {

namespace test = brennix::test;
using test::PatchU16;
using test::PatchU32;

using Bytes = std::vector<uint8_t>;

// Builds ColEntry values: a few of each record, vertices on the 1/128 grid so
// that every version holds them exactly.
class EntryBuilder {
public:
    explicit EntryBuilder(const std::string& name = "gate") {
        SetName(name);
        for (int k = 0; k < 3; ++k) {
            entry_.boundsMin[k] = -10;
            entry_.boundsMax[k] = 10;
        }
        entry_.radius = 17.5f;
    }
    EntryBuilder& SetName(const std::string& name) {
        entry_.name = name;
        std::memset(entry_.nameBytes, 0, sizeof entry_.nameBytes);
        std::memcpy(entry_.nameBytes, name.data(), std::min<size_t>(name.size(), 22));
        entry_.nameTerminated = name.size() < 22;
        return *this;
    }
    EntryBuilder& Sphere(float x, float y, float z, float r, uint8_t material = 3) {
        ColFileSphere s;
        s.centre[0] = x, s.centre[1] = y, s.centre[2] = z;
        s.radius = r;
        s.surface = {material, 1, 2, 4};
        entry_.spheres.push_back(s);
        return *this;
    }
    EntryBuilder& Box(float lo, float hi, uint8_t material = 5) {
        ColFileBox b;
        for (int k = 0; k < 3; ++k)
            b.min[k] = lo, b.max[k] = hi;
        b.surface = {material, 6, 7, 8};
        entry_.boxes.push_back(b);
        return *this;
    }
    EntryBuilder& Line() {
        ColFileLine l;
        l.end[1] = 2.5f;
        entry_.lines.push_back(l);
        return *this;
    }
    // A fan of `count` faces over count + 2 vertices.
    EntryBuilder& Mesh(uint32_t count, bool shadow = false) {
        auto& vertices = shadow ? entry_.shadowVertices : entry_.vertices;
        auto& faces = shadow ? entry_.shadowFaces : entry_.faces;
        for (uint32_t i = 0; i < count + 2; ++i)
            vertices.push_back({i / 128.0f, -static_cast<float>(i % 7) * 1.5f, 9.0f - i / 64.0f});
        for (uint32_t i = 0; i < count; ++i) {
            ColFileFace f;
            f.a = 0, f.b = i + 1, f.c = i + 2;
            f.surface.material = static_cast<uint8_t>(i + 10);
            f.surface.light = static_cast<uint8_t>(200 - i);
            faces.push_back(f);
        }
        return *this;
    }
    EntryBuilder& FaceGroup(uint16_t first, uint16_t last) {
        ColFileFaceGroup g;
        g.min[0] = -1, g.max[0] = 1;
        g.first = first, g.last = last;
        entry_.faceGroups.push_back(g);
        return *this;
    }
    EntryBuilder& Flags(uint32_t flags) {
        entry_.flags = flags;
        return *this;
    }
    // Version 1 keeps a whole surface with each face.
    EntryBuilder& WholeFaceSurfaces() {
        for (ColFileFace& f : entry_.faces)
            f.surface.flag = 1, f.surface.brightness = 99;
        return *this;
    }
    ColEntry Build() const { return entry_; }

private:
    ColEntry entry_;
};

ColEntry FullEntry() {
    return EntryBuilder("gate")
        .Sphere(1, 2, 3, 1.5f)
        .Sphere(-2, 0, 0, 0.25f, 9)
        .Box(-3, 3)
        .Mesh(5)
        .FaceGroup(0, 2)
        .FaceGroup(3, 4)
        .Mesh(3, true)
        .Flags(1)
        .Build();
}

Bytes Write(const ColEntry& entry, int version) {
    Bytes out;
    std::string why;
    EXPECT_TRUE(WriteColEntry(entry, version, &out, &why)) << why;
    return out;
}

ColFile Read(const Bytes& bytes) {
    ColFile file;
    ReadColFile(bytes.data(), bytes.size(), &file);
    return file;
}

// The one entry of `bytes`, read without an error.
ColEntry ReadOne(const Bytes& bytes) {
    ColFile file;
    EXPECT_TRUE(ReadColFile(bytes.data(), bytes.size(), &file));
    for (const ColFileProblem& p : file.errors)
        ADD_FAILURE() << p.message;
    EXPECT_EQ(file.entries.size(), 1u);
    return file.entries.empty() ? ColEntry() : file.entries[0];
}

std::string Joined(const std::vector<ColFileProblem>& problems) {
    std::string all;
    for (const ColFileProblem& p : problems)
        all += p.message + "\n";
    return all;
}

TEST(ColFileTest, EveryVersionReadsBackWhatItWrote) {
    struct Case {
        const char* what;
        ColEntry entry;
        int version;
    };
    const Case cases[] = {
        {"full, version 3", FullEntry(), 3},
        {"full, version 2", FullEntry(), 2},
        {"full, version 1", EntryBuilder().Box(-1, 1).Line().Mesh(4).WholeFaceSurfaces().Build(),
         1},
        {"empty, version 3", EntryBuilder("nothing").Build(), 3},
        {"empty, version 1", EntryBuilder("nothing").Build(), 1},
        {"spheres only", EntryBuilder().Sphere(0, 0, 0, 2).Build(), 2},
        {"lines", EntryBuilder().Line().Line().Build(), 3},
        {"shadow mesh only", EntryBuilder().Mesh(2, true).Build(), 3},
        {"22-character name", EntryBuilder("abcdefghijklmnopqrstuv").Build(), 3},
        {"extreme vertices",
         [] {
             ColEntry e = EntryBuilder().Mesh(1).Build();
             e.vertices[0] = {-256.0f, 255.9921875f, 0};
             for (int k = 0; k < 3; ++k)
                 e.boundsMin[k] = -256, e.boundsMax[k] = 256;
             return e;
         }(),
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bytes = Write(c.entry, c.version);
        const ColEntry back = ReadOne(bytes);
        std::string difference;
        EXPECT_TRUE(SameColRecords(c.entry, back, c.version, &difference)) << difference;
        EXPECT_EQ(back.length, bytes.size());
        EXPECT_EQ(LoadU32(bytes.data() + test::kColSizeAt), bytes.size() - 8);
        // Written again in the same version, the bytes are the same.
        EXPECT_EQ(Write(back, c.version), bytes);
    }
}

TEST(ColFileTest, FlagsFollowTheContentsAndKeepOtherBits) {
    struct Case {
        const char* what;
        ColEntry entry;
        int version;
        uint32_t flags;
    };
    const Case cases[] = {
        {"nothing", EntryBuilder().Flags(2 | 8 | 16).Build(), 3, 0},
        {"vehicle bit kept", EntryBuilder().Flags(1).Build(), 3, 1},
        {"box", EntryBuilder().Box(0, 1).Build(), 3, 2},
        {"groups", EntryBuilder().Mesh(2).FaceGroup(0, 1).Build(), 3, 2 | 8},
        {"groups without faces are not written", EntryBuilder().FaceGroup(0, 1).Build(), 3, 0},
        {"shadow", EntryBuilder().Mesh(1, true).Build(), 3, 16},
        {"no shadow in version 2", EntryBuilder().Mesh(1, true).Flags(16).Build(), 2, 0},
        {"all", FullEntry(), 3, 1 | 2 | 8 | 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bytes = Write(c.entry, c.version);
        EXPECT_EQ(LoadU32(bytes.data() + test::kColFlagsAt), c.flags);
    }
}

TEST(ColFileTest, ConversionsKeepWhatTheTargetVersionCarries) {
    const ColEntry full = FullEntry();

    const ColEntry v2 = ReadOne(Write(full, 2));
    EXPECT_EQ(v2.version, 2);
    EXPECT_TRUE(v2.shadowFaces.empty());
    EXPECT_TRUE(v2.shadowVertices.empty());
    ColEntry expected = full;
    expected.shadowFaces.clear();
    expected.shadowVertices.clear();
    std::string difference;
    const ColEntry v3 = ReadOne(Write(v2, 3));
    EXPECT_TRUE(SameColRecords(expected, v3, 3, &difference)) << difference;

    const ColEntry v1 = ReadOne(Write(full, 1));
    EXPECT_EQ(v1.version, 1);
    EXPECT_TRUE(v1.faceGroups.empty());
    const ColEntry back = ReadOne(Write(v1, 3));
    EXPECT_EQ(back.spheres.size(), full.spheres.size());
    EXPECT_EQ(back.boxes.size(), full.boxes.size());
    ASSERT_EQ(back.faces.size(), full.faces.size());
    for (size_t i = 0; i < full.faces.size(); ++i) {
        EXPECT_EQ(back.faces[i].a, full.faces[i].a);
        EXPECT_EQ(back.faces[i].c, full.faces[i].c);
        EXPECT_EQ(back.faces[i].surface.material, full.faces[i].surface.material);
        EXPECT_EQ(back.faces[i].surface.light, full.faces[i].surface.light);
    }
    EXPECT_EQ(back.vertices, full.vertices);
}

TEST(ColFileTest, VersionOneVerticesRoundToTheNearestStep) {
    ColEntry e = EntryBuilder().Mesh(1).Build();
    e.vertices[0] = {0.3f, -0.3f, 1.0f / 256 + 1e-4f};
    const ColEntry back = ReadOne(Write(e, 3));
    EXPECT_EQ(back.vertices[0], (ColFilePoint{38 / 128.0f, -38 / 128.0f, 1 / 128.0f}));
}

TEST(ColFileTest, RefusesWhatTheVersionCannotHold) {
    struct Case {
        const char* what;
        ColEntry entry;
        int version;
        const char* why;
    };
    auto farVertex = [] {
        ColEntry e = EntryBuilder().Mesh(12).Build();
        e.vertices[12][0] = 300;
        return e;
    };
    auto manyFaces = [] {
        ColEntry e = EntryBuilder().Mesh(1).Build();
        e.faces.resize(70000, e.faces[0]);
        return e;
    };
    auto badIndex = [] {
        ColEntry e = EntryBuilder().Mesh(2).Build();
        e.faces[1].c = 40;
        return e;
    };
    auto nanVertex = [] {
        ColEntry e = EntryBuilder().Mesh(1).Build();
        e.vertices[2][1] = std::nanf("");
        return e;
    };
    const Case cases[] = {
        {"vertex x beyond 256", farVertex(), 3,
         "vertex 12 has x = 300, outside -256 .. 255.99, which version 3 cannot hold"},
        {"vertex not a number", nanVertex(), 2, "vertex 2 has y = nan, outside -256 .. 255.99"},
        {"too many faces", manyFaces(), 2, "70000 faces; version 2 holds at most 65535"},
        {"too many spheres",
         [] {
             ColEntry e = EntryBuilder().Build();
             e.spheres.resize(65536);
             return e;
         }(),
         3, "65536 spheres; version 3 holds at most 65535"},
        {"too many lines",
         [] {
             ColEntry e = EntryBuilder().Build();
             e.lines.resize(256);
             return e;
         }(),
         3, "256 lines; version 3 holds at most 255"},
        {"face beyond the vertices", badIndex(), 1,
         "face 1 names vertex 40, but the entry holds 4 vertices"},
        {"name too long", EntryBuilder("abcdefghijklmnopqrstuvw").Build(), 3,
         "has 23 characters; an entry holds at most 22"},
        {"version 4", EntryBuilder().Build(), 4, "version 4 cannot be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out{1, 2, 3};
        std::string why;
        EXPECT_FALSE(WriteColEntry(c.entry, c.version, &out, &why));
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        EXPECT_TRUE(out.empty());
    }
    // A far vertex that no face names is not written, so it is no reason to refuse.
    ColEntry unused = EntryBuilder().Mesh(1).Build();
    unused.vertices.push_back({1000, 0, 0});
    Bytes out;
    EXPECT_TRUE(WriteColEntry(unused, 3, &out, nullptr));
}

// Damage applied to the bytes of FullEntry() written in `version`.
struct Damage {
    const char* what;
    int version;
    void (*apply)(Bytes&);
    const char* message;  // in an error, or in a warning when `warning`
    bool warning = false;
};

TEST(ColFileTest, ReportsEachKindOfDamage) {
    const Damage cases[] = {
        {"size past the file", 3,
         [](Bytes& b) { PatchU32(b, test::kColSizeAt, static_cast<uint32_t>(b.size())); },
         "entry 1 \"gate\": the size field says the entry is"},
        {"classic size", 3,
         [](Bytes& b) { PatchU32(b, test::kColSizeAt, static_cast<uint32_t>(b.size() - 4)); },
         "counts from the end of the tag", true},
        {"size below the header", 3,
         [](Bytes& b) {
             PatchU32(b, test::kColSizeAt, 100);
             b.resize(108);
         },
         "shorter than the 120-byte header of version 3"},
        {"v1 sections end early", 1,
         [](Bytes& b) {
             PatchU32(b, test::kColSizeAt, static_cast<uint32_t>(b.size() - 8 + 4));
             b.resize(b.size() + 4);
         },
         "sections end at byte"},
        {"v1 count beyond the entry", 1,
         [](Bytes& b) { PatchU32(b, test::kColV1HeaderBytes, 0x40000000); },
         "1073741824 spheres need"},
        {"face section outside", 3,
         [](Bytes& b) { PatchU32(b, test::kColFaceOffsetAt, 0xFFFFFFF0); },
         "5 faces at byte 4294967284 run past the end of the entry"},
        {"box section in the header", 2, [](Bytes& b) { PatchU32(b, test::kColBoxOffsetAt, 20); },
         "the box section starts at byte 24, inside the 108-byte header"},
        {"sphere count without offset", 3,
         [](Bytes& b) { PatchU32(b, test::kColSphereOffsetAt, 0); },
         "2 spheres, but no sphere offset"},
        {"face names a missing vertex", 3,
         [](Bytes& b) {
             const uint32_t faces = LoadU32(b.data() + test::kColFaceOffsetAt) + 4;
             PatchU16(b, faces + 8 * 4 + 4, 40);
         },
         "faces name vertex 40, but the vertex section holds"},
        {"faces without vertex section", 2,
         [](Bytes& b) { PatchU32(b, test::kColVertexOffsetAt, 0); },
         "faces name vertex 6, but the entry has no vertex section"},
        {"face groups overrun", 3,
         [](Bytes& b) {
             const uint32_t faces = LoadU32(b.data() + test::kColFaceOffsetAt) + 4;
             PatchU32(b, faces - 4, 1000);
         },
         "1000 face groups need 28000 bytes"},
        {"v1 face beyond vertices", 1, [](Bytes& b) { PatchU32(b, b.size() - 16, 9); },
         "face 4 names vertex 9, but the entry holds 7 vertices"},
        {"trailing bytes", 3,
         [](Bytes& b) {
             b.insert(b.end(), {1, 2, 3});
         },
         "trailing bytes: the 3 bytes from byte"},
        {"not an entry", 3, [](Bytes& b) { b[0] = 'X'; }, "does not start with an entry"},
        {"flag 2 with nothing", 3,
         [](Bytes& b) {
             PatchU16(b, test::kColSphereCountAt, 0), PatchU16(b, test::kColBoxCountAt, 0);
             PatchU16(b, test::kColFaceCountAt, 0);
             PatchU32(b, test::kColFlagsAt, 2);
         },
         "flag 2 (not empty) is set, but the entry has no sphere, box or face", true},
        {"face groups without flag 8", 3, [](Bytes& b) { PatchU32(b, test::kColFlagsAt, 2 | 16); },
         "face groups precede the faces, but flag 8 is not set", true},
        {"shadow faces without flag 16", 3, [](Bytes& b) { PatchU32(b, test::kColFlagsAt, 2 | 8); },
         "counts 3 shadow faces, but flag 16 is not set", true},
        {"bounds too small", 3, [](Bytes& b) { StoreF32(b.data() + 44, 0.5f); },
         "the bounds x = -10 .. 0.5 do not enclose sphere 0", true},
        {"unterminated name", 3,
         [](Bytes& b) { std::memset(b.data() + test::kColNameAt, 'n', 22); },
         "the name has no terminating zero within its 22 bytes", true},
        {"v1 vertex beyond version 3", 1,
         [](Bytes& b) {
             const size_t vertices = b.size() - 4 - 5 * 16 - 7 * 12;
             StoreF32(b.data() + vertices + 12 + 4, -300.0f);
             for (size_t at : {32, 48, 60})
                 StoreF32(b.data() + at, at == 60 ? 1000.0f : at == 48 ? -1000.0f : 1.0f);
             for (size_t at : {52, 56, 64, 68})
                 StoreF32(b.data() + at, at < 60 ? -1000.0f : 1000.0f);
         },
         "1 vertex lies outside -256 .. 255.99, which versions 2 and 3 cannot hold (first: "
         "vertex 1, y = -300)",
         true},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        ColEntry entry = FullEntry();
        if (c.version == 1)
            entry = EntryBuilder().Sphere(1, 2, 3, 1.5f).Sphere(0, 0, 0, 1).Mesh(5).Build();
        Bytes bytes = Write(entry, c.version);
        c.apply(bytes);
        ColFile file;
        const bool ok = ReadColFile(bytes.data(), bytes.size(), &file);
        const std::string errors = Joined(file.errors), warnings = Joined(file.warnings);
        if (c.warning) {
            EXPECT_TRUE(ok) << errors;
            EXPECT_EQ(file.entries.size(), 1u);
            EXPECT_NE(warnings.find(c.message), std::string::npos) << warnings;
            EXPECT_NE(warnings.find("entry 1 \""), std::string::npos) << warnings;
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
            EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
        }
    }
}

TEST(ColFileTest, CleanEntriesHaveNoWarnings) {
    for (int version = 1; version <= 3; ++version) {
        SCOPED_TRACE(version);
        const Bytes bytes = Write(FullEntry(), version);
        const ColFile file = Read(bytes);
        EXPECT_TRUE(file.errors.empty()) << Joined(file.errors);
        EXPECT_TRUE(file.warnings.empty()) << Joined(file.warnings);
    }
}

Bytes MixedArchive() {
    Bytes archive;
    const std::pair<const char*, int> parts[] = {
        {"one", 1}, {"two", 2}, {"three", 3}, {"again", 1}};
    for (const auto& [name, version] : parts) {
        const Bytes entry = Write(EntryBuilder(name).Box(-1, 1).Mesh(3).Build(), version);
        archive.insert(archive.end(), entry.begin(), entry.end());
    }
    return archive;
}

TEST(ColFileTest, ReadsAnArchiveOfMixedVersions) {
    const Bytes archive = MixedArchive();
    const ColFile file = Read(archive);
    EXPECT_TRUE(file.errors.empty()) << Joined(file.errors);
    ASSERT_EQ(file.entries.size(), 4u);
    const int versions[] = {1, 2, 3, 1};
    const char* names[] = {"one", "two", "three", "again"};
    size_t offset = 0;
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(file.entries[i].version, versions[i]);
        EXPECT_EQ(file.entries[i].name, names[i]);
        EXPECT_EQ(file.entries[i].offset, offset);
        EXPECT_EQ(file.entries[i].faces.size(), 3u);
        offset += file.entries[i].length;
    }
    EXPECT_EQ(offset, archive.size());
}

TEST(ColFileTest, AVersionFourEntryReadsLikeVersionThree) {
    Bytes bytes = Write(FullEntry(), 3);
    // Version 4 adds one field after the header: shift every offset by 4.
    bytes.insert(bytes.begin() + test::kColVersion4FieldAt, {0x78, 0x56, 0x34, 0x12});
    std::memcpy(bytes.data(), "COL4", 4);
    PatchU32(bytes, test::kColSizeAt, static_cast<uint32_t>(bytes.size() - 8));
    for (size_t at :
         {test::kColSphereOffsetAt, test::kColBoxOffsetAt, test::kColVertexOffsetAt,
          test::kColFaceOffsetAt, test::kColShadowVertexOffsetAt, test::kColShadowFaceOffsetAt}) {
        if (LoadU32(bytes.data() + at) != 0)
            PatchU32(bytes, at, LoadU32(bytes.data() + at) + 4);
    }
    const ColEntry entry = ReadOne(bytes);
    EXPECT_EQ(entry.version, 4);
    EXPECT_EQ(entry.version4Field, 0x12345678u);
    ColEntry asThree = entry;
    asThree.version = 3;
    std::string difference;
    EXPECT_TRUE(SameColRecords(FullEntry(), asThree, 3, &difference)) << difference;
}

TEST(ColFileTest, ADamagedEntryDoesNotStopTheWalk) {
    Bytes archive = MixedArchive();
    const ColFile whole = Read(archive);
    // Point the second entry's faces outside it; its size field stays sound.
    PatchU32(archive, whole.entries[1].offset + test::kColFaceOffsetAt, 0x7FFFFFFF);
    const ColFile file = Read(archive);
    ASSERT_EQ(file.errors.size(), 1u);
    EXPECT_EQ(file.errors[0].entry, 1u);
    EXPECT_NE(file.errors[0].message.find("entry 2 \"two\": "), std::string::npos);
    ASSERT_EQ(file.entries.size(), 3u);
    EXPECT_EQ(file.entries[2].name, "again");
}

// The collision files this project made before: face groups, faces and then
// vertices, with the size counted from the tag (classic) or from after the
// size field (standard).
TEST(ColFileTest, ReadsTheLayoutOfEarlierCollisionFiles) {
    test::Col3File col = test::MakeSmallCol3();
    col.faceGroups.push_back({});
    col.flags = test::kCol3FlagFaceGroups;
    Bytes bytes = test::EncodeCol3(col);

    // Read to the end of the file, with a warning.
    ColFile classic;
    EXPECT_TRUE(ReadColFile(bytes.data(), bytes.size(), &classic)) << Joined(classic.errors);
    EXPECT_NE(Joined(classic.warnings).find("counts from the end of the tag"), std::string::npos)
        << Joined(classic.warnings);
    ASSERT_EQ(classic.entries.size(), 1u);
    EXPECT_EQ(classic.entries[0].length, bytes.size());

    PatchU32(bytes, test::kColSizeAt, static_cast<uint32_t>(bytes.size() - 8));
    const ColEntry entry = ReadOne(bytes);
    EXPECT_EQ(entry.name, "house");
    ASSERT_EQ(entry.faces.size(), col.faces.size());
    ASSERT_EQ(entry.vertices.size(), col.vertices.size());
    EXPECT_EQ(entry.vertices[1][0], col.vertices[1].x / 128.0f);
    EXPECT_EQ(entry.faces[1].c, col.faces[1].c);
    EXPECT_EQ(entry.faceGroups.size(), 1u);
    ASSERT_EQ(entry.boxes.size(), 1u);
}

TEST(ColFileTest, EveryTruncatedPrefixIsAnErrorNotACrash) {
    const Bytes archive = MixedArchive();
    std::vector<size_t> ends;
    for (const ColEntry& e : Read(archive).entries)
        ends.push_back(e.offset + e.length);
    for (size_t n = 0; n < archive.size(); ++n) {
        // An exact-size copy, so that AddressSanitizer sees any read past it.
        const Bytes prefix(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(n));
        ColFile file;
        const bool ok = ReadColFile(prefix.data(), prefix.size(), &file);
        const size_t whole = static_cast<size_t>(
            std::count_if(ends.begin(), ends.end(), [n](size_t end) { return end <= n; }));
        // A cut between entries leaves a shorter archive that reads whole.
        const bool between = n > 0 && std::find(ends.begin(), ends.end(), n) != ends.end();
        EXPECT_EQ(ok, between) << n;
        EXPECT_EQ(file.errors.empty(), between) << n;
        EXPECT_EQ(file.entries.size(), whole) << n;
    }
}

}  // namespace
}  // namespace brennix
