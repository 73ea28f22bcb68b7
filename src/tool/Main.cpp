#include <string>

#include "cli/Commands.h"
#include "platform/Platform.h"
#include "tool/Tool.h"

int main(int argc, char** argv) {
    // A command word first (brennix col ...) selects the commands; every
    // other command line goes to the classic scanner, which exits 0 whatever
    // happened.
    if (brennix::cli::IsCommandLine(argc, argv))
        return brennix::cli::RunCommands(argc, argv);
    try {
        std::string line = brennix::platform::RawCommandLine(argc, argv);
        brennix::ToolOptions options;
        brennix::ParseCommandLine(line.c_str(), &options);
        return brennix::RunTool(options);
    } catch (...) {
        return 0;
    }
}
