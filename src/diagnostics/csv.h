// The CSV rules the journal and the disc protocols share: separator, quoting, the formula guard.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

// One field as a German spreadsheet reads it without shifting a column:
// quoted where it holds ";" or '"' or begins or ends with a blank (quotes
// doubled), and led by "'" where it would start like a formula. The text
// must already be free of control characters (escapeControls).
std::string csvField(std::string_view text);
// The field's text again, without the formula guard.
std::string csvText(std::string_view field);

// The fields of one line, unquoted; nullopt for a line that breaks the
// quoting (an open quote, text after a closing one, a quote in an unquoted field).
std::optional<std::vector<std::string>> csvFields(std::string_view line);

// Calls `line` for each line of `text` (ended by LF or CR LF); what follows
// the last line end is left in `text` for the next chunk.
template <typename Line>
void takeLines(std::string& text, const Line& line) {
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string_view one = std::string_view(text).substr(start, end - start);
        if (!one.empty() && one.back() == '\r') one.remove_suffix(1);
        line(one);
    }
    text.erase(0, start);
}

}  // namespace jor
