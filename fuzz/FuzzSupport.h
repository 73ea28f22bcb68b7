// Helpers shared by the fuzz targets: scratch files private to the process
// and a check that turns a broken invariant into a crash the fuzzer records.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream/Stream.h"

namespace brennix::fuzz {

[[noreturn]] inline void FailCheck(const char* condition, int line) {
    std::fprintf(stderr, "broken invariant at line %d: %s\n", line, condition);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::brennix::fuzz::FailCheck(#condition, __LINE__))

inline std::vector<std::string>& ScratchList() {
    static std::vector<std::string> paths;
    return paths;
}

inline void RemoveScratchFiles() {
    for (const std::string& path : ScratchList())
        std::remove(path.c_str());
}

// A path in $TMPDIR (or /tmp) that no other process uses; the file is removed
// when the process exits normally.
inline std::string ScratchPath(const char* tag) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    path += "/brennix-fuzz-" + std::to_string(getpid()) + "-" + tag;
    if (ScratchList().empty())
        std::atexit(RemoveScratchFiles);
    ScratchList().push_back(path);
    return path;
}

inline bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}

inline bool ReadBytes(const std::string& path, std::vector<uint8_t>* out) {
    out->clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    uint8_t piece[4096];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) {
        out->insert(out->end(), piece, piece + got);
    }
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// The file's length, or -1 when there is no such file.
inline int64_t FileLength(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

// True when a chunk read from the file still views the file's bytes: the
// payload is not owned, lies wholly inside the buffer and is no longer than
// the header declares. A missing chunk passes.
inline bool ViewsFileBuffer(const Chunk* chunk, const ByteBuffer& file) {
    if (chunk == nullptr)
        return true;
    const ByteBuffer& view = chunk->payload;
    if (view.ownsData || view.length > chunk->size || view.cursor > view.length)
        return false;
    if (view.length == 0)
        return true;
    const uintptr_t start = reinterpret_cast<uintptr_t>(file.data);
    const uintptr_t at = reinterpret_cast<uintptr_t>(view.data);
    return file.data != nullptr && at >= start && view.length <= file.length &&
           at - start <= file.length - view.length;
}

}  // namespace brennix::fuzz
