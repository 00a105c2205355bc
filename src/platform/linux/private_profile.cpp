// INI files by the private-profile rules, our own reading and writing of them.
#include "platform/private_profile.h"

#include "platform/ascii_case.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace jor {
namespace {

using Lines = std::vector<std::string>;

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
    a = trim(a);
    b = trim(b);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    const auto close = line.rfind(']');
    if (!line.starts_with('[') || close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

std::optional<std::string_view> keyName(std::string_view line) {
    line = trim(line);
    const auto eq = line.find('=');
    if (line.starts_with(';') || line.starts_with('[') || eq == std::string_view::npos) return std::nullopt;
    return trim(line.substr(0, eq));
}

// Missing file: true with no lines. Unreadable file: false.
bool loadLines(const std::string& fileName, Lines& lines) {
    lines.clear();
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
    std::string text;
    char buffer[8192];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.ends_with('\r')) line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return true;
}

struct Place {
    size_t header = 0;
    std::optional<size_t> key;
    std::optional<size_t> lastKey;
};

std::optional<Place> find(const Lines& lines, const std::string& section, const std::string& key) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines[i]);
        if (!name || !sameName(*name, section)) continue;
        Place place;
        place.header = i;
        for (size_t j = i + 1; j < lines.size() && !sectionName(lines[j]); ++j) {
            const auto k = keyName(lines[j]);
            if (!k) continue;
            place.lastKey = j;
            if (!place.key && sameName(*k, key)) place.key = j;
        }
        return place;
    }
    return std::nullopt;
}

}  // namespace

std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    size_t /*size*/, const std::string& fileName) {
    std::string_view value = defaultValue;
    Lines lines;
    std::optional<Place> place;
    if (loadLines(fileName, lines)) place = find(lines, section, key);
    if (place && place->key) {
        const std::string_view line = lines[*place->key];
        value = trim(line.substr(line.find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
    try {
        Lines lines;
        // An unreadable file is not replaced: its content would be lost.
        if (!loadLines(fileName, lines)) return false;
        const auto place = find(lines, section, key);
        if (!place) {
            lines.push_back("[" + std::string(trim(section)) + "]");
            lines.push_back(std::string(trim(key)) + "=" + value);
        } else if (place->key) {
            lines[*place->key] = std::string(*keyName(lines[*place->key])) + "=" + value;
        } else {
            // After the last key, so blank lines and comments ahead of the next section stay there.
            const size_t at = place->lastKey ? *place->lastKey + 1 : place->header + 1;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::string(trim(key)) + "=" + value);
        }
        std::string content;
        for (const auto& line : lines) content += line + "\r\n";
        FileSystem().WriteFileAtomically(fileName, content);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace jor
