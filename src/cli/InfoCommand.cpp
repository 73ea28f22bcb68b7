// brennix info: what each model holds, as short aligned text for people or
// as one JSON document per model (docs/info-json.md). A COL file is handed
// to its own report (ColFileInfo.cpp).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/ModelCommands.h"
#include "cli/ReportText.h"
#include "col/ColGenerate.h"
#include "col/ColInfo.h"
#include "dff/DffModel.h"

namespace brennix::cli {

namespace {

// Keys in the documented order, not sorted.
using json = nlohmann::ordered_json;

std::string Printable(const std::string& text) {
    return PrintableText(text);
}

std::string TextureName(const TextureSlot& slot) {
    if (slot.name == nullptr)
        return "";
    return std::string(reinterpret_cast<const char*>(slot.name), slot.nameLength);
}

const char* ChunkName(uint32_t type) {
    switch (type) {
        case kTypeStruct:
            return "struct";
        case kTypeExtension:
            return "extension";
        case 0x05:
            return "camera";
        case kTypeFrameList:
            return "frame list";
        case 0x12:
            return "light";
        case kTypeAtomic:
            return "atomic";
        case kTypeGeometryList:
            return "geometry list";
        default:
            return nullptr;
    }
}

const char* PlaceName(ExtensionPlace place) {
    switch (place) {
        case ExtensionPlace::kInside:
            return "inside";
        case ExtensionPlace::kAfterClump:
            return "after clump";
        case ExtensionPlace::kNone:
            break;
    }
    return "none";
}

// What a model holds, gathered once for both forms of the report.
struct Bounds {
    bool hasBox = false;
    float min[3] = {0, 0, 0};
    float max[3] = {0, 0, 0};
};

Bounds BoxOf(const Geometry& g) {
    Bounds b;
    if (g.positions == nullptr || g.vertexCount <= 0)
        return b;
    b.hasBox = true;
    for (int k = 0; k < 3; ++k)
        b.min[k] = b.max[k] = Geometry::FloatAt(g.positions, k);
    for (int32_t i = 1; i < g.vertexCount; ++i) {
        for (int k = 0; k < 3; ++k) {
            const float v = Geometry::FloatAt(g.positions, 3 * static_cast<size_t>(i) + k);
            b.min[k] = std::fmin(b.min[k], v);
            b.max[k] = std::fmax(b.max[k], v);
        }
    }
    return b;
}

bool HasSkin(const Geometry& g) {
    return g.vertexBoneIndices != nullptr;
}

uint32_t UvSets(const Geometry& g) {
    return (g.formatFlags & kFormatTexCoords) ? g.texCoordSets : 0;
}

// What `col` with its default options would make of the model.
struct MadeCollision {
    bool ok = false;
    ColStats stats;
    std::string why;  // when not ok
};

MadeCollision MakeDefaultCollision(const WholeModel& m) {
    MadeCollision made;
    ColModel col;
    made.ok = GenerateCol(m, ColRequest(), &col, &made.why, nullptr, &made.stats);
    return made;
}

json MadeCollisionJson(const MadeCollision& made) {
    if (!made.ok)
        return {{"triangles", nullptr},   {"faces", nullptr},       {"vertices", nullptr},
                {"maxDistance", nullptr}, {"beyondBound", nullptr}, {"error", made.why}};
    const ColStats& s = made.stats;
    return {{"triangles", s.triangles},
            {"faces", s.faces},
            {"vertices", s.vertices},
            {"maxDistance", std::isfinite(s.maxDistance) ? json(s.maxDistance) : json(nullptr)},
            {"beyondBound", s.beyondBound},
            {"error", nullptr}};
}

json CollisionJson(const WholeModel& m, const ChunkPlace& entry, size_t position) {
    json c = {{"id", entry.type}, {"size", entry.size}, {"position", position}};
    ColSummary summary;
    ColSummaryResult result =
        ReadColSummary(m.file.data + entry.PayloadOffset(), entry.present, &summary);
    if (result == ColSummaryResult::kOk) {
        c["col"] = {{"version", summary.version},
                    {"name", summary.name},
                    {"spheres", summary.spheres},
                    {"boxes", summary.boxes},
                    {"faces", summary.faces},
                    {"vertices", summary.vertices},
                    {"verticesFromFaces", summary.verticesFromFaces}};
    } else {
        c["col"] = nullptr;
        c["colError"] = ColSummaryResultText(result);
    }
    return c;
}

json GeometryJson(const GeometryEntry& entry) {
    if (entry.geometry == nullptr)
        return {{"ok", false}};
    const Geometry& g = *entry.geometry;
    json materials = json::array();
    for (uint32_t i = 0; i < g.materials.count; ++i) {
        const Material* material = g.materials.At(i);
        if (material == nullptr)
            continue;
        const uint32_t colour = material->structWords[1];
        json textures = json::array();
        for (uint32_t t = 0; t < material->texturesHeld && t < 2; ++t)
            textures.push_back(TextureName(material->textures[t]));
        materials.push_back(
            {{"colour", {colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, colour >> 24}},
             {"textures", textures},
             {"textureCount", material->texturesHeld}});
    }
    Bounds box = BoxOf(g);
    json j = {
        {"ok", entry.ok},
        {"vertices", g.vertexCount},
        {"triangles", g.triangleCount},
        {"morphTargets", g.morphTargetCount},
        {"format",
         {{"flags", (static_cast<uint32_t>(g.formatHigh) << 16) | g.formatFlags},
          {"prelit", (g.formatFlags & kFormatPrelit) != 0},
          {"uvSets", UvSets(g)},
          {"normals", (g.formatFlags & kFormatNormals) != 0},
          {"positions", g.hasPositions != 0},
          {"lit", (g.formatFlags & kFormatLight) != 0}}},
        {"nightColours", g.hasNight != 0},
        {"skin", nullptr},
        {"binMesh", nullptr},
        {"materials", materials},
        {"bounds",
         {{"centre", Vector3(g.boundingSphere)},
          {"radius", Float(g.boundingSphere[3])},
          {"min", box.hasBox ? Vector3(box.min) : json(nullptr)},
          {"max", box.hasBox ? Vector3(box.max) : json(nullptr)}}},
    };
    if (HasSkin(g))
        j["skin"] = {{"bones", g.boneCount},
                     {"usedBones", g.usedBoneCount},
                     {"weightsPerVertex", g.maxWeightsPerVertex}};
    if (g.hasBinMesh)
        j["binMesh"] = {{"meshes", g.meshCount},
                        {"type", g.binMeshFlags == 1 ? "triangle strip" : "triangle list"},
                        {"indices", g.meshIndexTotal}};
    return j;
}

json ProblemJson(const ModelProblem& p, bool warning) {
    if (warning)
        return {{"step", p.step}, {"message", p.message}};
    return {{"step", p.step}, {"code", p.code}, {"detail", p.detail}, {"message", p.message}};
}

// Writes one JSON object key by key, each value dumped as soon as it is
// made, so that a model of millions of records never stands as one document
// tree in memory. Keys come in the documented order.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) { out_ += '{'; }
    void Key(const char* key) {
        if (!first_)
            out_ += ',';
        first_ = false;
        out_ += '"';
        out_ += key;
        out_ += "\":";
    }
    void Value(const char* key, const json& value) {
        Key(key);
        out_ += Dump(value);
    }
    // An array of `count` items, item i dumped from make(i).
    template <typename Make>
    void Array(const char* key, size_t count, Make make) {
        Key(key);
        out_ += '[';
        for (size_t i = 0; i < count; ++i) {
            if (i > 0)
                out_ += ',';
            out_ += Dump(make(i));
        }
        out_ += ']';
    }
    void End() { out_ += "}\n"; }

private:
    std::string& out_;
    bool first_ = true;
};

std::string JsonReport(const WholeModel& m, const std::string& path) {
    std::string out;
    JsonWriter doc(out);
    doc.Value("file", path);
    doc.Value("ok", m.Ok());
    doc.Value("size", m.fileLength);
    if (m.hasClump) {
        StampVersion v = DecodeStamp(m.clump.stamp);
        char version[32];
        FormatVersion(v.version, version, sizeof version);
        doc.Value("version", {{"stamp", m.clump.stamp},
                              {"version", version},
                              {"build", v.hasBuild ? json(v.build) : json(nullptr)}});
        doc.Key("clump");
        out += "{\"size\":" + std::to_string(m.clump.size) +
               ",\"atomicCount\":" + std::to_string(m.atomicCountInStruct) + ",\"children\":[";
        for (size_t i = 0; i < m.children.size(); ++i)
            out += (i > 0 ? "," : "") + std::to_string(m.children[i].type);
        out += "]}";
    } else {
        doc.Value("version", nullptr);
        doc.Value("clump", nullptr);
    }
    doc.Value("uvAnimDictionary",
              m.hasUvAnimDictionary ? json{{"size", m.uvAnimDictionary.size}} : json(nullptr));
    doc.Value("trailingBytes", m.trailingBytes);
    doc.Value("clumps", m.clumpCount);
    doc.Array("frames", m.frames.size(), [&m](size_t i) {
        const FrameInfo& frame = m.frames[i];
        return json{{"name", frame.hasName ? json(frame.name) : json(nullptr)},
                    {"parent", frame.parent}};
    });
    doc.Array("atomics", m.atomics.size(), [&m](size_t i) {
        return json{{"frame", m.atomics[i].frameIndex}, {"geometry", m.atomics[i].geometryIndex}};
    });
    doc.Array("geometries", m.geometries.size(),
              [&m](size_t i) { return GeometryJson(m.geometries[i]); });

    doc.Key("extension");
    out += "{\"place\":" + Dump(PlaceName(m.extensionPlace)) + ",\"entries\":[";
    for (size_t i = 0; i < m.extensionEntries.size(); ++i)
        out += (i > 0 ? ",{\"type\":" : "{\"type\":") + std::to_string(m.extensionEntries[i].type) +
               ",\"size\":" + std::to_string(m.extensionEntries[i].size) + "}";
    out += "]}";
    std::vector<size_t> collisions;
    for (size_t i = 0; i < m.extensionEntries.size(); ++i) {
        if (IsCollisionEntryType(m.extensionEntries[i].type))
            collisions.push_back(i);
    }
    doc.Array("collisions", collisions.size(), [&](size_t i) {
        return CollisionJson(m, m.extensionEntries[collisions[i]], collisions[i]);
    });
    doc.Value("generated", m.hasClump ? MadeCollisionJson(MakeDefaultCollision(m)) : json(nullptr));
    doc.Array("errors", m.problems.size(),
              [&m](size_t i) { return ProblemJson(m.problems[i], false); });
    doc.Value("errorCount", m.problemCount);
    doc.Array("warnings", m.warnings.size(),
              [&m](size_t i) { return ProblemJson(m.warnings[i], true); });
    doc.Value("warningCount", m.warningCount);
    doc.End();
    return out;
}

// ---------------------------------------------------------------------------
// Text

void GeometryText(TextReport& r, size_t index, const GeometryEntry& entry) {
    if (entry.geometry == nullptr) {
        r.Line("geometry " + std::to_string(index), "not read (too short to hold a geometry)");
        return;
    }
    const Geometry& g = *entry.geometry;
    std::string head = CountOf(static_cast<uint64_t>(g.vertexCount > 0 ? g.vertexCount : 0),
                               "vertex", "vertices") +
                       ", " +
                       CountOf(static_cast<uint64_t>(g.triangleCount > 0 ? g.triangleCount : 0),
                               "triangle", "triangles");
    std::string format;
    auto add = [&format](const std::string& word) {
        format += format.empty() ? "" : ", ";
        format += word;
    };
    if (g.formatFlags & kFormatPrelit)
        add("day colours");
    if (UvSets(g) > 0)
        add(CountOf(UvSets(g), "uv set", "uv sets"));
    if (g.formatFlags & kFormatNormals)
        add("normals");
    if (g.formatFlags & kFormatLight)
        add("lit");
    if (g.hasNight)
        add("night colours");
    r.Line("geometry " + std::to_string(index),
           head + (format.empty() ? "" : "; " + format) + (entry.ok ? "" : " (not read whole)"));
    if (HasSkin(g))
        r.More("skin: " + CountOf(g.boneCount, "bone", "bones") + ", " +
               std::to_string(g.maxWeightsPerVertex) + " weights per vertex" +
               (g.oldSkinLayout ? " (older layout)" : ""));
    if (g.hasBinMesh)
        r.More("bin mesh: " + CountOf(g.meshCount, "mesh", "meshes") + ", " +
               (g.binMeshFlags == 1 ? "triangle strip" : "triangle list") + ", " +
               CountOf(g.meshIndexTotal, "index", "indices"));
    for (uint32_t i = 0; i < g.materials.count; ++i) {
        const Material* material = g.materials.At(i);
        if (material == nullptr)
            continue;
        const uint32_t c = material->structWords[1];
        std::string text = "material " + std::to_string(i) + ": colour " +
                           std::to_string(c & 0xFF) + "," + std::to_string((c >> 8) & 0xFF) + "," +
                           std::to_string((c >> 16) & 0xFF) + "," + std::to_string(c >> 24);
        for (uint32_t t = 0; t < material->texturesHeld && t < 2; ++t)
            text += ", texture " + Printable(TextureName(material->textures[t]));
        if (material->texturesHeld > 2)
            text += " and " + CountOf(material->texturesHeld - 2, "more texture", "more textures");
        r.More(text);
    }
    const float* s = g.boundingSphere;
    std::string bounds = "bounds: centre (" + Number(s[0]) + ", " + Number(s[1]) + ", " +
                         Number(s[2]) + "), radius " + Number(s[3]);
    Bounds box = BoxOf(g);
    if (box.hasBox)
        bounds += "; box (" + Number(box.min[0]) + ", " + Number(box.min[1]) + ", " +
                  Number(box.min[2]) + ") to (" + Number(box.max[0]) + ", " + Number(box.max[1]) +
                  ", " + Number(box.max[2]) + ")";
    r.More(bounds);
}

std::string TextReportOf(const WholeModel& m, const std::string& path) {
    TextReport r;
    r.Out() = path + "\n";
    if (m.hasClump) {
        StampVersion v = DecodeStamp(m.clump.stamp);
        char version[32];
        FormatVersion(v.version, version, sizeof version);
        r.Line("version", std::string(version) + " (stamp " + Hex(m.clump.stamp) + "), " +
                              CountOf(m.fileLength, "byte", "bytes"));
        std::string children;
        for (const ChunkPlace& child : m.children) {
            const char* name = ChunkName(child.type);
            children += (children.empty() ? "" : ", ") + std::string(name ? name : "") +
                        (name ? "" : Hex(child.type));
        }
        r.Line("clump", CountOf(m.children.size(), "child", "children") +
                            (children.empty() ? "" : ": " + children));
    }
    if (m.hasUvAnimDictionary)
        r.Line("uv anim", "dictionary of " + CountOf(m.uvAnimDictionary.size, "byte", "bytes"));
    if (m.hasClump) {
        std::string names;
        for (const FrameInfo& frame : m.frames)
            names += (names.empty() ? "" : ", ") +
                     (frame.hasName ? Printable(frame.name) : std::string("(no name)"));
        r.Line("frames", std::to_string(m.frames.size()) + (names.empty() ? "" : ": " + names));
    }
    for (size_t i = 0; i < m.atomics.size(); ++i)
        r.Line("atomic " + std::to_string(i), "frame " + std::to_string(m.atomics[i].frameIndex) +
                                                  ", geometry " +
                                                  std::to_string(m.atomics[i].geometryIndex));
    for (size_t i = 0; i < m.geometries.size(); ++i) {
        // A run of chunks too short to hold a geometry takes one line.
        size_t last = i;
        while (m.geometries[i].geometry == nullptr && last + 1 < m.geometries.size() &&
               m.geometries[last + 1].geometry == nullptr)
            ++last;
        if (last > i) {
            r.Line("geometry " + std::to_string(i) + " to " + std::to_string(last),
                   "not read (too short to hold a geometry)");
            i = last;
            continue;
        }
        GeometryText(r, i, m.geometries[i]);
    }
    if (m.extensionPlace != ExtensionPlace::kNone)
        r.Line("extension",
               std::string(m.extensionPlace == ExtensionPlace::kInside ? "in the clump"
                                                                       : "after the clump") +
                   ", " + CountOf(m.extensionEntries.size(), "entry", "entries"));
    if (m.trailingBytes > 0)
        r.Line("after clump", CountOf(m.trailingBytes, "byte", "bytes"));
    for (const ChunkPlace& entry : m.extensionEntries) {
        if (!IsCollisionEntryType(entry.type))
            continue;
        std::string text = Hex(entry.type) + ", " + CountOf(entry.size, "byte", "bytes") + ": ";
        ColSummary c;
        ColSummaryResult result =
            ReadColSummary(m.file.data + entry.PayloadOffset(), entry.present, &c);
        if (result == ColSummaryResult::kOk) {
            text += (c.version == 1 ? std::string("COLL") : "COL" + std::to_string(c.version)) +
                    " \"" + Printable(c.name) + "\", " + CountOf(c.spheres, "sphere", "spheres") +
                    ", " + CountOf(c.boxes, "box", "boxes") + ", " +
                    CountOf(c.faces, "face", "faces") + ", " +
                    CountOf(c.vertices, "vertex", "vertices");
        } else {
            text += ColSummaryResultText(result);
        }
        r.Line("collision", text);
    }
    if (m.hasClump) {
        const MadeCollision made = MakeDefaultCollision(m);
        const ColStats& s = made.stats;
        if (made.ok)
            r.Line("collision",
                   "made by col: " + GroupedCount(s.triangles) +
                       (s.triangles == 1 ? " triangle -> " : " triangles -> ") +
                       GroupedCount(s.faces) + (s.faces == 1 ? " face, " : " faces, ") +
                       GroupedCount(s.vertices) + (s.vertices == 1 ? " vertex" : " vertices") +
                       ", largest distance " + DistanceText(s.maxDistance) +
                       (s.beyondBound ? " (past the 0.05 bound, to fit the COL3 limits)" : ""));
        else
            r.Line("collision", "made by col: none, " + Printable(made.why));
    }
    for (const ModelProblem& p : m.problems) {
        std::string text = p.step + ": " + p.message + " (" + std::to_string(p.code);
        if (p.detail != 0)
            text += ", detail " + Hex(p.detail);
        r.Line("error", text + ")");
    }
    if (m.problemCount > m.problems.size())
        r.Line("error", "and " + CountOf(m.problemCount - m.problems.size(), "more problem",
                                         "more problems"));
    for (const ModelProblem& p : m.warnings)
        r.Line("warning", p.step + ": " + Printable(p.message));
    if (m.warningCount > m.warnings.size())
        r.Line("warning", "and " + CountOf(m.warningCount - m.warnings.size(), "more warning",
                                           "more warnings"));
    return r.Out();
}

int RunInfo(const InfoRequest& request) {
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive,
                                                FolderFiles::kModelsAndColFiles);
    return RunCommandBatch(
        "info", files, request.inputs.jobs,
        [&request](size_t, const std::string& path) { return DescribeModelFile(request, path); },
        "read");
}

}  // namespace

std::string PrintableText(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return shown;
}

std::string ModelReport(const WholeModel& model, const std::string& path, bool json) {
    return json ? JsonReport(model, path) : TextReportOf(model, path);
}

std::string WarningLines(const WholeModel& model, const std::string& path) {
    std::string lines;
    for (const ModelProblem& p : model.warnings)
        lines += "[warning] " + path + ": " + p.step + ": " + Printable(p.message) + "\n";
    if (model.warningCount > model.warnings.size())
        lines +=
            "[warning] " + path + ": and " +
            CountOf(model.warningCount - model.warnings.size(), "more warning", "more warnings") +
            "\n";
    return lines;
}

FileOutcome DescribeModelFile(const InfoRequest& request, const std::string& path) {
    FileOutcome outcome;
    WholeModel model;
    if (model.Load(path.c_str()) < 0) {
        outcome.reason = ReadFailureReason(path);
        return outcome;
    }
    // A COL file is known by its first bytes, whatever its name.
    if (LooksLikeColFile(model.file.data, model.fileLength))
        return DescribeColFile(request, path, model.file.data, model.fileLength);
    outcome.out = ModelReport(model, path, request.json);
    outcome.ok = model.Ok();
    if (!outcome.ok) {
        if (model.problems.empty()) {
            outcome.reason = "out of memory";
        } else {
            const ModelProblem& first = model.problems.front();
            outcome.reason =
                first.step + ": " + first.message + " (" + std::to_string(first.code) + ")";
            if (model.problemCount > 1)
                outcome.reason +=
                    " and " + CountOf(model.problemCount - 1, "more problem", "more problems");
        }
    }
    return outcome;
}

void AddInfoCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<InfoRequest>();
    CLI::App* command = app.add_subcommand("info", "Describe what each model or COL file holds");
    AddInputOptions(*command, request->inputs);
    command->add_flag("--json", request->json, "One JSON document per file, one a line");
    command->callback(
        [request, &context] { context.run = [request] { return RunInfo(*request); }; });
}

}  // namespace brennix::cli
