// Reading a DICOM object's top-level attributes from its bytes, fed in order; never its pixel data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace jor {

// What a migration needs of one object. Texts are UTF-8, decoded by the
// object's Specific Character Set; values as the object holds them, without
// their padding; a value with several parts keeps its backslashes.
struct DicomAttributes {
    std::string transferSyntax;  // of the dataset: from the meta header, else as the bytes show it
    std::string mediaStorageSopClassUid;     // (0002,0002), of the meta header
    std::string mediaStorageSopInstanceUid;  // (0002,0003)
    std::string sopClassUid;                 // (0008,0016)
    std::string sopInstanceUid;              // (0008,0018)
    std::string patientId;                   // (0010,0020)
    std::string patientName;                 // (0010,0010)
    std::string patientBirthDate;            // (0010,0030)
    std::string studyInstanceUid;            // (0020,000D)
    std::string studyDate;                   // (0008,0020)
    std::string studyDescription;            // (0008,1030)
    std::string accessionNumber;             // (0008,0050)
    std::string seriesInstanceUid;           // (0020,000E)
    std::string modality;                    // (0008,0060)

    bool operator==(const DicomAttributes&) const = default;
};

struct DicomVerdict {
    bool isDicom = false;
    // When it is not: why, in German, for the protocol's "kein DICOM: <reason>".
    std::string reason;
    DicomAttributes attributes;
};

// Fed an object's bytes in order, in chunks of any size, it reads the
// attributes while holding no more than a small, fixed amount of them:
// values it does not need are passed over, however long. Files with or
// without the 128-byte preamble and "DICM", without a meta header at all,
// in implicit or explicit VR little endian, explicit VR big endian or
// deflated. Nesting is followed without recursion. Never throws, never
// reads past what it was fed.
class DicomReader {
public:
    DicomReader();
    ~DicomReader();
    DicomReader(DicomReader&&) noexcept;
    DicomReader& operator=(DicomReader&&) noexcept;

    void feed(std::string_view bytes) noexcept;
    // Nothing further is needed: the pixel data is reached, or it is no DICOM.
    bool done() const noexcept;
    // After the last byte.
    DicomVerdict finish() noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The same over an object held whole.
DicomVerdict readDicom(std::string_view bytes) noexcept;

}  // namespace jor
