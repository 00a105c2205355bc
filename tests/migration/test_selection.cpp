// The selection rules: the mode a PACS text gives, the names a mode takes, what the plain-copy rules leave out.
#include "migration/selection.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(Selection, ModeByTheExactPacsText) {
    const struct {
        const char* pacs;
        const char* mode;
    } cases[] = {
        {"Arzt und Praxis", "Z"}, {"GEMED", ""}, {"HIPAX", ""}, {"arzt und praxis", ""}, {"Arzt und Praxis ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(pacsModeOf(c.pacs), c.mode) << '"' << c.pacs << '"';
}

TEST(Selection, NamesByMode) {
    const struct {
        const char* mode;
        const char* name;
        bool selected;
    } cases[] = {
        {"Z", "IMG0001.Z", true}, {"Z", "img.z", true},      {"Z", "A.B.R", true},    {"Z", "img.r", true},
        {"Z", "DICOMDIR", true},  {"Z", "IMAGE.DCM", false}, {"Z", "IMG.ZIP", false}, {"Z", "", false},
        {"", "IM000001", true},   {"", "README.TXT", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSelected(c.mode, c.name), c.selected) << "mode \"" << c.mode << "\", " << c.name;
}

TEST(Selection, PlainCopiesLeftOutByThePacsTextOfTheFile) {
    const struct {
        const char* pacs;
        const char* name;
        bool leftOut;
    } cases[] = {
        {"GEMED", "IM000001", false},   {"GEMED", "README.TXT", true}, {"GEMED", "IM000001.", true},
        {"Gemed", "README.TXT", true},  {"Other", "README.TXT", true}, {"HIPAX ", "A.B", true},
        {"HIPAX", "README.TXT", false}, {"hipax", "A.B.C", false},     {"HIPAX", "IM000001", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isLeftOutOfPlainCopy(c.pacs, c.name), c.leftOut) << '"' << c.pacs << "\", " << c.name;
}

}  // namespace
}  // namespace jor
