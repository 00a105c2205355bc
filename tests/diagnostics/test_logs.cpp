// The error and debug logs: their line forms, escaped control characters, the echo and an unwritable folder.
#include "diagnostics/logs.h"
#include "platform/error.h"
#include "platform/system_text.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

using test::readFile;
using test::readLines;
using test::TempDir;

struct LogsFixture : ::testing::Test {
    TempDir dir;
    int32_t debug = 0;
    Logs logs{dir.path(), [this] { return debug; }, [] { return std::string("24.03.2008 14:05:09"); }};
};

TEST_F(LogsFixture, ErrorLineForms) {
    test::writeFile(dir / "Logs/Error.txt", "old\r\n");
    struct Case {
        int32_t number;
        const char* description;
        const char* procedure;
        const char* file;
        const char* line;
    };
    const Case cases[] = {
        {-1, "Source folder doesn\xC2\xB4t exist.", "Start", "",
         "24.03.2008 14:05:09 - -1 - Source folder doesn\xC2\xB4t exist. - Start"},
        {53, "File not found", "ScanFolder", "IMG0001.Z",
         "24.03.2008 14:05:09 - 53 - File not found - ScanFolder - IMG0001.Z"},
        {70, "a - b", "CorrectImage", "x y", "24.03.2008 14:05:09 - 70 - a - b - CorrectImage - x y"},
    };
    for (const auto& c : cases) logs.LogError(c.number, c.description, c.procedure, c.file);
    const auto lines = readLines(logs.errorLogPath());
    ASSERT_EQ(lines.size(), std::size(cases) + 1);
    EXPECT_EQ(lines[0], "old") << "appended after what the log holds";
    // In the system's code page: "\xB4" on Windows, UTF-8 elsewhere.
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(lines[i + 1], toSystemText(cases[i].line));
    EXPECT_FALSE(test::exists(logs.debugLogPath())) << "no echo while the switch is clear";
    EXPECT_EQ(readFile(logs.errorLogPath()).back(), '\n');
}

// A name from the medium can never write a line of its own: one call, one line.
TEST_F(LogsFixture, ControlCharactersAreEscapedInEveryField) {
    using namespace std::string_literals;
    debug = 1;
    const std::string raw = "IMG\r\n08.12.2026 - StartZ\t\x1B[2J\x7F"s + "\0"s + " M\xFC C:\\x";
    const std::string shown = "IMG\\r\\n08.12.2026 - StartZ\\t\\x1B[2J\\x7F\\x00 M\xFC C:\\x";
    logs.LogError(53, "File " + raw, "Scan\nFolder", raw);
    logs.LogDebug(raw);
    EXPECT_EQ(readLines(logs.errorLogPath()),
              std::vector<std::string>{"24.03.2008 14:05:09 - 53 - File " + shown + " - Scan\\nFolder - " + shown});
    EXPECT_EQ(readLines(logs.debugLogPath()),
              (std::vector<std::string>{"24.03.2008 14:05:09 - ERROR: 53 - File " + shown + " - " + shown,
                                        "24.03.2008 14:05:09 - " + shown}));
}

TEST_F(LogsFixture, EchoOnlyWhenTicked) {
    for (int32_t value : {0, 2, 1}) {
        debug = value;
        logs.LogError(-1, "value " + std::to_string(value), "Start", value == 1 ? "F.Z" : "");
    }
    logs.LogError(53, "no file", "ScanFolder", "");
    EXPECT_EQ(readLines(logs.debugLogPath()),
              (std::vector<std::string>{"24.03.2008 14:05:09 - ERROR: -1 - value 1 - F.Z",
                                        "24.03.2008 14:05:09 - ERROR: 53 - no file"}));
    EXPECT_EQ(readLines(logs.errorLogPath()).size(), 4u);
}

TEST_F(LogsFixture, DebugLogCreatesTheLogsFolder) {
    logs.LogDebug("first");
    EXPECT_EQ(readLines(dir / "Logs/DebugOrvek.log"), std::vector<std::string>{"24.03.2008 14:05:09 - first"});
}

TEST_F(LogsFixture, DebugLinesAppendAndEmptyText) {
    test::writeFile(dir / "Logs/DebugOrvek.log", "old\r\n");
    logs.LogDebug("A.Z is migrated.");
    logs.LogDebug("");
    EXPECT_EQ(readLines(logs.debugLogPath()),
              (std::vector<std::string>{"old", "24.03.2008 14:05:09 - A.Z is migrated.", "24.03.2008 14:05:09 - "}));
}

TEST(LogsFailure, UnwritableFolderRaisesToCaller) {
    TempDir dir;
    test::writeFile(dir / "Logs", "a file where the folder should be");
    Logs logs(dir.path(), [] { return 1; });
    EXPECT_THROW(logs.LogError(-1, "x", "Start", ""), Error);
    EXPECT_THROW(logs.LogDebug("x"), Error);
}

}  // namespace
}  // namespace jor
