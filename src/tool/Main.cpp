#include <string>

#include "platform/Platform.h"
#include "tool/Tool.h"

int main(int argc, char** argv) {
    std::string line = brennix::platform::RawCommandLine(argc, argv);
    brennix::ToolOptions options;
    brennix::ParseCommandLine(line.c_str(), &options);
    return brennix::RunTool(options);
}
