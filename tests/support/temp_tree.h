// Temporary folders, and files and trees written into them and read back, for every suite.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jor::test {

// A fresh folder in the system's temporary folder, removed with all its
// content at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Joined with the platform's separator, as the program joins paths.
    std::string operator/(const std::string& part) const;

private:
    std::string path_;
};

// The program's paths are UTF-8 texts; std::filesystem reads a narrow text
// in the ANSI code page on Windows.
std::filesystem::path fsPath(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& path);

// Writes a file, creating its folders; `mode` is applied after writing (on
// Windows only its owner-write bit counts: without it the file is read-only).
void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string readFile(const std::string& path);
bool exists(const std::string& path);  // links are not followed
void makeFolders(const std::string& path);

// Builds a tree from lines "relative/path=content" (a trailing "/" makes an
// empty folder; " [ro]" after the content makes the file read-only).
void makeTree(const std::string& root, const std::vector<std::string>& lines);

// Regular files below `root`, as paths relative to it with "/" between the
// parts, sorted.
std::vector<std::string> listFiles(const std::string& root);

// The lines of a CR LF text file, without their line ends.
std::vector<std::string> readLines(const std::string& path);

// The lines with the leading date-time field ("<date> <time> - ") cut off.
std::vector<std::string> linesWithoutTime(const std::string& path);

}  // namespace jor::test
