// What the target operating system provides: the raw command line, the
// directory search, the debugger channel and safe file replacement. Every
// other subsystem is plain standard C++.
//
// No function here lets an exception out: a failure to get memory ends the
// operation with its failure result, as any other failure does.
//
// File names are the program's 8-bit text. On Windows that text is in the
// ANSI code page, as the classic program and the library's callers give it,
// unless UseUtf8FileNames() was called: the commands then hand UTF-8 names,
// which are opened through the wide functions so that any name works.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace brennix::platform {

// The process's raw command line: on Windows the line as typed; on POSIX the
// program's file name (argv[0] after its last '/') followed by each argument,
// each preceded by one space. The directory part is left out because a POSIX
// path is full of '/', which the scanner treats as switches. Empty when the
// line cannot be had (out of memory).
std::string RawCommandLine(int argc, char** argv) noexcept;

struct DirectoryEntry {
    std::string name;
    bool isDirectory;
    // A FIFO, device or socket once links are followed: no more a model file
    // than a directory is.
    bool isSpecial = false;
};

// Entries of the current directory whose names end in ".dff" (any case), in
// the order the system search returns them (byte order of names on POSIX).
// False, with no entries, when the search cannot start or fails part way.
bool FindModelFiles(std::vector<DirectoryEntry>* entries) noexcept;

// When no entry of the current directory is named `name` exactly, looks for
// the entries whose names equal it with ASCII case ignored and sets *found to
// the first of them in byte order. False when the exact name exists, nothing
// matches or the search fails. Always false on Windows, whose file names
// ignore case already.
bool FindEntryIgnoringCase(const char* name, std::string* found) noexcept;

// Sends one diagnostic line to the debugger channel (standard error on POSIX).
void DebugOutput(const char* text) noexcept;

// From here on, file names given to OpenRegularFile, ReplaceFile and
// WriteWholeFile are UTF-8 (on Windows; elsewhere names are bytes and nothing
// changes). Called once by the commands' entry before any other work and
// before any thread starts; the classic program and the library never call
// it.
void UseUtf8FileNames() noexcept;

// Why a file could not be opened or written.
enum class FileProblem : uint8_t {
    kNone,
    kMissing,     // no such file, or a folder on its path is missing
    kNoAccess,    // permission denied
    kFolder,      // a folder where a file was wanted
    kFifo,        // a FIFO (named pipe)
    kDevice,      // a character or block device
    kSocket,      // a socket
    kNotRegular,  // some other thing that is no regular file
    kTooLarge,    // 4 GiB or more, where the reader takes less (`size` says how much)
    kExists,      // the file exists and was not to be replaced
    kSystem,      // another failure: `systemError` holds the system's code
};

struct FileFailure {
    FileProblem problem = FileProblem::kNone;
    int systemError = 0;  // errno, or GetLastError() on Windows
    uint64_t size = 0;    // the file's size, for kTooLarge
};

// The failure in a few words: "no such file", "permission denied", "is a
// folder", "not a regular file (a FIFO)", "the file is 4 GiB or larger
// (5368709120 bytes)", or the system's own text. Empty only when even that
// cannot be had (out of memory).
std::string DescribeFileFailure(const FileFailure& failure) noexcept;

// Opens a file for binary reading when the path names a regular file (links
// followed) and sets *size to its size. Anything else (a directory, FIFO,
// device or socket) gives null without a byte being read, and without
// waiting for a FIFO's writer. When `failure` is given it says why a null
// was returned.
std::FILE* OpenRegularFile(const char* path, uint64_t* size,
                           FileFailure* failure = nullptr) noexcept;

// Asks that a large block about to be filled (a whole model file) be backed
// by large pages where the system offers them on request: each page fault
// then brings in 2 MiB instead of 4 KiB, which is most of the cost of reading
// a large file where faults are dear. Only the whole 2 MiB stretches inside
// the block are affected; smaller blocks, and systems without the feature,
// are left alone. Never fails.
void AdviseLargePages(void* block, size_t bytes) noexcept;

// A run of bytes to be written.
struct Segment {
    const uint8_t* data;
    uint32_t length;
};

// Replaces the file at path with the segments' bytes, one after the other,
// through a temporary file beside it and a rename, so the target is never
// left partly written. The temporary file's name is short and of fixed
// length, so any name the target may have still saves. Keeps an existing
// target's permission bits and writes through a symbolic link. False when
// anything failed; the target is then unchanged.
bool ReplaceFile(const char* path, const Segment* segments, size_t count) noexcept;

// Whether WriteWholeFile may replace a file that exists.
enum class WriteMode {
    kReplace,  // as ReplaceFile
    kCreate,   // only a new file: an existing target, even one that appears
               // while the bytes are written, is left alone (kExists)
};

// ReplaceFile with the choice of mode, saying why it failed when `failure`
// is given.
bool WriteWholeFile(const char* path, const Segment* segments, size_t count, WriteMode mode,
                    FileFailure* failure) noexcept;

}  // namespace brennix::platform
