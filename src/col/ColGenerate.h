// Collision for a whole model: every atomic of the clump, placed by its
// frames, as one standard COL3 model with tight bounds.
//
// This is separate from the classic generators of ColModel.h, which take a
// model's first geometry as stored and write the classic file layout.
//
// Nothing here prints or keeps state; every function may be called from
// several threads at once on different models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "col/ColFile.h"
#include "col/ColModel.h"
#include "dff/WholeModel.h"

namespace brennix {

enum class ColShape {
    kMesh,   // every triangle of the chosen atomics
    kBox,    // one box equal to the bounds
    kEmpty,  // the bounds only
};

// A material whose first texture name matches `pattern` (GlobMatch) gets
// surface `surface`.
struct SurfaceRule {
    std::string pattern;
    uint8_t surface = 0;
};

enum class FaceGroups {
    kOff,
    kOn,
    kAuto,  // when there are more than kFaceGroupThreshold faces
};

constexpr double kDefaultMaxError = 0.05;
constexpr uint32_t kFaceGroupThreshold = 80;

// What to make of a model. The defaults are the command's defaults.
struct ColRequest {
    Placement placement = Placement::kAuto;
    ColShape shape = ColShape::kMesh;
    // Merge vertices that quantise to the same 1/128 point and drop the
    // triangles that are left with a repeated vertex.
    bool weld = true;
    // Atomics whose frame name matches one of these globs are left out.
    std::vector<std::string> skip;
    // The surface of a material that no rule matches.
    uint8_t surface = 0;
    // Tried in order; the first match wins.
    std::vector<SurfaceRule> surfaces;
    // Mesh only: order the faces in groups of at most kMaxFacesPerGroup.
    FaceGroups faceGroups = FaceGroups::kAuto;
    // Mesh only: how far, in model units, the collision may depart from the
    // placed triangles, measured both ways (on top of the 1/128 steps). 0
    // keeps every triangle.
    double maxError = kDefaultMaxError;
    // Mesh only: at most this many faces (0: no limit but the file's), even
    // when that takes the collision past maxError.
    uint32_t maxFaces = 0;
    // Mesh only, for GenerateColEntry: coordinates need not lie in
    // -256 .. 255.99, only in -8388608 .. 8388607.99 (what 1/128 steps in
    // 32 bits hold), for an entry written as version 1, which stores floats.
    // GenerateCol keeps the COL3 limit.
    bool wideRange = false;
};

// What the generator did with a mesh, for the summary and the report.
struct ColStats {
    uint64_t triangles = 0;    // triangles of the chosen atomics, as stored
    uint32_t faces = 0;        // faces written
    uint32_t vertices = 0;     // vertices written
    double maxDistance = 0;    // largest distance measured between the two, model units
    bool beyondBound = false;  // maxDistance exceeds maxError (face limits forced it)
};

constexpr uint32_t kMaxColFaces = 65535;
constexpr uint32_t kMaxColVertices = 65535;
constexpr uint32_t kMaxFacesPerGroup = 50;
// Longest model name a standard COL3 header holds (plus its terminator).
constexpr size_t kMaxColNameLength = 21;

// Fills `col` (freshly constructed) with the collision of the model's atomics
// as the request says: the shape, the bounding box and sphere (centre and
// radius), and the surfaces. False with `why` set when the model cannot be
// described: no clump or no atomic, an atomic that cannot be read or placed,
// no vertex left, a coordinate that is not finite or (mesh) outside
// -256 .. 255.99, a triangle naming a vertex its geometry lacks, or more
// than 65535 faces or vertices, or (mesh) no face at all. A triangle list
// that names a missing vertex gives way to a sound Bin Mesh, which `notes`
// (when given) then tells of. `col` is then left released. Never throws.
bool GenerateCol(const WholeModel& model, const ColRequest& request, ColModel* col,
                 std::string* why, std::vector<std::string>* notes = nullptr,
                 ColStats* stats = nullptr);

// The standard COL3 file bytes of a model in memory: GenerateCol and then
// ColModel::BuildFile with the standard convention. `modelName` is written
// as the model's name; a name longer than kMaxColNameLength bytes is cut and
// the cut is described in `notes` (when given). False with `why` set when the
// model cannot be described (see GenerateCol) or memory ran out; `out` is
// then empty (reset). Never throws. The buffer is the caller's to Release.
bool GenerateColBytes(const WholeModel& model, const ColRequest& request,
                      const std::string& modelName, ByteBuffer* out, std::string* why,
                      std::vector<std::string>* notes = nullptr, ColStats* stats = nullptr);
// The same bytes as a vector: one more copy of the image.
bool GenerateColBytes(const WholeModel& model, const ColRequest& request,
                      const std::string& modelName, std::vector<uint8_t>* out, std::string* why,
                      std::vector<std::string>* notes = nullptr, ColStats* stats = nullptr);

// The same collision as a file entry with float vertices, as reading the
// COL3 file of GenerateColBytes gives it (version 3, the later family's
// surfaces, named `modelName` cut as there), for writing in any version.
// With request.wideRange the coordinates need not fit COL3. No face groups
// are made. False with `why` set as GenerateCol; `entry` is then empty.
bool GenerateColEntry(const WholeModel& model, const ColRequest& request,
                      const std::string& modelName, ColEntry* entry, std::string* why,
                      std::vector<std::string>* notes = nullptr, ColStats* stats = nullptr);

// Whether `text` matches `pattern`: '*' any run of characters, '?' any one
// character, every other character itself without regard to ASCII case.
bool GlobMatch(const std::string& pattern, const std::string& text);

// Reads surface rules, one a line: "PATTERN = ID" with ID 0..255. Text from
// '#' to the end of a line is a comment; blank lines are skipped. False with
// `why` naming the line ("line 3: ...") at the first malformed line.
bool ParseSurfaceRules(const std::string& text, std::vector<SurfaceRule>* out, std::string* why);

}  // namespace brennix
