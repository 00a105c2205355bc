// The INI file through Windows' own functions: the ANSI code page, whole values and any path.
#include "platform/private_profile.h"

#include "platform/path.h"
#include "platform/win32/windows_api.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

using test::TempDir;

// The system's own functions: what they read and write here is what other
// programs on the practice PC read and write.
TEST(PrivateProfileOnWindows, RoundTripInTheAnsiCodePage) {
    ASSERT_EQ(::GetACP(), 1252u) << "the test prefix runs with code page 1252";
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    const std::string umlauts =
        "D:\\\xC3\x84rzte \xC3\x9C"
        "bersicht\\M\xC3\xBCller \xC3\x9F\xC2\xB4";
    ASSERT_TRUE(writePrivateProfileString("Path", "SourcePath", umlauts, file));
    ASSERT_TRUE(writePrivateProfileString("PACS", "PACS", "Arzt und Praxis", file));
    EXPECT_EQ(test::readFile(file),
              "[Path]\r\nSourcePath=D:\\\xC4rzte \xDC"
              "bersicht\\M\xFCller \xDF\xB4\r\n"
              "[PACS]\r\nPACS=Arzt und Praxis\r\n");
    EXPECT_EQ(getPrivateProfileString("path", "SOURCEPATH", "", 256, file), umlauts);
    EXPECT_EQ(getPrivateProfileString("PACS", "missing", "dflt", 256, file), "dflt");
}

TEST(PrivateProfileOnWindows, ReadsWhatTheRulesSay) {
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    test::writeFile(file,
                    "[Temp]\r\n  TempPath = \"C:\\Temp\\\"  \r\nEmpty=\r\nLong=" + std::string(300, 'x') + "\r\n");
    EXPECT_EQ(getPrivateProfileString("TEMP", "temppath", "dflt", 256, file), "C:\\Temp\\");
    EXPECT_EQ(getPrivateProfileString("Temp", "Empty", "dflt", 256, file), "");
    EXPECT_EQ(getPrivateProfileString("Temp", "Long", "", 256, file), std::string(300, 'x'));
    EXPECT_EQ(getPrivateProfileString("Temp", "TempPath", "dflt", 256, dir / "missing.ini"), "dflt");
}

// The system cuts at the buffer's end and answers as for a value that just
// fits: the read goes on with more room until the value is whole, through
// the A functions and the W ones (a folder without an ANSI name).
TEST(PrivateProfileOnWindows, ReadsValuesWholeWhateverTheFirstSize) {
    TempDir dir;
    const std::string cyrillic = dir / "\xD0\x9F\xD1\x80\xD0\xB0\xD0\xBA\xD1\x81\xD0\xB8\xD1\x81";
    test::makeFolders(cyrillic);
    for (const std::string& folder : {dir.path(), cyrillic}) {
        const std::string file = pathUnder(folder, "Settings.ini");
        for (const size_t length : {254, 255, 256, 511, 512, 4000}) {
            const std::string value = "C:\\" + std::string(length - 3, 'v');
            ASSERT_TRUE(writePrivateProfileString("Path", "DestinationPath", value, file)) << length;
            for (const size_t size : {256, 1, 0})
                EXPECT_EQ(getPrivateProfileString("Path", "DestinationPath", "", size, file), value)
                    << folder << ": " << length << " characters, first size " << size;
        }
        const std::string longDefault(300, 'd');
        EXPECT_EQ(getPrivateProfileString("Path", "Missing", longDefault, 256, file), longDefault) << folder;
    }
    EXPECT_EQ(getPrivateProfileString("Path", "Missing", std::string(300, 'd'), 256, std::string("a\0b.ini", 7)),
              std::string(300, 'd'));
}

// A character without an ANSI form comes back as "?": the file keeps the code page.
TEST(PrivateProfileOnWindows, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    ASSERT_TRUE(writePrivateProfileString("Path", "SourcePath", "D:\\\xD0\x96urnal", file));
    EXPECT_EQ(getPrivateProfileString("Path", "SourcePath", "", 256, file), "D:\\?urnal");
}

// A bare name would go to the Windows folder; a program folder in another
// script has no ANSI name at all.
TEST(PrivateProfileOnWindows, FileNamedByAnyPath) {
    TempDir dir;
    const std::string cyrillic = dir / "\xD0\x9F\xD1\x80\xD0\xB0\xD0\xBA\xD1\x81\xD0\xB8\xD1\x81";
    test::makeFolders(cyrillic);
    const std::string file = pathUnder(cyrillic, "Settings.ini");
    ASSERT_TRUE(writePrivateProfileString("Temp", "TempPath", "C:\\Temp", file));
    EXPECT_EQ(test::readFile(file), "[Temp]\r\nTempPath=C:\\Temp\r\n");
    EXPECT_EQ(getPrivateProfileString("Temp", "TempPath", "", 256, file), "C:\\Temp");

    const std::wstring previous = std::filesystem::current_path().wstring();
    std::filesystem::current_path(test::fsPath(dir.path()));
    const bool written = writePrivateProfileString("A", "k", "v", "relative.ini");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(written);
    EXPECT_TRUE(test::exists(dir / "relative.ini"));

    EXPECT_FALSE(writePrivateProfileString("A", "k", "v", dir / "no folder\\x.ini"));
    EXPECT_FALSE(writePrivateProfileString("A", "k", "v", std::string("a\0b.ini", 7)));
    EXPECT_EQ(getPrivateProfileString("A", "k", "dflt", 256, std::string("a\0b.ini", 7)), "dflt");
}

}  // namespace
}  // namespace jor
