// brennix col: one standard COL3 collision file per model, made from every
// atomic of the clump, or one COL archive of all of them.
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "cli/Command.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"

namespace fs = std::filesystem;

namespace brennix::cli {

namespace {

struct ColCommandRequest {
    InputOptions inputs;
    std::string output;   // -o: the one model's output
    std::string outDir;   // --out-dir
    std::string archive;  // --archive: every model into this one file
    std::string surfacesFile;
    std::vector<std::string> skip;
    Placement placement = Placement::kAuto;
    ColShape shape = ColShape::kMesh;
    bool noWeld = false;
    unsigned surface = 0;
    bool faceGroups = false;
};

// The name a model's collision carries: its file name without ".dff".
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

// One model file to standard COL3 bytes. False with `why` set.
bool MakeColOfFile(const std::string& path, const ColRequest& request, std::vector<uint8_t>* out,
                   std::string* why, std::vector<std::string>* notes) {
    WholeModel model;
    if (model.Load(path.c_str()) < 0) {
        *why = "cannot read the file";
        return false;
    }
    return GenerateColBytes(model, request, ModelNameOf(path), out, why, notes);
}

std::string NormalPath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

bool ReadTextFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return !in.bad();
}

int RunCol(const ColCommandRequest& command) {
    ColRequest request;
    request.placement = command.placement;
    request.shape = command.shape;
    request.weld = !command.noWeld;
    request.skip = command.skip;
    request.surface = static_cast<uint8_t>(command.surface);
    request.faceGroups = command.faceGroups;
    if (!command.surfacesFile.empty()) {
        std::string text, why;
        if (!ReadTextFile(command.surfacesFile, &text)) {
            PrintError("--surfaces " + command.surfacesFile + ": cannot read the file");
            return kExitUsage;
        }
        if (!ParseSurfaceRules(text, &request.surfaces, &why)) {
            PrintError("--surfaces " + command.surfacesFile + ": " + why);
            return kExitUsage;
        }
    }

    std::vector<InputFile> files = ExpandInputs(command.inputs.paths, command.inputs.recursive);
    if (!command.output.empty() && files.size() != 1) {
        PrintError("-o names the output of one model; use --out-dir for several");
        return kExitUsage;
    }
    const bool toArchive = !command.archive.empty();

    // Where each model goes. Two inputs that would write one file (a.dff and
    // A.DFF from two folders into one --out-dir) would overwrite each other:
    // the later one fails instead.
    std::vector<std::string> targets(files.size());
    std::vector<std::string> clashes(files.size());
    std::map<std::string, size_t> firstTarget;
    for (size_t i = 0; i < files.size() && !toArchive; ++i) {
        if (!files[i].error.empty())
            continue;
        targets[i] = command.output.empty() ? OutputPathFor(files[i].path, ".col", command.outDir)
                                            : command.output;
        auto placed = firstTarget.emplace(NormalPath(targets[i]), i);
        if (!placed.second)
            clashes[i] = "its output " + targets[i] + " is also the output of " +
                         files[placed.first->second].path;
    }

    std::vector<std::vector<uint8_t>> entries(toArchive ? files.size() : 0);
    auto job = [&](size_t index, const std::string& path) {
        FileOutcome outcome;
        if (!clashes[index].empty()) {
            outcome.reason = clashes[index];
            return outcome;
        }
        std::vector<uint8_t> bytes;
        std::vector<std::string> notes;
        if (!MakeColOfFile(path, request, &bytes, &outcome.reason, &notes))
            return outcome;
        for (const std::string& note : notes)
            outcome.messages += "[info] " + path + ": " + note + "\n";
        if (toArchive) {
            entries[index].swap(bytes);
        } else if (!WriteFileAtomically(targets[index], bytes.data(), bytes.size(),
                                        &outcome.reason)) {
            return outcome;
        }
        outcome.ok = true;
        return outcome;
    };

    BatchSettings settings;
    settings.command = "col";
    settings.jobs = command.inputs.jobs;
    BatchResult result = RunBatch(files, job, settings);

    int exitCode = result.ExitCode();
    if (toArchive && result.succeeded > 0) {
        std::vector<uint8_t> archive;
        for (const std::vector<uint8_t>& entry : entries)
            archive.insert(archive.end(), entry.begin(), entry.end());
        std::string why;
        if (!WriteFileAtomically(command.archive, archive.data(), archive.size(), &why)) {
            PrintError(command.archive + ": " + why);
            exitCode = kExitFailed;
        }
    }
    PrintSummary(result, toArchive ? "added" : "written");
    return exitCode;
}

}  // namespace

void AddColCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<ColCommandRequest>();
    CLI::App* command = app.add_subcommand(
        "col", "Make a COL3 collision file for each model from all of its atomics");
    AddInputOptions(*command, request->inputs);
    CLI::Option* output =
        command->add_option("-o,--output", request->output, "The output file (one model only)")
            ->type_name("FILE");
    CLI::Option* outDir =
        command
            ->add_option("--out-dir", request->outDir,
                         "Write every output into this folder (default: beside each model)")
            ->type_name("DIR")
            ->check(CLI::ExistingDirectory)
            ->excludes(output);
    command
        ->add_option("--archive", request->archive,
                     "Write every model as one entry of this COL archive, in the order given")
        ->type_name("FILE")
        ->excludes(output)
        ->excludes(outDir);

    const std::map<std::string, Placement> placements{
        {"auto", Placement::kAuto}, {"frames", Placement::kFrames}, {"none", Placement::kNone}};
    command
        ->add_option("--place", request->placement,
                     "Where the atomics' vertices go: by their frames, as stored, or auto "
                     "(frames when the model has more than one atomic)")
        ->type_name("auto|frames|none")
        ->transform(CLI::CheckedTransformer(placements, CLI::ignore_case).description(""));
    const std::map<std::string, ColShape> shapes{
        {"mesh", ColShape::kMesh}, {"box", ColShape::kBox}, {"empty", ColShape::kEmpty}};
    command
        ->add_option("--shape", request->shape,
                     "Every triangle, one box equal to the bounds, or the bounds only")
        ->type_name("mesh|box|empty")
        ->transform(CLI::CheckedTransformer(shapes, CLI::ignore_case).description(""));
    command
        ->add_option("--skip", request->skip,
                     "Leave out the atomics whose frame name matches (* and ?, any case); "
                     "repeatable")
        ->type_name("GLOB")
        ->allow_extra_args(false);
    command->add_flag("--no-weld", request->noWeld,
                      "Keep every vertex and triangle instead of merging vertices that fall on "
                      "one 1/128 point");
    command->add_option("--surface", request->surface, "Surface id of every face (default 0)")
        ->type_name("N")
        ->check(CLI::Range(0u, 255u));
    command
        ->add_option("--surfaces", request->surfacesFile,
                     "Surface ids by texture name, lines like 'grass* = 9'; the first match "
                     "wins, others get --surface")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    command->add_flag("--face-groups", request->faceGroups,
                      "Order the faces in groups of at most 50 with a box each, for large meshes");
    command->callback(
        [request, &context] { context.run = [request] { return RunCol(*request); }; });
}

}  // namespace brennix::cli
