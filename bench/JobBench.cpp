// Speed and memory of every job at full scale, each beside a plain copy of
// the same files measured in the same run; process-all and the commands over
// a folder of small models; each job's peak memory, fresh memory (pages
// touched for the first time) and wall time as a process of its own; the
// bytes each job moves in memory. Ends with a Markdown report.
//
//   brennix_bench [--workdir=DIR] [--markdown=FILE] [--job-min-time=SECONDS]
//                 [--batch-files=N] [--batch-iterations=N] [--per-file-runs=N]
//                 [--memory-runs=N] [--memory-jobs=JOB,...] [--skip-batch]
//                 [--skip-memory] [--skip-hostile] [--hostile-timeout=SECONDS]
//                 [--hostile-shapes=SHAPE,...] [--varied-files=N] [--varied-seed=N]
//                 [--varied-iterations=N] [--adaptive-malloc] [--program=PATH]
//                 [--driver=PATH] [Google Benchmark flags]
//
// --memory-jobs measures only those jobs as processes of their own;
// --hostile-shapes runs the commands on only those hostile models (default:
// the ones the test support marks for benchmarks), each run stopped after
// --hostile-timeout seconds (default 60).
//
// --varied-files and --varied-seed set the folder of varied models the col
// command runs over with its default error bound and with --max-error 0
// (default 300 models from seed 1), --varied-iterations how often (default
// 1: the default takes long); --skip-batch leaves it out too.
//
// --per-file-runs sets how often each command runs over the folder one
// process per file (default 1; 0 leaves it out), the slowest part by far.
//
// The work folder (default "bench-work", created when missing) receives the
// generated models; the program and the one-job driver default to the
// executables beside this one. Every timed iteration runs the job, then the
// plain copy of its input files (fread whole, fwrite the same number of
// bytes), then an I/O-equivalent copy (fread the inputs whole, fwrite as many
// bytes as the job writes), so load on the machine touches all three alike.
//
// The C library's allocator raises its threshold for taking large blocks
// straight from the kernel each time such a block is freed, so in one
// process a job's time would depend on which benchmarks ran before it. The
// threshold is therefore fixed at its starting value (128 KiB): every large
// block, the copies' included, comes fresh from the kernel on each run, as in
// a single run of the program. --adaptive-malloc keeps the adaptive
// behaviour, which a host that calls the library again and again may see.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "VariedModels.h"
#include "cli/Batch.h"
#include "col/ColGenerate.h"
#include "dff/DffModel.h"
#include "dff/WholeModel.h"
#include "support/HostileModels.h"

using namespace brennix;
using namespace brennix::bench;

namespace {

// ---------------------------------------------------------------------------
// Options.

struct Options {
    std::string workdir = "bench-work";
    std::string markdown;
    std::string program;
    std::string driver;
    double jobMinTime = 0.3;
    int batchFiles = 10000;
    int batchIterations = 3;
    int perFileRuns = 1;
    int variedFiles = 300;
    uint32_t variedSeed = 1;
    int variedIterations = 1;
    int memoryRuns = 3;
    bool skipBatch = false;
    bool skipMemory = false;
    bool skipHostile = false;
    double hostileTimeout = 60;
    std::vector<std::string> memoryJobs;     // empty: every job
    std::vector<std::string> hostileShapes;  // empty: those marked for benchmarks
    bool adaptiveMalloc = false;
};

Options g_options;

bool TakeFlag(const char* argument, const char* name, std::string* value) {
    size_t n = std::strlen(name);
    if (std::strncmp(argument, name, n) != 0 || argument[n] != '=')
        return false;
    *value = argument + n + 1;
    return true;
}

std::string Absolute(const std::string& path);
std::vector<std::string> g_keptArguments;

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        if (comma > start)
            words.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return words;
}

bool Listed(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

// Removes this program's own flags from argv; the rest go to the library,
// with an output file for the library's own report made absolute, since the
// benchmarks run in the work folder.
void ParseOptions(int* argc, char** argv) {
    g_keptArguments.reserve(static_cast<size_t>(*argc));  // argv points into it
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        std::string value;
        const char* a = argv[i];
        if (TakeFlag(a, "--workdir", &value)) {
            g_options.workdir = value;
        } else if (TakeFlag(a, "--markdown", &value)) {
            g_options.markdown = value;
        } else if (TakeFlag(a, "--program", &value)) {
            g_options.program = value;
        } else if (TakeFlag(a, "--driver", &value)) {
            g_options.driver = value;
        } else if (TakeFlag(a, "--job-min-time", &value)) {
            g_options.jobMinTime = std::atof(value.c_str());
        } else if (TakeFlag(a, "--batch-files", &value)) {
            g_options.batchFiles = std::atoi(value.c_str());
        } else if (TakeFlag(a, "--batch-iterations", &value)) {
            g_options.batchIterations = std::atoi(value.c_str());
        } else if (TakeFlag(a, "--per-file-runs", &value)) {
            g_options.perFileRuns = std::atoi(value.c_str());
        } else if (TakeFlag(a, "--varied-files", &value)) {
            g_options.variedFiles = std::atoi(value.c_str());
        } else if (TakeFlag(a, "--varied-iterations", &value)) {
            g_options.variedIterations = std::atoi(value.c_str());
        } else if (TakeFlag(a, "--varied-seed", &value)) {
            g_options.variedSeed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (TakeFlag(a, "--memory-runs", &value)) {
            g_options.memoryRuns = std::atoi(value.c_str());
        } else if (TakeFlag(a, "--memory-jobs", &value)) {
            g_options.memoryJobs = SplitCommas(value);
        } else if (TakeFlag(a, "--hostile-shapes", &value)) {
            g_options.hostileShapes = SplitCommas(value);
        } else if (TakeFlag(a, "--hostile-timeout", &value)) {
            g_options.hostileTimeout = std::atof(value.c_str());
        } else if (std::strcmp(a, "--skip-hostile") == 0) {
            g_options.skipHostile = true;
        } else if (std::strcmp(a, "--skip-batch") == 0) {
            g_options.skipBatch = true;
        } else if (std::strcmp(a, "--skip-memory") == 0) {
            g_options.skipMemory = true;
        } else if (std::strcmp(a, "--adaptive-malloc") == 0) {
            g_options.adaptiveMalloc = true;
        } else if (TakeFlag(a, "--benchmark_out", &value)) {
            g_keptArguments.push_back("--benchmark_out=" + Absolute(value));
            argv[kept++] = &g_keptArguments.back()[0];
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
}

// A path that stays valid after the change into the work folder.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr)
        return path;
    return std::string(here) + "/" + path;
}

bool MakeDirectories(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Measurements kept for the report.

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct JobResult {
    const JobInfo* job = nullptr;
    const SizeClass* size = nullptr;
    uint64_t inputBytes = 0;
    uint64_t outputBytes = 0;
    std::vector<double> jobSeconds;
    std::vector<double> copySeconds;
    std::vector<double> ioSeconds;
    int64_t colFaces = -1;  // the col jobs: faces of the file they wrote
    std::string error;

    double JobMs() const { return Median(jobSeconds) * 1e3; }
    double CopyMs() const { return Median(copySeconds) * 1e3; }
    double IoMs() const { return Median(ioSeconds) * 1e3; }
    double PerMiB() const { return JobMs() / (static_cast<double>(inputBytes) / (1 << 20)); }
};

struct BatchResult {
    int files = 0;
    uint64_t modelBytes = 0;
    uint64_t collisionBytes = 0;
    std::vector<double> programSeconds;
    std::vector<double> copySeconds;       // into an empty folder
    std::vector<double> overwriteSeconds;  // over existing copies
    std::string error;
};

std::map<std::string, JobResult> g_jobResults;
std::vector<std::string> g_jobOrder;
BatchResult g_batch;

// ---------------------------------------------------------------------------
// Standard output of the program's modes goes to a file or nowhere while a
// job runs, so that the benchmark's own report stays readable.

class StdoutRedirect {
public:
    explicit StdoutRedirect(const char* path) {
        std::fflush(stdout);
        saved_ = dup(1);
        int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            close(fd);
        }
    }
    ~StdoutRedirect() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }
    StdoutRedirect(const StdoutRedirect&) = delete;
    StdoutRedirect& operator=(const StdoutRedirect&) = delete;

private:
    int saved_ = -1;
};

// Runs the job once with its messages kept, and checks that it did its work.
std::string CheckJob(const JobInfo& job, const JobFiles& files) {
    if (!files.output.empty())
        std::remove(files.output.c_str());
    bool ok;
    {
        StdoutRedirect redirect("job.log");
        ok = RunJob(job, files);
    }
    std::string log;
    ReadText("job.log", &log);
    if (!ok)
        return "the job reported a failure";
    if (log.find("[error]") != std::string::npos || log.find("[usage]") != std::string::npos) {
        return "the program said: " + log.substr(0, 200);
    }
    if (job.job == Job::kInfo && log.find("[info]") == std::string::npos) {
        return "no [info] message";
    }
    if (!files.output.empty() && FileBytes(files.output) == 0)
        return "no output written";
    return "";
}

void BenchJob(benchmark::State& state, const JobInfo* job, const SizeClass* size) {
    const JobFiles files = FilesFor(*job, *size);
    const std::string key = std::string(job->name) + "/" + size->label;
    JobResult& result = g_jobResults[key];
    if (result.job == nullptr) {
        result.job = job;
        result.size = size;
        result.inputBytes = TotalBytes(files.inputs);
        result.error = CheckJob(*job, files);
        result.outputBytes = files.output.empty() ? 0 : FileBytes(files.output);
        if (job->job == Job::kCol || job->job == Job::kColExact)
            result.colFaces = ColFileFaces(files.output);
    }
    if (!result.error.empty()) {
        state.SkipWithError(result.error.c_str());
        return;
    }
    std::vector<double> jobs, copies, ios;
    bool failed = false;
    {
        StdoutRedirect silence("/dev/null");
        for (auto _ : state) {
            auto t0 = std::chrono::steady_clock::now();
            bool ok = RunJob(*job, files);
            auto t1 = std::chrono::steady_clock::now();
            ok = PlainCopy(files.inputs, "copy.out", result.inputBytes) && ok;
            auto t2 = std::chrono::steady_clock::now();
            ok = PlainCopy(files.inputs, "io.out", result.outputBytes) && ok;
            auto t3 = std::chrono::steady_clock::now();
            state.SetIterationTime(Seconds(t0, t1));
            jobs.push_back(Seconds(t0, t1));
            copies.push_back(Seconds(t1, t2));
            ios.push_back(Seconds(t2, t3));
            if (!ok) {
                failed = true;
                break;
            }
        }
    }
    if (failed) {
        state.SkipWithError("a job or copy failed while timed");
        return;
    }
    // The report keeps the longest run, which is the one the library reports.
    if (jobs.size() >= result.jobSeconds.size()) {
        result.jobSeconds = jobs;
        result.copySeconds = copies;
        result.ioSeconds = ios;
    }
    const double jobMs = Median(jobs) * 1e3;
    const double copyMs = Median(copies) * 1e3;
    const double ioMs = Median(ios) * 1e3;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * result.inputBytes));
    state.counters["in_MiB"] = static_cast<double>(result.inputBytes) / (1 << 20);
    state.counters["copy_ms"] = copyMs;
    state.counters["x_copy"] = copyMs > 0 ? jobMs / copyMs : 0;
    state.counters["io_ms"] = ioMs;
    state.counters["x_io"] = ioMs > 0 ? jobMs / ioMs : 0;
}

// ---------------------------------------------------------------------------
// Process-all over a folder of small models, beside a copy of the same files.

const char kBatchDir[] = "batch";
const char kBatchCopyDir[] = "batchcopy";

std::string BatchName(int i, const char* extension) {
    char name[32];
    std::snprintf(name, sizeof name, "b%05d.%s", i, extension);
    return name;
}

// Writes back what the work folder's file system holds in memory, so that a
// timed run does not pay for the writes of the one before.
void SyncWorkFolder() {
    int fd = open(".", O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    syncfs(fd);
    close(fd);
}

// Fresh files rather than rewritten ones: on some file systems replacing a
// file's contents forces its data out to the disk, which would make setting
// up each run slower than the run itself.
bool WriteBatchModels(const std::vector<uint8_t>& model) {
    for (int i = 0; i < g_options.batchFiles; ++i) {
        const std::string path = std::string(kBatchDir) + "/" + BatchName(i, "dff");
        std::remove(path.c_str());
        if (!WriteBytes(path, model))
            return false;
    }
    return true;
}

bool CopyBatch() {
    for (int i = 0; i < g_options.batchFiles; ++i) {
        for (const char* extension : {"dff", "col"}) {
            std::string name = BatchName(i, extension);
            std::string from = std::string(kBatchDir) + "/" + name;
            if (!PlainCopy({from}, std::string(kBatchCopyDir) + "/" + name, FileBytes(from))) {
                return false;
            }
        }
    }
    return true;
}

void BenchBatch(benchmark::State& state) {
    BatchResult& result = g_batch;
    result = BatchResult();
    result.files = g_options.batchFiles;
    const std::vector<uint8_t> model = SmallModelBytes();
    const std::vector<uint8_t> col = SmallCollisionBytes();
    result.modelBytes = model.size();
    result.collisionBytes = col.size();
    // A clean folder: the mode looks at every model in it.
    std::string clear = std::string("rm -rf ") + kBatchDir + " " + kBatchCopyDir;
    if (std::system(clear.c_str()) != 0 || !MakeDirectories(kBatchDir) ||
        !MakeDirectories(kBatchCopyDir)) {
        state.SkipWithError("cannot make the batch folders");
        return;
    }
    for (int i = 0; i < g_options.batchFiles; ++i) {
        if (!WriteBytes(std::string(kBatchDir) + "/" + BatchName(i, "col"), col)) {
            state.SkipWithError("cannot write the COL3 files");
            return;
        }
    }
    const uint64_t expected = model.size() + col.size() + 12;
    const std::string freshCopyFolder =
        std::string("rm -rf ") + kBatchCopyDir + " && mkdir " + kBatchCopyDir;
    for (auto _ : state) {
        // The mode rewrites the models in place: each run starts afresh, with
        // nothing left for the kernel to write back from the last one.
        if (!WriteBatchModels(model) || std::system(freshCopyFolder.c_str()) != 0) {
            state.SkipWithError("cannot rewrite the batch models");
            break;
        }
        SyncWorkFolder();
        ChildResult run = RunChild(g_options.program, {"brennix", "-p"}, kBatchDir, "batch.log");
        SyncWorkFolder();
        // First into an empty folder, as cp would, then over those copies,
        // which replaces existing files as the mode does.
        auto t0 = std::chrono::steady_clock::now();
        bool copied = CopyBatch();
        auto t1 = std::chrono::steady_clock::now();
        SyncWorkFolder();
        // Overwriting is slow where replacing a file forces its data out; once
        // is enough to show it.
        auto t2 = std::chrono::steady_clock::now();
        if (result.overwriteSeconds.empty())
            copied = CopyBatch() && copied;
        auto t3 = std::chrono::steady_clock::now();
        state.SetIterationTime(run.wallSeconds);
        std::string log;
        ReadText("batch.log", &log);
        const std::string done =
            "[info] Processed " + std::to_string(g_options.batchFiles) + " files";
        if (!run.started || log.find("[error]") != std::string::npos ||
            log.find(done) == std::string::npos ||
            FileBytes(std::string(kBatchDir) + "/" + BatchName(g_options.batchFiles - 1, "dff")) !=
                expected ||
            !copied) {
            result.error = "process-all or the copy failed: " + log.substr(0, 200);
            state.SkipWithError(result.error.c_str());
            break;
        }
        result.programSeconds.push_back(run.wallSeconds);
        result.copySeconds.push_back(Seconds(t0, t1));
        if (result.overwriteSeconds.empty())
            result.overwriteSeconds.push_back(Seconds(t2, t3));
    }
    SyncWorkFolder();
    const double programMs = Median(result.programSeconds) * 1e3;
    const double copyMs = Median(result.copySeconds) * 1e3;
    const double overwriteMs = Median(result.overwriteSeconds) * 1e3;
    state.counters["files"] = g_options.batchFiles;
    state.counters["copy_ms"] = copyMs;
    state.counters["x_copy"] = copyMs > 0 ? programMs / copyMs : 0;
    state.counters["overwrite_ms"] = overwriteMs;
    state.counters["x_overwrite"] = overwriteMs > 0 ? programMs / overwriteMs : 0;
}

// ---------------------------------------------------------------------------
// The commands over a folder of small models: each as one process with two
// workers and with one, beside the same files done one process per file and
// a plain copy of the models. Every run starts from the same fresh folder.

const char kCommandDir[] = "cmdbatch";
const char kCommandCopyDir[] = "cmdcopy";

struct CommandBatch {
    const char* name;                    // for the benchmark's name and the table
    std::vector<std::string> arguments;  // after the program's name, before the paths
    bool writesCol;                      // X.col beside each model
    bool changesModels;                  // each model rewritten in place
};

const std::vector<CommandBatch>& CommandBatches() {
    static const std::vector<CommandBatch> kBatches = {
        {"info --json", {"info", "--json"}, false, false},
        {"col", {"col"}, true, false},
        {"paint", {"paint", "--day", "#C8B4A0", "--night", "40,40,80", "--in-place"}, false, true},
    };
    return kBatches;
}

struct CommandBatchResult {
    std::vector<double> twoWorkerSeconds;
    std::vector<double> oneWorkerSeconds;
    std::vector<double> perFileSeconds;  // the whole loop of processes
    std::vector<double> copySeconds;
    std::string error;
};

// Command name -> its runs.
std::map<std::string, CommandBatchResult> g_commandResults;

bool WriteCommandFolder(const std::vector<uint8_t>& model) {
    const std::string fresh = std::string("rm -rf ") + kCommandDir + " " + kCommandCopyDir +
                              " && mkdir " + kCommandDir + " " + kCommandCopyDir;
    if (std::system(fresh.c_str()) != 0)
        return false;
    for (int i = 0; i < g_options.batchFiles; ++i) {
        if (!WriteBytes(std::string(kCommandDir) + "/" + BatchName(i, "dff"), model))
            return false;
    }
    SyncWorkFolder();
    return true;
}

// What a run of the command left behind, or "" when it did its work.
std::string CheckCommandRun(const CommandBatch& batch, const ChildResult& run,
                            const std::vector<uint8_t>& model) {
    std::string log;
    ReadText("cmd.err", &log);
    if (!run.started)
        return "could not start the program";
    if (run.status != 0 || log.find("[error]") != std::string::npos)
        return "exit status " + std::to_string(run.status) + ": " + log.substr(0, 200);
    const std::string last =
        std::string(kCommandDir) + "/" + BatchName(g_options.batchFiles - 1, "");
    if (batch.writesCol && FileBytes(last + "col") == 0)
        return "no collision file written";
    std::string written;
    if (batch.changesModels &&
        (!ReadText(last + "dff", &written) || written == std::string(model.begin(), model.end()))) {
        return "the model was not changed";
    }
    return "";
}

void BenchCommandBatch(benchmark::State& state, const CommandBatch* batch) {
    CommandBatchResult& result = g_commandResults[batch->name];
    result = CommandBatchResult();
    const std::vector<uint8_t> model = SmallModelBytes();
    auto fail = [&](const std::string& why) {
        result.error = why;
        state.SkipWithError(result.error.c_str());
    };
    // The folder as one argument, with N workers.
    auto pooled = [&](unsigned workers) {
        std::vector<std::string> arguments = {"brennix"};
        arguments.insert(arguments.end(), batch->arguments.begin(), batch->arguments.end());
        arguments.insert(arguments.end(), {"-j", std::to_string(workers), "."});
        ChildResult run =
            RunChild(g_options.program, arguments, kCommandDir, "/dev/null", "cmd.err");
        std::string why = CheckCommandRun(*batch, run, model);
        if (!why.empty())
            fail(why);
        return run.wallSeconds;
    };
    int iteration = 0;
    for (auto _ : state) {
        if (!WriteCommandFolder(model)) {
            fail("cannot write the models");
            break;
        }
        const double two = pooled(2);
        if (!result.error.empty() || !WriteCommandFolder(model))
            break;
        const double one = pooled(1);
        if (!result.error.empty())
            break;
        auto t0 = std::chrono::steady_clock::now();
        bool copied = true;
        for (int i = 0; i < g_options.batchFiles && copied; ++i) {
            const std::string name = BatchName(i, "dff");
            const std::string from = std::string(kCommandDir) + "/" + name;
            copied = PlainCopy({from}, std::string(kCommandCopyDir) + "/" + name, FileBytes(from));
        }
        auto t1 = std::chrono::steady_clock::now();
        if (!copied) {
            fail("the copy failed");
            break;
        }
        if (iteration++ < g_options.perFileRuns) {
            if (!WriteCommandFolder(model)) {
                fail("cannot write the models");
                break;
            }
            // As a shell loop would: one process per model, one after another.
            std::vector<std::string> arguments = {"brennix"};
            arguments.insert(arguments.end(), batch->arguments.begin(), batch->arguments.end());
            arguments.push_back("");
            auto p0 = std::chrono::steady_clock::now();
            ChildResult run;
            for (int i = 0; i < g_options.batchFiles; ++i) {
                arguments.back() = BatchName(i, "dff");
                run = RunChild(g_options.program, arguments, kCommandDir, "/dev/null", "cmd.err");
                if (!run.started || run.status != 0)
                    break;
            }
            auto p1 = std::chrono::steady_clock::now();
            std::string why = CheckCommandRun(*batch, run, model);
            if (!why.empty()) {
                fail("one process per file: " + why);
                break;
            }
            result.perFileSeconds.push_back(Seconds(p0, p1));
        }
        state.SetIterationTime(two);
        result.twoWorkerSeconds.push_back(two);
        result.oneWorkerSeconds.push_back(one);
        result.copySeconds.push_back(Seconds(t0, t1));
    }
    SyncWorkFolder();
    const double twoMs = Median(result.twoWorkerSeconds) * 1e3;
    const double copyMs = Median(result.copySeconds) * 1e3;
    state.counters["files"] = g_options.batchFiles;
    state.counters["j1_ms"] = Median(result.oneWorkerSeconds) * 1e3;
    state.counters["per_file_ms"] = Median(result.perFileSeconds) * 1e3;
    state.counters["copy_ms"] = copyMs;
    state.counters["x_copy"] = copyMs > 0 ? twoMs / copyMs : 0;
}

// ---------------------------------------------------------------------------
// The col command over a folder of varied models (VariedModels.h), with its
// default error bound and with --max-error 0, beside a copy of the models.

const char kVariedDir[] = "colvaried";
const char kVariedCopyDir[] = "colvariedcopy";
const char kVariedRules[] = "colsurfaces.txt";  // beside the folder, not in it

struct VariedResult {
    int files = 0;
    uint64_t modelBytes = 0;
    uint64_t triangles = 0;
    std::vector<double> defaultSeconds;
    std::vector<double> exactSeconds;
    std::vector<double> copySeconds;
    int64_t defaultFaces = 0;
    int64_t exactFaces = 0;
    std::string error;
};

VariedResult g_varied;
std::vector<std::string> g_variedNames;

bool WriteVariedFolder(VariedResult* result) {
    const std::string fresh = std::string("rm -rf ") + kVariedDir + " " + kVariedCopyDir +
                              " && mkdir " + kVariedDir + " " + kVariedCopyDir;
    if (std::system(fresh.c_str()) != 0)
        return false;
    const std::string rules = VariedSurfaceRules();
    if (!WriteBytes(kVariedRules, std::vector<uint8_t>(rules.begin(), rules.end())))
        return false;
    g_variedNames.clear();
    for (const ShapeModel& model : MakeVariedModels(g_options.variedFiles, g_options.variedSeed)) {
        const std::vector<uint8_t> bytes = test::BuildModel(model.plan);
        if (!WriteBytes(std::string(kVariedDir) + "/" + model.name + ".dff", bytes))
            return false;
        g_variedNames.push_back(model.name);
        result->modelBytes += bytes.size();
        result->triangles += model.triangles;
    }
    result->files = static_cast<int>(g_variedNames.size());
    SyncWorkFolder();
    return true;
}

// The command keeps outputs that are there already: each run starts without.
void RemoveVariedCollision() {
    for (const std::string& name : g_variedNames)
        std::remove((std::string(kVariedDir) + "/" + name + ".col").c_str());
    SyncWorkFolder();
}

// Runs the command over the folder; its wall time, or -1 with `why` set. The
// faces of every file written are added up in `faces`.
double RunVariedCol(bool exact, int64_t* faces, std::string* why) {
    RemoveVariedCollision();
    std::vector<std::string> arguments = {
        "brennix", "col", "-j", "2", "--surfaces", std::string("../") + kVariedRules};
    if (exact)
        arguments.insert(arguments.end(), {"--max-error", "0"});
    arguments.push_back(".");
    ChildResult run = RunChild(g_options.program, arguments, kVariedDir, "/dev/null", "cmd.err");
    std::string log;
    ReadText("cmd.err", &log);
    if (!run.started || run.status != 0) {
        *why = std::string(exact ? "--max-error 0" : "default") + ": exit status " +
               std::to_string(run.status) + ": " + log.substr(0, 300);
        return -1;
    }
    *faces = 0;
    for (const std::string& name : g_variedNames) {
        const int64_t count = ColFileFaces(std::string(kVariedDir) + "/" + name + ".col");
        if (count < 0) {
            *why = "no collision file for " + name;
            return -1;
        }
        *faces += count;
    }
    return run.wallSeconds;
}

void BenchVariedCol(benchmark::State& state) {
    VariedResult& result = g_varied;
    result = VariedResult();
    if (!WriteVariedFolder(&result)) {
        result.error = "cannot write the models";
        state.SkipWithError(result.error.c_str());
        return;
    }
    for (auto _ : state) {
        std::string why;
        const double defaultSeconds = RunVariedCol(false, &result.defaultFaces, &why);
        const double exactSeconds =
            defaultSeconds < 0 ? -1 : RunVariedCol(true, &result.exactFaces, &why);
        if (exactSeconds < 0) {
            result.error = why;
            state.SkipWithError(result.error.c_str());
            break;
        }
        const std::string freshCopy =
            std::string("rm -rf ") + kVariedCopyDir + " && mkdir " + kVariedCopyDir;
        bool copied = std::system(freshCopy.c_str()) == 0;
        SyncWorkFolder();
        auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < g_variedNames.size() && copied; ++i) {
            const std::string name = g_variedNames[i] + ".dff";
            const std::string from = std::string(kVariedDir) + "/" + name;
            copied = PlainCopy({from}, std::string(kVariedCopyDir) + "/" + name, FileBytes(from));
        }
        auto t1 = std::chrono::steady_clock::now();
        if (!copied) {
            result.error = "the copy failed";
            state.SkipWithError(result.error.c_str());
            break;
        }
        state.SetIterationTime(defaultSeconds);
        result.defaultSeconds.push_back(defaultSeconds);
        result.exactSeconds.push_back(exactSeconds);
        result.copySeconds.push_back(Seconds(t0, t1));
    }
    const double defaultMs = Median(result.defaultSeconds) * 1e3;
    const double exactMs = Median(result.exactSeconds) * 1e3;
    state.counters["files"] = result.files;
    state.counters["exact_ms"] = exactMs;
    state.counters["x_exact"] = exactMs > 0 ? defaultMs / exactMs : 0;
    state.counters["faces"] = static_cast<double>(result.defaultFaces);
    state.counters["exact_faces"] = static_cast<double>(result.exactFaces);
}

// ---------------------------------------------------------------------------
// The col command on the 100,000-triangle model: the other col rows take the
// 65,533-triangle one, the most that --max-error 0 can write. Timed in this
// process, after the benchmarks.

struct FullColResult {
    std::string model;
    uint64_t inputBytes = 0;
    std::vector<double> defaultSeconds;
    std::vector<double> copySeconds;
    int64_t defaultFaces = -1;
    std::string defaultWhy;  // why the default failed, if it did
    std::string exactWhy;    // why --max-error 0 failed, if it did
    int64_t exactFaces = -1;
};

FullColResult g_fullCol;

// One run of the col command's work on `path`; the faces, or -1 with `why`.
int64_t ColOnce(const std::string& path, double maxError, std::string* why) {
    WholeModel model;
    if (model.Load(path.c_str()) < 0) {
        *why = "cannot read " + path;
        return -1;
    }
    ColRequest request;
    request.maxError = maxError;
    std::vector<uint8_t> bytes;
    if (!GenerateColBytes(model, request, path.substr(0, path.size() - 4), &bytes, why))
        return -1;
    if (!cli::WriteFileAtomically("full.col", bytes.data(), bytes.size(), why))
        return -1;
    return ColFileFaces("full.col");
}

void MeasureFullCol() {
    FullColResult& r = g_fullCol;
    const SizeClass& top = SizeClasses().back();
    r.model = ModelName(top);
    r.inputBytes = FileBytes(r.model);
    r.exactFaces = ColOnce(r.model, 0, &r.exactWhy);
    for (int run = 0; run < 5; ++run) {
        std::remove("full.col");
        auto t0 = std::chrono::steady_clock::now();
        r.defaultFaces = ColOnce(r.model, kDefaultMaxError, &r.defaultWhy);
        auto t1 = std::chrono::steady_clock::now();
        if (r.defaultFaces < 0)
            break;
        PlainCopy({r.model}, "copy.out", r.inputBytes);
        auto t2 = std::chrono::steady_clock::now();
        r.defaultSeconds.push_back(Seconds(t0, t1));
        r.copySeconds.push_back(Seconds(t1, t2));
    }
    std::remove("full.col");
}

// ---------------------------------------------------------------------------
// Peak resident size of each job on the largest model, one process per run.

struct ProcessResult {
    const JobInfo* job = nullptr;
    const SizeClass* size = nullptr;
    uint64_t inputBytes = 0;
    long peakKiB = 0;
    long copyPeakKiB = 0;
    double wallMs = 0;
    double copyWallMs = 0;
    uint64_t freshBytes = 0;  // the least of any run
    uint64_t copyFreshBytes = 0;
    std::string error;
};

// Job and size -> the job run as a process of its own.
std::map<std::string, ProcessResult> g_process;
long g_idlePeakKiB = 0;
uint64_t g_idleFreshBytes = 0;  // the program started with no job, least of the runs
double g_idleProgramMs = 0;
double g_idleDriverMs = 0;

// Runs a program through the driver's "measure" so that the peak resident
// size is the program's own.
ChildResult RunMeasured(const std::string& program, const std::vector<std::string>& arguments,
                        const char* logPath) {
    std::vector<std::string> launcher = {"brennix_bench_job", "measure", "measure.txt", program};
    launcher.insert(launcher.end(), arguments.begin(), arguments.end());
    std::remove("measure.txt");
    ChildResult launch = RunChild(g_options.driver, launcher, ".", logPath);
    ChildResult result;
    std::string text;
    if (!launch.started || launch.status != 0 || !ReadText("measure.txt", &text))
        return result;
    unsigned long long fresh = 0;
    if (std::sscanf(text.c_str(), "%ld %lf %d %ld %llu", &result.maxResidentKiB,
                    &result.wallSeconds, &result.status, &result.minorFaults, &fresh) == 5) {
        result.freshBytes = fresh;
        result.started = true;
    }
    return result;
}

std::string ProgramFailure(const ChildResult& run, const char* logPath) {
    if (!run.started)
        return "could not start";
    if (run.status != 0)
        return "exit status " + std::to_string(run.status);
    std::string log;
    ReadText(logPath, &log);
    if (log.find("[error]") != std::string::npos || log.find("[usage]") != std::string::npos) {
        return "the program said: " + log.substr(0, 200);
    }
    return "";
}

// Every job on the 1 MiB and the largest model, each run a process of its
// own beside a process that makes the plain copy of the same inputs.
void MeasureProcesses() {
    std::vector<double> idleProgram, idleDriver;
    for (int run = 0; run < 5; ++run) {
        ChildResult idle = RunMeasured(g_options.program, {"brennix"}, "mem.log");
        g_idlePeakKiB = std::max(g_idlePeakKiB, idle.maxResidentKiB);
        g_idleFreshBytes = run == 0 ? idle.freshBytes : std::min(g_idleFreshBytes, idle.freshBytes);
        idleProgram.push_back(idle.wallSeconds);
        // Without arguments the driver only prints how to use it.
        idleDriver.push_back(
            RunMeasured(g_options.driver, {"brennix_bench_job"}, "mem.log").wallSeconds);
    }
    g_idleProgramMs = Median(idleProgram) * 1e3;
    g_idleDriverMs = Median(idleDriver) * 1e3;
    for (const JobInfo& job : Jobs()) {
        if (!g_options.memoryJobs.empty() && !Listed(g_options.memoryJobs, job.name))
            continue;
        for (const char* label : {"1mb", "13mb"}) {
            ProcessResult m;
            m.job = &job;
            m.size = FindSize(label);
            JobFiles files = FilesFor(job, *m.size);
            m.inputBytes = TotalBytes(files.inputs);
            std::vector<double> walls, copyWalls;
            for (int run = 0; run < g_options.memoryRuns && m.error.empty(); ++run) {
                ChildResult r;
                if (IsCommand(job))
                    std::remove(files.output.c_str());
                if (job.viaProgram) {
                    r = RunMeasured(g_options.program, ProgramArguments(job, files), "mem.log");
                } else {
                    r = RunMeasured(g_options.driver, {"brennix_bench_job", job.name, label},
                                    "mem.log");
                }
                m.error = ProgramFailure(r, "mem.log");
                m.peakKiB = std::max(m.peakKiB, r.maxResidentKiB);
                m.freshBytes = run == 0 ? r.freshBytes : std::min(m.freshBytes, r.freshBytes);
                walls.push_back(r.wallSeconds);
                ChildResult c = RunMeasured(
                    g_options.driver, {"brennix_bench_job", "copy", label, job.name}, "mem.log");
                if (m.error.empty() && c.status != 0)
                    m.error = "the copy failed";
                m.copyPeakKiB = std::max(m.copyPeakKiB, c.maxResidentKiB);
                m.copyFreshBytes =
                    run == 0 ? c.freshBytes : std::min(m.copyFreshBytes, c.freshBytes);
                copyWalls.push_back(c.wallSeconds);
            }
            m.wallMs = Median(walls) * 1e3;
            m.copyWallMs = Median(copyWalls) * 1e3;
            g_process[std::string(job.name) + "/" + label] = m;
        }
    }
}

// ---------------------------------------------------------------------------
// The commands on hostile models at full size, each run a process of its own
// stopped after --hostile-timeout seconds.

struct HostileResult {
    const test::HostileShape* shape = nullptr;
    const HostileCommand* command = nullptr;
    uint64_t inputBytes = 0;
    bool ran = false;
    bool stopped = false;  // at the time limit
    int status = -1;       // the program's exit status, -1 for a signal
    double wallSeconds = 0;
    long peakKiB = 0;
};

std::vector<HostileResult> g_hostile;

std::string Format(const char* format, double value);

std::vector<const test::HostileShape*> HostileShapesToRun() {
    std::vector<const test::HostileShape*> shapes;
    for (const test::HostileShape& shape : test::HostileShapes()) {
        if (g_options.hostileShapes.empty() ? shape.forBenchmark
                                            : Listed(g_options.hostileShapes, shape.name))
            shapes.push_back(&shape);
    }
    return shapes;
}

void MeasureHostile() {
    const std::string seconds = Format("%.3f", g_options.hostileTimeout);
    for (const test::HostileShape* shape : HostileShapesToRun()) {
        const std::string model = HostileModelName(shape->name);
        if (!WriteBytes(model, shape->make(shape->fullCount)))
            continue;
        for (const HostileCommand& command : HostileCommands()) {
            HostileResult h;
            h.shape = shape;
            h.command = &command;
            h.inputBytes = FileBytes(model);
            std::remove("hostile.dff");
            std::remove("hostile.col");
            std::vector<std::string> launcher = {"brennix_bench_job", "measure-within",  seconds,
                                                 "measure.txt",       g_options.program, "brennix"};
            for (const std::string& argument : command.arguments(model, "hostile.dff"))
                launcher.push_back(argument);
            std::remove("measure.txt");
            ChildResult launch =
                RunChild(g_options.driver, launcher, ".",
                         command.stdoutIsData ? "/dev/null" : "hostile.log", "hostile.err");
            std::string text;
            long faults = 0;
            unsigned long long fresh = 0;
            int stopped = 0;
            if (launch.started && launch.status == 0 && ReadText("measure.txt", &text) &&
                std::sscanf(text.c_str(), "%ld %lf %d %ld %llu %d", &h.peakKiB, &h.wallSeconds,
                            &h.status, &faults, &fresh, &stopped) == 6) {
                h.ran = true;
                h.stopped = stopped != 0;
            }
            std::printf("hostile %s, %s: %s %.2f s, %.1f MiB peak\n", shape->name, command.name,
                        !h.ran      ? "not run"
                        : h.stopped ? "stopped at"
                                    : "done in",
                        h.wallSeconds, static_cast<double>(h.peakKiB) / 1024);
            std::fflush(stdout);
            g_hostile.push_back(h);
        }
        std::remove(model.c_str());
    }
}

// ---------------------------------------------------------------------------
// Bytes each job moves in memory on the largest model, counted from the
// parsed model itself.

struct Traffic {
    const JobInfo* job = nullptr;
    uint64_t fileRead = 0;      // file -> file buffer (fread)
    uint64_t parsed = 0;        // file buffer -> geometry arrays
    uint64_t work = 0;          // arrays the job itself fills
    uint64_t rebuilt = 0;       // the rebuilt Geometry List chunk, when it is built in memory
    uint64_t outputBuffer = 0;  // the output file image (COL3 only: models are saved
                                // straight from their chunks)
    uint64_t written = 0;       // output buffer -> file (write)
    uint64_t Total() const { return fileRead + parsed + work + rebuilt + outputBuffer + written; }
};

// Bytes copied out of the file buffer into arrays of the geometry's own;
// arrays viewed where they lie in the file cost nothing.
uint64_t ParsedBytes(const Geometry& g) {
    uint64_t total = 0;
    g.ForEachArray([&total](const uint8_t* array, uint8_t owns, uint64_t bytes) {
        if (array != nullptr && owns)
            total += bytes;
    });
    return total;
}

// Parsed bytes and the rebuilt list's size after a colour change (0 when the
// job changes no colours).
void MeasureModel(const std::string& path, bool paint, uint64_t* parsed, uint64_t* rebuilt,
                  uint64_t* vertices, uint64_t* triangles) {
    DffModel model;
    model.Init();
    *parsed = *rebuilt = *vertices = *triangles = 0;
    if (model.Load(path.c_str()) > 0 && model.ReadGeometryList() != 0 && model.FirstGeometry()) {
        Geometry& g = *model.FirstGeometry();
        *parsed = ParsedBytes(g);
        *vertices = static_cast<uint64_t>(g.vertexCount);
        *triangles = static_cast<uint64_t>(g.triangleCount);
        if (paint) {
            const uint8_t day[4] = {1, 2, 3, 255};
            const uint8_t night[4] = {4, 5, 6, 255};
            if (g.SetUniformColors(day, night) && model.RebuildGeometryList()) {
                *rebuilt = kChunkHeaderSize + model.geometryList->payload.length;
            }
        }
    }
    model.Release();
}

std::vector<Traffic> CountTraffic() {
    std::vector<Traffic> out;
    const SizeClass& size = SizeClasses().back();
    for (const JobInfo& job : Jobs()) {
        // The commands' working arrays are their own; the tables above give
        // their time and memory.
        if (IsCommand(job))
            continue;
        Traffic t;
        t.job = &job;
        JobFiles files = FilesFor(job, size);
        t.fileRead = TotalBytes(files.inputs);
        uint64_t parsed, rebuilt, v, tri;
        const bool colours = job.job == Job::kNightColors || job.job == Job::kUniformColors ||
                             job.job == Job::kLibraryNight || job.job == Job::kLibraryPaint;
        MeasureModel(files.inputs[0], colours, &parsed, &rebuilt, &v, &tri);
        // The job's output as the benchmark last left it.
        uint64_t output = 0;
        {
            StdoutRedirect silence("/dev/null");
            if (!files.output.empty() && RunJob(job, files))
                output = FileBytes(files.output);
        }
        switch (job.job) {
            case Job::kInfo:
                t.parsed = parsed;
                break;
            case Job::kAppend:
            case Job::kLibraryAppend:
                // The COL3 bytes are appended to a private copy of the clump
                // Extension; the rest is written back from the file buffer.
                t.work = FileBytes(files.inputs[1]);
                t.written = output;
                break;
            case Job::kGenerateEmpty:
            case Job::kGenerateBox:
                t.parsed = parsed;
                t.outputBuffer = t.written = output;
                break;
            case Job::kGenerateMesh:
            case Job::kLibraryGenerate:
                t.parsed = parsed;
                t.work = 8 * tri + 6 * v;
                t.outputBuffer = t.written = output;
                break;
            case Job::kNightColors:
            case Job::kLibraryNight:
                t.parsed = 2 * parsed;
                t.work = 4 * v;
                t.written = output;  // the rebuilt list is written from the geometry
                break;
            case Job::kUniformColors:
            case Job::kLibraryPaint:
                t.parsed = parsed;
                t.work = 8 * v;
                t.written = output;  // the rebuilt list is written from the geometry
                break;
            case Job::kCol:
            case Job::kColExact:
            case Job::kPaintCommand:
            case Job::kNightCommand:
                break;
        }
        out.push_back(t);
    }
    return out;
}

// ---------------------------------------------------------------------------
// The report.

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string MiB(uint64_t bytes) {
    return Format("%.2f", static_cast<double>(bytes) / (1 << 20));
}

const char* Verdict(bool pass) {
    return pass ? "pass" : "**MISS**";
}

// Bytes of memory behind a count of minor page faults.
uint64_t FaultBytes(long minorFaults) {
    static const long page = sysconf(_SC_PAGESIZE);
    return static_cast<uint64_t>(minorFaults) * static_cast<uint64_t>(page > 0 ? page : 4096);
}

// What a machine where page faults are dear pays for fresh memory, for the
// fresh-memory table.
constexpr double kDearMsPerMiB = 5.0;

std::string FacesText(int64_t faces) {
    return faces < 0 ? std::string("-") : std::to_string(faces);
}

// The col command with its default error bound beside --max-error 0 and the
// plain copy, every size; the target on the largest.
template <class Count>
std::string ColPairReport(Count& count) {
    const std::string top = SizeClasses().back().label;
    std::string rows;
    for (const SizeClass& size : SizeClasses()) {
        auto d = g_jobResults.find(std::string("col/") + size.label);
        auto e = g_jobResults.find(std::string("colexact/") + size.label);
        if (d == g_jobResults.end() || e == g_jobResults.end() || d->second.job == nullptr ||
            e->second.job == nullptr)
            continue;
        const JobResult& a = d->second;
        const JobResult& b = e->second;
        const bool isTop = top == size.label;
        rows += "| " + std::string(size.label) + " | " +
                std::to_string(TrianglesFor(*a.job, size)) + " | ";
        if (!a.error.empty() || !b.error.empty() || a.jobSeconds.empty() || b.jobSeconds.empty()) {
            rows += "failed: " + (a.error.empty() ? b.error : a.error) + " | | | | | | | | |\n";
            if (isTop)
                count(false);
            continue;
        }
        const double ratio = a.JobMs() / b.JobMs();
        rows += Format("%.3f", a.JobMs()) + " | " + Format("%.3f", b.JobMs()) + " | " +
                Format("%.2f", ratio) + " | " + Format("%.3f", a.CopyMs()) + " | " +
                Format("%.2f", a.JobMs() / a.CopyMs()) + " | " + FacesText(a.colFaces) + " | " +
                FacesText(b.colFaces) + " | ";
        if (isTop) {
            const bool pass = ratio <= 3.0;
            count(pass);
            rows += std::string("<= 3.0 | ") + Verdict(pass) + " |\n";
        } else {
            rows += " | |\n";
        }
    }
    const FullColResult& f = g_fullCol;
    if (rows.empty() && f.model.empty())
        return "";
    std::string md = "\n## col with its default error bound beside --max-error 0\n\n";
    md +=
        "The rows *col* and *colexact* of the table above: the col command's work on one file "
        "in this process, with its default error bound (" +
        Format("%g", kDefaultMaxError) +
        " model units: the mesh simplified within that distance) and with `--max-error 0` "
        "(every triangle kept), on the models the col job reads (at the largest size the "
        "65,533-triangle model, the most `--max-error 0` can write), beside the plain copy of "
        "the same file. *faces*: in the file written. Target: the default at most 3 x "
        "`--max-error 0` at the largest size.\n\n";
    md +=
        "| size | triangles | default ms | --max-error 0 ms | default / exact | copy ms | default "
        "x copy | default faces | exact faces | target | result |\n";
    md += "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n";
    md += rows;
    if (!f.model.empty()) {
        const int32_t triangles = SizeClasses().back().triangles;
        md += "\nOn the " + std::to_string(triangles) + "-triangle model (" + f.model + ", " +
              MiB(f.inputBytes) + " MiB): ";
        if (f.defaultSeconds.empty()) {
            md += "the default failed: " + f.defaultWhy;
        } else {
            const double ms = Median(f.defaultSeconds) * 1e3;
            const double copy = Median(f.copySeconds) * 1e3;
            md += "the default takes " + Format("%.1f", ms) + " ms (median of " +
                  std::to_string(f.defaultSeconds.size()) + " runs; " + Format("%.2f", ms / copy) +
                  " x the plain copy, " + Format("%.1f", copy) + " ms) and writes " +
                  FacesText(f.defaultFaces) + " faces";
        }
        md += f.exactFaces >= 0 ? "; `--max-error 0` writes " + FacesText(f.exactFaces) + " faces"
                                : "; `--max-error 0` refuses it: " + f.exactWhy;
        md += ".\n";
    }
    return md;
}

std::string VariedReport() {
    const VariedResult& v = g_varied;
    if (v.files == 0 && v.error.empty())
        return "";
    std::string md = "\n## col over a folder of varied models\n\n";
    md += "`brennix col -j 2 --surfaces RULES .` as a child process over a folder of " +
          std::to_string(v.files) + " models made from seed " +
          std::to_string(g_options.variedSeed) +
          " (finely tessellated boxes, terrain grids with relief, cylinders, spheres and "
          "ellipsoids, thin plates, open surfaces, assemblies of 2 to 5 atomics on turned and "
          "moved frames; most with several materials, each material a surface of its own by "
          "the rules), " +
          std::to_string(v.triangles) + " triangles and " + MiB(v.modelBytes) +
          " MiB in all; with the default error bound and with `--max-error 0`, the collision "
          "files removed and the folder synced before each run, median of " +
          std::to_string(v.defaultSeconds.size()) +
          " runs. *copy*: a loop that freads each model whole and fwrites it into an empty "
          "folder. *faces*: the sum over the files written.\n\n";
    md +=
        "| files | triangles | default ms | --max-error 0 ms | default / exact | copy ms | default "
        "faces | exact faces | default / exact faces |\n";
    md += "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    if (!v.error.empty() || v.defaultSeconds.empty()) {
        md += "| " + std::to_string(v.files) +
              " | failed: " + (v.error.empty() ? std::string("no samples") : v.error) +
              " | | | | | | | |\n";
        return md;
    }
    const double a = Median(v.defaultSeconds) * 1e3, b = Median(v.exactSeconds) * 1e3;
    md += "| " + std::to_string(v.files) + " | " + std::to_string(v.triangles) + " | " +
          Format("%.1f", a) + " | " + Format("%.1f", b) + " | " + Format("%.2f", a / b) + " | " +
          Format("%.1f", Median(v.copySeconds) * 1e3) + " | " + std::to_string(v.defaultFaces) +
          " | " + std::to_string(v.exactFaces) + " | " +
          Format("%.3f", v.exactFaces > 0 ? static_cast<double>(v.defaultFaces) /
                                                static_cast<double>(v.exactFaces)
                                          : 0.0) +
          " |\n";
    return md;
}

std::string Report(const std::vector<Traffic>& traffic) {
    std::string md;
    int passes = 0, misses = 0;
    auto count = [&](bool pass) { (pass ? passes : misses)++; };
    const std::string top = SizeClasses().back().label;

    md += "## Jobs beside a plain copy of the same files\n\n";
    md += std::string("Median times per run, in one process (") +
          (g_options.adaptiveMalloc ? "adaptive allocator thresholds"
                                    : "blocks of 128 KiB or more fresh from the kernel each run") +
          "). *copy*: fread every input "
          "whole, fwrite the same number of bytes. *I/O-eq.*: fread every input whole, fwrite as "
          "many bytes as the job writes. The target applies to the ratio to the plain copy at "
          "the largest size.\n\n";
    md +=
        "| job | size | input MiB | output MiB | job ms | copy ms | x copy | I/O-eq. ms | x "
        "I/O-eq. "
        "| target | result |\n";
    md += "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n";
    for (const std::string& key : g_jobOrder) {
        const JobResult& r = g_jobResults[key];
        if (r.job == nullptr)
            continue;
        const bool isTop = top == r.size->label;
        std::string label = r.size->label;
        const int32_t triangles = TrianglesFor(*r.job, *r.size);
        if (triangles != r.size->triangles)
            label += " (" + std::to_string(triangles) + " tri.)";
        md += "| " + std::string(r.job->name) + " | " + label + " | " + MiB(r.inputBytes) + " | " +
              MiB(r.outputBytes) + " | ";
        if (!r.error.empty() || r.jobSeconds.empty()) {
            md += "failed: " + (r.error.empty() ? std::string("no samples") : r.error) +
                  " | | | | | | |\n";
            if (isTop)
                count(false);
            continue;
        }
        const double ratio = r.JobMs() / r.CopyMs();
        md += Format("%.3f", r.JobMs()) + " | " + Format("%.3f", r.CopyMs()) + " | " +
              Format("%.2f", ratio) + " | " + Format("%.3f", r.IoMs()) + " | " +
              Format("%.2f", r.JobMs() / r.IoMs()) + " | ";
        if (isTop) {
            const bool pass = ratio <= r.job->copyTarget;
            count(pass);
            md += Format("<= %.1f", r.job->copyTarget) + " | " + Verdict(pass) + " |\n";
        } else {
            md += " | |\n";
        }
    }

    md += ColPairReport(count);

    md += "\n## Linearity: time per MiB at the largest size against 1 MiB\n\n";
    md +=
        "*In one process*: the medians above (the target applies here). *Fresh process*: one "
        "process per run, "
        "median of " +
        std::to_string(g_options.memoryRuns) +
        " runs, less the time of a process that does nothing (program " +
        Format("%.2f", g_idleProgramMs) + " ms, driver " + Format("%.2f", g_idleDriverMs) +
        " ms), as a single run of the program sees them.\n\n";
    md +=
        "*Copy ratio* and *I/O-eq. ratio*: the same ratio for the two copies measured beside "
        "the job, which shows how far moving the bytes alone stays linear on this machine "
        "(caches hold 1 MiB but not 13 MiB).\n\n";
    md += "| job | ms/MiB at 1mb | ms/MiB at " + top +
          " | ratio | target | result | copy ratio | I/O-eq. ratio | fresh process: ms/MiB at 1mb "
          "| at " +
          top + " | ratio |\n";
    md += "|---|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|\n";
    for (const JobInfo& job : Jobs()) {
        auto small = g_jobResults.find(std::string(job.name) + "/1mb");
        auto large = g_jobResults.find(std::string(job.name) + "/" + top);
        if (small == g_jobResults.end() || large == g_jobResults.end() ||
            small->second.jobSeconds.empty() || large->second.jobSeconds.empty()) {
            continue;
        }
        const double a = small->second.PerMiB(), b = large->second.PerMiB();
        const bool pass = b <= 1.5 * a;
        count(pass);
        auto perMiBOf = [](const JobResult& r, double ms) {
            return ms / (static_cast<double>(r.inputBytes) / (1 << 20));
        };
        const double copyRatio = perMiBOf(large->second, large->second.CopyMs()) /
                                 perMiBOf(small->second, small->second.CopyMs());
        const double ioRatio = perMiBOf(large->second, large->second.IoMs()) /
                               perMiBOf(small->second, small->second.IoMs());
        md += "| " + std::string(job.name) + " | " + Format("%.3f", a) + " | " + Format("%.3f", b) +
              " | " + Format("%.2f", b / a) + " | <= 1.5 | " + Verdict(pass) + " | " +
              Format("%.2f", copyRatio) + " | " + Format("%.2f", ioRatio) + " | ";
        auto ps = g_process.find(std::string(job.name) + "/1mb");
        auto pl = g_process.find(std::string(job.name) + "/" + top);
        if (ps != g_process.end() && pl != g_process.end() && ps->second.error.empty() &&
            pl->second.error.empty()) {
            const double idle = job.viaProgram ? g_idleProgramMs : g_idleDriverMs;
            auto perMiB = [&](const ProcessResult& r) {
                return (r.wallMs - idle) / (static_cast<double>(r.inputBytes) / (1 << 20));
            };
            const double pa = perMiB(ps->second), pb = perMiB(pl->second);
            md += Format("%.3f", pa) + " | " + Format("%.3f", pb) + " | " +
                  Format("%.2f", pb / pa) + " |\n";
        } else {
            md += " | | |\n";
        }
    }

    if (!g_options.skipBatch) {
        md += "\n## Process-all over a folder of small models\n\n";
        const BatchResult& b = g_batch;
        if (b.files == 0)
            md += "Not run.\n";
    }
    if (!g_options.skipBatch && g_batch.files > 0) {
        const BatchResult& b = g_batch;
        md += "`brennix -p` as a child process in a folder of " + std::to_string(b.files) +
              " models (" + std::to_string(b.modelBytes) + " bytes each) and their COL3 files (" +
              std::to_string(b.collisionBytes) +
              " bytes each), the models rewritten and everything synced before each run. Beside "
              "it a loop that freads each of the same files whole and fwrites it to another "
              "folder: *copy* into an empty folder (as cp would; the target's baseline), "
              "*overwrite* over those copies again (replacing existing files, as the mode "
              "does; first run only). Median of " +
              std::to_string(b.programSeconds.size()) + " runs.\n\n";
        md +=
            "| files | process-all ms | copy ms | x copy | overwrite ms | x overwrite | target | "
            "result |\n";
        md += "|---:|---:|---:|---:|---:|---:|---:|---|\n";
        if (!b.error.empty() || b.programSeconds.empty()) {
            md += "| " + std::to_string(b.files) + " | failed: " + b.error + " | | | | | | |\n";
            count(false);
        } else {
            const double p = Median(b.programSeconds) * 1e3, c = Median(b.copySeconds) * 1e3;
            const double o = Median(b.overwriteSeconds) * 1e3;
            const bool pass = p <= 2.0 * c;
            count(pass);
            md += "| " + std::to_string(b.files) + " | " + Format("%.1f", p) + " | " +
                  Format("%.1f", c) + " | " + Format("%.2f", p / c) + " | " + Format("%.1f", o) +
                  " | " + Format("%.2f", p / o) + " | <= 2.0 | " + Verdict(pass) + " |\n";
        }
    }

    if (!g_options.skipBatch && !g_commandResults.empty()) {
        md += "\n## The commands over a folder of small models\n\n";
        md += "Each command as a child process over a folder of " +
              std::to_string(g_options.batchFiles) + " models (" +
              std::to_string(SmallModelBytes().size()) +
              " bytes each), the folder written afresh and synced before each run: once with "
              "`-j 2` (two workers) and once with `-j 1`, the folder given as the one argument, "
              "median of " +
              std::to_string(g_options.batchIterations) +
              " runs. *One process per file*: the same command on the same files, one process "
              "per model in turn, as a shell loop would run it (" +
              std::to_string(g_options.perFileRuns) +
              (g_options.perFileRuns == 1 ? " run" : " runs") +
              "). *copy*: a loop that freads each model whole and fwrites it into an empty "
              "folder. `info --json` writes to /dev/null; `col` writes X.col beside each model; "
              "`paint --day #C8B4A0 --night 40,40,80 --in-place` rewrites each model.\n\n";
        md +=
            "| command | files | -j 2 ms | -j 1 ms | -j 1 / -j 2 | one process per file ms | "
            "per file / -j 2 | copy ms | -j 2 x copy |\n";
        md += "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
        for (const CommandBatch& batch : CommandBatches()) {
            auto found = g_commandResults.find(batch.name);
            if (found == g_commandResults.end())
                continue;
            const CommandBatchResult& r = found->second;
            md += "| " + std::string(batch.name) + " | " + std::to_string(g_options.batchFiles) +
                  " | ";
            if (!r.error.empty() || r.twoWorkerSeconds.empty()) {
                md += "failed: " + (r.error.empty() ? std::string("no samples") : r.error) +
                      " | | | | | | |\n";
                continue;
            }
            const double two = Median(r.twoWorkerSeconds) * 1e3;
            const double one = Median(r.oneWorkerSeconds) * 1e3;
            const double copy = Median(r.copySeconds) * 1e3;
            md += Format("%.1f", two) + " | " + Format("%.1f", one) + " | " +
                  Format("%.2f", one / two) + " | ";
            if (r.perFileSeconds.empty()) {
                md += "not run | | ";
            } else {
                const double perFile = Median(r.perFileSeconds) * 1e3;
                md += Format("%.0f", perFile) + " | " + Format("%.1f", perFile / two) + " | ";
            }
            md += Format("%.1f", copy) + " | " + Format("%.2f", two / copy) + " |\n";
        }
    }

    if (!g_options.skipBatch)
        md += VariedReport();

    if (!g_options.skipMemory) {
        md += "\n## Peak memory on the largest model, and each job as a process of its own\n\n";
        md +=
            "Each job as a process of its own (the program for the jobs it does, the one-job "
            "driver for the others), maximum resident size of that process (wait4 ru_maxrss), "
            "largest of " +
            std::to_string(g_options.memoryRuns) +
            " runs. Limit: 4 x the input bytes (all input files) + 4 MiB. The program started "
            "with no job peaks at " +
            MiB(static_cast<uint64_t>(g_idlePeakKiB) * 1024) +
            " MiB. *copy*: the driver's plain copy of the same inputs as a process; the "
            "process times are medians and include starting the process.\n\n";
        md +=
            "| job | input MiB | peak MiB | limit MiB | peak / input | result | copy peak MiB | "
            "process ms | copy process ms | x copy |\n";
        md += "|---|---:|---:|---:|---:|---|---:|---:|---:|---:|\n";
        for (const JobInfo& job : Jobs()) {
            auto found = g_process.find(std::string(job.name) + "/" + top);
            if (found == g_process.end())
                continue;
            const ProcessResult& m = found->second;
            const uint64_t peak = static_cast<uint64_t>(m.peakKiB) * 1024;
            const uint64_t limit = 4 * m.inputBytes + (4u << 20);
            const bool pass = m.error.empty() && peak <= limit;
            count(pass);
            md += "| " + std::string(job.name) + " | " + MiB(m.inputBytes) + " | " + MiB(peak) +
                  " | " + MiB(limit) + " | " +
                  Format("%.2f", static_cast<double>(peak) / static_cast<double>(m.inputBytes)) +
                  " | " + (m.error.empty() ? Verdict(pass) : "failed: " + m.error) + " | " +
                  MiB(static_cast<uint64_t>(m.copyPeakKiB) * 1024) + " | " +
                  Format("%.1f", m.wallMs) + " | " + Format("%.1f", m.copyWallMs) + " | " +
                  Format("%.2f", m.wallMs / m.copyWallMs) + " |\n";
        }

        md += "\n## Fresh memory on the largest model\n\n";
        md +=
            "The same processes. *Fresh MiB*: the process's minor page faults (wait4 ru_minflt) "
            "x the page size (sysconf(_SC_PAGESIZE): " +
            std::to_string(FaultBytes(1) / 1024) +
            " KiB), except that a fault which brought in a large page (the kernel's "
            "thp_fault_alloc count over the process's life) counts as the whole large page; "
            "least of the " +
            std::to_string(g_options.memoryRuns) +
            " runs. Each fault is a page the process touched for the first time: mostly new pages "
            "the kernel had to find and zero (its heap, its stack, its buffers); its code and "
            "libraries, already in memory, take few faults (several pages to a fault). A model "
            "file of 4 MiB or more is read into memory that asks for large pages, so the fresh "
            "memory stays but most of its faults go. The program started with no job takes " +
            MiB(g_idleFreshBytes) +
            " MiB. *Input MiB*: all input files of the job. *Peak MiB*: the maximum resident "
            "size, as above. Targets: the jobs that read one model and make little from it "
            "(info, genempty, genbox, genmesh, libgenerate, col, colexact) fresh <= 1.15 x input + "
            "4 MiB; "
            "append and libappend fresh <= 1.1 x input; night, libnight and nightcmd, whose "
            "two inputs are the same size, fresh <= 2.3 x one input (half the job's input); "
            "uniform, libpaint and paintcmd fresh <= 2.2 x input. *ms at " +
            Format("%.0f", kDearMsPerMiB) +
            " ms/MiB*: what the fresh pages alone would cost on a machine where page faults are "
            "dear (the machine table at the top gives what they cost here). *Copy fresh MiB*: the "
            "same count "
            "for the plain copy of the inputs.\n\n";
        md +=
            "| job | input MiB | fresh MiB | peak MiB | fresh / input | target | target MiB | "
            "result | ms at " +
            Format("%.0f", kDearMsPerMiB) + " ms/MiB | copy fresh MiB |\n";
        md += "|---|---:|---:|---:|---:|---|---:|---|---:|---:|\n";
        for (const JobInfo& job : Jobs()) {
            auto found = g_process.find(std::string(job.name) + "/" + top);
            if (found == g_process.end())
                continue;
            const ProcessResult& m = found->second;
            const uint64_t fresh = m.freshBytes;
            const uint64_t target = FreshLimitBytes(job.freshTarget, m.inputBytes);
            const bool pass = m.error.empty() && fresh <= target;
            count(pass);
            md += "| " + std::string(job.name) + " | " + MiB(m.inputBytes) + " | " + MiB(fresh) +
                  " | " + MiB(static_cast<uint64_t>(m.peakKiB) * 1024) + " | " +
                  Format("%.2f", static_cast<double>(fresh) / static_cast<double>(m.inputBytes)) +
                  " | " + DescribeFreshTarget(job.freshTarget) + " | " + MiB(target) + " | " +
                  (m.error.empty() ? Verdict(pass) : "failed: " + m.error) + " | " +
                  Format("%.0f", kDearMsPerMiB * static_cast<double>(fresh) / (1 << 20)) + " | " +
                  MiB(m.copyFreshBytes) + " |\n";
        }
    }

    // The commands beside the classic jobs they stand for, on the largest model.
    struct Pair {
        const char* command;
        const char* classic;
    };
    const Pair pairs[] = {{"paintcmd", "libpaint"},
                          {"paintcmd", "uniform"},
                          {"nightcmd", "night"},
                          {"nightcmd", "libnight"}};
    std::string pairRows;
    for (const Pair& pair : pairs) {
        const std::string a = std::string(pair.command) + "/" + top;
        const std::string b = std::string(pair.classic) + "/" + top;
        auto ja = g_jobResults.find(a), jb = g_jobResults.find(b);
        auto pa = g_process.find(a), pb = g_process.find(b);
        const bool timed = ja != g_jobResults.end() && jb != g_jobResults.end() &&
                           !ja->second.jobSeconds.empty() && !jb->second.jobSeconds.empty();
        const bool measured = pa != g_process.end() && pb != g_process.end() &&
                              pa->second.error.empty() && pb->second.error.empty() &&
                              pb->second.peakKiB > 0;
        if (!timed && !measured)
            continue;
        bool pass = true;
        pairRows += "| " + std::string(pair.command) + " | " + pair.classic + " | ";
        if (timed) {
            const double ratio = ja->second.JobMs() / jb->second.JobMs();
            pass = pass && ratio <= 1.10;
            pairRows += Format("%.1f", ja->second.JobMs()) + " | " +
                        Format("%.1f", jb->second.JobMs()) + " | " + Format("%.2f", ratio) + " | ";
        } else {
            pairRows += "not run | | | ";
        }
        if (measured) {
            const double peakRatio =
                static_cast<double>(pa->second.peakKiB) / static_cast<double>(pb->second.peakKiB);
            pass = pass && peakRatio <= 1.10;
            pairRows += Format("%.1f", pa->second.wallMs) + " | " +
                        Format("%.1f", pb->second.wallMs) + " | " +
                        MiB(static_cast<uint64_t>(pa->second.peakKiB) * 1024) + " | " +
                        MiB(static_cast<uint64_t>(pb->second.peakKiB) * 1024) + " | " +
                        Format("%.2f", peakRatio) + " | ";
        } else {
            pairRows += "not run | | | | | ";
        }
        count(pass);
        pairRows += std::string(Verdict(pass)) + " |\n";
    }
    if (!pairRows.empty()) {
        md += "\n## The paint and night commands beside the classic jobs on the largest model\n\n";
        md +=
            "*paintcmd* is `brennix paint --day #C8B4A0 --night 40,40,80 -o OUT MODEL`, *nightcmd* "
            "`brennix night --from NIGHT -o OUT MODEL`: in one process their work on one file "
            "(the per-file functions the commands run), as a process of its own the program "
            "itself. Beside them the classic jobs that do the same: the library's "
            "EasyVertexColors (*libpaint*) and the model library's uniform colours (*uniform*); "
            "the program's `-v` (*night*) and ImportNVCFromDff (*libnight*). *ms*: median in one "
            "process (the job table above); *process ms* and *peak MiB*: the peak-memory runs "
            "above. Target: the command's time in one process and its peak at most 1.10 x the "
            "classic job's.\n\n";
        md +=
            "| command | classic job | command ms | classic ms | x classic | command process ms | "
            "classic process ms | command peak MiB | classic peak MiB | peak x classic | result "
            "|\n";
        md += "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n";
        md += pairRows;
    }

    if (!g_hostile.empty()) {
        md += "\n## The commands on hostile models\n\n";
        md +=
            "Models shaped to make the commands do much work or hold much memory for few bytes "
            "(tests/support/HostileModels.h), at full size, each command a process of its own "
            "(the program, through the one-job driver), stopped after " +
            Format("%.0f", g_options.hostileTimeout) +
            " s. *broken_atomics*: atomics whose Struct is too short or names a frame or "
            "geometry that does not exist, after one good atomic; *empty_geometries*: empty "
            "Geometry chunks (a 12-byte header) in a list that declares them; *cut_geometries*: "
            "Geometry chunks holding only a Struct header (24 bytes each); "
            "*empty_clump_entries*: clump Extension entries of size 0; and any others named with "
            "--hostile-shapes. Each command is given one model: `info --json` (standard output "
            "to /dev/null), `col -o`, `attach --generate -o`, `attach -c small.col -o`, `paint "
            "-o`. A command may refuse a model (exit 1); what is measured is that it ends "
            "within the time and its peak resident size (wait4 ru_maxrss) within the bound "
            "8 x the input + 64 MiB. *ms/MiB*: wall time per MiB of input.\n\n";
        md +=
            "| model | records | input MiB | command | exit | wall s | ms/MiB | peak MiB | bound "
            "MiB "
            "| peak / input | result |\n";
        md += "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---|\n";
        for (const HostileResult& h : g_hostile) {
            const uint64_t peak = static_cast<uint64_t>(h.peakKiB) * 1024;
            const uint64_t bound = 8 * h.inputBytes + (64u << 20);
            const double mib = static_cast<double>(h.inputBytes) / (1 << 20);
            const bool pass =
                h.ran && !h.stopped && (h.status == 0 || h.status == 1) && peak <= bound;
            count(pass);
            std::string result = Verdict(pass);
            if (!h.ran)
                result = "**not run**";
            else if (h.stopped)
                result = "**stopped at " + Format("%.0f", g_options.hostileTimeout) + " s**";
            md += "| " + std::string(h.shape->name) + " | " + std::to_string(h.shape->fullCount) +
                  " | " + MiB(h.inputBytes) + " | " + h.command->name + " | " +
                  (h.stopped ? std::string("-") : std::to_string(h.status)) + " | " +
                  Format("%.2f", h.wallSeconds) + " | " +
                  Format("%.0f", h.wallSeconds * 1e3 / (mib > 0 ? mib : 1)) + " | " + MiB(peak) +
                  " | " + MiB(bound) + " | " +
                  Format("%.2f", static_cast<double>(peak) / static_cast<double>(h.inputBytes)) +
                  " | " + result + " |\n";
        }
    }

    md += "\n## Bytes moved in memory on the largest model (MiB)\n\n";
    md +=
        "Counted from the parsed model, for the code as it stands: *read* file to buffer; "
        "*parsed* buffer to arrays the geometry owns (arrays viewed where they lie in the "
        "file buffer move nothing); *work* arrays the job fills; *rebuilt* the new "
        "Geometry List built in memory (the colour jobs write it straight from the geometry "
        "instead); *output* the "
        "COL3 file image (a model is saved straight from its chunks, without an image); "
        "*written* to the file. The fresh-memory table above counts the pages each job "
        "touched for the first time.\n\n";
    md += "| job | read | parsed | work | rebuilt | output | written | total | total / input |\n";
    md += "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const Traffic& t : traffic) {
        md += "| " + std::string(t.job->name) + " | " + MiB(t.fileRead) + " | " + MiB(t.parsed) +
              " | " + MiB(t.work) + " | " + MiB(t.rebuilt) + " | " + MiB(t.outputBuffer) + " | " +
              MiB(t.written) + " | " + MiB(t.Total()) + " | " +
              Format("%.2f", static_cast<double>(t.Total()) / static_cast<double>(t.fileRead)) +
              " |\n";
    }

    md += "\n**" + std::to_string(passes) + " passed, " + std::to_string(misses) + " missed.**\n";
    return md;
}

}  // namespace

int main(int argc, char** argv) {
    ParseOptions(&argc, argv);
    if (!g_options.adaptiveMalloc)
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const std::string here = ExecutableDirectory();
    if (g_options.program.empty())
        g_options.program = here + "brennix";
    if (g_options.driver.empty())
        g_options.driver = here + "brennix_bench_job";
    g_options.program = Absolute(g_options.program);
    g_options.driver = Absolute(g_options.driver);
    g_options.markdown = Absolute(g_options.markdown);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    if (!MakeDirectories(g_options.workdir) || chdir(g_options.workdir.c_str()) != 0) {
        std::fprintf(stderr, "cannot use the work folder %s\n", g_options.workdir.c_str());
        return 1;
    }
    if (!WriteModelFiles())
        return 1;

    for (const JobInfo& job : Jobs()) {
        for (const SizeClass& size : SizeClasses()) {
            const std::string key = std::string(job.name) + "/" + size.label;
            g_jobOrder.push_back(key);
            benchmark::RegisterBenchmark(("job/" + key).c_str(), BenchJob, &job, &size)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                // The largest size decides the targets: more samples there.
                ->MinTime(&size == &SizeClasses().back() ? 3 * g_options.jobMinTime
                                                         : g_options.jobMinTime);
        }
    }
    if (!g_options.skipBatch) {
        benchmark::RegisterBenchmark(
            ("batch/processall/" + std::to_string(g_options.batchFiles)).c_str(), BenchBatch)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(g_options.batchIterations);
        benchmark::RegisterBenchmark(
            ("batch/colvaried/" + std::to_string(g_options.variedFiles)).c_str(), BenchVariedCol)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(std::max(1, g_options.variedIterations));
        for (const CommandBatch& batch : CommandBatches()) {
            std::string name = batch.name;
            name = name.substr(0, name.find(' '));
            benchmark::RegisterBenchmark(
                ("batch/" + name + "/" + std::to_string(g_options.batchFiles)).c_str(),
                BenchCommandBatch, &batch)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(g_options.batchIterations);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // With the col rows of the largest size, the col command on the largest
    // model of all.
    if (g_jobResults.count("col/" + std::string(SizeClasses().back().label)) != 0)
        MeasureFullCol();

    if (!g_options.skipMemory)
        MeasureProcesses();
    if (!g_options.skipHostile)
        MeasureHostile();
    std::vector<Traffic> traffic = CountTraffic();
    const std::string md = Report(traffic);
    std::printf("\n%s", md.c_str());
    if (!g_options.markdown.empty()) {
        std::FILE* file = std::fopen(g_options.markdown.c_str(), "w");
        if (file == nullptr)
            return 1;
        std::fputs(md.c_str(), file);
        std::fclose(file);
    }
    return 0;
}
