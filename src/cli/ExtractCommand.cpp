// brennix extract: writes the collision file embedded in each model.
#include <memory>

#include "cli/ModelCommands.h"
#include "dff/WholeModelWrite.h"

namespace brennix::cli {

namespace {

int RunExtract(const ExtractRequest& request) {
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    if (!CheckColOutput(request.output, files.size()))
        return kExitUsage;
    const std::vector<std::string> clashes =
        ColOutputClashes(files, request.output, request.outDir);
    return RunCommandBatch(
        "extract", files, request.inputs.jobs,
        [&request, &clashes](size_t index, const std::string& path) {
            if (!clashes[index].empty()) {
                FileOutcome outcome;
                outcome.reason = clashes[index];
                return outcome;
            }
            return ExtractModelFile(request, path);
        },
        "written");
}

}  // namespace

FileOutcome ExtractModelFile(const ExtractRequest& request, const std::string& path) {
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
    if (!WriteFileAtomically(ColOutputPath(request.output, request.outDir, path),
                             model.file.data + entry->PayloadOffset(), entry->size,
                             &outcome.reason))
        return outcome;
    outcome.ok = true;
    return outcome;
}

void AddExtractCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ExtractRequest>();
    CLI::App* command = app.add_subcommand(
        "extract", "Write the collision embedded in each model as X.col beside it");
    AddInputOptions(*command, request->inputs);
    AddColOutputOptions(*command, request->output, request->outDir);
    command->callback(
        [request, &context] { context.run = [request] { return RunExtract(*request); }; });
}

}  // namespace brennix::cli
