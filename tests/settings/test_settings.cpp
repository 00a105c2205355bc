// The settings file: where it lives, values read or defaulted, written in order and read back unchanged.
#include "settings/settings.h"

#include "platform/path.h"
#include "platform/system_text.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>
#include <optional>

namespace jor {
namespace {

using test::TempDir;

void expectValues(const SettingsValues& actual, const SettingsValues& expected, const std::string& name) {
    EXPECT_EQ(actual.TempPath, expected.TempPath) << name;
    EXPECT_EQ(actual.SourcePath, expected.SourcePath) << name;
    EXPECT_EQ(actual.DestinationPath, expected.DestinationPath) << name;
    EXPECT_EQ(actual.DebugValue, expected.DebugValue) << name;
    EXPECT_EQ(actual.Pacs, expected.Pacs) << name;
}

// Blank lines are the platform's to keep or drop when it rewrites the file.
std::string withoutBlankLines(std::string text) {
    for (size_t at; (at = text.find("\r\n\r\n")) != std::string::npos;) text.erase(at, 2);
    return text.starts_with("\r\n") ? text.substr(2) : text;
}

SettingsValues values(std::string temp, std::string source, std::string dest, int32_t debug, std::string pacs) {
    return SettingsValues{std::move(temp), std::move(source), std::move(dest), debug, std::move(pacs)};
}

TEST(SettingsFile, LivesInProgramFolder) {
    EXPECT_EQ(settingsFilePath("/opt/jor-orvek"), std::string("/opt/jor-orvek") + PathSeparator + "Settings.ini");
}

// The size its callers pass is where the read starts, never a limit.
TEST(SettingsFile, ReadINIValueReadsWholeWhateverTheSize) {
    TempDir dir;
    const std::string file = settingsFilePath(dir.path());
    test::writeFile(file, "[Temp]\r\nTempPath=" + std::string(300, 't') + "\r\n");
    for (const int16_t size : {256, 2, 1, 0, -1})
        EXPECT_EQ(ReadINIValue("Temp", "TempPath", "", file, size), std::string(300, 't')) << size;
    EXPECT_EQ(ReadINIValue("Temp", "Missing", "dflt", file, 256), "dflt");
}

TEST(ReadSettings, ReadsFileOrDefaults) {
    const std::string long300 = "/" + std::string(299, 'd');
    const auto umlauts = [](int n) {
        std::string s;
        while (n-- > 0) s += "\xC3\xA4";
        return s;
    };
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nullopt: no file
        SettingsValues expected;
    };
    const Case cases[] = {
        {"no file", std::nullopt, values("", "", "", 0, "Arzt und Praxis")},
        {"empty file", "", values("", "", "", 0, "Arzt und Praxis")},
        {"all five keys",
         "[Temp]\r\nTempPath=/tmp/t\r\n[Path]\r\nSourcePath=/media/cd\r\nDestinationPath=/srv/dicom\r\n"
         "[Debug]\r\nDebugValue=1\r\n[PACS]\r\nPACS=GEMED\r\n",
         values("/tmp/t", "/media/cd", "/srv/dicom", 1, "GEMED")},
        {"hand-edited spelling and order", "[pacs]\nPacs = HIPAX\n[ path ]\ndestinationpath = \"/srv/my dicom\"\n",
         values("", "", "/srv/my dicom", 0, "HIPAX")},
        {"TempPath with nothing after the equals sign", "[Temp]\r\nTempPath=\r\n",
         values("", "", "", 0, "Arzt und Praxis")},
        {"empty PACS is not the default", "[PACS]\r\nPACS=\r\n", values("", "", "", 0, "")},
        {"unknown PACS shown unchanged", "[PACS]\r\nPACS=Sonstiges PACS\r\n", values("", "", "", 0, "Sonstiges PACS")},
        {"300-character folder whole", "[Path]\r\nSourcePath=" + long300 + "\r\n",
         values("", long300, "", 0, "Arzt und Praxis")},
        {"300 umlauts whole", "[Temp]\r\nTempPath=" + umlauts(300) + "\r\n",
         values(umlauts(300), "", "", 0, "Arzt und Praxis")},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.content) test::writeFile(settingsFilePath(dir.path()), toSystemText(*c.content));
        expectValues(readSettings(dir.path()), c.expected, c.name);
        EXPECT_EQ(test::exists(settingsFilePath(dir.path())), c.content.has_value()) << c.name;
    }
}

TEST(ReadSettings, DebugValueOnlyZeroOneOrTwo) {
    struct Case {
        std::optional<std::string> text;
        int32_t expected;
    };  // nullopt: key missing
    const Case cases[] = {
        {"0", 0},   {"1", 1}, {"2", 2},    {" 2 ", 2}, {"7", 0},           {"-1", 0},
        {"abc", 0}, {"", 0},  {"1abc", 0}, {"1.0", 0}, {"99999999999", 0}, {std::nullopt, 0},
    };
    for (const auto& c : cases) {
        TempDir dir;
        test::writeFile(settingsFilePath(dir.path()),
                        "[Debug]\r\n" + (c.text ? "DebugValue=" + *c.text + "\r\n" : std::string()));
        const std::string name = c.text ? "DebugValue \"" + *c.text + "\"" : "no DebugValue";
        EXPECT_EQ(readSettings(dir.path()).DebugValue, c.expected) << name;
    }
}

TEST(WriteSettings, NewFileHoldsFiveKeysInWriteOrder) {
    TempDir dir;
    writeSettings(dir.path(), values("/tmp/t", "/media/cd", "/srv/dicom", 1, "HIPAX"));
    EXPECT_EQ(test::readFile(settingsFilePath(dir.path())),
              "[Temp]\r\nTempPath=/tmp/t\r\n"
              "[Path]\r\nSourcePath=/media/cd\r\nDestinationPath=/srv/dicom\r\n"
              "[Debug]\r\nDebugValue=1\r\n"
              "[PACS]\r\nPACS=HIPAX\r\n");
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"Settings.ini"});
}

TEST(WriteSettings, EmptyValuesStoredAsEmptyKeys) {
    TempDir dir;
    writeSettings(dir.path(), values("", "", "", 0, ""));
    EXPECT_EQ(test::readFile(settingsFilePath(dir.path())),
              "[Temp]\r\nTempPath=\r\n[Path]\r\nSourcePath=\r\nDestinationPath=\r\n"
              "[Debug]\r\nDebugValue=0\r\n[PACS]\r\nPACS=\r\n");
    expectValues(readSettings(dir.path()), values("", "", "", 0, ""), "empty values");
}

TEST(WriteSettings, RoundTripKeepsValuesUnchanged) {
    const SettingsValues cases[] = {
        values("/tmp/Jörg temp", "/media/cdrom/Ärzte Übersicht/", "/srv/Bilder ßäöü", 2, "Arzt und Praxis"),
        values("C:\\Temp\\\\", "D:\\", "\\\\server\\share name", 0, "GEMED"),
        values("/a", "/b", "/c", 1, "Neues PACS; v2 = x"),
    };
    for (const auto& v : cases) {
        TempDir dir;
        writeSettings(dir.path(), v);
        expectValues(readSettings(dir.path()), v, v.SourcePath);
    }
}

// What was saved comes back unchanged at the next start, however long: a
// value cut short can name an existing parent folder.
TEST(WriteSettings, LongValuesComeBackWhole) {
    // Exactly `length` characters, with "/" between parts as a folder path has.
    const auto folder = [](size_t length, const std::string& part) {
        std::string path;
        while (path.size() < length) path += "/" + part;
        return path.substr(0, length);
    };
    const struct {
        const char* name;
        SettingsValues values;
    } cases[] = {
        {"destination of 255 characters", values("/tmp", "/media/cd", folder(255, "Bilder"), 0, "HIPAX")},
        {"destination of 256 characters", values("/tmp", "/media/cd", folder(256, "Bilder"), 0, "HIPAX")},
        {"destination of 300 characters", values("/tmp", "/media/cd", folder(300, "Bilder"), 1, "HIPAX")},
        {"300 characters with umlauts", values(folder(300, "T\xC3\xBCmp"), "/media/cd", "/srv", 0, "GEMED")},
        {"every value long",
         values(folder(511, "tmp"), folder(512, "Quelle"), folder(3000, "Ziel"), 2, std::string(400, 'P'))},
        {"destination of a few thousand characters",
         values("", "", folder(4096, "Praxis Dr. M\xC3\xBCller"), 0, "Arzt und Praxis")},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeSettings(dir.path(), c.values);
        expectValues(readSettings(dir.path()), c.values, c.name);
    }
}

TEST(WriteSettings, KeepsForeignContentAndReplacesValuesInPlace) {
    TempDir dir;
    const std::string file = settingsFilePath(dir.path());
    test::writeFile(file,
                    "; Jor-Orvek\r\n"
                    "[PACS]\r\nPACS=GEMED\r\n"
                    "\r\n"
                    "[Window]\r\nLeft=10\r\n"
                    "\r\n"
                    "[debug]\r\ndebugvalue=1\r\n"
                    "[Path]\r\nDestinationPath=/old/dest\r\nExtra=keep\r\n");
    writeSettings(dir.path(), values("/tmp", "/media/cd", "/new/dest", 0, "HIPAX"));
    EXPECT_EQ(withoutBlankLines(test::readFile(file)),
              "; Jor-Orvek\r\n"
              "[PACS]\r\nPACS=HIPAX\r\n"
              "[Window]\r\nLeft=10\r\n"
              "[debug]\r\ndebugvalue=0\r\n"
              "[Path]\r\nDestinationPath=/new/dest\r\nExtra=keep\r\nSourcePath=/media/cd\r\n"
              "[Temp]\r\nTempPath=/tmp\r\n");
}

TEST(WriteSettings, FailedWriteIsIgnored) {
    TempDir dir;
    const std::string missing = dir / "no such folder";
    EXPECT_NO_THROW(writeSettings(missing, values("/t", "/s", "/d", 1, "HIPAX")));
    EXPECT_FALSE(test::exists(missing));
}

}  // namespace
}  // namespace jor
