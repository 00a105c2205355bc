// Cutting the image object out of a decompressed archive object, whole or fed in chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jor {

inline constexpr std::string_view TrailerMarker = "#*lastfile*#";

// modMain: cuts the image object out of a decompressed archive object (one
// character per byte): from the first 0x00 byte up to, not including, the
// first trailer marker after it. "ERROR" when either is missing or anything
// fails; never throws.
std::string ExtractPayload(std::string_view content) noexcept;

// Where ExtractPayload's result lies in the object, counted in bytes.
struct PayloadSlice {
    uint64_t offset = 0;  // the first 0x00 byte
    uint64_t length = 0;  // up to, not including, the marker

    bool operator==(const PayloadSlice&) const = default;
};

// ExtractPayload over an object of any size: fed the object's bytes in
// order, in chunks of any size, it finds the same slice while holding no
// more than a marker's length of them. A marker split across chunks counts.
class PayloadScanner {
public:
    void feed(std::string_view chunk) noexcept;
    // The marker is found: the rest of the object does not matter.
    bool done() const noexcept { return marker_.has_value(); }
    // Nothing where ExtractPayload gives "ERROR".
    std::optional<PayloadSlice> payload() const noexcept;

private:
    static constexpr size_t Keep = TrailerMarker.size() - 1;

    void keepTail(std::string_view rest) noexcept;

    uint64_t consumed_ = 0;
    std::optional<uint64_t> start_;
    std::optional<uint64_t> marker_;
    // The last bytes seen since the 0x00 byte: the head of a marker the next chunk may finish.
    char tail_[Keep] = {};
    size_t tailLength_ = 0;
};

}  // namespace jor
