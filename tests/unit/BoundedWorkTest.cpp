// The commands' work on one file, on models shaped to make it large: for
// every hostile shape and every command, the work at 4 x the count must take
// less than 10 x the time at the count (linear work takes about 4 x, work
// that grows with the square 16 x), and must finish within 8 x the file's
// bytes + 64 MiB of memory.
//
// Each run is a child process of its own, so that its memory can be capped
// (its address space limited to what it held at the start plus the bound:
// an allocation past it fails, which the command reports as running out of
// memory) and so that a run that takes too long can be stopped. Address
// sanitizers reserve far more address space than they use, so a sanitized
// build keeps only the time check, on smaller counts with more slack.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "cli/ModelCommands.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"
#include "support/HostileModels.h"

namespace brennix::test {
namespace {

// Sanitized builds run a quarter of the counts, many times slower.
constexpr size_t kCountDivisor = kSanitized ? 4 : 1;
// What the run at the count may take, and what the run at 4 x may take on
// top of 10 x that (noise on a busy machine).
constexpr double kFirstRunSeconds = kSanitized ? 60 : 5;
constexpr double kSlackSeconds = kSanitized ? 1.0 : 0.1;
// A run past its bound by this much is stopped.
constexpr double kGraceSeconds = 1.0;

constexpr uint64_t kMiB = 1024 * 1024;

// Exit codes of a run.
constexpr int kRunOk = 0;
constexpr int kRunOutOfMemory = 3;
constexpr int kRunThrew = 4;
constexpr int kRunUnreadable = 5;

enum class Work { kInfoText, kInfoJson, kCol, kAttachCol, kAttachGenerate, kPaint, kNight };

struct WorkInfo {
    Work work;
    const char* name;
};

const std::vector<WorkInfo>& Works() {
    static const std::vector<WorkInfo> works = {
        {Work::kInfoText, "info"},
        {Work::kInfoJson, "info_json"},
        {Work::kCol, "col"},
        {Work::kAttachCol, "attach"},
        {Work::kAttachGenerate, "attach_generate"},
        {Work::kPaint, "paint"},
        {Work::kNight, "night"},
    };
    return works;
}

struct Files {
    std::string model;
    std::string col;
    std::string output;
};

bool MentionsMemory(const std::string& text) {
    return text.find("out of memory") != std::string::npos;
}

int Verdict(const cli::FileOutcome& outcome) {
    return MentionsMemory(outcome.reason) || MentionsMemory(outcome.messages) ? kRunOutOfMemory
                                                                              : kRunOk;
}

// One command's work on one file, as the command does it; whether the model
// is accepted does not matter here, only that the work ends within its bounds.
int DoWork(Work work, const Files& files) {
    try {
        switch (work) {
            case Work::kInfoText:
            case Work::kInfoJson: {
                cli::InfoRequest request;
                request.json = work == Work::kInfoJson;
                return Verdict(cli::DescribeModelFile(request, files.model));
            }
            case Work::kCol: {
                WholeModel model;
                if (model.Load(files.model.c_str()) < 0)
                    return kRunUnreadable;
                if (model.outOfMemory)
                    return kRunOutOfMemory;
                ByteBuffer out;
                std::string why;
                const bool made = GenerateColBytes(model, ColRequest(), "hostile", &out, &why);
                out.Release();
                return !made && MentionsMemory(why) ? kRunOutOfMemory : kRunOk;
            }
            case Work::kAttachCol:
            case Work::kAttachGenerate: {
                cli::AttachRequest request;
                if (work == Work::kAttachGenerate) {
                    request.generate = true;
                } else {
                    request.col = files.col;
                    request.colBytes = ReadFile(files.col);
                }
                request.target.output = files.output;
                return Verdict(cli::AttachModelFile(request, files.model));
            }
            case Work::kPaint: {
                cli::PaintRequest request;
                const uint8_t day[4] = {200, 180, 160, 255};
                const uint8_t night[4] = {40, 40, 80, 255};
                std::copy(day, day + 4, request.day);
                std::copy(night, night + 4, request.night);
                request.target.output = files.output;
                return Verdict(cli::PaintModelFile(request, files.model));
            }
            case Work::kNight: {
                cli::NightRequest request;
                request.model = files.model;
                request.from = files.model;
                request.target.output = files.output;
                return Verdict(cli::ImportNightFile(request, files.model));
            }
        }
    } catch (const std::bad_alloc&) {
        return kRunOutOfMemory;
    } catch (...) {
        return kRunThrew;
    }
    return kRunThrew;
}

// The process's address space now, in bytes.
uint64_t AddressSpaceBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

struct RunResult {
    bool finished = false;  // false: stopped at the deadline
    int exitCode = -1;      // -1 when it ended by a signal
    int signal = 0;
    double seconds = 0;  // of the work alone, as the child measured it
};

std::string Describe(const RunResult& run) {
    if (!run.finished)
        return "stopped at the deadline";
    if (run.signal != 0)
        return "ended by signal " + std::to_string(run.signal);
    switch (run.exitCode) {
        case kRunOk:
            return "finished";
        case kRunOutOfMemory:
            return "ran out of memory under the cap";
        case kRunThrew:
            return "threw";
        case kRunUnreadable:
            return "could not read the model";
    }
    return "exited with " + std::to_string(run.exitCode);
}

// Runs the work in a child whose address space may grow by `memoryBytes`
// (none: no cap), stopped after `deadline` seconds.
RunResult RunBounded(Work work, const Files& files, uint64_t memoryBytes, double deadline) {
    RunResult result;
    // A written model from an earlier run would make the next one refuse.
    std::remove(files.output.c_str());
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        ADD_FAILURE() << "no pipe";
        return result;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "no fork";
        close(pipeFds[0]);
        close(pipeFds[1]);
        return result;
    }
    if (pid == 0) {
        close(pipeFds[0]);
        if (memoryBytes > 0) {
            const rlim_t cap = static_cast<rlim_t>(AddressSpaceBytes() + memoryBytes);
            const rlimit limit{cap, cap};
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                _exit(kRunThrew);
        }
        const auto start = std::chrono::steady_clock::now();
        const int code = DoWork(work, files);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (write(pipeFds[1], &seconds, sizeof seconds) != sizeof seconds)
            _exit(kRunThrew);
        _exit(code);
    }
    close(pipeFds[1]);
    pollfd wait{pipeFds[0], POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(deadline * 1000));
    if (ready > 0 && read(pipeFds[0], &result.seconds, sizeof result.seconds) ==
                         static_cast<ssize_t>(sizeof result.seconds)) {
        result.finished = true;
    } else if (ready == 0) {
        kill(pid, SIGKILL);
    } else {
        result.finished = true;  // it ended without a word: the status says how
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status) && result.finished)
        result.signal = WTERMSIG(status);
    return result;
}

// The model of one shape at a count and at 4 x the count, in files.
struct ShapeFiles {
    std::string name;
    size_t count = 0;
    Files small;
    Files large;
    uint64_t smallBytes = 0;
    uint64_t largeBytes = 0;

    std::string Where(bool isLarge) const {
        return name + " at " + std::to_string(isLarge ? 4 * count : count) + " (" +
               std::to_string(isLarge ? largeBytes : smallBytes) + " bytes)";
    }
};

uint64_t MemoryBound(uint64_t fileBytes) {
    return kSanitized ? 0 : 8 * fileBytes + 64 * kMiB;
}

// Runs the work at the count and at 4 x; what went wrong in words, or
// nothing.
std::string CheckWork(Work work, const ShapeFiles& s) {
    RunResult first = RunBounded(work, s.small, MemoryBound(s.smallBytes), kFirstRunSeconds);
    if (!first.finished || first.exitCode != kRunOk)
        return s.Where(false) + ": " + Describe(first) + " (a run may take " +
               std::to_string(kFirstRunSeconds) + " s)";
    // Noise only ever slows a run, so a run over its bound is tried once more
    // and the faster of each kept.
    double smallSeconds = first.seconds;
    RunResult second;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            RunResult again =
                RunBounded(work, s.small, MemoryBound(s.smallBytes), kFirstRunSeconds);
            if (again.finished && again.exitCode == kRunOk)
                smallSeconds = std::min(smallSeconds, again.seconds);
        }
        const double allowed = 10 * smallSeconds + kSlackSeconds;
        RunResult run =
            RunBounded(work, s.large, MemoryBound(s.largeBytes), allowed + kGraceSeconds);
        if (attempt == 0 || (run.finished && run.seconds < second.seconds))
            second = run;
        if (!second.finished)
            return s.Where(true) + ": stopped after " + std::to_string(allowed + kGraceSeconds) +
                   " s; at a quarter of the count the work took " + std::to_string(smallSeconds) +
                   " s";
        if (second.exitCode != kRunOk || second.signal != 0)
            return s.Where(true) + ": " + Describe(second);
        if (second.seconds < allowed)
            return "";
    }
    return s.Where(true) + " took " + std::to_string(second.seconds) + " s, " + s.Where(false) +
           " " + std::to_string(smallSeconds) + " s: the work grows faster than the file";
}

// Each shape is what it claims: the reader sees every repeated record, so
// that the work below meets them all instead of stopping at the clump.
TEST(HostileShapes, HoldTheirRecords) {
    constexpr size_t n = 30;
    struct Expect {
        const char* shape;
        size_t atomics;
        size_t geometries;
        size_t clumpEntries;
        size_t clumpChildren;
        size_t frames;
    };
    const Expect table[] = {
        {"broken_atomics", n + 1, 1, 0, n + 5, 1},  {"empty_geometries", 1, n + 1, 0, 5, 1},
        {"cut_geometries", 1, n + 1, 0, 5, 1},      {"empty_clump_entries", 1, 1, n, 5, 1},
        {"empty_collision_entries", 1, 1, n, 5, 1}, {"unknown_clump_children", 1, 1, 0, n + 5, 1},
        {"huge_material_count", 1, n + 1, 0, 5, 1}, {"empty_bin_meshes", 1, 1, 0, 5, 1},
        {"deep_frames", n, 1, 0, n + 4, 255},       {"night_colour_entries", 1, 1, 0, 5, 1},
        {"small_geometries", n, n, 0, n + 4, 1},
    };
    ASSERT_EQ(std::size(table), HostileShapes().size());
    for (const Expect& expect : table) {
        SCOPED_TRACE(expect.shape);
        const HostileShape* shape = FindHostileShape(expect.shape);
        ASSERT_NE(shape, nullptr);
        const Bytes bytes = shape->make(n);
        // Linear in the count: the same bytes for each further record.
        EXPECT_EQ(shape->make(3 * n).size() - bytes.size(),
                  2 * (bytes.size() - shape->make(0).size()));
        WholeModel model;
        ASSERT_TRUE(model.View(bytes.data(), bytes.size()));
        ASSERT_TRUE(model.hasClump);
        EXPECT_EQ(model.atomics.size(), expect.atomics);
        EXPECT_EQ(model.geometries.size(), expect.geometries);
        EXPECT_EQ(model.geometryCountInList, expect.geometries);
        EXPECT_EQ(model.extensionEntries.size(), expect.clumpEntries);
        EXPECT_EQ(model.children.size(), expect.clumpChildren);
        EXPECT_EQ(model.frames.size(), expect.frames);
        EXPECT_EQ(model.trailingBytes, 0u);
        // The atomic that draws the first geometry reads whole.
        ASSERT_FALSE(model.atomics.empty());
        EXPECT_TRUE(model.atomics[0].valid);
        EXPECT_TRUE(model.geometries[0].ok);
    }
}

class BoundedWork : public ::testing::TestWithParam<size_t> {};

TEST_P(BoundedWork, LinearTimeAndBoundedMemory) {
    const HostileShape& shape = HostileShapes()[GetParam()];
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    ShapeFiles s;
    s.name = shape.name;
    s.count = shape.testCount / kCountDivisor;
    s.small = {dir.Path("small.dff"), dir.Path("hostile.col"), dir.Path("out.dff")};
    s.large = {dir.Path("large.dff"), s.small.col, s.small.output};
    {
        // Made here and dropped before any run, so that the runs start small.
        const Bytes a = shape.make(s.count);
        const Bytes b = shape.make(4 * s.count);
        s.smallBytes = a.size();
        s.largeBytes = b.size();
        ASSERT_TRUE(WriteFile(s.small.model, a));
        ASSERT_TRUE(WriteFile(s.large.model, b));
        ASSERT_TRUE(WriteFile(s.small.col, MakeCol3File()));
    }
    for (const WorkInfo& work : Works()) {
        const std::string failure = CheckWork(work.work, s);
        EXPECT_TRUE(failure.empty()) << work.name << ": " << failure;
    }
}

std::string ShapeName(const ::testing::TestParamInfo<size_t>& param) {
    return HostileShapes()[param.param].name;
}

INSTANTIATE_TEST_SUITE_P(Shapes, BoundedWork, ::testing::Range<size_t>(0, HostileShapes().size()),
                         ShapeName);

}  // namespace
}  // namespace brennix::test
