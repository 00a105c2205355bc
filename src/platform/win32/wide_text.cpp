// UTF-8 and UTF-16, and the \\?\ form of a path.
#include "platform/win32/wide_text.h"

#include "platform/win32/long_path.h"

#include <vector>

namespace jor {

namespace {

// One UTF-8 sequence at the start of `utf8` appended to `out` as UTF-16;
// its length, or 0 when it is none.
size_t appendCharacter(std::string_view utf8, std::wstring& out) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[k]); };
    const unsigned char lead = byte(0);
    size_t length;
    char32_t c;
    if (lead < 0x80) {
        length = 1;
        c = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (length > utf8.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(k) & 0x3F);
    }
    // Overlong forms and values past U+10FFFF name nothing.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF))) return 0;
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(c));
    }
    return length;
}

}  // namespace

std::optional<std::wstring> wideFromUtf8(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t length = appendCharacter(utf8.substr(i), out);
        if (length == 0) return std::nullopt;
        i += length;
    }
    return out;
}

std::wstring wideText(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t length = appendCharacter(utf8.substr(i), out);
        if (length == 0) out.push_back(L'\xFFFD');
        i += length ? length : 1;
    }
    return out;
}

std::string utf8FromWide(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
            const char32_t low = static_cast<char16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

namespace {

// "C:\a\\b/c" -> "\\?\C:\a\b\c"; nullopt where the long form would change
// the meaning (relative paths, "." and ".." parts, already prefixed paths).
std::optional<std::wstring> longForm(const std::wstring& path) {
    std::wstring head;
    size_t rest;
    if (isFullDrivePath(path)) {
        head = std::wstring(LongPathPrefix) + path.substr(0, 2);
        rest = 2;
    } else if (isSharePath(path)) {
        head = LongSharePrefix.substr(0, LongSharePrefix.size() - 1);  // each part brings its separator
        rest = 1;
    } else {
        return std::nullopt;
    }
    std::vector<std::wstring> parts;
    size_t pos = rest;
    while (pos < path.size()) {
        while (pos < path.size() && isPathSeparator(path[pos])) ++pos;
        size_t end = pos;
        while (end < path.size() && !isPathSeparator(path[end])) ++end;
        if (end > pos) {
            std::wstring part = path.substr(pos, end - pos);
            if (part == L"." || part == L"..") return std::nullopt;
            parts.push_back(std::move(part));
        }
        pos = end;
    }
    std::wstring out = head;
    for (const auto& part : parts) out += L"\\" + part;
    // "file.txt\" names no file, in either form.
    if (parts.empty() || isPathSeparator(path.back())) out += L"\\";
    return out;
}

}  // namespace

std::optional<std::wstring> systemPath(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
    auto wide = wideFromUtf8(path);
    if (!wide) return std::nullopt;
    if (auto longPath = longForm(*wide)) return longPath;
    return wide;
}

}  // namespace jor
