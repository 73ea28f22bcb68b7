#include <new>

#include "stream/Endian.h"
#include "stream/Stream.h"

namespace brennix {

void Chunk::Init() {
    type = 0;
    size = 0;
    stampLow = kDefaultStampLow;
    stampHigh = kDefaultStampHigh;
    payload = ByteBuffer();
}

void Chunk::Release() {
    payload.Release();
}

void DestroyChunk(Chunk*& chunk) {
    if (chunk == nullptr)
        return;
    chunk->Release();
    delete chunk;
    chunk = nullptr;
}

uint32_t AppendChunkHeader(ByteBuffer& out, uint32_t type, uint32_t size, uint16_t stampLow,
                           uint16_t stampHigh) {
    uint8_t header[kChunkHeaderSize];
    StoreU32(header, type);
    StoreU32(header + 4, size);
    StoreU16(header + 8, stampLow);
    StoreU16(header + 10, stampHigh);
    return out.Append(header, kChunkHeaderSize);
}

Chunk* ReadChunk(ByteBuffer& buffer, bool* outOfMemory) {
    if (buffer.length == 0 || buffer.atEnd)
        return nullptr;
    Chunk* chunk = new (std::nothrow) Chunk();
    if (chunk == nullptr) {
        if (outOfMemory != nullptr)
            *outOfMemory = true;
        return nullptr;
    }
    chunk->type = buffer.ReadU32();
    chunk->size = buffer.ReadU32();
    chunk->stampLow = buffer.ReadU16();
    chunk->stampHigh = buffer.ReadU16();
    // The view never reaches past the parent's bytes, whatever the header
    // claims; size keeps the declared value.
    uint32_t available = buffer.length - buffer.cursor;
    uint32_t viewLength = chunk->size < available ? chunk->size : available;
    chunk->payload = ByteBuffer::View(buffer.data + buffer.cursor, viewLength);
    buffer.Skip(chunk->size);
    return chunk;
}

int Chunk::AppendChild(Chunk* parent, const Chunk* child) {
    if (parent == nullptr || child == nullptr)
        return 0;
    uint32_t childLength = child->payload.length;
    uint64_t grownSize = static_cast<uint64_t>(parent->size) + kChunkHeaderSize + childLength;
    uint64_t grownLength =
        static_cast<uint64_t>(parent->payload.length) + kChunkHeaderSize + childLength;
    if (grownSize > UINT32_MAX || grownLength > UINT32_MAX)
        return 0;
    // Reserve first so that the append cannot stop half way.
    if (!parent->payload.Reserve(static_cast<uint32_t>(grownLength)))
        return 0;
    parent->payload.cursor = parent->payload.length;
    AppendChunkHeader(parent->payload, child->type, child->size, child->stampLow, child->stampHigh);
    if (childLength > 0)
        parent->payload.Append(child->payload.data, childLength);
    parent->size = static_cast<uint32_t>(grownSize);
    return 1;
}

}  // namespace brennix
