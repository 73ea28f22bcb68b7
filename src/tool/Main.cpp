#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "tool/Tool.h"

int main(int argc, char** argv) {
    // A command word first (brennix col ...) selects the commands; every
    // other command line goes to the classic scanner, which exits 0 whatever
    // happened.
    if (brennix::cli::IsCommandLine(argc, argv)) {
        // The commands take their arguments and name their files in UTF-8,
        // so that on Windows any file name works, not only those the ANSI
        // code page can spell.
        brennix::platform::UseUtf8FileNames();
        std::vector<std::string> arguments = brennix::platform::Utf8Arguments(argc, argv);
        std::vector<char*> pointers;
        try {
            for (std::string& argument : arguments)
                pointers.push_back(&argument[0]);
            pointers.push_back(nullptr);
        } catch (...) {
            arguments.clear();
        }
        if (arguments.empty()) {
            std::fputs("[error] out of memory\n", stderr);
            return 1;
        }
        return brennix::cli::RunCommands(static_cast<int>(arguments.size()), pointers.data());
    }
    try {
        std::string line = brennix::platform::RawCommandLine(argc, argv);
        brennix::ToolOptions options;
        brennix::ParseCommandLine(line.c_str(), &options);
        return brennix::RunTool(options);
    } catch (...) {
        return 0;
    }
}
