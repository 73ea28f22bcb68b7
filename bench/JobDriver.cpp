// Runs one job once, in a process of its own, so that the benchmark can read
// the process's peak resident size. Used for the jobs the program does not
// do (uniform colours, the library exports) and for the plain copy that every
// job is compared with.
//
//   brennix_bench_job JOB SIZE        run JOB on the model of SIZE
//   brennix_bench_job copy SIZE JOB   the plain copy of JOB's input files
//   brennix_bench_job measure RESULT PROGRAM ARG0 ARGS...
//       run PROGRAM as a child and write "peakKiB wallSeconds status
//       minorFaults freshBytes stopped" to RESULT. freshBytes counts each fault as
//       a page, except those that brought in a large (2 MiB) page, which
//       count as one: the kernel's count of large-page faults
//       (/proc/vmstat thp_fault_alloc) over the child's life, which on a
//       quiet machine are the child's own; stopped is 0
//   brennix_bench_job measure-within SECONDS RESULT PROGRAM ARG0 ARGS...
//       the same, the child stopped (SIGKILL) once SECONDS have passed;
//       stopped is 1 then
//   brennix_bench_job phases JOB SIZE [RUNS]
//       time each step of JOB through the model library: the first run in
//       this fresh process, then the median of the following runs
//   brennix_bench_job pages [MIB] [RUNS]
//       what fresh pages cost on this machine: map MIB MiB (default 100) of
//       anonymous memory, write one byte to each page, unmap it; RUNS times
//       (default 5). Prints "milliseconds minorFaults pageBytes", the
//       medians of the runs and the page size
//
// Run from the folder holding the benchmark's model files. Exit status 0 on
// success, 1 when the job failed, 2 for a bad command line.
//
// Why "measure" exists: Linux carries a process's peak resident size across
// exec, so a child started straight from the benchmark (a large process)
// would report the benchmark's own peak. Started from this small process,
// the child's figure is its own.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "cli/Batch.h"
#include "col/ColGenerate.h"
#include "col/ColModel.h"
#include "dff/DffModel.h"
#include "dff/WholeModel.h"

using namespace brennix::bench;

namespace {

// The kernel's count of faults that brought in a large page, or 0.
long LargePageFaults() {
    std::FILE* in = std::fopen("/proc/vmstat", "r");
    if (in == nullptr)
        return 0;
    char name[64];
    long value = 0, found = 0;
    while (std::fscanf(in, "%63s %ld", name, &value) == 2) {
        if (std::strcmp(name, "thp_fault_alloc") == 0) {
            found = value;
            break;
        }
    }
    std::fclose(in);
    return found;
}

uint64_t LargePageBytes() {
    std::FILE* in = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "r");
    unsigned long long bytes = 0;
    if (in != nullptr) {
        if (std::fscanf(in, "%llu", &bytes) != 1)
            bytes = 0;
        std::fclose(in);
    }
    return bytes;
}

// Waits until the child has ended or `seconds` have passed (SIGCHLD blocked
// by the caller). True when it ended in time.
bool AwaitChild(double seconds) {
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const double left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        timespec wait;
        wait.tv_sec = static_cast<time_t>(left);
        wait.tv_nsec = static_cast<long>((left - static_cast<double>(wait.tv_sec)) * 1e9);
        if (sigtimedwait(&child, nullptr, &wait) == SIGCHLD)
            return true;
        if (errno == EAGAIN)
            return false;
    }
}

// With timeoutSeconds above 0 the program is stopped (SIGKILL) once that
// time has passed, and the result says so.
int Measure(const char* resultPath, char* program, char** arguments, double timeoutSeconds = 0) {
    sigset_t child, saved;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child, &saved);
    const long largeBefore = LargePageFaults();
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        execv(program, arguments);
        _exit(127);
    }
    bool timedOut = false;
    if (timeoutSeconds > 0 && !AwaitChild(timeoutSeconds)) {
        timedOut = true;
        kill(pid, SIGKILL);
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    pid_t waited;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    auto end = std::chrono::steady_clock::now();
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (waited < 0)
        return 1;
    long large = LargePageFaults() - largeBefore;
    large = large < 0 ? 0 : (large > usage.ru_minflt ? usage.ru_minflt : large);
    const long page = sysconf(_SC_PAGESIZE);
    const uint64_t fresh = static_cast<uint64_t>(usage.ru_minflt - large) *
                               static_cast<uint64_t>(page > 0 ? page : 4096) +
                           static_cast<uint64_t>(large) * LargePageBytes();
    std::FILE* out = std::fopen(resultPath, "w");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "%ld %.9f %d %ld %llu %d\n", usage.ru_maxrss,
                 std::chrono::duration<double>(end - start).count(),
                 WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_minflt,
                 static_cast<unsigned long long>(fresh), timedOut ? 1 : 0);
    return std::fclose(out) == 0 ? 0 : 1;
}

long MinorFaultsSoFar() {
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Times mapping `mib` MiB of anonymous memory, writing one byte to each of
// its pages (every write the first touch of a page, so the kernel must find,
// zero and map one) and unmapping it, `runs` times.
int FreshPages(int mib, int runs) {
    const long page = sysconf(_SC_PAGESIZE);
    const size_t bytes = static_cast<size_t>(mib) << 20;
    if (page <= 0 || mib <= 0 || runs <= 0)
        return 2;
    std::vector<double> ms;
    std::vector<long> faults;
    for (int run = 0; run < runs; ++run) {
        const long faultsBefore = MinorFaultsSoFar();
        auto start = std::chrono::steady_clock::now();
        void* block =
            mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) {
            std::fprintf(stderr, "cannot map %d MiB\n", mib);
            return 1;
        }
        volatile char* bytesOf = static_cast<volatile char*>(block);
        for (size_t at = 0; at < bytes; at += static_cast<size_t>(page))
            bytesOf[at] = 1;
        munmap(block, bytes);
        auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double>(end - start).count() * 1e3);
        faults.push_back(MinorFaultsSoFar() - faultsBefore);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(faults.begin(), faults.end());
    std::printf("%.3f %ld %ld\n", ms[ms.size() / 2], faults[faults.size() / 2], page);
    return 0;
}

// The steps of one job, each timed: the same calls in the same order as the
// program's mode or the library's export.
class StepTimer {
public:
    void Step(const char* name) {
        auto now = std::chrono::steady_clock::now();
        if (!names_.empty())
            seconds_.push_back(std::chrono::duration<double>(now - last_).count());
        if (name != nullptr)
            names_.push_back(name);
        last_ = now;
    }
    const std::vector<const char*>& Names() const { return names_; }
    const std::vector<double>& Seconds() const { return seconds_; }

private:
    std::vector<const char*> names_;
    std::vector<double> seconds_;
    std::chrono::steady_clock::time_point last_;
};

// The col command's work on one file, as its steps; with --max-error 0 when
// `exact`.
bool TimedCol(const JobFiles& files, bool exact, StepTimer& t) {
    using namespace brennix;
    t.Step("load whole clump");
    WholeModel model;
    bool ok = model.Load(files.inputs[0].c_str()) >= 0;
    t.Step("generate");
    ColModel col;
    std::string why;
    ColRequest request;
    if (exact)
        request.maxError = 0;
    ok = ok && GenerateCol(model, request, &col, &why);
    t.Step("build COL3");
    ByteBuffer out;
    const std::string name = files.inputs[0].substr(0, files.inputs[0].size() - 4);
    ok = ok && col.BuildFile(out, name.c_str(), ColConvention::kStandard);
    t.Step("save COL3");
    ok = ok && cli::WriteFileAtomically(files.output, out.data, out.length, &why);
    t.Step("release");
    out.Release();
    col.Release();
    t.Step(nullptr);
    return ok;
}

bool TimedJob(const JobInfo& job, const JobFiles& files, StepTimer& t) {
    using namespace brennix;
    if (job.job == Job::kCol || job.job == Job::kColExact)
        return TimedCol(files, job.job == Job::kColExact, t);
    if (IsCommand(job)) {
        // The commands' steps are their own; the whole command is one.
        t.Step("command");
        const bool ok = RunJob(job, files);
        t.Step(nullptr);
        return ok;
    }
    DffModel model;
    DffModel second;
    model.Init();
    second.Init();
    ColModel col;
    ByteBuffer out;
    bool ok = true;
    const char* model_path = files.inputs[0].c_str();
    t.Step("load");
    ok = model.Load(model_path) > 0;
    switch (job.job) {
        case Job::kInfo:
            t.Step("frames");
            ok = ok && model.ReadFrameList() >= 0;
            t.Step("geometry");
            ok = ok && model.ReadGeometryList() != 0;
            break;
        case Job::kAppend:
        case Job::kLibraryAppend:
            t.Step("attach");
            ok = ok && model.AttachCollisionFile(files.inputs[1].c_str()) > 0;
            t.Step("save");
            ok = ok && model.Save(files.output.c_str()) > 0;
            break;
        case Job::kGenerateEmpty:
        case Job::kGenerateBox:
        case Job::kGenerateMesh:
        case Job::kLibraryGenerate: {
            t.Step("geometry");
            ok = ok && model.ReadGeometryList() != 0 && model.FirstGeometry() != nullptr;
            t.Step("generate");
            if (ok) {
                const Geometry& g = *model.FirstGeometry();
                if (job.job == Job::kGenerateEmpty)
                    ok = col.GenerateEmpty(g) != 0;
                if (job.job == Job::kGenerateBox)
                    ok = col.GenerateBox(g) != 0;
                if (job.job == Job::kGenerateMesh || job.job == Job::kLibraryGenerate) {
                    ok = col.GenerateMesh(g) != 0;
                }
            }
            // ColModel::WriteFile in its two steps.
            t.Step("build COL3");
            ok = ok && col.BuildFile(out, "yolt");
            t.Step("save COL3");
            ok = ok && out.SaveFile(files.output.c_str()) > 0;
            break;
        }
        case Job::kNightColors:
        case Job::kLibraryNight:
            t.Step("load second");
            ok = ok && second.Load(files.inputs[1].c_str()) > 0;
            t.Step("geometry");
            ok = ok && model.ReadGeometryList() != 0 && model.FirstGeometry() != nullptr;
            t.Step("geometry second");
            ok = ok && second.ReadGeometryList() != 0 && second.FirstGeometry() != nullptr;
            t.Step("import");
            ok = ok && model.FirstGeometry()->ImportNightColors(*second.FirstGeometry());
            t.Step("rebuild and save");
            ok = ok && model.SaveWithRebuiltGeometry(files.output.c_str()) > 0;
            break;
        case Job::kCol:
        case Job::kColExact:
        case Job::kPaintCommand:
        case Job::kNightCommand:
            ok = false;  // above
            break;
        case Job::kUniformColors:
        case Job::kLibraryPaint: {
            const uint8_t day[4] = {200, 180, 160, 255};
            const uint8_t night[4] = {40, 40, 80, 255};
            t.Step("geometry");
            ok = ok && model.ReadGeometryList() != 0 && model.FirstGeometry() != nullptr;
            t.Step("paint");
            ok = ok && model.FirstGeometry()->SetUniformColors(day, night);
            t.Step("rebuild and save");
            ok = ok && model.SaveWithRebuiltGeometry(files.output.c_str()) > 0;
            break;
        }
    }
    t.Step("release");
    out.Release();
    col.Release();
    second.Release();
    model.Release();
    t.Step(nullptr);
    return ok;
}

int Phases(const JobInfo& job, const SizeClass& size, int runs) {
    const JobFiles files = FilesFor(job, size);
    std::vector<std::vector<double>> samples;
    std::vector<const char*> names;
    std::vector<double> first;
    for (int run = 0; run < runs; ++run) {
        StepTimer timer;
        if (!TimedJob(job, files, timer)) {
            std::fprintf(stderr, "the job failed\n");
            return 1;
        }
        names = timer.Names();
        if (run == 0) {
            first = timer.Seconds();
            samples.resize(first.size());
            continue;
        }
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i].push_back(timer.Seconds()[i]);
    }
    std::printf("%s %s: step, first run ms, median of later runs ms\n", job.name, size.label);
    double firstTotal = 0, laterTotal = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        std::vector<double>& v = samples[i];
        std::sort(v.begin(), v.end());
        double median = v.empty() ? 0 : v[v.size() / 2];
        firstTotal += first[i];
        laterTotal += median;
        std::printf("  %-16s %9.3f %9.3f\n", names[i], first[i] * 1e3, median * 1e3);
    }
    std::printf("  %-16s %9.3f %9.3f\n", "total", firstTotal * 1e3, laterTotal * 1e3);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "measure") == 0) {
        return Measure(argv[2], argv[3], argv + 4);
    }
    if (argc >= 6 && std::strcmp(argv[1], "measure-within") == 0) {
        const double seconds = std::atof(argv[2]);
        if (seconds <= 0)
            return 2;
        return Measure(argv[3], argv[4], argv + 5, seconds);
    }
    if (argc >= 4 && std::strcmp(argv[1], "phases") == 0) {
        const JobInfo* job = FindJob(argv[2]);
        const SizeClass* size = FindSize(argv[3]);
        if (job == nullptr || size == nullptr)
            return 2;
        return Phases(*job, *size, argc > 4 ? std::atoi(argv[4]) : 10);
    }
    if (argc >= 2 && std::strcmp(argv[1], "pages") == 0) {
        return FreshPages(argc > 2 ? std::atoi(argv[2]) : 100, argc > 3 ? std::atoi(argv[3]) : 5);
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s JOB SIZE | copy SIZE JOB | measure RESULT PROGRAM ARGS | "
                     "measure-within SECONDS RESULT PROGRAM ARGS | "
                     "phases JOB SIZE [RUNS] | pages [MIB] [RUNS]\n",
                     argv[0]);
        return 2;
    }
    const std::string word = argv[1];
    const SizeClass* size = FindSize(argv[2]);
    const bool copy = word == "copy";
    const JobInfo* job = FindJob(copy ? (argc > 3 ? argv[3] : "") : word);
    if (size == nullptr || job == nullptr) {
        std::fprintf(stderr, "unknown job or size\n");
        return 2;
    }
    JobFiles files = FilesFor(*job, *size);
    if (copy) {
        return PlainCopy(files.inputs, "copy.out", TotalBytes(files.inputs)) ? 0 : 1;
    }
    return RunJob(*job, files) ? 0 : 1;
}
