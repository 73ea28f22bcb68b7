// brennix convert, split and merge: COL files between versions, archives
// into entries and back.
//
// Each command reads its inputs whole with the COL reader, lays out what it
// will write in memory, reads that back and compares it with what it meant
// to write, and only then replaces the output in one step.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ModelCommands.h"
#include "col/ColFile.h"
#include "col/Surfaces.h"
#include "platform/Paths.h"

namespace brennix::cli {

namespace {

// The commands take files only: a folder argument is a file that cannot be
// read, and says so in its place.
std::vector<InputFile> FileInputs(const std::vector<std::string>& paths) {
    std::vector<InputFile> files(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        files[i].path = paths[i];
    return files;
}

// The length of the UTF-8 sequence at `at`, or 0 when the bytes there are
// not one.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t n = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, min = 0x80, code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, min = 0x800, code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, min = 0x10000, code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - at < n)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + k) & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

// An entry's name as a file name without ".col" that every system takes:
// bytes that are not UTF-8, control bytes and the characters Windows refuses
// become '_', trailing dots and spaces go, a device name gets a '_'; an empty
// name is "unnamed".
std::string SafeFileStem(const std::string& name) {
    std::string stem;
    for (size_t i = 0; i < name.size();) {
        const auto u = static_cast<unsigned char>(name[i]);
        const size_t n = Utf8SequenceLength(name, i);
        if (n == 0 || u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", u) != nullptr) {
            stem += '_';
            ++i;
        } else {
            stem.append(name, i, n);
            i += n;
        }
    }
    while (!stem.empty() && (stem.back() == '.' || stem.back() == ' '))
        stem.pop_back();
    if (stem.empty())
        return "unnamed";
    // Windows keeps these names for devices, whatever follows a dot.
    const size_t deviceEnd = std::min(stem.find('.'), stem.size());
    std::string device = stem.substr(0, deviceEnd);
    while (!device.empty() && device.back() == ' ')
        device.pop_back();
    for (char& c : device)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    bool reserved = false;
    for (const char* d : kDevices)
        reserved = reserved || device == d;
    if (device.size() == 4 &&
        (device.compare(0, 3, "COM") == 0 || device.compare(0, 3, "LPT") == 0) &&
        device[3] >= '0' && device[3] <= '9')
        reserved = true;
    if (reserved)
        stem.insert(deviceEnd, "_");
    return stem;
}

// A name from a file, shown in a message: control bytes, quotes, backslashes
// and bytes that are not UTF-8 as escapes.
std::string ShownName(const std::string& name) {
    std::string shown = "\"";
    for (size_t i = 0; i < name.size();) {
        const auto u = static_cast<unsigned char>(name[i]);
        const size_t n = u < 0x80 ? 1 : Utf8SequenceLength(name, i);
        if (u < 0x20 || u == 0x7F || n == 0) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", u);
            shown += escape;
            ++i;
        } else {
            if (u == '"' || u == '\\')
                shown += '\\';
            shown.append(name, i, n);
            i += n;
        }
    }
    return shown + "\"";
}

// "entry 1 "gate"": entries are counted from 1, as info counts them.
std::string EntryLabel(const ColFile& file, size_t entry) {
    if (entry >= file.entries.size())
        return "entry " + std::to_string(entry + 1);
    return "entry " + std::to_string(entry + 1) + " " + ShownName(file.entries[entry].name);
}

// The reader names the entry a problem concerns in its message.
std::string ProblemText(const ColFile&, const ColFileProblem& problem) {
    return problem.message;
}

// Reads the COL file at `path` whole into `bytes` and `col`. Its warnings
// go to `messages`; false with `why` set when it cannot be read or the
// reader finds an error in it.
bool ReadColInput(const std::string& path, std::vector<uint8_t>* bytes, ColFile* col,
                  std::string* messages, std::string* why) {
    std::string unused;
    if (!ReadWholeFile(path, bytes, &unused)) {
        *why = ReadFailureReason(path);
        return false;
    }
    const bool ok = ReadColFile(bytes->data(), bytes->size(), col);
    for (const ColFileProblem& warning : col->warnings)
        *messages += "[warning] " + path + ": " + ProblemText(*col, warning) + "\n";
    if (ok)
        return true;
    if (col->errors.empty()) {
        *why = "the file holds no COL entry";
        return false;
    }
    *why = ProblemText(*col, col->errors.front());
    if (col->errors.size() > 1) {
        const size_t more = col->errors.size() - 1;
        *why += " (and " + std::to_string(more) + (more == 1 ? " more error)" : " more errors)");
    }
    return false;
}

// ---------------------------------------------------------------------------
// Comparing records read back with those meant.

bool SameBits(const float* a, const float* b, size_t n) {
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

bool SameSurface(const ColFileSurface& a, const ColFileSurface& b) {
    return a.material == b.material && a.flag == b.flag && a.brightness == b.brightness &&
           a.light == b.light;
}

bool SamePoints(const std::vector<ColFilePoint>& a, const std::vector<ColFilePoint>& b,
                float tolerance) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            if (tolerance == 0 ? !SameBits(&a[i][k], &b[i][k], 1)
                               : !(std::fabs(a[i][k] - b[i][k]) <= tolerance))
                return false;
        }
    }
    return true;
}

bool SameFaces(const std::vector<ColFileFace>& a, const std::vector<ColFileFace>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].a != b[i].a || a[i].b != b[i].b || a[i].c != b[i].c ||
            !SameSurface(a[i].surface, b[i].surface))
            return false;
    }
    return true;
}

// What differs between the records of two entries, or nothing. Vertices may
// differ by `tolerance` (the 1/128 steps a version-1 vertex is put on).
std::string RecordDifference(const ColEntry& want, const ColEntry& got, float tolerance) {
    if (want.name != got.name || want.modelId != got.modelId)
        return "name or model id";
    if (want.spheres.size() != got.spheres.size())
        return "spheres";
    for (size_t i = 0; i < want.spheres.size(); ++i) {
        const ColFileSphere &a = want.spheres[i], &b = got.spheres[i];
        if (!SameBits(a.centre, b.centre, 3) || !SameBits(&a.radius, &b.radius, 1) ||
            !SameSurface(a.surface, b.surface))
            return "spheres";
    }
    if (want.boxes.size() != got.boxes.size())
        return "boxes";
    for (size_t i = 0; i < want.boxes.size(); ++i) {
        const ColFileBox &a = want.boxes[i], &b = got.boxes[i];
        if (!SameBits(a.min, b.min, 3) || !SameBits(a.max, b.max, 3) ||
            !SameSurface(a.surface, b.surface))
            return "boxes";
    }
    if (want.lines.size() != got.lines.size())
        return "lines";
    for (size_t i = 0; i < want.lines.size(); ++i) {
        if (!SameBits(want.lines[i].start, got.lines[i].start, 3) ||
            !SameBits(want.lines[i].end, got.lines[i].end, 3))
            return "lines";
    }
    if (!SamePoints(want.vertices, got.vertices, tolerance))
        return "vertices";
    if (!SameFaces(want.faces, got.faces))
        return "faces";
    if (want.faceGroups.size() != got.faceGroups.size())
        return "face groups";
    for (size_t i = 0; i < want.faceGroups.size(); ++i) {
        const ColFileFaceGroup &a = want.faceGroups[i], &b = got.faceGroups[i];
        if (!SameBits(a.min, b.min, 3) || !SameBits(a.max, b.max, 3) || a.first != b.first ||
            a.last != b.last)
            return "face groups";
    }
    if (!SamePoints(want.shadowVertices, got.shadowVertices, tolerance) ||
        !SameFaces(want.shadowFaces, got.shadowFaces))
        return "shadow mesh";
    return std::string();
}

// Why `bytes` do not read back as `want`, entry by entry, or nothing.
std::string ReadBackProblem(const std::vector<uint8_t>& bytes, const std::vector<ColEntry>& want,
                            const std::vector<float>& tolerances) {
    ColFile back;
    if (!ReadColFile(bytes.data(), bytes.size(), &back))
        return "the written file would not read back: " +
               (back.errors.empty() ? std::string("no entry")
                                    : ProblemText(back, back.errors.front()));
    if (back.entries.size() != want.size())
        return "the written file would read back with " + std::to_string(back.entries.size()) +
               " entries instead of " + std::to_string(want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const std::string what = RecordDifference(want[i], back.entries[i], tolerances[i]);
        if (!what.empty())
            return "the written file would read back with other " + what + " in " +
                   EntryLabel(back, i);
    }
    return std::string();
}

// ---------------------------------------------------------------------------
// Converting.

std::string CountText(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The entry as `version` will hold it: surfaces mapped into its family, and
// what it does not carry left out, each told of in `notes`.
ColEntry EntryForVersion(const ColEntry& entry, int version, const std::string& label,
                         std::vector<std::string>* notes) {
    ColEntry out = entry;
    const SurfaceFamily from = FamilyOfVersion(entry.version);
    const SurfaceFamily to = FamilyOfVersion(version);
    size_t defaulted = 0;
    auto map = [&](ColFileSurface* surface) {
        if (from == to)
            return;
        bool exact = true;
        surface->material = MapSurface(from, to, surface->material, &exact);
        if (!exact)
            ++defaulted;
    };
    for (ColFileSphere& sphere : out.spheres)
        map(&sphere.surface);
    for (ColFileBox& box : out.boxes)
        map(&box.surface);
    // Versions 2 and later keep a face's material and light only.
    auto mapFaces = [&](std::vector<ColFileFace>* faces) {
        for (ColFileFace& face : *faces) {
            map(&face.surface);
            if (version >= 2)
                face.surface.flag = face.surface.brightness = 0;
        }
    };
    mapFaces(&out.faces);
    if (version < 3 && (!out.shadowFaces.empty() || !out.shadowVertices.empty())) {
        notes->push_back(label + ": the shadow mesh (" +
                         CountText(out.shadowFaces.size(), "face", "faces") +
                         ") is left out: version " + std::to_string(version) + " holds none");
        out.shadowFaces.clear();
        out.shadowVertices.clear();
    }
    mapFaces(&out.shadowFaces);
    if (version == 1 && !out.faceGroups.empty()) {
        notes->push_back(label + ": " +
                         CountText(out.faceGroups.size(), "face group", "face groups") +
                         " left out: version 1 holds none");
        out.faceGroups.clear();
    }
    if (defaulted > 0)
        notes->push_back(label + ": " +
                         CountText(defaulted, "surface without a counterpart took its",
                                   "surfaces without a counterpart took their") +
                         " group's default");
    out.version = version;
    return out;
}

// The vertex tolerance of an entry written as `version`: versions 2 and
// later hold vertices in 1/128 steps, which a version-1 vertex may fall
// between.
float VertexTolerance(const ColEntry& entry, int version) {
    return entry.version == 1 && version >= 2 ? 1.0f / 256 + 1e-6f : 0.0f;
}

}  // namespace

bool ConvertColBytes(const uint8_t* data, size_t length, int version, std::vector<uint8_t>* out,
                     std::vector<std::string>* notes, std::vector<std::string>* warnings,
                     std::string* why) {
    out->clear();
    ColFile col;
    const bool ok = ReadColFile(data, length, &col);
    for (const ColFileProblem& warning : col.warnings)
        warnings->push_back(ProblemText(col, warning));
    if (!ok) {
        *why = col.errors.empty() ? "the file holds no COL entry"
                                  : ProblemText(col, col.errors.front());
        return false;
    }
    std::vector<ColEntry> want;
    std::vector<float> tolerances;
    want.reserve(col.entries.size());
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < col.entries.size(); ++i) {
        const std::string label = EntryLabel(col, i);
        want.push_back(EntryForVersion(col.entries[i], version, label, notes));
        tolerances.push_back(VertexTolerance(col.entries[i], version));
        std::string refusal;
        if (!WriteColEntry(want.back(), version, &bytes, &refusal)) {
            *why = label + ": " + refusal;
            return false;
        }
        out->insert(out->end(), bytes.begin(), bytes.end());
    }
    *why = ReadBackProblem(*out, want, tolerances);
    return why->empty();
}

bool ConvertColEntry(const ColEntry& entry, int version, std::vector<uint8_t>* out,
                     std::vector<std::string>* notes, std::string* why) {
    out->clear();
    ColFile file;
    file.entries.push_back(entry);
    const std::string label = EntryLabel(file, 0);
    const ColEntry want = EntryForVersion(entry, version, label, notes);
    std::string refusal;
    if (!WriteColEntry(want, version, out, &refusal)) {
        *why = label + ": " + refusal;
        return false;
    }
    *why = ReadBackProblem(*out, {want}, {VertexTolerance(entry, version)});
    return why->empty();
}

namespace {

struct ConvertRequest {
    std::vector<std::string> inputs;
    int version = 3;
    std::string output;
    std::string outDir;
    bool inPlace = false;
    bool force = false;
    unsigned jobs = 0;
};

FileOutcome ConvertFile(const ConvertRequest& request, const std::string& path,
                        const std::string& output) {
    FileOutcome outcome;
    std::vector<uint8_t> bytes;
    std::string unused;
    if (!ReadWholeFile(path, &bytes, &unused)) {
        outcome.reason = ReadFailureReason(path);
        return outcome;
    }
    std::vector<uint8_t> converted;
    std::vector<std::string> notes, warnings;
    const bool ok = ConvertColBytes(bytes.data(), bytes.size(), request.version, &converted, &notes,
                                    &warnings, &outcome.reason);
    for (const std::string& warning : warnings)
        outcome.messages += "[warning] " + path + ": " + warning + "\n";
    for (const std::string& note : notes)
        outcome.messages += "[info] " + path + ": " + note + "\n";
    if (!ok)
        return outcome;
    bytes = std::vector<uint8_t>();
    if ((!request.outDir.empty() && !MakeParentFolders(output, &outcome.reason)) ||
        !WriteFileAtomically(output, converted.data(), converted.size(), &outcome.reason,
                             request.force || request.inPlace))
        return outcome;
    outcome.ok = true;
    return outcome;
}

int RunConvert(const ConvertRequest& request) {
    const int given = (request.output.empty() ? 0 : 1) + (request.outDir.empty() ? 0 : 1) +
                      (request.inPlace ? 1 : 0);
    if (given != 1) {
        PrintError(
            "convert writes COL files: give -o FILE (one input), --out-dir DIR or "
            "--in-place");
        return kExitUsage;
    }
    const std::vector<InputFile> files = FileInputs(request.inputs);
    if (!request.output.empty() && files.size() != 1) {
        PrintError("-o names the output of one file; use --out-dir or --in-place for several");
        return kExitUsage;
    }
    if (const int code = PrepareOutDir(request.outDir); code != kExitOk)
        return code;
    std::vector<std::string> outputs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        outputs[i] = request.inPlace ? files[i].path
                     : !request.output.empty()
                         ? request.output
                         : OutputPathFor(files[i].path, ".col", request.outDir);
    }
    OutputRules rules;
    rules.force = request.force;
    rules.inPlace = request.inPlace;
    rules.writesModels = true;
    const std::vector<std::string> refusals = CheckOutputs(files, outputs, rules);
    return RunCommandBatch(
        "convert", files, request.jobs,
        [&](size_t index, const std::string& path) {
            if (!refusals[index].empty()) {
                FileOutcome outcome;
                outcome.reason = refusals[index];
                return outcome;
            }
            return ConvertFile(request, path, outputs[index]);
        },
        "written");
}

// ---------------------------------------------------------------------------
// Splitting.

struct SplitRequest {
    std::vector<std::string> inputs;
    std::string outDir;
    bool force = false;
};

// One archive's work, laid out before any file is written.
struct SplitPlan {
    std::vector<uint8_t> bytes;
    ColFile col;
    std::vector<std::string> outputs;  // by entry
    std::string failure;               // why the archive is not split, or nothing
    std::string messages;
};

int RunSplit(const SplitRequest& request) {
    if (const int code = PrepareOutDir(request.outDir); code != kExitOk)
        return code;
    const std::vector<InputFile> files = FileInputs(request.inputs);
    OutputRules rules;
    rules.force = request.force;
    std::vector<SplitPlan> plans(files.size());
    // Names are handed out in input order, so that two entries (of one
    // archive or of two) never write one file, as the system compares names.
    std::set<std::string> taken;
    for (size_t i = 0; i < files.size(); ++i) {
        SplitPlan& plan = plans[i];
        const std::string& path = files[i].path;
        if (!ReadColInput(path, &plan.bytes, &plan.col, &plan.messages, &plan.failure))
            continue;
        const std::filesystem::path folder = request.outDir.empty()
                                                 ? platform::PathFromUtf8(path).parent_path()
                                                 : platform::PathFromUtf8(request.outDir);
        for (size_t e = 0; e < plan.col.entries.size(); ++e) {
            const std::string& name = plan.col.entries[e].name;
            const std::string stem = SafeFileStem(name);
            std::string file = stem + ".col";
            std::string output = platform::Utf8FromPath(folder / platform::PathFromUtf8(file));
            bool clashed = false;
            for (int n = 2; !taken.insert(platform::NameKey(output)).second; ++n) {
                clashed = true;
                file = stem + "-" + std::to_string(n) + ".col";
                output = platform::Utf8FromPath(folder / platform::PathFromUtf8(file));
            }
            if (stem != name || clashed) {
                std::string why = stem != name ? "its name is not safe as a file name" : "";
                if (clashed)
                    why += std::string(why.empty() ? "" : ", and ") + stem +
                           ".col is taken by another entry";
                plan.messages += "[info] " + path + ": " + EntryLabel(plan.col, e) +
                                 " is written as " + file + ": " + why + "\n";
            }
            const std::string refusal = CheckSingleOutput(files, output, rules);
            if (!refusal.empty() && plan.failure.empty())
                plan.failure = EntryLabel(plan.col, e) + ": " + refusal;
            plan.outputs.push_back(output);
        }
    }

    size_t written = 0;
    std::vector<size_t> counts(files.size(), 0);
    BatchSettings settings;
    settings.command = "split";
    const BatchResult result = RunBatch(
        files,
        [&](size_t index, const std::string&) {
            SplitPlan& plan = plans[index];
            FileOutcome outcome;
            outcome.messages = plan.messages;
            outcome.reason = plan.failure;
            if (!outcome.reason.empty())
                return outcome;
            for (size_t e = 0; e < plan.col.entries.size(); ++e) {
                const ColEntry& entry = plan.col.entries[e];
                const std::vector<uint8_t> piece(plan.bytes.begin() + entry.offset,
                                                 plan.bytes.begin() + entry.offset + entry.length);
                outcome.reason = ReadBackProblem(piece, {entry}, {0.0f});
                if (!outcome.reason.empty()) {
                    outcome.reason = plan.outputs[e] + ": " + outcome.reason;
                    return outcome;
                }
                if ((!request.outDir.empty() &&
                     !MakeParentFolders(plan.outputs[e], &outcome.reason)) ||
                    !WriteFileAtomically(plan.outputs[e], piece.data(), piece.size(),
                                         &outcome.reason, request.force))
                    return outcome;
                ++counts[index];
            }
            outcome.ok = true;
            return outcome;
        },
        settings);
    for (size_t count : counts)
        written += count;
    PrintSummary(result, "split", CountText(written, "entry file written", "entry files written"));
    return result.ExitCode();
}

// ---------------------------------------------------------------------------
// Merging.

struct MergeRequest {
    std::vector<std::string> inputs;
    std::string output;
    bool force = false;
};

int RunMerge(const MergeRequest& request) {
    const std::vector<InputFile> files = FileInputs(request.inputs);
    OutputRules rules;
    rules.force = request.force;
    // The one output: refused before any work.
    const std::string refusal = CheckSingleOutput(files, request.output, rules);
    if (!refusal.empty()) {
        PrintError("-o " + request.output + ": " + refusal);
        return kExitUsage;
    }
    std::vector<std::vector<uint8_t>> bytes(files.size());
    std::vector<ColFile> cols(files.size());
    BatchSettings settings;
    settings.command = "merge";
    BatchResult result = RunBatch(
        files,
        [&](size_t index, const std::string& path) {
            FileOutcome outcome;
            outcome.ok =
                ReadColInput(path, &bytes[index], &cols[index], &outcome.messages, &outcome.reason);
            return outcome;
        },
        settings);

    std::string why;
    size_t entries = 0;
    if (result.failed > 0) {
        why = "not written: " + CountText(result.failed, "input", "inputs") + " could not be read";
    } else {
        std::vector<uint8_t> merged;
        std::vector<ColEntry> want;
        for (size_t i = 0; i < files.size(); ++i) {
            for (ColEntry& entry : cols[i].entries) {
                merged.insert(merged.end(), bytes[i].begin() + entry.offset,
                              bytes[i].begin() + entry.offset + entry.length);
                want.push_back(std::move(entry));
            }
            bytes[i] = std::vector<uint8_t>();
        }
        entries = want.size();
        why = ReadBackProblem(merged, want, std::vector<float>(want.size(), 0.0f));
        if (why.empty())
            WriteFileAtomically(request.output, merged.data(), merged.size(), &why, request.force);
    }
    int exitCode = result.ExitCode();
    if (!why.empty()) {
        PrintError(request.output + ": " + why);
        result.failed += result.succeeded;
        result.succeeded = 0;
        entries = 0;
        exitCode = kExitFailed;
    }
    PrintSummary(result, "added", CountText(entries, "entry", "entries"));
    return exitCode;
}

}  // namespace

void AddColVersionOption(CLI::App& command, int& version, const std::string& name,
                         const std::string& description) {
    const std::map<std::string, int> versions{{"col1", 1}, {"col2", 2}, {"col3", 3}};
    command.add_option(name, version, description)
        ->type_name("col1|col2|col3")
        ->transform(CLI::CheckedTransformer(versions, CLI::ignore_case).description(""));
}

void AddConvertCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ConvertRequest>();
    CLI::App* command = app.add_subcommand(
        "convert", "Write every entry of each COL file again as version 1, 2 or 3");
    command->add_option("inputs", request->inputs, "COL files or archives")
        ->required()
        ->type_name("FILE.col");
    AddColVersionOption(*command, request->version, "--to",
                        "The version to write; surfaces are mapped when the game family changes");
    command->get_option("--to")->required();
    CLI::Option* output =
        command->add_option("-o,--output", request->output, "The output file (one input only)")
            ->type_name("FILE");
    CLI::Option* outDir = command
                              ->add_option("--out-dir", request->outDir,
                                           "Write every output into this folder, made when missing")
                              ->type_name("DIR")
                              ->excludes(output);
    command->add_flag("--in-place", request->inPlace, "Replace each input")
        ->excludes(output)
        ->excludes(outDir);
    command->add_flag("--force", request->force, "Replace output files that exist");
    command
        ->add_option("-j,--jobs", request->jobs,
                     "Files worked on at once (default: the number of cores)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    command->callback(
        [request, &context] { context.run = [request] { return RunConvert(*request); }; });
}

void AddSplitCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<SplitRequest>();
    CLI::App* command = app.add_subcommand(
        "split", "Write each entry of a COL archive as a file of its own, NAME.col");
    command->add_option("inputs", request->inputs, "COL archives")
        ->required()
        ->type_name("ARCHIVE.col");
    command
        ->add_option("--out-dir", request->outDir,
                     "Write the entries into this folder, made when missing (default: beside "
                     "each archive)")
        ->type_name("DIR");
    command->add_flag("--force", request->force, "Replace output files that exist");
    command->callback(
        [request, &context] { context.run = [request] { return RunSplit(*request); }; });
}

void AddMergeCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<MergeRequest>();
    CLI::App* command = app.add_subcommand(
        "merge", "Write the entries of every COL file, in order and unchanged, as one archive");
    command->add_option("inputs", request->inputs, "COL files or archives")
        ->required()
        ->type_name("FILE.col");
    command->add_option("-o,--output", request->output, "The archive to write")
        ->required()
        ->type_name("OUT.col");
    command->add_flag("--force", request->force, "Replace the archive when it exists");
    command->callback(
        [request, &context] { context.run = [request] { return RunMerge(*request); }; });
}

}  // namespace brennix::cli
