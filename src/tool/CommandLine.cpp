#include <cstdio>
#include <cstring>

#include "tool/Tool.h"

namespace brennix {

bool CopyOptionValue(const char* source, char* field, uint32_t fieldSize) {
    while (*source == ' ')
        ++source;
    uint32_t n = 0;
    while (source[n] != '\0' && source[n] != ' ' && source[n] != '-' && source[n] != '/')
        ++n;
    if (n >= fieldSize) {
        field[0] = '\0';
        return false;
    }
    std::memcpy(field, source, n);
    field[n] = '\0';
    return true;
}

void ParseCommandLine(const char* commandLine, ToolOptions* options) {
    std::memset(options, 0, sizeof *options);
    const char* p = commandLine;
    while (*p != '\0') {
        if (*p != '-' && *p != '/') {
            ++p;
            continue;
        }
        const char letter = p[1];
        if (letter == '\0')
            break;
        char* field = nullptr;
        uint32_t fieldSize = kPathFieldSize;
        switch (letter) {
            case 'a':
                options->mode = kModeAppend;
                break;
            case 'i':
                options->mode = kModeInfo;
                break;
            case 'p':
                options->mode = kModeProcessAll;
                break;
            case 'v':
                options->mode = kModeNightColors;
                break;
            case 'g':
                options->mode = kModeGenerate;
                field = options->generatorWord;
                fieldSize = kWordFieldSize;
                break;
            case 'c':
            case 'n':
                field = options->secondPath;
                break;
            case 'd':
                field = options->dffPath;
                break;
            case 'o':
                field = options->outputPath;
                break;
            default:
                break;
        }
        if (field == nullptr) {
            p += 2;
            continue;
        }
        if (p[2] == '\0') {
            field[0] = '\0';
            break;
        }
        if (!CopyOptionValue(p + 2, field, fieldSize))
            options->valueTooLong = true;
        // The value's own characters are scanned too: a '-' or '/' inside it
        // starts a new switch.
        p += 3;
    }
}

}  // namespace brennix
