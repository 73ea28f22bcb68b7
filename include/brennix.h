/* brennix library: model jobs for host programs.
 *
 * Each function is one self-contained job on the files it is given: it reads
 * every input whole before it writes, keeps no state between calls, and
 * returns 0 on success or a small positive code naming the step that failed.
 * Paths are NUL-terminated 8-bit strings; an output path may name an input.
 * The functions may be called from several threads at once on different
 * files. */
#ifndef BRENNIX_H
#define BRENNIX_H

#include <stdint.h>

#if defined(_WIN32)
#define BRENNIX_CALL __cdecl
#if defined(BRENNIX_BUILDING_LIBRARY)
#define BRENNIX_API __declspec(dllexport)
#else
#define BRENNIX_API __declspec(dllimport)
#endif
#else
#define BRENNIX_CALL
#if defined(BRENNIX_BUILDING_LIBRARY)
#define BRENNIX_API __attribute__((visibility("default")))
#else
#define BRENNIX_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. The same number means a different step in each function. */
enum {
    BRENNIX_OK = 0,

    /* GenerateColFromDff */
    BRENNIX_GEN_LOAD_FAILED = 1,     /* the model could not be loaded */
    BRENNIX_GEN_GEOMETRY_FAILED = 2, /* its geometry list could not be read */
    BRENNIX_GEN_GENERATE_FAILED = 4, /* the generator failed (or no geometry) */
    BRENNIX_GEN_SAVE_FAILED = 5,     /* the COL3 file could not be written */

    /* AppendColToDff */
    BRENNIX_APPEND_LOAD_FAILED = 1,   /* the model could not be loaded */
    BRENNIX_APPEND_SAVE_FAILED = 5,   /* the model could not be written */
    BRENNIX_APPEND_HAS_COLLISION = 6, /* the model already carries collision */
    BRENNIX_APPEND_ATTACH_FAILED = 7, /* no clump Extension, or COL3 not read */

    /* ImportNVCFromDff */
    BRENNIX_NVC_LOAD1_FAILED = 1,     /* the model could not be loaded */
    BRENNIX_NVC_LOAD2_FAILED = 2,     /* the night model could not be loaded */
    BRENNIX_NVC_GEOMETRY1_FAILED = 4, /* model: no readable first geometry */
    BRENNIX_NVC_GEOMETRY2_FAILED = 5, /* night model: no readable first geometry */
    BRENNIX_NVC_VERTEX_COUNTS = 6,    /* the two vertex counts differ */
    BRENNIX_NVC_REBUILD_FAILED = 7,   /* the geometry list could not be rebuilt */
    BRENNIX_NVC_SAVE_FAILED = 8,      /* the model could not be written */
    BRENNIX_NVC_NO_DAY_COLORS = 9,    /* the night model has no day colours */

    /* EasyVertexColors */
    BRENNIX_PAINT_LOAD_FAILED = 1,     /* the model could not be loaded */
    BRENNIX_PAINT_GEOMETRY_FAILED = 4, /* no readable first geometry */
    BRENNIX_PAINT_REBUILD_FAILED = 7,  /* painting or rebuilding failed */
    BRENNIX_PAINT_SAVE_FAILED = 8      /* the model could not be written */
};

/* Writes a COL3 collision file for the model's first geometry. generatorMode:
 * 0 bounds only, 1 one box, 2 a triangle mesh; any other value writes an
 * empty collision model. */
BRENNIX_API int BRENNIX_CALL GenerateColFromDff(const char* dffPath, int generatorMode,
                                                const char* colPath);

/* Attaches the COL3 file to the model and writes the result to outputPath. */
BRENNIX_API int BRENNIX_CALL AppendColToDff(const char* dffPath, const char* colPath,
                                            const char* outputPath);

/* Copies the day colours of nightDffPath's model into the night colours of
 * dffPath's model and writes it to outputPath. */
BRENNIX_API int BRENNIX_CALL ImportNVCFromDff(const char* dffPath, const char* nightDffPath,
                                              const char* outputPath);

/* Paints every vertex with one day and one night colour, each given as
 * red + 256 * green + 65536 * blue (the top byte is ignored; alpha is 255),
 * and writes the model to outputPath. */
BRENNIX_API int BRENNIX_CALL EasyVertexColors(const char* dffPath, uint32_t dayColor,
                                              uint32_t nightColor, const char* outputPath);

#ifdef __cplusplus
}
#endif

#endif /* BRENNIX_H */
