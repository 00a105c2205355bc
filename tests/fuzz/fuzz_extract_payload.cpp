#include "migration/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// abort() rather than assert(): the check must hold in release builds too.
void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string result = jor::ExtractPayload(input);

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
