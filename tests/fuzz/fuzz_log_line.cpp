// The log-line writer with texts full of control bytes, as names on a
// hostile disc are: every call must leave exactly one line in each log.
#include "diagnostics/logs.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// One folder per process, on tmpfs where there is one.
struct Folder {
    std::filesystem::path dir;
    Folder() {
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        pattern += "/jor_fuzz_log_XXXXXX";
        require(::mkdtemp(pattern.data()) != nullptr, "cannot create a temporary folder");
        dir = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The oracle's own escaping, written apart from the logger's on purpose.
std::string visible(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// Exactly one line, ending in CR LF, and no other control byte in it.
void requireOneLine(const std::string& text, const char* what) {
    require(text.size() >= 2 && text.ends_with("\r\n"), what);
    for (size_t i = 0; i + 2 < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        require(byte >= 0x20 && byte != 0x7F, what);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Folder folder;
    if (size < 3) return 0;
    // The first bytes cut the rest into description, procedure and file name.
    const std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const size_t first = data[0] % (rest.size() + 1);
    const size_t second = first + data[1] % (rest.size() - first + 1);
    const std::string description(rest.substr(0, first));
    const std::string procedure(rest.substr(first, second - first));
    const std::string fileName(rest.substr(second));
    const int32_t debug = data[2] % 3;
    const int32_t number = static_cast<int8_t>(data[2]);

    const auto logsFolder = folder.dir / "Logs";
    std::error_code ignored;
    std::filesystem::remove_all(logsFolder, ignored);
    const jor::Logs logs(
        folder.dir.string(), [debug] { return debug; }, [] { return std::string("24.03.2008 14:05:09"); });

    logs.LogError(number, description, procedure, fileName);
    const std::string fileField = fileName.empty() ? "" : " - " + visible(fileName);
    const std::string error = readWhole(logsFolder / "Error.txt");
    requireOneLine(error, "the error log does not hold exactly one line");
    require(error == "24.03.2008 14:05:09 - " + std::to_string(number) + " - " + visible(description) + " - " +
                         visible(procedure) + fileField + "\r\n",
            "the error line is not its fields with their control bytes escaped");
    const bool echoed = std::filesystem::exists(logsFolder / "DebugOrvek.log");
    require(echoed == (debug == 1), "echoed unless ticked, or not echoed when ticked");
    if (echoed) {
        const std::string echo = readWhole(logsFolder / "DebugOrvek.log");
        requireOneLine(echo, "the echo is not exactly one line");
        require(echo == "24.03.2008 14:05:09 - ERROR: " + std::to_string(number) + " - " + visible(description) +
                            fileField + "\r\n",
                "the echo is not its fields with their control bytes escaped");
    }

    std::filesystem::remove_all(logsFolder, ignored);
    logs.LogDebug(fileName + " is migrated.");
    const std::string line = readWhole(logsFolder / "DebugOrvek.log");
    requireOneLine(line, "the debug log does not hold exactly one line");
    require(line == "24.03.2008 14:05:09 - " + visible(fileName) + " is migrated.\r\n",
            "the debug line is not its text with its control bytes escaped");
    return 0;
}
