// The set-aside copy's name: the base cut by characters, the first free number, the last number there is.
#include "migration/quarantine_name.h"

#include <gtest/gtest.h>

#include <set>

namespace jor {
namespace {

TEST(QuarantineName, BaseLosesFourCharacters) {
    const struct { const char* object; std::optional<std::string> base; } cases[] = {
        {"IMAGE001.ARZ", "IMAGE001"},
        {"BAD00001.Z", "BAD000"},
        {"AB.Z", ""},
        {"A.Z", std::nullopt},
        {"", std::nullopt},
        {"Kaputt \xC3\x96l.r", "Kaputt "},        // "Kaputt Öl.r"
        {"\xC3\x84rztin.Z", "\xC3\x84rzt"},       // "Ärztin.Z"
        {"\xC3\x96.Z", std::nullopt},             // three characters in four bytes
        {"Foto 5\xB0" "C.r", "Foto 5"},           // Latin-1 "Foto 5°C.r": a byte outside UTF-8 is one character
    };
    for (const auto& c : cases) EXPECT_EQ(quarantineBase(c.object), c.base) << c.object;
}

// The names base + ".err" and base + n + ".err" for n from 2 to `last`.
std::set<std::string> takenUpTo(int32_t last) {
    std::set<std::string> taken{"B.err"};
    for (int32_t n = 2; n <= last; ++n) taken.insert("B" + std::to_string(n) + ".err");
    return taken;
}

TEST(QuarantineName, FirstFreeTarget) {
    const struct {
        const char* name;
        std::set<std::string> taken;
        std::optional<std::string> target;
    } cases[] = {
        {"none taken", {}, "B.err"},
        {"the unnumbered one taken", {"B.err"}, "B2.err"},
        {"2 taken", {"B.err", "B2.err"}, "B3.err"},
        {"a gap is filled", {"B.err", "B3.err"}, "B2.err"},
        {"a numbered one alone", {"B2.err"}, "B.err"},
        {"another base's names", {"BB.err", "B.er", "b.err"}, "B.err"},
        {"the last number", takenUpTo(32766), "B32767.err"},
        {"every number taken", takenUpTo(32767), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto exists = [&](const std::string& path) { return c.taken.contains(path); };
        EXPECT_EQ(quarantineTarget("B", exists), c.target) << c.name;
    }
}

}  // namespace
}  // namespace jor
