// Writing a model read by the whole-model reader back as a file, with its
// Geometry List or its clump Extension replaced. Everything else is written
// as read and in its place: a leading UV Animation Dictionary, every clump
// child in file order (lights, cameras and every atomic included), bytes
// left in the clump after its last child, and whatever follows the clump.
//
// These functions never throw and never print; a false result comes with a
// reason in words, and `out` is then empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dff/WholeModel.h"

namespace brennix {

// The file with every geometry of the Geometry List rebuilt from its record
// by Geometry::WriteChunk (the Struct afresh, the Material List as read, the
// Extension as read or with a fresh Night Colours entry last), in list
// order, under a list Struct that counts them. The list and its chunks take
// the system's own stamp, like the rebuild of a one-geometry model; other
// chunks the list held are left out. A geometry whose night colours are set
// gets its extensionChunk replaced, as WriteChunk does.
// False when a geometry was not read whole, the model has no Geometry List,
// a chunk to be written is cut short in the file, or the file would pass
// 4 GiB.
bool WriteModelWithGeometries(WholeModel& model, std::vector<uint8_t>* out, std::string* why);

// The file with the clump Extension's payload replaced by `entries`. An
// Extension that stood after the clump is moved into it, and a clump that
// had none gains one after its last child; the clump's size counts it. The
// Extension keeps its stamp; a new one takes the system's own.
bool WriteModelWithExtension(const WholeModel& model, const uint8_t* entries, size_t length,
                             std::vector<uint8_t>* out, std::string* why);

// The first collision entry of the clump Extension, of either type, in any
// position; null when there is none.
const ChunkPlace* FirstCollisionEntry(const WholeModel& model);

// The payload of a new clump Extension: the entries of the current one as
// read, without the collision entries of both types when `removeCollisions`
// is set, then a new entry of `entryType` (stamped with the system's own
// stamp) holding the collision file's bytes unchanged. False when the current
// entries do not fill their Extension exactly (a new entry after them would
// be read as part of one), or an entry is cut short.
bool BuildAttachedExtension(const WholeModel& model, bool removeCollisions, uint32_t entryType,
                            const uint8_t* col, size_t colLength, std::vector<uint8_t>* entries,
                            std::string* why);

// Whether a written model, read back as `after`, reads at least as well as
// the model it was made from: it holds a clump, and each of its problems
// (step, code and detail) was a problem of `before` too.
bool ReadsBackAsWell(const WholeModel& before, const WholeModel& after, std::string* why);

// Whether geometry `index` of a written model, read back, holds `night` as
// its night colours and, when `day` is given, `day` as its day colours, one
// RGBA record per vertex each (vertexCount records).
bool ColoursReadBack(const WholeModel& written, size_t index, const uint8_t* day,
                     const uint8_t* night, int32_t vertexCount);

}  // namespace brennix
