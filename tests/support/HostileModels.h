// Model files shaped to make a reader or a command do much work or hold much
// memory for few bytes: many records that each cost little to store but
// might each be reported, compared or copied. Each is a well-formed model
// (one frame, one geometry, one atomic that draws it) with one part
// repeated `count` times, so that tests can use small counts and benchmarks
// large ones, and the file grows linearly with the count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/ModelBuilder.h"

namespace brennix::test {

// Atomics that cannot be used, after one good one: in turn a Struct too
// short to name a frame and a geometry, a frame that does not exist, a
// geometry that does not exist. About 48 bytes each (200,000: 9.6 MB).
Bytes MakeBrokenAtomicsModel(size_t count);

// Empty Geometry chunks (a 12-byte header of type 0x0F, size 0) after the
// real geometry, in a Geometry List that declares them all (2,000,000:
// 24 MB).
Bytes MakeEmptyGeometriesModel(size_t count);

// Geometry chunks that hold only the header of a Struct declaring 64 bytes:
// 24 bytes each.
Bytes MakeCutGeometriesModel(size_t count);

// Entries of size 0 and an unknown type in the clump Extension, 12 bytes
// each.
Bytes MakeEmptyClumpEntriesModel(size_t count);

// Collision entries of size 0 in the clump Extension, 12 bytes each.
Bytes MakeEmptyCollisionEntriesModel(size_t count);

// Clump children of an unknown type and size 0 before the clump Extension,
// 12 bytes each.
Bytes MakeUnknownClumpChildrenModel(size_t count);

// Small geometries whose Material List declares 0x7FFFFFFF materials and
// holds none, about 140 bytes each; the one atomic draws a good geometry.
Bytes MakeHugeMaterialCountModel(size_t count);

// The geometry's Bin Mesh holds this many meshes of 0 indices (the reader
// takes fewer than 100,000), 8 bytes each.
Bytes MakeEmptyBinMeshesModel(size_t count);

// The most frames a Frame List may hold (255) in one parent chain, each
// named, and this many atomics on the deepest frame, all drawing the one
// geometry: placing each climbs the whole chain. 52 bytes an atomic.
Bytes MakeDeepFramesModel(size_t count);

// Night Colours entries for the geometry's five vertices, one after another
// in its Extension, 36 bytes each.
Bytes MakeNightColourEntriesModel(size_t count);

// Geometries of one triangle each at a place of their own, every one drawn
// by an atomic on the root frame, about 200 bytes each. Up to 21,845 of them
// make a collision within the format's 65,535 vertices.
Bytes MakeSmallGeometriesModel(size_t count);

// Every shape above by name, with a count for tests and one for benchmarks.
struct HostileShape {
    const char* name;  // a word for test and benchmark names: "broken_atomics"
    Bytes (*make)(size_t count);
    // For tests: a file of a few megabytes at most at 4 x the count, yet
    // large enough there that a record costing far more memory than its
    // bytes passes 8 x the file + 64 MiB.
    size_t testCount;
    size_t fullCount;   // the size of the benchmarks, 10 to 25 MB for most
    bool forBenchmark;  // one of the shapes the benchmarks run at full size
};
const std::vector<HostileShape>& HostileShapes();
const HostileShape* FindHostileShape(const std::string& name);

}  // namespace brennix::test
