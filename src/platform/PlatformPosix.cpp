// POSIX versions of the operating-system services.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/FailureWords.h"
#include "platform/Platform.h"

namespace brennix::platform {

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithDff(const char* name) {
    static const char kSuffix[] = ".dff";
    size_t length = std::strlen(name);
    if (length < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (LowerAscii(name[length - 4 + i]) != kSuffix[i])
            return false;
    }
    return true;
}

bool EqualIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
    }
    return *a == *b;
}

// Closes a directory stream however the search ends.
struct DirectoryStream {
    DIR* dir = opendir(".");
    ~DirectoryStream() {
        if (dir != nullptr)
            closedir(dir);
    }
};

}  // namespace

std::string RawCommandLine(int argc, char** argv) noexcept {
    try {
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
    } catch (...) {
        return std::string();
    }
}

bool FindModelFiles(std::vector<DirectoryEntry>* entries) noexcept {
    entries->clear();
    try {
        DirectoryStream stream;
        if (stream.dir == nullptr)
            return false;
        while (struct dirent* entry = readdir(stream.dir)) {
            if (!EndsWithDff(entry->d_name))
                continue;
            // Links are followed: what counts is what a load would open.
            struct stat info;
            bool known = stat(entry->d_name, &info) == 0;
            bool isDirectory = known && S_ISDIR(info.st_mode);
            bool isSpecial = known && !isDirectory && !S_ISREG(info.st_mode);
            entries->push_back({entry->d_name, isDirectory, isSpecial});
        }
        std::sort(entries->begin(), entries->end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
        return !entries->empty();
    } catch (...) {
        entries->clear();
        return false;
    }
}

bool FindEntryIgnoringCase(const char* name, std::string* found) noexcept {
    if (name == nullptr || name[0] == '\0' || std::strchr(name, '/') != nullptr)
        return false;
    struct stat info;
    if (lstat(name, &info) == 0 || errno != ENOENT)
        return false;
    try {
        DirectoryStream stream;
        if (stream.dir == nullptr)
            return false;
        bool matched = false;
        while (struct dirent* entry = readdir(stream.dir)) {
            // strcmp compares bytes as unsigned char: byte order.
            if (EqualIgnoringCase(entry->d_name, name) &&
                (!matched || std::strcmp(entry->d_name, found->c_str()) < 0)) {
                *found = entry->d_name;
                matched = true;
            }
        }
        return matched;
    } catch (...) {
        return false;
    }
}

void DebugOutput(const char* text) noexcept {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

void AdviseLargePages(void* block, size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
    if (block == nullptr || bytes < 2 * kLargePage)
        return;
    const uintptr_t start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t last = (start + bytes) & ~(kLargePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

void UseUtf8FileNames() noexcept {}

std::string DescribeFileFailure(const FileFailure& failure) noexcept {
    try {
        std::string words = SharedFailureWords(failure);
        if (!words.empty())
            return words;
        char text[128] = "";
        // The GNU strerror_r may return its own string instead of filling
        // the buffer; the POSIX one returns 0 and fills it.
        auto pick = [&text](auto result) -> const char* {
            if constexpr (std::is_same_v<decltype(result), char*>)
                return result;
            else
                return result == 0 ? text : "";
        };
        const char* system = pick(strerror_r(failure.systemError, text, sizeof text));
        if (system == nullptr || system[0] == '\0')
            return "system error " + std::to_string(failure.systemError);
        return system;
    } catch (...) {
        return std::string();
    }
}

namespace {

FileProblem ProblemOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return FileProblem::kMissing;
        case EACCES:
        case EPERM:
            return FileProblem::kNoAccess;
        case EISDIR:
            return FileProblem::kFolder;
        case EEXIST:
            return FileProblem::kExists;
        default:
            return FileProblem::kSystem;
    }
}

void SetFailure(FileFailure* failure, FileProblem problem, int error = 0) {
    if (failure != nullptr) {
        failure->problem = problem;
        failure->systemError = error;
    }
}

void SetErrnoFailure(FileFailure* failure, int error) {
    SetFailure(failure, ProblemOfErrno(error), error);
}

// The problem of a path that is not a regular file.
FileProblem ProblemOfType(mode_t mode) {
    if (S_ISDIR(mode))
        return FileProblem::kFolder;
    if (S_ISFIFO(mode))
        return FileProblem::kFifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileProblem::kDevice;
    if (S_ISSOCK(mode))
        return FileProblem::kSocket;
    return FileProblem::kNotRegular;
}

}  // namespace

std::FILE* OpenRegularFile(const char* path, uint64_t* size, FileFailure* failure) noexcept {
    // Devices are not even opened: opening some of them has effects of its
    // own. The check is made again on the open file in case the path changed.
    struct stat info;
    if (path == nullptr) {
        SetFailure(failure, FileProblem::kMissing);
        return nullptr;
    }
    if (stat(path, &info) != 0) {
        SetErrnoFailure(failure, errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        SetFailure(failure, ProblemOfType(info.st_mode));
        return nullptr;
    }
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetErrnoFailure(failure, errno);
        return nullptr;
    }
    int flags = -1;
    if (fstat(fd, &info) != 0)
        SetErrnoFailure(failure, errno);
    else if (!S_ISREG(info.st_mode) || info.st_size < 0)
        SetFailure(failure, ProblemOfType(info.st_mode));
    else if ((flags = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        SetErrnoFailure(failure, errno);
        flags = -1;
    }
    if (flags < 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        SetErrnoFailure(failure, errno);
        close(fd);
        return nullptr;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return file;
}

namespace {

// The file a path finally names: symbolic links are followed so that the
// link itself is kept and the file it points to is replaced.
std::string ResolveLinks(const char* path) {
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
                target.insert(0, current, 0, slash + 1);
        }
        current.swap(target);
    }
    return current;
}

// The temporary file's name: ".bnx", eight hex digits, ".tmp". Its length is
// fixed and short, so that it fits wherever the target's name fits.
constexpr size_t kTempNameLength = 16;

void FormatTempName(char* out, uint32_t value) {
    char name[kTempNameLength + 1];
    std::snprintf(name, sizeof name, ".bnx%08x.tmp", static_cast<unsigned>(value));
    std::memcpy(out, name, kTempNameLength);
}

// Differs between processes, between threads (their stacks lie apart) and
// over time, so that concurrent saves into one folder seldom try the same
// name; O_EXCL settles the rare clash.
uint32_t TempNameSeed() {
    int onThisStack = 0;
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    uint32_t seed = static_cast<uint32_t>(getpid()) * 0x9E3779B1u;
    seed ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&onThisStack) >> 4);
    seed ^= static_cast<uint32_t>(now.tv_nsec);
    return seed;
}

bool WriteAll(int fd, const uint8_t* data, uint32_t length) {
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

}  // namespace

bool ReplaceFile(const char* path, const Segment* segments, size_t count) noexcept {
    return WriteWholeFile(path, segments, count, WriteMode::kReplace, nullptr);
}

bool WriteWholeFile(const char* path, const Segment* segments, size_t count, WriteMode mode,
                    FileFailure* failure) noexcept {
    if (path == nullptr || path[0] == '\0') {
        SetFailure(failure, FileProblem::kMissing);
        return false;
    }
    struct stat existing;
    if (mode == WriteMode::kCreate && lstat(path, &existing) == 0) {
        SetFailure(failure, FileProblem::kExists);
        return false;
    }
    // Every allocation happens here, before anything is created.
    std::string target;
    std::string temp;
    try {
        target = mode == WriteMode::kReplace ? ResolveLinks(path) : std::string(path);
        size_t slash = target.rfind('/');
        size_t dirLength = slash == std::string::npos ? 0 : slash + 1;
        temp.reserve(dirLength + kTempNameLength);
        temp.assign(target, 0, dirLength);
        temp.append(kTempNameLength, '.');
    } catch (...) {
        SetFailure(failure, FileProblem::kSystem, ENOMEM);
        return false;
    }

    bool exists = stat(target.c_str(), &existing) == 0;
    if (exists) {
        // Only a regular file is replaced, and only one we may write.
        if (!S_ISREG(existing.st_mode)) {
            SetFailure(failure, ProblemOfType(existing.st_mode));
            return false;
        }
        if (access(target.c_str(), W_OK) != 0) {
            SetErrnoFailure(failure, errno);
            return false;
        }
    }

    char* name = &temp[temp.size() - kTempNameLength];
    const uint32_t seed = TempNameSeed();
    int fd = -1;
    for (uint32_t attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        FormatTempName(name, seed + attempt * 0x61C88647u);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            SetErrnoFailure(failure, errno);
            return false;
        }
    }
    if (fd < 0) {
        SetFailure(failure, FileProblem::kSystem, EEXIST);
        return false;
    }

    int error = 0;
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i) {
        ok = WriteAll(fd, segments[i].data, segments[i].length);
        error = ok ? 0 : errno;
    }
    if (ok && exists) {
        ok = fchmod(fd, existing.st_mode & 07777) == 0;
        error = ok ? 0 : errno;
        // Keep the owner where we may; failing to is not an error.
        if (ok && (existing.st_uid != geteuid() || existing.st_gid != getegid())) {
            (void)!fchown(fd, existing.st_uid, existing.st_gid);
        }
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    bool renamed = false;
    if (ok && mode == WriteMode::kReplace) {
        ok = renamed = rename(temp.c_str(), target.c_str()) == 0;
        error = ok ? 0 : errno;
    } else if (ok) {
        // A hard link is made only where nothing is: a file that appeared
        // meanwhile is kept. Where the file system has no hard links, the
        // target is looked at once more just before the rename.
        ok = link(temp.c_str(), target.c_str()) == 0;
        error = ok ? 0 : errno;
        if (!ok && error != EEXIST && lstat(target.c_str(), &existing) != 0 && errno == ENOENT) {
            ok = renamed = rename(temp.c_str(), target.c_str()) == 0;
            error = ok ? 0 : errno;
        } else if (!ok && error != EEXIST && lstat(target.c_str(), &existing) == 0) {
            error = EEXIST;
        }
    }
    if (!renamed)
        unlink(temp.c_str());
    if (!ok) {
        // Without an errno, the write stopped on a full disk or such.
        SetErrnoFailure(failure, error != 0 ? error : EIO);
    }
    return ok;
}

}  // namespace brennix::platform
