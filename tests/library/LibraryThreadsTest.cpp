// The four functions called from several threads at once, each thread on its
// own files, many times over. Every call must give the result and the bytes
// that the same call gives alone, and every diagnostic must arrive as one
// whole line. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "library/LibraryHarness.h"
#include "support/ModelBuilder.h"

namespace brennix::test {
namespace {

constexpr int kThreads = 6;
constexpr int kIterations = 30;

constexpr uint32_t kDay = 0x00C08040u;
constexpr uint32_t kNight = 0x00102030u;

const char kLoadFailed[] = "[brennixdll:error:read] Could not load the dff file.";
const char kNoClumpExtension[] =
    "[brennixdll:error:appendcol] Could not append col to file. Error: -1";

// A model big enough that calls overlap: a grid with day colours, texture
// coordinates, normals and a Bin Mesh.
ClumpSpec WorkModel() {
    return MakeLargeModel(600, 400);
}

ClumpSpec NightModel() {
    ClumpSpec model = WorkModel();
    for (Rgba& colour : model.FirstGeometry().prelit) {
        colour = {static_cast<uint8_t>(colour.b ^ 0x5A), colour.r, colour.g, 255};
    }
    return model;
}

ClumpSpec WithoutClumpExtension(ClumpSpec model) {
    auto& children = model.children;
    for (auto it = children.begin(); it != children.end();) {
        it = it->kind == ClumpChildKind::Extension ? children.erase(it) : it + 1;
    }
    return model;
}

// One set of inputs and the outputs of one round of calls.
struct Files {
    std::string model, col, night, noExtension, small, missing;
    std::string outCol, outAppended, outNight, outPainted, outScratch;
};

Files MakeFiles(const ScratchDir& dir, const std::string& prefix) {
    Files f;
    f.model = dir.Path(prefix + "model.dff");
    f.col = dir.Path(prefix + "model.col");
    f.night = dir.Path(prefix + "night.dff");
    f.noExtension = dir.Path(prefix + "noext.dff");
    f.small = dir.Path(prefix + "small.dff");
    f.missing = dir.Path(prefix + "missing.dff");
    f.outCol = dir.Path(prefix + "out.col");
    f.outAppended = dir.Path(prefix + "appended.dff");
    f.outNight = dir.Path(prefix + "nightout.dff");
    f.outPainted = dir.Path(prefix + "painted.dff");
    f.outScratch = dir.Path(prefix + "scratch.out");
    return f;
}

bool WriteInputs(const Files& f) {
    return WriteFile(f.model, BuildModel(WorkModel())) && WriteFile(f.col, MakeCol3File()) &&
           WriteFile(f.night, BuildModel(NightModel())) &&
           WriteFile(f.noExtension, BuildModel(WithoutClumpExtension(WorkModel()))) &&
           WriteFile(f.small, BuildModel(MakeCanonicalModel()));
}

struct Reference {
    Bytes col, appended, night, painted;
};

// One round of calls: the successful jobs, then failures with and without
// diagnostics. Returns what went wrong, or an empty string.
std::string RunRound(const HostLibrary& lib, const Files& f, const Reference* expected,
                     Reference* produced) {
    std::ostringstream why;
    auto check = [&](const char* what, int result, int wanted) {
        if (result != wanted)
            why << what << " returned " << result << ", not " << wanted << "; ";
    };
    auto compare = [&](const char* what, const std::string& path, const Bytes& wanted,
                       Bytes* keep) {
        Bytes bytes;
        try {
            bytes = ReadFile(path);
        } catch (const std::exception& error) {
            why << what << ": " << error.what() << "; ";
            return;
        }
        if (keep != nullptr)
            *keep = bytes;
        if (expected != nullptr && bytes != wanted)
            why << what << " wrote other bytes; ";
    };
    const Reference none;
    const Reference& want = expected != nullptr ? *expected : none;

    check("GenerateColFromDff", lib.generateColFromDff(f.model.c_str(), 2, f.outCol.c_str()), 0);
    compare("GenerateColFromDff", f.outCol, want.col, produced ? &produced->col : nullptr);
    check("AppendColToDff",
          lib.appendColToDff(f.model.c_str(), f.col.c_str(), f.outAppended.c_str()), 0);
    compare("AppendColToDff", f.outAppended, want.appended,
            produced ? &produced->appended : nullptr);
    check("ImportNVCFromDff",
          lib.importNVCFromDff(f.model.c_str(), f.night.c_str(), f.outNight.c_str()), 0);
    compare("ImportNVCFromDff", f.outNight, want.night, produced ? &produced->night : nullptr);
    check("EasyVertexColors",
          lib.easyVertexColors(f.model.c_str(), kDay, kNight, f.outPainted.c_str()), 0);
    compare("EasyVertexColors", f.outPainted, want.painted,
            produced ? &produced->painted : nullptr);

    // Failures: each of the first two prints one diagnostic line.
    check("GenerateColFromDff on a missing model",
          lib.generateColFromDff(f.missing.c_str(), 0, f.outScratch.c_str()), 1);
    check("AppendColToDff without clump Extension",
          lib.appendColToDff(f.noExtension.c_str(), f.col.c_str(), f.outScratch.c_str()), 7);
    check("ImportNVCFromDff with other vertex counts",
          lib.importNVCFromDff(f.model.c_str(), f.small.c_str(), f.outScratch.c_str()), 6);
    check("EasyVertexColors on a missing model",
          lib.easyVertexColors(f.missing.c_str(), kDay, kNight, f.outScratch.c_str()), 1);
    std::error_code error;
    if (std::filesystem::exists(f.outScratch, error))
        why << "a failed call wrote a file; ";
    return why.str();
}

TEST(LibraryThreads, ConcurrentCallsOnSeparateFilesMatchASingleCall) {
    HostLibrary lib;
    ASSERT_TRUE(lib.Open(BRENNIX_LIBRARY_PATH)) << lib.Error();
    ScratchDir dir;
    ASSERT_TRUE(dir.Ok());

    // The bytes every call must reproduce, from one call on one thread.
    const Files referenceFiles = MakeFiles(dir, "ref-");
    ASSERT_TRUE(WriteInputs(referenceFiles));
    Reference reference;
    CapturedOutput referenceOutput;
    std::string referenceProblems;
    referenceOutput = CaptureOutput(
        [&] { referenceProblems = RunRound(lib, referenceFiles, nullptr, &reference); });
    ASSERT_EQ(referenceProblems, "");
    ASSERT_FALSE(reference.col.empty());
    ASSERT_EQ(referenceOutput.err, std::string(kLoadFailed) + "\n" + kNoClumpExtension + "\n");

    std::vector<Files> files;
    for (int t = 0; t < kThreads; ++t) {
        files.push_back(MakeFiles(dir, "t" + std::to_string(t) + "-"));
        ASSERT_TRUE(WriteInputs(files.back()));
    }

    std::vector<std::string> problems(kThreads);
    std::atomic<int> ready{0};
    const CapturedOutput output = CaptureOutput([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                // Start together so that the calls overlap from the first.
                ready.fetch_add(1);
                while (ready.load() < kThreads)
                    std::this_thread::yield();
                for (int i = 0; i < kIterations && problems[t].empty(); ++i) {
                    problems[t] = RunRound(lib, files[t], &reference, nullptr);
                    if (!problems[t].empty())
                        problems[t] = "round " + std::to_string(i) + ": " + problems[t];
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    });
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(problems[t], "") << "thread " << t;

    // Every diagnostic arrives whole, on a line of its own.
    EXPECT_EQ(output.out, "");
    std::istringstream lines(output.err);
    std::string line;
    int loadLines = 0;
    int appendLines = 0;
    while (std::getline(lines, line)) {
        if (line == kLoadFailed) {
            ++loadLines;
        } else if (line == kNoClumpExtension) {
            ++appendLines;
        } else {
            ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    EXPECT_EQ(loadLines, kThreads * kIterations);
    EXPECT_EQ(appendLines, kThreads * kIterations);
    ASSERT_FALSE(output.err.empty());
    EXPECT_EQ(output.err.back(), '\n');
}

}  // namespace
}  // namespace brennix::test
