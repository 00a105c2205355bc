// The selection rules: the mode a PACS text gives, the names a mode takes, what the plain-copy rules leave out.
#include "migration/selection.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(Selection, ModeByTheExactPacsText) {
    const struct { const char* pacs; const char* mode; } cases[] = {
        {"Arzt und Praxis", "Z"}, {"GEMED", ""}, {"HIPAX", ""},
        {"arzt und praxis", ""},  {"Arzt und Praxis ", ""}, {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(pacsModeOf(c.pacs), c.mode) << '"' << c.pacs << '"';
}

TEST(Selection, NamesByMode) {
    const struct { const char* mode; const char* name; bool selected; } cases[] = {
        {"Z", "IMG0001.Z", true},  {"Z", "img.z", true},        {"Z", "IMG.R", true},
        {"Z", "A.B.R", true},      {"Z", "img.r", true},
        {"Z", "DICOMDIR", true},  // ends in "R"; it fails later, having no dot
        {"Z", "IMAGE.DCM", false}, {"Z", "IMG0001.ZIP", false}, {"Z", "ZR.TXT", false},
        {"Z", "", false},          {"Z", "\xC3\x84rztin.z", true},  // "Ärztin.z"
        {"", "IM000001", true},    {"", "README.TXT", true},    {"", "", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSelected(c.mode, c.name), c.selected) << "mode \"" << c.mode << "\", " << c.name;
}

TEST(Selection, PlainCopiesLeftOutByThePacsTextOfTheFile) {
    const struct { const char* pacs; const char* name; bool leftOut; } cases[] = {
        {"GEMED", "IM000001", false},   {"GEMED", "DICOMDIR", false},   {"GEMED", "README.TXT", true},
        {"GEMED", "IM000001.", true},   {"GEMED", ".hidden", true},     {"Gemed", "README.TXT", true},
        // Any other text counts as GEMED.
        {"Other", "README.TXT", true},  {"", "README.TXT", true},       {"Arzt und Praxis", "A.B", true},
        {"HIPAX ", "README.TXT", true}, {"Other", "IM000001", false},
        {"HIPAX", "README.TXT", false}, {"hipax", "README.TXT", false}, {"HiPaX", "A.B.C", false},
        {"HIPAX", "IM000001", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isLeftOutOfPlainCopy(c.pacs, c.name), c.leftOut) << '"' << c.pacs << "\", " << c.name;
}

}  // namespace
}  // namespace jor
