// Models that other readers open but the classic reader refuses: the commands
// read them, with a warning where the game may trip, while the classic
// switches keep refusing them with their old message.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;
using nlohmann::json;

const std::string kClassicRefusal = "[error] Couldn't read the geometry for: m.dff\n";

ClumpSpec WithMaterial(MaterialSpec material) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.FirstGeometry().materials = {std::move(material)};
    return plan;
}

ClumpSpec WithSkin(bool trailer) {
    ClumpSpec plan = MakeCanonicalModel();
    SkinSpec skin;
    skin.boneCount = 2;
    skin.usedBoneCount = 0;
    skin.olderLayout = true;
    skin.olderTrailer = trailer;
    GeometrySpec& g = plan.FirstGeometry();
    g.extensions.push_back(SkinEntry(skin, static_cast<uint32_t>(g.VertexCount())));
    return plan;
}

ClumpSpec WithFrameName(const std::string& name) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.Frames().frames[0].extensions = {FrameNameEntry(name)};
    return plan;
}

ClumpSpec WithBrokenTriangleList() {
    ClumpSpec plan = MakeCanonicalModel();
    GeometrySpec& g = plan.FirstGeometry();
    g.extensions = {BinMeshEntry(g.triangles)};  // sound, made before the list breaks
    g.triangles[2].v3 = 16256;
    return plan;
}

ClumpSpec WithUnusedGarbageVertex() {
    ClumpSpec plan = MakeCanonicalModel();
    GeometrySpec& g = plan.FirstGeometry();
    g.positions.push_back({5.8e25f, 0, 0});
    g.normals.push_back({0, 0, 1});
    g.prelit.push_back({1, 2, 3, 4});
    for (auto& set : g.uvSets)
        set.push_back({0, 0});
    return plan;
}

ClumpSpec WithThreeClumps() {
    ClumpSpec plan = MakeCanonicalModel();
    const Bytes more = BuildModel(MakeCanonicalModel());
    plan.trailing = Cat({more, more});
    return plan;
}

class RealFilesTest : public ProgramTest {};

TEST_F(RealFilesTest, CommandsReadWhatTheClassicReaderRefuses) {
    MaterialSpec flagThree = MakeMaterial("one");
    flagThree.textureCountOverride = 3;
    MaterialSpec threeTextures;
    threeTextures.textures = {MakeTexture("a"), MakeTexture("b"), MakeTexture("c")};
    MaterialSpec noMaterial;
    const std::string longName(40, 'n');
    struct Case {
        const char* what;
        ClumpSpec plan;
        std::string warning;     // a warning that must be reported; empty: none
        std::string classicOut;  // what `-g mesh` prints
        std::string colNote;     // an [info] line col must print; empty: none
        bool colWrites = true;
    };
    ClumpSpec emptyList = MakeCanonicalModel();
    emptyList.FirstGeometry().materials.clear();
    emptyList.FirstGeometry().materialCountOverride = 0;
    const Case cases[] = {
        {"older skin layout", WithSkin(false), "", kClassicRefusal, ""},
        {"older skin layout with trailer", WithSkin(true), "", kClassicRefusal, ""},
        {"texture flag 3", WithMaterial(flagThree), "", kClassicRefusal, ""},
        {"three textures", WithMaterial(threeTextures), "holds 3 textures", kClassicRefusal, ""},
        {"empty material list", emptyList, "", kClassicRefusal, ""},
        {"texture name of 40 bytes", WithMaterial(MakeMaterial(longName)), "", kClassicRefusal, ""},
        {"frame name of 30 characters", WithFrameName(std::string(30, 'f')),
         "its name is 30 characters", "", ""},
        {"frame name of 22 characters padded", WithFrameName(std::string(22, 'f') + '\0' + '\0'),
         "", "", ""},
        {"broken triangle list, sound Bin Mesh", WithBrokenTriangleList(),
         "triangle 2 names vertex 16256 of 5", "[error] Couldn't generate the col", "Bin Mesh"},
        // col leaves out the vertices no triangle uses, garbage or not.
        {"garbage in an unused vertex", WithUnusedGarbageVertex(), "vertex 5: 5.8e+25",
         "[error] Couldn't generate the col", ""},
        {"three clumps", WithThreeClumps(), "holds 3 clumps", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("m.dff", BuildModel(c.plan));
        RunResult info = RunProgram(dir_, {"info", "--json", "m.dff"});
        ASSERT_EQ(info.exitStatus, 0) << info.out << info.err;
        const json doc = json::parse(info.out);
        EXPECT_TRUE(doc["ok"].get<bool>());
        std::string warnings;
        for (const json& w : doc["warnings"])
            warnings +=
                w["step"].get<std::string>() + ": " + w["message"].get<std::string>() + "\n";
        if (c.warning.empty()) {
            EXPECT_EQ(warnings, "");
        } else {
            EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
        }

        RunResult col = RunProgram(dir_, {"col", "--force", "m.dff"});
        EXPECT_EQ(col.exitStatus, c.colWrites ? 0 : 1) << col.err;
        if (!c.warning.empty()) {
            EXPECT_NE(col.err.find("[warning] m.dff: "), std::string::npos) << col.err;
        }
        if (!c.colNote.empty()) {
            EXPECT_NE(col.err.find(c.colNote), std::string::npos) << col.err;
        }

        EXPECT_EQ(RunProgram(dir_, {"-g", "mesh", "-d", "m.dff", "-o", "classic.col"}).out,
                  c.classicOut);
    }
}

}  // namespace
}  // namespace brennix::e2e
