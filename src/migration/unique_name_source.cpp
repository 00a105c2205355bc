// Output base names from random UUIDs, in decimal.
#include "migration/unique_name_source.h"

#include <algorithm>
#include <cstdint>

namespace jor {

UniqueNameSource::UniqueNameSource() = default;

std::string decimal128(unsigned long long high, unsigned long long low) {
    // Long division by 10 over 32-bit limbs: no 128-bit type on 32-bit targets.
    uint32_t limbs[4] = {static_cast<uint32_t>(high >> 32), static_cast<uint32_t>(high),
                         static_cast<uint32_t>(low >> 32), static_cast<uint32_t>(low)};
    std::string digits;
    for (;;) {
        uint64_t remainder = 0;
        bool zero = true;
        for (uint32_t& limb : limbs) {
            const uint64_t value = (remainder << 32) | limb;
            limb = static_cast<uint32_t>(value / 10);
            remainder = value % 10;
            zero = zero && limb == 0;
        }
        digits.push_back(static_cast<char>('0' + remainder));
        if (zero) break;
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string UniqueNameSource::nextName() {
    for (;;) {
        // random_device draws from the kernel's generator: seeded by the system.
        auto word = [this] { return (static_cast<uint64_t>(device_()) << 32) | static_cast<uint64_t>(device_()); };
        uint64_t high = word();
        uint64_t low = word();
        high = (high & ~uint64_t(0xF000)) | uint64_t(0x4000);          // version 4
        low = (low & ~(uint64_t(0xC) << 60)) | (uint64_t(0x8) << 60);  // RFC 4122 variant
        std::string name = "2.25." + decimal128(high, low);
        if (issued_.insert(name).second) return name;
    }
}

}  // namespace jor
