// Pieces shared by the reports of `info` on models and on COL files: the
// aligned label/text lines of the text form, counts and numbers in words,
// and JSON values and floats of the JSON form. Header-only and free of internal linkage, so that
// each report includes it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "col/FloatText.h"

namespace brennix::cli {

// Lines of "  LABEL  TEXT", the text starting in one column; a label too
// long for it is followed by one space.
class TextReport {
public:
    void Line(const std::string& label, const std::string& text) {
        out_ += "  ";
        out_ += label;
        out_.append(label.size() < kLabelWidth ? kLabelWidth - label.size() : 1, ' ');
        out_ += text;
        out_ += '\n';
    }
    // A line that goes on with the entry of the line before it.
    void More(const std::string& text) { Line("", text); }
    std::string& Out() { return out_; }

private:
    static constexpr size_t kLabelWidth = 13;
    std::string out_;
};

// "1 byte", "2 bytes".
inline std::string CountOf(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A number in the text form, as printf's %g writes it.
inline std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// One JSON value on one line. Names are bytes from the file: invalid UTF-8
// is replaced, not refused.
inline std::string Dump(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// A float in the JSON form: the shortest text that reads back as the same
// float, as a number. Non-finite numbers have no JSON form and are written
// as null.
inline nlohmann::ordered_json Float(float value) {
    if (!std::isfinite(value))
        return nullptr;
    return std::strtod(ShortestFloatText(value).c_str(), nullptr);
}

inline nlohmann::ordered_json Vector3(const float* v) {
    return nlohmann::ordered_json::array({Float(v[0]), Float(v[1]), Float(v[2])});
}

}  // namespace brennix::cli
