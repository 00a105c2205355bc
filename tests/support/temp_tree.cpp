#include "support/temp_tree.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace jor::test {
namespace stdfs = std::filesystem;

TempDir::TempDir() {
    char pattern[] = "/tmp/jor-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only folders would keep their content.
    for (stdfs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(path_, ec);
}

void makeFolders(const std::string& path) { stdfs::create_directories(path); }

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    const auto parent = stdfs::path(path).parent_path();
    if (!parent.empty()) stdfs::create_directories(parent);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + path);
        out << content;
    }
    ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void makeTree(const std::string& root, const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        if (!line.empty() && line.back() == '/') {
            makeFolders(root + "/" + line);
            continue;
        }
        const auto eq = line.find('=');
        const std::string rel = line.substr(0, eq);
        std::string content = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        mode_t mode = 0644;
        if (content.size() >= 5 && content.ends_with(" [ro]")) {
            content.resize(content.size() - 5);
            mode = 0444;
        }
        writeFile(root + "/" + rel, content, mode);
    }
}

std::vector<std::string> listFiles(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (stdfs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) out.push_back(stdfs::relative(it->path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    if (!exists(path)) return lines;
    const std::string text = readFile(path);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

std::vector<std::string> linesWithoutTime(const std::string& path) {
    std::vector<std::string> lines = readLines(path);
    for (auto& l : lines) {
        const auto sep = l.find(" - ");
        if (sep != std::string::npos) l = l.substr(sep + 3);
    }
    return lines;
}

}  // namespace jor::test
