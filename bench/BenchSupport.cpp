#include "BenchSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brennix.h"
#include "cli/Batch.h"
#include "cli/ModelCommands.h"
#include "col/ColGenerate.h"
#include "dff/DffModel.h"
#include "dff/WholeModel.h"
#include "support/ModelBuilder.h"
#include "tool/Tool.h"

extern char** environ;

namespace brennix::bench {

namespace {

constexpr int kMeshMode = 2;  // GenerateColFromDff: a triangle mesh
constexpr uint8_t kDayColor[4] = {200, 180, 160, 255};
constexpr uint8_t kNightColor[4] = {40, 40, 80, 255};
constexpr uint32_t kPackedDay = 200 + 256 * 180 + 65536 * 160;
constexpr uint32_t kPackedNight = 40 + 256 * 40 + 65536 * 80;

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += argument;
    }
    return line;
}

// The uniform-colour job as the library's export runs it: the rebuilt
// Geometry List is written straight from the geometry.
bool PaintUniformColors(const std::string& input, const std::string& output) {
    DffModel model;
    model.Init();
    bool ok = model.Load(input.c_str()) > 0 && model.ReadGeometryList() != 0;
    Geometry* geometry = ok ? model.FirstGeometry() : nullptr;
    ok = geometry != nullptr && geometry->SetUniformColors(kDayColor, kNightColor) &&
         model.SaveWithRebuiltGeometry(output.c_str()) > 0;
    model.Release();
    return ok;
}

// The col command's work on one model with its default options, or keeping
// every triangle.
bool MakeWholeModelCol(const std::string& input, const std::string& output, bool exact) {
    WholeModel model;
    if (model.Load(input.c_str()) < 0)
        return false;
    std::string name = input.substr(0, input.size() - 4);  // without ".dff"
    std::vector<uint8_t> bytes;
    std::string why;
    ColRequest request;
    if (exact)
        request.maxError = 0;
    return GenerateColBytes(model, request, name, &bytes, &why) &&
           cli::WriteFileAtomically(output, bytes.data(), bytes.size(), &why);
}

}  // namespace

std::vector<uint8_t> LargeModelBytes(int32_t triangles, int32_t vertices) {
    test::LargeModelOptions options;
    options.prelit = true;
    options.uv = true;
    options.normals = true;
    options.binMesh = true;
    options.nightColours = true;
    options.skin = true;
    return test::BuildModel(test::MakeLargeModel(triangles, vertices, options));
}

int64_t ColFileFaces(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return -1;
    uint8_t header[kColHeaderSize];
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    if (!read || std::memcmp(header, "COL3", 4) != 0)
        return -1;
    return header[76] | (header[77] << 8);
}

const std::vector<SizeClass>& SizeClasses() {
    // About 140 bytes per triangle with two vertices per triangle.
    static const std::vector<SizeClass> kSizes = {
        {"10kb", 70, 140, 70, 70},
        {"100kb", 720, 1440, 720, 720},
        {"1mb", 7400, 14800, 7400, 7400},
        {"13mb", 100000, 200000, 65535, 65533},
    };
    return kSizes;
}

const SizeClass* FindSize(const std::string& label) {
    for (const SizeClass& size : SizeClasses()) {
        if (label == size.label)
            return &size;
    }
    return nullptr;
}

const std::vector<JobInfo>& Jobs() {
    // Fresh memory: the generators read the input once and make little;
    // append copies it once; the colour jobs read and rewrite it.
    constexpr FreshTarget kReads = {1.15, 1, 4};
    constexpr FreshTarget kCopies = {1.1, 1, 0};
    constexpr FreshTarget kTwoModels = {2.3, 2, 0};
    constexpr FreshTarget kRewrites = {2.2, 1, 0};
    static const std::vector<JobInfo> kJobs = {
        {Job::kInfo, "info", "program -i: load, frames, geometry", 1.5, ModelKind::kFull, true,
         kReads},
        {Job::kAppend, "append", "program -a: load, attach COL3, save", 1.5, ModelKind::kFull, true,
         kCopies},
        {Job::kGenerateEmpty, "genempty", "program -g empty: load, geometry, bounds, write COL3",
         1.5, ModelKind::kFull, true, kReads},
        {Job::kGenerateBox, "genbox", "program -g box: load, geometry, box, write COL3", 1.5,
         ModelKind::kFull, true, kReads},
        {Job::kGenerateMesh, "genmesh", "program -g mesh: load, geometry, faces, write COL3", 1.5,
         ModelKind::kMesh, true, kReads},
        {Job::kNightColors, "night", "program -v: two models, import, rebuild, save", 1.8,
         ModelKind::kFull, true, kTwoModels},
        {Job::kCol, "col", "command col: whole clump, placed, welded, simplified, write COL3", 1.5,
         ModelKind::kCol, true, kReads},
        {Job::kColExact, "colexact",
         "command col --max-error 0: whole clump, placed, welded mesh, write COL3", 1.5,
         ModelKind::kCol, true, kReads},
        {Job::kUniformColors, "uniform", "model library: load, geometry, paint, rebuild, save", 1.8,
         ModelKind::kFull, false, kRewrites},
        {Job::kLibraryGenerate, "libgenerate", "GenerateColFromDff (mesh)", 1.5, ModelKind::kMesh,
         false, kReads},
        {Job::kLibraryAppend, "libappend", "AppendColToDff", 1.5, ModelKind::kFull, false, kCopies},
        {Job::kLibraryNight, "libnight", "ImportNVCFromDff", 1.8, ModelKind::kFull, false,
         kTwoModels},
        {Job::kLibraryPaint, "libpaint", "EasyVertexColors", 1.8, ModelKind::kFull, false,
         kRewrites},
        {Job::kPaintCommand, "paintcmd",
         "command paint: load, paint, rebuild, read back, save (beside uniform, libpaint)", 1.8,
         ModelKind::kFull, true, kRewrites},
        {Job::kNightCommand, "nightcmd",
         "command night: two models, import, rebuild, read back, save (beside night)", 1.8,
         ModelKind::kFull, true, kTwoModels},
    };
    return kJobs;
}

uint64_t FreshLimitBytes(const FreshTarget& target, uint64_t inputBytes) {
    const double share = static_cast<double>(inputBytes) / (target.share > 0 ? target.share : 1);
    return static_cast<uint64_t>(target.factor * share + target.extraMiB * (1 << 20));
}

std::string DescribeFreshTarget(const FreshTarget& target) {
    char text[64];
    std::snprintf(text, sizeof text, "%g x %s", target.factor,
                  target.share == 2 ? "one input" : "input");
    std::string words = text;
    if (target.extraMiB > 0) {
        std::snprintf(text, sizeof text, " + %g MiB", target.extraMiB);
        words += text;
    }
    return words;
}

const JobInfo* FindJob(const std::string& name) {
    for (const JobInfo& job : Jobs()) {
        if (name == job.name)
            return &job;
    }
    return nullptr;
}

std::string ModelName(const SizeClass& size) {
    return std::string("m") + size.label + ".dff";
}

std::string MeshModelName(const SizeClass& size) {
    if (size.meshTriangles == size.triangles)
        return ModelName(size);
    return std::string("g") + size.label + ".dff";
}

std::string ColModelName(const SizeClass& size) {
    if (size.colTriangles == size.triangles)
        return ModelName(size);
    return std::string("c") + size.label + ".dff";
}

std::string NightModelName(const SizeClass& size) {
    return std::string("n") + size.label + ".dff";
}

std::string CollisionName() {
    return "small.col";
}

int32_t TrianglesFor(const JobInfo& job, const SizeClass& size) {
    switch (job.model) {
        case ModelKind::kFull:
            break;
        case ModelKind::kMesh:
            return size.meshTriangles;
        case ModelKind::kCol:
            return size.colTriangles;
    }
    return size.triangles;
}

JobFiles FilesFor(const JobInfo& job, const SizeClass& size) {
    JobFiles files;
    switch (job.model) {
        case ModelKind::kFull:
            files.inputs.push_back(ModelName(size));
            break;
        case ModelKind::kMesh:
            files.inputs.push_back(MeshModelName(size));
            break;
        case ModelKind::kCol:
            files.inputs.push_back(ColModelName(size));
            break;
    }
    switch (job.job) {
        case Job::kInfo:
            break;
        case Job::kAppend:
        case Job::kLibraryAppend:
            files.inputs.push_back(CollisionName());
            files.output = "out.dff";
            break;
        case Job::kGenerateEmpty:
        case Job::kGenerateBox:
        case Job::kGenerateMesh:
        case Job::kLibraryGenerate:
        case Job::kCol:
        case Job::kColExact:
            files.output = "out.col";
            break;
        case Job::kNightColors:
        case Job::kLibraryNight:
        case Job::kNightCommand:
            files.inputs.push_back(NightModelName(size));
            files.output = "out.dff";
            break;
        case Job::kUniformColors:
        case Job::kLibraryPaint:
        case Job::kPaintCommand:
            files.output = "out.dff";
            break;
    }
    return files;
}

bool WriteModelFiles() {
    for (const SizeClass& size : SizeClasses()) {
        std::vector<uint8_t> model = LargeModelBytes(size.triangles, size.vertices);
        if (!WriteBytes(ModelName(size), model) || !WriteBytes(NightModelName(size), model)) {
            return false;
        }
        if (MeshModelName(size) != ModelName(size) &&
            !WriteBytes(MeshModelName(size), LargeModelBytes(size.meshTriangles, size.vertices))) {
            return false;
        }
        if (ColModelName(size) != ModelName(size) &&
            !WriteBytes(ColModelName(size), LargeModelBytes(size.colTriangles, size.vertices))) {
            return false;
        }
    }
    return WriteBytes(CollisionName(), SmallCollisionBytes());
}

std::vector<uint8_t> SmallModelBytes() {
    return test::BuildModel(test::MakeHouseModel());
}

std::vector<uint8_t> SmallCollisionBytes() {
    return test::MakeCol3File();
}

std::vector<std::string> ProgramArguments(const JobInfo& job, const JobFiles& files) {
    const std::string& model = files.inputs[0];
    switch (job.job) {
        case Job::kInfo:
            return {"brennix", "-i", "-d", model};
        case Job::kAppend:
            return {"brennix", "-a", "-d", model, "-c", files.inputs[1], "-o", files.output};
        case Job::kGenerateEmpty:
            return {"brennix", "-g", "empty", "-d", model, "-o", files.output};
        case Job::kGenerateBox:
            return {"brennix", "-g", "box", "-d", model, "-o", files.output};
        case Job::kGenerateMesh:
            return {"brennix", "-g", "mesh", "-d", model, "-o", files.output};
        case Job::kNightColors:
            return {"brennix", "-v", "-d", model, "-n", files.inputs[1], "-o", files.output};
        case Job::kCol:
            return {"brennix", "col", "-o", files.output, model};
        case Job::kColExact:
            return {"brennix", "col", "--max-error", "0", "-o", files.output, model};
        case Job::kPaintCommand:
            return {"brennix",  "paint", "--day",      "#C8B4A0", "--night",
                    "40,40,80", "-o",    files.output, model};
        case Job::kNightCommand:
            return {"brennix", "night", "--from", files.inputs[1], "-o", files.output, model};
        default:
            return {};
    }
}

bool IsCommand(const JobInfo& job) {
    return job.job == Job::kCol || job.job == Job::kColExact || job.job == Job::kPaintCommand ||
           job.job == Job::kNightCommand;
}

const std::vector<HostileCommand>& HostileCommands() {
    static const std::vector<HostileCommand> commands = {
        {"info --json",
         [](const std::string& model, const std::string&) -> std::vector<std::string> {
             return {"info", "--json", model};
         },
         true},
        {"col",
         [](const std::string& model, const std::string&) -> std::vector<std::string> {
             return {"col", "-o", "hostile.col", model};
         },
         false},
        {"attach --generate",
         [](const std::string& model, const std::string& output) -> std::vector<std::string> {
             return {"attach", "--generate", "-o", output, model};
         },
         false},
        {"attach -c",
         [](const std::string& model, const std::string& output) -> std::vector<std::string> {
             return {"attach", "-c", CollisionName(), "-o", output, model};
         },
         false},
        {"paint",
         [](const std::string& model, const std::string& output) -> std::vector<std::string> {
             return {"paint", "--day", "#C8B4A0", "--night", "40,40,80", "-o", output, model};
         },
         false},
    };
    return commands;
}

std::string HostileModelName(const char* shape) {
    return std::string("h_") + shape + ".dff";
}

bool RunJob(const JobInfo& job, const JobFiles& files) {
    const std::string& model = files.inputs[0];
    switch (job.job) {
        case Job::kInfo:
        case Job::kAppend:
        case Job::kGenerateEmpty:
        case Job::kGenerateBox:
        case Job::kGenerateMesh:
        case Job::kNightColors: {
            // Through the program's own scanner and dispatch.
            ToolOptions options;
            ParseCommandLine(JoinCommandLine(ProgramArguments(job, files)).c_str(), &options);
            RunTool(options);
            return true;
        }
        case Job::kCol:
        case Job::kColExact:
            return MakeWholeModelCol(model, files.output, job.job == Job::kColExact);
        case Job::kUniformColors:
            return PaintUniformColors(model, files.output);
        case Job::kLibraryGenerate:
            return GenerateColFromDff(model.c_str(), kMeshMode, files.output.c_str()) == 0;
        case Job::kLibraryAppend:
            return AppendColToDff(model.c_str(), files.inputs[1].c_str(), files.output.c_str()) ==
                   0;
        case Job::kLibraryNight:
            return ImportNVCFromDff(model.c_str(), files.inputs[1].c_str(), files.output.c_str()) ==
                   0;
        case Job::kLibraryPaint:
            return EasyVertexColors(model.c_str(), kPackedDay, kPackedNight,
                                    files.output.c_str()) == 0;
        case Job::kPaintCommand: {
            cli::PaintRequest request;
            std::memcpy(request.day, kDayColor, 4);
            std::memcpy(request.night, kNightColor, 4);
            request.target.output = files.output;
            std::remove(files.output.c_str());
            return cli::PaintModelFile(request, model).ok;
        }
        case Job::kNightCommand: {
            cli::NightRequest request;
            request.model = model;
            request.from = files.inputs[1];
            request.target.output = files.output;
            std::remove(files.output.c_str());
            return cli::ImportNightFile(request, model).ok;
        }
    }
    return false;
}

bool PlainCopy(const std::vector<std::string>& inputs, const std::string& output,
               uint64_t writeBytes) {
    std::vector<uint8_t*> blocks;
    std::vector<size_t> lengths;
    bool ok = true;
    for (const std::string& input : inputs) {
        std::FILE* file = std::fopen(input.c_str(), "rb");
        if (file == nullptr) {
            ok = false;
            break;
        }
        struct stat info;
        size_t length = fstat(fileno(file), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
        uint8_t* block = static_cast<uint8_t*>(std::malloc(length > 0 ? length : 1));
        if (block == nullptr || std::fread(block, 1, length, file) != length)
            ok = false;
        std::fclose(file);
        blocks.push_back(block);
        lengths.push_back(length);
        if (!ok)
            break;
    }
    if (ok && writeBytes > 0) {
        std::FILE* out = std::fopen(output.c_str(), "wb");
        ok = out != nullptr;
        uint64_t left = writeBytes;
        for (size_t i = 0; ok && left > 0; i = (i + 1) % blocks.size()) {
            size_t piece = lengths[i] < left ? lengths[i] : static_cast<size_t>(left);
            if (piece > 0 && std::fwrite(blocks[i], 1, piece, out) != piece)
                ok = false;
            left -= piece;
        }
        if (out != nullptr && std::fclose(out) != 0)
            ok = false;
    }
    for (uint8_t* block : blocks)
        std::free(block);
    return ok;
}

uint64_t FileBytes(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

uint64_t TotalBytes(const std::vector<std::string>& paths) {
    uint64_t total = 0;
    for (const std::string& path : paths)
        total += FileBytes(path);
    return total;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (test::WriteFile(path, bytes))
        return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

bool ReadText(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    text->clear();
    char piece[4096];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0)
        text->append(piece, got);
    std::fclose(file);
    return true;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, const std::string& stdoutPath,
                     const std::string& stderrPath) {
    ChildResult result;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The output file is opened before the change of directory, so its path
    // is the caller's.
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (!stderrPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());

    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;
    result.started = true;
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    pid_t waited;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0)
        return result;
    auto end = std::chrono::steady_clock::now();
    result.wallSeconds = std::chrono::duration<double>(end - start).count();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.maxResidentKiB = usage.ru_maxrss;
    result.minorFaults = usage.ru_minflt;
    return result;
}

std::string ExecutableDirectory() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "./";
    path[n] = '\0';
    std::string text = path;
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "./" : text.substr(0, slash + 1);
}

}  // namespace brennix::bench
