#pragma once

#include <string>

namespace jor::app {

// The engine and the settings speak UTF-8; the window speaks UTF-16.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

}  // namespace jor::app
