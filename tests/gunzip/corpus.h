// The corpus gunzip.exe is compared with gzip on, made by the host's gzip and compress or by hand, and what each platform compares.
#pragma once
#include <zlib.h>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jor::test {

// `content` through `command` (gzip or compress writing to its standard
// output) on the host.
std::string through(const std::string& command, const std::string& content);

inline std::string gz(const std::string& content) { return through("gzip -n -c", content); }
inline std::string lzw(const std::string& content, int bits = 16) {
    return through("compress -c -b " + std::to_string(bits), content);
}

// Words, so that it compresses; then noise, which makes compress clear its
// full table when the ratio drops; then words again.
inline std::string text(size_t size, unsigned seed) {
    std::string s;
    while (s.size() < size) {
        seed = seed * 1103515245 + 12345;
        s += "w" + std::to_string((seed >> 16) % 3000) + (seed % 7 == 0 ? "\n" : " ");
    }
    return s.substr(0, size);
}
inline std::string noise(size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 23);
    return s;
}
inline std::string mixed() { return text(700000, 1) + noise(300000, 7) + text(500000, 2) + std::string(100000, 'z'); }

// One gzip member with the header fields given, its deflate data from zlib.
inline std::string member(const std::string& content, unsigned flags = 0, const std::string& fields = "",
                          bool goodHeaderCrc = true, const std::string& magic = "\x1f\x8b\x08") {
    using namespace std::string_literals;
    std::string out(compressBound(static_cast<uLong>(content.size())) + 64, '\0');
    z_stream z = {};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    std::string header = magic + static_cast<char>(flags) + "\0\0\0\0\0\3"s + fields;
    if (flags & 0x02) {
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size())) ^
                         (goodHeaderCrc ? 0 : 1);
        header += {static_cast<char>(crc & 0xff), static_cast<char>((crc >> 8) & 0xff)};
    }
    const auto le32 = [](uLong v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    return header + out + le32(crc) + le32(content.size());
}

inline std::string flipped(std::string s, size_t at, unsigned char mask = 0x55) {
    s.at(at) = static_cast<char>(s.at(at) ^ mask);
    return s;
}
inline std::string cut(const std::string& s, size_t keep) { return s.substr(0, keep); }

struct Case {
    std::string name;
    std::string object;  // written as `file`, unless `file` is empty
    std::string file = "IMG.dcm.z";
    std::function<void(const std::string& folder)> prepare = {};
    std::vector<std::string> options = {"-d", "-f"};
    std::string operand = {};  // relative to the folder; `file` when empty
    mode_t mode = 0644;
    // gzip 1.12 exits with 1 here but has already removed the input and
    // keeps a worthless output; ours leaves the folder as it was.
    bool gzipLosesTheInput = false;
    bool verbatim = false;  // the operand in the \\?\ form, as the program hands it over (Windows)
};

// Each platform's own (linux/ or win32/test_gunzip.cpp): the cases only it
// has, what it compares of a folder, and how both programs are run there.
std::vector<Case> platformCases(const std::string& valid);
std::string describe(const std::string& folder, int exitStatus);  // one line per entry, and the exit status
void settle(const std::string& folder);                           // after a case's folder is prepared
int gzipOnHost(const std::vector<std::string>& options, const std::string& path);
int ours(const Case& c, const std::string& path);

}  // namespace jor::test
