#include "col/Simplify.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <unordered_map>

#include "col/MeshDistance.h"

namespace brennix {

namespace {

// Regions at most this small are kept as they are: a simplifier gains little
// on them.
constexpr size_t kKeepAtMost = 4;
// A region that fails the check is cut in two while it holds more than this.
constexpr size_t kSplitAbove = 48;
// A check samples points half the bound apart, or, on a region large for
// its triangle count, about this many points a triangle. Every corner is a
// sample whatever the spacing, so a feature of the model that the lighter
// mesh leaves out is found at its corners.
constexpr double kSamplesPerTriangle = 64;

uint64_t TriangleKey(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t v[3] = {a, b, c};
    std::sort(v, v + 3);
    // Vertex indices are below 2^21 for any mesh a collision holds; wider
    // ones still order correctly, only the key may collide, which merely
    // keeps a repeat.
    return (static_cast<uint64_t>(v[0]) << 42) ^ (static_cast<uint64_t>(v[1]) << 21) ^ v[2];
}

// The largest distance between two sets of triangles over the same
// positions, both ways, sampled as the check samples.
double TwoSided(const float* positions, const std::vector<uint32_t>& first,
                const std::vector<uint32_t>& second, double spacing, double stopAbove) {
    const TriangleTree toFirst(positions, first.data(), first.size() / 3);
    const TriangleTree toSecond(positions, second.data(), second.size() / 3);
    const double outward =
        LargestDistance(positions, second.data(), second.size() / 3, toFirst, spacing, stopAbove);
    if (outward > stopAbove)
        return outward;
    return std::max(outward, LargestDistance(positions, first.data(), first.size() / 3, toSecond,
                                             spacing, stopAbove));
}

double SampleSpacing(const float* positions, const uint32_t* indices, size_t triangleCount,
                     double bound) {
    double area = 0;
    for (size_t i = 0; i < triangleCount; ++i) {
        const float* a = positions + 3 * static_cast<size_t>(indices[3 * i]);
        const float* b = positions + 3 * static_cast<size_t>(indices[3 * i + 1]);
        const float* c = positions + 3 * static_cast<size_t>(indices[3 * i + 2]);
        double u[3], v[3];
        for (int k = 0; k < 3; ++k) {
            u[k] = static_cast<double>(b[k]) - a[k];
            v[k] = static_cast<double>(c[k]) - a[k];
        }
        const double x = u[1] * v[2] - u[2] * v[1], y = u[2] * v[0] - u[0] * v[2],
                     z = u[0] * v[1] - u[1] * v[0];
        area += std::sqrt(x * x + y * y + z * z) / 2;
    }
    const double samples =
        kSamplesPerTriangle * static_cast<double>(std::max<size_t>(triangleCount, 1));
    return std::max(bound / 2, std::sqrt(2 * area / samples));
}

// A set of triangles simplified on its own, in the input's triangle order.
struct Region {
    std::vector<uint32_t> triangles;
    bool whole = false;  // a whole connected part, not a piece of one
};

// The triangles a region became, in the input's vertex numbering.
struct Outcome {
    std::vector<uint32_t> indices;
    std::vector<uint8_t> surfaces;
    double distance = 0;
};

// A region in the simplifier's terms, made once for all its attempts: its
// own vertices, each split by surface into wedges, and the tree of its
// triangles for the check.
struct Prepared {
    std::vector<uint32_t> globalOf;      // local -> input vertex
    std::vector<float> localPositions;   // three floats a local vertex
    std::vector<uint32_t> localIndices;  // the region, by local vertex
    std::vector<float> wedgePositions;   // three floats a wedge
    std::vector<uint32_t> wedgeLocal;    // wedge -> local vertex
    std::vector<uint8_t> wedgeSurface;   // wedge -> surface
    std::vector<uint32_t> wedgeIndices;  // the region, by wedge
    float scale = 0;
    double spacing = 0;
    // Made by the first attempt that gets as far as the check.
    mutable std::unique_ptr<TriangleTree> original;
};

class Simplifier {
public:
    Simplifier(const SimplifyInput& input) : input_(input) {}

    // Simplifies every connected part within `bound`; appends to `out`.
    void Run(double bound, SimplifyResult* out);

private:
    std::vector<Region> ConnectedParts() const;
    void Simplify(Region region, double bound, SimplifyResult* out);
    enum class Verdict { kAccepted, kBeyondBound, kNoGain };
    void Prepare(const Region& region, double bound, Prepared* prepared) const;
    Verdict Attempt(const Prepared& region, double bound, double error, bool lockBorder,
                    Outcome* outcome);
    void Keep(const Region& region, SimplifyResult* out) const;
    std::pair<Region, Region> Halves(const Region& region) const;

    const SimplifyInput& input_;
};

std::vector<Region> Simplifier::ConnectedParts() const {
    std::vector<uint32_t> parent(input_.vertexCount);
    std::iota(parent.begin(), parent.end(), 0u);
    auto find = [&parent](uint32_t v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    };
    for (size_t t = 0; t < input_.triangleCount; ++t) {
        const uint32_t* corner = input_.indices + 3 * t;
        for (int k = 1; k < 3; ++k) {
            const uint32_t a = find(corner[0]), b = find(corner[k]);
            if (a != b)
                parent[std::max(a, b)] = std::min(a, b);
        }
    }
    // Parts in the order of their first triangle.
    std::unordered_map<uint32_t, size_t> partOfRoot;
    std::vector<Region> parts;
    for (size_t t = 0; t < input_.triangleCount; ++t) {
        const uint32_t root = find(input_.indices[3 * t]);
        auto found = partOfRoot.find(root);
        if (found == partOfRoot.end()) {
            found = partOfRoot.emplace(root, parts.size()).first;
            parts.emplace_back();
            parts.back().whole = true;
        }
        parts[found->second].triangles.push_back(static_cast<uint32_t>(t));
    }
    return parts;
}

void Simplifier::Keep(const Region& region, SimplifyResult* out) const {
    for (uint32_t t : region.triangles) {
        out->indices.insert(out->indices.end(), input_.indices + 3 * static_cast<size_t>(t),
                            input_.indices + 3 * static_cast<size_t>(t) + 3);
        out->surfaces.push_back(input_.surfaces[t]);
    }
}

// Cuts a region in two at the median of its triangles' centres along the
// longest axis; each half keeps its triangles in input order.
std::pair<Region, Region> Simplifier::Halves(const Region& region) const {
    auto centre = [this](uint32_t t, int k) {
        double sum = 0;
        for (int c = 0; c < 3; ++c)
            sum += input_.positions[3 * static_cast<size_t>(input_.indices[3 * t + c]) + k];
        return sum;
    };
    double low[3], high[3];
    for (int k = 0; k < 3; ++k) {
        low[k] = std::numeric_limits<double>::infinity();
        high[k] = -low[k];
    }
    for (uint32_t t : region.triangles) {
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], centre(t, k));
            high[k] = std::max(high[k], centre(t, k));
        }
    }
    int axis = 0;
    for (int k = 1; k < 3; ++k) {
        if (high[k] - low[k] > high[axis] - low[axis])
            axis = k;
    }
    std::vector<uint32_t> sorted = region.triangles;
    const size_t middle = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(middle),
                     sorted.end(), [&](uint32_t l, uint32_t r) {
                         const double cl = centre(l, axis), cr = centre(r, axis);
                         return cl < cr || (cl == cr && l < r);
                     });
    // The region lists its triangles in input order; so does each half.
    std::pair<Region, Region> halves;
    halves.first.triangles.assign(sorted.begin(),
                                  sorted.begin() + static_cast<std::ptrdiff_t>(middle));
    halves.second.triangles.assign(sorted.begin() + static_cast<std::ptrdiff_t>(middle),
                                   sorted.end());
    std::sort(halves.first.triangles.begin(), halves.first.triangles.end());
    std::sort(halves.second.triangles.begin(), halves.second.triangles.end());
    return halves;
}

// One simplification of a region at `error` (model units), checked against
// `bound` both ways. Each vertex is split by surface first, so that the
// simplifier sees where surfaces meet as a seam: both sides of it collapse
// together and keep the edges they share.
void Simplifier::Prepare(const Region& region, double bound, Prepared* prepared) const {
    const size_t count = region.triangles.size();
    // Local vertices (in order of first use) and their surface copies.
    std::unordered_map<uint64_t, uint32_t> wedgeOf;
    std::unordered_map<uint32_t, uint32_t> localOf;
    std::vector<uint32_t>& globalOf = prepared->globalOf;
    std::vector<float>& wedgePositions = prepared->wedgePositions;
    std::vector<uint32_t>& wedgeLocal = prepared->wedgeLocal;
    std::vector<uint8_t>& wedgeSurface = prepared->wedgeSurface;
    std::vector<uint32_t>& wedgeIndices = prepared->wedgeIndices;
    std::vector<uint32_t>& localIndices = prepared->localIndices;
    wedgeIndices.resize(3 * count);
    localIndices.resize(3 * count);
    wedgeOf.reserve(3 * count);
    localOf.reserve(3 * count);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t t = region.triangles[i];
        const uint8_t surface = input_.surfaces[t];
        for (int c = 0; c < 3; ++c) {
            const uint32_t vertex = input_.indices[3 * static_cast<size_t>(t) + c];
            auto local = localOf.emplace(vertex, static_cast<uint32_t>(globalOf.size()));
            if (local.second)
                globalOf.push_back(vertex);
            localIndices[3 * i + c] = local.first->second;
            const uint64_t key = (static_cast<uint64_t>(local.first->second) << 8) | surface;
            auto wedge = wedgeOf.emplace(key, static_cast<uint32_t>(wedgeLocal.size()));
            if (wedge.second) {
                wedgeLocal.push_back(local.first->second);
                wedgeSurface.push_back(surface);
                const float* p = input_.positions + 3 * static_cast<size_t>(vertex);
                wedgePositions.insert(wedgePositions.end(), p, p + 3);
            }
            wedgeIndices[3 * i + c] = wedge.first->second;
        }
    }
    std::vector<float>& localPositions = prepared->localPositions;
    localPositions.resize(3 * globalOf.size());
    for (size_t v = 0; v < globalOf.size(); ++v)
        std::copy(input_.positions + 3 * static_cast<size_t>(globalOf[v]),
                  input_.positions + 3 * static_cast<size_t>(globalOf[v]) + 3,
                  localPositions.begin() + static_cast<std::ptrdiff_t>(3 * v));
    prepared->scale = meshopt_simplifyScale(wedgePositions.data(), wedgeLocal.size(), 12);
    // The check samples both ways, points no farther apart than half the
    // bound (or sparser on a region large for its triangle count).
    prepared->spacing = SampleSpacing(localPositions.data(), localIndices.data(), count, bound);
}

Simplifier::Verdict Simplifier::Attempt(const Prepared& region, double bound, double error,
                                        bool lockBorder, Outcome* outcome) {
    const size_t count = region.localIndices.size() / 3;
    const std::vector<uint32_t>& wedgeLocal = region.wedgeLocal;
    const std::vector<uint8_t>& wedgeSurface = region.wedgeSurface;
    const std::vector<float>& localPositions = region.localPositions;
    const std::vector<uint32_t>& localIndices = region.localIndices;
    const size_t wedgeCount = wedgeLocal.size();
    const float scale = region.scale;
    if (!(scale > 0))
        return Verdict::kNoGain;
    const std::vector<uint32_t>& wedgeIndices = region.wedgeIndices;
    std::vector<uint32_t> simplified(wedgeIndices.size());
    const size_t written = meshopt_simplify(
        simplified.data(), wedgeIndices.data(), wedgeIndices.size(), region.wedgePositions.data(),
        wedgeCount, 12, 3, static_cast<float>(error / scale),
        lockBorder ? static_cast<unsigned>(meshopt_SimplifyLockBorder) : 0u, nullptr);
    simplified.resize(written);

    // Back to local vertices; what collapsed or repeats another is dropped.
    std::vector<uint32_t> result;
    std::vector<uint8_t> surfaces;
    std::vector<uint64_t> seen;
    for (size_t i = 0; i + 2 < simplified.size(); i += 3) {
        const uint32_t a = wedgeLocal[simplified[i]], b = wedgeLocal[simplified[i + 1]],
                       c = wedgeLocal[simplified[i + 2]];
        if (a == b || b == c || a == c)
            continue;
        seen.push_back(TriangleKey(a, b, c));
        result.insert(result.end(), {a, b, c});
        surfaces.push_back(wedgeSurface[simplified[i]]);
    }
    if (result.empty())
        return Verdict::kBeyondBound;
    {
        std::vector<uint64_t> sorted = seen;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
            // Keep the first of each repeat.
            std::unordered_map<uint64_t, bool> kept;
            std::vector<uint32_t> unique;
            std::vector<uint8_t> uniqueSurfaces;
            for (size_t f = 0; f < seen.size(); ++f) {
                if (!kept.emplace(seen[f], true).second)
                    continue;
                unique.insert(unique.end(), result.begin() + static_cast<std::ptrdiff_t>(3 * f),
                              result.begin() + static_cast<std::ptrdiff_t>(3 * f + 3));
                uniqueSurfaces.push_back(surfaces[f]);
            }
            result.swap(unique);
            surfaces.swap(uniqueSurfaces);
        }
    }
    const size_t resultCount = result.size() / 3;
    if (resultCount >= count)
        return Verdict::kNoGain;

    const double spacing = region.spacing;
    if (region.original == nullptr)
        region.original =
            std::make_unique<TriangleTree>(localPositions.data(), localIndices.data(), count);
    const TriangleTree& original = *region.original;
    const double outward = LargestDistance(localPositions.data(), result.data(), resultCount,
                                           original, spacing, bound);
    if (outward > bound)
        return Verdict::kBeyondBound;
    const TriangleTree lighter(localPositions.data(), result.data(), resultCount);
    const double inward =
        LargestDistance(localPositions.data(), localIndices.data(), count, lighter, spacing, bound);
    if (inward > bound)
        return Verdict::kBeyondBound;

    outcome->indices.clear();
    outcome->indices.reserve(result.size());
    for (uint32_t local : result)
        outcome->indices.push_back(region.globalOf[local]);
    outcome->surfaces = std::move(surfaces);
    outcome->distance = std::max(outward, inward);
    return Verdict::kAccepted;
}

void Simplifier::Simplify(Region region, double bound, SimplifyResult* out) {
    // Worked through as a stack, so a deep cut needs no deep recursion.
    std::vector<Region> pending;
    pending.push_back(std::move(region));
    Outcome outcome;
    while (!pending.empty()) {
        Region current = std::move(pending.back());
        pending.pop_back();
        if (current.triangles.size() <= kKeepAtMost) {
            Keep(current, out);
            continue;
        }
        // A whole part first moves its open borders freely; a piece of one
        // keeps its cut edges where they are, so that the pieces still meet.
        Prepared prepared;
        Prepare(current, bound, &prepared);
        Verdict verdict = Verdict::kBeyondBound;
        if (current.whole)
            verdict = Attempt(prepared, bound, bound, false, &outcome);
        // Locked borders only take away less: no gain without them is none with.
        if (verdict == Verdict::kBeyondBound)
            verdict = Attempt(prepared, bound, bound, true, &outcome);
        bool done = verdict == Verdict::kAccepted;
        // Where the simplifier finds nothing to take away even at the full
        // bound (a mesh of many-sided edges, say), smaller pieces fare no
        // better.
        if (verdict == Verdict::kNoGain) {
            Keep(current, out);
            continue;
        }
        if (!done && current.triangles.size() > kSplitAbove) {
            std::pair<Region, Region> halves = Halves(current);
            // The first half is worked on first.
            pending.push_back(std::move(halves.second));
            pending.push_back(std::move(halves.first));
            continue;
        }
        for (double error = bound / 2; !done && error >= bound / 8; error /= 2)
            done = Attempt(prepared, bound, error, true, &outcome) == Verdict::kAccepted;
        if (!done) {
            Keep(current, out);
            continue;
        }
        out->indices.insert(out->indices.end(), outcome.indices.begin(), outcome.indices.end());
        out->surfaces.insert(out->surfaces.end(), outcome.surfaces.begin(), outcome.surfaces.end());
        out->maxDistance = std::max(out->maxDistance, outcome.distance);
    }
}

void Simplifier::Run(double bound, SimplifyResult* out) {
    out->indices.clear();
    out->surfaces.clear();
    out->maxDistance = 0;
    for (Region& part : ConnectedParts())
        Simplify(std::move(part), bound, out);
}

size_t VerticesUsed(const std::vector<uint32_t>& indices, size_t vertexCount) {
    std::vector<bool> used(vertexCount, false);
    size_t count = 0;
    for (uint32_t v : indices) {
        if (!used[v]) {
            used[v] = true;
            ++count;
        }
    }
    return count;
}

// Grid clustering to a target count, shrinking the target until the result
// fits. Each face takes the surface of the input triangle nearest its centre.
template <typename Fits>
void Sloppy(const SimplifyInput& input, const SimplifyOptions& options, const Fits& fits,
            SimplifyResult* result) {
    const std::vector<uint32_t> original(input.indices, input.indices + 3 * input.triangleCount);
    size_t target = options.maxTriangles > 0 ? options.maxTriangles : input.triangleCount;
    if (options.maxVertices > 0)
        target = std::min(target, options.maxVertices);
    std::vector<uint32_t> reduced(original.size());
    for (int step = 0; step < 24 && target > 0; ++step) {
        const size_t written = meshopt_simplifySloppy(
            reduced.data(), original.data(), original.size(), input.positions, input.vertexCount,
            12, 3 * target, std::numeric_limits<float>::max(), nullptr);
        result->indices.clear();
        std::vector<uint64_t> seen;
        for (size_t i = 0; i + 2 < written; i += 3) {
            const uint32_t a = reduced[i], b = reduced[i + 1], c = reduced[i + 2];
            if (a == b || b == c || a == c)
                continue;
            result->indices.insert(result->indices.end(), {a, b, c});
        }
        // Repeats out, the first kept.
        std::vector<uint32_t> unique;
        std::unordered_map<uint64_t, bool> kept;
        for (size_t i = 0; i < result->indices.size(); i += 3) {
            if (kept.emplace(TriangleKey(result->indices[i], result->indices[i + 1],
                                         result->indices[i + 2]),
                             true)
                    .second)
                unique.insert(unique.end(),
                              result->indices.begin() + static_cast<std::ptrdiff_t>(i),
                              result->indices.begin() + static_cast<std::ptrdiff_t>(i + 3));
        }
        result->indices.swap(unique);
        if (!result->indices.empty() && fits(*result))
            break;
        target = target * 4 / 5;
    }
    const TriangleTree tree(input.positions, input.indices, input.triangleCount);
    result->surfaces.clear();
    for (size_t i = 0; i < result->indices.size(); i += 3) {
        double centre[3] = {0, 0, 0};
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                centre[k] +=
                    input.positions[3 * static_cast<size_t>(result->indices[i + c]) + k] / 3.0;
        uint32_t nearest = UINT32_MAX;
        tree.Nearest(centre, std::numeric_limits<double>::infinity(), 0, &nearest);
        result->surfaces.push_back(input.surfaces[nearest < input.triangleCount ? nearest : 0]);
    }
    result->maxDistance = result->indices.empty()
                              ? 0
                              : TwoSided(input.positions, original, result->indices,
                                         SampleSpacing(input.positions, input.indices,
                                                       input.triangleCount, options.maxError),
                                         std::numeric_limits<double>::infinity());
}

}  // namespace

void SimplifyMesh(const SimplifyInput& input, const SimplifyOptions& options,
                  SimplifyResult* result) {
    result->beyondBound = false;
    result->overLimits = false;
    Simplifier simplifier(input);
    auto fits = [&](const SimplifyResult& r) {
        return (options.maxTriangles == 0 || r.indices.size() / 3 <= options.maxTriangles) &&
               (options.maxVertices == 0 ||
                VerticesUsed(r.indices, input.vertexCount) <= options.maxVertices);
    };
    if (options.maxError > 0) {
        simplifier.Run(options.maxError, result);
    } else {
        result->indices.assign(input.indices, input.indices + 3 * input.triangleCount);
        result->surfaces.assign(input.surfaces, input.surfaces + input.triangleCount);
        result->maxDistance = 0;
    }
    if (fits(*result))
        return;

    // Past the bound: wider bounds, each four times the last, then a closer
    // look between the last two.
    double extent = 0;
    for (size_t v = 0; v < input.vertexCount; ++v)
        for (int k = 0; k < 3; ++k)
            extent = std::max(extent, static_cast<double>(std::fabs(input.positions[3 * v + k])));
    double tooSmall = options.maxError;
    double bound = options.maxError > 0 ? options.maxError : 1.0 / 128;
    SimplifyResult attempt;
    bool found = false;
    size_t previous = result->indices.size();
    for (int step = 0; step < 8 && bound < 2 * extent; ++step) {
        bound *= 4;
        simplifier.Run(bound, &attempt);
        if (fits(attempt)) {
            found = true;
            break;
        }
        if (attempt.indices.size() >= previous)
            break;  // no nearer: a wider bound will not help either
        previous = attempt.indices.size();
        tooSmall = bound;
    }
    if (found) {
        double fitting = bound;
        for (int step = 0; step < 3; ++step) {
            const double middle = (tooSmall + fitting) / 2;
            SimplifyResult closer;
            simplifier.Run(middle, &closer);
            if (fits(closer)) {
                fitting = middle;
                std::swap(attempt, closer);
            } else {
                tooSmall = middle;
            }
        }
        std::swap(*result, attempt);
        result->beyondBound = result->maxDistance > options.maxError;
        return;
    }
    // The simplifier keeps the shape of what it is given and cannot take
    // every mesh below the limits. Clustering vertices on a grid can: it is
    // the last resort, and its distance is measured in full.
    Sloppy(input, options, fits, result);
    result->beyondBound = true;
    result->overLimits = !fits(*result);
}

}  // namespace brennix
