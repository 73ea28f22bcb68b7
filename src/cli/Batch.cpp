#include "cli/Batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/Terminal.h"

namespace fs = std::filesystem;

namespace brennix::cli {

namespace {

// Whether a folder's file is one `files` takes, by its extension in any case.
bool TakesFile(const fs::path& path, FolderFiles files) {
    std::string extension = platform::Utf8FromPath(path.extension());
    if (extension.size() != 4)
        return false;
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    const bool model = extension == ".dff", col = extension == ".col";
    switch (files) {
        case FolderFiles::kModels:
            return model;
        case FolderFiles::kColFiles:
            return col;
        case FolderFiles::kModelsAndColFiles:
            return model || col;
    }
    return false;
}

// The last `depth` + 1 parts of a path found `depth` folders below the
// folder that was searched: its path below that folder.
fs::path Below(const fs::path& path, int depth) {
    auto part = path.end();
    for (int i = 0; i <= depth && part != path.begin(); ++i)
        --part;
    fs::path relative;
    for (; part != path.end(); ++part)
        relative /= *part;
    return relative;
}

// Every file of a folder that `files` takes (and below it when recursive),
// sorted.
void ExpandFolder(const std::string& argument, bool recursive, FolderFiles files,
                  std::vector<InputFile>* out) {
    std::vector<std::pair<fs::path, fs::path>> found;  // the path, and below the folder
    std::error_code ec;
    auto take = [&](const fs::directory_entry& entry, int depth) {
        std::error_code typeError;
        if (entry.is_regular_file(typeError) && TakesFile(entry.path(), files))
            found.emplace_back(entry.path(), Below(entry.path(), depth));
    };
    const auto options = fs::directory_options::skip_permission_denied;
    const fs::path folder = platform::PathFromUtf8(argument);
    if (recursive) {
        fs::recursive_directory_iterator it(folder, options, ec), end;
        for (; !ec && it != end; it.increment(ec))
            take(*it, it.depth());
    } else {
        fs::directory_iterator it(folder, options, ec), end;
        for (; !ec && it != end; it.increment(ec))
            take(*it, 0);
    }
    if (ec)
        out->push_back({argument, "cannot read the folder: " + ec.message(), ""});
    std::sort(found.begin(), found.end());
    for (const auto& [path, relative] : found)
        out->push_back({platform::Utf8FromPath(path), "", platform::Utf8FromPath(relative)});
}

// Writes to a standard stream; the progress line, when shown, is cleared
// first and drawn again at the next update.
class Console {
public:
    Console(bool showProgress, std::string command, size_t total)
        : showProgress_(showProgress), command_(std::move(command)), total_(total) {}

    void Out(const std::string& text) {
        if (text.empty())
            return;
        ClearProgress();
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    void Err(const std::string& text) {
        if (text.empty())
            return;
        ClearProgress();
        // Keep the order of the two streams when they go to one place.
        std::fflush(stdout);
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    void Progress(size_t finished) {
        if (!showProgress_)
            return;
        auto now = std::chrono::steady_clock::now();
        if (drawn_ > 0 && finished < total_ && now - lastDraw_ < std::chrono::milliseconds(100))
            return;
        lastDraw_ = now;
        std::fflush(stdout);
        char line[128];
        int n = std::snprintf(line, sizeof line, "\r[info] %s %zu/%zu files", command_.c_str(),
                              finished, total_);
        if (n <= 0)
            return;
        size_t length = std::min(static_cast<size_t>(n), sizeof line - 1);
        std::fwrite(line, 1, length, stderr);
        drawn_ = length;
    }
    void ClearProgress() {
        if (drawn_ == 0)
            return;
        std::fputc('\r', stderr);
        for (size_t i = 1; i < drawn_; ++i)
            std::fputc(' ', stderr);
        std::fputc('\r', stderr);
        drawn_ = 0;
    }

private:
    bool showProgress_;
    std::string command_;
    size_t total_;
    size_t drawn_ = 0;  // characters of the progress line on screen
    std::chrono::steady_clock::time_point lastDraw_;
};

FileOutcome RunOne(const InputFile& input, size_t index, const FileJob& job) {
    FileOutcome outcome;
    if (!input.error.empty()) {
        outcome.reason = input.error;
        return outcome;
    }
    try {
        outcome = job(index, input.path);
    } catch (const std::bad_alloc&) {
        outcome = FileOutcome();
        outcome.reason = "out of memory";
    } catch (const std::exception& e) {
        outcome = FileOutcome();
        outcome.reason = std::string("internal failure: ") + e.what();
    } catch (...) {
        outcome = FileOutcome();
        outcome.reason = "internal failure";
    }
    return outcome;
}

// The shared state of one run: outcomes by index, which are done, and the
// next index to hand out.
struct Board {
    const std::vector<InputFile>& inputs;
    const FileJob& job;
    std::vector<FileOutcome> outcomes;
    std::vector<uint8_t> done;
    std::atomic<size_t> next{0};
    size_t finished = 0;
    std::mutex mutex;
    std::condition_variable changed;

    Board(const std::vector<InputFile>& in, const FileJob& j)
        : inputs(in), job(j), outcomes(in.size()), done(in.size(), 0) {}

    void Work() {
        for (;;) {
            size_t i = next.fetch_add(1);
            if (i >= inputs.size())
                return;
            FileOutcome outcome;
            try {
                outcome = RunOne(inputs[i], i, job);
            } catch (...) {
                // Even the reason could not be made: the printer says why.
                outcome = FileOutcome();
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                outcomes[i] = std::move(outcome);
                done[i] = 1;
                ++finished;
            }
            changed.notify_one();
        }
    }
};

// Joins the workers however the printer leaves; the workers stop taking
// new files once `next` is past the end.
struct Workers {
    Board& board;
    std::vector<std::thread> threads;
    ~Workers() {
        board.next.store(board.inputs.size());
        for (std::thread& t : threads) {
            if (t.joinable())
                t.join();
        }
    }
};

void Report(Console& console, const InputFile& input, const FileOutcome& outcome,
            BatchResult* result) {
    console.Out(outcome.out);
    console.Err(outcome.messages);
    if (outcome.ok) {
        ++result->succeeded;
        return;
    }
    ++result->failed;
    const std::string& reason = outcome.reason.empty() ? "internal failure" : outcome.reason;
    console.Err("[error] " + input.path + ": " + reason + "\n");
}

}  // namespace

std::vector<InputFile> ExpandInputs(const std::vector<std::string>& arguments, bool recursive,
                                    FolderFiles files) {
    std::vector<InputFile> inputs;
    try {
        for (const std::string& argument : arguments) {
            std::error_code ec;
            fs::file_status status = fs::status(platform::PathFromUtf8(argument), ec);
            if (status.type() == fs::file_type::not_found) {
                inputs.push_back({argument, "no such file or folder", ""});
            } else if (ec) {
                inputs.push_back({argument, ec.message(), ""});
            } else if (fs::is_directory(status)) {
                ExpandFolder(argument, recursive, files, &inputs);
            } else {
                inputs.push_back({argument, "", ""});
            }
        }
    } catch (...) {
        // Out of memory: fail what is left as one input.
        inputs.clear();
        inputs.push_back({"(inputs)", "out of memory", ""});
    }
    return inputs;
}

unsigned DefaultJobs() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

BatchResult RunBatch(const std::vector<InputFile>& inputs, const FileJob& job,
                     const BatchSettings& settings) {
    BatchResult result;
    result.total = inputs.size();
    try {
        Console console(inputs.size() > 1 && platform::IsTerminal(stderr), settings.command,
                        inputs.size());
        Board board(inputs, job);
        Workers workers{board, {}};
        size_t wanted = settings.jobs > 0 ? settings.jobs : DefaultJobs();
        wanted = std::min(wanted, inputs.size());
        if (wanted > 1) {
            for (size_t i = 0; i < wanted; ++i) {
                try {
                    workers.threads.emplace_back([&board] { board.Work(); });
                } catch (...) {
                    break;  // fewer workers than asked for
                }
            }
        }
        console.Progress(0);
        size_t printed = 0;
        if (workers.threads.empty()) {
            // One worker: this thread, printing each file as it is done.
            for (; printed < inputs.size(); ++printed) {
                Report(console, inputs[printed], RunOne(inputs[printed], printed, job), &result);
                console.Progress(printed + 1);
            }
        }
        size_t shown = 0;
        while (printed < inputs.size()) {
            std::vector<FileOutcome> ready;
            size_t finished = 0;
            {
                std::unique_lock<std::mutex> lock(board.mutex);
                board.changed.wait(
                    lock, [&] { return board.done[printed] != 0 || board.finished != shown; });
                while (printed + ready.size() < inputs.size() &&
                       board.done[printed + ready.size()] != 0)
                    ready.push_back(std::move(board.outcomes[printed + ready.size()]));
                finished = board.finished;
            }
            for (const FileOutcome& outcome : ready)
                Report(console, inputs[printed++], outcome, &result);
            shown = finished;
            console.Progress(finished);
        }
        console.ClearProgress();
        std::fflush(stdout);
    } catch (...) {
        // Whatever was not reported counts as failed.
        result.failed = result.total - result.succeeded;
        std::fputs("[error] internal failure\n", stderr);
    }
    return result;
}

void PrintSummary(const BatchResult& result, const char* doneWord, const std::string& more) {
    std::fflush(stdout);
    std::fprintf(stderr, "[info] %zu %s: %zu %s", result.total,
                 result.total == 1 ? "file" : "files", result.succeeded, doneWord);
    if (result.failed > 0)
        std::fprintf(stderr, ", %zu failed", result.failed);
    if (!more.empty())
        std::fprintf(stderr, ", %s", more.c_str());
    std::fputc('\n', stderr);
}

int RunCommandBatch(const std::string& command, const std::vector<InputFile>& inputs, unsigned jobs,
                    const FileJob& job, const char* doneWord) {
    BatchSettings settings;
    settings.command = command;
    settings.jobs = jobs;
    BatchResult result = RunBatch(inputs, job, settings);
    PrintSummary(result, doneWord);
    return result.ExitCode();
}

void PrintError(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "[error] %s\n", text.c_str());
}

bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t length,
                         std::string* why, bool mayReplace) {
    if (length > UINT32_MAX) {
        *why = "the output would be 4 GiB or larger";
        return false;
    }
    platform::Segment segment{data, static_cast<uint32_t>(length)};
    platform::FileFailure failure;
    const platform::WriteMode mode =
        mayReplace ? platform::WriteMode::kReplace : platform::WriteMode::kCreate;
    if (!platform::WriteWholeFile(path.c_str(), &segment, length > 0 ? 1 : 0, mode, &failure)) {
        if (failure.problem == platform::FileProblem::kExists)
            *why = path + " exists; --force replaces it";
        else if (failure.problem == platform::FileProblem::kMissing)
            *why = "cannot write " + path + ": no such folder";
        else
            *why = "cannot write " + path + ": " + platform::DescribeFileFailure(failure);
        return false;
    }
    return true;
}

std::string OutputPathFor(const std::string& input, const std::string& extension,
                          const std::string& outDir) {
    fs::path path = platform::PathFromUtf8(input);
    path.replace_extension(extension);
    if (outDir.empty())
        return platform::Utf8FromPath(path);
    return platform::Utf8FromPath(platform::PathFromUtf8(outDir) / path.filename());
}

std::string OutputPathFor(const InputFile& input, const std::string& extension,
                          const std::string& outDir) {
    if (outDir.empty() || input.relative.empty())
        return OutputPathFor(input.path, extension, outDir);
    fs::path relative = platform::PathFromUtf8(input.relative);
    relative.replace_extension(extension);
    return platform::Utf8FromPath(platform::PathFromUtf8(outDir) / relative);
}

}  // namespace brennix::cli
