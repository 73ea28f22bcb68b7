// COL files of every version: the entries of a file or archive read into one
// collision model, checked, and written again as version 1, 2 or 3.
//
// A COL file is a run of entries, each "COLL", "COL2", "COL3" or "COL4", a
// 32-bit size (the entry's length less 8), a 22-byte name, a 16-bit model id
// and the version's own header and sections.
//
// Nothing here prints or keeps state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brennix {

struct ColFileSurface {
    uint8_t material = 0;
    uint8_t flag = 0;
    uint8_t brightness = 0;
    uint8_t light = 0;
};

struct ColFileSphere {
    float centre[3] = {0, 0, 0};
    float radius = 0;
    ColFileSurface surface;
};

struct ColFileBox {
    float min[3] = {0, 0, 0};
    float max[3] = {0, 0, 0};
    ColFileSurface surface;
};

struct ColFileLine {
    float start[3] = {0, 0, 0};
    float end[3] = {0, 0, 0};
};

// Version 1 stores a whole surface with each face; versions 2 and later a
// material and a light byte (flag and brightness are then 0).
struct ColFileFace {
    uint32_t a = 0, b = 0, c = 0;
    ColFileSurface surface;
};

struct ColFileFaceGroup {
    float min[3] = {0, 0, 0};
    float max[3] = {0, 0, 0};
    uint16_t first = 0, last = 0;  // face range, both included
};

using ColFilePoint = std::array<float, 3>;

// One entry, whatever its version. Vertices are in model units: versions 2
// and later store them in 1/128 steps, which a float holds exactly.
struct ColEntry {
    int version = 3;             // 1 ("COLL") to 4
    uint8_t nameBytes[22] = {};  // as stored
    std::string name;            // up to the first zero byte
    bool nameTerminated = true;  // a zero byte within the 22
    uint16_t modelId = 0xFFFF;
    float boundsMin[3] = {0, 0, 0};
    float boundsMax[3] = {0, 0, 0};
    float centre[3] = {0, 0, 0};
    float radius = 0;
    uint32_t flags = 0;  // versions 2 and later, as stored
    std::vector<ColFileSphere> spheres;
    std::vector<ColFileBox> boxes;
    std::vector<ColFileLine> lines;
    std::vector<ColFilePoint> vertices;
    std::vector<ColFileFace> faces;
    std::vector<ColFileFaceGroup> faceGroups;
    std::vector<ColFilePoint> shadowVertices;  // version 3 and later
    std::vector<ColFileFace> shadowFaces;
    uint32_t version4Field = 0;  // the field version 4 adds

    // Where the entry lies in the file it was read from: its first byte and
    // its length (size field + 8).
    size_t offset = 0;
    size_t length = 0;
};

// A problem found while reading: the entry it concerns (its number in the
// file, from 0; for the file as a whole the number of entries walked, which
// is entries.size() when every entry was read whole) and what it is, one
// line that names the entry as `entry N "name": ` with N counted from 1.
struct ColFileProblem {
    size_t entry = 0;
    std::string message;
};

struct ColFile {
    std::vector<ColEntry> entries;  // every entry read whole, in file order
    std::vector<ColFileProblem> errors;
    std::vector<ColFileProblem> warnings;
};

// Reads every entry of a COL file or archive, each read bounded by the
// entry and the buffer. Errors: a size field that does not match the walk
// of the sections, a section outside its entry, a face naming a vertex the
// entry does not hold, an archive that does not end on an entry (trailing
// bytes that are not an entry). Warnings: bounds that do not enclose the
// entry's primitives, flags that disagree with the contents (flag 2 with
// nothing in it, face groups without flag 8), version-1 vertices outside
// what versions 2 and 3 can hold (-256 .. 255.99), names without a
// terminator, and a last entry whose size field counts 4 bytes past the
// file (the size taken from the end of the tag, as older tools wrote it;
// the entry is read to the end of the file). Returns false when the file holds no entry at all or
// any error was found; `out` then still holds what could be read. Never throws.
//
// How the walk goes:
// - Each entry's size field places the next entry. A size that runs past the
//   end of the file ends the walk with an error; so do bytes after the last
//   entry that do not start with a known tag and a size.
// - An entry with an error is left out of `entries` (one error per entry,
//   the first found); when its size field is sound the walk goes on to the
//   next entry. Warnings are given only for entries read whole.
// - Version 1 has no offsets: its sections must end exactly where the size
//   field says the entry ends.
// - Versions 2 to 4: every section must lie wholly inside the entry, after
//   its header; sections may come in any order. The vertex count is one more
//   than the largest index the faces name, and those vertices must fit
//   between the vertex offset and the next section (or the entry's end); the
//   same for the shadow mesh. Without faces no vertex is read.
// - Face groups are read when flag 8 is set and there are faces; the shadow
//   mesh (version 3 and later) when flag 16 is set and its face count is not
//   0. Where the flag and the contents disagree, a warning says so and the
//   flag decides.
// - Version 4 is read as version 3 with its one extra field.
bool ReadColFile(const uint8_t* data, size_t length, ColFile* out);

// The bytes of one entry in the standard layout of `version` (1, 2 or 3):
// size field = length - 8, sections in the usual order, flag 2 when a
// sphere, box or face is written, flag 8 with face groups, flag 16 with a
// shadow mesh. False with `why` when the version cannot hold the entry:
// a vertex outside -256 .. 255.99 for versions 2 and 3, more than 65535
// spheres, boxes, faces or shadow faces. What the version does not carry
// (shadow mesh below 3, face groups in 1) is simply not written; the caller
// says so. Never throws; false with "out of memory" when memory runs out.
//
// Layout for versions 2 and 3: header (108 or 120 bytes), spheres, boxes,
// lines, vertices (padded to 4 bytes), face groups and their count, faces,
// then shadow vertices (padded) and shadow faces. Vertices are rounded to
// the nearest 1/128 and written only as far as the faces name them (a reader
// finds no more); face groups need faces to sit before. A face naming a
// vertex the entry does not hold, more than 255 lines and, in versions 2
// and 3, an index above 65535 are refused too. The name is written as read
// when `name` still matches `nameBytes`, else as `name` and zeros (at most
// 22 characters, no zero byte). Flags other than 2, 8 and 16 are kept.
bool WriteColEntry(const ColEntry& entry, int version, std::vector<uint8_t>* out, std::string* why);

// For checking what was written: whether `readBack`, read from the bytes
// WriteColEntry made of `written` in `version`, holds what that version
// carries of it. Name, model id, bounds, spheres, boxes and lines compare bit
// for bit; vertices in version 1 too, in versions 2 and 3 as rounded to 1/128
// and only as far as the faces name them; faces by their indices and the
// surface bytes the version stores; face groups in versions 2 and 3 when
// there are faces; the shadow mesh in version 3; flags other than 2, 8 and
// 16. False with the first difference in `difference` (may be null).
bool SameColRecords(const ColEntry& written, const ColEntry& readBack, int version,
                    std::string* difference);

}  // namespace brennix
