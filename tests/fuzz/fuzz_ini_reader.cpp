// The INI reader and writer on any file: values read whole at every size, a write changes its key alone.
#include "platform/private_profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Pair {
    std::string section;
    std::string key;
};

// Names the program itself reads and writes, one of them in other letter case and blanks.
const std::vector<Pair> fixedPairs = {
    {"Temp", "TempPath"},    {"Path", "SourcePath"}, {"Path", "DestinationPath"},
    {"Debug", "DebugValue"}, {" pacs\t", "Pacs "},   {"", ""},
};
const std::string defaultValue = "default value";

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// One folder per process, so parallel fuzzer jobs do not share files. tmpfs
// where there is one: ext4 flushes a file renamed over another one, which
// cut the rate to a few hundred runs a second.
struct Files {
    std::filesystem::path dir;
    std::string original;
    std::string copy;
    Files() {
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        pattern += "/jor_fuzz_ini_XXXXXX";
        require(::mkdtemp(pattern.data()) != nullptr, "cannot create a temporary folder");
        dir = pattern;
        original = (dir / "read.ini").string();
        copy = (dir / "write.ini").string();
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

void writeFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    require(static_cast<bool>(out), "cannot write the temporary INI file");
}

// The oracle's own name rules, written apart from the reader on purpose: a
// shared helper would share its faults too.
std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
    a = trim(a);
    b = trim(b);
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool samePair(const Pair& a, const Pair& b) { return sameName(a.section, b.section) && sameName(a.key, b.key); }

// The first "[name]" of the input and the name before "=" on the line after
// it: far more likely to exist in the file than random names.
std::optional<Pair> pairFrom(std::string_view in) {
    const size_t open = in.find('[');
    if (open == std::string_view::npos) return std::nullopt;
    size_t end = in.find_first_of("\r\n", open);
    if (end == std::string_view::npos) end = in.size();
    std::string_view header = in.substr(open + 1, end - open - 1);
    header = header.substr(0, header.rfind(']'));
    const size_t next = in.find_first_not_of("\r\n", end);
    std::string_view line = next == std::string_view::npos ? std::string_view{} : in.substr(next);
    line = line.substr(0, line.find_first_of("\r\n"));
    return Pair{std::string(header), std::string(line.substr(0, line.find('=')))};
}

// Names a written line can be found by again: a key line must not read as a
// comment, a section or a key with another name.
bool writable(const Pair& p) {
    const std::string_view key = trim(p.key);
    return p.section.find_first_of("\r\n") == std::string::npos && p.key.find_first_of("\r\n=") == std::string::npos &&
           !key.starts_with(';') && !key.starts_with('[');
}

// A value that comes back unchanged: no line end, no quotes, no outer blanks.
// Long enough to pass the first buffers of a read.
std::string valueFrom(std::string_view in) {
    std::string value;
    for (const char c : in.substr(in.size() > 600 ? in.size() - 600 : 0))
        if (c != '\r' && c != '\n' && c != '"' && c != '\'') value += c;
    return std::string(trim(value));
}

std::string readWhole(const Pair& p, const std::string& file) {
    return jor::getPrivateProfileString(p.section, p.key, defaultValue, SIZE_MAX, file);
}

// The size is where the read starts, never a limit: every size gives the whole value.
std::string readChecked(const Pair& p, const std::string& file) {
    const std::string whole = readWhole(p, file);
    for (const size_t size : {size_t{0}, size_t{1}, size_t{2}, size_t{256}})
        require(jor::getPrivateProfileString(p.section, p.key, defaultValue, size, file) == whole,
                "a small size gives less than the whole value");
    return whole;
}

void writeChecked(const Pair& p, const std::string& value, const std::vector<Pair>& others, const std::string& file) {
    std::vector<std::string> before;
    for (const auto& other : others) before.push_back(readWhole(other, file));
    require(jor::writePrivateProfileString(p.section, p.key, value, file), "write failed");
    require(readChecked(p, file) == value, "written value does not read back");
    for (size_t i = 0; i < others.size(); ++i)
        if (!samePair(others[i], p)) require(readWhole(others[i], file) == before[i], "write changed another key");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Files files;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    writeFile(files.original, input);

    std::vector<Pair> pairs = fixedPairs;
    if (auto drawn = pairFrom(input)) pairs.push_back(std::move(*drawn));
    for (const auto& p : pairs) readChecked(p, files.original);

    writeFile(files.copy, input);
    if (writable(pairs.back())) writeChecked(pairs.back(), valueFrom(input), pairs, files.copy);
    writeChecked(fixedPairs[size % fixedPairs.size()], "/media/cdrom 1", pairs, files.copy);
    return 0;
}
