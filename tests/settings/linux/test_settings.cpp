#include "settings/settings.h"

#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

// The file is written whole beside itself and renamed into place.
TEST(SaveSettings, FailedWriteKeepsTheOldFile) {
    test::TempDir dir;
    const std::string file = settingsFilePath(dir.path());
    const std::string old = "[Temp]\r\nTempPath=/old\r\n";
    test::writeFile(file, old);
    test::makeFolders(file + ".part");  // the temporary file cannot be created
    EXPECT_NO_THROW(SaveSettings(dir.path(), SettingsValues{"/t", "/s", "/d", 1, "HIPAX"}));
    EXPECT_EQ(test::readFile(file), old);
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"Settings.ini"});
}

}  // namespace
}  // namespace jor
