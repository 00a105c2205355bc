// The working folder on Windows, removed only when its attributes are the directory bit alone.
#include "migration/migration_fixture.h"
#include "platform/win32/windows_api.h"

namespace jor::test {
namespace {

struct WorkingFolderCase {
    const char* name;  // as a test name
    DWORD folderAttributes;
    bool readOnlyContent;
    bool removed;
};

void PrintTo(const WorkingFolderCase& c, std::ostream* out) { *out << c.name; }

class WorkingFolderRemoval : public MigrationFixture, public ::testing::WithParamInterface<WorkingFolderCase> {};

// Exactly 16: a folder the user marked (read-only, hidden) or that a backup
// tool flagged (archive) is not ours to remove.
TEST_P(WorkingFolderRemoval, OnlyWithTheDirectoryBitAlone) {
    const auto& c = GetParam();
    makeTree(src, {"IM1=a"});
    writeFile(pathUnder(work, "kept.txt"), "k", c.readOnlyContent ? 0444 : 0644);
    const std::wstring folder = fsPath(work).wstring();
    ASSERT_TRUE(::SetFileAttributesW(folder.c_str(), c.folderAttributes));
    // Wine keeps only hidden and system on a folder.
    if (c.folderAttributes != FILE_ATTRIBUTE_NORMAL &&
        (::GetFileAttributesW(folder.c_str()) & c.folderAttributes) != c.folderAttributes) {
        ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "this file system keeps no bit " << c.folderAttributes << " on a folder";
    }
    run();
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(exists(pathUnder(work, "kept.txt")), !c.removed);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 1)});
}

INSTANTIATE_TEST_SUITE_P(Attributes, WorkingFolderRemoval,
                         ::testing::Values(WorkingFolderCase{"PlainFolderWithContent", FILE_ATTRIBUTE_NORMAL, false,
                                                             true},
                                           WorkingFolderCase{"ArchiveBit48", FILE_ATTRIBUTE_ARCHIVE, false, false},
                                           WorkingFolderCase{"ReadOnlyFolder17", FILE_ATTRIBUTE_READONLY, false, false},
                                           WorkingFolderCase{"HiddenFolder18", FILE_ATTRIBUTE_HIDDEN, false, false},
                                           WorkingFolderCase{"SystemFolder20", FILE_ATTRIBUTE_SYSTEM, false, false},
                                           WorkingFolderCase{"ReadOnlyContent", FILE_ATTRIBUTE_NORMAL, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace jor::test
