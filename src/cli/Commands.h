// The entry of the commands (brennix col, info, ...), beside the classic
// switches.
#pragma once

namespace brennix::cli {

// True when argv[1] is a command word, or --help or --version: the command
// line then belongs to the commands, and every other one to the classic
// scanner.
bool IsCommandLine(int argc, char** argv);

// Parses the command line and runs the command. Returns the exit status:
// 0 when every file succeeded, 1 when one failed or on an internal failure,
// 2 on a usage error (CLI11's message on standard error). Never throws.
int RunCommands(int argc, char** argv);

}  // namespace brennix::cli
