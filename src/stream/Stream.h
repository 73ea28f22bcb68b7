// Binary stream layer: a growable byte buffer with one cursor, the 12-byte
// chunk record of the model stream, and an array of owned object pointers.
//
// Results are plain values, never exceptions. Reads never fail: missing bytes
// read as zero and the cursor stops at the end. Appends report an allocation
// failure through the buffer's `failed` latch; writers check it once at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace brennix {

// Version stamp of every chunk that the system creates (bytes FF FF 03 18).
constexpr uint32_t kDefaultStamp = 0x1803FFFF;
constexpr uint16_t kDefaultStampLow = 0xFFFF;
constexpr uint16_t kDefaultStampHigh = 0x1803;
constexpr uint32_t kChunkHeaderSize = 12;

struct ByteBuffer {
    uint8_t* data = nullptr;  // null when the buffer holds nothing
    uint32_t cursor = 0;      // next read or write position, 0..length
    uint32_t length = 0;      // valid bytes at data
    uint8_t atEnd = 0;        // a read or skip reached the end
    uint8_t ownsData = 0;     // data is a heap block freed by this buffer
    uint8_t failed = 0;       // an append could not obtain memory (latched)
    uint32_t capacity = 0;    // bytes allocated at data when ownsData is set

    // Frees owned bytes; a view is left pointing nowhere. Other fields stay.
    void Release();
    // Frees owned bytes and returns the buffer to its fresh, all-zero state.
    void Reset();

    // Writes n bytes at the cursor, growing the data when they pass its end;
    // a view is first given a private copy. Returns n, or 0 with `failed` set
    // when memory could not be obtained (the buffer is then unchanged).
    uint32_t Append(const void* source, uint32_t n);
    // Makes room for n bytes at the cursor as Append does and returns where
    // they go, for the caller to fill at once; null for n = 0, and null with
    // `failed` set when memory could not be obtained.
    uint8_t* Extend(uint32_t n);
    uint32_t AppendU16(uint16_t value);
    uint32_t AppendU32(uint32_t value);
    // Makes room for `total` bytes without changing length or cursor.
    bool Reserve(uint32_t total);

    // Zero-fills n destination bytes, then copies what remains of them.
    // Returns the number of bytes copied; sets atEnd when the end is reached.
    uint32_t Read(void* destination, uint32_t n);
    uint32_t ReadU32();
    uint16_t ReadU16();
    uint8_t ReadU8();
    // Moves the cursor forward, stopping at the end. Returns the new cursor.
    uint32_t Skip(uint32_t n);

    // Replaces a view by an owned copy of its bytes. False when out of memory.
    bool TakeOwnership();

    // Reads a whole file into an owned block. Returns the new length (an empty
    // file loads as one zero byte, length 1), or 0 when the path is not a
    // regular file once links are followed (nothing is read then), or the
    // file cannot be opened, read completely, or held (4 GiB or more; 4 GiB
    // - 1 bytes is the most a buffer holds).
    uint32_t LoadFile(const char* path);
    // Writes all bytes to an open stream in 1024-byte pieces. Returns the
    // length, or 0 when a write failed.
    uint32_t WriteToStream(std::FILE* file);
    // Replaces the file at path with the bytes, never leaving a partly written
    // target. Returns the length, or 0 when the file could not be written (an
    // empty buffer still leaves an empty file and returns 0).
    uint32_t SaveFile(const char* path) const;

    uint32_t Remaining() const { return length - cursor; }
    void Rewind() {
        cursor = 0;
        atEnd = 0;
    }
    // A non-owning view of length bytes at data.
    static ByteBuffer View(uint8_t* bytes, uint32_t count);
};

// One chunk of the model stream: the 12-byte header and its payload. A chunk
// read from a buffer views the parent's bytes; a chunk the program builds
// owns its payload once something has been appended.
struct Chunk {
    uint32_t type = 0;
    uint32_t size = 0;  // declared payload size, as in the header
    uint16_t stampLow = kDefaultStampLow;
    uint16_t stampHigh = kDefaultStampHigh;
    ByteBuffer payload;

    void Init();
    void Release();
    uint32_t Stamp() const { return (static_cast<uint32_t>(stampHigh) << 16) | stampLow; }
    // True when the payload holds every byte that the header declares.
    bool IsComplete() const { return payload.length >= size; }

    // Appends child's header (as the record holds it) and all of its payload
    // to the end of parent's payload and grows parent's size by 12 plus the
    // payload length. Returns 1; 0 when an argument is missing, the sizes
    // would overflow or memory ran out (parent then unchanged).
    static int AppendChild(Chunk* parent, const Chunk* child);
};

// Reads one chunk header at the buffer's cursor and returns a record whose
// payload views the bytes that follow, bounded by what the buffer holds (the
// record's size keeps the declared value). Skips the buffer past the declared
// payload. Returns null at the end of the buffer, or when the record cannot be
// allocated (then *outOfMemory is set when given).
Chunk* ReadChunk(ByteBuffer& buffer, bool* outOfMemory = nullptr);

// Releases and deletes a chunk record and clears the pointer. Null is fine.
void DestroyChunk(Chunk*& chunk);

// Appends a chunk's 12 header bytes to a buffer.
uint32_t AppendChunkHeader(ByteBuffer& out, uint32_t type, uint32_t size, uint16_t stampLow,
                           uint16_t stampHigh);

// A growable array of owned object pointers; a null slot is empty. The array
// never destroys the objects: the owner releases them and then resizes to 0.
// Slots are filled only through Add, so a scan for an empty slot can resume
// where the last one ended.
template <typename T>
struct PointerArray {
    T** items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    uint32_t firstFree = 0;  // no empty slot below this index

    // Sets the slot count to n: new slots are empty, dropped slots are not
    // destroyed. False when the slots could not be allocated (array unchanged).
    bool Resize(uint32_t n) {
        if (n == 0) {
            std::free(items);
            items = nullptr;
            count = capacity = firstFree = 0;
            return true;
        }
        if (n > capacity) {
            uint32_t grown = capacity < 8 ? 8 : capacity;
            while (grown < n)
                grown = grown > UINT32_MAX / 2 ? n : grown * 2;
            if (grown > SIZE_MAX / sizeof(T*))
                return false;
            void* block = std::realloc(items, static_cast<size_t>(grown) * sizeof(T*));
            if (block == nullptr)
                return false;
            items = static_cast<T**>(block);
            capacity = grown;
        }
        for (uint32_t i = count; i < n; ++i)
            items[i] = nullptr;
        if (n < count && firstFree > n)
            firstFree = n;
        if (n > count && firstFree > count)
            firstFree = count;
        count = n;
        return true;
    }

    // Stores p in the first empty slot, growing by one slot when there is
    // none. Returns the slot index, or -1 when the array could not grow.
    int32_t Add(T* p) {
        for (uint32_t i = firstFree; i < count; ++i) {
            if (items[i] == nullptr) {
                items[i] = p;
                firstFree = i + 1;
                return static_cast<int32_t>(i);
            }
        }
        firstFree = count;
        if (count == UINT32_MAX || !Resize(count + 1))
            return -1;
        items[count - 1] = p;
        firstFree = count;
        return static_cast<int32_t>(count - 1);
    }

    // Empties slot i without destroying its object; a later Add may reuse it.
    void Clear(uint32_t i) {
        if (i >= count)
            return;
        items[i] = nullptr;
        if (i < firstFree)
            firstFree = i;
    }

    T* At(uint32_t i) const { return i < count ? items[i] : nullptr; }
};

}  // namespace brennix
