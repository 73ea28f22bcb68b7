// The night colour mode (-v): the day colours of a second copy of a model
// become the night colours of the first, written to a new model file.
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

std::string LoadError(int which, const std::string& path) {
    return "[error] Could not load the dff(" + std::to_string(which) + ") file: " + path + "\n";
}
std::string GeometryError(int which, const std::string& path) {
    return "[error] Could read geometry of dff(" + std::to_string(which) + "): " + path + "\n";
}
std::string SaveError(const std::string& path) {
    return "[error] Could not save clump to file: " + path + "\n";
}

const std::vector<Rgba> kNightColours = {
    {10, 20, 30, 255}, {40, 50, 60, 128}, {0, 0, 0, 0}, {1, 2, 3, 4}, {250, 251, 252, 253}};

ClumpSpec NightModel() {
    ClumpSpec model = MakeCanonicalModel();
    model.FirstGeometry().prelit = kNightColours;
    return model;
}

ClumpSpec ModelWithoutDayColours() {
    ClumpSpec model = MakeCanonicalModel();
    model.FirstGeometry().prelit.clear();
    model.FirstGeometry().formatFlags &= static_cast<uint16_t>(~kGeoPrelit);
    return model;
}

ClumpSpec ModelWithGeometryCount(uint32_t count) {
    ClumpSpec model = MakeCanonicalModel();
    model.FindChild(ClumpChildKind::GeometryList)->geometryList.countOverride = count;
    return model;
}

ClumpSpec ModelWithEmptyGeometryList() {
    ClumpSpec model = MakeCanonicalModel();
    GeometryListSpec empty;
    empty.countOverride = 1;
    model.FindChild(ClumpChildKind::GeometryList)->geometryList = empty;
    return model;
}

struct NightEntries {
    size_t count = 0;
    bool last = false;
    std::vector<Rgba> colours;
    uint32_t leadingWord = 0;
};

NightEntries FindNightColours(const GeometryView& geometry) {
    NightEntries found;
    for (size_t i = 0; i < geometry.extensionEntries.size(); ++i) {
        const ChunkView& entry = geometry.extensionEntries[i];
        if (entry.type != kEntryNightColours)
            continue;
        ++found.count;
        found.last = i + 1 == geometry.extensionEntries.size();
        EXPECT_TRUE(DecodeNightColours(entry.payload, static_cast<uint32_t>(geometry.vertexCount),
                                       &found.colours, &found.leadingWord));
    }
    return found;
}

class NightColourModeTest : public ProgramTest {};

TEST_F(NightColourModeTest, WritesTheSecondModelsDayColoursAsNightColours) {
    ClumpSpec day = MakeCanonicalModel();
    // Night colours already in the file are replaced, not kept beside the new ones.
    day.FirstGeometry().extensions.push_back(NightColoursEntry(std::vector<Rgba>(5, {9, 9, 9, 9})));
    Put("day.dff", day);
    Put("night.dff", NightModel());
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-v", "-d", "day.dff", "-n", "night.dff", "-o", "out.dff"}).out, "");
    const Bytes out = Get("out.dff");
    Tree expected = before;
    expected["out.dff"] = out;
    EXPECT_EQ(Snapshot(), expected) << DescribeDifference(expected, Snapshot());

    GeometryView geometry;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(out, &geometry, &why)) << why;
    const GeometrySpec& dayGeometry = day.FirstGeometry();
    EXPECT_EQ(geometry.prelit, dayGeometry.prelit);
    EXPECT_EQ(geometry.positions, dayGeometry.positions);
    EXPECT_EQ(geometry.triangles, dayGeometry.triangles);
    EXPECT_EQ(geometry.formatFlags, dayGeometry.formatFlags);
    const NightEntries night = FindNightColours(geometry);
    EXPECT_EQ(night.count, 1u);
    EXPECT_TRUE(night.last);
    EXPECT_EQ(night.colours, kNightColours);
    EXPECT_EQ(night.leadingWord, kNightLeadWordWritten);

    // Everything outside the geometry list is carried over unchanged.
    ClumpView in, written;
    ASSERT_TRUE(ParseClump(before.at("day.dff"), &in, &why)) << why;
    ASSERT_TRUE(ParseClump(out, &written, &why)) << why;
    EXPECT_EQ(written.ChildTypes(), in.ChildTypes());
    for (uint32_t type : {kChunkStruct, kChunkFrameList, kChunkAtomic, kChunkExtension}) {
        SCOPED_TRACE(type);
        ASSERT_NE(written.Find(type), nullptr);
        EXPECT_EQ(written.Find(type)->Encoded(), in.Find(type)->Encoded());
    }
}

TEST_F(NightColourModeTest, TakesTheSecondModelFromEitherSwitch) {
    Put("day.dff", MakeCanonicalModel());
    Put("night.dff", NightModel());
    EXPECT_EQ(Run({"-v", "-d", "day.dff", "-c", "night.dff", "-o", "out.dff"}).out, "");
    GeometryView geometry;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(Get("out.dff"), &geometry, &why)) << why;
    EXPECT_EQ(FindNightColours(geometry).colours, kNightColours);
}

TEST_F(NightColourModeTest, SameFileAsBothModelsGetsItsOwnDayColours) {
    const ClumpSpec model = MakeCanonicalModel();
    Put("a.dff", model);
    EXPECT_EQ(Run({"-v", "-d", "a.dff", "-n", "a.dff", "-o", "out.dff"}).out, "");
    // In place as well: both files are read whole before anything is written.
    EXPECT_EQ(Run({"-v", "-d", "a.dff", "-n", "a.dff", "-o", "a.dff"}).out, "");
    EXPECT_EQ(Get("a.dff"), Get("out.dff"));
    GeometryView geometry;
    std::string why;
    ASSERT_TRUE(ParseFirstGeometry(Get("a.dff"), &geometry, &why)) << why;
    EXPECT_EQ(geometry.prelit, model.FirstGeometry().prelit);
    const NightEntries night = FindNightColours(geometry);
    EXPECT_EQ(night.count, 1u);
    EXPECT_EQ(night.colours, model.FirstGeometry().prelit);
}

TEST_F(NightColourModeTest, ReportsTheFirstFailureAndWritesNothing) {
    Put("day.dff", MakeCanonicalModel());
    Put("night.dff", NightModel());
    Put("struct.dff", MakeChunk(kChunkStruct, {1, 0, 0, 0}));
    Put("count.dff", ModelWithGeometryCount(2));
    Put("nogeo.dff", ModelWithEmptyGeometryList());
    Put("nocolours.dff", ModelWithoutDayColours());
    Put("v120.dff", MakeLargeModel(40, 120));
    Put("v118.dff", MakeLargeModel(40, 118));
    const Tree before = Snapshot();

    struct Case {
        std::string day;
        std::string night;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"missing.dff", "night.dff", LoadError(1, "missing.dff")},
        {"struct.dff", "missing.dff", LoadError(1, "struct.dff")},
        {"day.dff", "missing.dff", LoadError(2, "missing.dff")},
        {"day.dff", "struct.dff", LoadError(2, "struct.dff")},
        {"count.dff", "night.dff", GeometryError(1, "count.dff")},
        {"count.dff", "count.dff", GeometryError(1, "count.dff")},
        {"day.dff", "count.dff", GeometryError(2, "count.dff")},
        {"nogeo.dff", "night.dff", GeometryError(1, "nogeo.dff")},
        {"nogeo.dff", "nogeo.dff", GeometryError(1, "nogeo.dff")},
        {"day.dff", "nogeo.dff", GeometryError(2, "nogeo.dff")},
        {"v120.dff", "v118.dff",
         "[error] dff(1) and dff(2) have different vertex counts (120 vs 118).\n"
         "[error] You should import night colors from the same model.\n"},
        {"day.dff", "nocolours.dff", "[error] failed to copy vertex colors.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.day + " " + c.night);
        EXPECT_EQ(Run({"-v", "-d", c.day, "-n", c.night, "-o", "out.dff"}).out, c.out);
        EXPECT_EQ(Run({"-v", "-d", c.day, "-n", c.night, "-o", c.day}).out, c.out);
    }
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

TEST_F(NightColourModeTest, ReportsAnOutputThatCannotBeWritten) {
    Put("day.dff", MakeCanonicalModel());
    Put("night.dff", NightModel());
    MakeDir("outdir");
    const std::string missing = MissingDirPath("out.dff");
    const Tree before = Snapshot();

    EXPECT_EQ(Run({"-v", "-d", "day.dff", "-n", "night.dff", "-o", missing}).out,
              SaveError(missing));
    EXPECT_EQ(Run({"-v", "-d", "day.dff", "-n", "night.dff", "-o", "outdir"}).out,
              SaveError("outdir"));
    EXPECT_EQ(Snapshot(), before) << DescribeDifference(before, Snapshot());
}

}  // namespace
}  // namespace brennix::e2e
