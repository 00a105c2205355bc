#pragma once

#include <cstddef>
#include <string>

namespace jor {

// INI files read and written by the rules of the Windows private-profile
// functions: section and key names match without regard to letter case and
// the blanks around them; blanks around a value are not part of it; one pair
// of enclosing single or double quotes is removed; the default comes back
// when the file, section or key is missing; a key with nothing after "="
// gives the empty text; the result is cut to `size` - 1 characters. Lines
// end in CR LF; texts are the bytes the file holds.

// Returns the value (or default), cut to size - 1 characters.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, size_t size,
                                    const std::string& fileName);

// Creates the file, section or key when missing, replaces an existing value
// where it stands and keeps every other line and its order. The new content
// is written under a temporary name beside the file and renamed into place.
// False when the file cannot be written.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);

}  // namespace jor
