// A decompressor's exit code and complaints read as gzip writes them.
#include "migration/decompressor_outcome.h"

#include "platform/error.h"

namespace jor {
namespace {

std::string_view lastLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    const size_t start = text.find_last_of('\n');
    return start == std::string_view::npos ? text : text.substr(start + 1);
}

std::optional<int32_t> classicNumberOf(std::string_view reason) {
    static constexpr struct {
        std::string_view text;
        int32_t number;
    } known[] = {
        {"No space left on device", err::DiskFull},
        {"Disk quota exceeded", err::DiskFull},
        {"File too large", err::DiskFull},
        {"Permission denied", err::PermissionDenied},
        {"Read-only file system", err::PermissionDenied},
        {"Input/output error", err::DeviceIo},
        {"No such file or directory", err::FileNotFound},
        {"Cannot allocate memory", err::OutOfMemory},
    };
    for (const auto& k : known) {
        if (!reason.ends_with(k.text)) continue;
        const std::string_view before = reason.substr(0, reason.size() - k.text.size());
        if (before.empty() || before.ends_with(": ")) return k.number;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DecompressorFailure> decompressorOutcome(int exitCode, std::string_view errorOutput,
                                                       std::string_view objectName) {
    if (exitCode == 0 || exitCode == 2 || exitCode == -1) return std::nullopt;
    const std::string_view reason = lastLine(errorOutput);
    if (const auto number = classicNumberOf(reason)) return DecompressorFailure{*number, describeError(*number)};
    const std::string why =
        reason.empty() ? "gunzip.exe ended with code " + std::to_string(exitCode) + "." : std::string(reason);
    return DecompressorFailure{err::Own, "File " + std::string(objectName) + " could not be decompressed: " + why};
}

}  // namespace jor
