// The Windows judgement of a working folder: owner, DACL and volume flags, nothing read here.
#include "platform/win32/folder_verdict.h"

namespace jor {

FolderVerdict judgeFolder(const FolderFacts& facts) {
    if (!(facts.attributes & FILE_ATTRIBUTE_DIRECTORY) || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FolderVerdict::NotAFolder;
    // FAT and exFAT keep no descriptor: whatever is reported, anyone may write.
    if (!(facts.volumeFlags & FILE_PERSISTENT_ACLS)) return FolderVerdict::NoAccessLists;
    const auto isUser = [&](PSID sid) { return ::EqualSid(sid, facts.user) || ::EqualSid(sid, facts.defaultOwner); };
    if (!facts.owner || !isUser(facts.owner)) return FolderVerdict::OtherOwner;
    if (!facts.dacl) return FolderVerdict::MakePrivate;
    // The system and the administrators may take any folder anyway: their
    // rights give nobody else a way in.
    const auto trusted = [&](PSID sid) {
        return isUser(sid) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
               ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
    };
    constexpr ACCESS_MASK writing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < facts.dacl->AceCount; ++i) {
        void* ace = nullptr;
        // A DACL that cannot be read through is replaced, not trusted.
        if (!::GetAce(facts.dacl, i, &ace)) return FolderVerdict::MakePrivate;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is created inside, not the folder
        // Both have the mask and the SID where the plain allowing ACE has them.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & writing) && !trusted(const_cast<DWORD*>(&allowed->SidStart)))
            return FolderVerdict::MakePrivate;
    }
    return FolderVerdict::Use;
}

}  // namespace jor
