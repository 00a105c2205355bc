// INI files by the rules of the Windows private-profile functions.
#pragma once

#include <cstddef>
#include <string>

namespace jor {

// INI files read and written by the rules of the Windows private-profile
// functions: section and key names match without regard to ASCII letter case
// and the blanks and tabs around them; blanks around a value are not part of
// it; one pair of enclosing matching single or double quotes is removed; the
// default comes back when the file, section or key is missing; a key with
// nothing after "=" gives the empty text. When a section or key appears
// twice, the first one counts. Lines are read with CR LF or LF ends and
// written with CR LF.
//
// On Windows these are the system's own GetPrivateProfileStringA and
// WritePrivateProfileStringA: the file holds the ANSI code page, converted
// from and to the UTF-8 texts here (a character the code page lacks comes
// back as "?"), and the system decides how the file is rewritten (Wine, for
// one, writes the whole file anew with the blanks around "=" removed). On
// Linux this is our own reading of those rules over the bytes the file
// holds.

// Returns the value (or default) whole, however long: a cut folder path can
// name an existing parent folder, and a run would put the images there.
// `size` is only the first buffer the Windows function fills (including its
// NUL); a longer value is read again into a larger one.
std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    size_t size, const std::string& fileName);

// Creates the file, section or key when missing (a new section at the end of
// the file, a new key after the last key of its section), replaces an
// existing value where it stands and keeps every other section and key in
// its order. False when the file cannot be read or written. On Linux the new
// content goes to a temporary file beside it and is renamed into place, so a
// failure leaves the old file as it was.
bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName);

}  // namespace jor
