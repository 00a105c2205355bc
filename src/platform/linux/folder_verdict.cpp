// The Linux judgement of a working folder: owner, mode and the file system's kind, nothing read here.
#include "platform/linux/folder_verdict.h"

#include <linux/magic.h>
#include <sys/stat.h>

namespace jor {
namespace {

// FAT and exFAT show every file with the owner and mode of their mount
// options; a chmod there changes nothing that lasts.
bool keepsPermissions(long fileSystemType) {
    return fileSystemType != MSDOS_SUPER_MAGIC && fileSystemType != EXFAT_SUPER_MAGIC;
}

}  // namespace

FolderVerdict judgeFolder(const FolderFacts& facts) {
    if (!S_ISDIR(facts.mode)) return FolderVerdict::NotAFolder;
    if (!keepsPermissions(facts.fileSystemType)) return FolderVerdict::NoAccessLists;
    if (facts.owner != facts.user) return FolderVerdict::OtherOwner;
    return facts.mode & (S_IWGRP | S_IWOTH) ? FolderVerdict::MakePrivate : FolderVerdict::Use;
}

}  // namespace jor
