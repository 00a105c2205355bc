// The Linux judgement of a working folder from its stat and statfs facts; reading them is private_folder.cpp's.
#pragma once

#include "platform/folder_verdict.h"

#include <sys/types.h>

namespace jor {

struct FolderFacts {
    mode_t mode = 0;          // st_mode of the entry itself (lstat), type bits included
    uid_t owner = 0;          // st_uid
    uid_t user = 0;           // the effective uid of this process
    long fileSystemType = 0;  // statfs f_type of the volume it lies on
};

FolderVerdict judgeFolder(const FolderFacts& facts);

}  // namespace jor
