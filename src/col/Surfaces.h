// Collision surface ids of the two game families: the earlier games, which
// read version-1 COL files, and the later game, which reads versions 2 and 3.
// The table is made from the list of both families' ids, groups and names
// (docs/surfaces.md tells how), and maps ids from one family to the other.
#pragma once

#include <cstdint>

namespace brennix {

enum class SurfaceFamily {
    kEarlier,  // "vc": version 1, ids 0-34
    kLater,    // "sa": versions 2 and 3, ids 0-178
};

struct SurfaceInfo {
    uint8_t id;
    const char* group;  // "road", "grass", ...
    bool procedural;
    const char* name;
};

// The family whose ids a COL version uses: version 1 the earlier; 2 to 4,
// and any other, the later.
SurfaceFamily FamilyOfVersion(int version);

// The surface `id` of a family, or null when the family has no such id.
const SurfaceInfo* FindSurface(SurfaceFamily family, uint8_t id);

// The id of family `to` that stands for `id` of family `from`: the same id
// within one family; else the counterpart the table gives, or, when there
// is none (or `id` is unknown), the default of its group in `to`. `exact`
// (when given) is false when a group's default was taken. An id `from` does
// not have takes the default of group "misc" in `to`; within one family every
// id, known or not, stays as it is.
uint8_t MapSurface(SurfaceFamily from, SurfaceFamily to, uint8_t id, bool* exact = nullptr);

}  // namespace brennix
