#pragma once

#include "platform/error.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

// Attribute bits as the archive tools know them.
namespace attr {
inline constexpr int32_t ReadOnly = 1;
inline constexpr int32_t Hidden = 2;
inline constexpr int32_t Directory = 16;
}  // namespace attr

struct FileEntry {
    std::string Name;  // with extension, without folder
    std::string Path;  // full path
};

// One folder read whole: the scan never sees half a listing.
struct FolderListing {
    std::vector<FileEntry> Files;       // in the order the file system lists them
    std::vector<FileEntry> SubFolders;  // likewise; symbolic links to folders are not followed
};

// Folder and file handling apart from reading and writing contents. Every
// failure raises jor::Error with a classic number and an English description.
class FileSystem {
public:
    bool FolderExists(const std::string& path) const;
    bool FileExists(const std::string& path) const;
    void CreateFolder(const std::string& path) const;  // one level; the parent must exist

    // Copies one file, carrying its attributes over. The copy is made under a
    // temporary name beside the destination and renamed into place once
    // complete, so a failure leaves no partial file; the source is only read.
    void CopyFile(const std::string& source, const std::string& destination, bool overwrite) const;

    void DeleteFile(const std::string& path, bool force = false) const;
    void DeleteFolder(const std::string& path, bool force = false) const;  // with all its content

    FolderListing GetFolder(const std::string& path) const;
    int32_t FolderAttributes(const std::string& path) const;
    // 0 gives the file ordinary read-write permissions (0666 less the umask).
    void SetFileAttributes(const std::string& path, int32_t attributes) const;

    // Opens for reading and writing (creating an empty file when missing) and reads it whole.
    std::string ReadWholeFile(const std::string& path) const;
    // Writes under a temporary name beside `path`, then renames into place.
    void WriteFileAtomically(const std::string& path, const std::string& content) const;

    // Opens as ReadWholeFile does (an empty file is created when missing) and
    // hands the content to `consume` from its start, in order, in chunks of
    // at most `chunkSize` bytes, until the end or until `consume` returns
    // false. Holds one chunk at a time, whatever the file's size.
    void ReadFileInChunks(const std::string& path, size_t chunkSize,
                          const std::function<bool(std::string_view)>& consume) const;
    // Writes the `length` bytes of `source` that begin at `offset` into
    // `destination` (replacing a file there), under a temporary name beside
    // it that is renamed into place once complete; holds no more than a
    // small buffer (Linux: copy_file_range). A source too short for the range
    // raises an error and leaves no file.
    void WriteFileRange(const std::string& source, uint64_t offset, uint64_t length,
                        const std::string& destination) const;

    // Brings the contents and folder entries of the files at `paths` to
    // stable storage before it returns; it may flush more than these (Linux:
    // every file system they lie on, once each, by syncfs). A file no longer
    // at its path (moved or deleted by someone else) is skipped. Never
    // raises: returns the files that could not be flushed, each with its
    // failure, in the order of `paths`.
    struct FlushFailure {
        std::string path;
        Error error;
    };
    std::vector<FlushFailure> FlushToStableStorage(const std::vector<std::string>& paths) const;

    // Opens for appending (creating when missing), writes, closes.
    void AppendToFile(const std::string& path, const std::string& text) const;

    // The temporary name used beside a destination while it is written.
    static std::string partialName(const std::string& destination);
};

}  // namespace jor
