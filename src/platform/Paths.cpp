#include "platform/Paths.h"

#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32
// The C runtime's split of the wide command line, the one it makes of the
// 8-bit line for argv (msvcrt.dll exports it).
struct CrtStartupInfo {
    int newMode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards,
                              CrtStartupInfo* info);
#endif

namespace brennix::platform {

namespace {

#ifdef _WIN32
std::string Utf8FromWide(const wchar_t* text, size_t length) {
    if (length == 0)
        return std::string();
    const int wideLength = static_cast<int>(length);
    int n = WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wideLength, &out[0], n, nullptr, nullptr);
    return out;
}
#endif

}  // namespace

fs::path PathFromUtf8(const std::string& text) {
    return fs::u8path(text);
}

std::string Utf8FromPath(const fs::path& path) {
    return path.u8string();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) noexcept {
    try {
        std::vector<std::string> arguments;
#ifdef _WIN32
        int count = 0;
        wchar_t** wide = nullptr;
        wchar_t** environment = nullptr;
        CrtStartupInfo info{0};
        if (__wgetmainargs(&count, &wide, &environment, 0, &info) == 0 && wide != nullptr &&
            count == argc) {
            for (int i = 0; i < count; ++i)
                arguments.push_back(Utf8FromWide(wide[i], wcslen(wide[i])));
            return arguments;
        }
        // The two splits disagree (they never should): the 8-bit argv is
        // still right for every name the ANSI code page can spell.
#endif
        for (int i = 0; i < argc; ++i)
            arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
        return arguments;
    } catch (...) {
        return std::vector<std::string>();
    }
}

bool FileIdentity(const std::string& path, std::string* identity) noexcept {
    try {
#ifdef _WIN32
        const std::wstring name = PathFromUtf8(path).wstring();
        HANDLE file =
            CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        BY_HANDLE_FILE_INFORMATION information;
        const bool known = GetFileInformationByHandle(file, &information) != 0;
        CloseHandle(file);
        if (!known)
            return false;
        *identity = std::to_string(information.dwVolumeSerialNumber) + ":" +
                    std::to_string(information.nFileIndexHigh) + ":" +
                    std::to_string(information.nFileIndexLow);
#else
        struct stat information;
        if (stat(path.c_str(), &information) != 0)
            return false;
        *identity = std::to_string(static_cast<unsigned long long>(information.st_dev)) + ":" +
                    std::to_string(static_cast<unsigned long long>(information.st_ino));
#endif
        return true;
    } catch (...) {
        return false;
    }
}

bool SameFile(const std::string& a, const std::string& b) noexcept {
    std::string first, second;
    return FileIdentity(a, &first) && FileIdentity(b, &second) && first == second;
}

std::string FoldName(const std::string& name) {
#ifdef _WIN32
    // File names on Windows compare with the case of letters ignored, by the
    // upper-case form of each character.
    const std::wstring wide = PathFromUtf8(name).wstring();
    if (wide.empty())
        return name;
    const int length = static_cast<int>(wide.size());
    int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), length, nullptr, 0);
    if (n <= 0)
        return name;
    std::wstring upper(static_cast<size_t>(n), L'\0');
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), length, &upper[0], n);
    return Utf8FromWide(upper.c_str(), upper.size());
#else
    return name;
#endif
}

std::string NameKey(const std::string& path) {
    std::error_code ec;
    const fs::path given = PathFromUtf8(path);
    fs::path absolute = fs::absolute(given, ec);
    if (ec)
        absolute = given;
    return FoldName(Utf8FromPath(absolute.lexically_normal()));
}

bool SameName(const std::string& a, const std::string& b) {
    return NameKey(a) == NameKey(b);
}

}  // namespace brennix::platform
