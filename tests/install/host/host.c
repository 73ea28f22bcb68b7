/* A host program: generates a mesh COL3 file from a model with the brennix
 * library and checks what it got.
 *   host MODEL.dff OUT.col */
#include <stdio.h>
#include <string.h>

#include <brennix.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host MODEL.dff OUT.col\n");
        return 2;
    }
    int result = GenerateColFromDff(argv[1], 2, argv[2]);
    if (result != BRENNIX_OK) {
        fprintf(stderr, "GenerateColFromDff returned %d\n", result);
        return 1;
    }
    FILE* file = fopen(argv[2], "rb");
    char fourcc[4] = {0};
    size_t got = file != NULL ? fread(fourcc, 1, sizeof fourcc, file) : 0;
    if (file != NULL)
        fclose(file);
    if (got != sizeof fourcc || memcmp(fourcc, "COL3", 4) != 0) {
        fprintf(stderr, "%s is not a COL3 file\n", argv[2]);
        return 1;
    }
    printf("GenerateColFromDff: %d\n", result);
    return 0;
}
