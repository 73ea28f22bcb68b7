// brennix info: lists each model file that the inputs expand to.
#include <memory>

#include "cli/Command.h"

namespace brennix::cli {

namespace {

struct InfoRequest {
    InputOptions inputs;
};

int RunInfo(const InfoRequest& request) {
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    BatchSettings settings;
    settings.command = "info";
    settings.jobs = request.inputs.jobs;
    BatchResult result = RunBatch(
        files,
        [](size_t, const std::string& path) {
            FileOutcome outcome;
            outcome.out = path + "\n";
            outcome.ok = true;
            return outcome;
        },
        settings);
    PrintSummary(result, "listed");
    return result.ExitCode();
}

}  // namespace

void AddInfoCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<InfoRequest>();
    CLI::App* command = app.add_subcommand("info", "Describe each model");
    AddInputOptions(*command, request->inputs);
    command->callback(
        [request, &context] { context.run = [request] { return RunInfo(*request); }; });
}

}  // namespace brennix::cli
