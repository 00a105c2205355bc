// The set-aside copy's name: the base cut by characters, the first free number, the last number there is.
#include "migration/quarantine_name.h"

#include <gtest/gtest.h>

#include <set>

namespace jor {
namespace {

TEST(QuarantineName, BaseLosesFourCharacters) {
    const struct {
        const char* object;
        std::optional<std::string> base;
    } cases[] = {
        {"IMAGE001.ARZ", "IMAGE001"},
        {"AB.Z", ""},
        {"A.Z", std::nullopt},
        {"Kaputt \xC3\x96l.r", "Kaputt "},  // "Kaputt Öl.r"
        {"\xC3\x96.Z", std::nullopt},       // three characters in four bytes
        {"Foto 5\xB0"
         "C.r",
         "Foto 5"},  // Latin-1: a byte outside UTF-8 is one character
    };
    for (const auto& c : cases) EXPECT_EQ(quarantineBase(c.object), c.base) << c.object;
}

TEST(QuarantineName, FirstFreeTarget) {
    std::set<std::string> all{"B.err"};
    for (int32_t n = 2; n <= MaxQuarantineNumber; ++n) all.insert("B" + std::to_string(n) + ".err");
    std::set<std::string> allButTheLast = all;
    allButTheLast.erase("B32767.err");
    const struct {
        const char* name;
        std::set<std::string> taken;
        std::optional<std::string> target;
    } cases[] = {
        {"none taken", {}, "B.err"},
        {"the unnumbered one taken", {"B.err", "BB.err"}, "B2.err"},
        {"a gap is filled", {"B.err", "B3.err"}, "B2.err"},
        {"a numbered one alone", {"B2.err"}, "B.err"},
        {"the last number", allButTheLast, "B32767.err"},
        {"every number taken", all, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quarantineTarget("B", [&](const std::string& path) { return c.taken.contains(path); }), c.target)
            << c.name;
}

}  // namespace
}  // namespace jor
