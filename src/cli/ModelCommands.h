// The commands that read and change model files (info, attach, extract,
// paint, night): their request records, and the work each does on one file.
//
// Each per-file function takes a plain request record and a model's path and
// returns its FileOutcome; it prints nothing and touches nothing shared, so
// it runs on any worker and can be called directly (from a benchmark, say).
// A function that writes reads every input whole first, lays out the new file
// (in memory, or for paint and night as runs of the bytes read and the new
// arrays), checks that it reads back, and only then replaces the output
// atomically.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli/Batch.h"
#include "cli/Command.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"

namespace brennix::cli {

// Where a command that changes models writes them: to one named output, or
// over each model itself.
struct WriteTarget {
    std::string output;  // -o: the output of the one model
    bool inPlace = false;
    bool force = false;  // --force: an -o file that exists may be replaced
};

// Declares -o/--output OUT and --in-place, which exclude each other, and
// --force.
void AddWriteOptions(CLI::App& command, WriteTarget& target);
// The checks CLI11 cannot make: one of -o and --in-place is given, and -o
// comes with one model only. Prints the problem; false means a usage error.
bool CheckWriteTarget(const WriteTarget& target, size_t modelCount);
// Where the model at `path` is written.
const std::string& TargetPath(const WriteTarget& target, const std::string& path);

// ---------------------------------------------------------------------------

struct InfoRequest {
    InputOptions inputs;
    bool json = false;  // one JSON document per model (JSON Lines)
};
// The report on one model for standard output (a COL file's, from
// DescribeColFile, when the file is one). Fails when the file cannot be
// read, or when it holds problems (the report, with them, is still given);
// warnings do not fail it.
FileOutcome DescribeModelFile(const InfoRequest& request, const std::string& path);
// The report itself: aligned text, or one JSON document and its line break
// (docs/info-json.md). Its size grows with the file's, by a small factor.
// A model with a clump is also run through the collision generator with the
// `col` defaults, to say what `col` would make: that is most of the work.
std::string ModelReport(const WholeModel& model, const std::string& path, bool json);
// The model's warnings for standard error, "[warning] FILE: STEP: MESSAGE" a
// line, and a line counting those not kept in words; empty without warnings.
std::string WarningLines(const WholeModel& model, const std::string& path);

// A COL file's report (ColFileInfo.cpp), for a file whose first bytes are
// "COLL", "COL2", "COL3" or "COL4" whatever its name, read whole into the
// `length` bytes at `data`: every entry, then the file's errors and warnings
// (docs/col-info-json.md for the JSON form). Fails when the reader finds an
// error or no entry at all; warnings do not fail it.
FileOutcome DescribeColFile(const InfoRequest& request, const std::string& path,
                            const uint8_t* data, size_t length);

// Shared by the reports on models and on COL files: text from a file with
// its control bytes shown as '?'. Floats are written with ShortestFloatText
// (col/FloatText.h).
std::string PrintableText(const std::string& text);

struct AttachRequest {
    InputOptions inputs;
    std::string col;                // -c: one file for every model; else X.col beside each
    std::vector<uint8_t> colBytes;  // the -c file, read by RunAttach before any model
    bool generate = false;          // make each model's collision instead, as `col` does
    ColRequest generator;           // how, when generating
    bool replace = false;           // remove every collision entry first
    bool vehicle = false;           // write the entry as a vehicle's
    WriteTarget target;
};
// Generating, the collision embedded never holds face groups, whatever
// `request.generator` says. `stats`, when given, receives the generator's.
FileOutcome AttachModelFile(const AttachRequest& request, const std::string& path,
                            ColStats* stats = nullptr);

struct ExtractRequest {
    InputOptions inputs;
    std::string output;  // -o: the one model's collision file
    std::string outDir;  // else X.col in this folder, or beside each model
    bool force = false;  // an output that exists may be replaced
};
FileOutcome ExtractModelFile(const ExtractRequest& request, const std::string& path);

struct PaintRequest {
    InputOptions inputs;
    std::string dayText;  // as given; RunPaint parses them into the records
    std::string nightText;
    uint8_t day[4] = {0, 0, 0, 255};  // RGBA
    uint8_t night[4] = {0, 0, 0, 255};
    WriteTarget target;
};
FileOutcome PaintModelFile(const PaintRequest& request, const std::string& path);

struct NightRequest {
    std::string model;
    std::string from;  // the model whose day colours become the night colours
    WriteTarget target;
};
FileOutcome ImportNightFile(const NightRequest& request, const std::string& path);

// ---------------------------------------------------------------------------
// The options of a made collision: the `col` command's, which `attach
// --generate` takes too.

// What the command line gives that a ColRequest holds otherwise.
struct GeneratorOptions {
    std::string surfacesFile;  // --surfaces: rules read by ApplyGeneratorOptions
    bool noWeld = false;
    unsigned surface = 0;
    bool faceGroups = false;    // --face-groups: FaceGroups::kOn
    bool noFaceGroups = false;  // --no-face-groups: FaceGroups::kOff
};
// Declares --place, --shape, --skip, --no-weld, --surface, --surfaces,
// --max-error, --max-faces, --face-groups and --no-face-groups, bound to
// `generator` and `options`. With `generate` given (attach), each of them
// needs it and is listed under "With --generate", except the two face-group
// flags, which are hidden: the command refuses them.
void AddGeneratorOptions(CLI::App& command, ColRequest& generator, GeneratorOptions& options,
                         CLI::Option* generate = nullptr);
// Completes `generator` with `options`, reading the --surfaces file. Prints
// the problem; false means a usage error.
bool ApplyGeneratorOptions(const GeneratorOptions& options, ColRequest* generator);

// The meshes made in one run, added up for its summary line.
struct ColTally {
    size_t models = 0;
    uint64_t triangles = 0;
    uint64_t faces = 0;
    double maxDistance = 0;
    void Add(const ColStats& stats);
    // "120,334 triangles -> 9,870 faces, largest distance 0.049"; empty when
    // nothing was added.
    std::string SummaryText() const;
};

// A count with its thousands apart: "120,334".
std::string GroupedCount(uint64_t n);
// A measured distance in model units, to the thousandth: "0.049".
std::string DistanceText(double distance);

// ---------------------------------------------------------------------------
// Helpers shared by the commands.

// "0x" and the value in upper-case hex digits.
std::string Hex(uint32_t value);

// Loads the model at `path`, which must hold a clump. False with `why` set.
bool LoadClumpModel(const std::string& path, WholeModel* model, std::string* why);

// Why the file at `path` cannot be read whole, in a few words: "no such
// file", "permission denied", "is a folder", "not a regular file (a FIFO)",
// "not a regular file (a device)", "the file is 4 GiB or larger (N bytes)".
// For a load that has failed: when the file can be opened now after all, the
// answer is "cannot read the file".
std::string ReadFailureReason(const std::string& path);

// The name a collision made from a model carries: the model's file name
// without ".dff" (in any case).
std::string ModelNameOf(const std::string& path);

// The collision files `col` and `extract` write, one a model: `output` (-o,
// one model only), else X.col in `outDir`, or beside the model.
// Declares -o/--output FILE, --out-dir DIR, which exclude each other, and
// --force.
void AddColOutputOptions(CLI::App& command, std::string& output, std::string& outDir, bool& force);
// The check CLI11 cannot make: -o comes with one model only. Prints the
// problem; false means a usage error.
bool CheckColOutput(const std::string& output, size_t modelCount);
// Where the model at `path` has its collision file written.
std::string ColOutputPath(const std::string& output, const std::string& outDir,
                          const std::string& path);
// The same for every input: in `outDir`, a model found in a folder keeps its
// place below that folder.
std::vector<std::string> ColOutputPaths(const std::vector<InputFile>& files,
                                        const std::string& output, const std::string& outDir);
// Makes the --out-dir folder when it is missing. Prints the problem and
// gives the exit code when it cannot be used (a file of that name, say);
// kExitOk otherwise. An empty `outDir` is always fine.
int PrepareOutDir(const std::string& outDir);
// Makes the folders that `path` is to be written in. False with `why` set.
bool MakeParentFolders(const std::string& path, std::string* why);

// What may be written where, checked before any work: an output never
// replaces one of the run's inputs, two inputs never write one file, and an
// output that exists is replaced only with --force.
struct OutputRules {
    bool force = false;    // outputs that exist may be replaced
    bool inPlace = false;  // each output is its own model, replaced on request
    bool writesModels = false;
    // Inputs besides the models: each path, and how to name it in a message
    // ("the collision file").
    std::vector<std::pair<std::string, std::string>> otherInputs;
};
// For each input, why its output (outputs[i]; empty for none) may not be
// written, or nothing. Two inputs that would write one file, as the file
// system sees names (A.DFF and a.dff from two folders into one --out-dir on
// Windows, two names of one file anywhere), clash: the later one fails.
std::vector<std::string> CheckOutputs(const std::vector<InputFile>& files,
                                      const std::vector<std::string>& outputs,
                                      const OutputRules& rules);
// Why the one output of the whole run (an archive) may not be written, or
// nothing.
std::string CheckSingleOutput(const std::vector<InputFile>& files, const std::string& output,
                              const OutputRules& rules);

// A colour as "#RRGGBB" or "R,G,B" (each 0 to 255), into RGBA with alpha 255.
bool ParseColour(const std::string& text, uint8_t out[4]);

// Reads a whole regular file of less than 4 GiB. False with `why` set
// ("cannot read PATH: REASON").
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* why);

// The checks a collision file passes before it is attached: it is not empty
// and begins with "COLL", "COL2", "COL3" or "COL4". Its size field is not
// looked at. False with `why` set.
bool CheckColFile(const std::vector<uint8_t>& bytes, std::string* why);

// The collision file beside a model: X.col for X.dff by exact name, else the
// one entry of that folder equal to it with ASCII case ignored (the first in
// byte order when several are). The exact name when neither exists.
std::string ColFileBeside(const std::string& modelPath);

// Writes the `length` bytes at `bytes`, a changed model, to `path` once they read back at least as
// well as `before`, the model they were made from (ReadsBackAsWell), and
// `check`, when given, accepts what was read back. False with `why` set;
// nothing is written then.
bool WriteModelReadBack(const std::string& path, const uint8_t* bytes, size_t length,
                        const WholeModel& before,
                        const std::function<bool(const WholeModel&, std::string*)>& check,
                        std::string* why);

}  // namespace brennix::cli
