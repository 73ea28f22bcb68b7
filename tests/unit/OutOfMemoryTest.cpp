// Operations that cannot get the memory they need fail cleanly and leave
// their records as they were. Most cases run in a child process whose address
// space is capped a little above what it already uses, so that every large
// allocation made after the cap fails. The small allocations of standard
// strings and vectors are failed one at a time through this program's own
// operator new instead.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "UnitHelpers.h"
#include "col/ColModel.h"
#include "platform/Platform.h"

namespace {

long gAllocationsUntilFailure = -1;  // < 0: none fails
bool gAllocationFailed = false;

void* Allocate(std::size_t size) noexcept {
    if (gAllocationsUntilFailure == 0) {
        gAllocationsUntilFailure = -1;
        gAllocationFailed = true;
        return nullptr;
    }
    if (gAllocationsUntilFailure > 0)
        --gAllocationsUntilFailure;
    return std::malloc(size > 0 ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

}  // namespace

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

namespace brennix::test {
namespace {

// Bytes of address space the process uses now.
size_t AddressSpaceInUse() {
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (file != nullptr) {
        if (std::fscanf(file, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(file);
    }
    return static_cast<size_t>(pages) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Runs body in a child whose address space may grow by at most headroom
// bytes; the child's exit status is body's result (true = expectation met).
bool RunWithHeadroom(size_t headroom, const std::function<bool()>& body) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = AddressSpaceInUse() + headroom;
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(3);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return false;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "child ended with status " << status;
        return false;
    }
    return true;
}

constexpr size_t kHeadroom = 256 * 1024;

// Large blocks come from their own mappings and go back when freed, so that
// memory the test itself used and freed cannot serve a capped child.
const bool kLargeBlocksMapped = mallopt(M_MMAP_THRESHOLD, 64 * 1024) != 0;

class OutOfMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef BRENNIX_TEST_SANITIZED
        GTEST_SKIP() << "a sanitizer reserves address space of its own";
#endif
        ASSERT_TRUE(kLargeBlocksMapped);
        ASSERT_TRUE(dir_.Ok());
        LargeModelOptions options;
        options.nightColours = true;
        path_ = dir_.Path("large.dff");
        ASSERT_TRUE(WriteFile(path_, BuildModel(MakeLargeModel(60000, 200000, options))));
    }

    TempDir dir_;
    std::string path_;
};

TEST_F(OutOfMemoryTest, LoadFailsLikeAnUnreadableFile) {
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        DffModel model;
        model.Init();
        int32_t result = model.Load(path_.c_str());
        model.Release();
        if (result != -1)
            std::fprintf(stderr, "Load gave %d\n", static_cast<int>(result));
        return result == -1;
    }));
}

TEST_F(OutOfMemoryTest, GeometryReadFailsWithDataCode) {
    // Copied arrays need large blocks; arrays viewed in the file need only
    // records, each of which may be the one that fails.
    ScopedModel copying;
    ASSERT_EQ(copying->Load(path_.c_str()), 1);
    copying->copyArrays = 1;
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        return copying->ReadGeometryList() == 0 && copying->errorCode == kErrorGeometryData &&
               copying->geometries.At(0) == nullptr;
    }));
    for (long n = 0;; ++n) {
        ScopedModel model;
        ASSERT_EQ(model->Load(path_.c_str()), 1);
        model->copyArrays = 0;
        gAllocationFailed = false;
        gAllocationsUntilFailure = n;
        const int32_t read = model->ReadGeometryList();
        gAllocationsUntilFailure = -1;
        if (!gAllocationFailed) {
            EXPECT_EQ(read, 1);
            break;
        }
        EXPECT_EQ(read, 0) << n;
        EXPECT_EQ(model->errorCode, kErrorGeometryData) << n;
        EXPECT_EQ(model->geometries.At(0), nullptr) << n;
    }
}

TEST_F(OutOfMemoryTest, ColourOperationsLeaveTheGeometryAsItWas) {
    ScopedModel model;
    ScopedModel night;
    ASSERT_EQ(model->Load(path_.c_str()), 1);
    ASSERT_EQ(night->Load(path_.c_str()), 1);
    ASSERT_EQ(model->ReadGeometryList(), 1);
    ASSERT_EQ(night->ReadGeometryList(), 1);
    Geometry* g = model->FirstGeometry();
    const uint8_t* oldNight = g->nightColors;
    const uint8_t* oldDay = g->prelitColors;
    const uint16_t oldFlags = g->formatFlags;
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        return !g->ImportNightColors(*night->FirstGeometry()) && g->nightColors == oldNight &&
               !g->colorsChanged;
    }));
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        const uint8_t day[4] = {1, 2, 3, 255};
        const uint8_t nightColour[4] = {4, 5, 6, 255};
        return !g->SetUniformColors(day, nightColour) && g->prelitColors == oldDay &&
               g->nightColors == oldNight && g->formatFlags == oldFlags && !g->colorsChanged;
    }));
}

TEST_F(OutOfMemoryTest, RebuildKeepsTheOldGeometryList) {
    ScopedModel model;
    ASSERT_EQ(model->Load(path_.c_str()), 1);
    ASSERT_EQ(model->ReadGeometryList(), 1);
    const uint8_t day[4] = {1, 2, 3, 255};
    const uint8_t night[4] = {4, 5, 6, 255};
    ASSERT_TRUE(model->FirstGeometry()->SetUniformColors(day, night));
    const Chunk* oldList = model->geometryList;
    const Bytes before = ChunkBytes(*oldList);
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        return !model->RebuildGeometryList() && model->geometryList == oldList;
    }));
    EXPECT_EQ(ChunkBytes(*model->geometryList), before);
    // With memory to spare the same rebuild succeeds.
    EXPECT_TRUE(model->RebuildGeometryList());
}

TEST_F(OutOfMemoryTest, AttachAndSaveWriteNothing) {
    ScopedModel model;
    ASSERT_EQ(model->Load(path_.c_str()), 1);
    const std::string col = dir_.Path("big.col");
    Bytes big(8u << 20, 0x5A);
    std::memcpy(big.data(), "COL3", 4);  // a collision file by its first bytes
    ASSERT_TRUE(WriteFile(col, big));
    const uint32_t extensionSize = model->clumpExtension->size;
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        return model->AttachCollisionFile(col.c_str()) == -2 &&
               model->clumpExtension->size == extensionSize;
    }));
    ASSERT_EQ(model->AttachCollisionFile(col.c_str()), 1);
    // The save writes straight from the chunks: it needs no copy of the
    // model, so it succeeds under the cap too.
    const std::string out = dir_.Path("out.dff");
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] { return model->Save(out.c_str()) > 0; }));
    EXPECT_EQ(ReadFile(out).size(), ReadFile(path_).size() + (8u << 20) + 12u);
}

TEST_F(OutOfMemoryTest, GeneratorsFail) {
    ScopedModel model;
    ASSERT_EQ(model->Load(path_.c_str()), 1);
    ASSERT_EQ(model->ReadGeometryList(), 1);
    const Geometry& g = *model->FirstGeometry();
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        ColModel col;
        return col.GenerateMesh(g) == 0 && col.faceCount == 0 && col.vertexCount == 0;
    }));
    ColModel col;
    ASSERT_EQ(col.GenerateMesh(g), 1);
    ByteBuffer out;
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] { return !col.BuildFile(out, "yolt"); }));
    out.Release();
}

// ---------------------------------------------------------------------------
// One allocation at a time

// Makes the allocation n allocations from now fail (0: the very next one).
void FailAllocation(long n) {
    gAllocationFailed = false;
    gAllocationsUntilFailure = n;
}

// Ends the injection; true when an allocation was failed.
bool StopFailing() {
    gAllocationsUntilFailure = -1;
    return gAllocationFailed;
}

TEST(AllocationFailureTest, AttachAndSaveEndCleanlyWhereverMemoryRunsOut) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string in = dir.Path("in.dff");
    const std::string col = dir.Path("a.col");
    const std::string target = dir.Path("target.dff");
    // Saved through a link, so that the link is resolved too.
    const std::string link = dir.Path("link.dff");
    ASSERT_TRUE(WriteFile(in, BuildModel(MakeCanonicalModel())));
    ASSERT_TRUE(WriteFile(col, MakeCol3File()));
    ASSERT_EQ(symlink("target.dff", link.c_str()), 0);
    const Bytes old = {1, 2, 3};
    Bytes expected;
    {
        ScopedModel model;
        ASSERT_EQ(model->Load(in.c_str()), 1);
        ASSERT_EQ(model->AttachCollisionFile(col.c_str()), 1);
        ASSERT_GT(model->Save(target.c_str()), 0);
        expected = ReadFile(target);
    }
    ASSERT_TRUE(WriteFile(target, old));
    const std::vector<std::string> names = dir.Names();

    long failures = 0;
    for (bool failed = true; failed; ++failures) {
        SCOPED_TRACE(failures);
        ScopedModel model;
        ASSERT_EQ(model->Load(in.c_str()), 1);
        FailAllocation(failures);
        const bool saved =
            model->AttachCollisionFile(col.c_str()) > 0 && model->Save(link.c_str()) > 0;
        failed = StopFailing();
        EXPECT_TRUE(saved || failed);
        EXPECT_EQ(ReadFile(target), saved ? expected : old);
        EXPECT_EQ(dir.Names(), names);
        ASSERT_TRUE(WriteFile(target, old));
    }
    EXPECT_GT(failures, 2) << "the save should need memory of its own";
}

TEST(AllocationFailureTest, PlatformCallsGiveTheirFailureResultInsteadOfThrowing) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    // Names long enough to need memory of their own.
    for (const char* name :
         {"second model.dff", "First Of Two Models.DFF", "First Of Two Models.COL", "notes.txt"})
        ASSERT_TRUE(WriteFile(dir.Path(name), Bytes{1}));
    char program[] = "/usr/bin/brennix";
    char mode[] = "-p";
    char path[] = "-dFirst Of Two Models.DFF";
    char* argv[] = {program, mode, path, nullptr};
    const std::string line = "brennix -p -dFirst Of Two Models.DFF";
    const std::string colName = "First Of Two Models.COL";

    enum Outcome { kComplete, kFailed, kWrong };
    const struct {
        const char* name;
        std::function<Outcome()> call;
    } kCalls[] = {
        {"RawCommandLine",
         [&] {
             const std::string got = platform::RawCommandLine(3, argv);
             return got == line ? kComplete : got.empty() ? kFailed : kWrong;
         }},
        {"FindModelFiles",
         [&] {
             std::vector<platform::DirectoryEntry> entries;
             const bool found = platform::FindModelFiles(&entries);
             if (!found)
                 return entries.empty() ? kFailed : kWrong;
             return entries.size() == 2 && entries[0].name == "First Of Two Models.DFF" &&
                            entries[1].name == "second model.dff"
                        ? kComplete
                        : kWrong;
         }},
        {"FindEntryIgnoringCase",
         [&] {
             std::string found;
             if (!platform::FindEntryIgnoringCase("First Of Two Models.col", &found))
                 return kFailed;
             return found == colName ? kComplete : kWrong;
         }},
    };

    char* oldDirectory = getcwd(nullptr, 0);
    ASSERT_NE(oldDirectory, nullptr);
    ASSERT_EQ(chdir(dir.Root().c_str()), 0);
    for (const auto& c : kCalls) {
        SCOPED_TRACE(c.name);
        long failures = 0;
        for (bool failed = true; failed; ++failures) {
            FailAllocation(failures);
            const Outcome outcome = c.call();
            failed = StopFailing();
            if (failed) {
                EXPECT_NE(outcome, kWrong) << "allocation " << failures;
            } else {
                EXPECT_EQ(outcome, kComplete);
            }
        }
        EXPECT_GT(failures, 1);
    }
    EXPECT_EQ(chdir(oldDirectory), 0);
    std::free(oldDirectory);
}

}  // namespace
}  // namespace brennix::test
