// Which files of the medium a run takes, by name and PACS system; the walk that asks is folder_scan.cpp's.
#pragma once

#include <string>
#include <string_view>

namespace jor {

// The PacsMode of "Arzt und Praxis", whose objects are compressed.
inline constexpr std::string_view CompressedMode = "Z";

// The PacsMode for the PACS text at the start of a run. Only "Arzt und
// Praxis", exactly as written, holds compressed objects; any other text
// takes the plain-copy rules, which tell GEMED from HIPAX per file.
std::string pacsModeOf(std::string_view pacsText);

// Whether `mode` selects the file `name`: in capitals, a name that ends in
// the mode (the empty mode selects every name), or in mode "Z" also in "R".
bool isSelected(std::string_view mode, std::string_view name);

// Whether the plain-copy rules leave out a selected `name`, under the PACS
// text read for this very file: GEMED keeps its images in names without a
// dot, and every text but "HIPAX" (any letter case) counts as GEMED.
bool isLeftOutOfPlainCopy(std::string_view pacsText, std::string_view name);

}  // namespace jor
