// dicom_attributes: what the DICOM readers read of files, as JSON lines.
//
// Prints what the DICOM readers read of files, one JSON line each, fed in chunks
// of a chosen size: for comparing them with other readers.
//   dicom_attributes [--chunk N] [--dicomdir] FILE...
#include "migration/dicom_reader.h"
#include "migration/dicomdir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (uint8_t(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// Feeds the file in `chunk`-sized pieces until `done` says enough; false if it cannot be read.
bool feedFile(const char* path, size_t chunk, const std::function<void(std::string_view)>& feed,
              const std::function<bool()>& done) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> block(1 << 20);
    while (!done() && in) {
        in.read(block.data(), std::streamsize(block.size()));
        const std::string_view bytes(block.data(), size_t(in.gcount()));
        for (size_t at = 0; at < bytes.size() && !done(); at += chunk) feed(bytes.substr(at, chunk));
    }
    return in.eof();
}

void printAttributes(const char* path, size_t chunk) {
    jor::DicomReader reader;
    if (!feedFile(path, chunk, [&](std::string_view b) { reader.feed(b); }, [&] { return reader.done(); })) {
        std::printf("{\"file\": %s, \"unreadable\": true}\n", quoted(path).c_str());
        return;
    }
    const jor::DicomVerdict v = reader.finish();
    const jor::DicomAttributes& a = v.attributes;
    const std::pair<const char*, const std::string*> fields[] = {
        {"transferSyntax", &a.transferSyntax},
        {"mediaStorageSopClassUid", &a.mediaStorageSopClassUid},
        {"mediaStorageSopInstanceUid", &a.mediaStorageSopInstanceUid},
        {"sopClassUid", &a.sopClassUid},
        {"sopInstanceUid", &a.sopInstanceUid},
        {"patientId", &a.patientId},
        {"patientName", &a.patientName},
        {"patientBirthDate", &a.patientBirthDate},
        {"studyInstanceUid", &a.studyInstanceUid},
        {"studyDate", &a.studyDate},
        {"studyDescription", &a.studyDescription},
        {"accessionNumber", &a.accessionNumber},
        {"seriesInstanceUid", &a.seriesInstanceUid},
        {"modality", &a.modality},
    };
    std::string line = "{\"file\": " + quoted(path) + ", \"isDicom\": " + (v.isDicom ? "true" : "false") +
                       ", \"reason\": " + quoted(v.reason);
    for (const auto& [name, value] : fields) line += ", \"" + std::string(name) + "\": " + quoted(*value);
    std::printf("%s}\n", line.c_str());
}

void printRecords(const char* path, size_t chunk) {
    jor::DicomDirReader reader([&](jor::DicomDirRecord&& r) {
        std::string parts;
        for (const std::string& p : r.fileId) parts += (parts.empty() ? "" : ", ") + quoted(p);
        std::printf("{\"file\": %s, \"fileId\": [%s], \"sopInstanceUid\": %s}\n", quoted(path).c_str(),
                    parts.c_str(), quoted(r.sopInstanceUid).c_str());
    });
    if (!feedFile(path, chunk, [&](std::string_view b) { reader.feed(b); }, [] { return false; })) {
        std::printf("{\"file\": %s, \"unreadable\": true}\n", quoted(path).c_str());
        return;
    }
    const std::optional<std::string> failure = reader.finish();
    std::printf("{\"file\": %s, \"end\": %s}\n", quoted(path).c_str(),
                failure ? quoted(*failure).c_str() : "null");
}

}  // namespace

int main(int argc, char** argv) {
    size_t chunk = 1 << 20;
    bool dicomdir = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string_view option = argv[i];
        if (option == "--chunk" && i + 1 < argc) {
            chunk = std::strtoul(argv[++i], nullptr, 10);
        } else if (option == "--dicomdir") {
            dicomdir = true;
        } else {
            std::fprintf(stderr, "usage: %s [--chunk N] [--dicomdir] FILE...\n", argv[0]);
            return 2;
        }
    }
    if (chunk == 0) chunk = 1;
    for (; i < argc; ++i) dicomdir ? printRecords(argv[i], chunk) : printAttributes(argv[i], chunk);
    return 0;
}
