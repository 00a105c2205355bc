// Counting and cutting texts by characters where they are UTF-8, by bytes where not.
#pragma once

#include <cstddef>
#include <string_view>

namespace jor {

// Names and settings are bytes of an unknown code page. A valid UTF-8
// sequence counts as one character, every other byte as one of its own: so
// an umlaut is never cut in half, and a Latin-1 name is counted as Latin-1.

// Bytes of the character that starts at `pos` (0 at the end of the text).
inline size_t characterBytes(std::string_view text, size_t pos) {
    if (pos >= text.size()) return 0;
    const auto at = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = at(pos);
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 1;
    // No overlong forms, surrogates or values past U+10FFFF.
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (at(pos + 1) < low || at(pos + 1) > high) return 1;
    for (size_t i = 2; i < length; ++i)
        if (at(pos + i) < 0x80 || at(pos + i) > 0xBF) return 1;
    return length;
}

inline size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (size_t pos = 0; pos < text.size(); pos += characterBytes(text, pos)) ++count;
    return count;
}

// The text's first `count` characters (all of it when it is shorter).
inline std::string_view firstCharacters(std::string_view text, size_t count) {
    size_t pos = 0;
    for (; count > 0 && pos < text.size(); --count) pos += characterBytes(text, pos);
    return text.substr(0, pos);
}

}  // namespace jor
