// UTF-8 and UTF-16 for the W functions, and the form of a path the file functions get.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace jor {

// UTF-8 <-> UTF-16 for the W functions. Names from the file system may hold
// unpaired surrogates; they travel as their three-byte forms (WTF-8), so
// every name listed can be named again.
std::optional<std::wstring> wideFromUtf8(std::string_view utf8);  // nullopt: not UTF-8
std::string utf8FromWide(std::wstring_view wide);
// For a text that is shown: a byte outside UTF-8 shows as U+FFFD, and the
// rest of the text as it is.
std::wstring wideText(std::string_view utf8);

// The form of `path` handed to the file functions, or nullopt when the text
// cannot name a file (a NUL byte, not UTF-8, empty). Full drive and UNC paths
// get the \\?\ form: no length limit, and a name with trailing dots or blanks
// (possible on a disc) names that file rather than its trimmed namesake.
std::optional<std::wstring> systemPath(std::string_view path);

}  // namespace jor
