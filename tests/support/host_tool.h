#pragma once

#include <string>

namespace jor::test {

// `content` packed by the host's gzip or compress (`tool`), as the archive
// wrote its objects; `scratchFolder` takes the files in between. Under Wine
// the host's tools are started as Unix programs, which Wine allows.
std::string packedWith(const std::string& tool, const std::string& content, const std::string& scratchFolder);

}  // namespace jor::test
