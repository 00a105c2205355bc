#pragma once

#include <string>
#include <string_view>

namespace jor {

inline constexpr std::string_view TrailerMarker = "#*lastfile*#";

// modMain: cuts the image object out of a decompressed archive object (one
// character per byte): from the first 0x00 byte up to, not including, the
// first trailer marker after it. "ERROR" when either is missing or anything
// fails; never throws.
std::string ExtractPayload(std::string_view content) noexcept;

}  // namespace jor
