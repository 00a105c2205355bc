// The payload's cut: ExtractPayload over a whole object, PayloadScanner over its chunks.
#include "migration/payload.h"

#include <algorithm>
#include <cstring>
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

void PayloadScanner::feed(std::string_view chunk) noexcept {
    if (marker_) return;
    size_t from = 0;
    if (!start_) {
        from = chunk.find('\0');
        if (from == std::string_view::npos) {
            consumed_ += chunk.size();
            return;
        }
        start_ = consumed_ + from;
    } else if (tailLength_ > 0) {
        // A marker begun in the previous chunks ends within this one's first bytes.
        char joint[2 * Keep];
        const size_t head = std::min(chunk.size(), Keep);
        std::memcpy(joint, tail_, tailLength_);
        std::memcpy(joint + tailLength_, chunk.data(), head);
        const size_t at = std::string_view(joint, tailLength_ + head).find(TrailerMarker);
        if (at != std::string_view::npos) {
            marker_ = consumed_ - tailLength_ + at;
            return;
        }
    }
    const size_t at = chunk.find(TrailerMarker, from);
    if (at != std::string_view::npos) {
        marker_ = consumed_ + at;
        return;
    }
    keepTail(chunk.substr(from));
    consumed_ += chunk.size();
}

void PayloadScanner::keepTail(std::string_view rest) noexcept {
    if (rest.size() >= Keep) {
        std::memcpy(tail_, rest.data() + rest.size() - Keep, Keep);
        tailLength_ = Keep;
        return;
    }
    const size_t drop = tailLength_ + rest.size() > Keep ? tailLength_ + rest.size() - Keep : 0;
    std::memmove(tail_, tail_ + drop, tailLength_ - drop);
    std::memcpy(tail_ + tailLength_ - drop, rest.data(), rest.size());
    tailLength_ = tailLength_ - drop + rest.size();
}

std::optional<PayloadSlice> PayloadScanner::payload() const noexcept {
    if (!start_ || !marker_) return std::nullopt;
    return PayloadSlice{*start_, *marker_ - *start_};
}

}  // namespace jor
