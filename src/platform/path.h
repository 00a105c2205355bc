// Paths joined and taken apart as the archive tools did, with this platform's separator.
#pragma once

#include <string>
#include <string_view>

namespace jor {

// The separator of this platform's paths: "\" on Windows, "/" elsewhere.
// Paths are joined by plain concatenation, as the archive tools always did:
// nothing is trimmed and no separator is added or removed.
extern const char PathSeparator;

// folder + separator + name.
inline std::string pathUnder(std::string_view folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    path.push_back(PathSeparator);
    path.append(name);
    return path;
}

}  // namespace jor
