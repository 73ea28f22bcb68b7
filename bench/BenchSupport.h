// Shared by the benchmark program and the one-job driver: the model sizes,
// the file names in the work folder, every job as the program and the shared
// library run it, the plain copy that each job is measured against, and
// child processes with their peak resident size.
//
// Every file name is plain (no '/' and no '-'): the program's switch values
// end at those characters, so it runs with the work folder as its current
// directory, and so does everything here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brennix::bench {

// One model size. Every model carries day colours, one texture coordinate
// set, normals, a Bin Mesh, night colours and a one-bone skin; the largest
// is at the reader's limits (100000 triangles, 200000 vertices).
struct SizeClass {
    const char* label;  // "10kb", "100kb", "1mb", "13mb"
    int32_t triangles;
    int32_t vertices;
    int32_t meshTriangles;  // for the mesh generator: at most 65535
    // For the col command: at most 65533, so that its triangles (each on
    // three consecutive vertices) use at most 65535 vertices, all distinct.
    int32_t colTriangles;
};

const std::vector<SizeClass>& SizeClasses();
const SizeClass* FindSize(const std::string& label);

enum class Job {
    kInfo,
    kAppend,
    kGenerateEmpty,
    kGenerateBox,
    kGenerateMesh,
    kNightColors,
    kCol,
    kColExact,  // the col command keeping every triangle (--max-error 0)
    kUniformColors,
    kLibraryGenerate,
    kLibraryAppend,
    kLibraryNight,
    kLibraryPaint,
    kPaintCommand,  // the paint and night commands on one file, beside the classic jobs
    kNightCommand,
};

// The model a job reads. Below the largest size all three are the same file.
enum class ModelKind {
    kFull,  // every size at the reader's limits
    kMesh,  // at most 65535 triangles, for the classic mesh generator
    kCol,   // at most 65535 vertices in use, for the col command
};

// The most fresh memory a job may take on the largest model, as a process of
// its own: factor x the bytes of its input files / share + extraMiB. Fresh
// memory is the process's minor page faults times the page size: every page
// it touched for the first time.
struct FreshTarget {
    double factor;
    int share;  // 2: the factor applies to one of two inputs of equal size
    double extraMiB;
};

struct JobInfo {
    Job job;
    const char* name;         // short word used in benchmark names and tables
    const char* what;         // one line for the tables
    double copyTarget;        // largest allowed job time / plain copy time
    ModelKind model;          // which model of each size it reads
    bool viaProgram;          // peak memory measured on the program itself
    FreshTarget freshTarget;  // the most fresh memory it may take
};

const std::vector<JobInfo>& Jobs();
const JobInfo* FindJob(const std::string& name);

// The files one job reads and writes, all in the work folder.
struct JobFiles {
    std::vector<std::string> inputs;  // first the model, then the second input
    std::string output;
};

// The fresh-memory target in bytes for this many input bytes, and as words
// ("1.15 x input + 4 MiB").
uint64_t FreshLimitBytes(const FreshTarget& target, uint64_t inputBytes);
std::string DescribeFreshTarget(const FreshTarget& target);

// Names of the generated files.
std::string ModelName(const SizeClass& size);      // "m13mb.dff"
std::string MeshModelName(const SizeClass& size);  // "g13mb.dff" (same bytes below 65536 triangles)
std::string ColModelName(const SizeClass& size);   // "c13mb.dff" (likewise)
std::string NightModelName(const SizeClass& size);  // "n13mb.dff", a second copy for the import
std::string CollisionName();                        // "small.col"

JobFiles FilesFor(const JobInfo& job, const SizeClass& size);
// The triangle count of the model the job reads at this size.
int32_t TrianglesFor(const JobInfo& job, const SizeClass& size);

// Writes every model of every size and the COL3 file into the current
// directory. Returns false (with a message on stderr) when a write failed.
bool WriteModelFiles();
// The bytes of the benchmark model with this many triangles and vertices
// (the files above are these).
std::vector<uint8_t> LargeModelBytes(int32_t triangles, int32_t vertices);
// The face count in the header of a COL3 file, or -1 when it is not one.
int64_t ColFileFaces(const std::string& path);
// The bytes of one model of the batch, and of its COL3 file.
std::vector<uint8_t> SmallModelBytes();
std::vector<uint8_t> SmallCollisionBytes();

// The program's command line for a job (program name first), or empty for
// jobs the program does not do.
std::vector<std::string> ProgramArguments(const JobInfo& job, const JobFiles& files);
// Whether the job is one of the commands (a command word first), which keep
// an output that is there already: the output is removed before each run.
bool IsCommand(const JobInfo& job);

// ---------------------------------------------------------------------------
// Hostile models: the shapes of the test support at full size, each command
// as a process of its own on each.

struct HostileCommand {
    const char* name;  // for the table: "info --json"
    // The program's arguments after "brennix" for one model, its output
    // file in the work folder being `output`.
    std::vector<std::string> (*arguments)(const std::string& model, const std::string& output);
    bool stdoutIsData;  // standard output is the command's data: sent to /dev/null
};
const std::vector<HostileCommand>& HostileCommands();
// "h_broken_atomics.dff"
std::string HostileModelName(const char* shape);

// Runs one job in this process, the way the program's mode or the library's
// export does it; the col command's work on one file: the whole clump read,
// the COL3 file made and written through a temporary file; the paint and
// night commands' work on one file, their output removed first (the
// commands keep an output that is there already unless told otherwise). The program's
// modes print to standard output; the caller decides where that goes.
// Returns false when the library or the col command reported a failure (the
// program's modes report theirs only on standard output).
bool RunJob(const JobInfo& job, const JobFiles& files);

// The plain copy: reads every input whole with fread, then writes
// writeBytes bytes (the bytes read, repeated when more are asked for) to
// output with fwrite; with writeBytes 0 nothing is opened for writing. False
// when a read or write failed.
bool PlainCopy(const std::vector<std::string>& inputs, const std::string& output,
               uint64_t writeBytes);

uint64_t FileBytes(const std::string& path);
uint64_t TotalBytes(const std::vector<std::string>& paths);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadText(const std::string& path, std::string* text);

// Starts a program with `directory` as its working directory and standard
// output sent to stdoutPath (relative to the caller's directory), standard
// error too to stderrPath when one is given, waits for it, and reports its
// wall time and peak resident size.
struct ChildResult {
    bool started = false;
    int status = -1;  // exit status, or -1 when it did not exit normally
    double wallSeconds = 0;
    long maxResidentKiB = 0;  // ru_maxrss of this child alone
    long minorFaults = 0;     // ru_minflt: pages the child touched afresh
    uint64_t freshBytes = 0;  // what those faults brought in, large pages counted whole
};
ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, const std::string& stdoutPath,
                     const std::string& stderrPath = "");

// The directory of the running executable, with a trailing '/'.
std::string ExecutableDirectory();

}  // namespace brennix::bench
