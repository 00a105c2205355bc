// The Windows judgement of a working folder from its security descriptor and volume; reading them is private_folder.cpp's.
#pragma once

#include "platform/folder_verdict.h"
#include "platform/win32/windows_api.h"

namespace jor {

struct FolderFacts {
    DWORD attributes = 0;         // of the entry itself, not of what a link leads to
    PSID owner = nullptr;         // null when the descriptor may not be read
    PACL dacl = nullptr;          // null: no DACL, everyone may do everything
    DWORD volumeFlags = 0;        // file system flags of GetVolumeInformation
    PSID user = nullptr;          // the token's user
    PSID defaultOwner = nullptr;  // the token's default owner (Administrators for an elevated administrator)
};

FolderVerdict judgeFolder(const FolderFacts& facts);

}  // namespace jor
