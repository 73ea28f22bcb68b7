#include "col/ColGenerate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "col/FloatText.h"
#include "col/Simplify.h"
#include "dff/Triangles.h"
#include "stream/Endian.h"

namespace brennix {

namespace {

constexpr float kCoordinateMin = -256.0f;
constexpr float kCoordinateEnd = 256.0f;  // not included
// Without the 16-bit limit, coordinates are still counted in 1/128 units,
// which a 32-bit integer holds up to here.
constexpr float kWideCoordinateMin = -8388608.0f;
constexpr float kWideCoordinateEnd = 8388608.0f;  // not included
const char* const kAxisNames[3] = {"x", "y", "z"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Trim(const std::string& text) {
    const char* space = " \t\r\f\v";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

// A vertex in 1/128 units. A COL3 vertex takes 16 bits an axis; the
// generator counts in 32 so that collision written with float vertices is
// not bound to -256 .. 256.
struct WorkVertex {
    int32_t x, y, z;
    bool operator==(const WorkVertex& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const WorkVertex& o) const { return !(*this == o); }
};

// Coordinates in 1/128 units, truncated toward zero as the classic mesh
// generator does. The value must lie in -8388608 .. 8388608 (end excluded),
// and in -256 .. 256 for a COL3 vertex.
int32_t Quantise(float value) {
    return static_cast<int32_t>(std::trunc(value * 128.0f));
}

WorkVertex QuantiseVertex(const Point3& p) {
    return {Quantise(p.x), Quantise(p.y), Quantise(p.z)};
}

// A list in one block from std::malloc, which the collision model takes over
// as it is (and frees with std::free): the generated faces and vertices are
// never copied into it. Failing to grow throws std::bad_alloc, as a standard
// container would. T must be trivially copyable.
template <typename T>
class BlockList {
public:
    BlockList() = default;
    BlockList(const BlockList&) = delete;
    BlockList& operator=(const BlockList&) = delete;
    ~BlockList() { std::free(items_); }

    void reserve(size_t n) {
        if (n <= capacity_)
            return;
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        void* block = std::realloc(items_, n * sizeof(T));
        if (block == nullptr)
            throw std::bad_alloc();
        items_ = static_cast<T*>(block);
        capacity_ = n;
    }
    void push_back(const T& item) {
        if (size_ == capacity_)
            reserve(capacity_ < 1024 ? 1024 : 2 * capacity_);
        items_[size_++] = item;
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](size_t i) { return items_[i]; }
    const T& operator[](size_t i) const { return items_[i]; }
    T* begin() { return items_; }
    T* end() { return items_ + size_; }
    void swap(BlockList& other) {
        std::swap(items_, other.items_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    // Hands the block over (null when empty) and leaves the list empty.
    T* Release() {
        T* block = size_ > 0 ? items_ : nullptr;
        if (block == nullptr)
            std::free(items_);
        items_ = nullptr;
        size_ = capacity_ = 0;
        return block;
    }

private:
    T* items_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Maps quantised positions to merged vertex indices: open addressing over a
// power-of-two table of 4-byte slots, kept at most half full. A slot holds
// the index only; the position is that of the merged vertex it names. All
// ones marks an empty slot.
class WeldTable {
public:
    explicit WeldTable(const BlockList<WorkVertex>& vertices) : vertices_(vertices) {}

    void Reserve(size_t entries) {
        size_t wanted = 1024;
        while (wanted < 2 * entries && wanted < (size_t{1} << 30))
            wanted *= 2;
        if (wanted > slots_.size())
            Rehash(wanted);
    }

    // The index stored for `vertex`, or -1.
    int64_t Find(const WorkVertex& vertex) const {
        if (slots_.empty())
            return -1;
        const size_t mask = slots_.size() - 1;
        for (size_t i = Hash(vertex) & mask; slots_[i] != kEmpty; i = (i + 1) & mask) {
            if (vertices_[slots_[i]] == vertex)
                return slots_[i];
        }
        return -1;
    }

    // Stores merged vertex `index` (already in the vertex list) whose key is
    // not in the table yet.
    void Add(uint32_t index) {
        if ((size_ + 1) * 2 > slots_.size())
            Rehash(slots_.empty() ? 1024 : slots_.size() * 2);
        Put(index);
        ++size_;
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    static size_t Hash(const WorkVertex& v) {
        constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;
        uint64_t h = static_cast<uint32_t>(v.x);
        h = (h * kMix) ^ static_cast<uint32_t>(v.y);
        h = (h * kMix) ^ static_cast<uint32_t>(v.z);
        return static_cast<size_t>((h * kMix) >> 20);
    }

    void Put(uint32_t index) {
        const size_t mask = slots_.size() - 1;
        size_t i = Hash(vertices_[index]) & mask;
        while (slots_[i] != kEmpty)
            i = (i + 1) & mask;
        slots_[i] = index;
    }

    void Rehash(size_t slotCount) {
        std::vector<uint32_t> old(slotCount, kEmpty);
        old.swap(slots_);
        for (uint32_t slot : old) {
            if (slot != kEmpty)
                Put(slot);
        }
    }

    const BlockList<WorkVertex>& vertices_;
    std::vector<uint32_t> slots_;
    size_t size_ = 0;
};

// The most faces and merged vertices a model may give before simplifying, four
// times what a COL3 file holds: beyond them the work and memory would grow
// without bound (every atomic that draws one geometry adds its triangles
// again), and the collision of such a model is refused.
constexpr size_t kMaxWorkFaces = 4 * (size_t{kMaxColFaces} + 1);
constexpr size_t kMaxWorkVertices = 4 * (size_t{kMaxColVertices} + 1);
struct TooMuch {};

std::string TooMuchText() {
    return "more than " + std::to_string(kMaxWorkFaces) + " faces or " +
           std::to_string(kMaxWorkVertices) +
           " vertices to simplify; a collision is made of at most that many";
}

// A face before it is written: indices into every merged vertex.
struct WideFace {
    uint32_t a, b, c;
    uint8_t surface;
};

struct Bounds {
    float min[3] = {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::infinity()};
    float max[3] = {-std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()};
    bool any = false;

    void Add(const float p[3]) {
        for (int k = 0; k < 3; ++k) {
            min[k] = std::min(min[k], p[k]);
            max[k] = std::max(max[k], p[k]);
        }
        any = true;
    }
};

// Grows a radius until a float radius covers the squared distance.
float CoveringRadius(double squared) {
    float radius = static_cast<float>(std::sqrt(squared));
    while (static_cast<double>(radius) * radius < squared)
        radius = std::nextafter(radius, std::numeric_limits<float>::infinity());
    return radius;
}

double SquaredDistance(const float centre[3], const float p[3]) {
    double sum = 0;
    for (int k = 0; k < 3; ++k) {
        double d = static_cast<double>(p[k]) - centre[k];
        sum += d * d;
    }
    return sum;
}

void QuantisedPoint(const WorkVertex& v, float out[3]) {
    out[0] = v.x / 128.0f;
    out[1] = v.y / 128.0f;
    out[2] = v.z / 128.0f;
}

// The vertices of one atomic in model space: either the geometry's stored
// positions as they are, or placed copies of them.
struct AtomicPoints {
    const uint8_t* stored = nullptr;  // three file floats a vertex, when not placed
    std::vector<Point3> placed;       // when placed by frames
    size_t count = 0;

    Point3 operator[](size_t i) const {
        return stored != nullptr
                   ? Point3{Geometry::FloatAt(stored, 3 * i), Geometry::FloatAt(stored, 3 * i + 1),
                            Geometry::FloatAt(stored, 3 * i + 2)}
                   : placed[i];
    }
};

// The triangles of one atomic: its list as stored, or those of its Bin Mesh
// when the list names a missing vertex.
struct AtomicTriangles {
    const uint8_t* list = nullptr;  // 8 bytes a triangle: first, second, material, third
    std::vector<MeshTriangle> fromMesh;
    uint32_t count = 0;

    MeshTriangle operator[](uint32_t t) const {
        if (list == nullptr)
            return fromMesh[t];
        const uint8_t* record = list + 8 * static_cast<size_t>(t);
        return {LoadU16(record), LoadU16(record + 2), LoadU16(record + 6), LoadU16(record + 4)};
    }
};

// Works through one request; every failure is a reason in words.
class Generator {
public:
    // Makes `col`, or with `col` null, `entry` (float vertices).
    Generator(const WholeModel& model, const ColRequest& request, ColModel* col, ColEntry* entry,
              std::vector<std::string>* notes, ColStats* stats)
        : model_(model),
          request_(request),
          col_(col),
          entry_(col == nullptr ? entry : nullptr),
          wideRange_(request.wideRange && col == nullptr),
          notes_(notes),
          stats_(stats),
          weld_(vertices_) {}

    bool Run(std::string* why);

private:
    std::string Label(size_t atomicIndex) const;
    std::string ProblemOf(const std::string& step) const;
    const Geometry& GeometryOfChosen(size_t ordinal) const;
    void Note(const std::string& text);
    bool Skipped(size_t atomicIndex) const;
    std::vector<uint8_t> SurfacesOf(const Geometry& geometry) const;
    bool Place(size_t ordinal, AtomicPoints* points, std::string* why);
    bool TrianglesOf(size_t ordinal, AtomicTriangles* triangles, std::string* why);
    bool MarkUsed(size_t ordinal, const AtomicPoints& points, const AtomicTriangles& triangles,
                  std::string* why);
    bool CheckAndQuantise(size_t ordinal, const AtomicPoints& points, std::string* why);
    bool AddFaces(size_t ordinal, const AtomicPoints& points, const AtomicTriangles& triangles,
                  std::string* why);
    void DropRepeats();
    bool Lighten(std::string* why);
    bool FinishMesh(std::string* why);
    void MakeFaceGroups();
    bool Store(std::string* why);
    void StoreEntry();
    uint8_t BoxMaterial() const;

    const WholeModel& model_;
    const ColRequest& request_;
    ColModel* col_;
    ColEntry* entry_;
    const bool wideRange_;  // no -256 .. 256 limit: an entry holds floats
    std::vector<std::string>* notes_;
    ColStats* stats_;
    bool mesh_ = false;

    std::vector<size_t> chosen_;  // atomic indices, in file order
    // Per chosen atomic, the vertices its triangles use; empty when every
    // vertex counts (an atomic without triangles outside mesh mode, or no
    // merging).
    std::vector<std::vector<bool>> used_;
    Bounds bounds_;

    BlockList<WorkVertex> vertices_;    // every merged vertex
    std::vector<uint64_t> vertexRank_;  // welded: earliest (atomic, vertex) seen
    std::vector<WideFace> wide_;        // the faces, before any is dropped
    std::vector<uint32_t> order_;       // the merged vertices the faces use, as written
    BlockList<ColVertex> written_;      // the same in 16 bits, for a COL3 model
    BlockList<ColFace> faces_;
    std::vector<ColFaceGroup> groups_;
    WeldTable weld_;
    float centre_[3] = {0, 0, 0};
    double radiusSquared_ = 0;
    uint64_t triangleTotal_ = 0;  // triangles of the chosen atomics
    double distance_ = 0;         // largest measured between model and collision
    bool beyondBound_ = false;
};

std::string Generator::Label(size_t atomicIndex) const {
    std::string label = "atomic " + std::to_string(atomicIndex);
    const AtomicInfo& atomic = model_.atomics[atomicIndex];
    if (atomic.frameIndex < model_.frames.size() && model_.frames[atomic.frameIndex].hasName) {
        // The name comes from the file: keep the message one printable line.
        std::string name = model_.frames[atomic.frameIndex].name;
        for (char& c : name)
            c = (c < 0x20 || c == 0x7F) ? '?' : c;
        return label + " (frame \"" + name + "\")";
    }
    return label + " (frame " + std::to_string(atomic.frameIndex) + ")";
}

// The reader's reason for a step, in brackets, or nothing.
std::string Generator::ProblemOf(const std::string& step) const {
    for (const ModelProblem& problem : model_.problems) {
        if (problem.step == step)
            return " (" + problem.message + ")";
    }
    return "";
}

// The geometry of a chosen atomic, which Place has found read whole.
const Geometry& Generator::GeometryOfChosen(size_t ordinal) const {
    return *model_.GeometryOf(model_.atomics[chosen_[ordinal]])->geometry;
}

void Generator::Note(const std::string& text) {
    if (notes_ == nullptr)
        return;
    try {
        notes_->push_back(text);
    } catch (...) {
        // A note is not worth failing the model for.
    }
}

bool Generator::Skipped(size_t atomicIndex) const {
    if (request_.skip.empty())
        return false;
    const AtomicInfo& atomic = model_.atomics[atomicIndex];
    const std::string name =
        atomic.frameIndex < model_.frames.size() ? model_.frames[atomic.frameIndex].name : "";
    for (const std::string& pattern : request_.skip) {
        if (GlobMatch(pattern, name))
            return true;
    }
    return false;
}

// The surface of each material of a geometry.
std::vector<uint8_t> Generator::SurfacesOf(const Geometry& geometry) const {
    std::vector<uint8_t> surfaces(geometry.materials.count, request_.surface);
    if (request_.surfaces.empty())
        return surfaces;
    for (uint32_t i = 0; i < geometry.materials.count; ++i) {
        const Material* material = geometry.materials.items[i];
        if (material == nullptr || material->structWords[3] == 0)
            continue;
        const TextureSlot& texture = material->textures[0];
        if (texture.name == nullptr)
            continue;
        const std::string name(reinterpret_cast<const char*>(texture.name), texture.nameLength);
        if (name.empty())
            continue;
        for (const SurfaceRule& rule : request_.surfaces) {
            if (GlobMatch(rule.pattern, name)) {
                surfaces[i] = rule.surface;
                break;
            }
        }
    }
    return surfaces;
}

bool Generator::Place(size_t ordinal, AtomicPoints* points, std::string* why) {
    const size_t index = chosen_[ordinal];
    std::string reason;
    points->stored = nullptr;
    points->count = 0;
    if (ResolvePlacement(model_, request_.placement) == Placement::kNone) {
        // As stored: read straight from the geometry, as PlaceAtomic would
        // copy it bit for bit.
        points->placed.clear();
        const AtomicInfo& atomic = model_.atomics[index];
        const GeometryEntry* entry = model_.GeometryOf(atomic);
        if (entry == nullptr) {
            reason = "geometry " + std::to_string(atomic.geometryIndex) + " does not exist";
        } else if (!entry->ok) {
            reason = "geometry " + std::to_string(atomic.geometryIndex) + " could not be read";
        } else {
            const Geometry& geometry = *entry->geometry;
            if (geometry.positions != nullptr && geometry.vertexCount > 0) {
                points->stored = geometry.positions;
                points->count = static_cast<size_t>(geometry.vertexCount);
            }
            return true;
        }
    } else if (PlaceAtomic(model_, index, request_.placement, &points->placed, &reason)) {
        points->count = points->placed.size();
        return true;
    }
    // Add why the reader gave up on the geometry, when it did.
    *why = Label(index) + ": " + reason +
           ProblemOf("geometry " + std::to_string(model_.atomics[index].geometryIndex));
    return false;
}

bool Generator::TrianglesOf(size_t ordinal, AtomicTriangles* triangles, std::string* why) {
    const size_t index = chosen_[ordinal];
    const Geometry& geometry = GeometryOfChosen(ordinal);
    triangles->list = nullptr;
    triangles->fromMesh.clear();
    triangles->count =
        geometry.triangleCount > 0 ? static_cast<uint32_t>(geometry.triangleCount) : 0;
    if (triangles->count == 0)
        return true;
    if (geometry.triangles == nullptr) {
        *why = Label(index) + ": its triangles could not be read";
        return false;
    }
    triangles->list = geometry.triangles;
    // A triangle list that names a missing vertex gives way to a sound Bin
    // Mesh, which is what other readers draw.
    const TriangleCheck check = CheckTriangles(geometry);
    if (check.source == TriangleSource::kList)
        return true;
    std::string fault = Label(index) + ": triangle " + std::to_string(check.badTriangle) +
                        " names vertex " + std::to_string(check.badVertex) +
                        ", not below the vertex count " + std::to_string(geometry.vertexCount);
    if (check.source == TriangleSource::kBroken) {
        *why = fault + (check.hasBinMesh ? ", and its Bin Mesh names vertex " +
                                               std::to_string(check.badMeshVertex) + " too"
                                         : ", and it has no Bin Mesh to take the triangles from");
        return false;
    }
    if (!BinMeshTriangles(geometry, &triangles->fromMesh)) {
        *why = "out of memory";
        return false;
    }
    triangles->list = nullptr;
    triangles->count =
        static_cast<uint32_t>(std::min<size_t>(triangles->fromMesh.size(), UINT32_MAX));
    Note(fault + "; the " + std::to_string(triangles->count) +
         " triangles of its Bin Mesh are taken instead");
    return true;
}

// Vertices that no triangle uses are no part of the collision: they neither
// widen the bounds nor are checked against the range. Models carry garbage
// there that the game never draws.
bool Generator::MarkUsed(size_t ordinal, const AtomicPoints& points,
                         const AtomicTriangles& triangles, std::string* why) {
    std::vector<bool>& used = used_[ordinal];
    used.clear();
    if (!request_.weld || (triangles.count == 0 && !mesh_))
        return true;
    used.assign(points.count, false);
    for (uint32_t t = 0; t < triangles.count; ++t) {
        const MeshTriangle triangle = triangles[t];
        for (uint32_t corner : {triangle.a, triangle.b, triangle.c}) {
            if (corner >= points.count) {
                // The placed vertices are fewer than the geometry declares.
                *why = Label(chosen_[ordinal]) + ": triangle " + std::to_string(t) +
                       " names vertex " + std::to_string(corner) + ", not below the vertex count " +
                       std::to_string(points.count);
                return false;
            }
            used[corner] = true;
        }
    }
    return true;
}

bool Generator::CheckAndQuantise(size_t ordinal, const AtomicPoints& points, std::string* why) {
    // A stored infinity turns every placed axis into a NaN, so the stored
    // value is named when it is the cause.
    const Geometry& geometry = GeometryOfChosen(ordinal);
    const std::vector<bool>& used = used_[ordinal];
    for (size_t i = 0; i < points.count; ++i) {
        if (!used.empty() && !used[i])
            continue;
        const Point3 point = points[i];
        const float p[3] = {point.x, point.y, point.z};
        float stored[3];
        for (int k = 0; k < 3; ++k)
            stored[k] = Geometry::FloatAt(geometry.positions, 3 * i + k);
        for (int k = 0; k < 3; ++k) {
            if (!std::isfinite(stored[k])) {
                *why = Label(chosen_[ordinal]) + ": vertex " + std::to_string(i) + " has " +
                       kAxisNames[k] + " = " + ShortestFloatText(stored[k]) +
                       ", which is not a finite number";
                return false;
            }
        }
        for (int k = 0; k < 3; ++k) {
            const char* problem = nullptr;
            if (!std::isfinite(p[k]))
                problem = ", which is not a finite number";
            else if (mesh_ && !wideRange_ && !(p[k] >= kCoordinateMin && p[k] < kCoordinateEnd))
                problem = ", outside -256 .. 255.99";
            else if (mesh_ && !(p[k] >= kWideCoordinateMin && p[k] < kWideCoordinateEnd))
                problem = ", outside -8388608 .. 8388607.99";
            if (problem != nullptr) {
                *why = Label(chosen_[ordinal]) + ": vertex " + std::to_string(i) + " has " +
                       kAxisNames[k] + " = " + ShortestFloatText(p[k]) + problem;
                return false;
            }
        }
        bounds_.Add(p);
        if (mesh_) {
            float q[3];
            QuantisedPoint(QuantiseVertex(point), q);
            // Truncation moves a point toward zero, which may take it outside
            // the box of the unquantised points.
            bounds_.Add(q);
        }
    }
    return true;
}

bool Generator::AddFaces(size_t ordinal, const AtomicPoints& points,
                         const AtomicTriangles& triangles, std::string* why) {
    const size_t index = chosen_[ordinal];
    const Geometry& geometry = GeometryOfChosen(ordinal);
    // Quantised again where needed rather than kept for every vertex: a
    // model may hold many more vertices than its faces use.
    const size_t vertexCount = points.count;
    auto quantised = [&points](size_t local) { return QuantiseVertex(points[local]); };
    const std::vector<uint8_t> surfaces = SurfacesOf(geometry);
    const bool weld = request_.weld;

    if (!weld) {
        if (vertexCount > kMaxColVertices - vertices_.size()) {
            *why = "more than " + std::to_string(kMaxColVertices) +
                   " vertices; a COL3 file holds at most that many";
            return false;
        }
        if (triangles.count > kMaxColFaces - wide_.size()) {
            *why = "more than " + std::to_string(kMaxColFaces) +
                   " faces; a COL3 file holds at most that many";
            return false;
        }
    }
    const uint32_t base = static_cast<uint32_t>(vertices_.size());
    if (!weld)
        for (size_t i = 0; i < vertexCount; ++i)
            vertices_.push_back(quantised(i));

    // Welded: local vertex -> merged vertex, looked up the first time a kept
    // face uses it, so only vertices of kept faces are written.
    constexpr uint32_t kUnmerged = 0xFFFFFFFFu;
    std::vector<uint32_t> merged(weld ? vertexCount : 0, kUnmerged);
    auto merge = [&](uint32_t local) {
        if (merged[local] == kUnmerged) {
            const WorkVertex vertex = quantised(local);
            const uint64_t rank = (static_cast<uint64_t>(ordinal) << 32) | local;
            int64_t found = weld_.Find(vertex);
            if (found < 0) {
                if (vertices_.size() >= kMaxWorkVertices)
                    throw TooMuch();
                found = static_cast<int64_t>(vertices_.size());
                vertices_.push_back(vertex);
                vertexRank_.push_back(rank);
                weld_.Add(static_cast<uint32_t>(found));
            } else {
                vertexRank_[static_cast<size_t>(found)] =
                    std::min(vertexRank_[static_cast<size_t>(found)], rank);
            }
            merged[local] = static_cast<uint32_t>(found);
        }
        return merged[local];
    };

    for (uint32_t t = 0; t < triangles.count; ++t) {
        const MeshTriangle triangle = triangles[t];
        for (uint32_t corner : {triangle.a, triangle.b, triangle.c}) {
            if (corner >= vertexCount) {
                *why = Label(index) + ": triangle " + std::to_string(t) + " names vertex " +
                       std::to_string(corner) + ", not below the vertex count " +
                       std::to_string(vertexCount);
                return false;
            }
        }
        const uint8_t surface =
            triangle.material < surfaces.size() ? surfaces[triangle.material] : request_.surface;
        if (!weld) {
            // Kept as they are, a triangle of repeated vertices included.
            wide_.push_back({base + triangle.c, base + triangle.a, base + triangle.b, surface});
            if (wide_.size() > kMaxWorkFaces)
                throw TooMuch();
            continue;
        }
        const WorkVertex a = quantised(triangle.c), b = quantised(triangle.a),
                         c = quantised(triangle.b);
        if (a == b || b == c || a == c)
            continue;  // collapsed to a line or a point
        wide_.push_back({merge(triangle.c), merge(triangle.a), merge(triangle.b), surface});
        if (wide_.size() > kMaxWorkFaces)
            throw TooMuch();
    }
    triangleTotal_ += triangles.count;
    return true;
}

// Drops every face that repeats an earlier one: the same three corners, in
// either turn.
void Generator::DropRepeats() {
    auto corners = [this](uint32_t f) {
        std::array<uint32_t, 3> v = {wide_[f].a, wide_[f].b, wide_[f].c};
        std::sort(v.begin(), v.end());
        return v;
    };
    std::vector<uint32_t> order(wide_.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t l, uint32_t r) {
        const auto cl = corners(l), cr = corners(r);
        return cl < cr || (cl == cr && l < r);
    });
    std::vector<bool> repeat(wide_.size(), false);
    bool any = false;
    for (size_t i = 1; i < order.size(); ++i) {
        if (corners(order[i]) == corners(order[i - 1])) {
            repeat[order[i]] = true;
            any = true;
        }
    }
    if (!any)
        return;
    size_t kept = 0;
    for (size_t f = 0; f < wide_.size(); ++f) {
        if (!repeat[f])
            wide_[kept++] = wide_[f];
    }
    Note(std::to_string(wide_.size() - kept) + " repeated " +
         (wide_.size() - kept == 1 ? "triangle" : "triangles") +
         " (the same three corners as another) left out");
    wide_.resize(kept);
}

std::string FormatDistance(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

size_t CountUsed(const std::vector<WideFace>& faces, size_t vertexCount) {
    std::vector<bool> used(vertexCount, false);
    size_t count = 0;
    for (const WideFace& face : faces) {
        for (uint32_t v : {face.a, face.b, face.c}) {
            if (!used[v]) {
                used[v] = true;
                ++count;
            }
        }
    }
    return count;
}

// Simplifies the welded faces within the request's bound, and further when
// the file's limits or the face limit ask for it.
bool Generator::Lighten(std::string* why) {
    const size_t faceLimit =
        request_.maxFaces > 0 ? std::min(request_.maxFaces, kMaxColFaces) : kMaxColFaces;
    const size_t usedCount = CountUsed(wide_, vertices_.size());
    const bool overLimits = wide_.size() > faceLimit || usedCount > kMaxColVertices;
    if (!(request_.maxError > 0) && !overLimits)
        return true;
    if (!(request_.maxError > 0) && request_.maxFaces == 0) {
        // Every triangle was asked for, and they do not fit.
        *why = wide_.size() > kMaxColFaces
                   ? "more than " + std::to_string(kMaxColFaces) +
                         " faces after merging; a COL3 file holds at most that many"
                   : "more than " + std::to_string(kMaxColVertices) +
                         " vertices after merging; a COL3 file holds at most that many";
        return false;
    }
    std::vector<float> positions(3 * vertices_.size());
    for (size_t v = 0; v < vertices_.size(); ++v)
        QuantisedPoint(vertices_[v], &positions[3 * v]);
    std::vector<uint32_t> indices(3 * wide_.size());
    std::vector<uint8_t> surfaces(wide_.size());
    for (size_t f = 0; f < wide_.size(); ++f) {
        indices[3 * f] = wide_[f].a;
        indices[3 * f + 1] = wide_[f].b;
        indices[3 * f + 2] = wide_[f].c;
        surfaces[f] = wide_[f].surface;
    }
    SimplifyInput input;
    input.positions = positions.data();
    input.vertexCount = vertices_.size();
    input.indices = indices.data();
    input.surfaces = surfaces.data();
    input.triangleCount = wide_.size();
    SimplifyOptions options;
    options.maxError = request_.maxError > 0 ? request_.maxError : 0;
    options.maxTriangles = faceLimit;
    options.maxVertices = kMaxColVertices;
    SimplifyResult result;
    SimplifyMesh(input, options, &result);
    const size_t count = result.surfaces.size();
    if (result.overLimits) {
        *why = request_.maxFaces > 0 && count > faceLimit
                   ? "cannot be made with " + std::to_string(request_.maxFaces) +
                         " faces or fewer: the lightest collision found has " +
                         std::to_string(count)
                   : "does not fit a COL3 file (at most " + std::to_string(kMaxColFaces) +
                         " faces and " + std::to_string(kMaxColVertices) +
                         " vertices) however far it is simplified";
        return false;
    }
    wide_.resize(count);
    for (size_t f = 0; f < count; ++f)
        wide_[f] = {result.indices[3 * f], result.indices[3 * f + 1], result.indices[3 * f + 2],
                    result.surfaces[f]};
    distance_ = result.maxDistance;
    beyondBound_ = result.beyondBound;
    if (result.beyondBound) {
        const std::string limit =
            request_.maxFaces > 0 && request_.maxFaces <= kMaxColFaces &&
                    (usedCount <= kMaxColVertices || result.surfaces.size() <= request_.maxFaces)
                ? "to reach --max-faces " + std::to_string(request_.maxFaces)
                : "to fit a COL3 file (at most " + std::to_string(kMaxColFaces) +
                      " faces and vertices)";
        Note("simplified past --max-error " + FormatDistance(request_.maxError) + " " + limit +
             ": " + std::to_string(count) + " faces, largest distance " +
             FormatDistance(result.maxDistance));
    }
    return true;
}

// Writes the faces in 16 bits over the vertices they use, in the order of
// the vertices' first appearance in the atomics' vertex lists, which for one
// atomic without repeated points is the geometry's own order.
bool Generator::FinishMesh(std::string* why) {
    if (request_.weld) {
        DropRepeats();
        if (!Lighten(why))
            return false;
    }
    std::vector<uint32_t> order;
    if (request_.weld) {
        std::vector<bool> used(vertices_.size(), false);
        for (const WideFace& face : wide_) {
            for (uint32_t v : {face.a, face.b, face.c}) {
                if (!used[v]) {
                    used[v] = true;
                    order.push_back(v);
                }
            }
        }
        std::sort(order.begin(), order.end(),
                  [&](uint32_t l, uint32_t r) { return vertexRank_[l] < vertexRank_[r]; });
    } else {
        order.resize(vertices_.size());
        for (uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
    }
    if (order.size() > kMaxColVertices) {
        *why = "more than " + std::to_string(kMaxColVertices) + " vertices" +
               (request_.weld ? " after merging" : "") + "; a COL3 file holds at most that many";
        return false;
    }
    if (wide_.size() > kMaxColFaces) {
        *why = "more than " + std::to_string(kMaxColFaces) +
               " faces; a COL3 file holds at most that many";
        return false;
    }
    std::vector<uint16_t> newIndex(vertices_.size(), 0);
    for (size_t i = 0; i < order.size(); ++i)
        newIndex[order[i]] = static_cast<uint16_t>(i);
    if (entry_ == nullptr) {
        // Every coordinate was checked to lie in -256 .. 256: 16 bits hold it.
        written_.reserve(order.size());
        for (uint32_t v : order)
            written_.push_back({static_cast<int16_t>(vertices_[v].x),
                                static_cast<int16_t>(vertices_[v].y),
                                static_cast<int16_t>(vertices_[v].z)});
    }
    order_.swap(order);
    faces_.reserve(wide_.size());
    for (const WideFace& face : wide_)
        faces_.push_back({newIndex[face.a], newIndex[face.b], newIndex[face.c], face.surface, 255});
    return true;
}

// Orders the faces so that each group is a contiguous run of at most
// kMaxFacesPerGroup faces, splitting along the longest axis of the face
// centres at the median, and records each group's box and face range.
void Generator::MakeFaceGroups() {
    struct Range {
        size_t begin, end;
    };
    auto centre = [&](const ColFace& f, int k) {
        int64_t sum = 0;
        for (uint16_t corner : {f.a, f.b, f.c}) {
            const WorkVertex& p = vertices_[order_[corner]];
            sum += k == 0 ? p.x : (k == 1 ? p.y : p.z);
        }
        return sum;  // three times the centre, in 1/128 units
    };
    std::vector<Range> pending{{0, faces_.size()}};
    std::vector<Range> done;
    while (!pending.empty()) {
        Range r = pending.back();
        pending.pop_back();
        if (r.end - r.begin <= kMaxFacesPerGroup) {
            done.push_back(r);
            continue;
        }
        int64_t low[3], high[3];
        for (int k = 0; k < 3; ++k) {
            low[k] = high[k] = centre(faces_[r.begin], k);
            for (size_t i = r.begin + 1; i < r.end; ++i) {
                low[k] = std::min(low[k], centre(faces_[i], k));
                high[k] = std::max(high[k], centre(faces_[i], k));
            }
        }
        int axis = 0;
        for (int k = 1; k < 3; ++k) {
            if (high[k] - low[k] > high[axis] - low[axis])
                axis = k;
        }
        const size_t middle = r.begin + (r.end - r.begin) / 2;
        std::nth_element(faces_.begin() + static_cast<std::ptrdiff_t>(r.begin),
                         faces_.begin() + static_cast<std::ptrdiff_t>(middle),
                         faces_.begin() + static_cast<std::ptrdiff_t>(r.end),
                         [&](const ColFace& l, const ColFace& rr) {
                             return centre(l, axis) < centre(rr, axis);
                         });
        // The second half is worked on last, so groups come out in face order.
        pending.push_back({middle, r.end});
        pending.push_back({r.begin, middle});
    }
    groups_.resize(done.size());
    for (size_t g = 0; g < done.size(); ++g) {
        Bounds box;
        for (size_t i = done[g].begin; i < done[g].end; ++i) {
            for (uint16_t corner : {faces_[i].a, faces_[i].b, faces_[i].c}) {
                float q[3];
                QuantisedPoint(vertices_[order_[corner]], q);
                box.Add(q);
            }
        }
        uint8_t* out = groups_[g].bytes;
        for (int k = 0; k < 3; ++k) {
            StoreF32(out + 4 * k, box.min[k]);
            StoreF32(out + 12 + 4 * k, box.max[k]);
        }
        StoreU16(out + 24, static_cast<uint16_t>(done[g].begin));
        StoreU16(out + 26, static_cast<uint16_t>(done[g].end - 1));
    }
}

// The box shape takes the first atomic's first material's surface.
uint8_t Generator::BoxMaterial() const {
    const std::vector<uint8_t> surfaces = SurfacesOf(GeometryOfChosen(0));
    return surfaces.empty() ? request_.surface : surfaces[0];
}

// The collision as a file entry: what reading the COL3 file of the same
// model gives, with the vertices as they were made.
void Generator::StoreEntry() {
    ColEntry& entry = *entry_;
    entry.version = 3;
    for (int k = 0; k < 3; ++k) {
        entry.boundsMin[k] = bounds_.min[k];
        entry.boundsMax[k] = bounds_.max[k];
        entry.centre[k] = centre_[k];
    }
    entry.radius = CoveringRadius(radiusSquared_);
    if (request_.shape == ColShape::kBox) {
        ColFileBox box;
        std::memcpy(box.min, bounds_.min, sizeof box.min);
        std::memcpy(box.max, bounds_.max, sizeof box.max);
        box.surface = {BoxMaterial(), 0, 255, 255};
        entry.boxes.push_back(box);
    }
    // A reader finds the vertices only as far as the faces name them.
    size_t named = 0;
    for (const ColFace& face : faces_)
        named = std::max<size_t>(named, std::max({face.a, face.b, face.c}) + size_t{1});
    entry.vertices.reserve(named);
    for (size_t i = 0; i < named; ++i) {
        const uint32_t v = order_[i];
        float q[3];
        QuantisedPoint(vertices_[v], q);
        entry.vertices.push_back({q[0], q[1], q[2]});
    }
    entry.faces.reserve(faces_.size());
    for (const ColFace& face : faces_) {
        ColFileFace out;
        out.a = face.a;
        out.b = face.b;
        out.c = face.c;
        out.surface.material = face.material;
        out.surface.light = face.light;
        entry.faces.push_back(out);
    }
    entry.flags = entry.boxes.empty() && entry.faces.empty() ? 0 : 2;
}

bool Generator::Store(std::string* why) {
    if (entry_ != nullptr) {
        StoreEntry();
        return true;
    }
    ColHeader& header = col_->header;
    for (int k = 0; k < 3; ++k) {
        header.boundsMin[k] = bounds_.min[k];
        header.boundsMax[k] = bounds_.max[k];
        header.sphereCentre[k] = centre_[k];
    }
    header.sphereRadius = CoveringRadius(radiusSquared_);

    if (request_.shape == ColShape::kBox) {
        ColBox* box = new (std::nothrow) ColBox();
        if (box == nullptr || col_->boxes.Add(box) < 0) {
            delete box;
            *why = "out of memory";
            return false;
        }
        std::memcpy(box->min, bounds_.min, sizeof box->min);
        std::memcpy(box->max, bounds_.max, sizeof box->max);
        box->surface = {BoxMaterial(), 0, 255, 255};
    }
    if (!mesh_)
        return true;
    auto copy = [&](const auto& items, auto** target, uint32_t* count) {
        using Item = typename std::decay_t<decltype(items)>::value_type;
        if (items.empty())
            return true;
        Item* block = static_cast<Item*>(std::malloc(items.size() * sizeof(Item)));
        if (block == nullptr)
            return false;
        std::memcpy(block, items.data(), items.size() * sizeof(Item));
        *target = block;
        *count = static_cast<uint32_t>(items.size());
        return true;
    };
    if (!copy(groups_, &col_->faceGroups, &col_->faceGroupCount)) {
        *why = "out of memory";
        return false;
    }
    // The faces and vertices are handed over in the blocks they were made in.
    col_->faceCount = static_cast<uint32_t>(faces_.size());
    col_->faces = faces_.Release();
    col_->vertexCount = static_cast<uint32_t>(written_.size());
    col_->vertices = written_.Release();
    return true;
}

bool Generator::Run(std::string* why) {
    mesh_ = request_.shape == ColShape::kMesh;
    if (model_.outOfMemory) {
        *why = "out of memory";
        return false;
    }
    if (!model_.hasClump) {
        *why = model_.problems.empty() ? "no clump" : model_.problems.front().message;
        return false;
    }
    if (model_.atomics.empty()) {
        // A clump cut short before its atomics says so.
        *why = "the clump has no atomic";
        if (!model_.problems.empty())
            *why +=
                " (" + model_.problems.front().step + ": " + model_.problems.front().message + ")";
        return false;
    }
    for (size_t i = 0; i < model_.atomics.size(); ++i) {
        if (Skipped(i))
            continue;
        if (!model_.atomics[i].valid) {
            *why = Label(i) + ": the atomic could not be read" +
                   ProblemOf("atomic " + std::to_string(i));
            return false;
        }
        chosen_.push_back(i);
    }
    if (chosen_.empty()) {
        *why = "every atomic is skipped";
        return false;
    }

    size_t expected = 0, triangles = 0;
    for (size_t index : chosen_) {
        const GeometryEntry* entry = model_.GeometryOf(model_.atomics[index]);
        if (entry == nullptr || entry->geometry == nullptr)
            continue;  // Place says why
        expected += static_cast<size_t>(std::max(entry->geometry->vertexCount, 0));
        triangles += static_cast<size_t>(std::max(entry->geometry->triangleCount, 0));
    }
    if (mesh_) {
        // Room for all at once: a list grown by doubling takes fresh pages
        // for every copy. Pages reserved but never filled cost nothing.
        // Counts repeat for every atomic that draws one geometry, so the
        // room is bounded as the work is.
        expected = std::min(expected, kMaxWorkVertices);
        vertices_.reserve(expected);
        wide_.reserve(std::min(triangles, kMaxWorkFaces));
        if (request_.weld) {
            vertexRank_.reserve(expected);
            weld_.Reserve(expected);
        }
    }
    used_.resize(chosen_.size());
    AtomicPoints points;
    AtomicTriangles atomicTriangles;
    bool anyPosition = false;
    for (size_t ordinal = 0; ordinal < chosen_.size(); ++ordinal) {
        if (!Place(ordinal, &points, why))
            return false;
        anyPosition = anyPosition || points.count > 0;
        if (mesh_) {
            if (!TrianglesOf(ordinal, &atomicTriangles, why))
                return false;
        } else {
            // The shape needs no triangle: a list that cannot be trusted only
            // means every vertex counts.
            atomicTriangles = AtomicTriangles();
            const Geometry& geometry = GeometryOfChosen(ordinal);
            if (geometry.triangleCount > 0 && geometry.triangles != nullptr &&
                CheckTriangles(geometry).source == TriangleSource::kList) {
                atomicTriangles.list = geometry.triangles;
                atomicTriangles.count = static_cast<uint32_t>(geometry.triangleCount);
            }
        }
        if (!MarkUsed(ordinal, points, atomicTriangles, why) ||
            !CheckAndQuantise(ordinal, points, why))
            return false;
        if (mesh_ && !AddFaces(ordinal, points, atomicTriangles, why))
            return false;
    }
    if (!anyPosition || (!mesh_ && !bounds_.any)) {
        *why = "no vertex to make collision from: the chosen atomics hold no positions";
        return false;
    }
    if (mesh_ && wide_.empty()) {
        *why = triangleTotal_ == 0
                   ? std::string("no face to make: the chosen atomics hold no triangle")
                   : "no face left: every one of the " + std::to_string(triangleTotal_) +
                         " triangles collapses to a line or a point at 1/128 units";
        return false;
    }
    if (mesh_ && !FinishMesh(why))
        return false;

    // The sphere is centred on the box; its radius needs a second look at
    // every point.
    for (int k = 0; k < 3; ++k)
        centre_[k] = static_cast<float>(
            (static_cast<double>(bounds_.min[k]) + static_cast<double>(bounds_.max[k])) / 2);
    for (size_t ordinal = 0; ordinal < chosen_.size(); ++ordinal) {
        if (!Place(ordinal, &points, why))
            return false;
        const std::vector<bool>& used = used_[ordinal];
        for (size_t i = 0; i < points.count; ++i) {
            if (!used.empty() && !used[i])
                continue;
            const Point3 point = points[i];
            const float p[3] = {point.x, point.y, point.z};
            radiusSquared_ = std::max(radiusSquared_, SquaredDistance(centre_, p));
            if (mesh_) {
                float q[3];
                QuantisedPoint({Quantise(p[0]), Quantise(p[1]), Quantise(p[2])}, q);
                radiusSquared_ = std::max(radiusSquared_, SquaredDistance(centre_, q));
            }
        }
    }
    // An entry is made for the versions that hold no face groups.
    const bool groups =
        entry_ == nullptr &&
        (request_.faceGroups == FaceGroups::kOn ||
         (request_.faceGroups == FaceGroups::kAuto && faces_.size() > kFaceGroupThreshold));
    if (mesh_ && groups && !faces_.empty())
        MakeFaceGroups();
    if (stats_ != nullptr) {
        stats_->triangles = triangleTotal_;
        stats_->faces = static_cast<uint32_t>(faces_.size());
        stats_->vertices = static_cast<uint32_t>(order_.size());
        stats_->maxDistance = distance_;
        stats_->beyondBound = beyondBound_;
    }
    return Store(why);
}

}  // namespace

bool GenerateCol(const WholeModel& model, const ColRequest& request, ColModel* col,
                 std::string* why, std::vector<std::string>* notes, ColStats* stats) {
    std::string reason;
    if (stats != nullptr)
        *stats = ColStats();
    try {
        Generator generator(model, request, col, nullptr, notes, stats);
        if (generator.Run(&reason))
            return true;
    } catch (const TooMuch&) {
        reason = TooMuchText();
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (...) {
        reason = "internal failure";
    }
    col->Release();
    if (why != nullptr)
        why->swap(reason);
    return false;
}

namespace {

// The model's name as an entry holds it: up to a zero byte, and cut to
// kMaxColNameLength bytes, which `notes` tells of.
std::string ColNameOf(const std::string& modelName, std::vector<std::string>* notes) {
    std::string name = modelName.substr(0, std::min(modelName.find('\0'), modelName.size()));
    if (name.size() > kMaxColNameLength) {
        if (notes != nullptr)
            notes->push_back("model name \"" + name + "\" cut to \"" +
                             name.substr(0, kMaxColNameLength) + "\" (" +
                             std::to_string(kMaxColNameLength) + " bytes at most)");
        name.resize(kMaxColNameLength);
    }
    return name;
}

}  // namespace

bool GenerateColEntry(const WholeModel& model, const ColRequest& request,
                      const std::string& modelName, ColEntry* entry, std::string* why,
                      std::vector<std::string>* notes, ColStats* stats) {
    std::string reason;
    if (stats != nullptr)
        *stats = ColStats();
    try {
        *entry = ColEntry();
        Generator generator(model, request, nullptr, entry, notes, stats);
        if (generator.Run(&reason)) {
            entry->name = ColNameOf(modelName, notes);
            std::memcpy(entry->nameBytes, entry->name.data(), entry->name.size());
            return true;
        }
    } catch (const TooMuch&) {
        reason = TooMuchText();
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (...) {
        reason = "internal failure";
    }
    try {
        *entry = ColEntry();
    } catch (...) {
    }
    if (why != nullptr)
        why->swap(reason);
    return false;
}

bool GenerateColBytes(const WholeModel& model, const ColRequest& request,
                      const std::string& modelName, ByteBuffer* out, std::string* why,
                      std::vector<std::string>* notes, ColStats* stats) {
    std::string reason;
    out->Reset();
    try {
        ColModel col;
        if (!GenerateCol(model, request, &col, &reason, notes, stats)) {
            if (why != nullptr)
                why->swap(reason);
            return false;
        }
        const std::string name = ColNameOf(modelName, notes);
        if (col.BuildFile(*out, name.c_str(), ColConvention::kStandard))
            return true;
        reason = "out of memory";
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (...) {
        reason = "internal failure";
    }
    out->Reset();
    if (why != nullptr)
        why->swap(reason);
    return false;
}

bool GenerateColBytes(const WholeModel& model, const ColRequest& request,
                      const std::string& modelName, std::vector<uint8_t>* out, std::string* why,
                      std::vector<std::string>* notes, ColStats* stats) {
    out->clear();
    ByteBuffer file;
    if (!GenerateColBytes(model, request, modelName, &file, why, notes, stats))
        return false;
    bool copied = false;
    try {
        out->assign(file.data, file.data + file.length);
        copied = true;
    } catch (...) {
        out->clear();
        if (why != nullptr)
            *why = "out of memory";
    }
    file.Release();
    return copied;
}

bool GlobMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0;
    size_t star = std::string::npos, starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starText = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || Lower(pattern[p]) == Lower(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            // Let the last star take one more character and try again.
            p = star + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool ParseSurfaceRules(const std::string& text, std::vector<SurfaceRule>* out, std::string* why) {
    std::vector<SurfaceRule> rules;
    size_t lineNumber = 0;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        auto fail = [&](const std::string& problem) {
            if (why != nullptr)
                *why = "line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        };
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            return fail("expected PATTERN = ID, found \"" + line + "\"");
        SurfaceRule rule;
        rule.pattern = Trim(line.substr(0, equals));
        const std::string id = Trim(line.substr(equals + 1));
        if (rule.pattern.empty())
            return fail("no texture name pattern before '='");
        unsigned value = 0;
        bool number = !id.empty() && id.size() <= 3;
        for (char c : id) {
            number = number && c >= '0' && c <= '9';
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (!number || value > 255)
            return fail("the surface id must be a number from 0 to 255, found \"" + id + "\"");
        rule.surface = static_cast<uint8_t>(value);
        rules.push_back(rule);
    }
    out->swap(rules);
    return true;
}

}  // namespace brennix
