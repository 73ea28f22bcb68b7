// Changes to a parsed geometry's day and night colours. Each operation
// allocates what it needs before it changes anything, so a failure leaves
// the geometry as it was.
#include <cstdlib>
#include <cstring>

#include "dff/Geometry.h"

namespace brennix {

namespace {

// A zero-filled block for count colour records; never null for count 0.
uint8_t* NewColorArray(int32_t count) {
    size_t bytes = count > 0 ? static_cast<size_t>(count) * 4 : 1;
    return static_cast<uint8_t*>(std::calloc(bytes, 1));
}

}  // namespace

bool Geometry::ImportNightColors(const Geometry& source) {
    if (vertexCount != source.vertexCount)
        return false;
    if (!source.hasPrelit)
        return false;
    uint8_t* colors = NewColorArray(vertexCount);
    if (colors == nullptr)
        return false;
    if (vertexCount > 0 && source.prelitColors != nullptr) {
        std::memcpy(colors, source.prelitColors, static_cast<size_t>(vertexCount) * 4);
    }
    if (ownsNight)
        std::free(nightColors);
    nightColors = colors;
    ownsNight = 1;
    hasNight = 1;
    colorsChanged = 1;
    return true;
}

bool Geometry::SetUniformColors(const uint8_t day[4], const uint8_t night[4]) {
    uint8_t* dayColors = NewColorArray(vertexCount);
    uint8_t* nightColorsNew = NewColorArray(vertexCount);
    if (dayColors == nullptr || nightColorsNew == nullptr) {
        std::free(dayColors);
        std::free(nightColorsNew);
        return false;
    }
    colorsChanged = 1;
    formatFlags = static_cast<uint16_t>((formatFlags & 0xFFDF) | kFormatPrelit);
    if (ownsPrelit)
        std::free(prelitColors);
    if (ownsNight)
        std::free(nightColors);
    prelitColors = dayColors;
    nightColors = nightColorsNew;
    ownsPrelit = ownsNight = 1;
    hasPrelit = 1;
    hasNight = 1;
    for (int32_t i = 0; i < vertexCount; ++i) {
        std::memcpy(prelitColors + 4 * i, day, 4);
        std::memcpy(nightColors + 4 * i, night, 4);
    }
    return true;
}

}  // namespace brennix
