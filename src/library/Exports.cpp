// The shared library's four jobs. Each maps the model library's results to
// its own result codes here, in one place, and releases everything it made.
#include <cstdio>

#include "brennix.h"
#include "col/ColModel.h"
#include "dff/DffModel.h"
#include "platform/Platform.h"

using namespace brennix;

namespace {

void UnpackColor(uint32_t value, uint8_t out[4]) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = 255;
}

int GenerateCol(DffModel& model, ColModel& col, const char* dffPath, int generatorMode,
                const char* colPath) {
    if (model.Load(dffPath) <= 0) {
        platform::DebugOutput("[brennixdll:error:read] Could not load the dff file.");
        return 1;
    }
    if (model.ReadGeometryList() == 0) {
        platform::DebugOutput("[brennixdll:error:read] Couldn't read the geometry.");
        return 2;
    }
    const Geometry* geometry = model.FirstGeometry();
    switch (generatorMode) {
        case 0:
            if (geometry == nullptr || col.GenerateEmpty(*geometry) == 0) {
                platform::DebugOutput("[brennixdll:error:genempty] Couldn't generate the col.");
                return 4;
            }
            break;
        case 1:
            if (geometry == nullptr || col.GenerateBox(*geometry) == 0) {
                platform::DebugOutput("[brennixdll:error:genbox] Couldn't generate the col.");
                return 4;
            }
            break;
        case 2:
            if (geometry == nullptr || col.GenerateMesh(*geometry) == 0) {
                platform::DebugOutput("[brennixdll:error:genfaces] Couldn't generate the col.");
                return 4;
            }
            break;
        default:
            break;  // no generator: the empty model is written
    }
    if (col.WriteFile(colPath, "yolt") <= 0) {
        platform::DebugOutput("[brennixdll:error:save] Couldn't save the col.");
        return 5;
    }
    return 0;
}

int AppendCol(DffModel& model, const char* dffPath, const char* colPath, const char* outputPath) {
    if (model.Load(dffPath) <= 0) {
        platform::DebugOutput("[brennixdll:error:read] Could not load the dff file.");
        return 1;
    }
    if (model.hasCollision) {
        platform::DebugOutput("[brennixdll:error:read] File already has a col.");
        return 6;
    }
    int32_t attached = model.AttachCollisionFile(colPath);
    if (attached <= 0) {
        char message[512];
        std::snprintf(message, sizeof message,
                      "[brennixdll:error:appendcol] Could not append col to file. Error: %d",
                      static_cast<int>(attached));
        platform::DebugOutput(message);
        return 7;
    }
    if (model.Save(outputPath) <= 0) {
        std::fputs("[brennixdll:error:savedff] Could not save clump to file.", stdout);
        std::fflush(stdout);
        return 5;
    }
    return 0;
}

// Rebuilds the geometry list and saves: 7 when the list cannot be rebuilt,
// 8 when the model cannot be saved. The rebuilt list is written straight
// from the geometry, without building it in memory first.
int SaveRebuilt(DffModel& model, const char* outputPath) {
    int32_t saved = model.SaveWithRebuiltGeometry(outputPath);
    if (saved < 0)
        return 7;
    return saved == 0 ? 8 : 0;
}

int ImportNightColors(DffModel& day, DffModel& night, const char* dffPath, const char* nightDffPath,
                      const char* outputPath) {
    if (day.Load(dffPath) <= 0)
        return 1;
    if (night.Load(nightDffPath) <= 0)
        return 2;
    if (day.ReadGeometryList() == 0)
        return 4;
    if (night.ReadGeometryList() == 0)
        return 5;
    Geometry* target = day.FirstGeometry();
    const Geometry* source = night.FirstGeometry();
    if (target == nullptr)
        return 4;
    if (source == nullptr)
        return 5;
    if (target->vertexCount != source->vertexCount)
        return 6;
    if (!target->ImportNightColors(*source))
        return 9;
    return SaveRebuilt(day, outputPath);
}

int PaintColors(DffModel& model, const char* dffPath, uint32_t dayColor, uint32_t nightColor,
                const char* outputPath) {
    uint8_t day[4];
    uint8_t night[4];
    UnpackColor(dayColor, day);
    UnpackColor(nightColor, night);
    if (model.Load(dffPath) <= 0)
        return 1;
    Geometry* geometry = model.ReadGeometryList() != 0 ? model.FirstGeometry() : nullptr;
    if (geometry == nullptr)
        return 4;
    // Painting fails only when memory runs out; that is reported like a
    // failed rebuild.
    if (!geometry->SetUniformColors(day, night))
        return 7;
    return SaveRebuilt(model, outputPath);
}

// The model library throws nothing, and the platform layer turns a failed
// allocation into a failed save. Should anything throw all the same, the job
// ends with the failed write's code (nothing was written: a file is only
// ever replaced whole) rather than let the exception into the host.
template <typename Job>
int Guarded(int failedWrite, Job job) noexcept {
    try {
        return job();
    } catch (...) {
        return failedWrite;
    }
}

}  // namespace

extern "C" {

BRENNIX_API int BRENNIX_CALL GenerateColFromDff(const char* dffPath, int generatorMode,
                                                const char* colPath) {
    DffModel model;
    model.Init();
    int result;
    {
        ColModel col;
        result =
            Guarded(5, [&] { return GenerateCol(model, col, dffPath, generatorMode, colPath); });
        col.Release();
    }
    model.Release();
    return result;
}

BRENNIX_API int BRENNIX_CALL AppendColToDff(const char* dffPath, const char* colPath,
                                            const char* outputPath) {
    DffModel model;
    model.Init();
    int result = Guarded(5, [&] { return AppendCol(model, dffPath, colPath, outputPath); });
    model.Release();
    return result;
}

BRENNIX_API int BRENNIX_CALL ImportNVCFromDff(const char* dffPath, const char* nightDffPath,
                                              const char* outputPath) {
    DffModel day;
    DffModel night;
    day.Init();
    night.Init();
    int result = Guarded(
        8, [&] { return ImportNightColors(day, night, dffPath, nightDffPath, outputPath); });
    night.Release();
    day.Release();
    return result;
}

BRENNIX_API int BRENNIX_CALL EasyVertexColors(const char* dffPath, uint32_t dayColor,
                                              uint32_t nightColor, const char* outputPath) {
    DffModel model;
    model.Init();
    int result =
        Guarded(8, [&] { return PaintColors(model, dffPath, dayColor, nightColor, outputPath); });
    model.Release();
    return result;
}

}  // extern "C"
