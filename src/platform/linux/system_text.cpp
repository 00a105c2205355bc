// Text files in the system's code page on Linux: UTF-8 as it is.
#include "platform/system_text.h"

namespace jor {

std::string toSystemText(const std::string& utf8) { return utf8; }
std::string fromSystemText(const std::string& text) { return text; }

}  // namespace jor
