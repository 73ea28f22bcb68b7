// A picture of a model and its collision as one SVG document: four views
// (top, front, side and one from above at an angle) at one scale, each with
// a scale bar, the model's triangles in shaded grey drawn back to front, the
// collision over them coloured by surface group, and a legend.
//
// The document stays within a byte bound whatever the model: the model's
// triangles (and, past that, the collision's faces) are reduced for drawing
// until it fits, and the legend says so.
//
// Nothing here prints or keeps state; pictures of different models may be
// drawn on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "col/ColFile.h"
#include "dff/WholeModel.h"

namespace brennix::view {

// A triangle mesh in model space: three floats a vertex, three indices a
// triangle. Indices at or past the vertex count are skipped when drawn.
struct Mesh {
    std::vector<float> positions;
    std::vector<uint32_t> indices;

    size_t VertexCount() const { return positions.size() / 3; }
    size_t TriangleCount() const { return indices.size() / 3; }
};

// What one picture shows.
struct PictureInput {
    std::string name;  // the model's name, any bytes
    Mesh model;
    // The collision drawn, or null for none; `noCollisionReason` then says
    // why (empty: none was asked for).
    const ColEntry* collision = nullptr;
    std::string noCollisionReason;
    std::string collisionSource;  // where the collision came from, in words
    // The largest distance measured between the collision and the model,
    // when the collision was generated.
    bool hasMaxDistance = false;
    double maxDistance = 0;
    // The model's problems and warnings, one line each, and how many there
    // were in all (more than the lines when some were counted only).
    std::vector<std::string> warnings;
    size_t warningCount = 0;
};

struct PictureOptions {
    // At most this many model triangles are drawn (0: no limit but the
    // byte bound); a model with more is drawn simplified.
    size_t maxModelTriangles = 0;
    // The document's size bound.
    size_t maxBytes = 2000000;
    // Legend lines of warnings; more are counted.
    size_t maxWarningLines = 5;
};

// What was drawn.
struct PictureStats {
    size_t modelTriangles = 0;  // the model's, as given
    size_t drawnModelTriangles = 0;
    size_t collisionFaces = 0;
    size_t drawnCollisionFaces = 0;
    size_t spheres = 0;
    size_t boxes = 0;
    size_t bytes = 0;
};

// The SVG document of the picture, within options.maxBytes (when the
// legend's own text fits in it). Throws std::bad_alloc when memory runs out.
std::string DrawPicture(const PictureInput& input, const PictureOptions& options,
                        PictureStats* stats = nullptr);

// The legend's lines as drawn, one a line: counts, the collision's source or
// why there is none, the largest distance, the reduction, the warnings.
std::vector<std::string> LegendLines(const PictureInput& input, const PictureStats& stats,
                                     const PictureOptions& options);

// The surface group's colour, "#RRGGBB", for a surface id of a COL version;
// a fixed colour for an id the table does not know.
const char* SurfaceColour(int version, uint8_t surface);

// The background of the views and the picture, "#RRGGBB".
extern const char* const kBackgroundColour;

// Reduces a mesh to at most `targetTriangles` triangles for drawing: edges
// collapsed down to the target, then grid clustering where that does not
// reach it, and every k-th triangle of what is left as the last resort. The
// mesh as it is when it has no more than that.
Mesh ReduceMesh(const Mesh& mesh, size_t targetTriangles);

// The collision faces `faces` of `col` (sound ones, by index) reduced as
// ReduceMesh reduces a mesh, one surface colour at a time, to about
// `targetFaces` in all: an entry holding `col`'s vertices and the faces
// drawn, each with the surface of a face of its colour.
ColEntry ReduceCollisionFaces(const ColEntry& col, const std::vector<uint32_t>& faces,
                              size_t targetFaces);

// The model's triangles as the game draws them: every atomic's, placed as
// `placement` says (PlaceAtomic), from its triangle list or, where that
// names a missing vertex, its Bin Mesh. An atomic that cannot be placed or
// whose triangles cannot be read is left out: `skipped` (when given) says
// why, one line each for the first kMaxKeptProblems of them, and
// `skippedCount` (when given) counts them all. Throws std::bad_alloc when
// memory runs out.
Mesh GatherModelMesh(const WholeModel& model, Placement placement,
                     std::vector<std::string>* skipped = nullptr, size_t* skippedCount = nullptr);

}  // namespace brennix::view
