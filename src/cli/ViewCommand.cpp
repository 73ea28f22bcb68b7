// brennix view: an SVG picture of each model and its collision, or, with
// --html, one page for a folder with a card per model. The pictures are
// drawn by src/view; this file chooses the collision, writes the files and
// makes the page.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/ModelCommands.h"
#include "col/ColFile.h"
#include "dff/DffModel.h"
#include "dff/WholeModelWrite.h"
#include "platform/Paths.h"
#include "view/Picture.h"
#include "view/Svg.h"

namespace brennix::cli {

namespace {

namespace fs = std::filesystem;

// Pictures on the page draw at most this many model triangles, so that a
// page of a thousand models stays quick to scroll.
constexpr size_t kPageModelTriangles = 20000;

enum class CollisionChoice {
    kMade,      // what `col` writes with the same options
    kEmbedded,  // the model's own
    kFile,      // an entry of --col FILE
    kNone,
};

struct ViewCommandRequest {
    InputOptions inputs;
    std::string output;  // -o: the one model's picture
    std::string outDir;  // --out-dir
    std::string html;    // --html DIR: the page and its pictures
    bool force = false;
    bool embedded = false;
    bool noCollision = false;
    std::string colFile;
    ColRequest generator;
    GeneratorOptions options;
};

// What the run needs for every model, made once.
struct ViewPlan {
    CollisionChoice choice = CollisionChoice::kMade;
    ColRequest generator;
    std::string colPath;
    ColFile col;  // --col, read before any model; shared read-only by the jobs
    view::PictureOptions picture;
};

// What a card of the page shows of one model.
struct Card {
    std::string name;
    std::string picture;  // the picture's path from the page's folder; empty for none
    bool failed = false;
    std::string failure;
    view::PictureStats stats;
    bool hasCollision = false;
    std::string source;
    std::string noCollision;
    bool hasMaxDistance = false;
    double maxDistance = 0;
    bool beyondBound = false;
    std::vector<std::string> warnings;
    size_t warningCount = 0;

    bool Problem() const {
        return failed || warningCount > 0 || !noCollision.empty() || beyondBound;
    }
};

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The entry of --col for a model: the one of its name, else the first.
const ColEntry* EntryFor(const ColFile& col, const std::string& name, bool* matched) {
    *matched = false;
    for (const ColEntry& entry : col.entries) {
        if (SameNameIgnoringCase(entry.name, name)) {
            *matched = true;
            return &entry;
        }
    }
    return col.entries.empty() ? nullptr : &col.entries.front();
}

std::string GeneratorWords(const ColRequest& request) {
    std::string words = "made as col makes it";
    switch (request.shape) {
        case ColShape::kBox:
            return words + " (--shape box)";
        case ColShape::kEmpty:
            return words + " (--shape empty)";
        case ColShape::kMesh:
            break;
    }
    return words + " (--max-error " + view::NumberText(request.maxError, 4) +
           (request.maxFaces > 0 ? ", --max-faces " + std::to_string(request.maxFaces) : "") + ")";
}

// Draws one model into `picture`; fills `card`. False with outcome.reason
// set when the model cannot be read.
bool DrawModelFile(const ViewPlan& plan, const std::string& path, std::string* picture, Card* card,
                   FileOutcome* outcome) {
    WholeModel model;
    if (!LoadClumpModel(path, &model, &outcome->reason))
        return false;
    outcome->messages += WarningLines(model, path);
    const std::string name = ModelNameOf(path);

    view::PictureInput input;
    input.name = name;
    std::vector<std::string> skipped;
    size_t skippedCount = 0;
    input.model = view::GatherModelMesh(model, plan.generator.placement, &skipped, &skippedCount);
    // The reader keeps at most kMaxKeptProblems of each in words; so does
    // the gathering of the atomics.
    for (const ModelProblem& p : model.problems)
        input.warnings.push_back("problem: " + p.step + ": " + p.message);
    for (const ModelProblem& w : model.warnings)
        input.warnings.push_back(w.step + ": " + w.message);
    for (const std::string& s : skipped)
        input.warnings.push_back("not drawn: " + s);
    input.warningCount = model.problemCount + model.warningCount + skippedCount;

    ColFile read;  // the collision drawn, when it is read here
    const ColEntry* entry = nullptr;
    switch (plan.choice) {
        case CollisionChoice::kNone:
            break;
        case CollisionChoice::kMade: {
            std::vector<uint8_t> bytes;
            std::string why;
            ColStats stats;
            std::vector<std::string> notes;
            const bool made =
                GenerateColBytes(model, plan.generator, name, &bytes, &why, &notes, &stats);
            // What col would say of it, as col says it.
            for (const std::string& note : notes)
                outcome->messages += "[info] " + path + ": " + note + "\n";
            if (!made) {
                input.noCollisionReason = "col cannot make it: " + why;
            } else if (!ReadColFile(bytes.data(), bytes.size(), &read) || read.entries.empty()) {
                input.noCollisionReason = "what col makes does not read back";
            } else {
                entry = &read.entries.front();
                input.collisionSource = GeneratorWords(plan.generator);
                if (plan.generator.shape == ColShape::kMesh) {
                    input.hasMaxDistance = true;
                    input.maxDistance = stats.maxDistance;
                    card->beyondBound = stats.beyondBound;
                }
            }
            break;
        }
        case CollisionChoice::kEmbedded: {
            const ChunkPlace* place = FirstCollisionEntry(model);
            if (place == nullptr) {
                input.noCollisionReason = "the model has no embedded collision";
            } else if (place->present < place->size) {
                input.noCollisionReason = "the embedded collision is cut short";
            } else {
                ReadColFile(model.file.data + place->PayloadOffset(), place->size, &read);
                if (read.entries.empty()) {
                    input.noCollisionReason =
                        "the embedded collision cannot be read" +
                        (read.errors.empty() ? std::string() : ": " + read.errors[0].message);
                } else {
                    entry = &read.entries.front();
                    input.collisionSource =
                        "embedded in the model (entry " + Hex(place->type) + ")";
                    for (const ColFileProblem& p : read.errors)
                        input.warnings.push_back("embedded collision: " + p.message);
                    for (const ColFileProblem& p : read.warnings)
                        input.warnings.push_back("embedded collision: " + p.message);
                    input.warningCount += read.errors.size() + read.warnings.size();
                }
            }
            break;
        }
        case CollisionChoice::kFile: {
            bool matched = false;
            entry = EntryFor(plan.col, name, &matched);
            if (entry == nullptr) {
                input.noCollisionReason = plan.colPath + " holds no entry that could be read";
            } else {
                input.collisionSource = plan.colPath + ", entry \"" + entry->name + "\"";
                if (!matched)
                    input.collisionSource += " (the first: none is named \"" + name + "\")";
            }
            break;
        }
    }
    input.collision = entry;

    view::PictureStats stats;
    *picture = view::DrawPicture(input, plan.picture, &stats);
    card->name = name;
    card->stats = stats;
    card->hasCollision = entry != nullptr;
    card->source = input.collisionSource;
    card->noCollision = input.noCollisionReason;
    card->hasMaxDistance = input.hasMaxDistance;
    card->maxDistance = input.maxDistance;
    card->warnings = input.warnings;
    card->warningCount = input.warningCount;
    return true;
}

// A relative path as a URL: each byte that is not plain kept as %XX, '/'
// between the folders.
std::string UrlOfPath(const std::string& relative) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url;
    for (char ch : relative) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            url += ch;
        } else if (c == '/' || c == '\\') {
            url += '/';
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

const char kPageHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Models and their collision</title>
<style>
body { font-family: sans-serif; margin: 16px; background: #f4f4f4; color: #202020; }
header { margin-bottom: 12px; }
.cards { display: grid; grid-template-columns: repeat(auto-fill, minmax(340px, 1fr)); gap: 12px; }
.card { background: #ffffff; border: 1px solid #d0d0d0; border-radius: 6px; padding: 8px; }
.card.problem { border-color: #d05050; }
.card img { width: 100%; height: auto; aspect-ratio: 2060 / 2300; display: block; }
.card h2 { font-size: 15px; margin: 6px 0 4px; overflow-wrap: anywhere; }
.card ul { margin: 0; padding-left: 18px; font-size: 13px; }
.card .warnings { color: #a02020; }
body.only-problems .card:not(.problem) { display: none; }
</style>
</head>
<body>
)";

const char kPageScript[] = R"(<script>
(function () {
  var body = document.body;
  var box = document.getElementById("only-problems");
  var cards = Array.prototype.slice.call(document.querySelectorAll(".card"));
  var images = Array.prototype.slice.call(document.querySelectorAll(".card img"));
  function filter() {
    body.classList.toggle("only-problems", box.checked);
    var shown = cards.filter(function (c) { return getComputedStyle(c).display !== "none"; });
    body.setAttribute("data-shown", String(shown.length));
  }
  function loaded() {
    var done = images.filter(function (i) { return i.complete && i.naturalWidth > 0; });
    body.setAttribute("data-loaded", String(done.length));
  }
  if (location.hash === "#problems") box.checked = true;
  box.addEventListener("change", filter);
  window.addEventListener("hashchange", function () {
    box.checked = location.hash === "#problems";
    filter();
  });
  images.forEach(function (i) { i.addEventListener("load", loaded); });
  body.setAttribute("data-cards", String(cards.length));
  body.setAttribute("data-pictures", String(images.length));
  filter();
  loaded();
})();
</script>
)";

void Item(view::XmlWriter& xml, const std::string& text) {
    xml.Start("li");
    xml.Text(text);
    xml.End();
}

std::string MakePage(std::vector<Card> cards) {
    // By name, in any case; the exact bytes break ties.
    std::sort(cards.begin(), cards.end(), [](const Card& a, const Card& b) {
        std::string la = a.name, lb = b.name;
        for (char& c : la)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        for (char& c : lb)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        return la != lb ? la < lb : a.name < b.name;
    });
    size_t problems = 0;
    for (const Card& card : cards)
        problems += card.Problem() ? 1 : 0;
    std::string page = kPageHead;
    view::XmlWriter xml(page);
    xml.Start("header");
    xml.Start("h1");
    xml.Text("Models and their collision");
    xml.End();
    xml.Start("label");
    xml.Start("input");
    xml.Attr("type", "checkbox");
    xml.Attr("id", "only-problems");
    xml.End();
    xml.Text(" Only models with problems or warnings (" + std::to_string(problems) + " of " +
             std::to_string(cards.size()) + ")");
    xml.End();
    xml.End();
    xml.Start("main");
    xml.Attr("class", "cards");
    for (const Card& card : cards) {
        xml.Start("section");
        xml.Attr("class", card.Problem() ? "card problem" : "card");
        if (!card.picture.empty()) {
            xml.Start("a");
            xml.Attr("href", card.picture);
            xml.Start("img");
            xml.Attr("src", card.picture);
            xml.Attr("loading", "lazy");
            xml.Attr("alt", card.name);
            xml.End();
            xml.End();
        }
        xml.Start("h2");
        xml.Text(card.name);
        xml.End();
        xml.Start("ul");
        if (card.failed) {
            xml.Start("li");
            xml.Attr("class", "warnings");
            xml.Text("not drawn: " + card.failure);
            xml.End();
        } else {
            const view::PictureStats& s = card.stats;
            std::string model = "model: " + GroupedCount(s.modelTriangles) + " triangles";
            if (s.drawnModelTriangles < s.modelTriangles)
                model += " (drawn simplified: " + GroupedCount(s.drawnModelTriangles) + ")";
            Item(xml, model);
            if (card.hasCollision) {
                Item(xml, "collision: " + GroupedCount(s.collisionFaces) + " faces, " +
                              GroupedCount(s.spheres) + " spheres, " + GroupedCount(s.boxes) +
                              " boxes");
                Item(xml, card.source);
                if (card.hasMaxDistance)
                    Item(xml, "largest distance " + DistanceText(card.maxDistance) +
                                  (card.beyondBound ? " (past --max-error)" : ""));
            } else {
                Item(xml, card.noCollision.empty() ? "collision: not drawn"
                                                   : "collision: none, " + card.noCollision);
            }
            if (card.warningCount > 0) {
                xml.Start("li");
                xml.Attr("class", "warnings");
                xml.Text(std::to_string(card.warningCount) +
                         (card.warningCount == 1 ? " warning" : " warnings"));
                xml.Start("ul");
                for (size_t i = 0; i < card.warnings.size() && i < 5; ++i)
                    Item(xml, view::ShortText(card.warnings[i], 200));
                xml.End();
                xml.End();
            }
        }
        xml.End();
        xml.End();
    }
    xml.EndAll();
    page += "\n";
    page += kPageScript;
    page += "</body>\n</html>\n";
    return page;
}

int RunView(const ViewCommandRequest& command) {
    ViewPlan plan;
    plan.generator = command.generator;
    if (!ApplyGeneratorOptions(command.options, &plan.generator))
        return kExitUsage;
    if (command.noCollision) {
        plan.choice = CollisionChoice::kNone;
    } else if (command.embedded) {
        plan.choice = CollisionChoice::kEmbedded;
    } else if (!command.colFile.empty()) {
        plan.choice = CollisionChoice::kFile;
        plan.colPath = command.colFile;
        std::vector<uint8_t> bytes;
        std::string why;
        if (!ReadWholeFile(command.colFile, &bytes, &why)) {
            PrintError(why);
            return kExitFailed;
        }
        // What reads of a damaged file is still drawn; the reader's
        // complaints go to standard error once.
        ReadColFile(bytes.data(), bytes.size(), &plan.col);
        if (plan.col.entries.empty()) {
            // Nothing to draw from it for any model: the file is refused.
            PrintError(
                command.colFile + ": no COL entry could be read" +
                (plan.col.errors.empty() ? std::string() : ": " + plan.col.errors.front().message));
            return kExitFailed;
        }
        for (const ColFileProblem& p : plan.col.errors)
            std::fprintf(stderr, "[warning] %s: %s\n", command.colFile.c_str(), p.message.c_str());
    }

    const bool page = !command.html.empty();
    if (page)
        plan.picture.maxModelTriangles = kPageModelTriangles;
    std::vector<InputFile> files = ExpandInputs(command.inputs.paths, command.inputs.recursive);
    if (!CheckColOutput(command.output, files.size()))
        return kExitUsage;
    const std::string outDir = page ? command.html : command.outDir;
    OutputRules rules;
    rules.force = command.force;
    if (!command.colFile.empty())
        rules.otherInputs.emplace_back(command.colFile, "the collision file");
    std::string pagePath;
    if (page) {
        pagePath = platform::Utf8FromPath(platform::PathFromUtf8(command.html) / "index.html");
        const std::string refusal = CheckSingleOutput(files, pagePath, rules);
        if (!refusal.empty()) {
            PrintError(pagePath + ": " + refusal);
            return kExitUsage;
        }
    }
    if (const int code = PrepareOutDir(outDir); code != kExitOk)
        return code;
    std::vector<std::string> outputs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].error.empty())
            outputs[i] =
                command.output.empty() ? OutputPathFor(files[i], ".svg", outDir) : command.output;
    }
    const std::vector<std::string> refusals = CheckOutputs(files, outputs, rules);

    std::vector<Card> cards(files.size());
    auto job = [&](size_t index, const std::string& path) {
        FileOutcome outcome;
        Card& card = cards[index];
        card.name = ModelNameOf(path);
        if (!refusals[index].empty()) {
            outcome.reason = refusals[index];
        } else {
            std::string picture;
            if (DrawModelFile(plan, path, &picture, &card, &outcome) &&
                (outDir.empty() || MakeParentFolders(outputs[index], &outcome.reason)) &&
                WriteFileAtomically(outputs[index],
                                    reinterpret_cast<const uint8_t*>(picture.data()),
                                    picture.size(), &outcome.reason, command.force)) {
                outcome.ok = true;
                if (page) {
                    const fs::path relative =
                        platform::PathFromUtf8(outputs[index])
                            .lexically_relative(platform::PathFromUtf8(outDir));
                    card.picture = UrlOfPath(platform::Utf8FromPath(relative));
                }
            }
        }
        if (!outcome.ok) {
            card.failed = true;
            card.failure = outcome.reason;
        }
        return outcome;
    };

    BatchSettings settings;
    settings.command = "view";
    settings.jobs = command.inputs.jobs;
    BatchResult result = RunBatch(files, job, settings);
    int exitCode = result.ExitCode();
    std::string more;
    if (page) {
        // Models of one name from different folders are told apart by path.
        std::map<std::string, size_t> named;
        for (const Card& card : cards)
            ++named[card.name];
        for (size_t i = 0; i < files.size(); ++i) {
            if (!files[i].error.empty()) {
                cards[i].name = files[i].path;
                cards[i].failed = true;
                cards[i].failure = files[i].error;
            } else if (named[cards[i].name] > 1) {
                cards[i].name = files[i].path;
            }
        }
        const std::string html = MakePage(cards);
        std::string why;
        if (WriteFileAtomically(pagePath, reinterpret_cast<const uint8_t*>(html.data()),
                                html.size(), &why, command.force)) {
            more = "page " + pagePath;
        } else {
            PrintError(pagePath + ": " + why);
            exitCode = kExitFailed;
        }
    }
    PrintSummary(result, "drawn", more);
    return exitCode;
}

}  // namespace

void AddViewCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ViewCommandRequest>();
    CLI::App* command = app.add_subcommand(
        "view",
        "Draw each model and its collision as an SVG picture (X.svg beside X.dff), or with "
        "--html one page for them all");
    AddInputOptions(*command, request->inputs);
    AddColOutputOptions(*command, request->output, request->outDir, request->force);
    command
        ->add_option("--html", request->html,
                     "Write DIR/index.html, a page with a card per model, and the pictures "
                     "beside it")
        ->type_name("DIR")
        ->excludes("--output")
        ->excludes("--out-dir");
    CLI::Option* embedded = command->add_flag(
        "--embedded", request->embedded,
        "Draw the collision embedded in the model instead of what col would make");
    CLI::Option* col = command
                           ->add_option("--col", request->colFile,
                                        "Draw an entry of this COL file: the one named as the "
                                        "model, else the first")
                           ->type_name("FILE")
                           ->check(ExistingFileValidator())
                           ->excludes(embedded);
    command->add_flag("--no-collision", request->noCollision, "Draw the model alone")
        ->excludes(embedded)
        ->excludes(col);
    AddGeneratorOptions(*command, request->generator, request->options);
    command->callback(
        [request, &context] { context.run = [request] { return RunView(*request); }; });
}

}  // namespace brennix::cli
