// Reading the directory records of a DICOMDIR from its bytes, one by one, in the order the file holds them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

// One directory record that names a file.
struct DicomDirRecord {
    // Referenced File ID (0004,1500): the path's parts, as the record holds them.
    std::vector<std::string> fileId;
    // Referenced SOP Instance UID in File (0004,1511); empty when the record names none.
    std::string sopInstanceUid;
};

// Fed the DICOMDIR's bytes in order, in chunks of any size, it hands each
// record with a Referenced File ID to `record` as soon as the record is
// read. The records are read as they stand in the file: their offsets,
// which may lead in circles, are never followed, and none is kept once it
// has been handed on, so memory does not grow with the number of records.
class DicomDirReader {
public:
    using RecordSink = std::function<void(DicomDirRecord&&)>;

    explicit DicomDirReader(RecordSink record);
    ~DicomDirReader();

    void feed(std::string_view bytes) noexcept;
    // After the last byte: nullopt when the file was read whole, else why
    // not, in German (records handed on before stay handed on).
    std::optional<std::string> finish() noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace jor
