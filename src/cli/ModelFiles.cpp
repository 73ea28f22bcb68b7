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
#include "platform/Platform.h"

namespace fs = std::filesystem;

namespace brennix::cli {

void AddWriteOptions(CLI::App& command, WriteTarget& target) {
    CLI::Option* output =
        command.add_option("-o,--output", target.output, "The output file (one model only)")
            ->type_name("OUT");
    command.add_flag("--in-place", target.inPlace, "Replace each model file")->excludes(output);
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
        *why = "cannot read the file";
        return false;
    }
    if (!model->hasClump) {
        *why =
            model->problems.empty() ? "the file holds no clump" : model->problems.front().message;
        return false;
    }
    return true;
}

std::string ModelNameOf(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    if (name.size() > 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (tail == ".dff")
            name.resize(name.size() - 4);
    }
    return name;
}

void AddColOutputOptions(CLI::App& command, std::string& output, std::string& outDir) {
    CLI::Option* outputOption =
        command.add_option("-o,--output", output, "The output file (one model only)")
            ->type_name("FILE");
    command
        .add_option("--out-dir", outDir,
                    "Write every output into this folder (default: beside each model)")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory)
        ->excludes(outputOption);
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

std::vector<std::string> ColOutputClashes(const std::vector<InputFile>& files,
                                          const std::string& output, const std::string& outDir) {
    auto normal = [](const std::string& path) {
        std::error_code ec;
        fs::path absolute = fs::absolute(path, ec);
        return (ec ? fs::path(path) : absolute).lexically_normal().string();
    };
    std::vector<std::string> clashes(files.size());
    std::map<std::string, size_t> first;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i].error.empty())
            continue;
        const std::string target = ColOutputPath(output, outDir, files[i].path);
        auto placed = first.emplace(normal(target), i);
        if (!placed.second)
            clashes[i] = "its output " + target + " is also the output of " +
                         files[placed.first->second].path;
    }
    return clashes;
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
    std::FILE* file = platform::OpenRegularFile(path.c_str(), &size);
    if (file == nullptr) {
        *why = "cannot read " + path;
        return false;
    }
    if (size > UINT32_MAX) {
        std::fclose(file);
        *why = path + " is 4 GiB or larger";
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
    fs::path exact(modelPath);
    exact.replace_extension(".col");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(exact, ec)))
        return exact.string();
    auto lower = [](std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    };
    const std::string wanted = lower(exact.filename().string());
    const fs::path folder = exact.has_parent_path() ? exact.parent_path() : fs::path(".");
    std::string best;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (lower(name) == wanted && (best.empty() || name < best))
            best = name;
    }
    if (best.empty())
        return exact.string();
    return (exact.has_parent_path() ? exact.parent_path() / best : fs::path(best)).string();
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
