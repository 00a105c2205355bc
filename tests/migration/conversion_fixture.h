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

}  // namespace jor::test
