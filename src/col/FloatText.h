// A float as text for messages and reports: the fewest significant digits
// (6 to 9) that read back as the same float, "0.1" rather than
// "0.100000001". Header-only so that the model library and the front ends
// share one definition.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace brennix {

// "nan" for every NaN whatever its sign or payload, "inf" and "-inf" for the
// infinities; otherwise a number that strtof reads back exactly.
inline std::string ShortestFloatText(float value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value)
            break;
    }
    return text;
}

}  // namespace brennix
