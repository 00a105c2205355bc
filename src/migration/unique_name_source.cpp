#include "migration/unique_name_source.h"

#include <algorithm>
#include <cstdint>

namespace jor {

UniqueNameSource::UniqueNameSource() = default;

std::string decimal128(unsigned long long high, unsigned long long low) {
    unsigned __int128 v = (static_cast<unsigned __int128>(high) << 64) | low;
    if (v == 0) return "0";
    std::string digits;
    while (v > 0) {
        digits.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string UniqueNameSource::NextName() {
    for (;;) {
        // random_device draws from the kernel's generator: seeded by the system.
        auto word = [this] {
            return (static_cast<uint64_t>(device_()) << 32) | static_cast<uint64_t>(device_());
        };
        uint64_t high = word();
        uint64_t low = word();
        high = (high & ~uint64_t(0xF000)) | uint64_t(0x4000);                    // version 4
        low = (low & ~(uint64_t(0xC) << 60)) | (uint64_t(0x8) << 60);             // RFC 4122 variant
        std::string name = "2.25." + decimal128(high, low);
        if (issued_.insert(name).second) return name;
    }
}

}  // namespace jor
