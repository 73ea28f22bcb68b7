// Small helpers shared by the unit tests: a scratch directory that removes
// itself, and a model record that is released however a test ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "dff/DffModel.h"
#include "support/ModelBuilder.h"

// Whether a sanitizer watches this build's memory: it reserves address space
// of its own, and runs the code several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRENNIX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define BRENNIX_TEST_SANITIZED 1
#endif
#endif

namespace brennix::test {

#ifdef BRENNIX_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A fresh directory under the system's temporary directory.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brennix_unit_XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) != nullptr)
            path_ = name.data();
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool Ok() const { return !path_.empty(); }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Root() const { return path_; }

    // Names of the entries of the directory (or of a subdirectory), sorted.
    std::vector<std::string> Names(const std::string& sub = "") const {
        std::vector<std::string> names;
        std::error_code ignored;
        std::filesystem::path dir = sub.empty() ? path_ : Path(sub);
        for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

inline bool Exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

// A DffModel that is initialised on construction and released on scope exit.
struct ScopedModel {
    DffModel model;
    ScopedModel() { model.Init(); }
    ~ScopedModel() { model.Release(); }
    ScopedModel(const ScopedModel&) = delete;
    ScopedModel& operator=(const ScopedModel&) = delete;
    DffModel* operator->() { return &model; }
    DffModel& operator*() { return model; }
};

// Writes bytes to path and loads them into model; returns Load's result.
inline int32_t LoadBytes(DffModel& model, const std::string& path, const Bytes& bytes) {
    if (!WriteFile(path, bytes)) {
        ADD_FAILURE() << "cannot write " << path;
        return -100;
    }
    return model.Load(path.c_str());
}

// Saves the model to path; returns the file's bytes, or nothing when the save
// returned 0 (and then no file may exist there).
inline bool SaveBytes(DffModel& model, const std::string& path, Bytes* out) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    int32_t written = model.Save(path.c_str());
    if (written <= 0) {
        EXPECT_FALSE(Exists(path)) << "a failed save left a file behind";
        return false;
    }
    *out = ReadFile(path);
    EXPECT_EQ(static_cast<size_t>(written), out->size());
    return true;
}

// The bytes a chunk record holds: its header as it stands and its payload.
inline Bytes ChunkBytes(const Chunk& chunk) {
    Bytes out;
    PutU32(out, chunk.type);
    PutU32(out, chunk.size);
    PutU16(out, chunk.stampLow);
    PutU16(out, chunk.stampHigh);
    PutBytes(out, chunk.payload.data, chunk.payload.length);
    return out;
}

inline Bytes PayloadBytes(const ByteBuffer& buffer) {
    return Bytes(buffer.data, buffer.data + buffer.length);
}

// Views of a parsed geometry's arrays in the builder's value types.
inline std::vector<Rgba> ColoursOf(const uint8_t* records, int32_t count) {
    std::vector<Rgba> out;
    for (int32_t i = 0; records != nullptr && i < count; ++i) {
        const uint8_t* p = records + 4 * i;
        out.push_back(Rgba{p[0], p[1], p[2], p[3]});
    }
    return out;
}

inline std::vector<Vec3> VectorsOf(const uint8_t* values, int32_t count) {
    std::vector<Vec3> out;
    for (int32_t i = 0; values != nullptr && i < count; ++i) {
        const size_t at = 3 * static_cast<size_t>(i);
        out.push_back(Vec3{Geometry::FloatAt(values, at), Geometry::FloatAt(values, at + 1),
                           Geometry::FloatAt(values, at + 2)});
    }
    return out;
}

inline std::vector<std::vector<Uv>> UvSetsOf(const Geometry& g) {
    std::vector<std::vector<Uv>> sets;
    for (uint32_t s = 0; g.texCoords != nullptr && s < g.texCoordSets; ++s) {
        std::vector<Uv> set;
        for (int32_t i = 0; i < g.vertexCount; ++i) {
            const size_t at = 2 * (static_cast<size_t>(s) * g.vertexCount + i);
            set.push_back(
                Uv{Geometry::FloatAt(g.texCoords, at), Geometry::FloatAt(g.texCoords, at + 1)});
        }
        sets.push_back(set);
    }
    return sets;
}

inline std::vector<Triangle> TrianglesOf(const Geometry& g) {
    std::vector<Triangle> out;
    for (int32_t i = 0; g.triangles != nullptr && i < g.triangleCount; ++i) {
        Bytes record(g.triangles + 8 * i, g.triangles + 8 * i + 8);
        out.push_back(
            Triangle{GetU16(record, 0), GetU16(record, 2), GetU16(record, 4), GetU16(record, 6)});
    }
    return out;
}

inline Sphere SphereOf(const Geometry& g) {
    return Sphere{g.boundingSphere[0], g.boundingSphere[1], g.boundingSphere[2],
                  g.boundingSphere[3]};
}

// Checks that a parsed geometry holds what the builder was asked for.
inline void ExpectGeometryEquals(const Geometry& g, const GeometrySpec& plan) {
    EXPECT_EQ(g.formatFlags, plan.formatFlags);
    EXPECT_EQ(g.formatHigh, plan.formatHigh);
    EXPECT_EQ(g.triangleCount, plan.TriangleCount());
    EXPECT_EQ(g.vertexCount, plan.VertexCount());
    EXPECT_EQ(g.morphTargetCount, plan.morphTargetCount);
    EXPECT_EQ(g.hasPrelit != 0, (plan.formatFlags & kGeoPrelit) != 0);
    EXPECT_EQ(ColoursOf(g.prelitColors, g.vertexCount), plan.prelit);
    EXPECT_EQ(UvSetsOf(g), plan.uvSets);
    EXPECT_EQ(TrianglesOf(g), plan.triangles);
    EXPECT_EQ(SphereOf(g), plan.sphere);
    EXPECT_EQ(g.hasPositions, plan.hasPositions);
    EXPECT_EQ(g.hasNormals, plan.hasNormals);
    EXPECT_EQ(VectorsOf(g.positions, g.vertexCount), plan.positions);
    EXPECT_EQ(VectorsOf(g.normals, g.vertexCount), plan.normals);
}

}  // namespace brennix::test
