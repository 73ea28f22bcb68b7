#include "col/Surfaces.h"

#include <cstddef>
#include <iterator>

namespace brennix {
namespace {

struct Counterpart {
    uint8_t id;
    bool exact;
};

#include "col/SurfaceTable.inc"

template <size_t N>
constexpr bool IdsAreIndices(const SurfaceInfo (&table)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (table[i].id != i) {
            return false;
        }
    }
    return true;
}

template <size_t N, size_t M>
constexpr bool ReachesOnly(const Counterpart (&map)[N], const SurfaceInfo (&)[M]) {
    for (const Counterpart& c : map) {
        if (c.id >= M) {
            return false;
        }
    }
    return true;
}

// Lookups index the tables by id, so the generated table must be dense and
// every counterpart must exist.
static_assert(IdsAreIndices(kEarlierSurfaces) && IdsAreIndices(kLaterSurfaces));
static_assert(std::size(kEarlierToLater) == std::size(kEarlierSurfaces));
static_assert(std::size(kLaterToEarlier) == std::size(kLaterSurfaces));
static_assert(ReachesOnly(kEarlierToLater, kLaterSurfaces));
static_assert(ReachesOnly(kLaterToEarlier, kEarlierSurfaces));
static_assert(kEarlierFallback < std::size(kEarlierSurfaces));
static_assert(kLaterFallback < std::size(kLaterSurfaces));

}  // namespace

SurfaceFamily FamilyOfVersion(int version) {
    return version == 1 ? SurfaceFamily::kEarlier : SurfaceFamily::kLater;
}

const SurfaceInfo* FindSurface(SurfaceFamily family, uint8_t id) {
    if (family == SurfaceFamily::kEarlier) {
        return id < std::size(kEarlierSurfaces) ? &kEarlierSurfaces[id] : nullptr;
    }
    return id < std::size(kLaterSurfaces) ? &kLaterSurfaces[id] : nullptr;
}

uint8_t MapSurface(SurfaceFamily from, SurfaceFamily to, uint8_t id, bool* exact) {
    Counterpart found{id, true};
    if (from != to) {
        const bool earlier = from == SurfaceFamily::kEarlier;
        const Counterpart* map = earlier ? kEarlierToLater : kLaterToEarlier;
        const size_t count = earlier ? std::size(kEarlierToLater) : std::size(kLaterToEarlier);
        found =
            id < count ? map[id] : Counterpart{earlier ? kLaterFallback : kEarlierFallback, false};
    }
    if (exact) {
        *exact = found.exact;
    }
    return found.id;
}

}  // namespace brennix
