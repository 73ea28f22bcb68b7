// The brennix program: its options, the command-line scanner and the modes.
// Every message goes to standard output; the exit status is always 0.
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

constexpr uint32_t kPathFieldSize = 261;
constexpr uint32_t kWordFieldSize = 65;

enum ToolMode : uint8_t {
    kModeNone = 0,
    kModeInfo = 1,
    kModeAppend = 2,
    kModeGenerate = 4,
    kModeProcessAll = 6,
    kModeNightColors = 7,
};

struct ToolOptions {
    uint8_t mode;
    char dffPath[kPathFieldSize];
    char secondPath[kPathFieldSize];
    char outputPath[kPathFieldSize];
    char generatorWord[kWordFieldSize];
    // A value was longer than its field; the line is then unusable, since a
    // cut path could name another file.
    bool valueTooLong;
};

enum class Generator { kEmpty, kBox, kMesh };

// Scans a raw command line (program name first) into options.
void ParseCommandLine(const char* commandLine, ToolOptions* options);
// Copies one switch value from source into a field of fieldSize bytes: skips
// spaces, stops at the end, a space, '-' or '/'. Returns false when the value
// does not fit (the field is then left empty).
bool CopyOptionValue(const char* source, char* field, uint32_t fieldSize);

// Runs the mode the options select, or prints the usage text. Returns 0.
int RunTool(const ToolOptions& options);

void PrintUsage();
void RunInfoMode(const ToolOptions& options);
void RunAppendMode(const ToolOptions& options);
void RunBatchMode();
void RunGenerateMode(const ToolOptions& options, Generator generator);
void RunNightColorMode(const ToolOptions& options);
// Attaches colPath to the model at modelPath and rewrites it in place.
// 1 on success, 0 after any message.
int AppendCollisionInPlace(const char* modelPath, const char* colPath);
// "name.ext" -> "name.<extension>" in out (264 bytes). False when name has
// no '.', out then unchanged.
bool ReplaceExtension(const char* name, char* out, const char* extension);

}  // namespace brennix
