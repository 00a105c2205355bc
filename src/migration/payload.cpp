#include "migration/payload.h"

#include <new>

namespace jor {

std::string ExtractPayload(std::string_view content) noexcept {
    try {
        const size_t start = content.find('\0');
        if (start == std::string_view::npos) return "ERROR";
        // A marker in the wrapper does not count: search from the 0x00 byte on.
        const size_t marker = content.find(TrailerMarker, start);
        if (marker == std::string_view::npos) return "ERROR";
        return std::string(content.substr(start, marker - start));
    } catch (...) {
        // Lack of memory for the result, too.
        return "ERROR";
    }
}

}  // namespace jor
