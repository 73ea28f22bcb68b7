// brennix attach: embeds a collision file in each model, as an entry of the
// clump's Extension.
#include <cstring>
#include <memory>
#include <string>

#include "cli/ModelCommands.h"
#include "col/ColInfo.h"
#include "dff/WholeModelWrite.h"

namespace brennix::cli {

namespace {

int RunAttach(AttachRequest request, const GeneratorOptions& options) {
    if (options.faceGroups || options.noFaceGroups) {
        PrintError(std::string(options.faceGroups ? "--face-groups" : "--no-face-groups") +
                   ": attach writes no face groups (the game drops them from collision held in "
                   "a model)");
        return kExitUsage;
    }
    if (!ApplyGeneratorOptions(options, &request.generator))
        return kExitUsage;
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
    OutputRules rules;
    rules.force = request.target.force;
    rules.inPlace = request.target.inPlace;
    rules.writesModels = true;
    if (!request.col.empty())
        rules.otherInputs.emplace_back(request.col, "the collision file");
    std::vector<std::string> outputs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i].error.empty())
            continue;
        outputs[i] = TargetPath(request.target, files[i].path);
        // With -o there is one model, whose collision file beside it is an
        // input too.
        if (!request.target.inPlace && request.col.empty() && !request.generate)
            rules.otherInputs.emplace_back(ColFileBeside(files[i].path), "the collision file");
    }
    const std::vector<std::string> refusals = CheckOutputs(files, outputs, rules);
    std::vector<ColStats> stats(files.size());  // each job fills its own
    std::vector<uint8_t> made(files.size(), 0);
    BatchSettings settings;
    settings.command = "attach";
    settings.jobs = request.inputs.jobs;
    const BatchResult result = RunBatch(
        files,
        [&](size_t index, const std::string& path) {
            if (!refusals[index].empty()) {
                FileOutcome outcome;
                outcome.reason = refusals[index];
                return outcome;
            }
            FileOutcome outcome = AttachModelFile(request, path, &stats[index]);
            made[index] = outcome.ok ? 1 : 0;
            return outcome;
        },
        settings);
    ColTally tally;
    if (request.generate && request.generator.shape == ColShape::kMesh) {
        for (size_t i = 0; i < files.size(); ++i) {
            if (made[i] != 0)
                tally.Add(stats[i]);
        }
    }
    PrintSummary(result, "written", tally.SummaryText());
    return result.ExitCode();
}

}  // namespace

FileOutcome AttachModelFile(const AttachRequest& request, const std::string& path,
                            ColStats* stats) {
    FileOutcome outcome;
    WholeModel model;
    if (!LoadClumpModel(path, &model, &outcome.reason))
        return outcome;
    outcome.messages += WarningLines(model, path);
    const ChunkPlace* existing = FirstCollisionEntry(model);
    if (existing != nullptr && !request.replace) {
        outcome.reason = "the model already has a collision (entry " + Hex(existing->type) +
                         "); --replace replaces it";
        return outcome;
    }

    std::vector<uint8_t> beside;
    const std::vector<uint8_t>* col = &request.colBytes;
    if (request.generate) {
        ColRequest generator = request.generator;
        generator.faceGroups = FaceGroups::kOff;
        std::vector<std::string> notes;
        if (!GenerateColBytes(model, generator, ModelNameOf(path), &beside, &outcome.reason, &notes,
                              stats))
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
    auto options = std::make_shared<GeneratorOptions>();
    CLI::App* command =
        app.add_subcommand("attach", "Embed a collision file in each model's clump Extension");
    AddInputOptions(*command, request->inputs);
    CLI::Option* col =
        command
            ->add_option("-c,--col", request->col,
                         "The collision file for every model (default: X.col beside each X.dff)")
            ->type_name("COL")
            ->check(ExistingFileValidator());
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
    AddGeneratorOptions(*command, request->generator, *options, generate);
    command->callback([request, options, &context] {
        context.run = [request, options] { return RunAttach(*request, *options); };
    });
}

}  // namespace brennix::cli
