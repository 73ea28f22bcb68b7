#include "col/MeshDistance.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace brennix {

namespace {

constexpr uint32_t kLeafSize = 4;

struct Vec {
    double x, y, z;
};

Vec operator-(const Vec& a, const Vec& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator+(const Vec& a, const Vec& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(const Vec& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
double Dot(const Vec& a, const Vec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec Corner(const float* positions, uint32_t vertex) {
    const float* p = positions + 3 * static_cast<size_t>(vertex);
    return {p[0], p[1], p[2]};
}

// The point of triangle abc nearest to p (after Ericson, Real-Time Collision
// Detection, 5.1.5), as its squared distance.
double PointTriangleSquared(const Vec& p, const Vec& a, const Vec& b, const Vec& c) {
    const Vec ab = b - a, ac = c - a, ap = p - a;
    const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
    auto squared = [&p](const Vec& q) { return Dot(p - q, p - q); };
    if (d1 <= 0 && d2 <= 0)
        return squared(a);
    const Vec bp = p - b;
    const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return squared(b);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        const double v = d1 / (d1 - d3);
        return squared(a + ab * v);
    }
    const Vec cp = p - c;
    const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return squared(c);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        const double w = d2 / (d2 - d6);
        return squared(a + ac * w);
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return squared(b + (c - b) * w);
    }
    const double denominator = va + vb + vc;
    if (!(denominator > 0)) {
        // A sliver too thin for the barycentric test: its edges decide.
        auto segment = [&](const Vec& s, const Vec& e) {
            const Vec d = e - s;
            const double length = Dot(d, d);
            double t = length > 0 ? Dot(p - s, d) / length : 0;
            t = std::min(1.0, std::max(0.0, t));
            return squared(s + d * t);
        };
        return std::min({segment(a, b), segment(b, c), segment(c, a)});
    }
    const double v = vb / denominator, w = vc / denominator;
    return squared(a + ab * v + ac * w);
}

double BoxSquared(const float min[3], const float max[3], const double p[3]) {
    double sum = 0;
    for (int k = 0; k < 3; ++k) {
        double d = 0;
        if (p[k] < min[k])
            d = min[k] - p[k];
        else if (p[k] > max[k])
            d = p[k] - max[k];
        sum += d * d;
    }
    return sum;
}

}  // namespace

TriangleTree::TriangleTree(const float* positions, const uint32_t* indices, size_t triangleCount)
    : positions_(positions), indices_(indices), count_(triangleCount) {
    Build();
}

void TriangleTree::Build() {
    if (count_ == 0)
        return;
    order_.resize(count_);
    // Each triangle's box and (three times) its centre, made once.
    std::vector<float> boxes(6 * count_), centres(3 * count_);
    for (size_t t = 0; t < count_; ++t) {
        order_[t] = static_cast<uint32_t>(t);
        const float* p[3];
        for (int corner = 0; corner < 3; ++corner)
            p[corner] = positions_ + 3 * static_cast<size_t>(indices_[3 * t + corner]);
        for (int k = 0; k < 3; ++k) {
            boxes[6 * t + k] = std::min({p[0][k], p[1][k], p[2][k]});
            boxes[6 * t + 3 + k] = std::max({p[0][k], p[1][k], p[2][k]});
            centres[3 * t + k] = p[0][k] + p[1][k] + p[2][k];
        }
    }
    nodes_.reserve(2 * (count_ / kLeafSize + 1));
    nodes_.push_back({{0, 0, 0}, {0, 0, 0}, 0, static_cast<uint32_t>(count_)});
    // Nodes are split in place: a split node's range moves to its two
    // children, stored side by side, and the node keeps their index.
    std::vector<uint32_t> pending{0};
    std::vector<uint32_t> leaves;
    while (!pending.empty()) {
        const uint32_t index = pending.back();
        pending.pop_back();
        const uint32_t first = nodes_[index].first, count = nodes_[index].count;
        float low[3], high[3];
        for (int k = 0; k < 3; ++k) {
            low[k] = std::numeric_limits<float>::infinity();
            high[k] = -low[k];
        }
        for (uint32_t i = first; i < first + count; ++i) {
            const float* box = &boxes[6 * static_cast<size_t>(order_[i])];
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], box[k]);
                high[k] = std::max(high[k], box[3 + k]);
            }
        }
        Node& node = nodes_[index];
        std::copy(low, low + 3, node.min);
        std::copy(high, high + 3, node.max);
        if (count <= kLeafSize) {
            node.first = first;
            node.count = count;
            leaves.push_back(index);
            continue;
        }
        int axis = 0;
        for (int k = 1; k < 3; ++k) {
            if (high[k] - low[k] > high[axis] - low[axis])
                axis = k;
        }
        const uint32_t middle = first + count / 2;
        std::nth_element(order_.begin() + first, order_.begin() + middle,
                         order_.begin() + first + count, [&](uint32_t l, uint32_t r) {
                             const float cl = centres[3 * l + axis], cr = centres[3 * r + axis];
                             return cl < cr || (cl == cr && l < r);
                         });
        const uint32_t child = static_cast<uint32_t>(nodes_.size());
        nodes_.push_back({{0, 0, 0}, {0, 0, 0}, first, middle - first});
        nodes_.push_back({{0, 0, 0}, {0, 0, 0}, middle, first + count - middle});
        nodes_[index].first = child;
        nodes_[index].count = 0;  // inner
        pending.push_back(child);
        pending.push_back(child + 1);
    }
}

double TriangleTree::DistanceSquared(uint32_t triangle, const double p[3]) const {
    return triangle < count_ ? TriangleDistanceSquared(triangle, p)
                             : std::numeric_limits<double>::infinity();
}

double TriangleTree::TriangleDistanceSquared(uint32_t triangle, const double p[3]) const {
    const uint32_t* corners = indices_ + 3 * static_cast<size_t>(triangle);
    return PointTriangleSquared({p[0], p[1], p[2]}, Corner(positions_, corners[0]),
                                Corner(positions_, corners[1]), Corner(positions_, corners[2]));
}

double TriangleTree::Nearest(const double p[3], double limit, double enough,
                             uint32_t* triangle) const {
    if (nodes_.empty())
        return limit;
    double best = limit * limit;
    const double goal = enough * enough;
    // The triangle given is tried first: samples close together mostly
    // share their nearest triangle, and a bound found at once prunes the
    // walk or ends it.
    if (triangle != nullptr && *triangle < count_) {
        best = std::min(best, TriangleDistanceSquared(*triangle, p));
        if (best <= goal)
            return std::sqrt(best);
    }
    uint32_t stack[64];
    size_t depth = 0;
    stack[depth++] = 0;
    while (depth > 0) {
        const Node& node = nodes_[stack[--depth]];
        if (BoxSquared(node.min, node.max, p) >= best)
            continue;
        if (node.count > 0) {
            for (uint32_t i = node.first; i < node.first + node.count; ++i) {
                const double d = TriangleDistanceSquared(order_[i], p);
                if (d < best) {
                    best = d;
                    if (triangle != nullptr)
                        *triangle = order_[i];
                }
                if (best <= goal)
                    return std::sqrt(best);
            }
            continue;
        }
        const double left = BoxSquared(nodes_[node.first].min, nodes_[node.first].max, p);
        const double right = BoxSquared(nodes_[node.first + 1].min, nodes_[node.first + 1].max, p);
        // The nearer child is taken first. A tree of median splits is at most
        // about log2(count) deep, far inside the stack.
        if (depth + 2 > sizeof stack / sizeof stack[0])
            return std::sqrt(best);
        if (left <= right) {
            stack[depth++] = node.first + 1;
            stack[depth++] = node.first;
        } else {
            stack[depth++] = node.first;
            stack[depth++] = node.first + 1;
        }
    }
    return best >= limit * limit ? limit : std::sqrt(best);
}

namespace {

// How many times a triangle is cut in four while it is shown to lie within
// the bound: pieces down to 1/64 of its edges.
constexpr int kCutDepth = 6;

// Whether every point of the triangle a, b, c lies within `bound` of the
// triangles of `to`, shown without sampling: the distance to one triangle is
// a convex function of the point, so over the triangle abc it is largest at
// a corner. The hint is tried first, then the triangle nearest the centre;
// where neither holds all three corners, the four pieces cut at the edges'
// middles are tried in turn, down to `depth` more cuts. `beyond` is set to a
// distance above the bound when a centre lies that far.
bool WithinBound(const TriangleTree& to, const Vec& a, const Vec& b, const Vec& c, double bound,
                 int depth, uint32_t* hint, double* beyond) {
    const double squared = bound * bound;
    auto worstCorner = [&](uint32_t triangle) {
        double worst = 0;
        for (const Vec* q : {&a, &b, &c}) {
            const double p[3] = {q->x, q->y, q->z};
            worst = std::max(worst, to.DistanceSquared(triangle, p));
            if (worst > squared)
                break;
        }
        return worst;
    };
    if (*hint < to.TriangleCount() && worstCorner(*hint) <= squared)
        return true;
    const Vec m = (a + b + c) * (1.0 / 3);
    const double p[3] = {m.x, m.y, m.z};
    uint32_t nearest = *hint;
    const double d = to.Nearest(p, 2 * bound + 1, 0, &nearest);
    if (d > bound) {
        *beyond = d;
        return false;
    }
    if (nearest != *hint && nearest < to.TriangleCount() && worstCorner(nearest) <= squared) {
        *hint = nearest;
        return true;
    }
    if (depth == 0)
        return false;
    const Vec ab = (a + b) * 0.5, bc = (b + c) * 0.5, ca = (c + a) * 0.5;
    return WithinBound(to, a, ab, ca, bound, depth - 1, hint, beyond) &&
           WithinBound(to, ab, b, bc, bound, depth - 1, hint, beyond) &&
           WithinBound(to, ca, bc, c, bound, depth - 1, hint, beyond) &&
           WithinBound(to, ab, bc, ca, bound, depth - 1, hint, beyond);
}

}  // namespace

double LargestDistance(const float* positions, const uint32_t* indices, size_t triangleCount,
                       const TriangleTree& to, double spacing, double stopAbove) {
    double largest = 0;
    uint32_t hint = UINT32_MAX;
    // Samples no nearer than the largest so far cannot raise it: a query stops
    // at the first triangle within that distance.
    const double limit =
        std::isfinite(stopAbove) ? 2 * stopAbove + 1 : std::numeric_limits<double>::infinity();
    // The centres first: where a lighter mesh strays, it mostly strays
    // farthest inside its faces, so a failing check ends after one point a
    // triangle.
    if (std::isfinite(stopAbove)) {
        for (size_t t = 0; t < triangleCount; ++t) {
            const Vec centre =
                (Corner(positions, indices[3 * t]) + Corner(positions, indices[3 * t + 1]) +
                 Corner(positions, indices[3 * t + 2])) *
                (1.0 / 3);
            const double p[3] = {centre.x, centre.y, centre.z};
            const double d = to.Nearest(p, limit, stopAbove, &hint);
            if (d > stopAbove)
                return d;
        }
    }
    // The lattice of one triangle, n steps an edge. Samples within `enough`
    // of the other mesh end their query early; the others give their exact
    // distance. True when one sample lay above `near`.
    bool stopped = false;
    auto lattice = [&](const Vec& a, const Vec& b, const Vec& c, uint32_t n, double near) {
        bool nearBound = false;
        for (uint32_t i = 0; i <= n && !stopped; ++i) {
            for (uint32_t j = 0; i + j <= n; ++j) {
                const double u = static_cast<double>(i) / n, v = static_cast<double>(j) / n;
                const Vec q = a + (b - a) * u + (c - a) * v;
                const double p[3] = {q.x, q.y, q.z};
                const double d =
                    to.Nearest(p, limit, std::max(0.0, std::min(largest, near)), &hint);
                nearBound = nearBound || d > near;
                if (d > largest) {
                    largest = d;
                    if (largest > stopAbove) {
                        stopped = true;
                        break;
                    }
                }
            }
        }
        return nearBound;
    };
    for (size_t t = 0; t < triangleCount && !stopped; ++t) {
        const Vec a = Corner(positions, indices[3 * t]), b = Corner(positions, indices[3 * t + 1]),
                  c = Corner(positions, indices[3 * t + 2]);
        if (std::isfinite(stopAbove)) {
            // Shown within the bound as a whole, the triangle needs no samples
            // but its corners, whose distances are measured as the lattice's
            // would be (a query stops once it cannot raise the largest).
            double beyond = 0;
            uint32_t shown = hint;
            if (WithinBound(to, a, b, c, stopAbove, kCutDepth, &shown, &beyond)) {
                hint = shown;
                for (const Vec* q : {&a, &b, &c}) {
                    const double p[3] = {q->x, q->y, q->z};
                    largest = std::max(largest, to.Nearest(p, limit, largest, &hint));
                }
                continue;
            }
            if (beyond > stopAbove)
                return beyond;
        }
        const double longest =
            std::sqrt(std::max({Dot(b - a, b - a), Dot(c - b, c - b), Dot(a - c, a - c)}));
        double steps = spacing > 0 ? std::ceil(longest / spacing) : 1;
        const uint32_t n = static_cast<uint32_t>(std::min(std::max(steps, 1.0), 64.0));
        // A point between samples lies within step / sqrt(3) of one of them,
        // and a distance changes no faster than the point moves: where a
        // sample comes that close to the limit, the triangle is sampled again
        // more finely.
        const double slack = longest / n * 0.5774;
        const double near =
            std::isfinite(stopAbove) ? stopAbove - slack : std::numeric_limits<double>::infinity();
        // Finer, down to an eighth of the limit, within 64 steps an edge and
        // four times the first lattice.
        const double finest = stopAbove / 8;
        const uint32_t factor =
            std::isfinite(stopAbove) && longest / n > finest
                ? static_cast<uint32_t>(std::min({std::ceil(longest / n / finest), 64.0 / n, 4.0}))
                : 1;
        if (lattice(a, b, c, n, factor >= 2 ? near : std::numeric_limits<double>::infinity()) &&
            !stopped)
            lattice(a, b, c, factor * n, std::numeric_limits<double>::infinity());
    }
    return largest;
}

}  // namespace brennix
