// brennix view: the files it writes and its exit codes, which collision each
// picture shows, and the folder page.
#include <string>
#include <vector>

#include "ProgramRunner.h"

namespace brennix::e2e {
namespace {

using namespace brennix::test;

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ViewCommandTest : public ProgramTest {
protected:
    // `model` with the collision that col makes of it embedded, written as
    // `name`: what a model maker's file holds after col and attach.
    void PutWithEmbeddedCollision(const std::string& name, const ClumpSpec& model) {
        Put("plain-source.dff", model);
        Run({"col", "plain-source.dff", "-o", "made.col", "--force"});
        Run({"attach", "plain-source.dff", "-c", "made.col", "-o", name});
    }

    RunResult View(const std::vector<std::string>& args) {
        std::vector<std::string> line = {"view"};
        line.insert(line.end(), args.begin(), args.end());
        RunResult result = RunProgram(dir_, line);
        EXPECT_EQ(result.problem, "");
        return result;
    }
};

TEST_F(ViewCommandTest, WritesThePicturesAskedForWithItsExitCodes) {
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        std::vector<std::string> written;
        std::vector<std::string> notWritten;
    };
    const Case cases[] = {
        {{"a.dff"}, 0, {"a.svg"}, {}},
        {{"a.dff", "-o", "pic.svg"}, 0, {"pic.svg"}, {"a.svg"}},
        {{"a.dff", "b.dff", "--out-dir", "out"}, 0, {"out/a.svg", "out/b.svg"}, {"a.svg"}},
        {{"models", "--out-dir", "out"}, 0, {"out/c.svg"}, {}},
        {{"a.dff", "b.dff", "-o", "pic.svg"}, 2, {}, {"pic.svg", "a.svg"}},
        {{"a.dff", "--embedded", "--no-collision"}, 2, {}, {"a.svg"}},
        {{"a.dff", "--col", "missing.col"}, 2, {}, {"a.svg"}},
        {{"a.dff", "--col", "notamodel.dff"}, 1, {}, {"a.svg"}},
        {{"a.dff", "--html", "page", "-o", "pic.svg"}, 2, {}, {"pic.svg"}},
        // One model that cannot be read fails that model only.
        {{"a.dff", "missing.dff"}, 1, {"a.svg"}, {}},
        {{"a.dff", "notamodel.dff"}, 1, {"a.svg"}, {"notamodel.svg"}},
        {{"--html", "page", "a.dff", "models"},
         0,
         {"page/index.html", "page/a.svg", "page/c.svg"},
         {"a.svg"}},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += " " + arg;
        SCOPED_TRACE("view" + line);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        Put("a.dff", MakeBoxModel());
        Put("b.dff", MakeHouseModel());
        MakeDir("models");
        Put("models/c.dff", MakeCanonicalModel());
        Put("notamodel.dff", Bytes{'n', 'o', 'p', 'e'});
        const RunResult result = View(c.args);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        for (const std::string& name : c.written) {
            ASSERT_TRUE(Exists(name)) << name;
            const std::string text = Text(Get(name));
            EXPECT_TRUE(Contains(text, name.size() > 4 && name.substr(name.size() - 4) == ".svg"
                                           ? "<svg"
                                           : "<!DOCTYPE html>"))
                << name;
        }
        for (const std::string& name : c.notWritten)
            EXPECT_FALSE(Exists(name)) << name;
    }
}

TEST_F(ViewCommandTest, ReplacesAPictureOnlyWithForce) {
    Put("a.dff", MakeBoxModel());
    Put("a.svg", Bytes{'o', 'l', 'd'});
    RunResult result = View({"a.dff"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Text(Get("a.svg")), "old");
    result = View({"a.dff", "--force"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Contains(Text(Get("a.svg")), "<svg"));
    // The page is one output: refused before any picture is drawn.
    MakeDir("page");
    Put("page/index.html", Bytes{'o', 'l', 'd'});
    result = View({"--html", "page", "a.dff"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_FALSE(Exists("page/a.svg"));
}

TEST_F(ViewCommandTest, DrawsTheCollisionAskedForOrSaysWhyNot) {
    Put("plain.dff", MakeBoxModel());
    PutWithEmbeddedCollision("held.dff", MakeHouseModel());
    Put("house.col", EncodeCol3(MakeSmallCol3()));
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> legend;
    };
    const Case cases[] = {
        {{"plain.dff"},
         {"Collision: 12 faces, 0 spheres, 0 boxes",
          "Source: made as col makes it (--max-error 0.05)",
          "Largest distance measured from the model: 0 units"}},
        {{"plain.dff", "--max-error", "0.5"}, {"(--max-error 0.5)"}},
        {{"plain.dff", "--shape", "box"},
         {"Collision: 0 faces, 0 spheres, 1 box", "Source: made as col makes it (--shape box)"}},
        {{"held.dff", "--embedded"},
         {"Collision: 16 faces, 0 spheres, 0 boxes",
          "Source: embedded in the model (entry 0x253F2FF)"}},
        {{"plain.dff", "--embedded"}, {"Collision: none, the model has no embedded collision"}},
        {{"plain.dff", "--col", "house.col"},
         {"Source: house.col, entry &quot;house&quot; (the first: none is named "
          "&quot;plain&quot;)"}},
        {{"plain.dff", "--no-collision"}, {"Collision: not drawn"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "out.svg", "--force"});
        const RunResult result = View(args);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        const std::string svg = Text(Get("out.svg"));
        for (const std::string& line : c.legend)
            EXPECT_TRUE(Contains(svg, ">" + line) || Contains(svg, line + "<"))
                << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "") << ": " << line;
        EXPECT_EQ(Contains(svg, "Largest distance"),
                  c.args.size() == 1 || c.args[1] == "--max-error");
    }
}

TEST_F(ViewCommandTest, PageHasACardPerModelByNameAndMarksProblems) {
    MakeDir("models");
    PutWithEmbeddedCollision("models/b_held.dff", MakeBoxModel());
    Put("models/A_plain.dff", MakeBoxModel());
    // A name of markup characters that every file system takes.
    Put("models/c & 'q' name.dff", MakeHouseModel());
    const RunResult result = View({"--html", "page", "--embedded", "models"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string page = Text(Get("page/index.html"));
    // Sorted by name, whatever the case.
    const size_t a = page.find("<h2>A_plain</h2>");
    const size_t b = page.find("<h2>b_held</h2>");
    const size_t c = page.find("<h2>c &amp; &apos;q&apos; name</h2>");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    // Every card shows its picture, loaded lazily from beside the page; a
    // name that URLs cannot hold as it is is escaped.
    EXPECT_TRUE(Contains(page, "src=\"A_plain.svg\" loading=\"lazy\""));
    EXPECT_TRUE(Contains(page, "src=\"c%20%26%20%27q%27%20name.svg\""));
    EXPECT_TRUE(Exists("page/c & 'q' name.svg"));
    // The two without embedded collision are marked; the filter hides the
    // rest.
    size_t problems = 0;
    for (size_t at = page.find("class=\"card problem\""); at != std::string::npos;
         at = page.find("class=\"card problem\"", at + 1))
        ++problems;
    EXPECT_EQ(problems, 2u);
    EXPECT_TRUE(Contains(page, "body.only-problems .card:not(.problem) { display: none; }"));
    EXPECT_TRUE(Contains(page, "(2 of 3)"));
    // Nothing from elsewhere.
    EXPECT_FALSE(Contains(page, "http:"));
    EXPECT_FALSE(Contains(page, "https:"));
    EXPECT_FALSE(Contains(page, "<script src"));
    EXPECT_FALSE(Contains(page, "<link"));
}

TEST_F(ViewCommandTest, ModelsOfOneNameOnAPageAreToldApartByPath) {
    MakeDir("models");
    MakeDir("models/one");
    MakeDir("models/two");
    Put("models/one/x.dff", MakeBoxModel());
    Put("models/two/x.dff", MakeBoxModel());
    const RunResult result = View({"--html", "page", "-r", "models"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string page = Text(Get("page/index.html"));
    EXPECT_FALSE(Contains(page, "<h2>x</h2>"));
    const size_t first = page.find("x.dff</h2>");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(page.find("x.dff</h2>", first + 1), std::string::npos);
}

}  // namespace
}  // namespace brennix::e2e
