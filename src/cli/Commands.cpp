#include "cli/Commands.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "cli/Command.h"
#include "platform/Paths.h"

namespace brennix::cli {

namespace {

const char* const kCommandWords[] = {"col",   "info",    "attach", "extract", "paint",
                                     "night", "convert", "split",  "merge",   "view"};

}  // namespace

bool IsCommandLine(int argc, char** argv) {
    if (argc < 2 || argv == nullptr || argv[1] == nullptr)
        return false;
    // Only a command word selects the commands: every other line, "--help"
    // included, is the classic program's and keeps its classic answer.
    const char* first = argv[1];
    for (const char* word : kCommandWords) {
        if (std::strcmp(first, word) == 0)
            return true;
    }
    return false;
}

int RunCommands(int argc, char** argv) {
    try {
        CLI::App app{"Tools for DFF models and COL collision files.", "brennix"};
        app.set_version_flag("--version", "brennix " BRENNIX_VERSION);
        app.require_subcommand(1);
        // "brennix col --version": options a command does not know fall
        // through to the program's own, such as the version flag.
        app.fallthrough();
        CommandContext context;
        AddColCommand(app, context);
        AddInfoCommand(app, context);
        AddAttachCommand(app, context);
        AddExtractCommand(app, context);
        AddPaintCommand(app, context);
        AddNightCommand(app, context);
        AddConvertCommand(app, context);
        AddSplitCommand(app, context);
        AddMergeCommand(app, context);
        AddViewCommand(app, context);
        // Set after the subcommands, which would otherwise inherit it.
        app.footer(
            "Without a command word the classic switches apply, e.g. brennix -i -d MODEL.dff");
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            // Help and version answer on standard output with 0; any other
            // parse error is a usage error.
            int code = app.exit(e);
            return code == 0 ? kExitOk : kExitUsage;
        }
        if (!context.run)
            return kExitUsage;
        return context.run();
    } catch (const std::bad_alloc&) {
        std::fputs("[error] out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[error] internal failure: %s\n", e.what());
    } catch (...) {
        std::fputs("[error] internal failure\n", stderr);
    }
    return kExitFailed;
}

void AddInputOptions(CLI::App& command, InputOptions& options) {
    command.add_option("inputs", options.paths, "Model files, or folders of .dff files")
        ->required()
        ->type_name("MODEL|FOLDER");
    command.add_flag("-r,--recursive", options.recursive, "Take folders' sub-folders too");
    command
        .add_option("-j,--jobs", options.jobs,
                    "Files worked on at once (default: the number of cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
}

CLI::Validator ExistingFileValidator() {
    return CLI::Validator(
        [](std::string& name) -> std::string {
            std::error_code ec;
            const auto status = std::filesystem::status(platform::PathFromUtf8(name), ec);
            if (!std::filesystem::exists(status))
                return "File does not exist: " + name;
            if (std::filesystem::is_directory(status))
                return "File is actually a directory: " + name;
            return std::string();
        },
        "FILE");
}

}  // namespace brennix::cli
