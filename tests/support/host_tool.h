// The host's tools for the tests: content packed by gzip or compress, and scripts run in the host's shell.
#pragma once

#include <string>
#include <vector>

namespace jor::test {

// `content` packed by the host's gzip or compress (`tool`), as the archive
// wrote its objects; `scratchFolder` takes the files in between. Under Wine
// the host's tools are started as Unix programs, which Wine allows.
std::string packedWith(const std::string& tool, const std::string& content, const std::string& scratchFolder);

// Runs `script` in the host's shell with `paths` (as the host names them) as
// $1, $2, ...; true when it ends with status 0. Under Wine this makes what
// Windows programs there cannot: links, other owners, Unix modes.
bool onHost(const std::string& script, const std::vector<std::string>& paths);

}  // namespace jor::test
