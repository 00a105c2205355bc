// Paths on a disc as its DICOMDIR names them: the key a file is found by, and references that leave the disc.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

// The key of a path relative to the source folder, whichever way a disc's
// file system shows it: parts split at either separator, letter case aside
// (ASCII), and an ISO 9660 version suffix (";1") or a bare trailing dot aside.
std::string discPathKey(std::string_view relativePath);

// A DICOMDIR's Referenced File ID, relative to the folder that holds the
// DICOMDIR (`dicomdirFolder`, relative to the source folder, "" for the
// source itself), as a path relative to the source folder with the
// platform's separator; nullopt when it leaves the source folder (a ".."
// above it, an absolute path, a drive) or names nothing.
std::optional<std::string> referencedPath(const std::string& dicomdirFolder, const std::vector<std::string>& fileId);

}  // namespace jor
