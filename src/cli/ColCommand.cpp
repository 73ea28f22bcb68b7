// brennix col: one COL3 collision file per model.
#include <memory>

#include "cli/Command.h"

namespace brennix::cli {

namespace {

struct ColRequest {
    InputOptions inputs;
    std::string output;
    std::string outDir;
};

int RunCol(const ColRequest& request) {
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    if (!request.output.empty() && files.size() != 1) {
        PrintError("-o names the output of one model; use --out-dir for several");
        return kExitUsage;
    }
    BatchSettings settings;
    settings.command = "col";
    settings.jobs = request.inputs.jobs;
    BatchResult result = RunBatch(
        files,
        [](size_t, const std::string&) {
            FileOutcome outcome;
            outcome.reason = "not built yet";
            return outcome;
        },
        settings);
    PrintSummary(result, "written");
    return result.ExitCode();
}

}  // namespace

void AddColCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ColRequest>();
    CLI::App* command = app.add_subcommand("col", "Make a COL3 collision file for each model");
    AddInputOptions(*command, request->inputs);
    CLI::Option* output =
        command->add_option("-o,--output", request->output, "The output file (one model only)")
            ->type_name("FILE");
    command->add_option("--out-dir", request->outDir, "Write every output into this folder")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory)
        ->excludes(output);
    command->callback(
        [request, &context] { context.run = [request] { return RunCol(*request); }; });
}

}  // namespace brennix::cli
