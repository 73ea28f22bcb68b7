// What the target operating system provides: the raw command line, the
// directory search, the debugger channel and safe file replacement. Every
// other subsystem is plain standard C++.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace brennix::platform {

// The process's raw command line: on Windows the line as typed; on POSIX the
// program's file name (argv[0] after its last '/') followed by each argument,
// each preceded by one space. The directory part is left out because a POSIX
// path is full of '/', which the scanner treats as switches.
std::string RawCommandLine(int argc, char** argv);

struct DirectoryEntry {
    std::string name;
    bool isDirectory;
};

// Entries of the current directory whose names end in ".dff" (any case), in
// the order the system search returns them (byte order of names on POSIX).
// False when the search cannot start.
bool FindModelFiles(std::vector<DirectoryEntry>* entries);

// Sends one diagnostic line to the debugger channel (standard error on POSIX).
void DebugOutput(const char* text);

// Size of an open file, or false when it cannot be told.
bool FileSize(std::FILE* file, uint64_t* size);

// A run of bytes to be written.
struct Segment {
    const uint8_t* data;
    uint32_t length;
};

// Replaces the file at path with the segments' bytes, one after the other,
// through a temporary file beside it and a rename, so the target is never
// left partly written. Keeps an existing target's permission bits and writes
// through a symbolic link. False when anything failed; the target is then
// unchanged.
bool ReplaceFile(const char* path, const Segment* segments, size_t count);

}  // namespace brennix::platform
