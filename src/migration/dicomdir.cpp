// DicomDirReader: the records of the Directory Record Sequence, in file order, each handed on at its end.
#include "migration/dicomdir.h"

#include "migration/dicom_stream.h"

#include <algorithm>

namespace jor {
namespace {

using dicom::tagOf;

constexpr uint32_t RecordSequenceTag = tagOf(0x0004, 0x1220);
constexpr uint32_t FileIdTag = tagOf(0x0004, 0x1500);
constexpr uint32_t SopInstanceUidTag = tagOf(0x0004, 0x1511);
// Records are the items of the sequence at depth 1; their elements lie at depth 2.
constexpr size_t RecordDepth = 2;

std::vector<std::string> partsOf(std::string_view value) {
    std::vector<std::string> parts;
    for (size_t from = 0; from <= value.size();) {
        const size_t to = std::min(value.find('\\', from), value.size());
        parts.emplace_back(dicom::trimmed(value.substr(from, to - from), true));
        from = to + 1;
    }
    return parts;
}

}  // namespace

struct DicomDirReader::State final : dicom::ElementSink {
    explicit State(RecordSink s) : sink(std::move(s)) {}

    RecordSink sink;
    dicom::ElementStream stream{*this};
    bool inRecords = false;
    std::string fileId, sopInstanceUid;

    dicom::Action element(uint32_t tag, uint16_t, uint32_t, size_t depth) override {
        if (depth == 0) {
            inRecords = tag == RecordSequenceTag;
            return inRecords ? dicom::Action::Enter : dicom::Action::Skip;
        }
        const bool wanted = tag == FileIdTag || tag == SopInstanceUidTag;
        return inRecords && depth == RecordDepth && wanted ? dicom::Action::Keep : dicom::Action::Skip;
    }

    bool enterItem(size_t depth) override { return inRecords && depth == RecordDepth - 1; }

    void value(uint32_t tag, std::string_view bytes) override {
        (tag == FileIdTag ? fileId : sopInstanceUid) = dicom::trimmed(bytes, true);
    }

    void itemEnd(size_t depth) override {
        if (!inRecords || depth != RecordDepth) return;
        if (!fileId.empty() && sink) sink(DicomDirRecord{partsOf(fileId), sopInstanceUid});
        fileId.clear();
        sopInstanceUid.clear();
    }
};

DicomDirReader::DicomDirReader(RecordSink record) : state_(std::make_unique<State>(std::move(record))) {}
DicomDirReader::~DicomDirReader() = default;

void DicomDirReader::feed(std::string_view bytes) noexcept { state_->stream.feed(bytes); }

std::optional<std::string> DicomDirReader::finish() noexcept {
    std::string reason = state_->stream.finish();
    if (reason.empty()) return std::nullopt;
    return reason;
}

}  // namespace jor
