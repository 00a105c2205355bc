// The payload extractor and the chunked scanner on any bytes: the same payload, found where a 0x00 begins.
#include "migration/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

// abort() rather than assert(): the check must hold in release builds too.
void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The chunk sizes come from the input itself, so every input is replayed
// with the same cuts: mostly around the marker's length, now and then long.
std::optional<jor::PayloadSlice> scanInChunks(std::string_view input) {
    uint64_t state = 0xcbf29ce484222325ull;
    for (const char c : input) state = (state ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    jor::PayloadScanner scanner;
    size_t at = 0;
    while (at < input.size() && !scanner.done()) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t r = state >> 33;
        const size_t size = r % 8 == 0 ? 1 + r % 4096 : 1 + r % 25;
        scanner.feed(input.substr(at, size));
        at += size;
    }
    return scanner.payload();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string result = jor::ExtractPayload(input);
    const std::optional<jor::PayloadSlice> slice = scanInChunks(input);
    require(slice.has_value() == (result != "ERROR"), "the scanner and ExtractPayload disagree on ERROR");
    if (slice) require(input.substr(slice->offset, slice->length) == result, "the scanner's slice differs");

    const size_t start = input.find('\0');
    const bool extractable =
        start != std::string_view::npos && input.find(jor::TrailerMarker, start) != std::string_view::npos;

    if (result == "ERROR") {
        require(!extractable, "ERROR although a 0x00 byte with a marker after it exists");
        return 0;
    }
    require(extractable, "a payload although there is no 0x00 byte with a marker after it");
    require(!result.empty() && result.front() == '\0', "payload does not start with 0x00");
    require(input.substr(start, result.size()) == result, "payload is not the input from its first 0x00 on");
    require(result.find(jor::TrailerMarker) == std::string::npos, "payload holds a marker");
    require(input.substr(start + result.size()).starts_with(jor::TrailerMarker),
            "payload does not end where a marker begins");
    return 0;
}
