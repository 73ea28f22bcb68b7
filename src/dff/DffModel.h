// One loaded model file: the whole file in memory, the clump and its kept
// children, the parsed frames and geometries, and the first error latched.
//
// Ownership: the model owns fileBuffer, every chunk record and every geometry.
// Chunk payloads read from the file view fileBuffer, which is freed last, and
// so do the geometries' arrays that a job has not changed (unless copyArrays).
#pragma once

#include <cstdint>

#include "dff/ErrorCode.h"
#include "dff/Geometry.h"
#include "stream/Stream.h"

namespace brennix {

constexpr uint32_t kTypeFrameList = 0x0E;
constexpr uint32_t kTypeClump = 0x10;
constexpr uint32_t kTypeAtomic = 0x14;
constexpr uint32_t kTypeGeometryList = 0x1A;
constexpr uint32_t kTypeUvAnimDictionary = 0x2B;
constexpr uint32_t kTypeFrameName = 0x253F2FE;
constexpr uint32_t kTypeCollision = 0x253F2FF;
constexpr uint32_t kMaxFrames = 256;

// A frame record of the Frame List, kept as the 56 bytes of the file.
struct FrameRecord {
    uint8_t bytes[56];
};

struct DffModel {
    uint32_t errorCode;
    uint32_t errorDetail;
    uint8_t copyArrays;  // geometries copy their arrays instead of viewing fileBuffer
    ByteBuffer fileBuffer;
    uint8_t hasCollision;
    PointerArray<Geometry> geometries;
    Chunk* uvAnimDictionary;  // a leading dictionary, written back before the clump
    Chunk* clump;
    Chunk* clumpStruct;
    Chunk* frameList;
    Chunk* geometryList;
    Chunk* atomic;
    Chunk* clumpExtension;
    FrameRecord* frames;
    uint32_t frameCount;
    // Whatever follows the clump in the file (a view of fileBuffer), written
    // back after it: more clumps, or an Extension left outside the clump's
    // declared size with its padding.
    ByteBuffer trailing;

    void Init();
    // Frees everything; safe after Init alone and after any failed step.
    void Release();

    // 1 = loaded; 0 = not a usable clump (errorCode set); -1 = the file could
    // not be opened or read.
    int32_t Load(const char* path);
    // Called by Load: keeps the first Struct, Frame List, Geometry List,
    // Atomic and Extension of the clump. 0 on a second Frame List, Geometry
    // List or Atomic (code latched), or when memory ran out.
    int32_t SortClumpChildren(Chunk* clumpChunk);
    // Writes the clump in the fixed child order, between a leading dictionary
    // and the bytes that followed the clump, both as loaded. The clump Struct
    // is written with 4 bytes (the atomic count) when it was loaded with 4,
    // else with 12. Returns the bytes written; 0 when there is no clump
    // Struct, a kept chunk (the Struct included) is cut short in the file,
    // memory ran out or the file could not be written (nothing written then).
    int32_t Save(const char* path);
    // Builds the bytes that Save writes. False when Save would write nothing.
    bool BuildFile(ByteBuffer& out);
    // Appends the COL3 file at path as a Collision entry of the clump's
    // Extension. 1 = attached; -1 = no clump or no clump Extension; -2 = the
    // file could not be read or held in memory, is empty or is no collision
    // file (LooksLikeColFile), or the Extension's entries, walked by their
    // declared sizes, do not end within its bytes (the new entry would be
    // read as part of one of them). Unchanged on failure.
    int32_t AttachCollisionFile(const char* path);

    // 1 = read; 0 = no Frame List, or a failure with errorCode set.
    int32_t ReadFrameList();
    // 1 when the frame Extension's entries are acceptable, 0 otherwise.
    int32_t CheckFrameExtension(Chunk& extension);

    // 1 = read (at most one Geometry added, possibly none); 0 = failure with
    // errorCode set, or no Geometry List (no code then).
    int32_t ReadGeometryList();
    // Replaces geometryList by one rebuilt from the changed first geometry.
    // False when there is nothing to write, when the geometry's new Extension
    // would not read back whole with its night colours, or when memory ran
    // out (model unchanged).
    bool RebuildGeometryList();
    // Writes the file that RebuildGeometryList followed by Save would write,
    // without building the rebuilt list in memory: its large parts are
    // written straight from the geometry's arrays and the file's bytes.
    // -1 = the list could not be rebuilt (as RebuildGeometryList's false);
    // otherwise Save's result. geometryList may be replaced.
    int32_t SaveWithRebuiltGeometry(const char* path);

    // Slot 0 of geometries, or null.
    Geometry* FirstGeometry() const { return geometries.At(0); }
};

}  // namespace brennix
