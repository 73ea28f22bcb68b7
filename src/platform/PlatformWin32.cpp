// Windows versions of the operating-system services, on the ANSI interfaces
// so that paths and the command line stay the 8-bit text the program scans.
// GetFinalPathNameByHandleA needs Windows Vista.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileA; ours is the platform layer's.
#undef ReplaceFile

#include <io.h>
#include <stdio.h>

#include <cstring>
#include <string>

#include "platform/Platform.h"

namespace brennix::platform {

std::string RawCommandLine(int, char**) noexcept {
    // The line exactly as the process was started with it, quotes included;
    // the C runtime's argument split would lose them.
    try {
        const char* line = GetCommandLineA();
        return line != nullptr ? std::string(line) : std::string();
    } catch (...) {
        return std::string();
    }
}

bool FindModelFiles(std::vector<DirectoryEntry>* entries) noexcept {
    entries->clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.dff", &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    try {
        do {
            const DWORD attributes = found.dwFileAttributes;
            entries->push_back({found.cFileName, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                (attributes & FILE_ATTRIBUTE_DEVICE) != 0});
        } while (FindNextFileA(search, &found));
    } catch (...) {
        entries->clear();
        ok = false;
    }
    FindClose(search);
    return ok;
}

bool FindEntryIgnoringCase(const char*, std::string*) noexcept {
    return false;
}

void DebugOutput(const char* text) noexcept {
    OutputDebugStringA(text);
}

// Large pages on Windows need a privilege that programs do not hold.
void AdviseLargePages(void*, size_t) noexcept {}

std::FILE* OpenRegularFile(const char* path, uint64_t* size) noexcept {
    if (path == nullptr)
        return nullptr;
    // A directory does not open; a device or pipe opens without waiting and
    // is turned away before a byte is read.
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    int fd = _fileno(file);
    HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    LARGE_INTEGER length;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileSizeEx(handle, &length) || length.QuadPart < 0) {
        std::fclose(file);
        return nullptr;
    }
    *size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

namespace {

// Attributes a replacement takes over from the file it replaces. Read-only
// never gets here, and compression or encryption cannot be set this way.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The file a symbolic link (or other name surrogate) finally names, so that
// the link is kept and its target replaced. The path itself when it is no
// link or cannot be resolved.
std::string ResolveLinks(const std::string& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return path;
    char resolved[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleA(file, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (length == 0 || length >= sizeof resolved)
        return path;
    return std::string(resolved, length);
}

bool WriteAll(HANDLE file, const uint8_t* data, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        DWORD piece = length - done > (1u << 20) ? (1u << 20) : length - done;
        DWORD written = 0;
        if (!WriteFile(file, data + done, piece, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// The longest path the ANSI file functions take, without its terminator.
constexpr size_t kLongestPath = MAX_PATH - 1;

// The temporary file's name: "~bnx" and eight hex digits.
constexpr size_t kTempNameLength = 12;

// Writes a temporary name of exactly n characters (1 to kTempNameLength):
// "~bnx" and hex digits of value, or with less room "~" and fewer digits.
void FormatTempName(char* out, size_t n, uint32_t value) {
    static const char kDigits[] = "0123456789abcdef";
    size_t prefix = n >= kTempNameLength ? 4 : n >= 2 ? 1 : 0;
    std::memcpy(out, "~bnx", prefix);
    for (size_t i = n; i > prefix; --i) {
        out[i - 1] = kDigits[value & 15];
        value >>= 4;
    }
}

}  // namespace

bool ReplaceFile(const char* path, const Segment* segments, size_t count) noexcept {
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string target;
    std::string temp;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool exists = false;
    size_t nameLength = kTempNameLength;
    // Every allocation happens here, before anything is created.
    try {
        target = path;
        attributes = GetFileAttributesA(target.c_str());
        exists = attributes != INVALID_FILE_ATTRIBUTES;
        if (exists) {
            target = ResolveLinks(target, attributes);
            if (target != path) {
                attributes = GetFileAttributesA(target.c_str());
                exists = attributes != INVALID_FILE_ATTRIBUTES;
            }
        }
        if (!exists) {
            // Anything but a missing file (a bad name, no access) is left to
            // fail at creation; a missing directory fails there too.
            DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
                return false;
        } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            return false;
        }

        // The temporary file lives in the target's directory so that the
        // final move stays on one volume and replaces the target in one step.
        size_t cut = target.find_last_of("\\/:");
        size_t dirLength = cut == std::string::npos ? 0 : cut + 1;
        // Where the target's full path fits the ANSI limit, the temporary
        // path must fit it too: its name then takes no more room than is
        // left, which is at least the length of the target's own name. A
        // relative path counts with the current directory before it.
        const size_t baseLength = target.size() - dirLength;
        size_t fullLength = target.size();
        const DWORD needed = GetFullPathNameA(target.c_str(), 0, nullptr, nullptr);
        if (needed > 0 && needed - 1 >= baseLength)
            fullLength = needed - 1;
        const size_t fullDirLength = fullLength - baseLength;
        if (fullLength <= kLongestPath && fullDirLength + nameLength > kLongestPath)
            nameLength = fullDirLength < kLongestPath ? kLongestPath - fullDirLength : 1;
        temp.reserve(dirLength + nameLength);
        temp.assign(target, 0, dirLength);
        temp.append(nameLength, '~');
    } catch (...) {
        return false;
    }

    char* name = &temp[temp.size() - nameLength];
    const uint32_t seed = (GetCurrentProcessId() * 0x9E3779B1u) ^
                          (GetCurrentThreadId() * 0x85EBCA6Bu) ^ GetTickCount();
    HANDLE file = INVALID_HANDLE_VALUE;
    for (uint32_t attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        FormatTempName(name, nameLength, seed + attempt * 0x61C88647u);
        file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;

    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i)
        ok = WriteAll(file, segments[i].data, segments[i].length);
    if (!CloseHandle(file))
        ok = false;
    if (ok && exists && (attributes & kKeptAttributes) != 0) {
        // Losing a hidden or archive bit is not worth failing the save over.
        SetFileAttributesA(temp.c_str(), attributes & kKeptAttributes);
    }
    if (ok) {
        ok = MoveFileExA(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok)
        DeleteFileA(temp.c_str());
    return ok;
}

}  // namespace brennix::platform
