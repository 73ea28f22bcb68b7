#include "view/Svg.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace brennix::view {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at text[at], or 0 when the bytes
// there are no valid sequence. `code` receives the character.
size_t SequenceAt(const std::string& text, size_t at, uint32_t* code) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint32_t value = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const uint8_t next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return length;
}

bool AllowedInXml(uint32_t code) {
    if (code < 0x20)
        return code == 0x09 || code == 0x0A || code == 0x0D;
    return code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

std::string XmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    size_t at = 0;
    while (at < text.size()) {
        uint32_t code = 0;
        const size_t length = SequenceAt(text, at, &code);
        if (length == 0) {
            // One replacement per byte that starts no valid sequence.
            out += kReplacement;
            ++at;
            continue;
        }
        if (!AllowedInXml(code)) {
            out += kReplacement;
        } else if (length > 1) {
            out.append(text, at, length);
        } else {
            switch (code) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&apos;";
                    break;
                default:
                    out += static_cast<char>(code);
            }
        }
        at += length;
    }
    return out;
}

std::string ShortText(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes > 3 ? maxBytes - 3 : 0;
    // Back to the start of a character: never inside a sequence.
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + "...";
}

std::string NumberText(double value, int decimals) {
    if (!std::isfinite(value))
        return "0";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 0 : decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0')
            s.pop_back();
        if (!s.empty() && s.back() == '.')
            s.pop_back();
    }
    if (s == "-0")
        s = "0";
    return s;
}

void XmlWriter::CloseStartTag() {
    if (startTagOpen_) {
        out_ += '>';
        startTagOpen_ = false;
    }
}

void XmlWriter::Start(const char* name) {
    CloseStartTag();
    out_ += '<';
    out_ += name;
    open_.push_back(name);
    startTagOpen_ = true;
}

void XmlWriter::Attr(const char* name, const std::string& value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += XmlText(value);
    out_ += '"';
}

void XmlWriter::Attr(const char* name, const char* value) {
    Attr(name, std::string(value));
}

void XmlWriter::Attr(const char* name, double value, int decimals) {
    Attr(name, NumberText(value, decimals));
}

void XmlWriter::Text(const std::string& text) {
    CloseStartTag();
    out_ += XmlText(text);
}

void XmlWriter::Raw(const std::string& markup) {
    CloseStartTag();
    out_ += markup;
}

void XmlWriter::End() {
    if (open_.empty())
        return;
    if (startTagOpen_) {
        out_ += "/>";
        startTagOpen_ = false;
    } else {
        out_ += "</";
        out_ += open_.back();
        out_ += '>';
    }
    open_.pop_back();
}

void XmlWriter::EndAll() {
    while (!open_.empty())
        End();
}

}  // namespace brennix::view
