#include "support/ColBuilder.h"

#include <stdexcept>

namespace brennix::test {

namespace {

void PutVec(Bytes& out, const Vec3& v) {
    PutF32(out, v.x);
    PutF32(out, v.y);
    PutF32(out, v.z);
}

// Through 32 bits, so that a coordinate beyond the 16-bit steps wraps rather
// than overflowing.
void PutSteps(Bytes& out, const Vec3& v) {
    for (float c : {v.x, v.y, v.z})
        PutU16(out, static_cast<uint16_t>(static_cast<int32_t>(c * 128)));
}

void PutSurface(Bytes& out, const ColSurfacePlan& s) {
    PutU8(out, s.material);
    PutU8(out, s.flag);
    PutU8(out, s.brightness);
    PutU8(out, s.light);
}

void PutFace(Bytes& out, const ColFacePlan& f) {
    PutU16(out, static_cast<uint16_t>(f.a));
    PutU16(out, static_cast<uint16_t>(f.b));
    PutU16(out, static_cast<uint16_t>(f.c));
    PutU8(out, f.surface.material);
    PutU8(out, f.surface.light);
}

void PadTo4(Bytes& out) {
    while (out.size() % 4 != 0)
        PutU8(out, 0);
}

uint16_t Count16(size_t n, const char* what) {
    if (n > 0xFFFF)
        throw std::length_error(std::string("more ") + what + " than a 16-bit count holds");
    return static_cast<uint16_t>(n);
}

void PutVersion1(const ColEntryPlan& s, Bytes& out) {
    PutF32(out, s.radius);
    PutVec(out, s.centre);
    PutVec(out, s.boundsMin);
    PutVec(out, s.boundsMax);
    PutU32(out, static_cast<uint32_t>(s.spheres.size()));
    for (const ColSpherePlan& sphere : s.spheres) {
        PutF32(out, sphere.radius);
        PutVec(out, sphere.centre);
        PutSurface(out, sphere.surface);
    }
    PutU32(out, static_cast<uint32_t>(s.lines.size()));
    for (const ColLinePlan& line : s.lines) {
        PutVec(out, line.start);
        PutVec(out, line.end);
    }
    PutU32(out, static_cast<uint32_t>(s.boxes.size()));
    for (const ColBoxPlan& box : s.boxes) {
        PutVec(out, box.min);
        PutVec(out, box.max);
        PutSurface(out, box.surface);
    }
    PutU32(out, static_cast<uint32_t>(s.vertices.size()));
    for (const Vec3& v : s.vertices)
        PutVec(out, v);
    PutU32(out, static_cast<uint32_t>(s.faces.size()));
    for (const ColFacePlan& f : s.faces) {
        PutU32(out, f.a);
        PutU32(out, f.b);
        PutU32(out, f.c);
        PutSurface(out, f.surface);
    }
}

// The header of versions 2 and later is written first with zero offsets;
// each section's offset is patched in as the section is placed.
void PutVersion2Up(const ColEntryPlan& s, Bytes& out) {
    const bool shadow = s.version >= 3;
    const size_t headerBytes = s.version == 2 ? 108 : s.version == 3 ? 120 : 124;
    if (s.lines.size() > 0xFF)
        throw std::length_error("more lines than an 8-bit count holds");
    uint32_t flags = !s.spheres.empty() || !s.boxes.empty() || !s.faces.empty() ? 2 : 0;
    flags |= s.faceGroups.empty() ? 0 : 8;
    flags |= shadow && !s.shadowFaces.empty() ? 16 : 0;
    PutVec(out, s.boundsMin);
    PutVec(out, s.boundsMax);
    PutVec(out, s.centre);
    PutF32(out, s.radius);
    PutU16(out, Count16(s.spheres.size(), "spheres"));
    PutU16(out, Count16(s.boxes.size(), "boxes"));
    PutU16(out, Count16(s.faces.size(), "faces"));
    PutU8(out, static_cast<uint8_t>(s.lines.size()));
    PutU8(out, 0);
    PutU32(out, s.flags >= 0 ? static_cast<uint32_t>(s.flags) : flags);
    while (out.size() < headerBytes)
        PutU8(out, 0);
    if (shadow)
        PatchU32(out, kColShadowFaceCountAt,
                 static_cast<uint32_t>(Count16(s.shadowFaces.size(), "shadow faces")));
    if (s.version >= 4)
        PatchU32(out, kColVersion4FieldAt, s.version4Field);

    const bool standard = s.layout == ColLayout::kStandard;
    auto place = [&out](bool present, size_t field) {
        if (present)
            PatchU32(out, field, static_cast<uint32_t>(out.size() - 4));
    };
    place(!s.spheres.empty(), kColSphereOffsetAt);
    for (const ColSpherePlan& sphere : s.spheres) {
        PutVec(out, sphere.centre);
        PutF32(out, sphere.radius);
        PutSurface(out, sphere.surface);
    }
    place(!s.boxes.empty(), kColBoxOffsetAt);
    for (const ColBoxPlan& box : s.boxes) {
        PutVec(out, box.min);
        PutVec(out, box.max);
        PutSurface(out, box.surface);
    }
    place(!s.lines.empty(), kColLineOffsetAt);
    for (const ColLinePlan& line : s.lines) {
        PutVec(out, line.start);
        PutVec(out, line.end);
    }
    auto vertices = [&] {
        place(!s.vertices.empty(), kColVertexOffsetAt);
        for (const Vec3& v : s.vertices)
            PutSteps(out, v);
        if (standard)
            PadTo4(out);
    };
    if (standard)
        vertices();
    if (!s.faceGroups.empty()) {
        for (const ColFaceGroupPlan& g : s.faceGroups) {
            PutVec(out, g.min);
            PutVec(out, g.max);
            PutU16(out, g.first);
            PutU16(out, g.last);
        }
        PutU32(out, static_cast<uint32_t>(s.faceGroups.size()));
    }
    place(!s.faces.empty(), kColFaceOffsetAt);
    for (const ColFacePlan& f : s.faces)
        PutFace(out, f);
    if (!standard)
        vertices();
    if (shadow) {
        place(!s.shadowVertices.empty(), kColShadowVertexOffsetAt);
        for (const Vec3& v : s.shadowVertices)
            PutSteps(out, v);
        if (standard)
            PadTo4(out);
        place(!s.shadowFaces.empty(), kColShadowFaceOffsetAt);
        for (const ColFacePlan& f : s.shadowFaces)
            PutFace(out, f);
    }
}

}  // namespace

Bytes BuildColEntry(const ColEntryPlan& plan) {
    if (plan.version < 1 || plan.version > 4)
        throw std::invalid_argument("COL versions are 1 to 4");
    Bytes out;
    PutString(out, plan.version == 1 ? "COLL" : "COL" + std::to_string(plan.version));
    PutU32(out, 0);
    PutFixedString(out, plan.name, 22);
    PutU16(out, plan.modelId);
    if (plan.version == 1)
        PutVersion1(plan, out);
    else
        PutVersion2Up(plan, out);
    const size_t counted = plan.layout == ColLayout::kStandard ? 8 : 4;
    PatchU32(out, kColSizeAt, static_cast<uint32_t>(out.size() - counted));
    return out;
}

Bytes BuildColArchive(const std::vector<ColEntryPlan>& entries) {
    Bytes all;
    for (const ColEntryPlan& e : entries)
        PutBytes(all, BuildColEntry(e));
    return all;
}

namespace {

void Patch(Bytes& bytes, size_t at, uint32_t value, size_t width) {
    if (at > bytes.size() || bytes.size() - at < width)
        throw std::out_of_range("patch outside the bytes");
    for (size_t i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void PatchU16(Bytes& bytes, size_t at, uint16_t value) {
    Patch(bytes, at, value, 2);
}

void PatchU32(Bytes& bytes, size_t at, uint32_t value) {
    Patch(bytes, at, value, 4);
}

}  // namespace brennix::test
