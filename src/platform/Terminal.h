// Whether a standard stream is an interactive terminal, for the commands'
// progress line.
#pragma once

#include <cstdio>

namespace brennix::platform {

// True when the stream is attached to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

}  // namespace brennix::platform
