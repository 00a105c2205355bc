// The element stream: where the elements start, how they are encoded, and how deep they lie.
#include "migration/dicom_stream.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace jor::dicom {
namespace {

constexpr size_t PreambleSize = 128;
constexpr size_t PrefixSize = PreambleSize + 4;
constexpr uint32_t TransferSyntaxTag = tagOf(0x0002, 0x0010);
constexpr uint16_t ItemGroup = 0xFFFE;
constexpr uint16_t ItemStart = 0xE000, ItemEnd = 0xE00D, SequenceEnd = 0xE0DD;
// Containers deeper than this are passed by their delimiters, never entered
// by their lengths: so the ends to remember are a fixed few.
constexpr size_t MaxEntered = 4;
constexpr uint64_t Open = std::numeric_limits<uint64_t>::max();
constexpr size_t NoDepth = std::numeric_limits<size_t>::max();
constexpr size_t InflatedChunk = 16384;

bool isUpper(uint8_t c) { return c >= 'A' && c <= 'Z'; }

bool hasLongLength(uint16_t vr) {
    switch (vr) {
    case vrOf("OB"): case vrOf("OD"): case vrOf("OF"): case vrOf("OL"): case vrOf("OV"): case vrOf("OW"):
    case vrOf("SQ"): case vrOf("SV"): case vrOf("UC"): case vrOf("UN"): case vrOf("UR"): case vrOf("UT"):
    case vrOf("UV"): return true;
    default: return false;
    }
}

bool isKnownVr(uint16_t vr) {
    if (hasLongLength(vr)) return true;
    switch (vr) {
    case vrOf("AE"): case vrOf("AS"): case vrOf("AT"): case vrOf("CS"): case vrOf("DA"): case vrOf("DS"):
    case vrOf("DT"): case vrOf("FD"): case vrOf("FL"): case vrOf("IS"): case vrOf("LO"): case vrOf("LT"):
    case vrOf("PN"): case vrOf("SH"): case vrOf("SL"): case vrOf("SS"): case vrOf("ST"): case vrOf("TM"):
    case vrOf("UI"): case vrOf("UL"): case vrOf("US"): return true;
    default: return false;
    }
}

uint16_t read16(const uint8_t* p, bool little) {
    return little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
}

uint32_t read32(const uint8_t* p, bool little) {
    return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                  : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

std::string elementText(uint32_t tag, const char* what) {
    char text[64];
    std::snprintf(text, sizeof text, "Element (%04X,%04X) %s", unsigned(tag >> 16), unsigned(tag & 0xFFFF), what);
    return text;
}

}  // namespace

std::string_view trimmed(std::string_view value, bool leading) noexcept {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.remove_suffix(1);
    while (leading && !value.empty() && value.front() == ' ') value.remove_prefix(1);
    return value;
}

struct ElementStream::Impl {
    explicit Impl(ElementSink& s) : sink(s) {}
    ~Impl() {
        if (inflating) inflateEnd(&zs);
    }

    ElementSink& sink;
    enum class Phase { Prefix, Plain, Inflated, Over } phase = Phase::Prefix;
    std::string failure;
    std::string syntax;
    uint64_t fed = 0;
    uint8_t prefix[PrefixSize];
    size_t prefixLength = 0;

    // How the elements are encoded.
    bool meta = false, datasetStart = false, syntaxDeclared = false;
    bool little = true, explicitVr = true;
    // Undefined-length UN values hold implicit VR, from this depth down.
    size_t implicitFrom = NoDepth;

    // Where the stream is: position, depth, and the ends of the containers entered by length.
    uint64_t pos = 0, elements = 0;
    size_t depth = 0;
    std::array<uint64_t, MaxEntered + 1> ends{};

    // The element being read.
    bool inValue = false, keeping = false;
    uint8_t head[12];
    size_t headLength = 0, headNeed = 8;
    uint32_t tag = 0, length = 0;
    uint16_t vr = ImplicitVr;
    uint64_t remaining = 0;
    std::string kept;

    z_stream zs{};
    bool inflating = false, inflateEnded = false;
    std::unique_ptr<uint8_t[]> inflated;

    void fail(std::string reason) {
        failure = std::move(reason);
        phase = Phase::Over;
    }
    void failTruncated() { fail("bricht bei Byte " + std::to_string(fed) + " ab"); }

    bool inSequence() const { return depth % 2 == 1; }
    bool inItem() const { return depth > 0 && depth % 2 == 0; }
    uint64_t levelEnd() const { return depth >= 1 && depth <= MaxEntered ? ends[depth] : Open; }

    void feed(const uint8_t* p, size_t n) {
        while (n > 0 && phase == Phase::Prefix) {
            const size_t take = std::min(PrefixSize - prefixLength, n);
            std::memcpy(prefix + prefixLength, p, take);
            prefixLength += take;
            p += take;
            n -= take;
            if (prefixLength == PrefixSize) begin();
        }
        route(p, n);
    }

    void route(const uint8_t* p, size_t n) {
        while (n > 0 && phase == Phase::Plain) {
            const size_t used = tokenize(p, n);
            p += used;
            n -= used;
        }
        if (n > 0 && phase == Phase::Inflated) inflate(p, n);
    }

    // The first bytes tell whether a meta header follows a preamble, stands at
    // the start, or is missing (an ACR-NEMA stream, which must start with
    // group 0008 in either byte order).
    void begin() {
        const uint8_t* p = prefix;
        size_t n = prefixLength;
        if (n == PrefixSize && std::memcmp(prefix + PreambleSize, "DICM", 4) == 0) {
            meta = true;
            pos = PrefixSize;
            n = 0;
        } else if (n == 0) {
            return fail("leere Datei");
        } else {
            const uint16_t group = n >= 2 ? read16(prefix, true) : 0;
            meta = group == 0x0002;
            datasetStart = !meta;
            const bool bigEndian = group == 0x0800 && n >= 6 && isKnownVr(read16(prefix + 4, false));
            if (!meta && group != 0x0008 && !bigEndian) return fail("kein DICOM-Vorspann");
        }
        phase = Phase::Plain;
        route(p, n);
    }

    size_t tokenize(const uint8_t* p, size_t n) {
        const Phase entry = phase;
        size_t i = 0;
        while (i < n && phase == entry) {
            if (inValue) {
                const size_t take = size_t(std::min<uint64_t>(remaining, n - i));
                if (keeping && kept.size() < MaxKept)
                    kept.append(reinterpret_cast<const char*>(p + i), std::min(take, MaxKept - kept.size()));
                i += take;
                pos += take;
                remaining -= take;
                if (remaining == 0) valueDone();
                continue;
            }
            if (headLength == 0) headNeed = meta && depth == 0 ? 2 : 8;
            const size_t take = std::min(headNeed - headLength, n - i);
            std::memcpy(head + headLength, p + i, take);
            headLength += take;
            i += take;
            pos += take;
            if (headLength == headNeed) headerRead();
        }
        return i;
    }

    void headerRead() {
        if (headNeed == 2) {
            // The meta header goes on while group 0002 does.
            if (read16(head, true) != 0x0002) endMeta();
            if (phase == Phase::Plain) headNeed = 8;
            return;
        }
        if (headNeed == 8) {
            if (datasetStart) settleEncoding();
            const uint16_t group = read16(head, little);
            tag = tagOf(group, read16(head + 2, little));
            // Some writers switch to implicit VR inside sequences: letters or not decides, as pydicom does.
            if (group == ItemGroup || !explicitVr || depth >= implicitFrom || !isUpper(head[4]) ||
                !isUpper(head[5])) {
                vr = ImplicitVr;
                length = read32(head + 4, little);
            } else {
                vr = read16(head + 4, false);
                if (hasLongLength(vr)) {
                    headNeed = 12;
                    return;
                }
                length = read16(head + 6, little);
            }
        } else {
            length = read32(head + 8, little);
        }
        headLength = 0;
        ++elements;
        dispatch();
    }

    void endMeta() {
        meta = false;
        datasetStart = true;
        syntaxDeclared = !syntax.empty();
        little = syntax != ExplicitBigEndian;
        explicitVr = syntax != ImplicitLittleEndian;
        if (syntax == DeflatedLittleEndian) startInflating();
    }

    // A declared syntax yields to what the first element's bytes show; a missing one is guessed from them.
    void settleEncoding() {
        datasetStart = false;
        const bool letters = isUpper(head[4]) && isUpper(head[5]);
        if (syntaxDeclared) {
            if (read16(head, little) != ItemGroup) explicitVr = letters;
            return;
        }
        explicitVr = isKnownVr(read16(head + 4, false));
        little = !(explicitVr && read16(head, true) >= 0x0400);
        syntax = !explicitVr ? ImplicitLittleEndian : little ? ExplicitLittleEndian : ExplicitBigEndian;
    }

    void dispatch() {
        if (tag >> 16 == ItemGroup) return itemTag(tag & 0xFFFF);
        if (inSequence()) return fail(elementText(tag, "an unmöglicher Stelle"));
        const Action action =
            meta && tag == TransferSyntaxTag ? Action::Keep : sink.element(tag, vr, length, depth);
        if (action == Action::Stop) {
            phase = Phase::Over;
            return;
        }
        if (length == UndefinedLength) {
            const bool mayNest = vr == ImplicitVr || vr == vrOf("SQ") || vr == vrOf("UN") || vr == vrOf("OB") ||
                                 vr == vrOf("OW");
            if (action == Action::Keep || !mayNest) return fail(elementText(tag, "mit unmöglicher Länge"));
            enter(Open);
            if (vr == vrOf("UN")) implicitFrom = std::min(implicitFrom, depth);
            return;
        }
        if (action == Action::Enter && depth < MaxEntered) return enter(pos + length);
        startValue(action == Action::Keep);
    }

    void itemTag(uint16_t element) {
        if (element == ItemStart) {
            if (!inSequence()) return fail(elementText(tag, "an unmöglicher Stelle"));
            if (length == UndefinedLength) return enter(Open);
            if (depth < MaxEntered && sink.enterItem(depth)) return enter(pos + length);
            return startValue(false);
        }
        // A delimiter closes only what has no length of its own.
        const bool closes = element == ItemEnd ? inItem() : element == SequenceEnd && inSequence();
        if (!closes || levelEnd() != Open) return fail(elementText(tag, "an unmöglicher Stelle"));
        leave();
        closeLevels();
    }

    void enter(uint64_t end) {
        ++depth;
        if (depth <= MaxEntered) ends[depth] = end;
        closeLevels();
    }

    void leave() {
        if (inItem()) sink.itemEnd(depth);
        if (implicitFrom == depth) implicitFrom = NoDepth;
        --depth;
    }

    // A container entered by its length ends with the first element that reaches its end, even one that
    // overruns it, as pydicom and DCMTK read it.
    void closeLevels() {
        for (uint64_t end; depth > 0 && (end = levelEnd()) != Open && pos >= end;) leave();
    }

    void startValue(bool keep) {
        keeping = keep;
        kept.clear();
        remaining = length;
        inValue = true;
        if (remaining == 0) valueDone();
    }

    void valueDone() {
        inValue = false;
        if (keeping) {
            if (meta && tag == TransferSyntaxTag) syntax = trimmed(kept);
            sink.value(tag, kept);
        }
        closeLevels();
    }

    void startInflating() {
        inflated.reset(new (std::nothrow) uint8_t[InflatedChunk]);
        if (!inflated || inflateInit2(&zs, -MAX_WBITS) != Z_OK) return fail("zu wenig Speicher zum Entpacken");
        inflating = true;
        phase = Phase::Inflated;
        // The bytes read to see that the meta header ended are already deflated.
        uint8_t first[2];
        const size_t n = headLength;
        std::memcpy(first, head, n);
        headLength = 0;
        pos -= n;
        inflate(first, n);
    }

    void inflate(const uint8_t* p, size_t n) {
        while (n > 0 && phase == Phase::Inflated && !inflateEnded) {
            const size_t piece = std::min<size_t>(n, 1u << 30);
            zs.next_in = const_cast<Bytef*>(p);
            zs.avail_in = uInt(piece);
            for (;;) {
                zs.next_out = inflated.get();
                zs.avail_out = InflatedChunk;
                const int result = ::inflate(&zs, Z_NO_FLUSH);
                const size_t produced = InflatedChunk - zs.avail_out;
                // What came out before a fault is read first: so the outcome does not hang on the chunks.
                for (size_t used = 0; used < produced && phase == Phase::Inflated;)
                    used += tokenize(inflated.get() + used, produced - used);
                if (phase != Phase::Inflated) return;
                if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                    return fail("Deflate-Daten beschädigt");
                if (result == Z_STREAM_END) {
                    inflateEnded = true;
                    return;
                }
                if (zs.avail_out != 0 || result == Z_BUF_ERROR) break;
            }
            p += piece - zs.avail_in;
            n -= piece - zs.avail_in;
            if (zs.avail_in != 0) return;  // no progress without more bytes
        }
    }

    std::string finish() {
        if (phase == Phase::Prefix) begin();
        if (phase == Phase::Over) return failure;
        if ((inflating && !inflateEnded) || inValue || headLength > 0 || depth > 0 || elements == 0)
            failTruncated();
        return failure;
    }
};

ElementStream::ElementStream(ElementSink& sink) : impl_(std::make_unique<Impl>(sink)) {}
ElementStream::~ElementStream() = default;

void ElementStream::feed(std::string_view bytes) noexcept {
    if (impl_->phase == Impl::Phase::Over) return;
    impl_->fed += bytes.size();
    impl_->feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool ElementStream::over() const noexcept { return impl_->phase == Impl::Phase::Over; }

std::string ElementStream::finish() noexcept { return impl_->finish(); }

const std::string& ElementStream::transferSyntax() const noexcept { return impl_->syntax; }

}  // namespace jor::dicom
