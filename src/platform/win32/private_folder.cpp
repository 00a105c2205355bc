// The private working folder on Windows: the token's SIDs, the protected DACL, created, readied and checked.
#include "platform/file_system.h"

#include "platform/win32/file_handles.h"
#include "platform/win32/folder_verdict.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"

// After windows.h, which it needs.
#include <aclapi.h>

#include <initializer_list>
#include <vector>

namespace jor {
namespace {

// The process token's TOKEN_USER or TOKEN_OWNER record.
std::vector<BYTE> tokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) raiseLastError();
    const Handle owned(token);
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!::GetTokenInformation(token, kind, buffer.data(), size, &size)) raiseLastError();
    return buffer;
}

PSID userSid(std::vector<BYTE>& tokenUser) { return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid; }

// Read once: neither changes while the program runs, and the working folder
// is checked for every object.
const std::vector<BYTE>& processTokenInformation(TOKEN_INFORMATION_CLASS kind) {
    static const std::vector<BYTE> user = tokenInformation(TokenUser), owner = tokenInformation(TokenOwner);
    return kind == TokenUser ? user : owner;
}

struct LocalFreer {
    HLOCAL memory;
    ~LocalFreer() { ::LocalFree(memory); }
};

// The DACL of a private working folder: full control for the user, the
// system and the administrators, passed on to everything inside. The
// latter two may take any folder anyway; without them backups and virus
// scanners running as the system would fail on it.
class PrivateAcl {
public:
    explicit PrivateAcl(PSID user) {
        DWORD size = sizeof system_;
        if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size)) raiseLastError(true);
        size = sizeof administrators_;
        if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &size)) raiseLastError(true);
        const PSID sids[] = {user, system_, administrators_};
        DWORD aclSize = sizeof(ACL);
        for (const PSID sid : sids) aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid);
        buffer_.resize((aclSize + 7) / 8);
        if (!::InitializeAcl(get(), aclSize, ACL_REVISION)) raiseLastError(true);
        for (const PSID sid : sids)
            if (!::AddAccessAllowedAceEx(get(), ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                         FILE_ALL_ACCESS, sid))
                raiseLastError(true);
    }
    PACL get() { return reinterpret_cast<PACL>(buffer_.data()); }

private:
    BYTE system_[SECURITY_MAX_SID_SIZE];
    BYTE administrators_[SECURITY_MAX_SID_SIZE];
    std::vector<uint64_t> buffer_;  // 8-byte aligned, as an ACL wants
};

// The entry itself: a junction or link in its place is not followed. The
// first of `accesses` the folder grants; another account's folder may not
// let even its owner be read, and is opened for its attributes alone then.
Handle openEntry(const std::wstring& path, std::initializer_list<DWORD> accesses, DWORD& granted) {
    for (const DWORD access : accesses) {
        Handle entry(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
        granted = access;
        if (entry.valid()) return entry;
        if (::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    raiseLastError(true);
}

FolderVerdict verdictOf(HANDLE entry, const std::wstring& path, DWORD granted) {
    FolderFacts facts;
    facts.attributes = attributesOfHandle(entry, true);
    // Wine opens a link's target even when asked for the link itself; the
    // entry's own attributes still tell.
    if (const DWORD own = ::GetFileAttributesW(path.c_str()); own != INVALID_FILE_ATTRIBUTES)
        facts.attributes |= own & FILE_ATTRIBUTE_REPARSE_POINT;
    if (!::GetVolumeInformationByHandleW(entry, nullptr, 0, nullptr, nullptr, &facts.volumeFlags, nullptr, 0))
        raiseLastError(true);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (granted & READ_CONTROL) {
        if (const DWORD rc =
                ::GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &facts.owner, nullptr, &facts.dacl, nullptr, &descriptor);
            rc != ERROR_SUCCESS)
            raiseWinError(rc, true);
    }
    const LocalFreer freeDescriptor{descriptor};
    facts.user = reinterpret_cast<const TOKEN_USER*>(processTokenInformation(TokenUser).data())->User.Sid;
    facts.defaultOwner = reinterpret_cast<const TOKEN_OWNER*>(processTokenInformation(TokenOwner).data())->Owner;
    return judgeFolder(facts);
}

[[noreturn]] void refuse(FolderVerdict verdict) {
    const int32_t number = verdict == FolderVerdict::NotAFolder ? err::PathFileAccess : err::PermissionDenied;
    throw Error(number, describeError(number));
}

}  // namespace

void FileSystem::CreatePrivateFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    auto user = tokenInformation(TokenUser);
    const PSID sid = userSid(user);
    PrivateAcl acl(sid);
    SECURITY_DESCRIPTOR descriptor;
    // Protected: nothing is inherited from the folder above.
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorOwner(&descriptor, sid, FALSE) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, acl.get(), FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        raiseLastError(true);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    if (!::CreateDirectoryW(wide.c_str(), &attributes)) raiseLastError(true);
}

FolderVerdict FileSystem::PreparePrivateFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    constexpr DWORD reading = READ_CONTROL | FILE_READ_ATTRIBUTES;
    DWORD granted = 0;
    const Handle entry = openEntry(wide, {reading | WRITE_DAC, reading, FILE_READ_ATTRIBUTES}, granted);
    const FolderVerdict verdict = verdictOf(entry.get(), wide, granted);
    if (verdict == FolderVerdict::NotAFolder) refuse(verdict);
    if (verdict != FolderVerdict::MakePrivate) return verdict;
    if (!(granted & WRITE_DAC)) raiseWinError(ERROR_ACCESS_DENIED, true);
    // Through the handle judged, so a folder swapped in meanwhile is not the
    // one changed. On NTFS the new DACL also reaches what the folder holds.
    auto user = tokenInformation(TokenUser);
    PrivateAcl acl(userSid(user));
    if (const DWORD rc = ::SetSecurityInfo(entry.get(), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, acl.get(), nullptr);
        rc != ERROR_SUCCESS)
        raiseWinError(rc, true);
    if (const FolderVerdict now = verdictOf(entry.get(), wide, granted); now != FolderVerdict::Use) refuse(now);
    return verdict;
}

void FileSystem::CheckPrivateFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    DWORD granted = 0;
    const Handle entry = openEntry(wide, {READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_READ_ATTRIBUTES}, granted);
    const FolderVerdict verdict = verdictOf(entry.get(), wide, granted);
    if (verdict != FolderVerdict::Use && verdict != FolderVerdict::NoAccessLists) refuse(verdict);
}

}  // namespace jor
