#pragma once

#include <cstdint>
#include <string>
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
    std::string Name;  // with extension, without folder
    std::string Path;  // full path
};

// One folder read whole: the scan never sees half a listing.
struct FolderListing {
    std::vector<FileEntry> Files;       // in the order the file system lists them
    std::vector<FileEntry> SubFolders;  // likewise; links to folders (and junctions) are not followed
};

// Folder and file handling apart from reading and writing contents. Every
// failure raises jor::Error with a classic number and an English description.
// A path that cannot name a file (a NUL byte in it, say) names one that does
// not exist.
class FileSystem {
public:
    bool FolderExists(const std::string& path) const;
    bool FileExists(const std::string& path) const;
    void CreateFolder(const std::string& path) const;  // one level; the parent must exist

    // Copies one file, carrying its attributes over. The copy is made under a
    // temporary name beside the destination and renamed into place once
    // complete, so a failure leaves no partial file; the source is only read.
    // A link on the source side is not followed but fails (75).
    void CopyFile(const std::string& source, const std::string& destination, bool overwrite) const;

    void DeleteFile(const std::string& path, bool force = false) const;
    void DeleteFolder(const std::string& path, bool force = false) const;  // with all its content

    FolderListing GetFolder(const std::string& path) const;
    int32_t FolderAttributes(const std::string& path) const;
    // 0 clears every attribute: an ordinary read-write file (on Linux 0666
    // less the umask).
    void SetFileAttributes(const std::string& path, int32_t attributes) const;

    // Opens for reading and writing (creating an empty file when missing) and reads it whole.
    std::string ReadWholeFile(const std::string& path) const;
    // Writes under a temporary name beside `path`, then renames into place.
    void WriteFileAtomically(const std::string& path, const std::string& content) const;

    // Opens for appending (creating when missing), writes, closes.
    void AppendToFile(const std::string& path, const std::string& text) const;

    // The temporary name used beside a destination while it is written.
    static std::string partialName(const std::string& destination);
};

}  // namespace jor
