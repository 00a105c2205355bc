// The Linux working-folder judgement over stat facts, and how the file system acts on it.
#include "platform/file_system.h"
#include "platform/linux/folder_verdict.h"
#include "support/temp_tree.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jor {
namespace {

using test::TempDir;

const char* nameOf(FolderVerdict v) {
    switch (v) {
    case FolderVerdict::Use: return "Use";
    case FolderVerdict::MakePrivate: return "MakePrivate";
    case FolderVerdict::NoAccessLists: return "NoAccessLists";
    case FolderVerdict::OtherOwner: return "OtherOwner";
    case FolderVerdict::NotAFolder: return "NotAFolder";
    }
    return "?";
}

TEST(FolderVerdict, OwnerModeAndFileSystem) {
    constexpr uid_t Me = 1000, Other = 1001;
    constexpr long Ext4 = EXT4_SUPER_MAGIC, Tmpfs = TMPFS_MAGIC, Fat = MSDOS_SUPER_MAGIC, ExFat = EXFAT_SUPER_MAGIC;
    const struct {
        const char* name;
        mode_t mode;
        uid_t owner;
        long fileSystem;
        FolderVerdict expected;
    } cases[] = {
        {"made by the run", S_IFDIR | 0700, Me, Ext4, FolderVerdict::Use},
        {"readable by all, writable by the user alone", S_IFDIR | 0755, Me, Ext4, FolderVerdict::Use},
        {"group may write", S_IFDIR | 0770, Me, Ext4, FolderVerdict::MakePrivate},
        {"others may write", S_IFDIR | 0703, Me, Tmpfs, FolderVerdict::MakePrivate},
        {"shared like /tmp", S_IFDIR | 01777, Me, Ext4, FolderVerdict::MakePrivate},
        {"another user's, closed", S_IFDIR | 0700, Other, Ext4, FolderVerdict::OtherOwner},
        {"another user's, open to all", S_IFDIR | 0777, Other, Tmpfs, FolderVerdict::OtherOwner},
        {"FAT: owner and mode are the mount's", S_IFDIR | 0777, Other, Fat, FolderVerdict::NoAccessLists},
        {"exFAT, the user's by mount option", S_IFDIR | 0755, Me, ExFat, FolderVerdict::NoAccessLists},
        {"a link in its place", S_IFLNK | 0777, Me, Ext4, FolderVerdict::NotAFolder},
        {"a link, even on FAT", S_IFLNK | 0777, Me, Fat, FolderVerdict::NotAFolder},
        {"a file in its place", S_IFREG | 0600, Me, Ext4, FolderVerdict::NotAFolder},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(nameOf(judgeFolder({c.mode, c.owner, Me, c.fileSystem})), nameOf(c.expected)) << c.name;
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void expectError(const std::function<void()>& operation, int32_t number, const std::string& what) {
    try {
        operation();
        ADD_FAILURE() << what << ": no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << what << ": " << e.description();
    }
}

// Prepared, the user's own folder is private whatever it was; what is not
// the user's folder is refused by the check and left as it was.
TEST(FolderVerdict, PreparingActsOnTheVerdict) {
    TempDir dir;
    const FileSystem fs;
    const std::string open = dir / "open", closed = dir / "closed", foreign = dir / "foreign";
    test::makeTree(dir.path(), {"open/left.dcm.z=x", "closed/", "foreign/", "file=x"});
    ::chmod(open.c_str(), 01777);
    ::chmod(closed.c_str(), 0755);
    std::filesystem::create_directory_symlink(closed, dir / "link");

    expectError([&] { fs.CheckPrivateFolder(open); }, 70, "open, before");
    EXPECT_STREQ(nameOf(fs.PreparePrivateFolder(open)), "MakePrivate");
    EXPECT_EQ(modeOf(open), 0700u);
    EXPECT_NO_THROW(fs.CheckPrivateFolder(open));
    EXPECT_EQ(test::readFile(open + "/left.dcm.z"), "x") << "what it holds stays";

    EXPECT_STREQ(nameOf(fs.PreparePrivateFolder(closed)), "Use");
    EXPECT_EQ(modeOf(closed), 0755u);

    for (const char* name : {"link", "file"}) {
        expectError([&] { fs.PreparePrivateFolder(dir / name); }, 75, name);
        expectError([&] { fs.CheckPrivateFolder(dir / name); }, 75, name);
    }
    expectError([&] { fs.PreparePrivateFolder(dir / "missing"); }, 76, "missing");

    // Another owner needs root to arrange.
    if (::geteuid() != 0 || ::chown(foreign.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to chown";
    ::chmod(foreign.c_str(), 0777);
    EXPECT_STREQ(nameOf(fs.PreparePrivateFolder(foreign)), "OtherOwner");
    EXPECT_EQ(modeOf(foreign), 0777u);
    expectError([&] { fs.CheckPrivateFolder(foreign); }, 70, "foreign");
}

}  // namespace
}  // namespace jor
