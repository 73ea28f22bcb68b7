// brennix info on COL files: every entry's header, counts, flags, bounds and
// surfaces, then what the reader found wrong, as aligned text or as one JSON
// document (docs/col-info-json.md).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/ModelCommands.h"
#include "cli/ReportText.h"
#include "col/ColFile.h"
#include "col/Surfaces.h"

namespace brennix::cli {

namespace {

// Keys in the documented order, not sorted.
using json = nlohmann::ordered_json;

// How many surfaces of one id an entry uses.
struct SurfaceUse {
    size_t faces = 0;
    size_t boxes = 0;
    size_t spheres = 0;
    size_t shadowFaces = 0;
};

// By id, in ascending order.
std::map<uint8_t, SurfaceUse> SurfacesOf(const ColEntry& entry) {
    std::map<uint8_t, SurfaceUse> used;
    for (const ColFileFace& face : entry.faces)
        ++used[face.surface.material].faces;
    for (const ColFileBox& box : entry.boxes)
        ++used[box.surface.material].boxes;
    for (const ColFileSphere& sphere : entry.spheres)
        ++used[sphere.surface.material].spheres;
    for (const ColFileFace& face : entry.shadowFaces)
        ++used[face.surface.material].shadowFaces;
    return used;
}

std::string FourCc(int version) {
    return version == 1 ? "COLL" : "COL" + std::to_string(version);
}

// The bits of the flags word by name; bits without one in hex.
std::string FlagWords(uint32_t flags) {
    static const struct {
        uint32_t bit;
        const char* word;
    } kNames[] = {{2, "not empty"}, {8, "face groups"}, {16, "shadow mesh"}};
    std::string words;
    for (const auto& name : kNames) {
        if ((flags & name.bit) != 0) {
            words += (words.empty() ? "" : ", ") + std::string(name.word);
            flags &= ~name.bit;
        }
    }
    if (flags != 0)
        words += (words.empty() ? "" : ", ") + Hex(flags);
    return words;
}

// Whether a problem concerns one entry rather than the file as a whole: the
// reader names the entry, counted from 1, at the start of the message.
bool ConcernsEntry(const ColFileProblem& problem) {
    const std::string label = "entry " + std::to_string(problem.entry + 1) + " \"";
    return problem.message.compare(0, label.size(), label) == 0;
}

// Each entry's number in the file, from 0: an entry with an error is left
// out of `entries` but counted, and has one error.
std::vector<size_t> EntryNumbers(const ColFile& file) {
    std::vector<size_t> failed;
    for (const ColFileProblem& p : file.errors) {
        if (ConcernsEntry(p))
            failed.push_back(p.entry);
    }
    std::sort(failed.begin(), failed.end());
    std::vector<size_t> numbers;
    size_t number = 0, next = 0;
    for (size_t i = 0; i < file.entries.size(); ++i) {
        for (; next < failed.size() && failed[next] <= number; ++next) {
            if (failed[next] == number)
                ++number;
        }
        numbers.push_back(number++);
    }
    return numbers;
}

// The reader's messages name the entry they concern.
std::string ProblemText(const ColFileProblem& problem) {
    return PrintableText(problem.message);
}

// ---------------------------------------------------------------------------
// JSON

json EntryJson(const ColEntry& entry, size_t number) {
    json surfaces = json::array();
    const SurfaceFamily family = FamilyOfVersion(entry.version);
    for (const auto& [id, use] : SurfacesOf(entry)) {
        const SurfaceInfo* info = FindSurface(family, id);
        surfaces.push_back({{"id", id},
                            {"name", info != nullptr ? json(info->name) : json(nullptr)},
                            {"group", info != nullptr ? json(info->group) : json(nullptr)},
                            {"faces", use.faces},
                            {"boxes", use.boxes},
                            {"spheres", use.spheres},
                            {"shadowFaces", use.shadowFaces}});
    }
    return {{"number", number},
            {"version", entry.version},
            {"fourcc", FourCc(entry.version)},
            {"name", entry.name},
            {"nameTerminated", entry.nameTerminated},
            {"modelId", entry.modelId},
            {"offset", entry.offset},
            {"length", entry.length},
            {"spheres", entry.spheres.size()},
            {"boxes", entry.boxes.size()},
            {"faces", entry.faces.size()},
            {"vertices", entry.vertices.size()},
            {"faceGroups", entry.faceGroups.size()},
            {"shadowFaces", entry.shadowFaces.size()},
            {"shadowVertices", entry.shadowVertices.size()},
            {"lines", entry.lines.size()},
            {"flags", entry.version >= 2 ? json(entry.flags) : json(nullptr)},
            {"bounds",
             {{"min", Vector3(entry.boundsMin)},
              {"max", Vector3(entry.boundsMax)},
              {"centre", Vector3(entry.centre)},
              {"radius", Float(entry.radius)}}},
            {"surfaces", surfaces}};
}

// Problems beyond the first kMaxKeptProblems are counted only, as in a
// model's report.
void ProblemsJson(const std::vector<ColFileProblem>& problems, const char* key,
                  const char* countKey, std::string& out) {
    out += ",\"" + std::string(key) + "\":[";
    const size_t kept = std::min(problems.size(), kMaxKeptProblems);
    for (size_t i = 0; i < kept; ++i) {
        const ColFileProblem& p = problems[i];
        out +=
            (i > 0 ? "," : "") + Dump({{"entry", ConcernsEntry(p) ? json(p.entry) : json(nullptr)},
                                       {"message", p.message}});
    }
    out += "],\"" + std::string(countKey) + "\":" + std::to_string(problems.size());
}

// Each entry is dumped as soon as it is made, so that an archive of
// thousands never stands as one document tree in memory.
std::string JsonReport(const ColFile& file, const std::string& path, size_t size, bool ok) {
    std::string out = "{\"path\":" + Dump(path) +
                      ",\"type\":\"col\",\"size\":" + std::to_string(size) +
                      ",\"ok\":" + (ok ? "true" : "false") + ",\"entries\":[";
    const std::vector<size_t> numbers = EntryNumbers(file);
    for (size_t i = 0; i < file.entries.size(); ++i)
        out += (i > 0 ? "," : "") + Dump(EntryJson(file.entries[i], numbers[i]));
    out += ']';
    ProblemsJson(file.errors, "errors", "errorCount", out);
    ProblemsJson(file.warnings, "warnings", "warningCount", out);
    out += "}\n";
    return out;
}

// ---------------------------------------------------------------------------
// Text, laid out as a model's report

std::string Point(const float* v) {
    return "(" + Number(v[0]) + ", " + Number(v[1]) + ", " + Number(v[2]) + ")";
}

void EntryText(TextReport& r, size_t index, const ColEntry& entry) {
    r.Line("entry " + std::to_string(index),
           FourCc(entry.version) + " \"" + PrintableText(entry.name) + "\", model id " +
               std::to_string(entry.modelId) + ", " + CountOf(entry.length, "byte", "bytes") +
               " at " + std::to_string(entry.offset));
    r.More(CountOf(entry.spheres.size(), "sphere", "spheres") + ", " +
           CountOf(entry.boxes.size(), "box", "boxes") + ", " +
           CountOf(entry.faces.size(), "face", "faces") + ", " +
           CountOf(entry.vertices.size(), "vertex", "vertices") + ", " +
           CountOf(entry.faceGroups.size(), "face group", "face groups") + ", " +
           CountOf(entry.shadowFaces.size(), "shadow face", "shadow faces") + ", " +
           CountOf(entry.lines.size(), "line", "lines"));
    if (entry.version >= 2) {
        const std::string words = FlagWords(entry.flags);
        r.More("flags " + Hex(entry.flags) + (words.empty() ? "" : " (" + words + ")"));
    }
    r.More("bounds: box " + Point(entry.boundsMin) + " to " + Point(entry.boundsMax) + ", centre " +
           Point(entry.centre) + ", radius " + Number(entry.radius));
    const SurfaceFamily family = FamilyOfVersion(entry.version);
    for (const auto& [id, use] : SurfacesOf(entry)) {
        const SurfaceInfo* info = FindSurface(family, id);
        std::string uses;
        auto add = [&uses](size_t n, const char* one, const char* many) {
            if (n > 0)
                uses += (uses.empty() ? "" : ", ") + CountOf(n, one, many);
        };
        add(use.faces, "face", "faces");
        add(use.boxes, "box", "boxes");
        add(use.spheres, "sphere", "spheres");
        add(use.shadowFaces, "shadow face", "shadow faces");
        r.More("surface " + std::to_string(id) + " " +
               (info != nullptr ? std::string(info->name) : "(unknown)") + ": " + uses);
    }
}

void ProblemsText(TextReport& r, const std::vector<ColFileProblem>& problems, const char* label,
                  const char* one, const char* many) {
    const size_t kept = std::min(problems.size(), kMaxKeptProblems);
    for (size_t i = 0; i < kept; ++i)
        r.Line(label, ProblemText(problems[i]));
    if (problems.size() > kept)
        r.Line(label, "and " + CountOf(problems.size() - kept, one, many));
}

std::string TextReportOf(const ColFile& file, const std::string& path, size_t size) {
    TextReport r;
    r.Out() = path + "\n";
    r.Line("file", std::string(file.entries.size() > 1 ? "COL archive, " : "COL file, ") +
                       CountOf(file.entries.size(), "entry", "entries") + ", " +
                       CountOf(size, "byte", "bytes"));
    // Counted from 1, as the messages count them.
    const std::vector<size_t> numbers = EntryNumbers(file);
    for (size_t i = 0; i < file.entries.size(); ++i)
        EntryText(r, numbers[i] + 1, file.entries[i]);
    ProblemsText(r, file.errors, "error", "more problem", "more problems");
    ProblemsText(r, file.warnings, "warning", "more warning", "more warnings");
    return r.Out();
}

}  // namespace

FileOutcome DescribeColFile(const InfoRequest& request, const std::string& path,
                            const uint8_t* data, size_t length) {
    FileOutcome outcome;
    ColFile file;
    outcome.ok = ReadColFile(data, length, &file);
    outcome.out = request.json ? JsonReport(file, path, length, outcome.ok)
                               : TextReportOf(file, path, length);
    if (!outcome.ok) {
        if (file.errors.empty()) {
            outcome.reason = "no COL entry";
        } else {
            outcome.reason = ProblemText(file.errors.front());
            if (file.errors.size() > 1)
                outcome.reason +=
                    " and " + CountOf(file.errors.size() - 1, "more problem", "more problems");
        }
    }
    return outcome;
}

}  // namespace brennix::cli
