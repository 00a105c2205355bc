// Temporary folders and the files in them, as UTF-8 paths on either platform.
#include "support/temp_tree.h"

#include "platform/path.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace jor::test {
namespace stdfs = std::filesystem;

std::filesystem::path fsPath(const std::string& utf8) {
    return stdfs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
    std::random_device random;
    const stdfs::path base = stdfs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const stdfs::path candidate = base / ("jor-test-" + std::to_string(random()));
        std::error_code ec;
        if (stdfs::create_directory(candidate, ec)) {
            path_ = utf8Of(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only entries would keep themselves (Windows) or their content (Linux).
    for (stdfs::recursive_directory_iterator it(fsPath(path_), ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_symlink(ec)) stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(fsPath(path_), ec);
}

std::string TempDir::operator/(const std::string& part) const { return pathUnder(path_, part); }

void makeFolders(const std::string& path) { stdfs::create_directories(fsPath(path)); }

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    const auto parent = fsPath(path).parent_path();
    if (!parent.empty()) stdfs::create_directories(parent);
    {
        std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + path);
        out << content;
    }
    std::error_code ec;
    stdfs::permissions(fsPath(path), static_cast<stdfs::perms>(mode), ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(fsPath(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return stdfs::exists(stdfs::symlink_status(fsPath(path), ec));
}

void makeTree(const std::string& root, const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        if (!line.empty() && line.back() == '/') {
            makeFolders(pathUnder(root, line));
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
        writeFile(pathUnder(root, rel), content, mode);
    }
}

std::vector<std::string> listFiles(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    const stdfs::path base = fsPath(root);
    for (stdfs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::u8string relative = stdfs::relative(it->path(), base).generic_u8string();
        out.emplace_back(relative.begin(), relative.end());
    }
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
