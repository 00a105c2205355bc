// The private working folder on Linux: created 0700, readied and checked through the entry itself.
#include "platform/file_system.h"

#include "platform/linux/errno_error.h"
#include "platform/linux/file_descriptors.h"
#include "platform/linux/folder_verdict.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace jor {

void FileSystem::CreatePrivateFolder(const std::string& path) const {
    if (path.empty()) raiseErrno(ENOENT, true);
    if (::mkdir(systemPath(path), 0700) != 0) raiseErrno(errno, true);
}

namespace {

// The entry itself, a link in its place not followed. O_PATH needs no
// permission on it: another user's closed folder is judged as well.
Fd openEntry(const std::string& path) {
    Fd fd(::open(systemPath(path), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) raiseErrno(errno, true);
    return fd;
}

FolderVerdict verdictOf(int entry) {
    struct stat st;
    struct statfs volume;
    if (::fstat(entry, &st) != 0 || ::fstatfs(entry, &volume) != 0) raiseErrno(errno, true);
    return judgeFolder({st.st_mode, st.st_uid, ::geteuid(), static_cast<long>(volume.f_type)});
}

[[noreturn]] void refuse(FolderVerdict verdict) {
    const int32_t number = verdict == FolderVerdict::NotAFolder ? err::PathFileAccess : err::PermissionDenied;
    throw Error(number, describeError(number));
}

}  // namespace

FolderVerdict FileSystem::PreparePrivateFolder(const std::string& path) const {
    const Fd entry = openEntry(path);
    const FolderVerdict verdict = verdictOf(entry.get());
    if (verdict == FolderVerdict::NotAFolder) refuse(verdict);
    if (verdict != FolderVerdict::MakePrivate) return verdict;
    // Through the entry judged, so a folder swapped in meanwhile is not the one changed.
    if (::fchmodat(entry.get(), ".", 0700, 0) != 0) raiseErrno(errno, true);
    if (const FolderVerdict now = verdictOf(entry.get()); now != FolderVerdict::Use) refuse(now);
    return verdict;
}

void FileSystem::CheckPrivateFolder(const std::string& path) const {
    const FolderVerdict verdict = verdictOf(openEntry(path).get());
    if (verdict != FolderVerdict::Use && verdict != FolderVerdict::NoAccessLists) refuse(verdict);
}

}  // namespace jor
