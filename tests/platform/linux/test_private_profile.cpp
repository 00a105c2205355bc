// The INI file on Linux, read and written by Windows' rules, kept whole when a write fails.
#include "platform/private_profile.h"

#include "support/small_disk.h"
#include "support/temp_tree.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>

namespace jor {
namespace {

using test::TempDir;

TEST(PrivateProfileRead, FollowsWindowsRules) {
    const std::string long300(300, 'x'), long4000(4000, 'y');
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nullopt: no file
        const char* section;
        const char* key;
        std::string defaultValue;
        size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {"exact names", "[Temp]\r\nTempPath=C:\\Temp\r\n", "Temp", "TempPath", "dflt", 256, "C:\\Temp"},
        {"section letter case", "[tEMP]\r\nTempPath=v\r\n", "Temp", "TempPath", "dflt", 256, "v"},
        {"key letter case", "[Temp]\r\nTEMPPATH=v\r\n", "Temp", "tempPath", "dflt", 256, "v"},
        {"blanks around names", "  [ Temp\t]  \r\n\t TempPath \t= v\r\n", "Temp", "TempPath", "dflt", 256, "v"},
        {"blanks around value", "[A]\r\nk=  \t v w \t \r\n", "A", "k", "dflt", 256, "v w"},
        {"double quotes removed", "[A]\r\nk=\"v\"\r\n", "A", "k", "dflt", 256, "v"},
        {"single quotes removed", "[A]\r\nk='v'\r\n", "A", "k", "dflt", 256, "v"},
        {"quotes keep inner blanks", "[A]\r\nk= \" v \" \r\n", "A", "k", "dflt", 256, " v "},
        {"only one pair of quotes removed", "[A]\r\nk=\"\"v\"\"\r\n", "A", "k", "dflt", 256, "\"v\""},
        {"mismatched quotes kept", "[A]\r\nk=\"v'\r\n", "A", "k", "dflt", 256, "\"v'"},
        {"opening quote alone kept", "[A]\r\nk=\"v\r\n", "A", "k", "dflt", 256, "\"v"},
        {"one quote character kept", "[A]\r\nk=\"\r\n", "A", "k", "dflt", 256, "\""},
        {"inner quotes kept", "[A]\r\nk=a \"b\" c\r\n", "A", "k", "dflt", 256, "a \"b\" c"},
        {"empty value is not the default", "[A]\r\nk=\r\n", "A", "k", "dflt", 256, ""},
        {"blank value is empty", "[A]\r\nk=   \r\n", "A", "k", "dflt", 256, ""},
        {"equals sign inside value", "[A]\r\nk=a=b\r\n", "A", "k", "dflt", 256, "a=b"},
        {"missing key", "[A]\r\nj=1\r\n", "A", "k", "dflt", 256, "dflt"},
        {"missing section", "[B]\r\nk=1\r\n", "A", "k", "dflt", 256, "dflt"},
        {"key of the next section", "[A]\r\nj=1\r\n[B]\r\nk=2\r\n", "A", "k", "dflt", 256, "dflt"},
        {"missing file", std::nullopt, "A", "k", "dflt", 256, "dflt"},
        {"empty file", "", "A", "k", "dflt", 256, "dflt"},
        {"key before any section", "k=1\r\n[A]\r\n", "A", "k", "dflt", 256, "dflt"},
        {"comment is no key", "[A]\r\n;k=1\r\n", "A", "k", "dflt", 256, "dflt"},
        {"section name up to the last bracket", "[a[1]] ; note\r\nk=v\r\n", "A[1]", "k", "dflt", 256, "v"},
        {"section name is not a prefix", "[AB]\r\nk=1\r\n", "A", "k", "dflt", 256, "dflt"},
        {"first of two sections wins", "[A]\r\nk=1\r\n[a]\r\nk=2\r\n", "A", "k", "dflt", 256, "1"},
        {"first of two keys wins", "[A]\r\nk=1\r\nK=2\r\n", "A", "k", "dflt", 256, "1"},
        {"LF-only lines", "[A]\nk=1\n[B]\nk=2\n", "B", "k", "dflt", 256, "2"},
        {"no line end at end of file", "[A]\r\nk=v", "A", "k", "dflt", 256, "v"},
        {"UTF-8 passes through", "[Path]\r\nSourcePath=/media/Müller Ärzte\r\n", "Path", "SourcePath", "", 256,
         "/media/Müller Ärzte"},
        // The size is no limit: a cut folder path would name another folder.
        {"300 characters whole", "[A]\r\nk=" + long300 + "\r\n", "A", "k", "dflt", 256, long300},
        {"thousands of characters whole", "[A]\r\nk=" + long4000 + "\r\n", "A", "k", "dflt", 256, long4000},
        {"umlaut across the 256th byte", "[A]\r\nk=" + std::string(254, 'x') + "\xC3\xA4yz\r\n", "A", "k", "dflt", 256,
         std::string(254, 'x') + "\xC3\xA4yz"},
        {"bytes outside UTF-8 beside umlauts", "[A]\r\nk=\xC3\xC3\xA4\xA4\xE2\x82\r\n", "A", "k", "dflt", 5,
         "\xC3\xC3\xA4\xA4\xE2\x82"},
        {"quotes removed from a value longer than the size", "[A]\r\nk=\"abcdef\"\r\n", "A", "k", "dflt", 4, "abcdef"},
        {"size 1", "[A]\r\nk=v\r\n", "A", "k", "dflt", 1, "v"},
        {"size 0", "[A]\r\nk=v\r\n", "A", "k", "dflt", 0, "v"},
        {"default longer than the size", std::nullopt, "A", "k", "Arzt und Praxis", 5, "Arzt und Praxis"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string file = dir / "Settings.ini";
        if (c.content) test::writeFile(file, *c.content);
        EXPECT_EQ(getPrivateProfileString(c.section, c.key, c.defaultValue, c.size, file), c.expected) << c.name;
    }
}

TEST(PrivateProfileWrite, NewFileGetsSectionsInOrderOfWrites) {
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    EXPECT_TRUE(writePrivateProfileString("B", "x", "1", file));
    EXPECT_TRUE(writePrivateProfileString("A", "y", "2", file));
    EXPECT_TRUE(writePrivateProfileString("b", "z", "", file));
    EXPECT_EQ(test::readFile(file), "[B]\r\nx=1\r\nz=\r\n[A]\r\ny=2\r\n");
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"Settings.ini"});
}

TEST(PrivateProfileWrite, KeepsForeignLinesAndOrderAndReplacesInPlace) {
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    test::writeFile(file,
                    "; written by hand\n"
                    "[Window]\n"
                    "Left = 10\n"
                    "\n"
                    "[Path]\n"
                    "; the disc drive\n"
                    "  sourcePATH = \"D:\\\"\n"
                    "DestinationPath=E:\\Bilder\n"
                    "; was: SourcePath=C:\\\n"
                    "\r\n"
                    "[Last]\n"
                    "not a key line\n");
    EXPECT_TRUE(writePrivateProfileString("Path", "SourcePath", "F:\\", file));
    EXPECT_TRUE(writePrivateProfileString("PATH", "TempPath", "/tmp", file));
    EXPECT_TRUE(writePrivateProfileString("window", "LEFT", "", file));
    EXPECT_TRUE(writePrivateProfileString("New", "k", "v", file));
    EXPECT_TRUE(writePrivateProfileString("Last", "k", "w", file));
    EXPECT_EQ(test::readFile(file),
              "; written by hand\r\n"
              "[Window]\r\n"
              "Left=\r\n"
              "\r\n"
              "[Path]\r\n"
              "; the disc drive\r\n"
              "sourcePATH=F:\\\r\n"
              "DestinationPath=E:\\Bilder\r\n"
              "TempPath=/tmp\r\n"
              "; was: SourcePath=C:\\\r\n"
              "\r\n"
              "[Last]\r\n"
              "k=w\r\n"
              "not a key line\r\n"
              "[New]\r\n"
              "k=v\r\n");
}

TEST(PrivateProfileWrite, WritesIntoFirstOfDuplicateSectionsAndKeys) {
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    test::writeFile(file, "[A]\r\nk=1\r\nk=2\r\n[A]\r\nk=3\r\n");
    EXPECT_TRUE(writePrivateProfileString("A", "k", "new", file));
    EXPECT_TRUE(writePrivateProfileString("A", "j", "add", file));
    EXPECT_EQ(test::readFile(file), "[A]\r\nk=new\r\nk=2\r\nj=add\r\n[A]\r\nk=3\r\n");
    EXPECT_EQ(getPrivateProfileString("A", "k", "", 256, file), "new");
}

TEST(PrivateProfileWrite, ValueReadsBackUnchanged) {
    const std::string values[] = {
        "", "/media/cdrom/", "C:\\Programme\\Jor Orvek\\", "/home/jörg/Bilder Übersicht", "a=b;c", "\"quoted\" inside"};
    for (const auto& value : values) {
        TempDir dir;
        const std::string file = dir / "Settings.ini";
        ASSERT_TRUE(writePrivateProfileString("S", "k", value, file)) << value;
        EXPECT_EQ(getPrivateProfileString("S", "k", "dflt", 256, file), value) << value;
    }
}

TEST(PrivateProfileWrite, FailureLeavesOldFileAndNoTemporaryFile) {
    TempDir dir;
    const std::string missingFolder = dir / "missing/Settings.ini";
    EXPECT_FALSE(writePrivateProfileString("A", "k", "v", missingFolder));
    EXPECT_FALSE(test::exists(dir / "missing"));

    // A disk with room for the file alone: the temporary file cannot be created.
    test::SmallDisk disk(dir / "full", 64, 2);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    const std::string file = disk.path() + "/Settings.ini";
    const std::string old = "[A]\r\nk=old\r\n";
    test::writeFile(file, old);
    EXPECT_FALSE(writePrivateProfileString("A", "k", "new", file));
    EXPECT_EQ(test::readFile(file), old);
    EXPECT_EQ(test::listFiles(disk.path()), std::vector<std::string>{"Settings.ini"});
}

TEST(PrivateProfileWrite, FailureWhileWritingRemovesTemporaryFile) {
    TempDir dir;
    const std::string file = dir / "Settings.ini";
    const std::string old = "[A]\r\nk=old\r\n";
    test::writeFile(file, old);

    // A file size limit makes the write itself fail part-way, as a full disc would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writePrivateProfileString("A", "k", std::string(1000, 'v'), file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(test::readFile(file), old);
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"Settings.ini"});
}

TEST(PrivateProfileWrite, UnreadableFileIsNotReplaced) {
    TempDir dir;
    const std::string folder = dir / "folder.ini";
    test::makeFolders(folder + "/inner");
    EXPECT_FALSE(writePrivateProfileString("A", "k", "v", folder)) << "folder";
    EXPECT_TRUE(test::exists(folder + "/inner"));

    // Stands in for a file without read permission, which root could read anyway.
    const std::string loop = dir / "loop.ini";
    std::filesystem::create_symlink("loop.ini", loop);
    EXPECT_FALSE(writePrivateProfileString("A", "k", "v", loop)) << "symbolic link loop";
    EXPECT_TRUE(std::filesystem::is_symlink(loop));
    EXPECT_EQ(getPrivateProfileString("A", "k", "dflt", 256, loop), "dflt");

    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace jor
