// Packed archive objects as a run meets them, and the decompressor that never ends.
#pragma once

#include "migration/migration_fixture.h"

#include <string>
#include <vector>

namespace jor::test {

inline const std::string Marker = "#*lastfile*#";

inline std::string payload(int seed) {
    std::string p(1, '\0');
    for (int i = 0; i < 3000; ++i) {
        const int byte = (i * 37 + seed) % 256;
        p.push_back(static_cast<char>(byte == '#' ? '$' : byte));  // no marker inside
    }
    return p;
}

// An archive object as the archive wrote it before packing.
inline std::string archived(const std::string& payload) {
    return "ARCHIVE HEADER v2 " + payload + Marker + "trailer" + Marker;
}

class Conversion : public MigrationFixture {
protected:
    Conversion() { w.pacs = "Arzt und Praxis"; }
    void object(const std::string& relative, const std::string& bytes) { writeFile(src + "/" + relative, bytes); }
    std::vector<std::string> linesContaining(const std::vector<std::string>& lines, const std::string& part) const {
        std::vector<std::string> out;
        for (const auto& l : lines)
            if (l.find(part) != std::string::npos) out.push_back(l);
        return out;
    }
};

// A decompressor that never ends, made and seen ended the platform's way
// (linux/ or win32/decompressor_faults.cpp).
class HangingDecompressorFixture : public Conversion {
protected:
    const std::string hangingPid = pathUnder(prog, "decompressor.pid");
    void useHangingDecompressor();
    bool hangingDecompressorRuns() const { return exists(hangingPid) && !readFile(hangingPid).empty(); }
    // Fails for each of its processes still there, and ends them.
    void expectHangingDecompressorEnded();
};

}  // namespace jor::test
