// The disc journal: hostile texts, appending after earlier runs, finding a run again, failures.
#include "diagnostics/csv.h"
#include "diagnostics/journal.h"
#include "platform/error.h"
#include "platform/system_text.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

using namespace std::string_literals;
using test::readFile;
using test::TempDir;

const std::string Header =
    "Beginn;Ende;Datentr\xC3\xA4ger;Seriennummer;Quellverzeichnis;Zielverzeichnis;PACS;Ausgew\xC3\xA4hlt;Migriert;"
    "BadObjects;Fehlerzeilen;Ergebnis;Patienten;Studien;Serien;Bilder;Kein DICOM;Bereits im Ziel;"
    "Fehlen laut DICOMDIR;Abweichende Patientendaten;Protokoll";

JournalRecord run(const std::string& label, const std::string& source, const std::string& destination,
                  JournalResult result = JournalResult::Completed, int32_t migrated = 40) {
    return {"24.03.2008 14:05:09",
            "24.03.2008 14:35:00",
            label,
            "1A2B-3C4D",
            source,
            destination,
            "Arzt und Praxis",
            42,
            migrated,
            2,
            3,
            result,
            5,
            6,
            7,
            8,
            1,
            2,
            3,
            4,
            "2008-03-24 14-05-09 " + label + ".csv"};
}

// The file's text between its CR LF pairs: no other CR or LF may occur.
std::vector<std::string> rows(const std::string& path) {
    const std::string text = readFile(path);
    std::vector<std::string> rows;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        rows.push_back(text.substr(start, end - start));
        EXPECT_EQ(rows.back().find_first_of("\r\n"), std::string::npos) << "a line break inside row " << rows.size();
    }
    EXPECT_EQ(start, text.size()) << "the file ends with CR LF";
    return rows;
}

struct JournalFixture : ::testing::Test {
    TempDir dir;
    Journal journal{dir.path()};
};

// Every text field carries the hostile text; every row still has its 21 columns,
// and what is read back is what was written, escaped as the logs escape.
TEST_F(JournalFixture, HostileTextsNeverShiftAColumnAndReadBackAsWritten) {
    struct Case {
        std::string text, inFile, shown;
    };
    const Case cases[] = {
        {"PATIENT;2008", "\"PATIENT;2008\"", "PATIENT;2008"},
        {"CT \"Kopf\"", "\"CT \"\"Kopf\"\"\"", "CT \"Kopf\""},
        {"\"", "\"\"\"\"", "\""},
        {"DISC\r\n24.03.2008;x;y", "\"DISC\\r\\n24.03.2008;x;y\"", "DISC\\r\\n24.03.2008;x;y"},
        {"N\0UL\t\x1B"s, "N\\x00UL\\t\\x1B", "N\\x00UL\\t\\x1B"},
        {"M\xFCller \xE9t\xE9", "M\xFCller \xE9t\xE9", "M\xFCller \xE9t\xE9"},  // Latin-1 bytes, no UTF-8
        {"  R\xC3\xB6ntgen ", "\"  R\xC3\xB6ntgen \"", "  R\xC3\xB6ntgen "},
        {"C:\\DICOM\\", "C:\\DICOM\\", "C:\\DICOM\\"},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\"", "=HYPERLINK(\"x\")"},  // no formula in a spreadsheet
        {"-2008", "'-2008", "-2008"},
    };
    for (const auto& c : cases) journal.append(run(c.text, c.text, c.text));
    journal.append(run("", "/media/cdrom", "D:\\Ziel", JournalResult::Stopped));

    const auto lines = rows(journal.path());
    ASSERT_EQ(lines.size(), std::size(cases) + 2);
    EXPECT_EQ(lines[0], toSystemText(Header));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        const auto fields = csvFields(lines[i + 1]);
        ASSERT_TRUE(fields);
        ASSERT_EQ(fields->size(), 21u);
        // In the system's code page: Latin-1 on Windows, UTF-8 elsewhere.
        EXPECT_NE(lines[i + 1].find(";" + toSystemText(c.inFile) + ";"), std::string::npos) << lines[i + 1];
        const auto found = journal.lastCompleted(c.text, "1A2B-3C4D", c.text, c.text);
        ASSERT_TRUE(found);
        const std::string shown = fromSystemText(toSystemText(c.shown));
        auto expected = run(shown, shown, shown);
        EXPECT_EQ(*found, expected);
    }
    EXPECT_EQ(lines.back(),
              "24.03.2008 14:05:09;24.03.2008 14:35:00;;1A2B-3C4D;/media/cdrom;D:\\Ziel;Arzt und Praxis;"
              "42;40;2;3;abgebrochen;5;6;7;8;1;2;3;4;2008-03-24 14-05-09 .csv");
}

TEST(JournalFields, QuotingBothWays) {
    struct Case {
        const char* line;
        std::optional<std::vector<std::string>> fields;
    };
    const Case cases[] = {
        {"a;b", {{"a", "b"}}},
        {"", {{""}}},
        {";", {{"", ""}}},
        {"\"a;b\";c", {{"a;b", "c"}}},
        {"\"a\"\"b\";\"\"", {{"a\"b", ""}}},
        {"\"open;a;b", std::nullopt},
        {"\"a\"b;c", std::nullopt},
        {"a\"b;c", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(csvFields(c.line), c.fields) << c.line;
}

TEST_F(JournalFixture, ThreeResultsAndTheLastCompletedRunOfThatDiscAndDestination) {
    journal.append(run("PATIENT", "/media/cdrom", "/ziel", JournalResult::Completed, 10));
    journal.append(run("PATIENT", "/media/cdrom", "/ziel", JournalResult::Completed, 20));
    journal.append(run("PATIENT", "/media/cdrom", "/ziel", JournalResult::Stopped, 30));
    journal.append(run("PATIENT", "/media/cdrom", "/ziel", JournalResult::Skipped, 0));
    journal.append(run("ANDERE", "/media/cdrom", "/ziel", JournalResult::Completed, 50));
    auto noSerial = run("", "/media/cdrom", "/anders");
    noSerial.serial.clear();
    journal.append(noSerial);
    const auto lines = rows(journal.path());
    ASSERT_EQ(lines.size(), 7u);
    const std::pair<size_t, const char*> words[] = {{1, "abgeschlossen"}, {3, "abgebrochen"}, {4, "ausgelassen"}};
    for (const auto& [row, word] : words) EXPECT_EQ(csvFields(lines[row])->at(11), word);

    struct Query {
        const char *label, *serial, *source, *destination;
        std::optional<int32_t> migrated;
    };
    const Query queries[] = {
        {"PATIENT", "1A2B-3C4D", "/media/cdrom", "/ziel", 20},  // neither the stopped nor the skipped run
        {"ANDERE", "1A2B-3C4D", "/media/cdrom", "/ziel", 50},
        {"PATIENT", "1A2B-3C4E", "/media/cdrom", "/ziel", std::nullopt},
        {"PATIENT", "1A2B-3C4D", "/media/cdrom/", "/ziel", std::nullopt},
        {"PATIENT", "1A2B-3C4D", "/media/cdrom", "/anders", std::nullopt},
        {"patient", "1A2B-3C4D", "/media/cdrom", "/ziel", std::nullopt},
        {"", "", "/media/cdrom", "/anders", std::nullopt},  // no serial, no recognition
    };
    for (const auto& q : queries) {
        const auto found = journal.lastCompleted(q.label, q.serial, q.source, q.destination);
        EXPECT_EQ(found ? std::optional(found->migrated) : std::nullopt, q.migrated)
            << q.label << " " << q.serial << " " << q.source << " " << q.destination;
    }
}

// The header only in a new or empty file, or above the first line with more
// columns than an earlier version's; an earlier run's text stays as it is,
// and a last line it left cut short does not take the next one along.
TEST_F(JournalFixture, AppendsAfterAnEarlierRunWithTheHeaderOnce) {
    const std::string earlierVersion = toSystemText(Header.substr(0, Header.find(";Patienten"))) +
                                       "\r\n24.03.2008 14:05:09;24.03.2008 14:35:00;ALT;1A2B-3C4D;/s;/d;GEMED;1;1;0;0;"
                                       "abgeschlossen\r\n";
    test::writeFile(dir / "Logs/Journal.csv", earlierVersion);
    Journal(dir.path()).append(run("ERSTE", "/s", "/d"));
    test::writeFile(journal.path(), readFile(journal.path()) + "24.03.2008 15:00:00;24.03");
    const std::string earlier = readFile(journal.path());
    journal.append(run("ZWEITE", "/s", "/d", JournalResult::Completed, 7));
    EXPECT_EQ(readFile(journal.path()).substr(0, earlier.size()), earlier);
    const auto lines = rows(journal.path());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], toSystemText(Header));
    EXPECT_EQ(lines[4], "24.03.2008 15:00:00;24.03");
    EXPECT_EQ(journal.lastCompleted("ALT", "1A2B-3C4D", "/s", "/d")->migrated, 1) << "found in lines of 12 columns";
    EXPECT_EQ(journal.lastCompleted("ZWEITE", "1A2B-3C4D", "/s", "/d")->migrated, 7);
}

TEST_F(JournalFixture, BrokenLinesArePassedOver) {
    const std::string good = journalLine(run("DISC", "/s", "/d", JournalResult::Completed, 9));
    const std::string lines[] = {
        "24.03.2008;24.03.2008;DISC;1A2B-3C4D;/s;/d;PACS;1;1;0;0",
        "24.03.2008;24.03.2008;DISC;1A2B-3C4D;/s;/d;PACS;viele;1;0;0;abgeschlossen",
        "24.03.2008;24.03.2008;DISC;1A2B-3C4D;/s;/d;PACS;1;-1;0;0;abgeschlossen",
        "24.03.2008;24.03.2008;DISC;1A2B-3C4D;/s;/d;PACS;1;1;0;0;fertig",
        "\xFF\xFE garbage",
    };
    // An open quote must not swallow the rows after it; LF alone ends a row too.
    std::string text = toSystemText(Header) + "\r\n\"an open quote;" + good.substr(1) + "\r\n" + good + "\n";
    for (const auto& line : lines) text += line + "\r\n";
    test::writeFile(dir / "Logs/Journal.csv", text);
    const auto found = journal.lastCompleted("DISC", "1A2B-3C4D", "/s", "/d");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->migrated, 9);
}

TEST_F(JournalFixture, UnwritableJournalRaisesAndUnreadableFindsNone) {
    EXPECT_FALSE(journal.lastCompleted("DISC", "1A2B-3C4D", "/s", "/d")) << "no journal yet";
    EXPECT_FALSE(test::exists(journal.path())) << "looking does not create it";

    test::writeFile(dir / "Logs", "a file where the folder should be");
    EXPECT_THROW(journal.append(run("DISC", "/s", "/d")), Error);
    EXPECT_FALSE(journal.lastCompleted("DISC", "1A2B-3C4D", "/s", "/d"));

    TempDir other;
    test::makeFolders(other / "Logs/Journal.csv");
    Journal folderInTheWay(other.path());
    EXPECT_THROW(folderInTheWay.append(run("DISC", "/s", "/d")), Error);
    EXPECT_FALSE(folderInTheWay.lastCompleted("DISC", "1A2B-3C4D", "/s", "/d"));
}

TEST(JournalMedium, OnlyARemovableMediumWithASerialIsNamed) {
    struct Case {
        VolumeIdentity medium;
        const char *label, *serial;
    };
    const Case cases[] = {
        {{"PATIENT", "1A2B-3C4D", true}, "PATIENT", "1A2B-3C4D"},
        {{"", "0C1D-2E3F", true}, "", "0C1D-2E3F"},
        {{"PATIENT", "", true}, "", ""},
        {{"Daten", "0C1D-2E3F", false}, "", ""},
    };
    for (const auto& c : cases) {
        JournalRecord record = run("old", "/s", "/d");
        setJournalMedium(record, c.medium);
        EXPECT_EQ(record.label, c.label) << c.medium.label;
        EXPECT_EQ(record.serial, c.serial) << c.medium.label;
    }
}

}  // namespace
}  // namespace jor
