// The Windows working-folder judgement over owners and DACLs built in memory.
#include "platform/win32/folder_verdict.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace jor {
namespace {

class Sid {
public:
    explicit Sid(WELL_KNOWN_SID_TYPE type) {
        DWORD size = sizeof bytes_;
        EXPECT_TRUE(::CreateWellKnownSid(type, nullptr, bytes_, &size)) << "well-known SID " << type;
    }
    // A domain account S-1-5-21-1-2-3-<rid>.
    explicit Sid(DWORD rid) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        EXPECT_TRUE(::InitializeSid(bytes_, &nt, 5));
        const DWORD parts[] = {21, 1, 2, 3, rid};
        for (BYTE i = 0; i < 5; ++i) *::GetSidSubAuthority(bytes_, i) = parts[i];
    }
    PSID get() const { return const_cast<BYTE*>(bytes_); }

private:
    BYTE bytes_[SECURITY_MAX_SID_SIZE] = {};
};

struct Ace {
    PSID sid;
    ACCESS_MASK mask;
    DWORD flags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
};

class Acl {
public:
    explicit Acl(const std::vector<Ace>& aces) {
        DWORD size = sizeof(ACL);
        for (const Ace& a : aces) size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(a.sid);
        buffer_.resize((size + 7) / 8);
        EXPECT_TRUE(::InitializeAcl(get(), size, ACL_REVISION));
        for (const Ace& a : aces) EXPECT_TRUE(::AddAccessAllowedAceEx(get(), ACL_REVISION, a.flags, a.mask, a.sid));
    }
    PACL get() { return reinterpret_cast<PACL>(buffer_.data()); }

private:
    std::vector<uint64_t> buffer_;
};

TEST(FolderVerdict, OwnerDaclAndVolume) {
    const Sid user(1000), other(1001), system(WinLocalSystemSid), admins(WinBuiltinAdministratorsSid),
        authenticated(WinAuthenticatedUserSid), everyone(WinWorldSid), users(WinBuiltinUsersSid);
    constexpr ACCESS_MASK Full = FILE_ALL_ACCESS, ReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
                          Modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    constexpr DWORD Ntfs = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                           FILE_PERSISTENT_ACLS | FILE_SUPPORTS_REPARSE_POINTS;
    constexpr DWORD Fat = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    constexpr DWORD Folder = FILE_ATTRIBUTE_DIRECTORY;
    const Ace userFull{user.get(), Full}, systemFull{system.get(), Full}, adminsFull{admins.get(), Full};
    const struct {
        const char* name;
        PSID owner;
        std::unique_ptr<Acl> dacl;  // null: none
        FolderVerdict expected;
        PSID defaultOwner = nullptr;  // the user when null
        DWORD volume = Ntfs;
        DWORD attributes = Folder;
    } cases[] = {
        {"as the tool makes it", user.get(), std::make_unique<Acl>(std::vector<Ace>{userFull, systemFull, adminsFull}),
         FolderVerdict::Use},
        {"left over under C:\\Temp, Authenticated Users may modify", user.get(),
         std::make_unique<Acl>(
             std::vector<Ace>{{system.get(), Full, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE},
                              {admins.get(), Full, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE},
                              {users.get(), ReadExecute, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE},
                              {authenticated.get(), Modify, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE},
                              userFull}),
         FolderVerdict::MakePrivate},
        {"Everyone may read", user.get(),
         std::make_unique<Acl>(std::vector<Ace>{userFull, {everyone.get(), ReadExecute}}), FolderVerdict::Use},
        {"Everyone's full control only for what is made inside", user.get(),
         std::make_unique<Acl>(std::vector<Ace>{
             userFull, {everyone.get(), GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE}}),
         FolderVerdict::Use},
        {"another user may write", user.get(),
         std::make_unique<Acl>(std::vector<Ace>{userFull, {other.get(), FILE_WRITE_DATA, 0}}),
         FolderVerdict::MakePrivate},
        {"no DACL: everyone may do everything", user.get(), nullptr, FolderVerdict::MakePrivate},
        {"the administrators' own, the user elevated", admins.get(),
         std::make_unique<Acl>(std::vector<Ace>{adminsFull, systemFull}), FolderVerdict::Use, admins.get()},
        {"the administrators' own, the user not elevated", admins.get(),
         std::make_unique<Acl>(std::vector<Ace>{adminsFull, systemFull}), FolderVerdict::OtherOwner},
        {"another user's private folder", other.get(), std::make_unique<Acl>(std::vector<Ace>{{other.get(), Full}}),
         FolderVerdict::OtherOwner},
        {"an owner that may not be read", nullptr, nullptr, FolderVerdict::OtherOwner},
        {"FAT32: no descriptor, whatever owner is reported", other.get(), nullptr, FolderVerdict::NoAccessLists,
         nullptr, Fat},
        {"a junction in its place", user.get(), std::make_unique<Acl>(std::vector<Ace>{userFull}),
         FolderVerdict::NotAFolder, nullptr, Ntfs, Folder | FILE_ATTRIBUTE_REPARSE_POINT},
        {"a file in its place, on FAT32", nullptr, nullptr, FolderVerdict::NotAFolder, nullptr, Fat,
         FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const auto& c : cases) {
        FolderFacts facts;
        facts.attributes = c.attributes;
        facts.owner = c.owner;
        facts.dacl = c.dacl ? c.dacl->get() : nullptr;
        facts.volumeFlags = c.volume;
        facts.user = user.get();
        facts.defaultOwner = c.defaultOwner ? c.defaultOwner : user.get();
        EXPECT_EQ(judgeFolder(facts), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace jor
