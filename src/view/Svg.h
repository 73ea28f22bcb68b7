// A small writer of plain XML text for the pictures and the folder page:
// every string that goes into a document passes through XmlText, so that
// names taken from files (any bytes at all) still give a valid document.
//
// Nothing here prints or keeps state.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brennix::view {

// `text` as XML character data or an attribute value: '&', '<', '>', '"'
// and '\'' as entities; bytes that are not valid UTF-8 (a stray or missing
// continuation byte, an overlong form, a surrogate, past U+10FFFF) and the
// characters XML 1.0 does not allow (controls other than tab, line feed and
// carriage return, U+FFFE and U+FFFF) each as U+FFFD.
std::string XmlText(const std::string& text);

// Text of at most `maxBytes` bytes, cut at a character boundary and ended
// with "..." when cut. Invalid bytes are kept for XmlText to replace.
std::string ShortText(const std::string& text, size_t maxBytes);

// Appends elements to a string. Start opens an element, Attr adds to the
// element just opened, Text and further Start calls close its start tag, and
// End closes the innermost open element (as "/>" when it holds nothing).
// Names of elements and attributes are the caller's own constants, written
// as they are; values and text are escaped.
class XmlWriter {
public:
    explicit XmlWriter(std::string& out) : out_(out) {}

    void Start(const char* name);
    void Attr(const char* name, const std::string& value);
    void Attr(const char* name, const char* value);
    // A number with at most `decimals` decimals, trailing zeros dropped.
    void Attr(const char* name, double value, int decimals = 1);
    void Text(const std::string& text);
    // Markup the caller made itself (a path's data made of numbers only).
    void Raw(const std::string& markup);
    void End();
    // Closes every open element.
    void EndAll();

    size_t Depth() const { return open_.size(); }

private:
    void CloseStartTag();

    std::string& out_;
    std::vector<const char*> open_;
    bool startTagOpen_ = false;
};

// A number as short text: at most `decimals` decimals, no trailing zeros,
// no "-0"; non-finite numbers as 0.
std::string NumberText(double value, int decimals = 1);

}  // namespace brennix::view
