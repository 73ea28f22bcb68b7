// Saving a model with its rebuilt Geometry List written straight from the
// geometry gives the file that rebuilding the list and saving gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "dff/DffModel.h"

namespace brennix::test {
namespace {

class PiecewiseSaveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }

    // Paints the first geometry of the model and saves it both ways; the two
    // files must agree byte for byte.
    void ExpectSameFile(const ClumpSpec& plan) {
        const Bytes file = BuildModel(plan);
        ScopedModel piecewise;
        ScopedModel built;
        ASSERT_EQ(LoadBytes(*piecewise, dir.Path("in.dff"), file), 1);
        ASSERT_EQ(built->Load(dir.Path("in.dff").c_str()), 1);
        for (DffModel* model : {&*piecewise, &*built}) {
            ASSERT_EQ(model->ReadGeometryList(), 1);
            const uint8_t day[4] = {200, 100, 50, 255};
            const uint8_t night[4] = {20, 30, 40, 255};
            ASSERT_TRUE(model->FirstGeometry()->SetUniformColors(day, night));
        }
        const std::string a = dir.Path("piecewise.dff");
        const std::string b = dir.Path("built.dff");
        const int32_t written = piecewise->SaveWithRebuiltGeometry(a.c_str());
        ASSERT_TRUE(built->RebuildGeometryList());
        ASSERT_GT(built->Save(b.c_str()), 0);
        EXPECT_EQ(static_cast<size_t>(written), ReadFile(a).size());
        EXPECT_EQ(ReadFile(a), ReadFile(b));
    }

    TempDir dir;
};

TEST_F(PiecewiseSaveTest, WritesTheFileThatTheRebuiltListGives) {
    ExpectSameFile(MakeCanonicalModel());
    ExpectSameFile(MakeHouseModel());

    LargeModelOptions everything;
    everything.nightColours = true;
    everything.skin = true;
    ExpectSameFile(MakeLargeModel(2000, 3000, everything));

    // An old stamp (lighting block dropped), two texture coordinate sets, and
    // kept entries around an old Night Colours entry.
    ClumpSpec plan = MakeCanonicalModel();
    GeometrySpec& g = plan.FirstGeometry();
    g.stamp = kOldStamp;
    g.formatFlags = static_cast<uint16_t>(g.formatFlags | kGeoTextured2);
    g.formatHigh = 2;
    g.uvSets.push_back(g.uvSets.empty() ? std::vector<Uv>(g.VertexCount()) : g.uvSets[0]);
    const std::vector<Rgba> old(static_cast<size_t>(g.VertexCount()), Rgba{1, 2, 3, 4});
    g.extensions = {SkinEntry(SkinSpec{}, static_cast<uint32_t>(g.VertexCount())),
                    NightColoursEntry(old), ExtensionEntry(kEntrySkipped2F8, Bytes(7, 0xAB))};
    ExpectSameFile(plan);
}

TEST_F(PiecewiseSaveTest, AnExtensionOfManyRunsIsBuiltInstead) {
    // Old Night Colours entries between kept ones split the Extension into
    // more runs than the piecewise save holds.
    ClumpSpec plan = MakeCanonicalModel();
    GeometrySpec& g = plan.FirstGeometry();
    const std::vector<Rgba> old(static_cast<size_t>(g.VertexCount()), Rgba{9, 9, 9, 9});
    g.extensions.clear();
    for (int i = 0; i < 60; ++i) {
        g.extensions.push_back(ExtensionEntry(kEntrySkipped2FD, Bytes(4, static_cast<uint8_t>(i))));
        g.extensions.push_back(NightColoursEntry(old));
    }
    ExpectSameFile(plan);
}

TEST_F(PiecewiseSaveTest, RefusesWhatARebuildRefuses) {
    ScopedModel model;
    ASSERT_EQ(LoadBytes(*model, dir.Path("in.dff"), BuildModel(MakeCanonicalModel())), 1);
    const std::string out = dir.Path("out.dff");
    // No geometry read yet, then a geometry whose colours did not change.
    EXPECT_EQ(model->SaveWithRebuiltGeometry(out.c_str()), -1);
    ASSERT_EQ(model->ReadGeometryList(), 1);
    EXPECT_EQ(model->SaveWithRebuiltGeometry(out.c_str()), -1);
    EXPECT_FALSE(Exists(out));

    // A save that cannot be written reports 0 and leaves nothing behind.
    const uint8_t day[4] = {1, 2, 3, 255};
    ASSERT_TRUE(model->FirstGeometry()->SetUniformColors(day, day));
    EXPECT_EQ(model->SaveWithRebuiltGeometry(dir.Path("missing/out.dff").c_str()), 0);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"in.dff"});
}

}  // namespace
}  // namespace brennix::test
