// The CSV rules the journal and the disc protocols share.
#include "diagnostics/csv.h"

namespace jor {
namespace {

// A spreadsheet runs a cell that starts like a formula; a disc's label or a
// patient's name could start so. The apostrophe makes it text.
bool formulaLike(std::string_view text) {
    return !text.empty() && std::string_view("=+-@").find(text[0]) != std::string_view::npos;
}

}  // namespace

std::string csvField(std::string_view text) {
    std::string field = formulaLike(text) ? "'" + std::string(text) : std::string(text);
    const bool plain = field.find_first_of(";\"") == std::string::npos &&
                       (field.empty() || (field.front() != ' ' && field.back() != ' '));
    if (plain) return field;
    std::string out = "\"";
    for (const char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + '"';
}

std::string csvText(std::string_view field) {
    const bool guarded = field.size() > 1 && field[0] == '\'' && formulaLike(field.substr(1));
    return std::string(guarded ? field.substr(1) : field);
}

std::optional<std::vector<std::string>> csvFields(std::string_view line) {
    std::vector<std::string> fields;
    size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return std::nullopt;
                if (line[i] != '"') {
                    field.push_back(line[i]);
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            if (i < line.size() && line[i] != ';') return std::nullopt;
        } else {
            const size_t end = std::min(line.find(';', i), line.size());
            field = line.substr(i, end - i);
            if (field.find('"') != std::string::npos) return std::nullopt;
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= line.size()) return fields;
        ++i;
    }
}

}  // namespace jor
