// Paths on a disc as its DICOMDIR names them.
#include "migration/disc_paths.h"

#include "platform/ascii_case.h"
#include "platform/path.h"

namespace jor {
namespace {

bool separator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string_view> partsOf(std::string_view path) {
    std::vector<std::string_view> parts;
    for (size_t at = 0; at <= path.size();) {
        size_t end = at;
        while (end < path.size() && !separator(path[end])) ++end;
        if (end > at) parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string_view withoutVersion(std::string_view part) {
    if (const size_t semicolon = part.rfind(';'); semicolon != std::string_view::npos &&
        part.find_first_not_of("0123456789", semicolon + 1) == std::string_view::npos)
        part = part.substr(0, semicolon);
    if (part.size() > 1 && part.back() == '.') part.remove_suffix(1);
    return part;
}

}  // namespace

std::string discPathKey(std::string_view relativePath) {
    std::string key;
    for (const std::string_view part : partsOf(relativePath)) {
        if (!key.empty()) key.push_back('/');
        for (const char c : withoutVersion(part)) key.push_back(upperAscii(c));
    }
    return key;
}

std::optional<std::string> referencedPath(const std::string& dicomdirFolder, const std::vector<std::string>& fileId) {
    if (fileId.empty()) return std::nullopt;
    std::vector<std::string> parts;
    for (const std::string_view part : partsOf(dicomdirFolder)) parts.emplace_back(part);
    for (size_t i = 0; i < fileId.size(); ++i) {
        const std::string& id = fileId[i];
        // An absolute path or a drive, as a writer might have put it in.
        if (id.find(':') != std::string::npos || (i == 0 && !id.empty() && separator(id[0]))) return std::nullopt;
        for (const std::string_view part : partsOf(id)) {
            if (part == ".") continue;
            if (part == "..") {
                if (parts.empty()) return std::nullopt;
                parts.pop_back();
                continue;
            }
            parts.emplace_back(part);
        }
    }
    if (parts.empty()) return std::nullopt;
    std::string path = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) path = pathUnder(path, parts[i]);
    return path;
}

}  // namespace jor
