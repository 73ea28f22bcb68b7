#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"
#include "stream/Endian.h"
#include "stream/Stream.h"

namespace brennix {

void ByteBuffer::Release() {
    if (ownsData && data != nullptr) {
        std::free(data);
        data = nullptr;
        capacity = 0;
    }
}

void ByteBuffer::Reset() {
    Release();
    *this = ByteBuffer();
}

ByteBuffer ByteBuffer::View(uint8_t* bytes, uint32_t count) {
    ByteBuffer view;
    view.data = bytes;
    view.length = count;
    return view;
}

bool ByteBuffer::TakeOwnership() {
    uint8_t* block = nullptr;
    if (length > 0) {
        block = static_cast<uint8_t*>(std::malloc(length));
        if (block == nullptr)
            return false;
        std::memcpy(block, data, length);
    }
    // The old bytes belong to another buffer and are not freed.
    data = block;
    capacity = length;
    ownsData = 1;
    return true;
}

bool ByteBuffer::Reserve(uint32_t total) {
    if (!ownsData && data != nullptr && !TakeOwnership())
        return false;
    ownsData = 1;
    if (total <= capacity)
        return true;
    void* block = std::realloc(data, total);
    if (block == nullptr)
        return false;
    data = static_cast<uint8_t*>(block);
    capacity = total;
    return true;
}

uint8_t* ByteBuffer::Extend(uint32_t n) {
    if (n == 0)
        return nullptr;
    uint64_t end = static_cast<uint64_t>(cursor) + n;
    if (end > UINT32_MAX) {
        failed = 1;
        return nullptr;
    }
    // A view is never written through: it gets a private copy first.
    if (!ownsData && data != nullptr && !TakeOwnership()) {
        failed = 1;
        return nullptr;
    }
    if (end > capacity) {
        // Grow geometrically so that a buffer built by many appends costs
        // linear time; the length still grows by exact need.
        uint64_t grown = static_cast<uint64_t>(capacity) + capacity / 2;
        if (grown < end)
            grown = end;
        if (grown > UINT32_MAX)
            grown = UINT32_MAX;
        if (!Reserve(static_cast<uint32_t>(grown)) && !Reserve(static_cast<uint32_t>(end))) {
            failed = 1;
            return nullptr;
        }
    }
    ownsData = 1;
    uint8_t* room = data + cursor;
    cursor = static_cast<uint32_t>(end);
    if (cursor > length)
        length = cursor;
    return room;
}

uint32_t ByteBuffer::Append(const void* source, uint32_t n) {
    uint8_t* room = Extend(n);
    if (room == nullptr)
        return 0;
    std::memcpy(room, source, n);
    return n;
}

uint32_t ByteBuffer::AppendU16(uint16_t value) {
    uint8_t bytes[2];
    StoreU16(bytes, value);
    return Append(bytes, 2);
}

uint32_t ByteBuffer::AppendU32(uint32_t value) {
    uint8_t bytes[4];
    StoreU32(bytes, value);
    return Append(bytes, 4);
}

uint32_t ByteBuffer::Read(void* destination, uint32_t n) {
    if (n > 0)
        std::memset(destination, 0, n);
    uint32_t k = n;
    if (k > length - cursor)
        k = length - cursor;
    if (k == 0)
        return 0;
    std::memcpy(destination, data + cursor, k);
    cursor += k;
    if (cursor >= length) {
        cursor = length;
        atEnd = 1;
    }
    return k;
}

uint32_t ByteBuffer::ReadU32() {
    uint8_t bytes[4];
    Read(bytes, 4);
    return LoadU32(bytes);
}

uint16_t ByteBuffer::ReadU16() {
    uint8_t bytes[2];
    Read(bytes, 2);
    return LoadU16(bytes);
}

uint8_t ByteBuffer::ReadU8() {
    uint8_t byte;
    Read(&byte, 1);
    return byte;
}

uint32_t ByteBuffer::Skip(uint32_t n) {
    if (n >= length - cursor) {
        cursor = length;
        atEnd = 1;
        return length;
    }
    cursor += n;
    return cursor;
}

uint32_t ByteBuffer::LoadFile(const char* path) {
    cursor = 0;
    if (ownsData && data != nullptr)
        std::free(data);
    data = nullptr;
    length = 0;
    capacity = 0;
    ownsData = 0;
    atEnd = 0;
    failed = 0;

    // Only a regular file is read: a FIFO could keep the load waiting, a
    // device could feed it for ever.
    uint64_t expected = 0;
    std::FILE* file = platform::OpenRegularFile(path, &expected);
    if (file == nullptr)
        return 0;
    // The size is learnt first so that the whole file takes one allocation;
    // a file that grows while it is read still loads completely. The length
    // is 32 bits, so 4 GiB - 1 bytes is the most a buffer holds.
    if (expected > UINT32_MAX) {
        std::fclose(file);
        return 0;
    }
    // The first piece overwrites the initial byte, which stays 0 for an
    // empty file.
    uint8_t zero = 0;
    if (!Reserve(expected > 0 ? static_cast<uint32_t>(expected) : 1) || Append(&zero, 1) != 1) {
        std::fclose(file);
        Reset();
        return 0;
    }
    platform::AdviseLargePages(data, capacity);
    cursor = 0;
    bool ok = true;
    if (expected > 0) {
        size_t got = std::fread(data, 1, static_cast<size_t>(expected), file);
        cursor = static_cast<uint32_t>(got);
        if (cursor > length)
            length = cursor;
        if (got < expected && std::ferror(file))
            ok = false;
    }
    uint8_t piece[2048];
    while (ok && !std::feof(file)) {
        size_t got = std::fread(piece, 1, sizeof piece, file);
        if (got > 0 && Append(piece, static_cast<uint32_t>(got)) != got)
            ok = false;
        if (std::ferror(file))
            ok = false;
    }
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok) {
        Reset();
        return 0;
    }
    cursor = 0;
    atEnd = 0;
    return length;
}

uint32_t ByteBuffer::WriteToStream(std::FILE* file) {
    uint32_t i = 0;
    while (i < length) {
        uint32_t piece = length - i > 1024 ? 1024 : length - i;
        if (std::fwrite(data + i, 1, piece, file) != piece)
            return 0;
        i += piece;
    }
    return length;
}

uint32_t ByteBuffer::SaveFile(const char* path) const {
    platform::Segment whole = {data, length};
    if (!platform::ReplaceFile(path, &whole, 1))
        return 0;
    return length;
}

}  // namespace brennix
