// Both DICOM readers on any bytes, whole and in pieces the input chooses: the same outcome either way.
#include "migration/dicom_reader.h"
#include "migration/dicomdir.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Mostly a few bytes a piece, now and then some KiB: the same cuts for the same input.
template <class Reader>
void feed(Reader& reader, std::string_view input, bool whole) {
    uint64_t state = input.size();
    for (size_t at = 0, size = 0; at < input.size(); at += size) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        size = whole ? input.size() : (state >> 33) % 8 == 0 ? 1 + (state >> 40) % 4096 : 1 + (state >> 40) % 13;
        reader.feed(input.substr(at, size));
    }
}

std::string records(std::string_view input, bool whole) {
    std::string seen;
    jor::DicomDirReader reader([&](jor::DicomDirRecord&& r) {
        for (const std::string& part : r.fileId) seen += part + '/';
        seen += r.sopInstanceUid + '\n';
    });
    feed(reader, input, whole);
    return seen + reader.finish().value_or("read whole");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const jor::DicomVerdict whole = jor::readDicom(input);
    jor::DicomReader reader;
    feed(reader, input, false);
    const jor::DicomVerdict pieces = reader.finish();
    require(whole.isDicom == whole.reason.empty(), "a verdict without a reason, or a reason for DICOM");
    require(pieces.reason == whole.reason && pieces.attributes == whole.attributes, "read otherwise in pieces");
    require(records(input, true) == records(input, false), "the DICOMDIR read otherwise in pieces");
    return 0;
}
