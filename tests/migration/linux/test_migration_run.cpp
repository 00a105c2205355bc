// The working folder on Linux: removed only when a plain folder, and a dangling link in its place.
#include "migration/migration_fixture.h"

#include <sys/stat.h>

namespace jor::test {
namespace {

// Read-only stands for a missing write permission here.
TEST_F(MigrationRun, WorkingFolderIsRemovedOnlyWhenItIsAPlainFolder) {
    const struct {
        const char* name;
        mode_t folderMode;
        bool readOnlyContent;
        bool removed;
    } cases[] = {
        {"plain folder with content", 0755, false, true},
        {"read-only folder", 0555, false, false},
        {"read-only content", 0755, true, false},
    };
    makeTree(src, {"IM1=a"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (exists(work)) ::chmod(work.c_str(), 0755);
        std::filesystem::remove_all(fsPath(work));
        writeFile(work + "/kept.txt", "k", c.readOnlyContent ? 0444 : 0644);
        ::chmod(work.c_str(), c.folderMode);
        w.events.clear();
        run();
        EXPECT_EQ(exists(work + "/kept.txt"), !c.removed);
        EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 1)});
    }
    ::chmod(work.c_str(), 0755);
}

TEST_F(MigrationRun, DanglingLinkInPlaceOfTheWorkingFolderStopsTheStart) {
    expectStartRefusedWhileWorkingFolderIsBlocked(
        [](const std::string& p) { std::filesystem::create_symlink("/nonexistent/target", p); });
}

}  // namespace
}  // namespace jor::test
