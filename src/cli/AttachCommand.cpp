// brennix attach: embeds a collision file in each model, as an entry of the
// clump's Extension.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "cli/ModelCommands.h"
#include "col/ColInfo.h"
#include "dff/WholeModelWrite.h"

namespace brennix::cli {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

// The options of --generate as the command line gives them.
struct GenerateOptions {
    std::string surfacesFile;
    bool noWeld = false;
    unsigned surface = 0;
};

// The name a generated collision carries: the model's file name without ".dff".
std::string ModelNameOf(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    if (name.size() > 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (tail == ".dff")
            name.resize(name.size() - 4);
    }
    return name;
}

int RunAttach(AttachRequest request, const GenerateOptions& options) {
    request.generator.weld = !options.noWeld;
    request.generator.surface = static_cast<uint8_t>(options.surface);
    if (!options.surfacesFile.empty()) {
        std::ifstream in(options.surfacesFile, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::string why;
        if (!in || in.bad()) {
            PrintError("--surfaces " + options.surfacesFile + ": cannot read the file");
            return kExitUsage;
        }
        if (!ParseSurfaceRules(text.str(), &request.generator.surfaces, &why)) {
            PrintError("--surfaces " + options.surfacesFile + ": " + why);
            return kExitUsage;
        }
    }
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    if (!CheckWriteTarget(request.target, files.size()))
        return kExitUsage;
    if (!request.col.empty()) {
        // One collision file for every model: read and checked before any.
        std::string why;
        if (!ReadWholeFile(request.col, &request.colBytes, &why)) {
            PrintError(why);
            return kExitFailed;
        }
        if (!CheckColFile(request.colBytes, &why)) {
            PrintError(request.col + ": " + why);
            return kExitFailed;
        }
    }
    BatchSettings settings;
    settings.command = "attach";
    settings.jobs = request.inputs.jobs;
    BatchResult result = RunBatch(
        files,
        [&request](size_t, const std::string& path) { return AttachModelFile(request, path); },
        settings);
    PrintSummary(result, "written");
    return result.ExitCode();
}

}  // namespace

FileOutcome AttachModelFile(const AttachRequest& request, const std::string& path) {
    FileOutcome outcome;
    WholeModel model;
    if (model.Load(path.c_str()) < 0) {
        outcome.reason = "cannot read the file";
        return outcome;
    }
    if (!model.hasClump) {
        outcome.reason =
            model.problems.empty() ? "the file holds no clump" : model.problems.front().message;
        return outcome;
    }
    const ChunkPlace* existing = FirstCollisionEntry(model);
    if (existing != nullptr && !request.replace) {
        outcome.reason = "the model already has a collision (entry " + Hex(existing->type) +
                         "); --replace replaces it";
        return outcome;
    }

    std::vector<uint8_t> beside;
    const std::vector<uint8_t>* col = &request.colBytes;
    if (request.generate) {
        std::vector<std::string> notes;
        if (!GenerateColBytes(model, request.generator, ModelNameOf(path), &beside, &outcome.reason,
                              &notes))
            return outcome;
        for (const std::string& note : notes)
            outcome.messages += "[info] " + path + ": " + note + "\n";
        col = &beside;
    } else if (request.col.empty()) {
        const std::string colPath = ColFileBeside(path);
        std::string why;
        if (!ReadWholeFile(colPath, &beside, &why)) {
            outcome.reason = "no collision file: " + why;
            return outcome;
        }
        if (!CheckColFile(beside, &why)) {
            outcome.reason = colPath + ": " + why;
            return outcome;
        }
        col = &beside;
    }

    const uint32_t type = request.vehicle ? kTypeVehicleCollisionEntry : kTypeCollisionEntry;
    std::vector<uint8_t> entries;
    std::vector<uint8_t> bytes;
    if (!BuildAttachedExtension(model, request.replace, type, col->data(), col->size(), &entries,
                                &outcome.reason) ||
        !WriteModelWithExtension(model, entries.data(), entries.size(), &bytes, &outcome.reason))
        return outcome;
    entries.clear();
    entries.shrink_to_fit();

    // The new entry must read back last in the clump's own Extension, whole.
    auto check = [col, type](const WholeModel& after, std::string* why) {
        const ChunkPlace* last =
            after.extensionEntries.empty() ? nullptr : &after.extensionEntries.back();
        if (after.extensionPlace != ExtensionPlace::kInside || last == nullptr ||
            last->type != type || last->size != col->size() || last->present != last->size ||
            std::memcmp(after.file.data + last->PayloadOffset(), col->data(), col->size()) != 0) {
            *why = "the written model would not read back with the collision";
            return false;
        }
        return true;
    };
    if (!WriteModelReadBack(TargetPath(request.target, path), bytes.data(), bytes.size(), model,
                            check, &outcome.reason))
        return outcome;
    outcome.ok = true;
    return outcome;
}

void AddAttachCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<AttachRequest>();
    auto options = std::make_shared<GenerateOptions>();
    CLI::App* command =
        app.add_subcommand("attach", "Embed a collision file in each model's clump Extension");
    AddInputOptions(*command, request->inputs);
    CLI::Option* col =
        command
            ->add_option("-c,--col", request->col,
                         "The collision file for every model (default: X.col beside each X.dff)")
            ->type_name("COL")
            ->check(CLI::ExistingFile);
    command->add_flag("--replace", request->replace,
                      "Remove every collision the model holds first (without it, a model that "
                      "holds one is refused)");
    command->add_flag("--vehicle", request->vehicle,
                      "Write the entry with the vehicles' id 0x253F2FA instead of 0x253F2FF");
    AddWriteOptions(*command, request->target);

    // The collision made in the same run, with the options of `brennix col`.
    CLI::Option* generate =
        command
            ->add_flag("--generate", request->generate,
                       "Make each model's collision as `brennix col` does, instead of a file; "
                       "its options follow")
            ->excludes(col);
    const std::map<std::string, Placement> placements{
        {"auto", Placement::kAuto}, {"frames", Placement::kFrames}, {"none", Placement::kNone}};
    command
        ->add_option("--place", request->generator.placement,
                     "With --generate: where the atomics' vertices go")
        ->type_name("auto|frames|none")
        ->transform(CLI::CheckedTransformer(placements, CLI::ignore_case).description(""))
        ->needs(generate);
    const std::map<std::string, ColShape> shapes{
        {"mesh", ColShape::kMesh}, {"box", ColShape::kBox}, {"empty", ColShape::kEmpty}};
    command
        ->add_option("--shape", request->generator.shape,
                     "With --generate: every triangle, one box, or the bounds only")
        ->type_name("mesh|box|empty")
        ->transform(CLI::CheckedTransformer(shapes, CLI::ignore_case).description(""))
        ->needs(generate);
    command
        ->add_option("--skip", request->generator.skip,
                     "With --generate: leave out the atomics whose frame name matches; "
                     "repeatable")
        ->type_name("GLOB")
        ->allow_extra_args(false)
        ->needs(generate);
    command
        ->add_flag("--no-weld", options->noWeld,
                   "With --generate: keep every vertex instead of merging close ones")
        ->needs(generate);
    command
        ->add_option("--surface", options->surface,
                     "With --generate: surface id of every face (default 0)")
        ->type_name("N")
        ->check(CLI::Range(0u, 255u))
        ->needs(generate);
    command
        ->add_option("--surfaces", options->surfacesFile,
                     "With --generate: surface ids by texture name, lines like 'grass* = 9'")
        ->type_name("FILE")
        ->check(CLI::ExistingFile)
        ->needs(generate);
    command
        ->add_flag("--face-groups", request->generator.faceGroups,
                   "With --generate: order the faces in groups of at most 50")
        ->needs(generate);
    command->callback([request, options, &context] {
        context.run = [request, options] { return RunAttach(*request, *options); };
    });
}

}  // namespace brennix::cli
