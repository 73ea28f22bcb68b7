// Operations that cannot get the memory they need fail cleanly and leave
// their records as they were. Each case runs in a child process whose address
// space is capped a little above what it already uses, so that every large
// allocation made after the cap fails.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "UnitHelpers.h"
#include "col/ColModel.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRENNIX_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define BRENNIX_NO_ADDRESS_LIMIT 1
#endif
#endif

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
#ifdef BRENNIX_NO_ADDRESS_LIMIT
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
    ScopedModel model;
    ASSERT_EQ(model->Load(path_.c_str()), 1);
    EXPECT_TRUE(RunWithHeadroom(kHeadroom, [&] {
        return model->ReadGeometryList() == 0 && model->errorCode == kErrorGeometryData &&
               model->geometries.At(0) == nullptr;
    }));
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
    ASSERT_TRUE(WriteFile(col, Bytes(8u << 20, 0x5A)));
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

}  // namespace
}  // namespace brennix::test
