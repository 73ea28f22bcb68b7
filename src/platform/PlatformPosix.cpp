// POSIX versions of the operating-system services.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Platform.h"

namespace brennix::platform {

std::string RawCommandLine(int argc, char** argv) {
    std::string line;
    if (argc > 0 && argv[0] != nullptr) {
        const char* name = std::strrchr(argv[0], '/');
        line = name != nullptr ? name + 1 : argv[0];
    }
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    return line;
}

static bool EndsWithDff(const std::string& name) {
    static const char kSuffix[] = ".dff";
    if (name.size() < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        char c = name[name.size() - 4 + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kSuffix[i])
            return false;
    }
    return true;
}

bool FindModelFiles(std::vector<DirectoryEntry>* entries) {
    entries->clear();
    DIR* dir = opendir(".");
    if (dir == nullptr)
        return false;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (!EndsWithDff(name))
            continue;
        struct stat info;
        bool isDirectory = stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        entries->push_back({name, isDirectory});
    }
    closedir(dir);
    std::sort(entries->begin(), entries->end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return !entries->empty();
}

void DebugOutput(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

bool FileSize(std::FILE* file, uint64_t* size) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return false;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

// The file a path finally names: symbolic links are followed so that the
// link itself is kept and the file it points to is replaced.
static std::string ResolveLinks(const char* path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096), '\0');
        ssize_t n = readlink(current.c_str(), &target[0], target.size());
        if (n <= 0)
            return current;
        target.resize(static_cast<size_t>(n));
        if (target[0] != '/') {
            size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                target = current.substr(0, slash + 1) + target;
        }
        current = target;
    }
    return current;
}

static bool WriteAll(int fd, const uint8_t* data, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        uint32_t piece = length - done > (1u << 20) ? (1u << 20) : length - done;
        ssize_t n = write(fd, data + done, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

bool ReplaceFile(const char* path, const Segment* segments, size_t count) {
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string target = ResolveLinks(path);

    struct stat existing;
    bool exists = stat(target.c_str(), &existing) == 0;
    if (exists) {
        // Only a regular file is replaced, and only one we may write.
        if (!S_ISREG(existing.st_mode) || access(target.c_str(), W_OK) != 0)
            return false;
    }

    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "." + base + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(attempt);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i)
        ok = WriteAll(fd, segments[i].data, segments[i].length);
    if (ok && exists) {
        ok = fchmod(fd, existing.st_mode & 07777) == 0;
        // Keep the owner where we may; failing to is not an error.
        if (ok && (existing.st_uid != geteuid() || existing.st_gid != getegid())) {
            (void)!fchown(fd, existing.st_uid, existing.st_gid);
        }
    }
    if (close(fd) != 0)
        ok = false;
    if (ok)
        ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

}  // namespace brennix::platform
