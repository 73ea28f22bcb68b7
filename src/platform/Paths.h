// File names as the commands handle them: UTF-8 text inside the program,
// turned into the system's own form at the edge, and compared the way the
// file system compares them.
//
// Linked into the commands only; the model library never needs these.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brennix::platform {

// A path from UTF-8 text. A std::filesystem::path made from a std::string
// reads it in the ANSI code page on Windows, so every path the commands make
// goes through here.
std::filesystem::path PathFromUtf8(const std::string& text);
// A path as UTF-8 text again.
std::string Utf8FromPath(const std::filesystem::path& path);

// The program's arguments as UTF-8. On Windows they are taken from the wide
// command line, split as the C runtime splits it, since the 8-bit argv holds
// only what the ANSI code page can spell; elsewhere they are argv as given.
// Empty when memory runs out.
std::vector<std::string> Utf8Arguments(int argc, char** argv) noexcept;

// Which file a path names, with links followed: two paths get the same
// identity exactly when they name one file (a hard link, a symbolic link,
// "./x" and "x", another case of the name where names ignore case). False
// when nothing is there.
bool FileIdentity(const std::string& path, std::string* identity) noexcept;
// True when both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) noexcept;

// A path as this system compares names: made absolute and normal, and on
// Windows with the case of letters ignored. Two paths with equal keys name
// one place whether or not anything is there yet.
std::string NameKey(const std::string& path);
// A single file name folded as NameKey folds it.
std::string FoldName(const std::string& name);
// True when the names are equal as this system compares them.
bool SameName(const std::string& a, const std::string& b);

}  // namespace brennix::platform
