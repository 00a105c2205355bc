// The settings file on Windows: a folder in its place, and folder names in the ANSI code page.
#include "settings/settings.h"

#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(WriteSettings, FolderInPlaceOfTheFileIsLeftAsItWas) {
    test::TempDir dir;
    const std::string file = settingsFilePath(dir.path());
    test::makeTree(file, {"inner=x"});
    EXPECT_NO_THROW(writeSettings(dir.path(), SettingsValues{"C:\\t", "D:\\", "E:\\d", 1, "HIPAX"}));
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"Settings.ini/inner"});
    EXPECT_EQ(readSettings(dir.path()).Pacs, "Arzt und Praxis");
}

// Umlauts are stored in the ANSI code page (1252 here), as other programs
// of the practice read the file.
TEST(WriteSettings, FolderWithUmlautsIsStoredInTheAnsiCodePage) {
    test::TempDir dir;
    writeSettings(dir.path(), SettingsValues{"C:\\Temp", "D:\\\xC3\x84rzte", "E:\\M\xC3\xBCller", 0, "HIPAX"});
    const std::string text = test::readFile(settingsFilePath(dir.path()));
    EXPECT_NE(text.find("SourcePath=D:\\\xC4rzte\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DestinationPath=E:\\M\xFCller\r\n"), std::string::npos) << text;
    EXPECT_EQ(readSettings(dir.path()).DestinationPath, "E:\\M\xC3\xBCller");
}

}  // namespace
}  // namespace jor
