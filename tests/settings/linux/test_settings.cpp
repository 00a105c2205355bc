// The settings file on Linux: a write that fails on a full disk keeps the old file.
#include "settings/settings.h"

#include "support/small_disk.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

// The file is written whole beside itself and renamed into place.
TEST(WriteSettings, FailedWriteKeepsTheOldFile) {
    test::TempDir dir;
    // A disk with room for the file alone: the temporary file cannot be created.
    test::SmallDisk disk(dir / "full", 64, 2);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    const std::string file = settingsFilePath(disk.path());
    const std::string old = "[Temp]\r\nTempPath=/old\r\n";
    test::writeFile(file, old);
    EXPECT_NO_THROW(writeSettings(disk.path(), SettingsValues{"/t", "/s", "/d", 1, "HIPAX"}));
    EXPECT_EQ(test::readFile(file), old);
    EXPECT_EQ(test::listFiles(disk.path()), std::vector<std::string>{"Settings.ini"});
}

}  // namespace
}  // namespace jor
