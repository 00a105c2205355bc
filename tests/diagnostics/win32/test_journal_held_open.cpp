// The journal while a spreadsheet holds it open: read for the question, not written.
#include "diagnostics/journal.h"
#include "platform/error.h"
#include "platform/win32/windows_api.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(JournalOnWindows, HeldOpenByASpreadsheetIsReadButNotWritten) {
    test::TempDir dir;
    Journal journal(dir.path());
    JournalRecord run;
    run.start = "24.03.2008 14:05:09";
    run.end = "24.03.2008 14:35:00";
    run.label = "PATIENT";
    run.serial = "1A2B-3C4D";
    run.source = "R:\\";
    run.destination = "C:\\Ziel";
    run.pacs = "GEMED";
    run.selected = run.migrated = 10;
    journal.append(run);
    // As a spreadsheet opens a file it shows: read and write, others may only read.
    const HANDLE held = ::CreateFileW(test::fsPath(journal.path()).wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto found = journal.lastCompleted("PATIENT", "1A2B-3C4D", "R:\\", "C:\\Ziel");
    EXPECT_TRUE(found && *found == run) << "the question is still asked";
    EXPECT_THROW(journal.append(run), Error) << "a line that cannot be written is reported";
    ::CloseHandle(held);
    journal.append(run);
    EXPECT_EQ(test::readLines(journal.path()).size(), 3u);
}

}  // namespace
}  // namespace jor
