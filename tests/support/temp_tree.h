#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace jor::test {

// A fresh folder under /tmp, removed with all its content at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& part) const { return path_ + "/" + part; }

private:
    std::string path_;
};

// Writes a file, creating its folders; `mode` is applied after writing.
void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
void makeFolders(const std::string& path);

// Builds a tree from lines "relative/path=content" (a trailing "/" makes an
// empty folder; " [ro]" after the content makes the file read-only).
void makeTree(const std::string& root, const std::vector<std::string>& lines);

// Regular files below `root`, as paths relative to it, sorted.
std::vector<std::string> listFiles(const std::string& root);

// The lines of a CR LF text file, without their line ends.
std::vector<std::string> readLines(const std::string& path);

// The lines with the leading date-time field ("<date> <time> - ") cut off.
std::vector<std::string> linesWithoutTime(const std::string& path);

}  // namespace jor::test
