// Models of varied shapes for the collision benchmarks and the distance
// measurement: finely tessellated boxes, terrain grids with relief, cylinders
// and spheres, thin plates, open surfaces, and assemblies of several atomics
// on frames; most with several materials. The same seed gives the same models
// on every run and platform (the random numbers and their conversion to
// floats are our own, not the standard library's distributions).
//
// Every model fits what the col command can write without simplifying: at
// most 65535 faces and vertices after welding, every placed coordinate well
// inside -256 .. 255.99.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/ModelBuilder.h"

namespace brennix::bench {

struct ShapeModel {
    std::string name;  // file name without ".dff", plain: "v017terrain"
    std::string kind;  // "box", "terrain", "cylinder", "sphere", "plate", "sheet", "assembly"
    test::ClumpSpec plan;
    uint32_t triangles = 0;  // as stored, every atomic together
};

// `count` models, kinds taken in turn, sizes and detail drawn from `seed`.
std::vector<ShapeModel> MakeVariedModels(int count, uint32_t seed);

// Small shapes the collision's own checks are about: a tessellated box, a
// thin plate, a flat sheet with an open border, two surfaces meeting at a
// folded edge, and two surfaces side by side in one plane.
std::vector<ShapeModel> MakeCheckShapes();

// Surface rules ("PATTERN = ID" lines) that give each material of these
// models a surface of its own: texture "surfN" gets surface N.
std::string VariedSurfaceRules();

}  // namespace brennix::bench
