// Byte buffer, chunk records and the pointer array.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "stream/Stream.h"

namespace brennix::test {
namespace {

// Bytes 0, 1, 2, ... of the given length.
Bytes Sequence(size_t n, uint8_t first = 0) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// An owned buffer holding the bytes, cursor at 0.
ByteBuffer OwnedBuffer(const Bytes& bytes) {
    ByteBuffer buffer;
    buffer.Append(bytes.data(), static_cast<uint32_t>(bytes.size()));
    buffer.Rewind();
    return buffer;
}

struct ScopedBuffer {
    ByteBuffer buffer;
    ~ScopedBuffer() { buffer.Reset(); }
};

// ---------------------------------------------------------------------------
// Reading

TEST(ByteBufferRead, ShortReadZeroFillsTheRestAndSetsAtEnd) {
    Bytes bytes = Sequence(6, 1);
    ByteBuffer buffer = ByteBuffer::View(bytes.data(), 6);
    buffer.cursor = 4;
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(buffer.Read(out, 4), 2u);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 6);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(buffer.cursor, 6u);
    EXPECT_EQ(buffer.atEnd, 1);
}

TEST(ByteBufferRead, ReadWithNothingLeftZeroesAndKeepsAtEnd) {
    Bytes bytes = Sequence(4);
    for (uint8_t atEnd : {0, 1}) {
        ByteBuffer buffer = ByteBuffer::View(bytes.data(), 4);
        buffer.cursor = 4;
        buffer.atEnd = atEnd;
        uint8_t out[3] = {7, 7, 7};
        EXPECT_EQ(buffer.Read(out, 3), 0u);
        EXPECT_EQ(out[0] | out[1] | out[2], 0);
        EXPECT_EQ(buffer.atEnd, atEnd);
        EXPECT_EQ(buffer.cursor, 4u);
    }
}

TEST(ByteBufferRead, ReadOfExactlyTheRestSetsAtEndAndEndsChunkReading) {
    Bytes bytes = MakeChunk(kChunkStruct, Sequence(4));
    ByteBuffer buffer = ByteBuffer::View(bytes.data(), static_cast<uint32_t>(bytes.size()));
    uint8_t out[16];
    EXPECT_EQ(buffer.Read(out, 16), 16u);
    EXPECT_EQ(buffer.atEnd, 1);
    EXPECT_EQ(ReadChunk(buffer), nullptr);
}

TEST(ByteBufferRead, ReadsLittleEndianWordsAndMissingBytesAsZero) {
    Bytes bytes = {0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB, 0xEF, 0x01, 0x02};
    ByteBuffer buffer = ByteBuffer::View(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(buffer.ReadU32(), 0x12345678u);
    EXPECT_EQ(buffer.ReadU16(), 0xABCDu);
    EXPECT_EQ(buffer.ReadU32(), 0x000201EFu);  // one byte missing
    EXPECT_EQ(buffer.atEnd, 1);
    EXPECT_EQ(buffer.ReadU32(), 0u);
    EXPECT_EQ(buffer.ReadU8(), 0u);
}

TEST(ByteBufferRead, SkipStopsAtTheEnd) {
    Bytes bytes = Sequence(10);
    ByteBuffer buffer = ByteBuffer::View(bytes.data(), 10);
    EXPECT_EQ(buffer.Skip(4), 4u);
    EXPECT_EQ(buffer.atEnd, 0);
    EXPECT_EQ(buffer.Skip(100), 10u);
    EXPECT_EQ(buffer.cursor, 10u);
    EXPECT_EQ(buffer.atEnd, 1);

    ByteBuffer exact = ByteBuffer::View(bytes.data(), 10);
    EXPECT_EQ(exact.Skip(10), 10u);
    EXPECT_EQ(exact.atEnd, 1);
    ByteBuffer huge = ByteBuffer::View(bytes.data(), 10);
    huge.cursor = 3;
    EXPECT_EQ(huge.Skip(UINT32_MAX), 10u);  // no wrap-around
    EXPECT_EQ(huge.atEnd, 1);
}

// ---------------------------------------------------------------------------
// Writing

TEST(ByteBufferAppend, GrowsAtTheEndAndKeepsAtEnd) {
    ScopedBuffer scoped;
    ByteBuffer& buffer = scoped.buffer;
    Bytes first = Sequence(5);
    Bytes second = Sequence(7, 100);
    EXPECT_EQ(buffer.Append(first.data(), 5), 5u);
    EXPECT_EQ(buffer.Append(second.data(), 7), 7u);
    EXPECT_EQ(buffer.AppendU32(0x11223344u), 4u);
    EXPECT_EQ(buffer.AppendU16(0x5566u), 2u);
    EXPECT_EQ(buffer.ownsData, 1);
    EXPECT_EQ(buffer.atEnd, 0);
    EXPECT_EQ(buffer.length, 18u);
    EXPECT_EQ(buffer.cursor, 18u);
    Bytes expected = Cat({first, second, {0x44, 0x33, 0x22, 0x11, 0x66, 0x55}});
    EXPECT_EQ(PayloadBytes(buffer), expected);
}

TEST(ByteBufferAppend, OverwritesInPlaceInsideTheData) {
    ScopedBuffer scoped;
    ByteBuffer& buffer = scoped.buffer;
    buffer = OwnedBuffer(Bytes(200, 0xEE));
    Bytes header = Sequence(120);
    EXPECT_EQ(buffer.Append(header.data(), 120), 120u);
    EXPECT_EQ(buffer.length, 200u);
    EXPECT_EQ(buffer.cursor, 120u);
    Bytes got = PayloadBytes(buffer);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), got.begin()));
    EXPECT_EQ(std::count(got.begin() + 120, got.end(), 0xEE), 80);

    // Writing across the old end grows only by the part past it.
    buffer.cursor = 190;
    Bytes tail = Sequence(20, 50);
    EXPECT_EQ(buffer.Append(tail.data(), 20), 20u);
    EXPECT_EQ(buffer.length, 210u);
    EXPECT_EQ(buffer.data[190], 50);
    EXPECT_EQ(buffer.data[209], 69);
}

TEST(ByteBufferAppend, GrowingAViewCopiesItFirst) {
    Bytes original = Sequence(16);
    Bytes viewed = original;
    ScopedBuffer scoped;
    ByteBuffer& view = scoped.buffer;
    view = ByteBuffer::View(viewed.data(), 16);
    view.cursor = 16;
    Bytes more = Sequence(4, 200);
    EXPECT_EQ(view.Append(more.data(), 4), 4u);
    EXPECT_EQ(view.ownsData, 1);
    EXPECT_NE(view.data, viewed.data());
    EXPECT_EQ(viewed, original);
    EXPECT_EQ(PayloadBytes(view), Cat({original, more}));
}

TEST(ByteBufferAppend, TakeOwnershipCopiesAViewAndLeavesItsBytes) {
    Bytes original = Sequence(32);
    Bytes viewed = original;
    ScopedBuffer scoped;
    ByteBuffer& view = scoped.buffer;
    view = ByteBuffer::View(viewed.data(), 32);
    view.cursor = 9;
    ASSERT_TRUE(view.TakeOwnership());
    EXPECT_EQ(view.ownsData, 1);
    EXPECT_NE(view.data, viewed.data());
    EXPECT_EQ(view.length, 32u);
    EXPECT_EQ(view.cursor, 9u);
    view.data[0] = 0xFF;
    EXPECT_EQ(viewed, original);
    EXPECT_EQ(view.data[31], 31);
}

TEST(ByteBufferAppend, ReleaseFreesOwnedBytesOnlyAndResetEmpties) {
    Bytes viewed = Sequence(8);
    ByteBuffer view = ByteBuffer::View(viewed.data(), 8);
    view.Release();  // a view is never freed
    EXPECT_EQ(view.data, viewed.data());

    ByteBuffer owned = OwnedBuffer(Sequence(8));
    owned.cursor = 3;
    owned.Release();
    EXPECT_EQ(owned.data, nullptr);
    EXPECT_EQ(owned.cursor, 3u);
    owned.Release();  // twice is harmless
    owned.Reset();
    EXPECT_EQ(owned.length, 0u);
    EXPECT_EQ(owned.cursor, 0u);
    EXPECT_EQ(owned.ownsData, 0);
}

// ---------------------------------------------------------------------------
// Files

class ByteBufferFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }
    TempDir dir;
};

TEST_F(ByteBufferFile, LoadsFilesOfEverySizeExactly) {
    // The largest reads into memory that asks for large pages.
    for (size_t size : {1u, 2047u, 2048u, 2049u, 5000u, (6u << 20) + 3u}) {
        SCOPED_TRACE(size);
        Bytes bytes = Sequence(size, 3);
        std::string path = dir.Path("in.bin");
        ASSERT_TRUE(WriteFile(path, bytes));
        ScopedBuffer scoped;
        scoped.buffer = OwnedBuffer(Sequence(40));  // replaced by the load
        scoped.buffer.atEnd = 1;
        EXPECT_EQ(scoped.buffer.LoadFile(path.c_str()), size);
        EXPECT_EQ(scoped.buffer.length, size);
        EXPECT_EQ(scoped.buffer.cursor, 0u);
        EXPECT_EQ(scoped.buffer.atEnd, 0);
        EXPECT_EQ(scoped.buffer.ownsData, 1);
        EXPECT_EQ(PayloadBytes(scoped.buffer), bytes);
    }
}

TEST_F(ByteBufferFile, EmptyFileLoadsAsOneZeroByte) {
    std::string path = dir.Path("empty.bin");
    ASSERT_TRUE(WriteFile(path, {}));
    ScopedBuffer scoped;
    EXPECT_EQ(scoped.buffer.LoadFile(path.c_str()), 1u);
    ASSERT_EQ(scoped.buffer.length, 1u);
    EXPECT_EQ(scoped.buffer.data[0], 0);
}

TEST_F(ByteBufferFile, LoadFailsForMissingFilesAndUnreadablePaths) {
    ScopedBuffer missing;
    EXPECT_EQ(missing.buffer.LoadFile(dir.Path("missing.bin").c_str()), 0u);
    ScopedBuffer directory;  // opens, but every read fails
    EXPECT_EQ(directory.buffer.LoadFile(dir.Root().c_str()), 0u);
}

TEST_F(ByteBufferFile, LoadRefusesWhatIsNotARegularFileWithoutReadingIt) {
    ASSERT_EQ(mkfifo(dir.Path("fifo.dff").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(dir.Path("real.bin"), Sequence(7)));
    const struct {
        const char* name;
        const char* linkTo;  // null: the entry itself
        uint32_t loaded;
    } kCases[] = {
        {"fifo.dff", nullptr, 0},     {"fifolink.dff", "fifo.dff", 0},
        {"zero.dff", "/dev/zero", 0}, {"null.dff", "/dev/null", 0},
        {"sub", nullptr, 0},          {"sublink", "sub", 0},
        {"real.lnk", "real.bin", 7},
    };
    // A load that waits on the FIFO or reads /dev/zero for ever ends the run.
    alarm(30);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.linkTo != nullptr) {
            ASSERT_EQ(symlink(c.linkTo, dir.Path(c.name).c_str()), 0);
        }
        ScopedBuffer scoped;
        EXPECT_EQ(scoped.buffer.LoadFile(dir.Path(c.name).c_str()), c.loaded);
        EXPECT_EQ(scoped.buffer.length, c.loaded);
    }
    alarm(0);
}

// Bytes of memory the system can still give, from /proc/meminfo.
uint64_t MemoryAvailable() {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    unsigned long long kib = 0;
    char line[256];
    while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1)
            break;
    }
    if (file != nullptr)
        std::fclose(file);
    return static_cast<uint64_t>(kib) * 1024;
}

// A file of `size` bytes that takes no room on disk, its last byte 0x5A.
bool MakeSparseFile(const std::string& path, uint64_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const uint8_t last = 0x5A;
    bool ok = ftruncate(fileno(file), static_cast<off_t>(size)) == 0 &&
              pwrite(fileno(file), &last, 1, static_cast<off_t>(size - 1)) == 1;
    struct stat info;
    ok = ok && fstat(fileno(file), &info) == 0 && info.st_blocks < 1024 * 1024;
    std::fclose(file);
    if (!ok)
        std::remove(path.c_str());
    return ok;
}

TEST_F(ByteBufferFile, LoadTakesFilesUpToWhatA32BitLengthHolds) {
    constexpr uint64_t k4GiB = uint64_t{1} << 32;
    const std::string path = dir.Path("huge.bin");
    for (uint64_t size : {k4GiB, k4GiB + 1}) {
        SCOPED_TRACE(size);
        if (!MakeSparseFile(path, size)) {
            GTEST_SKIP() << "no sparse files here";
        }
        ScopedBuffer scoped;
        EXPECT_EQ(scoped.buffer.LoadFile(path.c_str()), 0u);
        EXPECT_EQ(scoped.buffer.data, nullptr);
    }
    if (kSanitized) {
        GTEST_SKIP() << "4 GiB of memory is too much under a sanitizer";
    }
    if (MemoryAvailable() < k4GiB + (uint64_t{2} << 30)) {
        GTEST_SKIP() << "not enough free memory for a 4 GiB buffer";
    }
    ASSERT_TRUE(MakeSparseFile(path, k4GiB - 1));
    ScopedBuffer scoped;
    ASSERT_EQ(scoped.buffer.LoadFile(path.c_str()), UINT32_MAX);
    EXPECT_EQ(scoped.buffer.length, UINT32_MAX);
    EXPECT_EQ(scoped.buffer.data[0], 0);
    EXPECT_EQ(scoped.buffer.data[UINT32_MAX - 1], 0x5A);
}

TEST_F(ByteBufferFile, WriteToStreamWritesEveryPieceAndReportsFailure) {
    Bytes bytes = Sequence(2500, 7);
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(bytes);
    std::string path = dir.Path("stream.bin");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(scoped.buffer.WriteToStream(file), 2500u);
    std::fclose(file);
    EXPECT_EQ(ReadFile(path), bytes);

    std::FILE* readOnly = std::fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(scoped.buffer.WriteToStream(readOnly), 0u);
    std::fclose(readOnly);
}

TEST_F(ByteBufferFile, SaveWritesTheBytesAndLeavesNoTemporaryFile) {
    Bytes bytes = Sequence(3000, 1);
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(bytes);
    scoped.buffer.cursor = 100;  // the cursor does not matter
    std::string path = dir.Path("out.bin");
    EXPECT_EQ(scoped.buffer.SaveFile(path.c_str()), 3000u);
    EXPECT_EQ(ReadFile(path), bytes);

    ASSERT_TRUE(WriteFile(path, Sequence(9000)));  // a longer file is replaced whole
    EXPECT_EQ(scoped.buffer.SaveFile(path.c_str()), 3000u);
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(ByteBufferFile, SavingAnEmptyBufferLeavesAnEmptyFileAndReturnsZero) {
    ByteBuffer empty;
    std::string fresh = dir.Path("fresh.bin");
    EXPECT_EQ(empty.SaveFile(fresh.c_str()), 0u);
    ASSERT_TRUE(Exists(fresh));
    EXPECT_TRUE(ReadFile(fresh).empty());

    std::string existing = dir.Path("existing.bin");
    ASSERT_TRUE(WriteFile(existing, Sequence(50)));
    EXPECT_EQ(empty.SaveFile(existing.c_str()), 0u);
    EXPECT_TRUE(ReadFile(existing).empty());
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"existing.bin", "fresh.bin"}));
}

TEST_F(ByteBufferFile, SaveThatCannotCompleteLeavesEverythingAsItWas) {
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(Sequence(64));
    Bytes before = Sequence(10, 90);
    ASSERT_TRUE(WriteFile(dir.Path("keep.bin"), before));
    ASSERT_EQ(mkdir(dir.Path("sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(dir.Path("sub/inner.bin"), before));

    EXPECT_EQ(scoped.buffer.SaveFile(dir.Path("missing/out.bin").c_str()), 0u);
    EXPECT_EQ(scoped.buffer.SaveFile(dir.Path("sub").c_str()), 0u);
    EXPECT_EQ(scoped.buffer.SaveFile(""), 0u);

    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"keep.bin", "sub"}));
    EXPECT_EQ(dir.Names("sub"), std::vector<std::string>{"inner.bin"});
    EXPECT_EQ(ReadFile(dir.Path("keep.bin")), before);
    EXPECT_EQ(ReadFile(dir.Path("sub/inner.bin")), before);
}

TEST_F(ByteBufferFile, SaveCutShortByAWriteErrorKeepsTheTargetByteForByte) {
    // A file size limit makes the write fail part way, as a full disk would.
    Bytes before = Sequence(10, 90);
    std::string path = dir.Path("target.bin");
    ASSERT_TRUE(WriteFile(path, before));
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(Bytes(100000, 0x5A));

    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    uint32_t result = scoped.buffer.SaveFile(path.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, 0u);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"target.bin"});
}

TEST_F(ByteBufferFile, SavesUnderAnyNameTheSystemAllows) {
    const long longest = pathconf(dir.Root().c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 16);
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(Sequence(40));
    for (size_t length : {size_t{1}, size_t(longest - 19), size_t(longest)}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        for (int round = 0; round < 2; ++round) {  // a new file, then a replaced one
            EXPECT_EQ(scoped.buffer.SaveFile(dir.Path(name).c_str()), 40u);
            EXPECT_EQ(ReadFile(dir.Path(name)), Sequence(40));
        }
        EXPECT_EQ(dir.Names(), std::vector<std::string>{name});
        std::remove(dir.Path(name).c_str());
    }
}

mode_t ModeOf(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

TEST_F(ByteBufferFile, SaveKeepsTheTargetsPermissionBits) {
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(Sequence(20));
    for (mode_t mode : {0600, 0640, 0755, 0444}) {
        SCOPED_TRACE(mode);
        std::string path = dir.Path("mode.bin");
        ASSERT_TRUE(WriteFile(path, Sequence(3)));
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        EXPECT_EQ(scoped.buffer.SaveFile(path.c_str()), 20u);
        EXPECT_EQ(ModeOf(path), mode);
        EXPECT_EQ(ReadFile(path), Sequence(20));
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"mode.bin"});
}

TEST_F(ByteBufferFile, NewFileGetsTheUsualModeUnderTheUmask) {
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(Sequence(20));
    for (mode_t mask : {022, 027, 077}) {
        SCOPED_TRACE(mask);
        std::string path = dir.Path("new.bin");
        std::remove(path.c_str());
        mode_t old = umask(mask);
        uint32_t result = scoped.buffer.SaveFile(path.c_str());
        umask(old);
        EXPECT_EQ(result, 20u);
        EXPECT_EQ(ModeOf(path), 0666 & ~mask);
    }
}

TEST_F(ByteBufferFile, SaveThroughASymlinkReplacesThePointedToFile) {
    ScopedBuffer scoped;
    scoped.buffer = OwnedBuffer(Sequence(33));
    ASSERT_EQ(mkdir(dir.Path("real").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(dir.Path("real/model.bin"), Sequence(5)));
    ASSERT_EQ(chmod(dir.Path("real/model.bin").c_str(), 0600), 0);
    ASSERT_EQ(symlink("real/model.bin", dir.Path("link.bin").c_str()), 0);

    EXPECT_EQ(scoped.buffer.SaveFile(dir.Path("link.bin").c_str()), 33u);

    struct stat info;
    ASSERT_EQ(lstat(dir.Path("link.bin").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    char target[64] = {};
    ASSERT_GT(readlink(dir.Path("link.bin").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "real/model.bin");
    EXPECT_EQ(ReadFile(dir.Path("real/model.bin")), Sequence(33));
    EXPECT_EQ(ModeOf(dir.Path("real/model.bin")), 0600u);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"link.bin", "real"}));
    EXPECT_EQ(dir.Names("real"), std::vector<std::string>{"model.bin"});
}

// ---------------------------------------------------------------------------
// Chunk records

TEST(ChunkRecord, InitGivesTheSystemStampAndNoPayload) {
    Chunk chunk;
    chunk.type = 5;
    chunk.size = 9;
    chunk.stampLow = 1;
    chunk.stampHigh = 2;
    chunk.Init();
    EXPECT_EQ(chunk.type, 0u);
    EXPECT_EQ(chunk.size, 0u);
    EXPECT_EQ(chunk.Stamp(), 0x1803FFFFu);
    EXPECT_EQ(chunk.payload.data, nullptr);
    EXPECT_EQ(chunk.payload.length, 0u);
    chunk.Release();
}

TEST(ReadChunkTest, ReadsHeaderAndViewsThePayload) {
    Bytes payload = Sequence(20, 1);
    Bytes bytes = Cat({MakeChunk(0x0E, payload, 0x00000310), MakeChunk(0x14, {})});
    ByteBuffer buffer = ByteBuffer::View(bytes.data(), static_cast<uint32_t>(bytes.size()));

    Chunk* first = ReadChunk(buffer);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->type, 0x0Eu);
    EXPECT_EQ(first->size, 20u);
    EXPECT_EQ(first->stampLow, 0x0310u);
    EXPECT_EQ(first->stampHigh, 0u);
    EXPECT_EQ(first->payload.data, bytes.data() + 12);
    EXPECT_EQ(first->payload.length, 20u);
    EXPECT_EQ(first->payload.cursor, 0u);
    EXPECT_EQ(first->payload.ownsData, 0);
    EXPECT_EQ(buffer.cursor, 32u);
    EXPECT_EQ(buffer.atEnd, 0);

    Chunk* second = ReadChunk(buffer);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->type, 0x14u);
    EXPECT_EQ(second->payload.length, 0u);
    EXPECT_EQ(buffer.atEnd, 1);
    EXPECT_EQ(ReadChunk(buffer), nullptr);
    DestroyChunk(first);
    DestroyChunk(second);
    EXPECT_EQ(first, nullptr);
    DestroyChunk(first);  // null is fine

    ByteBuffer empty;
    EXPECT_EQ(ReadChunk(empty), nullptr);
}

TEST(ReadChunkTest, BoundsThePayloadViewToItsParent) {
    // A parent of 20 bytes holds a child that claims 50; 30 more bytes follow
    // the parent in the outer buffer and must stay out of the child's view.
    Bytes child = MakeChunkWithSize(0x01, 50, Sequence(8));
    Bytes bytes = Cat({MakeChunk(0x10, child), Bytes(30, 0xAA)});
    ByteBuffer outer = ByteBuffer::View(bytes.data(), static_cast<uint32_t>(bytes.size()));
    Chunk* parent = ReadChunk(outer);
    ASSERT_NE(parent, nullptr);
    ASSERT_EQ(parent->payload.length, 20u);
    EXPECT_TRUE(parent->IsComplete());

    Chunk* inner = ReadChunk(parent->payload);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->size, 50u);
    EXPECT_EQ(inner->payload.length, 8u);
    EXPECT_EQ(inner->payload.data, parent->payload.data + 12);
    EXPECT_FALSE(inner->IsComplete());
    EXPECT_EQ(parent->payload.cursor, 20u);
    EXPECT_EQ(parent->payload.atEnd, 1);
    EXPECT_EQ(ReadChunk(parent->payload), nullptr);
    DestroyChunk(inner);
    DestroyChunk(parent);
}

TEST(ReadChunkTest, TruncatedHeaderReadsZeroInEveryMissingPart) {
    const Bytes full = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
    for (size_t n = 1; n < 12; ++n) {
        SCOPED_TRACE(n);
        Bytes bytes(full.begin(), full.begin() + static_cast<long>(n));
        Bytes padded = bytes;
        padded.resize(12, 0);
        ByteBuffer buffer = ByteBuffer::View(bytes.data(), static_cast<uint32_t>(n));
        Chunk* chunk = ReadChunk(buffer);
        ASSERT_NE(chunk, nullptr);
        EXPECT_EQ(chunk->type, GetU32(padded, 0));
        EXPECT_EQ(chunk->size, GetU32(padded, 4));
        EXPECT_EQ(chunk->stampLow, GetU16(padded, 8));
        EXPECT_EQ(chunk->stampHigh, GetU16(padded, 10));
        EXPECT_EQ(chunk->payload.length, 0u);
        EXPECT_EQ(buffer.atEnd, 1);
        EXPECT_EQ(ReadChunk(buffer), nullptr);
        DestroyChunk(chunk);
    }
}

TEST(ReadChunkTest, FiveByteFileGivesTypeAndOneSizeByte) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    std::string path = dir.Path("five.bin");
    ASSERT_TRUE(WriteFile(path, {0x10, 0x00, 0x00, 0x00, 0x07}));
    ScopedBuffer scoped;
    ASSERT_EQ(scoped.buffer.LoadFile(path.c_str()), 5u);
    Chunk* chunk = ReadChunk(scoped.buffer);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->type, 0x10u);
    EXPECT_EQ(chunk->size, 7u);
    EXPECT_EQ(chunk->stampLow, 0u);
    EXPECT_EQ(chunk->stampHigh, 0u);
    EXPECT_EQ(chunk->payload.length, 0u);
    EXPECT_EQ(scoped.buffer.atEnd, 1);
    DestroyChunk(chunk);
}

TEST(AppendChildTest, AppendsHeaderAndPayloadAndGrowsTheSize) {
    Chunk parent;
    parent.Init();
    parent.type = 0x1A;
    Bytes parentBytes = Sequence(40, 1);
    parent.payload.Append(parentBytes.data(), 40);
    parent.size = 40;
    parent.payload.cursor = 5;  // the append goes to the end all the same

    Chunk child;
    child.Init();
    child.type = 0x0F;
    child.stampLow = 0x0310;
    child.stampHigh = 0;
    Bytes childBytes = Sequence(16, 100);
    child.payload.Append(childBytes.data(), 16);
    child.size = 16;

    ASSERT_EQ(Chunk::AppendChild(&parent, &child), 1);
    EXPECT_EQ(parent.size, 68u);
    Bytes expected = Cat({parentBytes, MakeChunk(0x0F, childBytes, 0x00000310)});
    EXPECT_EQ(PayloadBytes(parent.payload), expected);
    EXPECT_EQ(PayloadBytes(child.payload), childBytes);

    EXPECT_EQ(Chunk::AppendChild(nullptr, &child), 0);
    EXPECT_EQ(Chunk::AppendChild(&parent, nullptr), 0);
    EXPECT_EQ(parent.size, 68u);
    parent.Release();
    child.Release();
}

TEST(AppendChildTest, WritesTheChildsSizeFieldAsItStands) {
    Chunk parent;
    parent.Init();
    Chunk child;
    child.Init();
    child.type = 7;
    Bytes childBytes = Sequence(16);
    child.payload.Append(childBytes.data(), 16);
    child.size = 99;
    ASSERT_EQ(Chunk::AppendChild(&parent, &child), 1);
    EXPECT_EQ(parent.size, 28u);
    EXPECT_EQ(GetU32(PayloadBytes(parent.payload), 4), 99u);
    parent.Release();
    child.Release();
}

TEST(AppendChildTest, ParentViewBecomesAnOwnedCopy) {
    Bytes file = MakeChunk(kChunkExtension, Sequence(24));
    const Bytes original = file;
    ByteBuffer buffer = ByteBuffer::View(file.data(), static_cast<uint32_t>(file.size()));
    Chunk* parent = ReadChunk(buffer);
    ASSERT_NE(parent, nullptr);

    Chunk child;
    child.Init();
    child.type = kEntryCollision;
    Bytes childBytes = Sequence(10, 50);
    child.payload.Append(childBytes.data(), 10);
    child.size = 10;
    ASSERT_EQ(Chunk::AppendChild(parent, &child), 1);

    EXPECT_EQ(file, original);
    EXPECT_EQ(parent->payload.ownsData, 1);
    EXPECT_EQ(parent->size, 24u + 22u);
    EXPECT_EQ(PayloadBytes(parent->payload),
              Cat({Sequence(24), MakeChunk(kEntryCollision, childBytes)}));
    child.Release();
    DestroyChunk(parent);
}

// ---------------------------------------------------------------------------
// Pointer array

TEST(PointerArrayTest, AddFillsTheFirstEmptySlotOrGrows) {
    int objects[6] = {};
    PointerArray<int> array;
    EXPECT_EQ(array.Add(&objects[0]), 0);
    EXPECT_EQ(array.Add(&objects[1]), 1);
    EXPECT_EQ(array.Add(&objects[2]), 2);
    array.Clear(1);
    EXPECT_EQ(array.At(1), nullptr);
    EXPECT_EQ(array.Add(&objects[3]), 1);  // only the middle slot was empty
    EXPECT_EQ(array.At(0), &objects[0]);
    EXPECT_EQ(array.At(1), &objects[3]);
    EXPECT_EQ(array.At(2), &objects[2]);
    EXPECT_EQ(array.Add(&objects[4]), 3);  // all used: one more slot
    EXPECT_EQ(array.count, 4u);
    EXPECT_EQ(array.At(4), nullptr);
    array.Clear(99);  // out of range: nothing happens
    EXPECT_EQ(array.count, 4u);
    array.Resize(0);
}

TEST(PointerArrayTest, ClearedSlotsAreReusedLowestFirst) {
    int objects[8] = {};
    PointerArray<int> array;
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(array.Add(&objects[i]), i);
    array.Clear(3);
    array.Clear(1);
    EXPECT_EQ(array.Add(&objects[4]), 1);
    EXPECT_EQ(array.Add(&objects[5]), 3);
    EXPECT_EQ(array.Add(&objects[6]), 4);
    array.Clear(0);
    EXPECT_EQ(array.Add(&objects[7]), 0);
    EXPECT_EQ(array.count, 5u);
    array.Resize(0);
}

TEST(PointerArrayTest, ResizeSetsTheSlotCountWithoutTouchingObjects) {
    std::vector<int*> objects;
    for (int i = 0; i < 3; ++i)
        objects.push_back(new int(i));
    PointerArray<int> array;
    for (int* p : objects)
        array.Add(p);

    ASSERT_TRUE(array.Resize(5));
    EXPECT_EQ(array.count, 5u);
    EXPECT_EQ(array.At(3), nullptr);
    EXPECT_EQ(array.At(4), nullptr);
    EXPECT_EQ(array.Add(objects[0]), 3);

    ASSERT_TRUE(array.Resize(2));  // drops slots 2..4, objects survive
    EXPECT_EQ(array.count, 2u);
    ASSERT_TRUE(array.Resize(4));
    EXPECT_EQ(array.At(2), nullptr);
    EXPECT_EQ(array.At(3), nullptr);
    EXPECT_EQ(array.Add(objects[2]), 2);

    ASSERT_TRUE(array.Resize(0));
    EXPECT_EQ(array.items, nullptr);
    EXPECT_EQ(array.count, 0u);
    EXPECT_EQ(array.At(0), nullptr);
    EXPECT_EQ(array.Add(objects[1]), 0);  // usable again
    array.Resize(0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(*objects[static_cast<size_t>(i)], i);
    for (int* p : objects)
        delete p;
}

}  // namespace
}  // namespace brennix::test
