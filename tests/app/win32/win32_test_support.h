#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace jor::test {

// A fresh folder under the system's temporary folder, removed at the end.
// Paths are UTF-8 with backslashes, as the program exchanges them.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& part) const { return path_ + "\\" + part; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
size_t countFiles(const std::string& folder);

// Processes window messages until `done` or `milliseconds` have passed.
bool waitFor(const std::function<bool()>& done, int milliseconds);

// Closes every message box of this thread as it comes up and records
// "title|text" of each.
class BoxWatcher {
public:
    BoxWatcher();
    ~BoxWatcher();
    static std::vector<std::string> seen;
    static std::vector<HICON> icons;

private:
    UINT_PTR timer_;
};

}  // namespace jor::test
