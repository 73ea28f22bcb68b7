// What the model commands share: the output options, loading a model,
// reading inputs whole, the collision file checks and search, and writing a
// model that reads back.
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "cli/ModelCommands.h"
#include "col/ColModel.h"
#include "dff/WholeModelWrite.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace brennix::cli {

void AddWriteOptions(CLI::App& command, WriteTarget& target) {
    CLI::Option* output =
        command.add_option("-o,--output", target.output, "The output file (one model only)")
            ->type_name("OUT");
    command.add_flag("--in-place", target.inPlace, "Replace each model file")->excludes(output);
    command.add_flag("--force", target.force, "Replace the -o file when it exists");
}

bool CheckWriteTarget(const WriteTarget& target, size_t modelCount) {
    if (target.output.empty() && !target.inPlace) {
        PrintError("this command writes models: give -o OUT (one model) or --in-place");
        return false;
    }
    if (!target.output.empty() && modelCount != 1) {
        PrintError("-o names the output of one model; use --in-place for several");
        return false;
    }
    return true;
}

const std::string& TargetPath(const WriteTarget& target, const std::string& path) {
    return target.inPlace ? path : target.output;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

bool LoadClumpModel(const std::string& path, WholeModel* model, std::string* why) {
    if (model->Load(path.c_str()) < 0) {
        *why = ReadFailureReason(path);
        return false;
    }
    if (!model->hasClump) {
        *why =
            model->problems.empty() ? "the file holds no clump" : model->problems.front().message;
        return false;
    }
    return true;
}

std::string ReadFailureReason(const std::string& path) {
    uint64_t size = 0;
    platform::FileFailure failure;
    std::FILE* file = platform::OpenRegularFile(path.c_str(), &size, &failure);
    if (file != nullptr) {
        std::fclose(file);
        if (size <= UINT32_MAX)
            return "cannot read the file";
        failure.problem = platform::FileProblem::kTooLarge;
        failure.size = size;
    }
    std::string words = platform::DescribeFileFailure(failure);
    return words.empty() ? "cannot read the file" : words;
}

std::string ModelNameOf(const std::string& path) {
    std::string name = platform::Utf8FromPath(platform::PathFromUtf8(path).filename());
    if (name.size() > 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (tail == ".dff")
            name.resize(name.size() - 4);
    }
    return name;
}

void AddColOutputOptions(CLI::App& command, std::string& output, std::string& outDir, bool& force) {
    CLI::Option* outputOption =
        command.add_option("-o,--output", output, "The output file (one model only)")
            ->type_name("FILE");
    command
        .add_option("--out-dir", outDir,
                    "Write every output into this folder, made when missing; with -r the "
                    "folders' trees are kept below it (default: beside each model)")
        ->type_name("DIR")
        ->excludes(outputOption);
    command.add_flag("--force", force, "Replace output files that exist");
}

bool CheckColOutput(const std::string& output, size_t modelCount) {
    if (!output.empty() && modelCount != 1) {
        PrintError("-o names the output of one model; use --out-dir for several");
        return false;
    }
    return true;
}

std::string ColOutputPath(const std::string& output, const std::string& outDir,
                          const std::string& path) {
    return output.empty() ? OutputPathFor(path, ".col", outDir) : output;
}

std::vector<std::string> ColOutputPaths(const std::vector<InputFile>& files,
                                        const std::string& output, const std::string& outDir) {
    std::vector<std::string> outputs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].error.empty())
            outputs[i] = output.empty() ? OutputPathFor(files[i], ".col", outDir) : output;
    }
    return outputs;
}

int PrepareOutDir(const std::string& outDir) {
    if (outDir.empty())
        return kExitOk;
    std::error_code ec;
    const fs::path folder = platform::PathFromUtf8(outDir);
    const fs::file_status status = fs::status(folder, ec);
    if (fs::is_directory(status))
        return kExitOk;
    if (fs::exists(status)) {
        PrintError("--out-dir " + outDir + ": not a folder");
        return kExitUsage;
    }
    fs::create_directories(folder, ec);
    if (ec && !fs::is_directory(folder)) {
        PrintError("--out-dir " + outDir + ": cannot make the folder: " + ec.message());
        return kExitFailed;
    }
    return kExitOk;
}

bool MakeParentFolders(const std::string& path, std::string* why) {
    const fs::path parent = platform::PathFromUtf8(path).parent_path();
    std::error_code ec;
    if (parent.empty() || fs::is_directory(parent, ec))
        return true;
    // Several workers may make one folder at once: one that is there after
    // all is no failure.
    fs::create_directories(parent, ec);
    if (ec && !fs::is_directory(parent)) {
        *why = "cannot make the folder " + platform::Utf8FromPath(parent) + ": " + ec.message();
        return false;
    }
    return true;
}

namespace {

// Where a path leads, as a key equal for two paths exactly when they lead to
// one file: the file's identity when it exists, else its folder's identity
// and its name as the system compares names, else the whole name so.
std::string PlaceKey(const std::string& path) {
    std::string identity;
    if (platform::FileIdentity(path, &identity))
        return "file " + identity;
    const fs::path place = platform::PathFromUtf8(path);
    const fs::path parent = place.has_parent_path() ? place.parent_path() : fs::path(".");
    if (place.has_filename() && platform::FileIdentity(platform::Utf8FromPath(parent), &identity))
        return "in " + identity + " " +
               platform::FoldName(platform::Utf8FromPath(place.filename()));
    return "name " + platform::NameKey(path);
}

// The run's inputs by file identity.
struct KnownInputs {
    std::map<std::string, size_t> models;      // identity -> first input of that file
    std::map<std::string, size_t> others;      // identity -> index in otherInputs
    std::vector<std::string> modelIdentities;  // by input; empty when unknown

    KnownInputs(const std::vector<InputFile>& files, const OutputRules& rules)
        : modelIdentities(files.size()) {
        for (size_t i = 0; i < files.size(); ++i) {
            if (files[i].error.empty() &&
                platform::FileIdentity(files[i].path, &modelIdentities[i]))
                models.emplace(modelIdentities[i], i);
        }
        for (size_t k = 0; k < rules.otherInputs.size(); ++k) {
            std::string identity;
            if (platform::FileIdentity(rules.otherInputs[k].first, &identity))
                others.emplace(identity, k);
        }
    }
};

// Why `output` may not be written by input `self` (none: the run's single
// output), or nothing.
std::string Refusal(const std::vector<InputFile>& files, const KnownInputs& known,
                    const OutputRules& rules, const std::string& output, size_t self) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(platform::PathFromUtf8(output), ec);
    if (!fs::exists(status))
        return std::string();
    std::string identity;
    if (platform::FileIdentity(output, &identity)) {
        auto other = known.others.find(identity);
        if (other != known.others.end())
            return "the output " + output + " is " + rules.otherInputs[other->second].second + " " +
                   rules.otherInputs[other->second].first + "; an output never replaces an input";
        const bool own = self < files.size() && known.modelIdentities[self] == identity;
        if (own && rules.inPlace)
            return std::string();
        auto model = known.models.find(identity);
        if (model != known.models.end()) {
            std::string reason = "the output " + output + " is the input " +
                                 files[model->second].path + "; an output never replaces an input";
            if (own && rules.writesModels)
                reason += " (--in-place replaces a model)";
            return reason;
        }
    }
    if (fs::is_directory(fs::status(platform::PathFromUtf8(output), ec)))
        return output + " is a folder";
    if (!rules.force)
        return output + " exists; --force replaces it";
    return std::string();
}

}  // namespace

std::vector<std::string> CheckOutputs(const std::vector<InputFile>& files,
                                      const std::vector<std::string>& outputs,
                                      const OutputRules& rules) {
    const KnownInputs known(files, rules);
    std::vector<std::string> refusals(files.size());
    std::map<std::string, size_t> first;
    for (size_t i = 0; i < files.size() && i < outputs.size(); ++i) {
        if (!files[i].error.empty() || outputs[i].empty())
            continue;
        auto placed = first.emplace(PlaceKey(outputs[i]), i);
        if (!placed.second) {
            refusals[i] = "its output " + outputs[i] + " is also the output of " +
                          files[placed.first->second].path;
            continue;
        }
        refusals[i] = Refusal(files, known, rules, outputs[i], i);
    }
    return refusals;
}

std::string CheckSingleOutput(const std::vector<InputFile>& files, const std::string& output,
                              const OutputRules& rules) {
    return Refusal(files, KnownInputs(files, rules), rules, output, files.size());
}

bool ParseColour(const std::string& text, uint8_t out[4]) {
    auto hexDigit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    uint8_t rgb[3];
    if (!text.empty() && text[0] == '#') {
        if (text.size() != 7)
            return false;
        for (size_t i = 0; i < 3; ++i) {
            int high = hexDigit(text[1 + 2 * i]);
            int low = hexDigit(text[2 + 2 * i]);
            if (high < 0 || low < 0)
                return false;
            rgb[i] = static_cast<uint8_t>(high * 16 + low);
        }
    } else {
        size_t at = 0;
        for (size_t i = 0; i < 3; ++i) {
            if (i > 0) {
                if (at >= text.size() || text[at] != ',')
                    return false;
                ++at;
            }
            unsigned value = 0;
            size_t digits = 0;
            for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
                value = value * 10 + static_cast<unsigned>(text[at] - '0');
                if (digits >= 3 || value > 255)
                    return false;
            }
            if (digits == 0)
                return false;
            rgb[i] = static_cast<uint8_t>(value);
        }
        if (at != text.size())
            return false;
    }
    out[0] = rgb[0];
    out[1] = rgb[1];
    out[2] = rgb[2];
    out[3] = 255;
    return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* why) {
    out->clear();
    uint64_t size = 0;
    platform::FileFailure failure;
    std::FILE* file = platform::OpenRegularFile(path.c_str(), &size, &failure);
    if (file == nullptr) {
        *why = "cannot read " + path + ": " + platform::DescribeFileFailure(failure);
        return false;
    }
    if (size > UINT32_MAX) {
        std::fclose(file);
        failure.problem = platform::FileProblem::kTooLarge;
        failure.size = size;
        *why = "cannot read " + path + ": " + platform::DescribeFileFailure(failure);
        return false;
    }
    out->resize(static_cast<size_t>(size));
    const size_t read = size > 0 ? std::fread(out->data(), 1, out->size(), file) : 0;
    // One more byte means the file grew while it was read.
    const bool whole = read == out->size() && std::fgetc(file) == EOF && !std::ferror(file);
    std::fclose(file);
    if (!whole) {
        out->clear();
        *why = "cannot read " + path + " whole";
        return false;
    }
    return true;
}

bool CheckColFile(const std::vector<uint8_t>& bytes, std::string* why) {
    if (bytes.empty()) {
        *why = "the collision file is empty";
        return false;
    }
    if (!LooksLikeColFile(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        *why = "the collision file does not begin with COLL, COL2, COL3 or COL4";
        return false;
    }
    return true;
}

std::string ColFileBeside(const std::string& modelPath) {
    fs::path exact = platform::PathFromUtf8(modelPath);
    exact.replace_extension(".col");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(exact, ec)))
        return platform::Utf8FromPath(exact);
    auto lower = [](std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    };
    const std::string wanted = lower(platform::Utf8FromPath(exact.filename()));
    const fs::path folder = exact.has_parent_path() ? exact.parent_path() : fs::path(".");
    std::string best;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::Utf8FromPath(it->path().filename());
        if (lower(name) == wanted && (best.empty() || name < best))
            best = name;
    }
    if (best.empty())
        return platform::Utf8FromPath(exact);
    return platform::Utf8FromPath(exact.has_parent_path()
                                      ? exact.parent_path() / platform::PathFromUtf8(best)
                                      : platform::PathFromUtf8(best));
}

bool WriteModelReadBack(const std::string& path, const uint8_t* bytes, size_t length,
                        const WholeModel& before,
                        const std::function<bool(const WholeModel&, std::string*)>& check,
                        std::string* why) {
    WholeModel after;
    if (!after.View(bytes, length)) {
        *why = "out of memory";
        return false;
    }
    if (!ReadsBackAsWell(before, after, why))
        return false;
    if (check && !check(after, why))
        return false;
    return WriteFileAtomically(path, bytes, length, why);
}

}  // namespace brennix::cli
