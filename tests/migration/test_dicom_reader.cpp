// The DICOM and DICOMDIR readers on hand-built files: what pydicom reads, huge values, looping records.
#include "migration/dicom_reader.h"
#include "migration/dicomdir.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace jor {
namespace {

using namespace std::string_literals;

struct Enc {
    bool explicitVr = true, little = true;
};
constexpr Enc Implicit{false}, BigEndian{true, false};
constexpr uint32_t Undefined = 0xFFFFFFFF;

std::string number(uint32_t v, int bytes, bool little) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += char(v >> 8 * (little ? i : bytes - 1 - i));
    return out;
}
std::string el(uint32_t tag, std::string_view vr, const std::string& value, Enc e = {}, uint32_t length = 0) {
    length = length ? length : uint32_t(value.size());
    const std::string out = number(tag >> 16, 2, e.little) + number(tag & 0xFFFF, 2, e.little);
    if (tag >> 16 == 0xFFFE || !e.explicitVr) return out + number(length, 4, e.little) + value;
    const bool wide = vr == "SQ" || vr == "OB" || vr == "UN" || vr == "UT";
    return out + std::string(vr) + (wide ? "\0\0"s + number(length, 4, e.little) : number(length, 2, e.little)) + value;
}
const std::string SequenceOpen = el(0x00091010, "SQ", "", {}, Undefined);
const std::string ItemOpen = el(0xFFFEE000, "", "", {}, Undefined), ItemEnd = el(0xFFFEE00D, "", "");
const std::string SequenceEnd = el(0xFFFEE0DD, "", "");
std::string item(const std::string& content) { return ItemOpen + content + ItemEnd; }
std::string patient(const std::string& name, Enc e = {}, const std::string& charset = "") {
    return (charset.empty() ? "" : el(0x00080005, "CS", charset, e)) + el(0x00080018, "UI", "1.2.3\0"s, e) +
           el(0x00100010, "PN", name, e) + el(0x00200010, "SH", "S1", e);
}
std::string file(const std::string& dataset, const std::string& syntax = "1.2.840.10008.1.2.1") {
    return std::string(128, '\0') + "DICM" + el(0x00020003, "UI", "1.2.3\0"s) + el(0x00020010, "UI", syntax) + dataset;
}
std::string rawDeflated(const std::string& bytes) {
    std::string out(compressBound(uLong(bytes.size())), '\0');
    uLongf size = out.size();
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    return out.substr(2, size - 6);  // without zlib's header and checksum
}
std::string repeated(const std::string& s, int n) { std::string out; while (n-- > 0) out += s; return out; }
std::string cut(size_t at) { return "bricht bei Byte " + std::to_string(at) + " ab"; }

TEST(DicomReader, ReadsWhatPydicomReadsAndRefusesTheRest) {
    const std::string good = file(patient("Doe^John "));
    const struct {
        const char* name;
        std::string bytes, result;  // the patient's name, or why it is no DICOM
        bool isDicom = true;
    } cases[] = {
        {"empty", "", "leere Datei", false},
        {"DICM alone", "DICM", "kein DICOM-Vorspann", false},
        {"preamble alone", file("").substr(0, 132), cut(132), false},
        {"cut in a header", good.substr(0, good.size() - 6), cut(good.size() - 6), false},
        {"cut in a value", good.substr(0, good.size() - 11), cut(good.size() - 11), false},
        {"undefined length on UT", file(el(0x00091000, "UT", "", {}, Undefined)),
         "Element (0009,1000) mit unmöglicher Länge", false},
        {"undefined length on a name", file(el(0x00100010, "", "", Implicit, Undefined), "1.2.840.10008.1.2"),
         "Element (0010,0010) mit unmöglicher Länge", false},
        {"item at the top", file(item("")), "Element (FFFE,E000) an unmöglicher Stelle", false},
        {"unclosed sequence", file(SequenceOpen + item("")), cut(file("").size() + 28), false},
        {"explicit little endian", good, "Doe^John"},
        {"big endian", file(patient("Big^Endian", BigEndian), "1.2.840.10008.1.2.2"), "Big^Endian"},
        {"deflated", file(rawDeflated(patient("De^Flated")), "1.2.840.10008.1.2.1.99"), "De^Flated"},
        {"ACR-NEMA, implicit", patient("Acr^Nema", Implicit), "Acr^Nema"},
        {"ACR-NEMA, explicit big endian", patient("Acr^Big", BigEndian), "Acr^Big"},
        {"no preamble, meta header", file(patient("No^Preamble")).substr(132), "No^Preamble"},
        {"nested and private before", file(SequenceOpen + item(el(0x00091011, "LO", "x")) + item("") + SequenceEnd +
                                           el(0x00091020, "UN", "\1\2") + patient("A^B")), "A^B"},
        {"10,000 levels deep", file(repeated(SequenceOpen + ItemOpen, 10000) + repeated(ItemEnd + SequenceEnd, 10000) +
                                    patient("Deep^Nesting")), "Deep^Nesting"},
        {"default repertoire read as Latin-1", file(patient("M\xFCller")), "Müller"},
        {"Latin-2", file(patient("\xA3\xF3" "d\xBC", {}, "ISO_IR 101")), "Łódź"},
        {"Cyrillic", file(patient("\xBC\xDE\xE1\xDA\xD2\xD0^", {}, "ISO_IR 144")), "Москва^"},
        {"UTF-8, a stray byte escaped", file(patient("Müller\xFF", {}, "ISO_IR 192")), "Müller\\xFF"},
        {"ISO 2022 IR 100", file(patient("\x1B-AM\xFCller=", {}, "\\ISO 2022 IR 100")), "Müller"},
        {"another character set", file(patient("\xD4\xCF=", {}, "ISO_IR 13")), "\\xD4\\xCF"},
    };
    for (const auto& c : cases) {
        const DicomVerdict whole = readDicom(c.bytes);
        EXPECT_EQ(whole.isDicom, c.isDicom) << c.name;
        EXPECT_EQ(c.isDicom ? whole.attributes.patientName : whole.reason, c.result) << c.name;
        EXPECT_EQ(whole.attributes.sopInstanceUid, c.isDicom ? "1.2.3" : "") << c.name;
        DicomReader bytewise;
        for (const char b : c.bytes) bytewise.feed(std::string_view(&b, 1));
        const DicomVerdict v = bytewise.finish();
        EXPECT_TRUE(v.reason == whole.reason && v.attributes == whole.attributes) << c.name;
    }
}

TEST(DicomReader, PassesAHugePrivateValueAndStopsAtThePixelData) {
    DicomReader reader;
    reader.feed(file(el(0x00091000, "OB", "", {}, 1u << 30)));
    const std::string zeros(1 << 20, '\0');
    for (int i = 0; i < 1024; ++i) reader.feed(zeros);
    reader.feed(patient("After^Gigabyte") + el(0x7FE00010, "OB", "", {}, 1000));
    EXPECT_TRUE(reader.done());
    reader.feed("never read");
    EXPECT_EQ(reader.finish().attributes.patientName, "After^Gigabyte");
}

TEST(DicomDirReader, HandsOnEachRecordOnceWhateverItsOffsets) {
    // Each record's offset of the next one points back at the first: read in file order, they make no loop.
    const auto records = [](bool defined) {
        std::string out;
        for (const char* id : {"IMG1", "IMG2", "IMG3"}) {
            const std::string r = el(0x00041400, "UL", number(400, 4, true)) +
                                  el(0x00041500, "CS", "DIR\\"s + id + " ") + el(0x00041511, "UI", id + ".9\0"s);
            out += defined ? el(0xFFFEE000, "", r) : item(r);
        }
        return out;
    };
    const std::string undefined = file(el(0x00041220, "SQ", "", {}, Undefined) + records(false) + SequenceEnd);
    for (const std::string& bytes : {undefined, file(el(0x00041220, "SQ", records(true)) + patient("x"))}) {
        std::vector<DicomDirRecord> got;
        DicomDirReader reader([&](DicomDirRecord&& r) { got.push_back(std::move(r)); });
        for (size_t at = 0; at < bytes.size(); at += 5) reader.feed(std::string_view(bytes).substr(at, 5));
        EXPECT_EQ(reader.finish(), std::nullopt);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[2].fileId, (std::vector<std::string>{"DIR", "IMG3"}));
        EXPECT_EQ(got[2].sopInstanceUid, "IMG3.9");
    }
    DicomDirReader broken(nullptr);
    broken.feed(undefined.substr(0, 300));
    EXPECT_EQ(broken.finish(), cut(300));
}

}  // namespace
}  // namespace jor
