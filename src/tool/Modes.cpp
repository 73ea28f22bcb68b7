// The program's modes. Each creates its models, reports the first failure
// with one message on standard output, and releases everything it created.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "col/ColModel.h"
#include "dff/DffModel.h"
#include "platform/Platform.h"
#include "tool/Tool.h"

namespace brennix {

namespace {

constexpr uint32_t kNameBufferSize = 264;

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

// The shared steps of the append and process-all modes. Returns 1 after a
// successful save, 0 after any message.
int AppendCollision(const char* modelPath, const char* colPath, const char* outputPath,
                    bool reportSuccess) {
    DffModel model;
    model.Init();
    int result = 0;
    if (model.Load(modelPath) <= 0) {
        std::printf("[error] Could not load the dff file: %s\n", modelPath);
    } else if (model.hasCollision) {
        std::printf("[error] File already has a collision: %s\n", modelPath);
    } else {
        int32_t attached = model.AttachCollisionFile(colPath);
        if (attached <= 0) {
            std::printf("[error] Could not append col to file: %s error: %d\n", colPath,
                        static_cast<int>(attached));
        } else if (model.Save(outputPath) <= 0) {
            std::printf("[error] Could not save clump to file: %s\n", outputPath);
        } else {
            if (reportSuccess)
                std::printf("[success] Model file was appended with collision data\n");
            result = 1;
        }
    }
    model.Release();
    return result;
}

}  // namespace

void PrintUsage() {
    std::printf("[usage] Modes: -i (info) -a (append col) -p (process all) -n (night vertex)\n");
    std::printf("[usage] Modes: -g [mode] (generate col for dff) -g modes: empty, box, mesh\n");
    std::printf("[usage] Input: -d [dff file] -c [collision file] (col ver3) -o [output file]\n");
    std::printf(
        "[usage] Example (append col to dff):  brennix.exe -a -d MyHouse.dff -c MyHouse.col -o "
        "MyHouseC.dff\n");
    std::printf("[usage] Example (show info for dff):  brennix.exe -i -d MyHouse.dff\n");
    std::printf(
        "[usage] Example (generate empty col): brennix.exe -g empty -d MyHouse.dff -o "
        "MyHouse.col\n");
    std::printf(
        "[usage] Example (import NVC from -n): brennix.exe -v -d MyHouseDT.dff -n MyHouseNT.dff "
        "-o MyHouseNVC.dff\n");
    std::printf(
        "[usage] Example (all in current dir): brennix.exe -p (process *.dff in cwd and attach "
        "*.col)\n");
}

int RunTool(const ToolOptions& o) {
    const bool haveDff = o.dffPath[0] != '\0';
    const bool haveSecond = o.secondPath[0] != '\0';
    const bool haveOutput = o.outputPath[0] != '\0';
    if (o.valueTooLong) {
        PrintUsage();
        return 0;
    }
    switch (o.mode) {
        case kModeInfo:
            if (haveDff) {
                RunInfoMode(o);
                return 0;
            }
            break;
        case kModeAppend:
            if (haveDff && haveSecond && haveOutput) {
                RunAppendMode(o);
                return 0;
            }
            break;
        case kModeGenerate:
            if (o.generatorWord[0] != '\0' && haveOutput && haveDff) {
                if (EqualsIgnoringCase(o.generatorWord, "empty")) {
                    RunGenerateMode(o, Generator::kEmpty);
                    return 0;
                }
                if (EqualsIgnoringCase(o.generatorWord, "box")) {
                    RunGenerateMode(o, Generator::kBox);
                    return 0;
                }
                if (EqualsIgnoringCase(o.generatorWord, "mesh")) {
                    RunGenerateMode(o, Generator::kMesh);
                    return 0;
                }
            }
            break;
        case kModeProcessAll:
            RunBatchMode();
            return 0;
        case kModeNightColors:
            if (haveDff && haveSecond && haveOutput) {
                RunNightColorMode(o);
                return 0;
            }
            break;
        default:
            break;
    }
    PrintUsage();
    return 0;
}

void RunInfoMode(const ToolOptions& o) {
    DffModel model;
    model.Init();
    if (model.Load(o.dffPath) <= 0) {
        std::printf("[error] Could not load the dff file: %s\n", o.dffPath);
    } else {
        // These reads validate the model; what they find changes nothing
        // that is printed.
        model.ReadFrameList();
        model.ReadGeometryList();
        if (model.hasCollision) {
            std::printf("[info] File has a collision\n");
        } else {
            std::printf("[info] File doesn't have a collision\n");
        }
    }
    model.Release();
}

void RunAppendMode(const ToolOptions& o) {
    AppendCollision(o.dffPath, o.secondPath, o.outputPath, true);
}

int AppendCollisionInPlace(const char* modelPath, const char* colPath) {
    return AppendCollision(modelPath, colPath, modelPath, false);
}

bool ReplaceExtension(const char* name, char* out, const char* extension) {
    char copy[kNameBufferSize];
    size_t n = std::strlen(name);
    if (n >= sizeof copy)
        n = sizeof copy - 1;
    std::memcpy(copy, name, n);
    copy[n] = '\0';
    char* dot = std::strrchr(copy, '.');
    if (dot == nullptr)
        return false;
    *dot = '\0';
    // "%s.%s", cut to the output's 264 bytes.
    size_t used = 0;
    for (const char* part : {static_cast<const char*>(copy), ".", extension}) {
        for (; *part != '\0' && used + 1 < kNameBufferSize; ++part)
            out[used++] = *part;
    }
    out[used] = '\0';
    return true;
}

void RunBatchMode() {
    int counter = 0;
    std::vector<platform::DirectoryEntry> entries;
    if (platform::FindModelFiles(&entries)) {
        for (const platform::DirectoryEntry& entry : entries) {
            // Directories, FIFOs and devices are no model files.
            if (entry.isDirectory || entry.isSpecial)
                continue;
            char colName[kNameBufferSize] = {};
            ReplaceExtension(entry.name.c_str(), colName, "col");
            // The models are found whatever the case of their names; so is
            // their collision file where names keep case.
            std::string otherCase;
            const char* colPath = colName;
            if (platform::FindEntryIgnoringCase(colName, &otherCase))
                colPath = otherCase.c_str();
            AppendCollisionInPlace(entry.name.c_str(), colPath);
            ++counter;
        }
    }
    std::printf("[info] Processed %d files", counter);
}

void RunGenerateMode(const ToolOptions& o, Generator generator) {
    DffModel model;
    model.Init();
    ColModel col;
    if (model.Load(o.dffPath) <= 0) {
        std::printf("[error] Could not load the dff file: %s\n", o.dffPath);
    } else if (model.ReadGeometryList() == 0) {
        std::printf("[error] Couldn't read the geometry for: %s\n", o.dffPath);
    } else {
        const Geometry* geometry = model.FirstGeometry();
        int32_t generated = 0;
        // A list that reads but holds no geometry gives nothing to generate from.
        if (geometry != nullptr) {
            switch (generator) {
                case Generator::kEmpty:
                    generated = col.GenerateEmpty(*geometry);
                    break;
                case Generator::kBox:
                    generated = col.GenerateBox(*geometry);
                    break;
                case Generator::kMesh:
                    generated = col.GenerateMesh(*geometry);
                    break;
            }
        }
        if (generated == 0) {
            std::printf("[error] Couldn't generate the col");
        } else if (col.WriteFile(o.outputPath, "yolt") <= 0) {
            std::printf("[error] Could not save col to file: %s\n", o.outputPath);
        }
    }
    col.Release();
    model.Release();
}

void RunNightColorMode(const ToolOptions& o) {
    DffModel day;
    DffModel night;
    day.Init();
    night.Init();
    if (day.Load(o.dffPath) <= 0) {
        std::printf("[error] Could not load the dff(1) file: %s\n", o.dffPath);
    } else if (night.Load(o.secondPath) <= 0) {
        std::printf("[error] Could not load the dff(2) file: %s\n", o.secondPath);
    } else if (day.ReadGeometryList() == 0) {
        std::printf("[error] Could read geometry of dff(1): %s\n", o.dffPath);
    } else if (night.ReadGeometryList() == 0) {
        std::printf("[error] Could read geometry of dff(2): %s\n", o.secondPath);
    } else if (day.FirstGeometry() == nullptr) {
        std::printf("[error] Could read geometry of dff(1): %s\n", o.dffPath);
    } else if (night.FirstGeometry() == nullptr) {
        std::printf("[error] Could read geometry of dff(2): %s\n", o.secondPath);
    } else if (day.FirstGeometry()->vertexCount != night.FirstGeometry()->vertexCount) {
        std::printf("[error] dff(1) and dff(2) have different vertex counts (%d vs %d).\n",
                    static_cast<int>(day.FirstGeometry()->vertexCount),
                    static_cast<int>(night.FirstGeometry()->vertexCount));
        std::printf("[error] You should import night colors from the same model.\n");
    } else if (!day.FirstGeometry()->ImportNightColors(*night.FirstGeometry())) {
        std::printf("[error] failed to copy vertex colors.\n");
    } else {
        // The rebuilt Geometry List is written straight from the geometry.
        int32_t saved = day.SaveWithRebuiltGeometry(o.outputPath);
        if (saved < 0) {
            std::printf("[error] couldn't rebuild the geometry list.\n");
        } else if (saved == 0) {
            std::printf("[error] Could not save clump to file: %s\n", o.outputPath);
        }
    }
    night.Release();
    day.Release();
}

}  // namespace brennix
