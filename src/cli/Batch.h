// Running one job per model file: expanding the inputs, a fixed pool of
// workers, results printed in input order, a progress line, the failure
// messages and the summary; and writing an output file atomically.
//
// Data goes to standard output, messages to standard error. A job never
// prints: it returns a FileOutcome, which the runner prints in input order,
// so what is printed does not depend on timing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brennix::cli {

constexpr int kExitOk = 0;      // every file succeeded
constexpr int kExitFailed = 1;  // a file failed, or an internal failure
constexpr int kExitUsage = 2;   // the command line could not be used

// One input of a command: a model file; or an argument that cannot be used
// (`error` set), reported as a failed file in its place among the others.
struct InputFile {
    std::string path;
    std::string error;
    // For a file found in a folder argument, its path below that folder
    // ("a/b/x.dff" for models/a/b/x.dff found in models/); empty for a file
    // named directly.
    std::string relative;
};

// Which files a folder argument gives, by the end of their names in any case.
enum class FolderFiles {
    kModels,            // ".dff"
    kColFiles,          // ".col"
    kModelsAndColFiles  // either (info)
};

// Each argument is a file or a folder. A file is taken whatever its name. A
// folder gives every regular file in it whose name `files` takes (with
// `recursive`, in its sub-folders too), sorted by path; the arguments keep
// their order. A missing path, or a folder that cannot be read, becomes an
// InputFile with its error. Paths are UTF-8. Never throws.
std::vector<InputFile> ExpandInputs(const std::vector<std::string>& arguments, bool recursive,
                                    FolderFiles files = FolderFiles::kModels);

// What one job did for one file.
struct FileOutcome {
    bool ok = false;
    std::string out;       // data for standard output, printed as is
    std::string messages;  // further lines for standard error, tagged, each ending in '\n'
    std::string reason;    // why the file failed, printed as "[error] <file>: <reason>"
};

// Works on one file. `index` is the file's position in the inputs: a job
// that gathers results for later (one archive of all models) stores them by
// index, each index touched by one job only. Runs on a worker thread, so it
// must touch nothing shared without its own care. An exception it throws
// fails that file only.
using FileJob = std::function<FileOutcome(size_t index, const std::string& path)>;

struct BatchSettings {
    std::string command;  // names the progress line: "[info] col 12/340 files"
    unsigned jobs = 0;    // workers; 0 means DefaultJobs()
};

struct BatchResult {
    size_t total = 0;
    size_t succeeded = 0;
    size_t failed = 0;
    int ExitCode() const { return failed == 0 ? kExitOk : kExitFailed; }
};

// The number of cores, at least 1.
unsigned DefaultJobs();

// Runs the job on every input that has no error, on min(jobs, inputs)
// workers. Prints each outcome in input order as soon as it and every
// earlier one are done: its `out` to standard output, its `messages` and,
// for a failure, "[error] <file>: <reason>" to standard error. Shows a
// progress line on standard error when it is a terminal and there is more
// than one input. Never throws.
BatchResult RunBatch(const std::vector<InputFile>& inputs, const FileJob& job,
                     const BatchSettings& settings);

// "[info] 3 files: 2 written, 1 failed" on standard error; `doneWord` names
// a success ("written", "read"). `more`, when not empty, follows on the same
// line after a comma.
void PrintSummary(const BatchResult& result, const char* doneWord, const std::string& more = "");

// A command whose work is the batch alone: RunBatch with `command` naming
// the progress line and `jobs` workers, then PrintSummary. Returns the
// result's ExitCode().
int RunCommandBatch(const std::string& command, const std::vector<InputFile>& inputs, unsigned jobs,
                    const FileJob& job, const char* doneWord);

// "[error] <text>" on standard error, for problems outside any one file.
void PrintError(const std::string& text);

// Replaces the file at path with the bytes through a temporary file beside
// it and a rename, so the target is never left partly written. Without
// `mayReplace` only a new file is made: a file that is there already, even
// one that appeared since the run began, is kept and the write fails. False
// with `why` set when nothing was written.
bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t length,
                         std::string* why, bool mayReplace = true);

// The output path for an input: its file name with the extension replaced
// (".col"), beside the input, or in outDir when that is given.
std::string OutputPathFor(const std::string& input, const std::string& extension,
                          const std::string& outDir = "");
// The same for an input found in a folder: in outDir it keeps its place
// below that folder (outDir/a/b/x.col for a/b/x.dff), so that the folder's
// tree is mirrored.
std::string OutputPathFor(const InputFile& input, const std::string& extension,
                          const std::string& outDir);

}  // namespace brennix::cli
