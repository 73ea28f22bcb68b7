// The entry of the commands (brennix col, info, ...), beside the classic
// switches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "col/ColFile.h"

namespace CLI {
class App;
}

namespace brennix::cli {

struct CommandContext;

// True when argv[1] is a command word, or --help or --version: the command
// line then belongs to the commands, and every other one to the classic
// scanner.
bool IsCommandLine(int argc, char** argv);

// Parses the command line and runs the command. Returns the exit status:
// 0 when every file succeeded, 1 when one failed or on an internal failure,
// 2 on a usage error (CLI11's message on standard error). Never throws.
int RunCommands(int argc, char** argv);

// The COL file commands (ColFileCommands.cpp): convert, split and merge.
void AddConvertCommand(CLI::App& app, CommandContext& context);
void AddSplitCommand(CLI::App& app, CommandContext& context);
void AddMergeCommand(CLI::App& app, CommandContext& context);

// Declares the option `name` taking col1, col2 or col3 (any case) into
// `version` (1, 2 or 3).
void AddColVersionOption(CLI::App& command, int& version, const std::string& name,
                         const std::string& description);

// Every entry of the COL file or archive in the `length` bytes at `data`,
// written again in the standard layout of `version` (1, 2 or 3) into `out`.
// Surfaces are mapped when the game family changes; what the version does
// not carry is left out. Each of these is told of in `notes` (`entry 0
// "gate": ...`), the reader's warnings in `warnings`. The result is read
// back and compared, record by record, with what was meant. False with `why`
// set when the file is refused by the reader, an entry cannot be written as
// `version`, or the result would not read back; `out` is then not to be used.
bool ConvertColBytes(const uint8_t* data, size_t length, int version, std::vector<uint8_t>* out,
                     std::vector<std::string>* notes, std::vector<std::string>* warnings,
                     std::string* why);

// One entry written in the standard layout of `version`, as ConvertColBytes
// writes each entry of a file: mapped, told of in `notes` and read back.
bool ConvertColEntry(const ColEntry& entry, int version, std::vector<uint8_t>* out,
                     std::vector<std::string>* notes, std::string* why);

}  // namespace brennix::cli
