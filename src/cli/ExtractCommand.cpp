// brennix extract: writes the collision file embedded in each model.
#include <memory>

#include "cli/ModelCommands.h"
#include "dff/WholeModelWrite.h"

namespace brennix::cli {

namespace {

// Writes the collision of the model at `path` to `output`.
FileOutcome ExtractTo(const ExtractRequest& request, const std::string& path,
                      const std::string& output) {
    FileOutcome outcome;
    WholeModel model;
    if (!LoadClumpModel(path, &model, &outcome.reason))
        return outcome;
    const ChunkPlace* entry = FirstCollisionEntry(model);
    if (entry == nullptr) {
        outcome.reason = "the model has no embedded collision";
        return outcome;
    }
    if (entry->present < entry->size) {
        outcome.reason = "the embedded collision is cut short";
        return outcome;
    }
    if (entry->size == 0) {
        outcome.reason = "the embedded collision is empty";
        return outcome;
    }
    if ((!request.outDir.empty() && !MakeParentFolders(output, &outcome.reason)) ||
        !WriteFileAtomically(output, model.file.data + entry->PayloadOffset(), entry->size,
                             &outcome.reason, request.force))
        return outcome;
    outcome.ok = true;
    return outcome;
}

int RunExtract(const ExtractRequest& request) {
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    if (!CheckColOutput(request.output, files.size()))
        return kExitUsage;
    if (const int code = PrepareOutDir(request.outDir); code != kExitOk)
        return code;
    OutputRules rules;
    rules.force = request.force;
    const std::vector<std::string> outputs = ColOutputPaths(files, request.output, request.outDir);
    const std::vector<std::string> refusals = CheckOutputs(files, outputs, rules);
    return RunCommandBatch(
        "extract", files, request.inputs.jobs,
        [&](size_t index, const std::string& path) {
            if (!refusals[index].empty()) {
                FileOutcome outcome;
                outcome.reason = refusals[index];
                return outcome;
            }
            return ExtractTo(request, path, outputs[index]);
        },
        "written");
}

}  // namespace

FileOutcome ExtractModelFile(const ExtractRequest& request, const std::string& path) {
    return ExtractTo(request, path, ColOutputPath(request.output, request.outDir, path));
}

void AddExtractCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ExtractRequest>();
    CLI::App* command = app.add_subcommand(
        "extract", "Write the collision embedded in each model as X.col beside it");
    AddInputOptions(*command, request->inputs);
    AddColOutputOptions(*command, request->output, request->outDir, request->force);
    command->callback(
        [request, &context] { context.run = [request] { return RunExtract(*request); }; });
}

}  // namespace brennix::cli
