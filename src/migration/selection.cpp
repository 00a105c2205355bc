// The selection rules by name and PACS system.
#include "migration/selection.h"

#include "platform/ascii_case.h"

namespace jor {

std::string pacsModeOf(std::string_view pacsText) {
    return pacsText == "Arzt und Praxis" ? std::string(CompressedMode) : std::string();
}

bool isSelected(std::string_view mode, std::string_view name) {
    const std::string upper = upperAscii(std::string(name));
    if (upper.ends_with(mode)) return true;
    return mode == CompressedMode && upper.ends_with('R');
}

bool isLeftOutOfPlainCopy(std::string_view pacsText, std::string_view name) {
    return upperAscii(std::string(pacsText)) != "HIPAX" && name.find('.') != std::string_view::npos;
}

}  // namespace jor
