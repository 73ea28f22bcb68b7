// brennix col: one standard COL3 collision file per model, made from every
// atomic of the clump, or one COL archive of all of them; with --format, the
// same collision written as version 1 (which also takes coordinates beyond
// what COL3 holds) or 2.
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

#include "cli/Commands.h"
#include "cli/ModelCommands.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"

namespace brennix::cli {

namespace {

struct ColCommandRequest {
    InputOptions inputs;
    std::string output;   // -o: the one model's output
    std::string outDir;   // --out-dir
    std::string archive;  // --archive: every model into this one file
    bool force = false;   // outputs that exist may be replaced
    int format = 3;       // --format: the COL version written
    ColRequest generator;
    GeneratorOptions options;
};

// `bytes` in place of what `image` holds.
bool ReplaceImage(const std::vector<uint8_t>& bytes, ByteBuffer* image, std::string* why) {
    image->Reset();
    if (image->Append(bytes.data(), static_cast<uint32_t>(bytes.size())) != bytes.size()) {
        *why = "out of memory";
        return false;
    }
    return true;
}

// One model file to the standard bytes of COL `version`, for the caller to
// Release. Version 1 stores floats, so its collision is made without the
// -256 .. 256 limit of the later versions; version 2 is the COL3 collision
// written again. False with `why` set. The model's warnings are added to
// `messages`.
bool MakeColOfFile(const std::string& path, const ColRequest& request, int version, ByteBuffer* out,
                   std::string* why, std::vector<std::string>* notes, std::string* messages,
                   ColStats* stats) {
    WholeModel model;
    if (model.Load(path.c_str()) < 0) {
        *why = ReadFailureReason(path);
        return false;
    }
    *messages += WarningLines(model, path);
    std::vector<uint8_t> converted;
    if (version == 1) {
        ColRequest wide = request;
        wide.wideRange = true;
        ColEntry entry;
        return GenerateColEntry(model, wide, ModelNameOf(path), &entry, why, notes, stats) &&
               ConvertColEntry(entry, 1, &converted, notes, why) &&
               ReplaceImage(converted, out, why);
    }
    if (!GenerateColBytes(model, request, ModelNameOf(path), out, why, notes, stats))
        return false;
    if (version == 3)
        return true;
    std::vector<std::string> warnings;
    return ConvertColBytes(out->data, out->length, version, &converted, notes, &warnings, why) &&
           ReplaceImage(converted, out, why);
}

// A COL3 image freed when it goes out of scope.
struct OwnedImage {
    ByteBuffer bytes;
    OwnedImage() = default;
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    ~OwnedImage() { bytes.Release(); }
};

// A number that is finite and not negative.
CLI::Validator FiniteNonNegativeValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0)
                return "Value " + text + " is not a finite number of 0 or more";
            return std::string();
        },
        "");
}

bool ReadTextFile(const std::string& path, std::string* text, std::string* why) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes, why))
        return false;
    text->assign(bytes.begin(), bytes.end());
    return true;
}

int RunCol(const ColCommandRequest& command) {
    ColRequest request = command.generator;
    if (!ApplyGeneratorOptions(command.options, &request))
        return kExitUsage;
    if (command.format == 1) {
        // Version 1 holds no face groups: none are made for it.
        if (command.options.faceGroups) {
            PrintError("--face-groups: version 1 holds no face groups");
            return kExitUsage;
        }
        request.faceGroups = FaceGroups::kOff;
    }

    std::vector<InputFile> files = ExpandInputs(command.inputs.paths, command.inputs.recursive);
    if (!CheckColOutput(command.output, files.size()))
        return kExitUsage;
    const bool toArchive = !command.archive.empty();
    OutputRules rules;
    rules.force = command.force;
    if (toArchive) {
        // The archive is the run's one output: refused before any work.
        const std::string refusal = CheckSingleOutput(files, command.archive, rules);
        if (!refusal.empty()) {
            PrintError("--archive " + command.archive + ": " + refusal);
            return kExitUsage;
        }
    } else if (const int code = PrepareOutDir(command.outDir); code != kExitOk) {
        return code;
    }
    const std::vector<std::string> outputs =
        toArchive ? std::vector<std::string>(files.size())
                  : ColOutputPaths(files, command.output, command.outDir);
    const std::vector<std::string> refusals = CheckOutputs(files, outputs, rules);

    std::vector<OwnedImage> entries(toArchive ? files.size() : 0);
    std::vector<ColStats> stats(files.size());  // each job fills its own
    std::vector<uint8_t> made(files.size(), 0);
    auto job = [&](size_t index, const std::string& path) {
        FileOutcome outcome;
        if (!refusals[index].empty()) {
            outcome.reason = refusals[index];
            return outcome;
        }
        OwnedImage image;
        std::vector<std::string> notes;
        const bool generated =
            MakeColOfFile(path, request, command.format, &image.bytes, &outcome.reason, &notes,
                          &outcome.messages, &stats[index]);
        for (const std::string& note : notes)
            outcome.messages += "[info] " + path + ": " + note + "\n";
        if (!generated)
            return outcome;
        if (toArchive) {
            std::swap(entries[index].bytes, image.bytes);  // the entry takes it over
        } else if ((!command.outDir.empty() &&
                    !MakeParentFolders(outputs[index], &outcome.reason)) ||
                   !WriteFileAtomically(outputs[index], image.bytes.data, image.bytes.length,
                                        &outcome.reason, command.force)) {
            return outcome;
        }
        made[index] = 1;
        outcome.ok = true;
        return outcome;
    };

    BatchSettings settings;
    settings.command = "col";
    settings.jobs = command.inputs.jobs;
    BatchResult result = RunBatch(files, job, settings);

    int exitCode = result.ExitCode();
    if (toArchive) {
        std::string why;
        if (result.succeeded == 0) {
            why = "not written: no model could be added";
        } else {
            std::vector<uint8_t> archive;
            for (const OwnedImage& entry : entries)
                archive.insert(archive.end(), entry.bytes.data,
                               entry.bytes.data + entry.bytes.length);
            WriteFileAtomically(command.archive, archive.data(), archive.size(), &why,
                                command.force);
        }
        if (!why.empty()) {
            // Nothing was added after all: the summary says so.
            PrintError(command.archive + ": " + why);
            result.failed += result.succeeded;
            result.succeeded = 0;
            exitCode = kExitFailed;
        }
    }
    ColTally tally;
    if (request.shape == ColShape::kMesh && result.succeeded > 0) {
        for (size_t i = 0; i < files.size(); ++i) {
            if (made[i] != 0)
                tally.Add(stats[i]);
        }
    }
    PrintSummary(result, toArchive ? "added" : "written", tally.SummaryText());
    return exitCode;
}

}  // namespace

void AddGeneratorOptions(CLI::App& command, ColRequest& generator, GeneratorOptions& options,
                         CLI::Option* generate) {
    std::vector<CLI::Option*> declared;
    const std::map<std::string, Placement> placements{
        {"auto", Placement::kAuto}, {"frames", Placement::kFrames}, {"none", Placement::kNone}};
    declared.push_back(
        command
            .add_option("--place", generator.placement,
                        "Where the atomics' vertices go: by their frames, as stored, or auto "
                        "(frames when the model has more than one atomic)")
            ->type_name("auto|frames|none")
            ->transform(CLI::CheckedTransformer(placements, CLI::ignore_case).description("")));
    const std::map<std::string, ColShape> shapes{
        {"mesh", ColShape::kMesh}, {"box", ColShape::kBox}, {"empty", ColShape::kEmpty}};
    declared.push_back(
        command
            .add_option("--shape", generator.shape,
                        "Every triangle, one box equal to the bounds, or the bounds only")
            ->type_name("mesh|box|empty")
            ->transform(CLI::CheckedTransformer(shapes, CLI::ignore_case).description("")));
    declared.push_back(
        command
            .add_option("--skip", generator.skip,
                        "Leave out the atomics whose frame name matches (* and ?, any case); "
                        "repeatable")
            ->type_name("GLOB")
            ->allow_extra_args(false));
    declared.push_back(
        command.add_flag("--no-weld", options.noWeld,
                         "Keep every vertex and triangle instead of merging vertices that fall on "
                         "one 1/128 point"));
    declared.push_back(
        command.add_option("--surface", options.surface, "Surface id of every face (default 0)")
            ->type_name("N")
            ->check(CLI::Range(0u, 255u)));
    declared.push_back(
        command
            .add_option("--surfaces", options.surfacesFile,
                        "Surface ids by texture name, lines like 'grass* = 9'; the first match "
                        "wins, others get --surface")
            ->type_name("FILE")
            ->check(ExistingFileValidator()));
    declared.push_back(
        command
            .add_option("--max-error", generator.maxError,
                        "How far, in model units, the faces may depart from the triangles, "
                        "measured both ways; fewer faces where they stay within it (default "
                        "0.05; 0 keeps every triangle)")
            ->type_name("D")
            ->check(FiniteNonNegativeValidator()));
    declared.push_back(command
                           .add_option("--max-faces", generator.maxFaces,
                                       "At most N faces, past --max-error when it takes that")
                           ->type_name("N")
                           ->check(CLI::Range(1u, kMaxColFaces)));
    if (generate != nullptr) {
        for (CLI::Option* option : declared)
            option->needs(generate)->group("With --generate");
        // Collision held in a model loses its face groups when the game loads
        // it: attach never writes them, and says so when they are asked for.
        command.add_flag("--face-groups", options.faceGroups)->group("");
        command.add_flag("--no-face-groups", options.noFaceGroups)->group("");
        return;
    }
    CLI::Option* on = command.add_flag(
        "--face-groups", options.faceGroups,
        "Order the faces in groups of at most 50 with a box each, whatever their number "
        "(default: for more than 80 faces)");
    command.add_flag("--no-face-groups", options.noFaceGroups, "Write the faces without groups")
        ->excludes(on);
}

bool ApplyGeneratorOptions(const GeneratorOptions& options, ColRequest* generator) {
    generator->weld = !options.noWeld;
    if (options.faceGroups)
        generator->faceGroups = FaceGroups::kOn;
    else if (options.noFaceGroups)
        generator->faceGroups = FaceGroups::kOff;
    generator->surface = static_cast<uint8_t>(options.surface);
    if (options.surfacesFile.empty())
        return true;
    std::string text, why;
    if (!ReadTextFile(options.surfacesFile, &text, &why)) {
        PrintError("--surfaces " + why);
        return false;
    }
    if (!ParseSurfaceRules(text, &generator->surfaces, &why)) {
        PrintError("--surfaces " + options.surfacesFile + ": " + why);
        return false;
    }
    return true;
}

void ColTally::Add(const ColStats& stats) {
    ++models;
    triangles += stats.triangles;
    faces += stats.faces;
    maxDistance = std::fmax(maxDistance, stats.maxDistance);
}

std::string ColTally::SummaryText() const {
    if (models == 0)
        return "";
    return GroupedCount(triangles) + (triangles == 1 ? " triangle -> " : " triangles -> ") +
           GroupedCount(faces) + (faces == 1 ? " face" : " faces") + ", largest distance " +
           DistanceText(maxDistance);
}

std::string GroupedCount(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string DistanceText(double distance) {
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", distance);
    return text;
}

void AddColCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ColCommandRequest>();
    CLI::App* command = app.add_subcommand(
        "col", "Make a COL3 collision file for each model from all of its atomics");
    AddInputOptions(*command, request->inputs);
    AddColOutputOptions(*command, request->output, request->outDir, request->force);
    command
        ->add_option("--archive", request->archive,
                     "Write every model as one entry of this COL archive, in the order given; "
                     "an archive that exists needs --force, and one that may not be written "
                     "is refused before any work (exit 2)")
        ->type_name("FILE")
        ->excludes("--output")
        ->excludes("--out-dir");
    AddColVersionOption(
        *command, request->format, "--format",
        "The COL version to write (default col3); col1 maps surfaces to the earlier "
        "family and holds coordinates beyond -256 .. 256");
    AddGeneratorOptions(*command, request->generator, request->options);
    command->callback(
        [request, &context] { context.run = [request] { return RunCol(*request); }; });
}

}  // namespace brennix::cli
