// What every command shares: the context that carries the chosen command
// from parsing to running, the input options, and the commands' entry points.
//
// How a command is built (InfoCommand.cpp is the smallest example):
//  1. `Add<Name>Command(CLI::App& app, CommandContext& context)` adds one
//     subcommand to the app and declares its options, bound to the fields of
//     a plain request record held in a shared_ptr (AddInputOptions declares
//     MODEL|FOLDER..., -r and -j). Add the call to Commands.cpp.
//  2. The subcommand's callback only stores `context.run`, a function that
//     runs the request record. Parsing stays out of the work, and the work
//     starts only after the whole command line was accepted.
//  3. The run function checks what CLI11 cannot (e.g. -o with one model only;
//     PrintError and return kExitUsage), expands the inputs (ExpandInputs),
//     and calls RunBatch with a job: a function from one file's index and
//     path to its FileOutcome (success, or the reason of the failure, plus
//     any data for standard output). It ends with PrintSummary and returns
//     the BatchResult's ExitCode(); RunCommandBatch does all three for a
//     command whose work is the batch alone.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "cli/Batch.h"

namespace brennix::cli {

struct CommandContext {
    // Set by the chosen subcommand's callback; returns the exit code.
    std::function<int()> run;
};

// The options every command over model files takes.
struct InputOptions {
    std::vector<std::string> paths;
    bool recursive = false;
    unsigned jobs = 0;  // 0: DefaultJobs()
};

// Declares MODEL|FOLDER... (at least one), -r/--recursive and -j/--jobs N.
void AddInputOptions(CLI::App& command, InputOptions& options);

// CLI::ExistingFile for the commands' UTF-8 names: the value names something
// that is there and is no folder.
CLI::Validator ExistingFileValidator();

void AddColCommand(CLI::App& app, CommandContext& context);
void AddInfoCommand(CLI::App& app, CommandContext& context);
void AddAttachCommand(CLI::App& app, CommandContext& context);
void AddExtractCommand(CLI::App& app, CommandContext& context);
void AddPaintCommand(CLI::App& app, CommandContext& context);
void AddNightCommand(CLI::App& app, CommandContext& context);
void AddViewCommand(CLI::App& app, CommandContext& context);

}  // namespace brennix::cli
