// Letter case of ASCII letters alone, for names of an unknown code page.
#pragma once

#include <string>

namespace jor {

// ASCII only: names are bytes of an unknown code page, and only the ASCII
// letters may change.
inline char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
inline char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

inline std::string lowerAscii(std::string text) {
    for (char& c : text) c = lowerAscii(c);
    return text;
}
inline std::string upperAscii(std::string text) {
    for (char& c : text) c = upperAscii(c);
    return text;
}

}  // namespace jor
