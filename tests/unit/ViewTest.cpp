// Pictures of models (src/view): the escaping XML writer, the legend, the
// size bound and the reduction, and pixels of a picture as a real SVG
// renderer draws it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "col/ColFile.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"
#include "support/HostileModels.h"
#include "support/ModelBuilder.h"
#include "view/Picture.h"
#include "view/Svg.h"

namespace brennix::view {
namespace {

using test::Bytes;

// Whether the bytes are valid UTF-8 with only the characters XML 1.0
// allows, checked apart from the writer's own decoder.
bool ValidXmlCharacters(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<uint8_t>(text[i]);
        uint32_t code = 0;
        size_t n = 0;
        if (c < 0x80)
            code = c, n = 1;
        else if ((c & 0xE0) == 0xC0)
            code = c & 0x1F, n = 2;
        else if ((c & 0xF0) == 0xE0)
            code = c & 0x0F, n = 3;
        else if ((c & 0xF8) == 0xF0)
            code = c & 0x07, n = 4;
        else
            return false;
        if (i + n > text.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if ((code < 0x20 && code != 9 && code != 10 && code != 13) || code == 0xFFFE ||
            code == 0xFFFF)
            return false;
        i += n;
    }
    return true;
}

// No markup character stands bare inside text or attribute values: every
// '<' opens a tag, every '&' an entity, and quotes pair up within tags.
bool MarkupWellFormed(const std::string& doc) {
    bool inTag = false, inValue = false;
    for (size_t i = 0; i < doc.size(); ++i) {
        const char c = doc[i];
        if (c == '&') {
            const size_t end = doc.find(';', i);
            if (end == std::string::npos || end - i > 6)
                return false;
            const std::string entity = doc.substr(i, end - i + 1);
            if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;" &&
                entity != "&apos;")
                return false;
        } else if (inValue) {
            if (c == '"')
                inValue = false;
            else if (c == '<')
                return false;
        } else if (inTag) {
            if (c == '"')
                inValue = true;
            else if (c == '>')
                inTag = false;
            else if (c == '<')
                return false;
        } else if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            return false;
        }
    }
    return !inTag && !inValue;
}

TEST(SvgTest, EscapesMarkupAndReplacesWhatXmlCannotHold) {
    const std::string kFffd = "\xEF\xBF\xBD";
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain name_01", "plain name_01"},
        {"a<b>&c", "a&lt;b&gt;&amp;c"},
        {"say \"hi\" it's", "say &quot;hi&quot; it&apos;s"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x99\x82", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x99\x82"},
        {"\xFF", kFffd},                                      // never a lead byte
        {"a\x80z", "a" + kFffd + "z"},                        // stray continuation byte
        {"\xC3", kFffd},                                      // cut at the end
        {"\xC3(", kFffd + "("},                               // a lead byte without its follower
        {"\xC0\xAF", kFffd + kFffd},                          // overlong '/'
        {"\xE0\x80\xAF", kFffd + kFffd + kFffd},              // overlong, three bytes
        {"\xED\xA0\x80", kFffd + kFffd + kFffd},              // a surrogate
        {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // past U+10FFFF
        {std::string("a\0b", 3), "a" + kFffd + "b"},
        {"tab\tline\ncr\r", "tab\tline\ncr\r"},
        {"\x01\x1F", kFffd + kFffd},
        {"\xEF\xBF\xBE", kFffd},  // U+FFFE
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XmlText(c.in), c.out) << "input of " << c.in.size() << " bytes";
        EXPECT_TRUE(ValidXmlCharacters(XmlText(c.in)));
    }
}

TEST(SvgTest, WriterNestsAndClosesElements) {
    std::string out;
    XmlWriter xml(out);
    xml.Start("svg");
    xml.Attr("width", 10.25, 1);
    xml.Start("g");
    xml.Start("rect");
    xml.Attr("fill", "#fff");
    xml.End();
    xml.Start("text");
    xml.Text("1 < 2");
    xml.End();
    xml.EndAll();
    EXPECT_EQ(out, "<svg width=\"10.2\"><g><rect fill=\"#fff\"/><text>1 &lt; 2</text></g></svg>");
    EXPECT_EQ(xml.Depth(), 0u);
}

TEST(SvgTest, NumbersAreShort) {
    const struct {
        double value;
        int decimals;
        const char* text;
    } cases[] = {{0, 1, "0"},       {2.5, 1, "2.5"}, {2.0, 3, "2"},        {-0.01, 1, "0"},
                 {0.05, 4, "0.05"}, {1e-9, 3, "0"},  {123456, 0, "123456"}};
    for (const auto& c : cases)
        EXPECT_EQ(NumberText(c.value, c.decimals), c.text) << c.value;
}

TEST(SvgTest, ShortTextCutsAtACharacterBoundary) {
    EXPECT_EQ(ShortText("short", 10), "short");
    EXPECT_EQ(ShortText("abcdefghij", 8), "abcde...");
    // The cut would fall inside the two bytes of an e with acute: it goes
    // before the character instead.
    EXPECT_EQ(ShortText("abcd\xC3\xA9xyz", 8), "abcd...");
}

// ---------------------------------------------------------------------------

struct Loaded {
    Bytes bytes;
    WholeModel model;
};

void Load(const test::ClumpSpec& plan, Loaded* loaded) {
    loaded->bytes = test::BuildModel(plan);
    ASSERT_TRUE(loaded->model.Parse(loaded->bytes.data(), loaded->bytes.size()));
}

// The collision `col` writes by default, read back as the command does.
ColFile DefaultCollision(const WholeModel& model, ColStats* stats) {
    std::vector<uint8_t> bytes;
    std::string why;
    ColFile col;
    EXPECT_TRUE(GenerateColBytes(model, ColRequest(), "m", &bytes, &why, nullptr, stats)) << why;
    EXPECT_TRUE(ReadColFile(bytes.data(), bytes.size(), &col));
    return col;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

TEST(PictureTest, GathersEveryAtomicPlacedByItsFrame) {
    Loaded two;
    // Two atomics, the second on a frame moved by (4, 0, 0).
    test::FrameListSpec frames;
    frames.frames = {test::MakeFrame("root", -1), test::MakeFrame("a", 0), test::MakeFrame("b", 0)};
    frames.frames[2].position = {4.0f, 0.0f, 0.0f};
    test::GeometryListSpec list;
    list.geometries = {
        test::MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}}),
        test::MakeGeometryWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 0, 2}})};
    ASSERT_NO_FATAL_FAILURE(Load(test::MakeMultiAtomicModel(frames, list), &two));
    const Mesh placed = GatherModelMesh(two.model, Placement::kAuto);
    ASSERT_EQ(placed.TriangleCount(), 2u);
    ASSERT_EQ(placed.VertexCount(), 6u);
    EXPECT_EQ(placed.indices[3], 3u);  // the second atomic's vertices follow the first's
    EXPECT_FLOAT_EQ(placed.positions[3 * 4], 5.0f);
    const Mesh stored = GatherModelMesh(two.model, Placement::kNone);
    EXPECT_FLOAT_EQ(stored.positions[3 * 4], 1.0f);
}

TEST(PictureTest, LegendSaysWhatIsDrawnAndWhy) {
    ColEntry entry;
    entry.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    entry.faces.resize(2);
    entry.spheres.resize(1);
    entry.boxes.resize(3);
    struct Case {
        const char* what;
        bool collision;
        std::string reason;
        bool distance;
        std::vector<std::string> warnings;
        size_t warningCount;
        size_t drawnModel;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"made collision",
         true,
         "",
         true,
         {},
         0,
         1200,
         {"Model: 1,200 triangles", "Collision: 2 faces, 1 sphere, 3 boxes", "Source: made here",
          "Largest distance measured from the model: 0.049 units", "Warnings: none"}},
        {"no collision asked for", false, "", false, {}, 0, 1200, {"Collision: not drawn"}},
        {"collision missing",
         false,
         "the model has no embedded collision",
         false,
         {},
         0,
         1200,
         {"Collision: none, the model has no embedded collision"}},
        {"reduced model",
         false,
         "",
         false,
         {},
         0,
         300,
         {"Model: 1,200 triangles; drawn simplified, 300 triangles"}},
        {"warnings kept and counted",
         false,
         "",
         false,
         {"w1", "w2", "w3"},
         9,
         1200,
         {"Warnings: 9", "  w1", "  w2", "  and 7 more"}},
    };
    for (const Case& c : cases) {
        PictureInput input;
        input.collision = c.collision ? &entry : nullptr;
        input.collisionSource = "made here";
        input.noCollisionReason = c.reason;
        input.hasMaxDistance = c.distance;
        input.maxDistance = 0.0494;
        input.warnings = c.warnings;
        input.warningCount = c.warningCount;
        PictureStats stats;
        stats.modelTriangles = 1200;
        stats.drawnModelTriangles = c.drawnModel;
        stats.collisionFaces = stats.drawnCollisionFaces = 2;
        stats.spheres = 1;
        stats.boxes = 3;
        PictureOptions options;
        options.maxWarningLines = 2;
        const std::vector<std::string> lines = LegendLines(input, stats, options);
        for (const std::string& expected : c.expected)
            EXPECT_TRUE(HasLine(lines, expected)) << c.what << ": " << expected;
        EXPECT_EQ(HasLine(lines, "w3"), false) << c.what;
        EXPECT_EQ(HasLine(lines, "Largest distance"), c.distance) << c.what;
    }
}

TEST(PictureTest, HostileNamesGiveAValidDocument) {
    Loaded box;
    ASSERT_NO_FATAL_FAILURE(Load(test::MakeBoxModel(), &box));
    const std::vector<std::string> names = {
        "<script>alert(1)</script>",    "a&b", "\"quoted\" 'single'",  "bad\xFF\xFE utf8\xC3",
        std::string("nul\0inside", 10), "]]>", "\xED\xA0\x80surrogate"};
    for (const std::string& name : names) {
        PictureInput input;
        input.name = name;
        input.model = GatherModelMesh(box.model, Placement::kAuto);
        input.warnings = {"frame 1: name " + name};
        input.warningCount = 1;
        input.noCollisionReason = "file " + name + " missing";
        const std::string svg = DrawPicture(input, PictureOptions());
        EXPECT_TRUE(ValidXmlCharacters(svg)) << name;
        EXPECT_TRUE(MarkupWellFormed(svg)) << name;
        EXPECT_EQ(svg.find("<script"), std::string::npos);
    }
}

// A hilly square of n x n vertices, two triangles a cell: seen from every
// side, unlike a flat grid, whose triangles the side views see edge on.
test::ClumpSpec HillyGrid(int n) {
    std::vector<test::Vec3> positions;
    std::vector<test::Triangle> triangles;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            positions.push_back({static_cast<float>(i), static_cast<float>(j),
                                 20.0f * std::sin(0.1f * static_cast<float>(i)) *
                                     std::cos(0.13f * static_cast<float>(j))});
    }
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const auto a = static_cast<uint16_t>(i * n + j), b = static_cast<uint16_t>(a + n);
            const auto c = static_cast<uint16_t>(b + 1), d = static_cast<uint16_t>(a + 1);
            triangles.insert(triangles.end(), {{a, b, 0, c}, {a, c, 0, d}});
        }
    }
    return test::MakeModelWithPositions(positions, triangles);
}

TEST(PictureTest, StaysWithinTheByteBoundAndSaysWhatWasReduced) {
    Loaded large;
    ASSERT_NO_FATAL_FAILURE(Load(HillyGrid(181), &large));
    const Mesh mesh = GatherModelMesh(large.model, Placement::kAuto);
    ASSERT_EQ(mesh.TriangleCount(), 64800u);
    // A collision of many faces too: the grid's own triangles.
    ColEntry col;
    for (size_t v = 0; v < mesh.VertexCount(); ++v)
        col.vertices.push_back(
            {mesh.positions[3 * v], mesh.positions[3 * v + 1], mesh.positions[3 * v + 2]});
    for (size_t t = 0; t < 60000; ++t) {
        ColFileFace face;
        face.a = mesh.indices[3 * t];
        face.b = mesh.indices[3 * t + 1];
        face.c = mesh.indices[3 * t + 2];
        col.faces.push_back(face);
    }
    const struct {
        size_t maxBytes;
        size_t maxModelTriangles;
        bool collision;
    } cases[] = {
        {2000000, 0, false},    {2000000, 0, true}, {2000000, 20000, false},
        {2000000, 20000, true}, {300000, 0, true},  {60000, 0, true},
    };
    for (const auto& c : cases) {
        PictureInput input;
        input.name = "large";
        input.model = mesh;
        input.collision = c.collision ? &col : nullptr;
        PictureOptions options;
        options.maxBytes = c.maxBytes;
        options.maxModelTriangles = c.maxModelTriangles;
        PictureStats stats;
        const std::string svg = DrawPicture(input, options, &stats);
        SCOPED_TRACE(std::to_string(c.maxBytes) + " bytes, collision " +
                     std::to_string(c.collision));
        EXPECT_LE(svg.size(), c.maxBytes);
        EXPECT_EQ(stats.bytes, svg.size());
        EXPECT_LT(stats.drawnModelTriangles, 64800u);
        if (c.maxModelTriangles > 0) {
            EXPECT_LE(stats.drawnModelTriangles, c.maxModelTriangles);
        }
        EXPECT_NE(svg.find("triangles; drawn simplified"), std::string::npos);
        if (c.collision && stats.drawnCollisionFaces < 60000) {
            EXPECT_NE(svg.find("boxes; drawn simplified"), std::string::npos);
        }
        // The model keeps a fair share of the picture wherever it can.
        if (c.maxBytes >= 2000000) {
            EXPECT_GT(stats.drawnModelTriangles, 2000u);
        }
    }
}

TEST(PictureTest, AFileFullOfSpheresAndBoxesStaysWithinTheBound) {
    ColEntry col;
    for (int i = 0; i < 65535; ++i) {
        const float x = static_cast<float>(i % 256), y = static_cast<float>(i / 256);
        ColFileSphere sphere;
        sphere.centre[0] = x;
        sphere.centre[1] = y;
        sphere.radius = 0.5f;
        col.spheres.push_back(sphere);
        ColFileBox box;
        box.min[0] = x, box.min[1] = y, box.min[2] = 0;
        box.max[0] = x + 0.5f, box.max[1] = y + 0.5f, box.max[2] = 3;
        col.boxes.push_back(box);
    }
    PictureInput input;
    input.collision = &col;
    PictureStats stats;
    const std::string svg = DrawPicture(input, PictureOptions(), &stats);
    EXPECT_LE(svg.size(), PictureOptions().maxBytes);
    EXPECT_NE(svg.find("65,535 spheres, 65,535 boxes; the first 1,000 spheres drawn; the first "
                       "500 boxes drawn"),
              std::string::npos);
}

TEST(PictureTest, HostileModelsAreDrawnWithinTheBound) {
    const struct {
        const char* name;
        Bytes (*make)(size_t);
    } cases[] = {
        {"broken atomics", test::MakeBrokenAtomicsModel},
        {"empty geometries", test::MakeEmptyGeometriesModel},
        {"cut geometries", test::MakeCutGeometriesModel},
        {"huge material counts", test::MakeHugeMaterialCountModel},
        {"empty bin meshes", test::MakeEmptyBinMeshesModel},
        {"deep frames", test::MakeDeepFramesModel},
        {"small geometries", test::MakeSmallGeometriesModel},
    };
    for (const auto& c : cases) {
        const Bytes bytes = c.make(20000);
        WholeModel model;
        ASSERT_TRUE(model.Parse(bytes.data(), bytes.size())) << c.name;
        std::vector<std::string> skipped;
        size_t skippedCount = 0;
        PictureInput input;
        input.model = GatherModelMesh(model, Placement::kAuto, &skipped, &skippedCount);
        input.warnings = skipped;
        input.warningCount = skippedCount;
        const std::string svg = DrawPicture(input, PictureOptions());
        EXPECT_LE(skipped.size(), kMaxKeptProblems) << c.name;
        EXPECT_GE(skippedCount, skipped.size()) << c.name;
        EXPECT_LE(svg.size(), PictureOptions().maxBytes) << c.name;
    }
}

TEST(PictureTest, SmallModelsAreDrawnWhole) {
    Loaded house;
    ASSERT_NO_FATAL_FAILURE(Load(test::MakeHouseModel(), &house));
    ColStats colStats;
    const ColFile col = DefaultCollision(house.model, &colStats);
    ASSERT_EQ(col.entries.size(), 1u);
    PictureInput input;
    input.model = GatherModelMesh(house.model, Placement::kAuto);
    input.collision = &col.entries[0];
    PictureStats stats;
    const std::string svg = DrawPicture(input, PictureOptions(), &stats);
    EXPECT_EQ(stats.drawnModelTriangles, input.model.TriangleCount());
    EXPECT_EQ(stats.drawnCollisionFaces, col.entries[0].faces.size());
    EXPECT_EQ(svg.find("drawn simplified"), std::string::npos);
    // Four views, each with its label and scale bar.
    for (const char* label : {">top<", ">front<", ">side<", ">angled, from above<"})
        EXPECT_NE(svg.find(label), std::string::npos) << label;
    size_t bars = 0;
    for (size_t at = svg.find(" units<"); at != std::string::npos; at = svg.find(" units<", at + 1))
        ++bars;
    EXPECT_GE(bars, 4u);
}

TEST(PictureTest, ReduceMeshMeetsItsTarget) {
    Loaded large;
    ASSERT_NO_FATAL_FAILURE(Load(test::MakeLargeModel(30000, 40000), &large));
    const Mesh mesh = GatherModelMesh(large.model, Placement::kAuto);
    for (size_t target : {0u, 1u, 100u, 5000u, 29999u, 30000u, 100000u}) {
        const Mesh reduced = ReduceMesh(mesh, target);
        EXPECT_LE(reduced.TriangleCount(), std::min<size_t>(target, 30000)) << target;
        if (target >= 30000) {
            EXPECT_EQ(reduced.indices, mesh.indices);
        }
        for (uint32_t index : reduced.indices)
            ASSERT_LT(index, mesh.VertexCount());
    }
}

// A reduced collision still covers what it covered, in every colour.
TEST(PictureTest, ReducedCollisionKeepsEveryColourWithoutHoles) {
    // A 60 x 60 sheet of unit cells: grass (9) to the left, road (0) right.
    ColEntry col;
    col.version = 3;
    const int n = 60;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            col.vertices.push_back({static_cast<float>(i), static_cast<float>(j), 0.0f});
    std::vector<uint32_t> all;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const uint32_t v = static_cast<uint32_t>(j * (n + 1) + i);
            const uint8_t surface = i < n / 2 ? 9 : 0;
            for (const std::array<uint32_t, 3> t :
                 {std::array<uint32_t, 3>{v, v + 1, v + n + 2}, {v, v + n + 2, v + n + 1}}) {
                ColFileFace face;
                face.a = t[0];
                face.b = t[1];
                face.c = t[2];
                face.surface.material = surface;
                all.push_back(static_cast<uint32_t>(col.faces.size()));
                col.faces.push_back(face);
            }
        }
    }
    const auto areaOf = [](const ColEntry& e, const char* colour) {
        double area = 0;
        for (const ColFileFace& f : e.faces) {
            if (SurfaceColour(e.version, f.surface.material) != colour)
                continue;
            const ColFilePoint &a = e.vertices[f.a], &b = e.vertices[f.b], &c = e.vertices[f.c];
            area += std::fabs((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])) / 2;
        }
        return area;
    };
    for (size_t target : {size_t{8}, size_t{100}, size_t{3000}}) {
        SCOPED_TRACE(target);
        const ColEntry reduced = ReduceCollisionFaces(col, all, target);
        EXPECT_LE(reduced.faces.size(), target + 2);
        for (uint8_t surface : {uint8_t{0}, uint8_t{9}}) {
            const char* colour = SurfaceColour(3, surface);
            EXPECT_NEAR(areaOf(reduced, colour), areaOf(col, colour), 0.02 * n * n);
        }
    }
}

TEST(PictureTest, SurfaceColoursFollowTheGroups) {
    // Version 3 ids 0 and 1 are both road; 9 is grass; version 1 id 2 is grass.
    EXPECT_STREQ(SurfaceColour(3, 0), SurfaceColour(3, 1));
    EXPECT_STRNE(SurfaceColour(3, 0), SurfaceColour(3, 9));
    EXPECT_STREQ(SurfaceColour(1, 2), SurfaceColour(3, 9));
}

// ---------------------------------------------------------------------------
// Pixels, as rsvg-convert draws the picture.

bool HaveRenderer() {
    return std::system("rsvg-convert --version > /dev/null 2>&1") == 0;
}

struct Pixel {
    int r = -1, g = -1, b = -1, a = -1;
};

// The pixels at the points of the PNG rendering of `svg`, at the size the
// document gives (half its own units).
std::vector<Pixel> Render(const test::TempDir& dir, const std::string& svg,
                          const std::vector<std::pair<int, int>>& points) {
    {
        std::ofstream out(dir.Path("p.svg"), std::ios::binary);
        out << svg;
    }
    const std::string png = dir.Path("p.png");
    std::string command = "rsvg-convert -f png -o '" + png + "' '" + dir.Path("p.svg") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    command = "python3 '" BRENNIX_VIEW_SCRIPTS "/png_pixels.py' '" + png + "'";
    for (const auto& [x, y] : points)
        command += " " + std::to_string(x) + " " + std::to_string(y);
    command += " > '" + dir.Path("pixels.txt") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(dir.Path("pixels.txt"));
    std::vector<Pixel> pixels;
    Pixel p;
    while (in >> p.r >> p.g >> p.b >> p.a)
        pixels.push_back(p);
    return pixels;
}

TEST(PicturePixelsTest, CollisionColourOverTheBoxCentreInTheTopView) {
    if (!HaveRenderer())
        GTEST_SKIP() << "rsvg-convert is not installed (Debian's librsvg2-bin)";
    test::TempDir dir;
    ASSERT_TRUE(dir.Ok());
    Loaded box;
    ASSERT_NO_FATAL_FAILURE(Load(test::MakeBoxModel(), &box));
    ColStats colStats;
    const ColFile col = DefaultCollision(box.model, &colStats);
    ASSERT_EQ(col.entries.size(), 1u);
    ASSERT_STREQ(SurfaceColour(3, 0), "#e07b00");  // surface 0, road: orange

    // The top view is the first panel: 20 to 1020 across and 70 to 1070
    // down in the document's units, drawn at half that. Its centre is the
    // box's centre; its right edge lies beyond the box.
    const std::pair<int, int> centre{260, 285}, beside{460, 285}, between{515, 285};
    const struct {
        bool collision;
        bool orange;  // else grey, the model's own
    } cases[] = {{true, true}, {false, false}};
    for (const auto& c : cases) {
        PictureInput input;
        input.name = "box";
        input.model = GatherModelMesh(box.model, Placement::kAuto);
        input.collision = c.collision ? &col.entries[0] : nullptr;
        const std::string svg = DrawPicture(input, PictureOptions());
        const std::vector<Pixel> pixels = Render(dir, svg, {centre, beside, between});
        ASSERT_EQ(pixels.size(), 3u);
        const Pixel& at = pixels[0];
        SCOPED_TRACE("collision " + std::to_string(c.collision) + ": centre " +
                     std::to_string(at.r) + "," + std::to_string(at.g) + "," +
                     std::to_string(at.b));
        EXPECT_EQ(at.a, 255);
        if (c.orange) {
            EXPECT_GT(at.r, at.g + 15);
            EXPECT_GT(at.g, at.b + 15);
        } else {
            EXPECT_EQ(at.r, at.g);
            EXPECT_EQ(at.g, at.b);
            EXPECT_LT(at.r, 245);  // grey, not the background
        }
        for (size_t i = 1; i < pixels.size(); ++i) {
            EXPECT_EQ(pixels[i].r, 255);
            EXPECT_EQ(pixels[i].g, 255);
            EXPECT_EQ(pixels[i].b, 255);
        }
    }
}

TEST(PicturePixelsTest, RendererAcceptsHostileNames) {
    if (!HaveRenderer())
        GTEST_SKIP() << "rsvg-convert is not installed (Debian's librsvg2-bin)";
    test::TempDir dir;
    ASSERT_TRUE(dir.Ok());
    PictureInput input;
    input.name = std::string("<a & \"b\" 'c'>\xFF\xC3\0end", 19);
    input.warnings = {input.name};
    input.warningCount = 1;
    const std::vector<Pixel> pixels = Render(dir, DrawPicture(input, PictureOptions()), {{5, 5}});
    ASSERT_EQ(pixels.size(), 1u);
    EXPECT_EQ(pixels[0].r, 255);
}

}  // namespace
}  // namespace brennix::view
