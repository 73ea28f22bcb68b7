#include "view/Picture.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>

#include "col/Surfaces.h"
#include "dff/Triangles.h"
#include "view/Svg.h"

namespace brennix::view {

const char* const kBackgroundColour = "#ffffff";

namespace {

// The layout, in the document's own units; the document is shown at half
// that size, so that whole-unit coordinates are fine enough.
constexpr double kMargin = 20;
constexpr double kPanel = 1000;
constexpr double kGap = 20;
constexpr double kPadding = 70;  // inside a panel, for its label and scale bar
constexpr double kTitleHeight = 70;
constexpr double kLineHeight = 36;
constexpr double kWidth = 2 * kMargin + 2 * kPanel + kGap;
// Coordinates are clamped far outside the panels, so that a wild vertex
// never overflows the integer they are written as.
constexpr double kCoordinateLimit = 1e6;

// Colours of the surface groups: far from the model's greys and from one
// another.
struct GroupColour {
    const char* group;
    const char* colour;
};
constexpr GroupColour kGroupColours[] = {
    {"road", "#e07b00"},  {"grass", "#2ea043"}, {"dirt", "#8b5a2b"},   {"concrete", "#3f7fd0"},
    {"metal", "#7b4fbf"}, {"glass", "#19b8cc"}, {"wood", "#c99a06"},   {"sand", "#d8b44a"},
    {"water", "#1f4fe0"}, {"rock", "#9c5f5f"},  {"gravel", "#a0785a"}, {"bushes", "#4f7f1f"},
    {"misc", "#d6308a"},
};
constexpr const char* kUnknownSurfaceColour = "#e03030";

// Spheres and boxes are few in real collision; a file may hold 65,535 of
// each, and only the first of them fit a picture of bounded size.
constexpr size_t kMaxDrawnSpheres = 1000;
constexpr size_t kMaxDrawnBoxes = 500;

struct Vector {
    double x = 0, y = 0, z = 0;
};

Vector Sub(const Vector& a, const Vector& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double Dot(const Vector& a, const Vector& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vector Cross(const Vector& a, const Vector& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vector Normalised(const Vector& v) {
    const double length = std::sqrt(Dot(v, v));
    if (!(length > 0))
        return {0, 0, 0};
    return {v.x / length, v.y / length, v.z / length};
}

// An orthographic view: `right` and `up` span the screen, `toward` points at
// the viewer (right x up).
struct ViewBasis {
    const char* label;
    Vector right, up, toward;
};

std::vector<ViewBasis> Views() {
    // Model space has z up. The angled view looks from the front right,
    // above, at 45 degrees round and 35 degrees down.
    const double az = 0.785398163, el = 0.610865238;
    const Vector toward{std::cos(el) * std::sin(az), -std::cos(el) * std::cos(az), std::sin(el)};
    const Vector right{std::cos(az), std::sin(az), 0};
    return {
        {"top", {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
        {"front", {1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
        {"side", {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
        {"angled, from above", right, Cross(toward, right), toward},
    };
}

bool Finite(const Vector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The box that holds everything drawn.
struct Box {
    bool empty = true;
    Vector min, max;
    void Add(const Vector& p) {
        if (!Finite(p))
            return;
        if (empty) {
            min = max = p;
            empty = false;
            return;
        }
        min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
        max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
    }
};

Vector ModelPoint(const Mesh& mesh, uint32_t index) {
    const size_t at = 3 * static_cast<size_t>(index);
    return {mesh.positions[at], mesh.positions[at + 1], mesh.positions[at + 2]};
}

Vector ColPoint(const ColFilePoint& p) {
    return {p[0], p[1], p[2]};
}

bool TriangleValid(const Mesh& mesh, size_t t) {
    const size_t count = mesh.VertexCount();
    return mesh.indices[3 * t] < count && mesh.indices[3 * t + 1] < count &&
           mesh.indices[3 * t + 2] < count;
}

bool FaceValid(const ColEntry& col, const ColFileFace& face) {
    const size_t count = col.vertices.size();
    return face.a < count && face.b < count && face.c < count;
}

// Where a view's points land in the document.
struct Projection {
    ViewBasis basis;
    double scale = 1;
    double originX = 0, originY = 0;  // where the view's centre lands
    double midU = 0, midV = 0;        // the view's centre, in screen axes

    double X(const Vector& p) const {
        return Clamp(originX + scale * (Dot(p, basis.right) - midU));
    }
    double Y(const Vector& p) const { return Clamp(originY - scale * (Dot(p, basis.up) - midV)); }
    static double Clamp(double v) {
        return std::max(-kCoordinateLimit, std::min(kCoordinateLimit, v));
    }
};

// A whole number by hand: the paths of a large model hold millions, and
// this is most of the time a picture takes. `value` lies within
// +-kCoordinateLimit.
void AppendInt(std::string& out, double value) {
    long v = std::lround(value);
    char text[24];
    char* end = text + sizeof text;
    char* at = end;
    const bool negative = v < 0;
    if (negative)
        v = -v;
    do {
        *--at = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    if (negative)
        *--at = '-';
    out.append(at, static_cast<size_t>(end - at));
}

// "M x y L x y L x y Z" in whole units, as short as SVG allows. Every
// triangle of a path runs the same way round on the screen: the nonzero fill
// rule then fills where triangles overlap, where turns of opposite ways
// would cancel out and leave a hole.
void AppendTriangle(std::string& d, const double x[3], const double y[3]) {
    const double turn = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    const int order[3] = {0, turn < 0 ? 2 : 1, turn < 0 ? 1 : 2};
    d += 'M';
    AppendInt(d, x[0]);
    d += ' ';
    AppendInt(d, y[0]);
    for (int k = 1; k < 3; ++k) {
        d += 'L';
        AppendInt(d, x[order[k]]);
        d += ' ';
        AppendInt(d, y[order[k]]);
    }
    d += 'Z';
}

std::string Grey(int level) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", level, level, level);
    return text;
}

constexpr int kShadeLevels = 12;

// The model's triangles in one view, back to front, in runs of one shade.
void DrawModel(XmlWriter& xml, const Mesh& mesh, const Projection& view) {
    struct Item {
        double depth;
        uint32_t triangle;
        int shade;
    };
    std::vector<Item> items;
    items.reserve(mesh.TriangleCount());
    const Vector light =
        Normalised({view.basis.toward.x + 0.45 * view.basis.up.x + 0.3 * view.basis.right.x,
                    view.basis.toward.y + 0.45 * view.basis.up.y + 0.3 * view.basis.right.y,
                    view.basis.toward.z + 0.45 * view.basis.up.z + 0.3 * view.basis.right.z});
    for (size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (!TriangleValid(mesh, t))
            continue;
        const Vector a = ModelPoint(mesh, mesh.indices[3 * t]);
        const Vector b = ModelPoint(mesh, mesh.indices[3 * t + 1]);
        const Vector c = ModelPoint(mesh, mesh.indices[3 * t + 2]);
        if (!Finite(a) || !Finite(b) || !Finite(c))
            continue;
        // Seen edge on, a triangle covers nothing.
        const double ax = view.X(a), ay = view.Y(a);
        const double area =
            (view.X(b) - ax) * (view.Y(c) - ay) - (view.X(c) - ax) * (view.Y(b) - ay);
        if (std::fabs(area) < 0.5)
            continue;
        const Vector normal = Normalised(Cross(Sub(b, a), Sub(c, a)));
        const double facing = std::fabs(Dot(normal, light));
        const int shade = std::min(kShadeLevels - 1, static_cast<int>(facing * kShadeLevels));
        const double depth =
            Dot(a, view.basis.toward) + Dot(b, view.basis.toward) + Dot(c, view.basis.toward);
        items.push_back({depth, static_cast<uint32_t>(t), shade});
    }
    // Farthest first; ties by triangle, so that every run draws alike.
    std::sort(items.begin(), items.end(), [](const Item& l, const Item& r) {
        return l.depth != r.depth ? l.depth < r.depth : l.triangle < r.triangle;
    });
    std::string d;
    for (size_t i = 0; i < items.size();) {
        const int shade = items[i].shade;
        d.clear();
        for (; i < items.size() && items[i].shade == shade; ++i) {
            const uint32_t t = items[i].triangle;
            double x[3], y[3];
            for (int k = 0; k < 3; ++k) {
                const Vector p = ModelPoint(mesh, mesh.indices[3 * t + k]);
                x[k] = view.X(p);
                y[k] = view.Y(p);
            }
            AppendTriangle(d, x, y);
        }
        const std::string colour = Grey(150 + shade * 8);
        xml.Start("path");
        xml.Attr("fill", colour);
        xml.Attr("stroke", colour);
        xml.Attr("d", d);
        xml.End();
    }
}

// The collision's faces in one view: one translucent path per surface
// colour, with its edges.
void DrawCollisionFaces(XmlWriter& xml, const ColEntry& col, const std::vector<uint32_t>& faces,
                        const Projection& view) {
    // A handful of colours at most, in the order their first face comes.
    std::vector<std::pair<const char*, std::string>> byColour;
    const auto pathOf = [&](const char* colour) -> std::string& {
        for (auto& [known, d] : byColour) {
            if (known == colour)
                return d;
        }
        byColour.emplace_back(colour, std::string());
        return byColour.back().second;
    };
    for (uint32_t f : faces) {
        const ColFileFace& face = col.faces[f];
        const ColFilePoint* corners[3] = {&col.vertices[face.a], &col.vertices[face.b],
                                          &col.vertices[face.c]};
        double x[3], y[3];
        bool finite = true;
        for (int k = 0; k < 3; ++k) {
            const Vector p = ColPoint(*corners[k]);
            finite = finite && Finite(p);
            x[k] = view.X(p);
            y[k] = view.Y(p);
        }
        if (finite)
            AppendTriangle(pathOf(SurfaceColour(col.version, face.surface.material)), x, y);
    }
    for (const auto& [colour, d] : byColour) {
        xml.Start("path");
        xml.Attr("fill", colour);
        xml.Attr("fill-opacity", "0.3");
        xml.Attr("stroke", colour);
        xml.Attr("stroke-width", "1.5");
        xml.Attr("stroke-linejoin", "round");
        xml.Attr("d", d);
        xml.End();
    }
}

void DrawSpheresAndBoxes(XmlWriter& xml, const ColEntry& col, const Projection& view) {
    const size_t sphereCount = std::min(col.spheres.size(), kMaxDrawnSpheres);
    for (size_t i = 0; i < sphereCount; ++i) {
        const ColFileSphere& sphere = col.spheres[i];
        const Vector centre{sphere.centre[0], sphere.centre[1], sphere.centre[2]};
        if (!Finite(centre) || !std::isfinite(sphere.radius))
            continue;
        const char* colour = SurfaceColour(col.version, sphere.surface.material);
        xml.Start("circle");
        xml.Attr("cx", view.X(centre));
        xml.Attr("cy", view.Y(centre));
        xml.Attr("r", std::min(kCoordinateLimit, std::fabs(sphere.radius) * view.scale));
        xml.Attr("fill", colour);
        xml.Attr("fill-opacity", "0.3");
        xml.Attr("stroke", colour);
        xml.Attr("stroke-width", "3");
        xml.End();
    }
    const size_t boxCount = std::min(col.boxes.size(), kMaxDrawnBoxes);
    for (size_t n = 0; n < boxCount; ++n) {
        const ColFileBox& box = col.boxes[n];
        Vector corner[8];
        bool finite = true;
        for (int i = 0; i < 8; ++i) {
            corner[i] = {(i & 1) ? box.max[0] : box.min[0], (i & 2) ? box.max[1] : box.min[1],
                         (i & 4) ? box.max[2] : box.min[2]};
            finite = finite && Finite(corner[i]);
        }
        if (!finite)
            continue;
        // The twelve edges: corners that differ in one axis bit.
        std::string d;
        for (int i = 0; i < 8; ++i) {
            for (int bit = 1; bit < 8; bit <<= 1) {
                if (i & bit)
                    continue;
                d += 'M';
                AppendInt(d, view.X(corner[i]));
                d += ' ';
                AppendInt(d, view.Y(corner[i]));
                d += 'L';
                AppendInt(d, view.X(corner[i | bit]));
                d += ' ';
                AppendInt(d, view.Y(corner[i | bit]));
            }
        }
        xml.Start("path");
        xml.Attr("fill", "none");
        xml.Attr("stroke", SurfaceColour(col.version, box.surface.material));
        xml.Attr("stroke-width", "4");
        xml.Attr("d", d);
        xml.End();
    }
}

// A length near a quarter of the view: 1, 2 or 5 times a power of ten.
double ScaleBarLength(double scale) {
    const double target = 0.25 * (kPanel - 2 * kPadding) / scale;
    if (!(target > 0) || !std::isfinite(target))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(target)));
    for (double step : {5.0, 2.0, 1.0}) {
        if (step * power <= target)
            return step * power;
    }
    return power;
}

void DrawText(XmlWriter& xml, double x, double y, double size, const std::string& text,
              const char* weight = nullptr) {
    xml.Start("text");
    xml.Attr("x", x);
    xml.Attr("y", y);
    xml.Attr("font-size", size);
    if (weight != nullptr)
        xml.Attr("font-weight", weight);
    xml.Text(text);
    xml.End();
}

void DrawScaleBar(XmlWriter& xml, const Projection& view, double left, double bottom) {
    const double length = ScaleBarLength(view.scale);
    const double pixels = length * view.scale;
    const double x = left + 30, y = bottom - 30;
    std::string d = "M" + NumberText(x) + " " + NumberText(y - 10) + "V" + NumberText(y) + "H" +
                    NumberText(x + pixels) + "V" + NumberText(y - 10);
    xml.Start("path");
    xml.Attr("fill", "none");
    xml.Attr("stroke", "#202020");
    xml.Attr("stroke-width", "3");
    xml.Attr("d", d);
    xml.End();
    DrawText(xml, x, y - 18, 26, NumberText(length, 6) + (length == 1 ? " unit" : " units"));
}

// What is drawn of the model and the collision in one attempt.
struct Drawing {
    const Mesh* model = nullptr;
    // The collision faces drawn, by index into `faces` of `collision`: the
    // input's, or a simplified copy of them.
    const ColEntry* collision = nullptr;
    std::vector<uint32_t> faces;
};

// The parts of the document, by size, to decide what to reduce.
struct Sizes {
    size_t model = 0;
    size_t collision = 0;
    size_t total = 0;
};

std::string Compose(const PictureInput& input, const Drawing& drawing,
                    const std::vector<std::string>& legend, Sizes* sizes) {
    std::vector<ViewBasis> views = Views();
    const Mesh& model = *drawing.model;
    const ColEntry* col = input.collision;

    // One box of everything, and one scale for every view.
    Box box;
    for (size_t t = 0; t < input.model.TriangleCount(); ++t) {
        if (!TriangleValid(input.model, t))
            continue;
        for (int k = 0; k < 3; ++k)
            box.Add(ModelPoint(input.model, input.model.indices[3 * t + k]));
    }
    if (col != nullptr) {
        for (const ColFileFace& face : col->faces) {
            if (!FaceValid(*col, face))
                continue;
            box.Add(ColPoint(col->vertices[face.a]));
            box.Add(ColPoint(col->vertices[face.b]));
            box.Add(ColPoint(col->vertices[face.c]));
        }
        for (const ColFileSphere& s : col->spheres) {
            if (!std::isfinite(s.radius))
                continue;
            const double r = std::fabs(s.radius);
            box.Add({s.centre[0] - r, s.centre[1] - r, s.centre[2] - r});
            box.Add({s.centre[0] + r, s.centre[1] + r, s.centre[2] + r});
        }
        for (const ColFileBox& b : col->boxes) {
            box.Add({b.min[0], b.min[1], b.min[2]});
            box.Add({b.max[0], b.max[1], b.max[2]});
        }
    }
    if (box.empty)
        box.Add({0, 0, 0});
    std::vector<Projection> projections;
    double extent = 0;
    for (const ViewBasis& basis : views) {
        Projection p;
        p.basis = basis;
        double uMin = 0, uMax = 0, vMin = 0, vMax = 0;
        for (int i = 0; i < 8; ++i) {
            const Vector corner{(i & 1) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y,
                                (i & 4) ? box.max.z : box.min.z};
            const double u = Dot(corner, basis.right), v = Dot(corner, basis.up);
            if (i == 0) {
                uMin = uMax = u;
                vMin = vMax = v;
            }
            uMin = std::min(uMin, u), uMax = std::max(uMax, u);
            vMin = std::min(vMin, v), vMax = std::max(vMax, v);
        }
        p.midU = 0.5 * (uMin + uMax);
        p.midV = 0.5 * (vMin + vMax);
        extent = std::max({extent, uMax - uMin, vMax - vMin});
        projections.push_back(p);
    }
    const double scale =
        extent > 0 && std::isfinite(extent) ? (kPanel - 2 * kPadding) / extent : 1.0;

    const double legendTop = kTitleHeight + 2 * kPanel + kGap + 50;
    const double height = legendTop + kLineHeight * static_cast<double>(legend.size()) + kMargin;
    std::string out;
    out.reserve(1 << 16);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    XmlWriter xml(out);
    xml.Start("svg");
    xml.Attr("xmlns", "http://www.w3.org/2000/svg");
    xml.Attr("width", kWidth / 2);
    xml.Attr("height", height / 2);
    xml.Attr("viewBox", "0 0 " + NumberText(kWidth) + " " + NumberText(height));
    xml.Attr("font-family", "sans-serif");
    xml.Start("title");
    xml.Text(ShortText(input.name, 200));
    xml.End();
    xml.Start("rect");
    xml.Attr("width", "100%");
    xml.Attr("height", "100%");
    xml.Attr("fill", kBackgroundColour);
    xml.End();
    DrawText(xml, kMargin, 48, 38, ShortText(input.name, 120), "bold");

    size_t modelBytes = 0, collisionBytes = 0;
    for (size_t v = 0; v < projections.size(); ++v) {
        Projection& p = projections[v];
        const double left = kMargin + static_cast<double>(v % 2) * (kPanel + kGap);
        const double top = kTitleHeight + static_cast<double>(v / 2) * (kPanel + kGap);
        p.scale = scale;
        p.originX = left + kPanel / 2;
        p.originY = top + kPanel / 2;
        xml.Start("g");
        xml.Start("rect");
        xml.Attr("x", left);
        xml.Attr("y", top);
        xml.Attr("width", kPanel);
        xml.Attr("height", kPanel);
        xml.Attr("fill", kBackgroundColour);
        xml.Attr("stroke", "#c8c8c8");
        xml.Attr("stroke-width", "2");
        xml.End();
        size_t before = out.size();
        xml.Start("g");
        xml.Attr("stroke-width", "1");
        xml.Attr("stroke-linejoin", "round");
        DrawModel(xml, model, p);
        xml.End();
        modelBytes += out.size() - before;
        if (col != nullptr) {
            before = out.size();
            DrawCollisionFaces(xml, *drawing.collision, drawing.faces, p);
            collisionBytes += out.size() - before;
            DrawSpheresAndBoxes(xml, *col, p);
        }
        DrawText(xml, left + 24, top + 44, 30, p.basis.label);
        DrawScaleBar(xml, p, left, top + kPanel);
        xml.End();
    }

    // The legend, and a swatch for each surface colour the collision uses.
    double y = legendTop;
    for (const std::string& line : legend) {
        DrawText(xml, kMargin, y, 26, line);
        y += kLineHeight;
    }
    if (col != nullptr) {
        std::map<std::string, std::string> groups;  // colour -> group
        auto add = [&](uint8_t surface) {
            const SurfaceInfo* info = FindSurface(FamilyOfVersion(col->version), surface);
            groups[SurfaceColour(col->version, surface)] =
                info != nullptr ? info->group : "unknown";
        };
        for (const ColFileFace& face : col->faces)
            add(face.surface.material);
        for (const ColFileSphere& s : col->spheres)
            add(s.surface.material);
        for (const ColFileBox& b : col->boxes)
            add(b.surface.material);
        double x = kMargin + 1200;
        double swatchY = legendTop - 26;
        for (const auto& [colour, group] : groups) {
            xml.Start("rect");
            xml.Attr("x", x);
            xml.Attr("y", swatchY);
            xml.Attr("width", 28);
            xml.Attr("height", 28);
            xml.Attr("fill", colour);
            xml.End();
            DrawText(xml, x + 40, swatchY + 24, 26, group);
            swatchY += kLineHeight;
            if (swatchY > height - kMargin - kLineHeight) {
                swatchY = legendTop - 26;
                x += 200;
            }
        }
    }
    xml.EndAll();
    out += '\n';
    if (sizes != nullptr) {
        sizes->model = modelBytes;
        sizes->collision = collisionBytes;
        sizes->total = out.size();
    }
    return out;
}

// Every k-th of `count` items, `target` of them at most.
std::vector<uint32_t> EveryKth(size_t count, size_t target) {
    std::vector<uint32_t> chosen;
    if (target == 0)
        return chosen;
    if (target >= count) {
        chosen.resize(count);
        for (size_t i = 0; i < count; ++i)
            chosen[i] = static_cast<uint32_t>(i);
        return chosen;
    }
    chosen.reserve(target);
    for (size_t i = 0; i < target; ++i)
        chosen.push_back(static_cast<uint32_t>(i * count / target));
    return chosen;
}

std::string Count(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string Plural(size_t n, const char* one, const char* many) {
    return Count(n) + " " + (n == 1 ? one : many);
}

}  // namespace

const char* SurfaceColour(int version, uint8_t surface) {
    const SurfaceInfo* info = FindSurface(FamilyOfVersion(version), surface);
    if (info == nullptr)
        return kUnknownSurfaceColour;
    for (const GroupColour& g : kGroupColours) {
        if (std::strcmp(g.group, info->group) == 0)
            return g.colour;
    }
    return kUnknownSurfaceColour;
}

Mesh ReduceMesh(const Mesh& mesh, size_t targetTriangles) {
    Mesh valid;
    valid.positions = mesh.positions;
    valid.indices.reserve(mesh.indices.size());
    for (size_t t = 0; t < mesh.TriangleCount(); ++t) {
        if (TriangleValid(mesh, t))
            valid.indices.insert(valid.indices.end(), &mesh.indices[3 * t],
                                 &mesh.indices[3 * t + 3]);
    }
    if (valid.TriangleCount() <= targetTriangles)
        return valid;
    Mesh reduced;
    reduced.positions = mesh.positions;
    if (targetTriangles > 0 && valid.VertexCount() > 0) {
        // Non-finite coordinates would upset the simplifiers.
        bool finite = true;
        for (float v : valid.positions)
            finite = finite && std::isfinite(v);
        if (finite) {
            // Edges collapsed down to the target, whatever the error: the
            // surface stays whole, without holes. Where the mesh cannot be
            // collapsed that far, grid clustering goes on from there.
            reduced.indices.resize(valid.indices.size());
            size_t kept =
                meshopt_simplify(reduced.indices.data(), valid.indices.data(), valid.indices.size(),
                                 valid.positions.data(), valid.VertexCount(), 3 * sizeof(float),
                                 3 * targetTriangles, 1e9f, 0, nullptr);
            reduced.indices.resize(kept);
            if (reduced.TriangleCount() > targetTriangles) {
                std::vector<uint32_t> clustered(reduced.indices.size());
                const size_t left = meshopt_simplifySloppy(
                    clustered.data(), reduced.indices.data(), reduced.indices.size(),
                    valid.positions.data(), valid.VertexCount(), 3 * sizeof(float),
                    3 * targetTriangles, 1e9f, nullptr);
                clustered.resize(left);
                // The grid can collapse a flat or thin mesh far below the
                // target, to nothing at all: every k-th triangle then draws
                // it better.
                if (clustered.size() / 3 >= targetTriangles / 2)
                    reduced.indices.swap(clustered);
            }
        } else {
            reduced.indices = valid.indices;
        }
    }
    if (reduced.TriangleCount() > targetTriangles) {
        const std::vector<uint32_t> chosen = EveryKth(reduced.TriangleCount(), targetTriangles);
        std::vector<uint32_t> indices;
        indices.reserve(3 * chosen.size());
        for (uint32_t t : chosen)
            indices.insert(indices.end(), &reduced.indices[3 * size_t{t}],
                           &reduced.indices[3 * size_t{t} + 3]);
        reduced.indices.swap(indices);
    }
    return reduced;
}

ColEntry ReduceCollisionFaces(const ColEntry& col, const std::vector<uint32_t>& faces,
                              size_t targetFaces) {
    ColEntry reduced;
    reduced.version = col.version;
    reduced.vertices = col.vertices;
    // One mesh a colour, each reduced in proportion to its share.
    std::vector<std::pair<const char*, std::vector<uint32_t>>> byColour;
    for (uint32_t f : faces) {
        const char* colour = SurfaceColour(col.version, col.faces[f].surface.material);
        auto group = std::find_if(byColour.begin(), byColour.end(),
                                  [colour](const auto& g) { return g.first == colour; });
        if (group == byColour.end()) {
            byColour.emplace_back(colour, std::vector<uint32_t>());
            group = byColour.end() - 1;
        }
        group->second.push_back(f);
    }
    Mesh mesh;
    mesh.positions.reserve(3 * col.vertices.size());
    for (const ColFilePoint& v : col.vertices)
        mesh.positions.insert(mesh.positions.end(), v.begin(), v.end());
    for (const auto& [colour, members] : byColour) {
        mesh.indices.clear();
        for (uint32_t f : members)
            mesh.indices.insert(mesh.indices.end(),
                                {col.faces[f].a, col.faces[f].b, col.faces[f].c});
        // A colour keeps one face at least, so that none goes missing.
        const size_t target =
            targetFaces == 0
                ? 0
                : std::max<size_t>(1, static_cast<size_t>(static_cast<double>(targetFaces) *
                                                          static_cast<double>(members.size()) /
                                                          static_cast<double>(faces.size())));
        const Mesh kept = ReduceMesh(mesh, target);
        ColFileFace face = col.faces[members.front()];
        for (size_t t = 0; t < kept.TriangleCount(); ++t) {
            face.a = kept.indices[3 * t];
            face.b = kept.indices[3 * t + 1];
            face.c = kept.indices[3 * t + 2];
            reduced.faces.push_back(face);
        }
    }
    return reduced;
}

std::vector<std::string> LegendLines(const PictureInput& input, const PictureStats& stats,
                                     const PictureOptions& options) {
    std::vector<std::string> lines;
    std::string model = "Model: " + Plural(stats.modelTriangles, "triangle", "triangles");
    if (stats.drawnModelTriangles < stats.modelTriangles)
        model +=
            "; drawn simplified, " + Plural(stats.drawnModelTriangles, "triangle", "triangles");
    lines.push_back(model);
    if (input.collision != nullptr) {
        std::string col = "Collision: " + Plural(stats.collisionFaces, "face", "faces") + ", " +
                          Plural(stats.spheres, "sphere", "spheres") + ", " +
                          Plural(stats.boxes, "box", "boxes");
        if (stats.drawnCollisionFaces < stats.collisionFaces)
            col += "; drawn simplified, " + Count(stats.drawnCollisionFaces) + " faces";
        if (stats.spheres > kMaxDrawnSpheres)
            col += "; the first " + Count(kMaxDrawnSpheres) + " spheres drawn";
        if (stats.boxes > kMaxDrawnBoxes)
            col += "; the first " + Count(kMaxDrawnBoxes) + " boxes drawn";
        lines.push_back(col);
        if (!input.collisionSource.empty())
            lines.push_back("Source: " + ShortText(input.collisionSource, 160));
        if (input.hasMaxDistance)
            lines.push_back("Largest distance measured from the model: " +
                            NumberText(input.maxDistance, 3) + " units");
    } else if (input.noCollisionReason.empty()) {
        lines.push_back("Collision: not drawn");
    } else {
        lines.push_back("Collision: none, " + ShortText(input.noCollisionReason, 160));
    }
    const size_t total = std::max(input.warningCount, input.warnings.size());
    lines.push_back(total == 0 ? std::string("Warnings: none") : "Warnings: " + Count(total));
    for (size_t i = 0; i < input.warnings.size() && i < options.maxWarningLines; ++i)
        lines.push_back("  " + ShortText(input.warnings[i], 150));
    const size_t shown = std::min(input.warnings.size(), options.maxWarningLines);
    if (total > shown)
        lines.push_back("  and " + Count(total - shown) + " more");
    return lines;
}

std::string DrawPicture(const PictureInput& input, const PictureOptions& options,
                        PictureStats* statsOut) {
    PictureStats stats;
    stats.modelTriangles = input.model.TriangleCount();
    const ColEntry* col = input.collision;
    std::vector<uint32_t> validFaces;
    if (col != nullptr) {
        stats.collisionFaces = col->faces.size();
        stats.spheres = col->spheres.size();
        stats.boxes = col->boxes.size();
        for (size_t f = 0; f < col->faces.size(); ++f) {
            if (FaceValid(*col, col->faces[f]))
                validFaces.push_back(static_cast<uint32_t>(f));
        }
    }

    size_t modelTarget = stats.modelTriangles;
    if (options.maxModelTriangles > 0)
        modelTarget = std::min(modelTarget, options.maxModelTriangles);
    size_t faceTarget = validFaces.size();

    // Shares what the bound leaves after the fixed parts between the model
    // and the collision, the smaller keeping what it needs, with a margin
    // for the legend growing by a line; each target then scales with the
    // bytes its part took.
    const auto share = [&](double fixed, double modelBytes, double collisionBytes,
                           size_t drawnModel, size_t drawnFaces) {
        const double room = std::max(0.0, 0.95 * static_cast<double>(options.maxBytes) - fixed);
        double modelRoom = room / 2, collisionRoom = room / 2;
        if (collisionBytes < collisionRoom)
            modelRoom = room - collisionBytes;
        else if (modelBytes < modelRoom)
            collisionRoom = room - modelBytes;
        if (modelBytes > modelRoom && modelBytes > 0) {
            modelTarget =
                static_cast<size_t>(static_cast<double>(drawnModel) * modelRoom / modelBytes);
            modelTarget = std::min(modelTarget, drawnModel > 0 ? drawnModel - 1 : 0);
        }
        if (collisionBytes > collisionRoom && collisionBytes > 0) {
            faceTarget = static_cast<size_t>(static_cast<double>(drawnFaces) * collisionRoom /
                                             collisionBytes);
            faceTarget = std::min(faceTarget, drawnFaces > 0 ? drawnFaces - 1 : 0);
        }
    };
    // A first guess for the collision, whose faces take about 110 bytes
    // each over the four views (none is left out seen edge on), so that a
    // large one is not drawn whole only to learn that it does not fit. The
    // model's size depends on how it faces the views: it is measured.
    {
        const double fixedGuess =
            20000.0 + 520.0 * static_cast<double>(std::min(stats.spheres, kMaxDrawnSpheres)) +
            1200.0 * static_cast<double>(std::min(stats.boxes, kMaxDrawnBoxes));
        const double half = (0.95 * static_cast<double>(options.maxBytes) - fixedGuess) / 2;
        if (110.0 * static_cast<double>(faceTarget) > half)
            faceTarget = static_cast<size_t>(std::max(0.0, half / 110.0));
    }

    std::string svg;
    Mesh reduced;
    ColEntry reducedCollision;
    for (int attempt = 0;; ++attempt) {
        Drawing drawing;
        if (modelTarget < stats.modelTriangles) {
            reduced = ReduceMesh(input.model, modelTarget);
            drawing.model = &reduced;
            stats.drawnModelTriangles = reduced.TriangleCount();
        } else {
            drawing.model = &input.model;
            stats.drawnModelTriangles = stats.modelTriangles;
        }
        if (faceTarget < validFaces.size()) {
            reducedCollision = ReduceCollisionFaces(*col, validFaces, faceTarget);
            drawing.collision = &reducedCollision;
            drawing.faces.resize(reducedCollision.faces.size());
            for (size_t i = 0; i < drawing.faces.size(); ++i)
                drawing.faces[i] = static_cast<uint32_t>(i);
        } else {
            drawing.collision = col;
            drawing.faces = validFaces;
        }
        stats.drawnCollisionFaces =
            drawing.faces.size() + (stats.collisionFaces - validFaces.size());
        Sizes sizes;
        svg = Compose(input, drawing, LegendLines(input, stats, options), &sizes);
        if (sizes.total <= options.maxBytes || attempt >= 12 ||
            (stats.drawnModelTriangles == 0 && drawing.faces.empty()))
            break;
        share(static_cast<double>(sizes.total - sizes.model - sizes.collision),
              static_cast<double>(sizes.model), static_cast<double>(sizes.collision),
              stats.drawnModelTriangles, drawing.faces.size());
        if (attempt == 11) {
            // The last attempt draws neither: the legend alone must fit.
            modelTarget = 0;
            faceTarget = 0;
        }
    }
    stats.bytes = svg.size();
    if (statsOut != nullptr)
        *statsOut = stats;
    return svg;
}

Mesh GatherModelMesh(const WholeModel& model, Placement placement,
                     std::vector<std::string>* skipped, size_t* skippedCount) {
    size_t skips = 0;
    const auto skip = [&](const std::string& line) {
        if (skipped != nullptr && skipped->size() < kMaxKeptProblems)
            skipped->push_back(line);
        ++skips;
    };
    Mesh mesh;
    std::vector<Point3> placed;
    std::vector<MeshTriangle> fromMesh;
    for (size_t a = 0; a < model.atomics.size(); ++a) {
        std::string why;
        const GeometryEntry* entry = model.GeometryOf(model.atomics[a]);
        if (!PlaceAtomic(model, a, placement, &placed, &why)) {
            skip("atomic " + std::to_string(a) + ": " + why);
            continue;
        }
        if (entry == nullptr || entry->geometry == nullptr || placed.empty())
            continue;
        const Geometry& g = *entry->geometry;
        const size_t count = g.triangleCount > 0 ? static_cast<size_t>(g.triangleCount) : 0;
        if (count == 0)
            continue;
        if (g.triangles == nullptr) {
            skip("atomic " + std::to_string(a) + ": its triangles could not be read");
            continue;
        }
        const TriangleCheck check = CheckTriangles(g);
        if (check.source == TriangleSource::kBroken) {
            skip("atomic " + std::to_string(a) + ": triangle " + std::to_string(check.badTriangle) +
                 " names vertex " + std::to_string(check.badVertex) +
                 ", which its geometry lacks, and no sound Bin Mesh stands in");
            continue;
        }
        if (mesh.VertexCount() + placed.size() > UINT32_MAX)
            break;  // more than the indices can name
        const auto base = static_cast<uint32_t>(mesh.VertexCount());
        for (const Point3& p : placed)
            mesh.positions.insert(mesh.positions.end(), {p.x, p.y, p.z});
        if (check.source == TriangleSource::kList) {
            for (size_t t = 0; t < count; ++t) {
                const uint8_t* r = g.triangles + 8 * t;
                // On disk: first, second, material, third.
                const uint32_t v[3] = {static_cast<uint32_t>(r[0] | (r[1] << 8)),
                                       static_cast<uint32_t>(r[2] | (r[3] << 8)),
                                       static_cast<uint32_t>(r[6] | (r[7] << 8))};
                mesh.indices.insert(mesh.indices.end(), {base + v[0], base + v[1], base + v[2]});
            }
        } else {
            fromMesh.clear();
            if (!BinMeshTriangles(g, &fromMesh))
                throw std::bad_alloc();
            for (const MeshTriangle& t : fromMesh)
                mesh.indices.insert(mesh.indices.end(), {base + t.a, base + t.b, base + t.c});
        }
    }
    if (skippedCount != nullptr)
        *skippedCount = skips;
    return mesh;
}

}  // namespace brennix::view
