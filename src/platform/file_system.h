// The file-system component: folders, copies, attributes, listings and our temporary files' names.
#pragma once

#include "platform/error.h"
#include "platform/folder_verdict.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

// Attribute bits as the archive tools know them: Windows reports its own
// bits; elsewhere read-only stands for a missing write permission and hidden
// for a name starting with ".".
namespace attr {
inline constexpr int32_t ReadOnly = 1;
inline constexpr int32_t Hidden = 2;
inline constexpr int32_t System = 4;
inline constexpr int32_t Directory = 16;
inline constexpr int32_t Archive = 32;
}  // namespace attr

struct FileEntry {
    std::string name;                // with extension, without folder
    std::string path;                // full path
    std::optional<uint64_t> size{};  // of a file, as listed; none when it cannot be told
};

// Which folder a path leads to: two paths name the same folder exactly when
// their identities are equal, however they get there (links, bind mounts,
// junctions). Linux: device and inode number. Windows: the volume serial
// number and the 64-bit file index of GetFileInformationByHandle on the
// folder opened with FILE_FLAG_BACKUP_SEMANTICS.
struct FolderIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    friend bool operator==(const FolderIdentity& a, const FolderIdentity& b) {
        return a.volume == b.volume && a.index == b.index;
    }
    friend bool operator<(const FolderIdentity& a, const FolderIdentity& b) {
        return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
    }
};

// One folder read whole: the scan never sees half a listing. A listing that
// breaks off part-way raises, it is never handed back shortened.
struct FolderListing {
    FolderIdentity identity;  // of the folder as it was opened for this listing
    // In the order the file system lists them. Links of every kind (to files,
    // to folders, broken ones) and entries whose kind cannot be read count as
    // files: nothing is left out, and the copy, which never follows a link,
    // names each of them in its failure.
    std::vector<FileEntry> files;
    std::vector<FileEntry> subFolders;  // real folders only (no links, no junctions)
};

// Folder and file handling apart from reading and writing contents. Every
// failure raises jor::Error with a classic number and an English description.
// A path that cannot name a file (one holding a NUL byte) names nothing:
// FolderExists and FileExists are false for it, and every other operation
// raises BadFileName (52) before the system sees it, since the system would
// read it cut short at the NUL and act on another path.
// Sees the bytes a copy writes, in order, as they are written: a hash or a
// reader of the output needs no second read of it. What it raises fails the copy.
using WrittenBytes = std::function<void(std::string_view)>;

class FileSystem {
public:
    bool FolderExists(const std::string& path) const;
    bool FileExists(const std::string& path) const;
    void CreateFolder(const std::string& path) const;  // one level; the parent must exist

    // Copies one file, carrying its attributes over. The copy is made in a
    // temporary file beside the destination and renamed into place once
    // complete, so a failure leaves no partial file; the source is only read.
    // A link on the source side is not followed but fails (75).
    // Temporary files (here and in WriteFileAtomically) are always created
    // new and exclusively under a random name of our own, another one when
    // the name is taken, and never through an existing name or link: a file
    // planted in a shared folder is never written through. Without
    // `carryAttributes` the copy is an ordinary read-write file: nothing of
    // the source's attributes, and no flush for a read-only one.
    void CopyFile(const std::string& source, const std::string& destination, bool overwrite,
                  bool carryAttributes = true, const WrittenBytes& written = {}) const;

    void DeleteFile(const std::string& path, bool force = false) const;
    void DeleteFolder(const std::string& path, bool force = false) const;  // with all its content

    FolderListing GetFolder(const std::string& path) const;
    int32_t FolderAttributes(const std::string& path) const;
    // 0 clears every attribute: an ordinary read-write file (on Linux 0666
    // less the umask).
    void SetFileAttributes(const std::string& path, int32_t attributes) const;

    // Identity of the folder `path` leads to; nullopt when it leads to none.
    std::optional<FolderIdentity> FolderIdentityOf(const std::string& path) const;

    // One level, private to the current user (Linux: mode 0700; Windows: a
    // protected DACL granting the user, the system and the administrators,
    // passed on to everything inside).
    void CreatePrivateFolder(const std::string& path) const;
    // Readies an existing folder for the user's work and tells what it
    // found. MakePrivate: it was the user's own but open to others, and is
    // now private as CreatePrivateFolder makes it. OtherOwner: it is left
    // untouched, for the caller to refuse. A link, junction or file in its
    // place raises PathFileAccess (75); a folder that cannot be made
    // private raises.
    FolderVerdict PreparePrivateFolder(const std::string& path) const;
    // Raises unless `path` may be worked in as it stands: a real folder (a
    // link or junction raises PathFileAccess, 75), either the effective
    // user's own and writable by no one else, or on a volume that keeps no
    // permissions (else PermissionDenied, 70).
    void CheckPrivateFolder(const std::string& path) const;

    // The longest file name the file system of `folder` takes (bytes on
    // Linux, UTF-16 units on Windows); 255 when it cannot be told.
    size_t MaxNameLength(const std::string& folder) const;

    // Opens for reading and writing (creating an empty file when missing) and
    // reads it whole. A link in its place is not followed; it raises.
    std::string ReadWholeFile(const std::string& path) const;
    // Writes into a temporary file beside `path` (as CopyFile does), then
    // renames it into place.
    void WriteFileAtomically(const std::string& path, const std::string& content) const;

    // Opens as ReadWholeFile does (an empty file is created when missing) and
    // hands the content to `consume` from its start, in order, in chunks of
    // at most `chunkSize` bytes, until the end or until `consume` returns
    // false. Holds one chunk at a time, whatever the file's size.
    void ReadFileInChunks(const std::string& path, size_t chunkSize,
                          const std::function<bool(std::string_view)>& consume) const;
    // As ReadFileInChunks, for a file another program may hold open (a
    // spreadsheet showing it): opened for reading only and shared with
    // writers, never created (a missing file raises), a link not followed.
    void ReadSharedFileInChunks(const std::string& path, size_t chunkSize,
                                const std::function<bool(std::string_view)>& consume) const;
    // Writes the `length` bytes of `source` that begin at `offset` into
    // `destination` (replacing a file there), under a temporary name beside
    // it that is renamed into place once complete; holds no more than a
    // small buffer (Linux: copy_file_range). A source too short for the range
    // raises an error and leaves no file.
    void WriteFileRange(const std::string& source, uint64_t offset, uint64_t length, const std::string& destination,
                        const WrittenBytes& written = {}) const;

    // Brings the contents and folder entries of the files at `paths` to
    // stable storage before it returns; it may flush more than these (Linux:
    // every file system they lie on, once each, by syncfs). A file no longer
    // at its path (moved or deleted by someone else) is skipped. On Windows a
    // read-only file cannot be opened for the flush: CopyFile flushes a copy
    // before it makes it read-only, and such a file counts as flushed. Never
    // raises: returns the files that could not be flushed, each with its
    // failure, in the order of `paths`.
    struct FlushFailure {
        std::string path;
        Error error;
    };
    std::vector<FlushFailure> FlushToStableStorage(const std::vector<std::string>& paths) const;

    // Opens for appending (creating when missing), writes, closes.
    void AppendToFile(const std::string& path, const std::string& text) const;

    // Removes what a write cut short by a power cut or the session's end
    // leaves: the temporary files of CopyFile, WriteFileRange and
    // WriteFileAtomically (isOwnTemporaryName) directly in `folder`, read-only
    // ones too. Nothing else is touched; links are removed, never followed.
    // Raises when the folder cannot be listed; a file that cannot be removed
    // is left.
    void RemoveOwnTemporaryFiles(const std::string& folder) const;
};

// "jor-", 16 lower-case hex digits, ".part": the name of a temporary file of
// ours, and no name anybody else would give a file of theirs.
inline std::string makeOwnTemporaryName(const unsigned char (&random)[8]) {
    static const char hex[] = "0123456789abcdef";
    std::string name = "jor-";
    for (const unsigned char b : random) {
        name.push_back(hex[b >> 4]);
        name.push_back(hex[b & 15]);
    }
    return name + ".part";
}

inline bool isOwnTemporaryName(std::string_view name) {
    if (name.size() != 4 + 16 + 5 || !name.starts_with("jor-") || !name.ends_with(".part")) return false;
    for (const char c : name.substr(4, 16))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace jor
