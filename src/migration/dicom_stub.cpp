// Stand-in until the reader lands.
#include "migration/dicom_reader.h"
#include "migration/dicomdir.h"

namespace jor {
struct DicomReader::State {};
DicomReader::DicomReader() = default;
DicomReader::~DicomReader() = default;
DicomReader::DicomReader(DicomReader&&) noexcept = default;
DicomReader& DicomReader::operator=(DicomReader&&) noexcept = default;
void DicomReader::feed(std::string_view) noexcept {}
bool DicomReader::done() const noexcept { return true; }
DicomVerdict DicomReader::finish() noexcept { return {false, "zu kurz", {}}; }
DicomVerdict readDicom(std::string_view) noexcept { return {false, "zu kurz", {}}; }
struct DicomDirReader::State {};
DicomDirReader::DicomDirReader(RecordSink) {}
DicomDirReader::~DicomDirReader() = default;
void DicomDirReader::feed(std::string_view) noexcept {}
std::optional<std::string> DicomDirReader::finish() noexcept { return std::nullopt; }
}  // namespace jor
