#include "MeshSampling.h"

#include <algorithm>
#include <functional>

namespace brennix::bench {

namespace {

double SegmentDistanceSquared(V3 p, V3 a, V3 b) {
    const V3 ab = b - a, ap = p - a;
    const double length = Dot(ab, ab);
    double t = length > 0 ? Dot(ap, ab) / length : 0;
    t = std::max(0.0, std::min(1.0, t));
    const V3 d = ap - t * ab;
    return Dot(d, d);
}

}  // namespace

Mesh DecodeFaces(const ColModel& col) {
    Mesh mesh;
    mesh.positions.reserve(3 * static_cast<size_t>(col.vertexCount));
    for (uint32_t v = 0; v < col.vertexCount; ++v) {
        mesh.positions.push_back(col.vertices[v].x / 128.0);
        mesh.positions.push_back(col.vertices[v].y / 128.0);
        mesh.positions.push_back(col.vertices[v].z / 128.0);
    }
    mesh.indices.reserve(3 * static_cast<size_t>(col.faceCount));
    for (uint32_t f = 0; f < col.faceCount; ++f) {
        mesh.indices.push_back(col.faces[f].a);
        mesh.indices.push_back(col.faces[f].b);
        mesh.indices.push_back(col.faces[f].c);
    }
    return mesh;
}

V3 Corner(const Mesh& mesh, size_t triangle, int corner) {
    const double* p = &mesh.positions[3 * static_cast<size_t>(mesh.indices[3 * triangle + corner])];
    return {p[0], p[1], p[2]};
}

Triangle MakeTriangle(V3 a, V3 b, V3 c) {
    Triangle t;
    t.a = a;
    t.b = b;
    t.c = c;
    t.normal = Cross(b - a, c - a);
    t.normal2 = Dot(t.normal, t.normal);
    // Nearly without area: the plane is no help, the edges are.
    if (t.normal2 <= 1e-18 * Dot(b - a, b - a) * Dot(c - a, c - a))
        t.normal2 = 0;
    return t;
}

// The distance from p to the triangle: to the plane when p lies over the
// triangle, else to the nearest edge.
double DistanceSquared(V3 p, const Triangle& t) {
    if (t.normal2 > 0) {
        const bool over = Dot(Cross(t.b - t.a, p - t.a), t.normal) >= 0 &&
                          Dot(Cross(t.c - t.b, p - t.b), t.normal) >= 0 &&
                          Dot(Cross(t.a - t.c, p - t.c), t.normal) >= 0;
        if (over) {
            const double h = Dot(p - t.a, t.normal);
            return h * h / t.normal2;
        }
    }
    return std::min({SegmentDistanceSquared(p, t.a, t.b), SegmentDistanceSquared(p, t.b, t.c),
                     SegmentDistanceSquared(p, t.c, t.a)});
}

TriangleGrid::TriangleGrid(const Mesh& mesh) {
    const size_t count = mesh.TriangleCount();
    triangles_.resize(count);
    stamps_.assign(count, 0);
    double low[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::max()};
    double high[3] = {-low[0], -low[1], -low[2]};
    double edges = 0;
    for (size_t i = 0; i < count; ++i) {
        Triangle& t = triangles_[i];
        t = MakeTriangle(Corner(mesh, i, 0), Corner(mesh, i, 1), Corner(mesh, i, 2));
        const V3 ab = t.b - t.a, ac = t.c - t.a;
        for (const V3& p : {t.a, t.b, t.c}) {
            const double q[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], q[k]);
                high[k] = std::max(high[k], q[k]);
            }
        }
        edges += std::sqrt(std::max({Dot(ab, ab), Dot(ac, ac), Dot(t.c - t.b, t.c - t.b)}));
    }
    for (int k = 0; k < 3; ++k)
        origin_[k] = count > 0 ? low[k] : 0;
    // Cells about as large as a triangle, fewer than 4M of them, and
    // fewer than 32M entries in all.
    cell_ = count > 0 ? std::max(edges / static_cast<double>(count), 1e-3) : 1;
    for (;;) {
        uint64_t cells = 1;
        for (int k = 0; k < 3; ++k) {
            const double extent = count > 0 ? high[k] - low[k] : 0;
            dims_[k] = static_cast<int>(std::floor(extent / cell_)) + 1;
            cells *= static_cast<uint64_t>(dims_[k]);
        }
        if (cells <= (4u << 20) && Entries() <= (32u << 20))
            break;
        cell_ *= 1.5;
    }
    Fill();
}

double TriangleGrid::Nearest(V3 p, double enough) {
    if (triangles_.empty())
        return std::numeric_limits<double>::infinity();
    double best2 = std::numeric_limits<double>::infinity();
    const double enough2 = enough * enough;
    if (last_ < triangles_.size()) {
        best2 = DistanceSquared(p, triangles_[last_]);
        if (best2 <= enough2)
            return std::sqrt(best2);
    }
    if (++stamp_ == 0) {
        std::fill(stamps_.begin(), stamps_.end(), 0);
        stamp_ = 1;
    }
    const double q[3] = {p.x, p.y, p.z};
    int c[3];
    for (int k = 0; k < 3; ++k) {
        const int at = static_cast<int>(std::floor((q[k] - origin_[k]) / cell_));
        c[k] = std::max(0, std::min(dims_[k] - 1, at));
    }
    const int widest = std::max({dims_[0], dims_[1], dims_[2]});
    for (int ring = 0; ring <= widest; ++ring) {
        const int x0 = std::max(0, c[0] - ring), x1 = std::min(dims_[0] - 1, c[0] + ring);
        const int y0 = std::max(0, c[1] - ring), y1 = std::min(dims_[1] - 1, c[1] + ring);
        const int z0 = std::max(0, c[2] - ring), z1 = std::min(dims_[2] - 1, c[2] + ring);
        for (int x = x0; x <= x1; ++x) {
            for (int y = y0; y <= y1; ++y) {
                const bool side = std::abs(x - c[0]) == ring || std::abs(y - c[1]) == ring;
                // Inside the ring's shell only the two ends along z.
                const int step = side ? 1 : std::max(1, 2 * ring);
                for (int z = side ? z0 : c[2] - ring; z <= z1; z += step) {
                    if (z < z0)
                        continue;
                    const size_t cell = Index(x, y, z);
                    for (uint32_t e = start_[cell]; e < start_[cell + 1]; ++e) {
                        const uint32_t t = entries_[e];
                        if (stamps_[t] == stamp_)
                            continue;
                        stamps_[t] = stamp_;
                        const double d2 = DistanceSquared(p, triangles_[t]);
                        if (d2 < best2) {
                            best2 = d2;
                            last_ = t;
                        }
                    }
                }
            }
        }
        if (best2 <= enough2)
            break;
        // Every cell of the next ring lies at least ring cells away.
        const double reach = ring * cell_;
        if (best2 <= reach * reach)
            break;
    }
    return std::sqrt(best2);
}

size_t TriangleGrid::Index(int x, int y, int z) const {
    return (static_cast<size_t>(z) * static_cast<size_t>(dims_[1]) + static_cast<size_t>(y)) *
               static_cast<size_t>(dims_[0]) +
           static_cast<size_t>(x);
}

void TriangleGrid::CellRange(const Triangle& t, int from[3], int to[3]) const {
    const V3 corners[3] = {t.a, t.b, t.c};
    for (int k = 0; k < 3; ++k) {
        double low = std::numeric_limits<double>::max(), high = -low;
        for (const V3& p : corners) {
            const double v = k == 0 ? p.x : k == 1 ? p.y : p.z;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        from[k] = std::max(0, static_cast<int>(std::floor((low - origin_[k]) / cell_)));
        to[k] = std::min(dims_[k] - 1, static_cast<int>(std::floor((high - origin_[k]) / cell_)));
    }
}

uint64_t TriangleGrid::Entries() const {
    uint64_t total = 0;
    for (const Triangle& t : triangles_) {
        int from[3], to[3];
        CellRange(t, from, to);
        total += static_cast<uint64_t>(to[0] - from[0] + 1) *
                 static_cast<uint64_t>(to[1] - from[1] + 1) *
                 static_cast<uint64_t>(to[2] - from[2] + 1);
    }
    return total;
}

void TriangleGrid::Fill() {
    const size_t cells = static_cast<size_t>(dims_[0]) * static_cast<size_t>(dims_[1]) *
                         static_cast<size_t>(dims_[2]);
    start_.assign(cells + 1, 0);
    auto each = [&](const std::function<void(size_t, uint32_t)>& visit) {
        for (uint32_t i = 0; i < triangles_.size(); ++i) {
            int from[3], to[3];
            CellRange(triangles_[i], from, to);
            for (int z = from[2]; z <= to[2]; ++z)
                for (int y = from[1]; y <= to[1]; ++y)
                    for (int x = from[0]; x <= to[0]; ++x)
                        visit(Index(x, y, z), i);
        }
    };
    each([&](size_t cell, uint32_t) { ++start_[cell + 1]; });
    for (size_t i = 0; i < cells; ++i)
        start_[i + 1] += start_[i];
    entries_.resize(start_[cells]);
    std::vector<uint32_t> next(start_.begin(), start_.end() - 1);
    each([&](size_t cell, uint32_t t) { entries_[next[cell]++] = t; });
}

// The largest distance from a point of `from` to the nearest triangle of
// `to`, and how many points were tried.
double LargestDistance(const Mesh& from, TriangleGrid& to, double spacing, uint64_t* samples) {
    double largest = 0;
    for (size_t t = 0; t < from.TriangleCount(); ++t) {
        SampleTriangle(Corner(from, t, 0), Corner(from, t, 1), Corner(from, t, 2), spacing,
                       [&](V3 p) {
                           ++*samples;
                           largest = std::max(largest, to.Nearest(p, largest));
                       });
    }
    return largest;
}

}  // namespace brennix::bench
