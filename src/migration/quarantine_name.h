// What a set-aside copy in BadObjects is called; the copy itself is quarantine.cpp's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace jor {

// The numbered names of one object stop where the archive tools stopped.
inline constexpr int32_t MaxQuarantineNumber = 32767;

// The object's name less its last 4 characters, whatever its extension looks
// like, counted as utf8_text.h counts them; none when it has fewer.
std::optional<std::string> quarantineBase(std::string_view objectName);

// The first of base + ".err", base + "2.err", ... base + "32767.err" for which
// `exists` says no; none when every one is taken. Gaps are filled: the search
// always starts again at the unnumbered name.
std::optional<std::string> quarantineTarget(const std::string& base,
                                            const std::function<bool(const std::string&)>& exists);

}  // namespace jor
