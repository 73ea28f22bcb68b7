// brennix paint and brennix night: the colour jobs on model files.
//
// Each model is read once, whole, by the commands' reader, and written back
// with every geometry of its Geometry List rebuilt piece by piece from its
// arrays and every other chunk as read, in its place: lights, cameras,
// unknown chunks, a second Struct, bytes after the clump. A model whose
// clump holds just what the classic save writes (one atomic, one geometry,
// nothing it would drop or change) so comes out byte for byte as the classic
// jobs write it. The file is written from its runs, straight from the read
// bytes and the new colour arrays, without a copy of the model; the runs are
// walked as a reader walks them before anything is written.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

#include "cli/ModelCommands.h"
#include "dff/WholeModelWrite.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace brennix::cli {

namespace {

// Why geometry `index` cannot be rebuilt, in words.
std::string GeometryFault(const WholeModel& model, size_t index) {
    const std::string step = "geometry " + std::to_string(index);
    for (const ModelProblem& problem : model.problems) {
        if (problem.step == step)
            return step + ": " + problem.message;
    }
    return step + " cannot be read";
}

// Reads the model at `path` whole, adds its warnings to `messages`, and
// checks that every geometry of its Geometry List can be rebuilt. Only the
// geometries matter: whatever else the reader found is written back as it
// was and reads back as it did.
bool LoadColourModel(const std::string& path, WholeModel* model, std::string* messages,
                     std::string* why) {
    if (!LoadClumpModel(path, model, why))
        return false;
    *messages += WarningLines(*model, path);
    if (model->outOfMemory) {
        *why = "out of memory";
        return false;
    }
    if (std::none_of(model->children.begin(), model->children.end(),
                     [](const ChunkPlace& child) { return child.type == kTypeGeometryList; })) {
        *why = "the model has no Geometry List";
        return false;
    }
    if (model->geometries.empty()) {
        *why = "the model holds no readable geometry";
        return false;
    }
    for (size_t i = 0; i < model->geometries.size(); ++i) {
        if (!model->geometries[i].ok || model->geometries[i].geometry == nullptr) {
            *why = GeometryFault(*model, i);
            return false;
        }
    }
    return true;
}

// Replaces the file at `path` with the runs, as WriteFileAtomically does
// with one block (whether an output may be replaced is settled before).
bool WriteRuns(const std::string& path, const FileRuns& runs, std::string* why) {
    platform::FileFailure failure;
    if (platform::WriteWholeFile(path.c_str(), runs.Segments().data(), runs.Segments().size(),
                                 platform::WriteMode::kReplace, &failure))
        return true;
    if (failure.problem == platform::FileProblem::kMissing)
        *why = "cannot write " + path + ": no such folder";
    else
        *why = "cannot write " + path + ": " + platform::DescribeFileFailure(failure);
    return false;
}

// Lays out the changed model, walks the layout as a reader would, and
// writes it where `target` sends the model at `path`.
void WriteColoured(const WholeModel& model, const WriteTarget& target, const std::string& path,
                   const std::vector<ExpectedColours>& expected, FileOutcome* outcome) {
    FileRuns runs;
    outcome->ok = LayOutModelWithGeometries(model, &runs, &outcome->reason) &&
                  LaidOutModelReadsBack(model, runs, expected, &outcome->reason) &&
                  WriteRuns(TargetPath(target, path), runs, &outcome->reason);
    if (outcome->ok)
        outcome->reason.clear();
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
    FileOutcome outcome;
    WholeModel model;
    if (!LoadColourModel(path, &model, &outcome.messages, &outcome.reason))
        return outcome;
    std::vector<ExpectedColours> expected;
    expected.reserve(model.geometries.size());
    for (GeometryEntry& entry : model.geometries) {
        Geometry& geometry = *entry.geometry;
        if (!geometry.SetUniformColors(request.day, request.night)) {
            outcome.reason = "out of memory";
            return outcome;
        }
        expected.push_back({geometry.prelitColors, geometry.nightColors});
    }
    WriteColoured(model, request.target, path, expected, &outcome);
    return outcome;
}

// Why the night model's geometries cannot give `model`'s theirs, or nothing.
std::string NightMismatch(const WholeModel& model, const WholeModel& night) {
    const size_t count = model.geometries.size();
    if (count != night.geometries.size())
        return "the model holds " + std::to_string(count) + " geometries and the night model " +
               std::to_string(night.geometries.size());
    for (size_t i = 0; i < count; ++i) {
        const Geometry& target = *model.geometries[i].geometry;
        const Geometry& source = *night.geometries[i].geometry;
        const std::string which = "geometry " + std::to_string(i);
        if (target.vertexCount != source.vertexCount)
            return count == 1
                       ? "the model has " + std::to_string(target.vertexCount) +
                             " vertices and the night model " + std::to_string(source.vertexCount)
                       : which + " has " + std::to_string(target.vertexCount) +
                             " vertices and the night model's " +
                             std::to_string(source.vertexCount);
        if (!source.hasPrelit || source.prelitColors == nullptr)
            return count == 1 ? "the night model has no day colours"
                              : which + " of the night model has no day colours";
    }
    return std::string();
}

FileOutcome ImportNightFile(const NightRequest& request, const std::string& path) {
    FileOutcome outcome;
    WholeModel model;
    WholeModel night;
    if (!LoadColourModel(path, &model, &outcome.messages, &outcome.reason))
        return outcome;
    if (!LoadColourModel(request.from, &night, &outcome.messages, &outcome.reason)) {
        outcome.reason = "the night model: " + outcome.reason;
        return outcome;
    }
    outcome.reason = NightMismatch(model, night);
    if (!outcome.reason.empty())
        return outcome;
    std::vector<ExpectedColours> expected;
    expected.reserve(model.geometries.size());
    for (size_t i = 0; i < model.geometries.size(); ++i) {
        const Geometry& source = *night.geometries[i].geometry;
        if (!model.geometries[i].geometry->ImportNightColors(source)) {
            outcome.reason = "out of memory";
            return outcome;
        }
        expected.push_back({nullptr, source.prelitColors});
    }
    WriteColoured(model, request.target, path, expected, &outcome);
    return outcome;
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
