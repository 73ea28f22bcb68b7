// brennix paint and brennix night: the colour jobs on model files.
//
// A model the classic loader takes (one atomic, a Geometry List of one
// geometry) goes the classic way, so its output is byte for byte what the
// classic jobs write. Any other model has every geometry rebuilt in place,
// with every other clump child kept in its order.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

#include "cli/ModelCommands.h"
#include "dff/DffModel.h"
#include "dff/WholeModelWrite.h"
#include "platform/Paths.h"

namespace brennix::cli {

namespace {

// A classic model released however the job ends.
struct ClassicModel {
    DffModel model;
    ClassicModel() { model.Init(); }
    ~ClassicModel() { model.Release(); }
    ClassicModel(const ClassicModel&) = delete;
    ClassicModel& operator=(const ClassicModel&) = delete;
};

enum class Road { kClassic, kWhole, kRefused };

// The first problem of a model in words, or the classic loader's reason.
std::string ProblemText(const WholeModel& whole, uint32_t classicCode) {
    if (!whole.problems.empty())
        return whole.problems.front().step + ": " + whole.problems.front().message;
    return ErrorCodeName(classicCode);
}

// Loads a model both ways from one read of the file and picks its road:
// classic when the classic loader reads one geometry; whole when it refuses
// only because of a second atomic or a geometry count other than 1 and every
// geometry reads whole. `whole` views the bytes `classic` loaded, so it must
// be released first; neither writes to them.
Road ChooseRoad(const std::string& path, ClassicModel& classic, WholeModel& whole,
                std::string* why) {
    DffModel& m = classic.model;
    const int32_t loaded = m.Load(path.c_str());
    if (loaded < 0) {
        *why = "cannot read " + path;
        return Road::kRefused;
    }
    if (!whole.View(m.fileBuffer.data, m.fileBuffer.length)) {
        *why = "out of memory";
        return Road::kRefused;
    }
    bool several = false;
    if (loaded > 0) {
        if (m.ReadGeometryList() > 0) {
            if (m.FirstGeometry() != nullptr)
                return Road::kClassic;
            *why = "the model holds no readable geometry";
            return Road::kRefused;
        }
        if (m.geometryList == nullptr) {
            *why = "the model has no Geometry List";
            return Road::kRefused;
        }
        several = m.errorCode == kErrorGeometryCount;
    } else {
        several = m.errorCode == kErrorSecondAtomic;
    }
    if (!several) {
        *why = ProblemText(whole, m.errorCode);
        return Road::kRefused;
    }
    for (const ModelProblem& problem : whole.problems) {
        if (problem.step == "file" || problem.step == "clump" ||
            problem.step.compare(0, 8, "geometry") == 0) {
            *why = problem.step + ": " + problem.message;
            return Road::kRefused;
        }
    }
    if (whole.geometries.empty()) {
        *why = "the model holds no readable geometry";
        return Road::kRefused;
    }
    return Road::kWhole;
}

// The file the classic jobs write for a changed model.
bool BuildClassic(DffModel& model, std::vector<uint8_t>* out, std::string* why) {
    if (!model.RebuildGeometryList()) {
        *why = "the geometry list cannot be rebuilt";
        return false;
    }
    ByteBuffer file;
    if (!model.BuildFile(file)) {
        *why = "the model cannot be written (a chunk of it is cut short)";
        return false;
    }
    try {
        out->assign(file.data, file.data + file.length);
    } catch (...) {
        file.Reset();
        throw;
    }
    file.Reset();
    return true;
}

// What each written geometry must read back with.
struct Expected {
    const Geometry* geometry;
    bool day;
};

std::function<bool(const WholeModel&, std::string*)> ColoursCheck(std::vector<Expected> expected) {
    return [expected](const WholeModel& after, std::string* why) {
        for (size_t i = 0; i < expected.size(); ++i) {
            const Geometry& g = *expected[i].geometry;
            if (!ColoursReadBack(after, i, expected[i].day ? g.prelitColors : nullptr,
                                 g.nightColors, g.vertexCount)) {
                *why = "the written model would not read back with the new colours of geometry " +
                       std::to_string(i);
                return false;
            }
        }
        return true;
    };
}

FileOutcome Failed(const std::string& reason) {
    FileOutcome outcome;
    outcome.reason = reason;
    return outcome;
}

// Builds the changed model, the classic way or from `whole`, and writes it
// where `target` sends the model at `path` once each geometry reads back with
// its new colours.
FileOutcome WriteColoured(bool classicWay, ClassicModel& classic, WholeModel& whole,
                          const WriteTarget& target, const std::string& path,
                          std::vector<Expected> expected) {
    std::vector<uint8_t> bytes;
    std::string why;
    const bool built = classicWay ? BuildClassic(classic.model, &bytes, &why)
                                  : WriteModelWithGeometries(whole, &bytes, &why);
    if (!built || !WriteModelReadBack(TargetPath(target, path), bytes.data(), bytes.size(), whole,
                                      ColoursCheck(std::move(expected)), &why))
        return Failed(why);
    FileOutcome outcome;
    outcome.ok = true;
    return outcome;
}

// Runs `job` on every input whose output may be written.
int RunWritingBatch(const std::string& command, const std::vector<InputFile>& files, unsigned jobs,
                    const WriteTarget& target, const OutputRules& rules, const FileJob& job) {
    std::vector<std::string> outputs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].error.empty())
            outputs[i] = TargetPath(target, files[i].path);
    }
    const std::vector<std::string> refusals = CheckOutputs(files, outputs, rules);
    return RunCommandBatch(
        command, files, jobs,
        [&job, &refusals](size_t index, const std::string& path) {
            if (!refusals[index].empty()) {
                FileOutcome outcome;
                outcome.reason = refusals[index];
                return outcome;
            }
            return job(index, path);
        },
        "written");
}

OutputRules RulesOf(const WriteTarget& target) {
    OutputRules rules;
    rules.force = target.force;
    rules.inPlace = target.inPlace;
    rules.writesModels = true;
    return rules;
}

int RunPaint(PaintRequest request) {
    // The validator has accepted both already.
    ParseColour(request.dayText, request.day);
    ParseColour(request.nightText, request.night);
    std::vector<InputFile> files = ExpandInputs(request.inputs.paths, request.inputs.recursive);
    if (!CheckWriteTarget(request.target, files.size()))
        return kExitUsage;
    return RunWritingBatch(
        "paint", files, request.inputs.jobs, request.target, RulesOf(request.target),
        [&request](size_t, const std::string& path) { return PaintModelFile(request, path); });
}

int RunNight(const NightRequest& request) {
    std::error_code ec;
    if (std::filesystem::is_directory(platform::PathFromUtf8(request.model), ec)) {
        PrintError("night takes one model file, not a folder: " + request.model);
        return kExitUsage;
    }
    if (!CheckWriteTarget(request.target, 1))
        return kExitUsage;
    std::vector<InputFile> files = ExpandInputs({request.model}, false);
    OutputRules rules = RulesOf(request.target);
    rules.otherInputs.emplace_back(request.from, "the night model");
    return RunWritingBatch(
        "night", files, 1, request.target, rules,
        [&request](size_t, const std::string& path) { return ImportNightFile(request, path); });
}

CLI::Validator ColourValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            uint8_t colour[4];
            return ParseColour(text, colour) ? std::string()
                                             : "a colour is #RRGGBB or R,G,B (0 to 255 each)";
        },
        "COLOUR");
}

}  // namespace

FileOutcome PaintModelFile(const PaintRequest& request, const std::string& path) {
    ClassicModel classic;
    WholeModel whole;
    std::string why;
    const Road road = ChooseRoad(path, classic, whole, &why);
    if (road == Road::kRefused)
        return Failed(why);
    std::vector<Expected> expected;
    if (road == Road::kClassic) {
        Geometry* geometry = classic.model.FirstGeometry();
        if (!geometry->SetUniformColors(request.day, request.night))
            return Failed("out of memory");
        expected.push_back({geometry, true});
    } else {
        for (GeometryEntry& entry : whole.geometries) {
            if (!entry.geometry.SetUniformColors(request.day, request.night))
                return Failed("out of memory");
            expected.push_back({&entry.geometry, true});
        }
    }
    return WriteColoured(road == Road::kClassic, classic, whole, request.target, path,
                         std::move(expected));
}

FileOutcome ImportNightFile(const NightRequest& request, const std::string& path) {
    ClassicModel classic;
    WholeModel whole;
    ClassicModel nightClassic;
    WholeModel night;
    std::string why;
    const Road road = ChooseRoad(path, classic, whole, &why);
    if (road == Road::kRefused)
        return Failed(why);
    const Road nightRoad = ChooseRoad(request.from, nightClassic, night, &why);
    if (nightRoad == Road::kRefused)
        return Failed("the night model: " + why);

    const bool classicWay = road == Road::kClassic && nightRoad == Road::kClassic;
    std::vector<Expected> expected;
    if (classicWay) {
        Geometry* target = classic.model.FirstGeometry();
        const Geometry* source = nightClassic.model.FirstGeometry();
        if (target->vertexCount != source->vertexCount)
            return Failed("the model has " + std::to_string(target->vertexCount) +
                          " vertices and the night model " + std::to_string(source->vertexCount));
        if (!target->ImportNightColors(*source))
            return Failed(source->hasPrelit ? "out of memory"
                                            : "the night model has no day colours");
        expected.push_back({target, false});
    } else {
        // Either model may have gone the classic way alone; both are read
        // whole, so the pairs come from the whole readings.
        for (WholeModel* m : {&whole, &night}) {
            if (m->geometries.empty() || std::any_of(m->geometries.begin(), m->geometries.end(),
                                                     [](const GeometryEntry& e) { return !e.ok; }))
                return Failed(std::string(m == &whole ? "the model" : "the night model") +
                              ": a geometry cannot be read");
        }
        if (whole.geometries.size() != night.geometries.size())
            return Failed("the model holds " + std::to_string(whole.geometries.size()) +
                          " geometries and the night model " +
                          std::to_string(night.geometries.size()));
        for (size_t i = 0; i < whole.geometries.size(); ++i) {
            Geometry& target = whole.geometries[i].geometry;
            const Geometry& source = night.geometries[i].geometry;
            const std::string which = "geometry " + std::to_string(i);
            if (target.vertexCount != source.vertexCount)
                return Failed(which + " has " + std::to_string(target.vertexCount) +
                              " vertices and the night model's " +
                              std::to_string(source.vertexCount));
            if (!source.hasPrelit)
                return Failed(which + " of the night model has no day colours");
        }
        for (size_t i = 0; i < whole.geometries.size(); ++i) {
            Geometry& target = whole.geometries[i].geometry;
            if (!target.ImportNightColors(night.geometries[i].geometry))
                return Failed("out of memory");
            expected.push_back({&target, false});
        }
    }
    return WriteColoured(classicWay, classic, whole, request.target, path, std::move(expected));
}

void AddPaintCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<PaintRequest>();
    CLI::App* command =
        app.add_subcommand("paint", "Paint every vertex with one day and one night colour");
    AddInputOptions(*command, request->inputs);
    command->add_option("--day", request->dayText, "The day colour: #RRGGBB or R,G,B")
        ->required()
        ->type_name("COLOUR")
        ->check(ColourValidator());
    command->add_option("--night", request->nightText, "The night colour: #RRGGBB or R,G,B")
        ->required()
        ->type_name("COLOUR")
        ->check(ColourValidator());
    AddWriteOptions(*command, request->target);
    command->callback(
        [request, &context] { context.run = [request] { return RunPaint(*request); }; });
}

void AddNightCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<NightRequest>();
    CLI::App* command =
        app.add_subcommand("night", "Take a second model's day colours as a model's night colours");
    command->add_option("model", request->model, "The model that takes night colours")
        ->required()
        ->type_name("MODEL");
    command
        ->add_option("--from", request->from,
                     "The night model: the same model, its day colours lit for the night")
        ->required()
        ->type_name("NIGHT_MODEL")
        ->check(ExistingFileValidator());
    AddWriteOptions(*command, request->target);
    command->callback(
        [request, &context] { context.run = [request] { return RunNight(*request); }; });
}

}  // namespace brennix::cli
