// The names of a compressed object's working copy and of its decompressed content.
#include "migration/working_copy.h"

#include <algorithm>

namespace jor {

std::optional<std::string> workingCopyName(std::string_view name, size_t nameLimit) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view base = name.substr(0, dot);
    if (base.size() + WorkingCopySuffix.size() <= nameLimit) return std::string(base) + std::string(WorkingCopySuffix);
    size_t keep = nameLimit > WorkingCopySuffix.size() ? nameLimit - WorkingCopySuffix.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
    return std::string(base.substr(0, keep)) + std::string(WorkingCopySuffix);
}

std::string decompressedPathOf(std::string_view workingPath) {
    return std::string(workingPath.substr(0, workingPath.size() - std::min<size_t>(2, workingPath.size())));
}

}  // namespace jor
