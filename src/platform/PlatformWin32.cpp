// Windows versions of the operating-system services. The command line and
// the directory search stay on the ANSI interfaces, so that they give the
// 8-bit text the classic program scans. Files are opened, written and
// renamed through the wide interfaces, with the 8-bit names turned into
// UTF-16 from the ANSI code page, or from UTF-8 once the commands have asked
// for that (UseUtf8FileNames), so that any name a folder can hold works.
// GetFinalPathNameByHandleW needs Windows Vista.
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

#include <atomic>
#include <cstring>
#include <string>

#include "platform/FailureWords.h"
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

namespace {

// Set once, before any thread starts; atomic so that reading it anywhere is
// well defined.
std::atomic<bool> utf8FileNames{false};

// The 8-bit name as UTF-16. False when it does not convert (not valid in its
// encoding) or memory runs out.
bool WideName(const char* name, std::wstring* wide) {
    const UINT codePage = utf8FileNames.load(std::memory_order_relaxed) ? CP_UTF8 : CP_ACP;
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    try {
        wide->clear();
        if (name[0] == '\0')
            return true;
        int n = MultiByteToWideChar(codePage, flags, name, -1, nullptr, 0);
        if (n <= 0)
            return false;
        wide->resize(static_cast<size_t>(n));
        if (MultiByteToWideChar(codePage, flags, name, -1, &(*wide)[0], n) != n)
            return false;
        wide->resize(static_cast<size_t>(n - 1));
        return true;
    } catch (...) {
        return false;
    }
}

FileProblem ProblemOfError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_DRIVE:
            return FileProblem::kMissing;
        case ERROR_ACCESS_DENIED:
            return FileProblem::kNoAccess;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return FileProblem::kExists;
        default:
            return FileProblem::kSystem;
    }
}

void SetFailure(FileFailure* failure, FileProblem problem, DWORD error = 0) {
    if (failure != nullptr) {
        failure->problem = problem;
        failure->systemError = static_cast<int>(error);
    }
}

void SetErrorFailure(FileFailure* failure, DWORD error) {
    SetFailure(failure, ProblemOfError(error), error);
}

// A name that does not convert is one no file can have.
void SetBadNameFailure(FileFailure* failure) {
    SetFailure(failure, FileProblem::kMissing, ERROR_INVALID_NAME);
}

}  // namespace

void UseUtf8FileNames() noexcept {
    utf8FileNames.store(true);
}

std::string DescribeFileFailure(const FileFailure& failure) noexcept {
    try {
        std::string words = SharedFailureWords(failure);
        if (!words.empty())
            return words;
        switch (static_cast<DWORD>(failure.systemError)) {
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION:
                return "the file is in use by another program";
            case ERROR_DISK_FULL:
            case ERROR_HANDLE_DISK_FULL:
                return "the disk is full";
            case ERROR_WRITE_PROTECT:
                return "the disk is write-protected";
            case ERROR_NOT_ENOUGH_MEMORY:
            case ERROR_OUTOFMEMORY:
                return "out of memory";
            default:
                break;
        }
        return "system error " + std::to_string(failure.systemError);
    } catch (...) {
        return std::string();
    }
}

std::FILE* OpenRegularFile(const char* path, uint64_t* size, FileFailure* failure) noexcept {
    std::wstring name;
    if (path == nullptr || !WideName(path, &name)) {
        SetBadNameFailure(failure);
        return nullptr;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &attributes) &&
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetFailure(failure, FileProblem::kFolder);
        return nullptr;
    }
    // A device or pipe opens without waiting and is turned away before a
    // byte is read.
    std::FILE* file = _wfopen(name.c_str(), L"rb");
    if (file == nullptr) {
        const DWORD error = GetLastError();
        const DWORD attributesNow = GetFileAttributesW(name.c_str());
        if (attributesNow != INVALID_FILE_ATTRIBUTES &&
            (attributesNow & FILE_ATTRIBUTE_DIRECTORY) != 0)
            SetFailure(failure, FileProblem::kFolder);
        else
            SetErrorFailure(failure, error != 0 ? error : ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    int fd = _fileno(file);
    HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    const DWORD type = handle == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(handle);
    LARGE_INTEGER length;
    if (type != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length) || length.QuadPart < 0) {
        SetFailure(failure, type == FILE_TYPE_PIPE   ? FileProblem::kFifo
                            : type == FILE_TYPE_CHAR ? FileProblem::kDevice
                                                     : FileProblem::kNotRegular);
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
std::wstring ResolveLinks(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return path;
    wchar_t resolved[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleW(file, resolved, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (length == 0 || length >= MAX_PATH * 4)
        return path;
    return std::wstring(resolved, length);
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

// The longest path the file functions take without the long-path prefix,
// without its terminator.
constexpr size_t kLongestPath = MAX_PATH - 1;

// The temporary file's name: "~bnx" and eight hex digits.
constexpr size_t kTempNameLength = 12;

// Writes a temporary name of exactly n characters (1 to kTempNameLength):
// "~bnx" and hex digits of value, or with less room "~" and fewer digits.
void FormatTempName(wchar_t* out, size_t n, uint32_t value) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    size_t prefix = n >= kTempNameLength ? 4 : n >= 2 ? 1 : 0;
    std::memcpy(out, L"~bnx", prefix * sizeof(wchar_t));
    for (size_t i = n; i > prefix; --i) {
        out[i - 1] = kDigits[value & 15];
        value >>= 4;
    }
}

}  // namespace

bool ReplaceFile(const char* path, const Segment* segments, size_t count) noexcept {
    return WriteWholeFile(path, segments, count, WriteMode::kReplace, nullptr);
}

bool WriteWholeFile(const char* path, const Segment* segments, size_t count, WriteMode mode,
                    FileFailure* failure) noexcept {
    if (path == nullptr || path[0] == '\0') {
        SetBadNameFailure(failure);
        return false;
    }
    std::wstring given;
    std::wstring target;
    std::wstring temp;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool exists = false;
    size_t nameLength = kTempNameLength;
    // Every allocation happens here, before anything is created.
    try {
        if (!WideName(path, &given)) {
            SetBadNameFailure(failure);
            return false;
        }
        target = given;
        attributes = GetFileAttributesW(target.c_str());
        exists = attributes != INVALID_FILE_ATTRIBUTES;
        if (exists && mode == WriteMode::kCreate) {
            SetFailure(failure, FileProblem::kExists);
            return false;
        }
        if (exists) {
            target = ResolveLinks(target, attributes);
            if (target != given) {
                attributes = GetFileAttributesW(target.c_str());
                exists = attributes != INVALID_FILE_ATTRIBUTES;
            }
        }
        if (!exists) {
            // Anything but a missing file (a bad name, no access) is left to
            // fail at creation; a missing directory fails there too.
            DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
                SetErrorFailure(failure, error);
                return false;
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            SetFailure(failure, FileProblem::kFolder);
            return false;
        } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            SetFailure(failure, FileProblem::kNoAccess, ERROR_ACCESS_DENIED);
            return false;
        }

        // The temporary file lives in the target's directory so that the
        // final move stays on one volume and replaces the target in one step.
        size_t cut = target.find_last_of(L"\\/:");
        size_t dirLength = cut == std::wstring::npos ? 0 : cut + 1;
        // Where the target's full path fits the length limit, the temporary
        // path must fit it too: its name then takes no more room than is
        // left, which is at least the length of the target's own name. A
        // relative path counts with the current directory before it.
        const size_t baseLength = target.size() - dirLength;
        size_t fullLength = target.size();
        const DWORD needed = GetFullPathNameW(target.c_str(), 0, nullptr, nullptr);
        if (needed > 0 && needed - 1 >= baseLength)
            fullLength = needed - 1;
        const size_t fullDirLength = fullLength - baseLength;
        if (fullLength <= kLongestPath && fullDirLength + nameLength > kLongestPath)
            nameLength = fullDirLength < kLongestPath ? kLongestPath - fullDirLength : 1;
        temp.reserve(dirLength + nameLength);
        temp.assign(target, 0, dirLength);
        temp.append(nameLength, L'~');
    } catch (...) {
        SetFailure(failure, FileProblem::kSystem, ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    wchar_t* name = &temp[temp.size() - nameLength];
    const uint32_t seed = (GetCurrentProcessId() * 0x9E3779B1u) ^
                          (GetCurrentThreadId() * 0x85EBCA6Bu) ^ GetTickCount();
    HANDLE file = INVALID_HANDLE_VALUE;
    for (uint32_t attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        FormatTempName(name, nameLength, seed + attempt * 0x61C88647u);
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                SetErrorFailure(failure, error);
                return false;
            }
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        SetFailure(failure, FileProblem::kSystem, ERROR_FILE_EXISTS);
        return false;
    }

    DWORD error = 0;
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i) {
        ok = WriteAll(file, segments[i].data, segments[i].length);
        error = ok ? 0 : GetLastError();
    }
    if (!CloseHandle(file) && ok) {
        ok = false;
        error = GetLastError();
    }
    if (ok && exists && (attributes & kKeptAttributes) != 0) {
        // Losing a hidden or archive bit is not worth failing the save over.
        SetFileAttributesW(temp.c_str(), attributes & kKeptAttributes);
    }
    if (ok) {
        // Without MOVEFILE_REPLACE_EXISTING the move fails where a file has
        // appeared meanwhile, which is then kept.
        const DWORD flags = mode == WriteMode::kReplace
                                ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
                                : MOVEFILE_WRITE_THROUGH;
        ok = MoveFileExW(temp.c_str(), target.c_str(), flags) != 0;
        error = ok ? 0 : GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        SetErrorFailure(failure, error != 0 ? error : ERROR_WRITE_FAULT);
    }
    return ok;
}

}  // namespace brennix::platform
