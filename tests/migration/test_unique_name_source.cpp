// The unique names: 128-bit numbers in decimal, and fresh DICOM-style identifiers.
#include "migration/unique_name_source.h"

#include <gtest/gtest.h>

#include <set>

namespace jor {
namespace {

TEST(UniqueNameSource, Decimal128AcrossLimbBoundaries) {
    const struct {
        unsigned long long high, low;
        const char* text;
    } cases[] = {
        {0, 0, "0"},
        {0, 9, "9"},
        {0, 4294967296ULL, "4294967296"},
        {1, 0, "18446744073709551616"},
        {~0ULL, ~0ULL, "340282366920938463463374607431768211455"},
    };
    for (const auto& c : cases) EXPECT_EQ(decimal128(c.high, c.low), c.text) << c.text;
}

TEST(UniqueNameSource, NamesAreFreshDicomStyleIdentifiers) {
    UniqueNameSource source;
    std::set<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = source.nextName();
        ASSERT_EQ(name.rfind("2.25.", 0), 0u) << name;
        ASSERT_LE(name.size(), 64u) << "a DICOM identifier holds at most 64 characters";
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 1000u);
}

}  // namespace
}  // namespace jor
