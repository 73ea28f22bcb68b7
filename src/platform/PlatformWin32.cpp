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

#include <string>

#include "platform/Platform.h"

namespace brennix::platform {

std::string RawCommandLine(int, char**) {
    // The line exactly as the process was started with it, quotes included;
    // the C runtime's argument split would lose them.
    const char* line = GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
}

bool FindModelFiles(std::vector<DirectoryEntry>* entries) {
    entries->clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.dff", &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        entries->push_back(
            {found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

void DebugOutput(const char* text) {
    OutputDebugStringA(text);
}

bool FileSize(std::FILE* file, uint64_t* size) {
    int fd = _fileno(file);
    if (fd < 0)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    LARGE_INTEGER length;
    if (!GetFileSizeEx(handle, &length) || length.QuadPart < 0)
        return false;
    *size = static_cast<uint64_t>(length.QuadPart);
    return true;
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

}  // namespace

bool ReplaceFile(const char* path, const Segment* segments, size_t count) {
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string target = path;

    DWORD attributes = GetFileAttributesA(target.c_str());
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        target = ResolveLinks(target, attributes);
        if (target != path) {
            attributes = GetFileAttributesA(target.c_str());
            exists = attributes != INVALID_FILE_ATTRIBUTES;
        }
    }
    if (!exists) {
        // Anything but a missing file (a bad name, no access) is left to fail
        // at creation; a missing directory fails there too.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return false;
    } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return false;
    }

    // The temporary file lives in the target's directory so that the final
    // move stays on one volume and replaces the target in one step.
    size_t cut = target.find_last_of("\\/:");
    std::string dir = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);

    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    const DWORD pid = GetCurrentProcessId();
    const DWORD tick = GetTickCount();
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        char name[64];
        snprintf(name, sizeof name, "~bnx%lx_%lx_%u.tmp", static_cast<unsigned long>(pid),
                 static_cast<unsigned long>(tick), attempt);
        temp = dir + name;
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
