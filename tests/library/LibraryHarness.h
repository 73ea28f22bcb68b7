// What the library tests share: the shared library opened the way a host
// opens it (dlopen and lookup by name, no link to anything inside it), a
// scratch directory per test, and capture of what a call writes to standard
// output and standard error.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace brennix::test {

using GenerateColFromDffFn = int (*)(const char*, int, const char*);
using AppendColToDffFn = int (*)(const char*, const char*, const char*);
using ImportNVCFromDffFn = int (*)(const char*, const char*, const char*);
using EasyVertexColorsFn = int (*)(const char*, uint32_t, uint32_t, const char*);

// The four exports of one dlopen'ed copy of the library.
class HostLibrary {
public:
    HostLibrary() = default;
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;
    ~HostLibrary() { Close(); }

    // Opens the library file and looks up the four names. False with
    // Error() saying why when the file or a name is missing.
    bool Open(const char* path) {
        Close();
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr)
            return Fail("dlopen");
        generateColFromDff =
            reinterpret_cast<GenerateColFromDffFn>(dlsym(handle_, "GenerateColFromDff"));
        appendColToDff = reinterpret_cast<AppendColToDffFn>(dlsym(handle_, "AppendColToDff"));
        importNVCFromDff = reinterpret_cast<ImportNVCFromDffFn>(dlsym(handle_, "ImportNVCFromDff"));
        easyVertexColors = reinterpret_cast<EasyVertexColorsFn>(dlsym(handle_, "EasyVertexColors"));
        if (generateColFromDff == nullptr || appendColToDff == nullptr ||
            importNVCFromDff == nullptr || easyVertexColors == nullptr) {
            return Fail("dlsym");
        }
        return true;
    }

    void Close() {
        if (handle_ != nullptr)
            dlclose(handle_);
        handle_ = nullptr;
        generateColFromDff = nullptr;
        appendColToDff = nullptr;
        importNVCFromDff = nullptr;
        easyVertexColors = nullptr;
    }

    const std::string& Error() const { return error_; }

    GenerateColFromDffFn generateColFromDff = nullptr;
    AppendColToDffFn appendColToDff = nullptr;
    ImportNVCFromDffFn importNVCFromDff = nullptr;
    EasyVertexColorsFn easyVertexColors = nullptr;

private:
    bool Fail(const char* what) {
        const char* reason = dlerror();
        error_ = std::string(what) + ": " + (reason != nullptr ? reason : "symbol not found");
        Close();
        return false;
    }

    void* handle_ = nullptr;
    std::string error_;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brennix-lib-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr)
            path_ = buffer.data();
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }

    bool Ok() const { return !path_.empty(); }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

    // Names of the entries of the directory, sorted; hidden ones included, so
    // that a temporary file left behind is seen.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

// What a call wrote to file descriptors 1 and 2.
struct CapturedOutput {
    std::string out;
    std::string err;
};

// Runs call() with standard output and standard error sent to temporary
// files, and returns what arrived there. Only for one thread at a time.
template <typename Call>
CapturedOutput CaptureOutput(Call&& call) {
    fflush(stdout);
    fflush(stderr);
    FILE* outFile = tmpfile();
    FILE* errFile = tmpfile();
    const int savedOut = dup(1);
    const int savedErr = dup(2);
    if (outFile == nullptr || errFile == nullptr || savedOut < 0 || savedErr < 0) {
        if (outFile != nullptr)
            fclose(outFile);
        if (errFile != nullptr)
            fclose(errFile);
        if (savedOut >= 0)
            close(savedOut);
        if (savedErr >= 0)
            close(savedErr);
        call();
        return {"<capture failed>", "<capture failed>"};
    }
    dup2(fileno(outFile), 1);
    dup2(fileno(errFile), 2);
    call();
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);

    auto slurp = [](FILE* file) {
        std::string text;
        rewind(file);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        fclose(file);
        return text;
    };
    CapturedOutput captured;
    captured.out = slurp(outFile);
    captured.err = slurp(errFile);
    return captured;
}

}  // namespace brennix::test
