// Fresh output base names for the destination.
#pragma once

#include <random>
#include <string>
#include <unordered_set>

namespace jor {

// Fresh output base names: "2.25." and the decimal form of a random
// (version 4) UUID, the usual way to make a DICOM-style unique identifier.
class UniqueNameSource {
public:
    UniqueNameSource();
    std::string nextName();

private:
    std::random_device device_;
    std::unordered_set<std::string> issued_;  // never the same name twice
};

// Decimal text of a 128-bit value given as two 64-bit halves.
std::string decimal128(unsigned long long high, unsigned long long low);

}  // namespace jor
