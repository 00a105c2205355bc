// What a compressed object's files in the working folder are called; copying and decompressing is the engine's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace jor {

inline constexpr std::string_view WorkingCopySuffix = ".dcm.z";

// The working copy's name for the medium's file `name`: its base (up to, not
// including, its last ".") and ".dcm.z". None for a name without a ".".
// The copy is internal: where the name would pass `nameLimit` (bytes, the
// working folder's file system's), the base is cut short, never inside a
// UTF-8 sequence; the output's name comes from the name source anyway.
std::optional<std::string> workingCopyName(std::string_view name, size_t nameLimit);

// Where the decompressor leaves the content of the working copy at
// `workingPath`: that path without its last 2 characters (the ".z").
std::string decompressedPathOf(std::string_view workingPath);

}  // namespace jor
