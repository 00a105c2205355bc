// DicomReader: which top-level attributes are kept, and their values as UTF-8 text.
#include "migration/dicom_reader.h"

#include "migration/dicom_stream.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace jor {
namespace {

using dicom::tagOf;

// How a value's bytes become text, as pydicom makes them.
enum class Kind {
    Plain,  // UI, CS, DA: the whole value without trailing padding
    Name,   // PN: the same, decoded by the character set
    Text,   // LO, SH: each value of several without its trailing padding, decoded
};

struct Wanted {
    uint32_t tag;
    std::string DicomAttributes::*field;
    Kind kind;
};

constexpr std::array<Wanted, 13> WantedAttributes{{
    {tagOf(0x0002, 0x0002), &DicomAttributes::mediaStorageSopClassUid, Kind::Plain},
    {tagOf(0x0002, 0x0003), &DicomAttributes::mediaStorageSopInstanceUid, Kind::Plain},
    {tagOf(0x0008, 0x0016), &DicomAttributes::sopClassUid, Kind::Plain},
    {tagOf(0x0008, 0x0018), &DicomAttributes::sopInstanceUid, Kind::Plain},
    {tagOf(0x0008, 0x0020), &DicomAttributes::studyDate, Kind::Plain},
    {tagOf(0x0008, 0x0050), &DicomAttributes::accessionNumber, Kind::Text},
    {tagOf(0x0008, 0x0060), &DicomAttributes::modality, Kind::Plain},
    {tagOf(0x0008, 0x1030), &DicomAttributes::studyDescription, Kind::Text},
    {tagOf(0x0010, 0x0010), &DicomAttributes::patientName, Kind::Name},
    {tagOf(0x0010, 0x0020), &DicomAttributes::patientId, Kind::Text},
    {tagOf(0x0010, 0x0030), &DicomAttributes::patientBirthDate, Kind::Plain},
    {tagOf(0x0020, 0x000D), &DicomAttributes::studyInstanceUid, Kind::Plain},
    {tagOf(0x0020, 0x000E), &DicomAttributes::seriesInstanceUid, Kind::Plain},
}};
constexpr uint32_t CharacterSetTag = tagOf(0x0008, 0x0005);
// Every attribute wanted lies before this one; the pixel data far after it.
constexpr uint32_t LastWanted = tagOf(0x0020, 0x000E);

// The repertoires read; any other keeps its bytes beyond ASCII as \xNN.
enum class Repertoire { Latin1, Latin2, Cyrillic, Utf8, Unknown };

struct CharacterSet {
    Repertoire initial = Repertoire::Latin1;
    bool extensions = false;  // ISO 2022: escape sequences switch the repertoire
};

// ISO 8859-2 from 0xA0 on.
constexpr std::array<uint16_t, 96> Latin2{{
    0x00A0, 0x0104, 0x02D8, 0x0141, 0x00A4, 0x013D, 0x015A, 0x00A7, 0x00A8, 0x0160, 0x015E, 0x0164,
    0x0179, 0x00AD, 0x017D, 0x017B, 0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7,
    0x00B8, 0x0161, 0x015F, 0x0165, 0x017A, 0x02DD, 0x017E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102,
    0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170,
    0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3,
    0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
}};

uint32_t cyrillic(uint8_t b) {  // ISO 8859-5
    if (b < 0xA1 || b == 0xAD) return b;
    if (b == 0xF0) return 0x2116;
    if (b == 0xFD) return 0x00A7;
    return 0x0400 + (b - 0xA0);
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void appendEscaped(std::string& out, uint8_t b) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", b);
    out += text;
}

// The length of the well-formed UTF-8 sequence at the start of `s`, 0 if there is none.
size_t utf8Length(std::string_view s) {
    const auto byte = [&](size_t i) { return uint8_t(s[i]); };
    const uint8_t lead = byte(0);
    const size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    // No overlong forms, surrogates or code points past U+10FFFF.
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) || (lead == 0xF0 && byte(1) < 0x90) ||
        (lead == 0xF4 && byte(1) > 0x8F))
        return 0;
    return n;
}

Repertoire repertoireOf(std::string_view term, bool extension) {
    if (extension) {
        if (term.empty() || term == "ISO 2022 IR 6" || term == "ISO 2022 IR 100") return Repertoire::Latin1;
        if (term == "ISO 2022 IR 101") return Repertoire::Latin2;
        if (term == "ISO 2022 IR 144") return Repertoire::Cyrillic;
        return Repertoire::Unknown;
    }
    // Bytes beyond the default repertoire are read as Latin-1, as pydicom reads them.
    if (term.empty() || term == "ISO_IR 6" || term == "ISO_IR 100") return Repertoire::Latin1;
    if (term == "ISO_IR 101") return Repertoire::Latin2;
    if (term == "ISO_IR 144") return Repertoire::Cyrillic;
    if (term == "ISO_IR 192") return Repertoire::Utf8;
    return Repertoire::Unknown;
}

CharacterSet characterSetOf(std::string_view value) {
    value = dicom::trimmed(value, true);
    CharacterSet set;
    set.extensions = value.find('\\') != std::string_view::npos || value.starts_with("ISO 2022");
    bool first = true;
    for (size_t from = 0; from <= value.size();) {
        const size_t to = std::min(value.find('\\', from), value.size());
        const Repertoire r = repertoireOf(dicom::trimmed(value.substr(from, to - from), true), set.extensions);
        if (first) set.initial = r;
        if (r == Repertoire::Unknown) set.initial = r;
        first = false;
        from = to + 1;
    }
    return set;
}

std::string decoded(std::string_view bytes, const CharacterSet& set, bool name) {
    std::string out;
    out.reserve(bytes.size());
    Repertoire current = set.initial;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t b = uint8_t(bytes[i]);
        if (set.extensions && set.initial != Repertoire::Unknown) {
            if (b == 0x1B && i + 2 < bytes.size()) {
                const std::string_view escape = bytes.substr(i + 1, 2);
                const Repertoire next = escape == "(B"   ? current
                                        : escape == "-A" ? Repertoire::Latin1
                                        : escape == "-B" ? Repertoire::Latin2
                                        : escape == "-L" ? Repertoire::Cyrillic
                                                         : Repertoire::Unknown;
                if (next != Repertoire::Unknown) {
                    current = next;
                    i += 2;
                    continue;
                }
                current = Repertoire::Unknown;
            }
            // The repertoire starts anew with each value, and in a name with each component.
            if (b == '\\' || (name && (b == '^' || b == '='))) current = set.initial;
        }
        if (current == Repertoire::Utf8) {
            const size_t n = utf8Length(bytes.substr(i));
            if (n == 0) {
                appendEscaped(out, b);
            } else {
                out.append(bytes.substr(i, n));
                i += n - 1;
            }
            continue;
        }
        if (b < 0x80) {
            out += char(b);
            continue;
        }
        switch (current) {
        case Repertoire::Latin1: appendUtf8(out, b); break;
        case Repertoire::Latin2: appendUtf8(out, b < 0xA0 ? b : Latin2[b - 0xA0]); break;
        case Repertoire::Cyrillic: appendUtf8(out, cyrillic(b)); break;
        default: appendEscaped(out, b); break;
        }
    }
    return out;
}

std::string textOf(std::string_view raw, Kind kind, const CharacterSet& set) {
    if (kind == Kind::Plain) return decoded(dicom::trimmed(raw), CharacterSet{}, false);
    if (kind == Kind::Name) raw = dicom::trimmed(raw);
    std::string text;
    for (size_t from = 0; from <= raw.size();) {
        const size_t to = std::min(raw.find('\\', from), raw.size());
        if (from > 0) text += '\\';
        std::string part = decoded(raw.substr(from, to - from), set, kind == Kind::Name);
        // Empty component groups at a name's end say nothing.
        if (kind == Kind::Name) part.erase(part.find_last_not_of('=') + 1);
        text += kind == Kind::Name ? part : dicom::trimmed(part);
        from = to + 1;
    }
    return text;
}

}  // namespace

struct DicomReader::State final : dicom::ElementSink {
    dicom::ElementStream stream{*this};
    std::array<std::string, WantedAttributes.size()> raw;
    std::string characterSet;

    dicom::Action element(uint32_t tag, uint16_t, uint32_t, size_t depth) override {
        if (depth > 0) return dicom::Action::Skip;
        if (tag > LastWanted) return dicom::Action::Stop;
        if (tag == CharacterSetTag) return dicom::Action::Keep;
        for (const Wanted& w : WantedAttributes)
            if (w.tag == tag) return dicom::Action::Keep;
        return dicom::Action::Skip;
    }

    void value(uint32_t tag, std::string_view bytes) override {
        if (tag == CharacterSetTag) characterSet = bytes;
        for (size_t i = 0; i < WantedAttributes.size(); ++i)
            if (WantedAttributes[i].tag == tag) raw[i] = bytes;
    }
};

DicomReader::DicomReader() : state_(std::make_unique<State>()) {}
DicomReader::~DicomReader() = default;
DicomReader::DicomReader(DicomReader&&) noexcept = default;
DicomReader& DicomReader::operator=(DicomReader&&) noexcept = default;

void DicomReader::feed(std::string_view bytes) noexcept { state_->stream.feed(bytes); }

bool DicomReader::done() const noexcept { return state_->stream.over(); }

DicomVerdict DicomReader::finish() noexcept {
    DicomVerdict verdict;
    verdict.reason = state_->stream.finish();
    verdict.isDicom = verdict.reason.empty();
    if (!verdict.isDicom) return verdict;
    const CharacterSet set = characterSetOf(state_->characterSet);
    verdict.attributes.transferSyntax = state_->stream.transferSyntax();
    for (size_t i = 0; i < WantedAttributes.size(); ++i)
        verdict.attributes.*WantedAttributes[i].field = textOf(state_->raw[i], WantedAttributes[i].kind, set);
    return verdict;
}

DicomVerdict readDicom(std::string_view bytes) noexcept {
    DicomReader reader;
    reader.feed(bytes);
    return reader.finish();
}

}  // namespace jor
