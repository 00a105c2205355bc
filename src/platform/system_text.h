// Texts between UTF-8 and the system's 8-bit code page.
#pragma once

#include <string>

namespace jor {

// The program's texts are UTF-8. The text files it writes (logs, settings)
// are in the system's 8-bit code page: the ANSI code page on Windows, UTF-8
// elsewhere. A character the code page lacks becomes "?".
std::string toSystemText(const std::string& utf8);
std::string fromSystemText(const std::string& text);

}  // namespace jor
