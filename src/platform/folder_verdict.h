// What may be done with an existing working folder; each platform judges its own facts.
#pragma once

namespace jor {

enum class FolderVerdict {
    Use,            // the user's own, and no one else may write to it
    MakePrivate,    // the user's own, but others may write to it: shut them out first
    NoAccessLists,  // on a volume that keeps no permissions (FAT, exFAT): nothing to protect
    OtherOwner,     // another account's: never used, never changed
    NotAFolder,     // a link, junction or file in the folder's place
};

}  // namespace jor
