// The disc protocol's file: names from hostile labels, and lines in any character set read back as written.
#include "diagnostics/csv.h"
#include "diagnostics/disc_protocol.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace jor {
namespace {

using test::TempDir;

TEST(DiscProtocolName, AnyLabelNamesAPlainFileInLogsDiscs) {
    const std::string labels[] = {"..\\CON", "../../etc/passwd", "CON", "A:B*C?\"<>|", std::string(300, 'x'),
                                  std::string(150, '\xC3') + "\xA4", "\xD0\x9B\xD1\x8E\xD0\xBA\xD1\x81", "\x01\x7F ",
                                  "M\xFCller", ""};
    TempDir dir;
    for (const std::string& label : labels) {
        SCOPED_TRACE(label);
        const std::string base = protocolBaseName("2026-12-09 13-05-09", label);
        EXPECT_TRUE(base.starts_with("2026-12-09 13-05-09")) << base;
        EXPECT_LE(base.size(), 100u);
        EXPECT_EQ(base.find_first_of("/\\:*?\"<>|"), std::string::npos) << base;
        const DiscProtocol protocol(dir.path(), base);
        const auto made = test::fsPath(protocol.path());
        EXPECT_TRUE(std::filesystem::is_regular_file(made));
        EXPECT_EQ(made.parent_path(), test::fsPath(discsFolderOf(dir.path())));
    }
    // Each run its own file, however alike their names.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(test::fsPath(discsFolderOf(dir.path()))), {}),
              std::ssize(labels));
}

TEST(DiscProtocolLines, NamesInAnyCharacterSetReadBackAsWritten) {
    const std::string names[] = {"M\xC3\xBCller^J\xC3\xBCrgen", "\xD0\x9B\xD1\x8E\xD0\xBA\xD1\x81^\xD0\x98",
                                 "Wang^XiaoDong=\xE7\x8E\x8B^\xE5\xB0\x8F\xE6\x9D\xB1", "Meier; \"Hans\"",
                                 "=HYPERLINK(\"x\")", "-7"};
    TempDir dir;
    DiscProtocol protocol(dir.path(), "2026-12-09 13-05-09 PRAXIS");
    std::string text;
    std::vector<ProtocolLine> written;
    for (const std::string& name : names) {
        ProtocolLine line;
        line.file = "DICOM\\" + name;
        line.size = 1234;
        line.result = ProtocolResult::Migrated;
        line.sha256 = std::string(64, 'a');
        line.patientId = line.patientName = name;
        text += protocolLine(line) + "\r\n";
        written.push_back(line);
    }
    protocol.append(text);
    protocol.close();

    const std::string file = test::readFile(protocol.path());
    EXPECT_EQ(file.rfind("\xEF\xBB\xBF" + std::string(protocolHeader()) + "\r\n", 0), 0u);
    std::vector<ProtocolLine> read;
    readProtocol(dir.path(), protocol.fileName(), [&](const ProtocolLine& line) { read.push_back(line); });
    EXPECT_EQ(read, written);
    for (size_t at = file.find("\r\n") + 2; at < file.size(); at = file.find("\r\n", at) + 2) {
        const auto fields = csvFields(file.substr(at, file.find("\r\n", at) - at));
        ASSERT_TRUE(fields);
        EXPECT_EQ(fields->size(), 18u);
        EXPECT_NE(fields->at(5).front(), '=');
    }
}

}  // namespace
}  // namespace jor
