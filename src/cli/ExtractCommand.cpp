// brennix extract: writes the collision file embedded in each model.
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "cli/ModelCommands.h"
#include "dff/WholeModelWrite.h"

namespace fs = std::filesystem;

namespace brennix::cli {

namespace {

std::string NormalPath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

std::string OutputOf(const ExtractRequest& request, const std::string& path) {
    return request.output.empty() ? OutputPathFor(path, ".col", request.outDir) : request.output;
}

int RunExtract(const ExtractRequest& request) {
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    if (!request.output.empty() && files.size() != 1) {
        PrintError("-o names the output of one model; use --out-dir for several");
        return kExitUsage;
    }
    // Two models that would write one file (a.dff and A.DFF from two folders
    // into one --out-dir) would overwrite each other: the later one fails.
    std::vector<std::string> clashes(files.size());
    std::map<std::string, size_t> first;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i].error.empty())
            continue;
        const std::string target = OutputOf(request, files[i].path);
        auto placed = first.emplace(NormalPath(target), i);
        if (!placed.second)
            clashes[i] = "its output " + target + " is also the output of " +
                         files[placed.first->second].path;
    }
    BatchSettings settings;
    settings.command = "extract";
    settings.jobs = request.inputs.jobs;
    BatchResult result = RunBatch(
        files,
        [&request, &clashes](size_t index, const std::string& path) {
            if (!clashes[index].empty()) {
                FileOutcome outcome;
                outcome.reason = clashes[index];
                return outcome;
            }
            return ExtractModelFile(request, path);
        },
        settings);
    PrintSummary(result, "written");
    return result.ExitCode();
}

}  // namespace

FileOutcome ExtractModelFile(const ExtractRequest& request, const std::string& path) {
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
    if (!WriteFileAtomically(OutputOf(request, path), model.file.data + entry->PayloadOffset(),
                             entry->size, &outcome.reason))
        return outcome;
    outcome.ok = true;
    return outcome;
}

void AddExtractCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ExtractRequest>();
    CLI::App* command = app.add_subcommand(
        "extract", "Write the collision embedded in each model as X.col beside it");
    AddInputOptions(*command, request->inputs);
    CLI::Option* output =
        command->add_option("-o,--output", request->output, "The output file (one model only)")
            ->type_name("FILE");
    command->add_option("--out-dir", request->outDir, "Write every output into this folder")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory)
        ->excludes(output);
    command->callback(
        [request, &context] { context.run = [request] { return RunExtract(*request); }; });
}

}  // namespace brennix::cli
