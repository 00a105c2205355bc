// The Linux working-folder judgement over stat facts.
#include "platform/linux/folder_verdict.h"

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>

namespace jor {
namespace {

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
        {"another user's, closed", S_IFDIR | 0700, Other, Ext4, FolderVerdict::OtherOwner},
        {"another user's, open to all", S_IFDIR | 01777, Other, Tmpfs, FolderVerdict::OtherOwner},
        {"FAT: owner and mode are the mount's", S_IFDIR | 0777, Other, Fat, FolderVerdict::NoAccessLists},
        {"exFAT, the user's by mount option", S_IFDIR | 0755, Me, ExFat, FolderVerdict::NoAccessLists},
        {"a link in its place, even on FAT", S_IFLNK | 0777, Me, Fat, FolderVerdict::NotAFolder},
        {"a file in its place", S_IFREG | 0600, Me, Ext4, FolderVerdict::NotAFolder},
    };
    for (const auto& c : cases) EXPECT_EQ(judgeFolder({c.mode, c.owner, Me, c.fileSystem}), c.expected) << c.name;
}

}  // namespace
}  // namespace jor
