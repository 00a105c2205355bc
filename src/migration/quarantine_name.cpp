// The set-aside copy's base and its first free numbered name.
#include "migration/quarantine_name.h"

#include "platform/utf8_text.h"

namespace jor {

std::optional<std::string> quarantineBase(std::string_view objectName) {
    const size_t total = characterCount(objectName);
    if (total < 4) return std::nullopt;
    return std::string(firstCharacters(objectName, total - 4));
}

std::optional<std::string> quarantineTarget(const std::string& base,
                                            const std::function<bool(const std::string&)>& exists) {
    std::string target = base + ".err";
    for (int32_t n = 2; exists(target); ++n) {
        if (n > MaxQuarantineNumber) return std::nullopt;
        target = base + std::to_string(n) + ".err";
    }
    return target;
}

}  // namespace jor
