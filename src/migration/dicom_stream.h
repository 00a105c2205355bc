// The element stream of a DICOM file, shared by the object's and the DICOMDIR's readers.
//
// The element stream of a DICOM file, shared by the object's and the DICOMDIR's readers: preamble, meta
// header, transfer syntax, inflation and nesting; what the elements mean is left to an ElementSink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace jor::dicom {

constexpr uint32_t tagOf(uint16_t group, uint16_t element) { return uint32_t{group} << 16 | element; }
constexpr uint16_t vrOf(const char (&letters)[3]) {
    return uint16_t(uint8_t(letters[0]) << 8 | uint8_t(letters[1]));
}
// The VR of an element whose encoding does not carry one.
constexpr uint16_t ImplicitVr = 0;
constexpr uint32_t UndefinedLength = 0xFFFFFFFF;
// A kept value is cut to this many bytes: every value asked for is far shorter.
constexpr size_t MaxKept = 4096;

inline constexpr std::string_view ImplicitLittleEndian = "1.2.840.10008.1.2";
inline constexpr std::string_view ExplicitLittleEndian = "1.2.840.10008.1.2.1";
inline constexpr std::string_view DeflatedLittleEndian = "1.2.840.10008.1.2.1.99";
inline constexpr std::string_view ExplicitBigEndian = "1.2.840.10008.1.2.2";

enum class Action {
    Skip,   // pass the value over
    Keep,   // hand the value to value()
    Enter,  // read into this sequence of defined length (its items are offered to enterItem)
    Stop,   // nothing further is needed
};

// Depth 0 is the top level (meta header included), odd depths are sequences,
// even ones their items. Elements within undefined-length items are always
// offered; defined-length sequences and items only when entered.
class ElementSink {
public:
    virtual Action element(uint32_t tag, uint16_t vr, uint32_t length, size_t depth) = 0;
    // A kept value, whole (or its first MaxKept bytes).
    virtual void value(uint32_t tag, std::string_view bytes) = 0;
    // An item of defined length in the sequence at `depth`: read into it?
    virtual bool enterItem(size_t) { return false; }
    // The end of an item read into, at `depth`.
    virtual void itemEnd(size_t) {}

protected:
    ~ElementSink() = default;
};

class ElementStream {
public:
    explicit ElementStream(ElementSink& sink);
    ~ElementStream();
    ElementStream(const ElementStream&) = delete;
    ElementStream& operator=(const ElementStream&) = delete;

    void feed(std::string_view bytes) noexcept;
    // The sink stopped it, or the bytes are no DICOM.
    bool over() const noexcept;
    // After the last byte: empty when the bytes were DICOM as far as they
    // were read, else why not (German).
    std::string finish() noexcept;
    // From the meta header; else the one the bytes show.
    const std::string& transferSyntax() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A value without its padding: trailing spaces and NULs, and with `leading` the leading spaces too.
std::string_view trimmed(std::string_view value, bool leading = false) noexcept;

}  // namespace jor::dicom
