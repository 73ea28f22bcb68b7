#include <cstdlib>

#include "dff/DffModel.h"

namespace brennix {

int32_t DffModel::ReadFrameList() {
    if (frameList == nullptr)
        return 0;
    ByteBuffer& payload = frameList->payload;
    payload.Rewind();

    uint32_t structType = payload.ReadU32();
    payload.Skip(8);  // size and stamp are not checked
    if (structType != kTypeStruct) {
        LatchError(*this, kErrorUnexpectedChunk, 1);
        return 0;
    }
    uint32_t count = payload.ReadU32();
    if (count >= kMaxFrames) {
        LatchError(*this, kErrorFrameCount, count);
        return 0;
    }
    std::free(frames);
    frames = nullptr;
    frameCount = 0;
    // At most 255 records of 56 bytes; calloc(0) may return null, so ask for
    // at least one record.
    frames = static_cast<FrameRecord*>(std::calloc(count > 0 ? count : 1, sizeof(FrameRecord)));
    if (frames == nullptr) {
        LatchError(*this, kErrorGeometryData);
        return 0;
    }
    frameCount = count;
    // Records that the payload does not reach stay zero.
    payload.Read(frames, count * static_cast<uint32_t>(sizeof(FrameRecord)));

    for (;;) {
        bool outOfMemory = false;
        Chunk* chunk = ReadChunk(payload, &outOfMemory);
        if (chunk == nullptr) {
            if (!outOfMemory)
                break;
            LatchError(*this, kErrorGeometryData);
            return 0;
        }
        bool accepted = true;
        if (chunk->type == kTypeExtension && chunk->size > 0) {
            accepted = CheckFrameExtension(*chunk) != 0;
        }
        DestroyChunk(chunk);
        if (!accepted) {
            LatchError(*this, kErrorFrameName);
            return 0;
        }
    }
    return 1;
}

int32_t DffModel::CheckFrameExtension(Chunk& extension) {
    ByteBuffer& entries = extension.payload;
    while (!entries.atEnd) {
        // A header cut short reads as zeros, and the read that reaches the
        // end sets atEnd, so the walk always ends.
        uint32_t type = entries.ReadU32();
        uint32_t size = entries.ReadU32();
        entries.ReadU32();
        if (type == kTypeFrameName && size >= 24)
            return 0;
        entries.Skip(size);
        if (entries.length == 0)
            break;
    }
    return 1;
}

}  // namespace brennix
