// The host's tools on Linux, started directly through the shell.
#include "support/host_tool.h"

#include "support/temp_tree.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace jor::test {

namespace {
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
}  // namespace

std::string packedWith(const std::string& tool, const std::string& content, const std::string& scratchFolder) {
    const std::string in = scratchFolder + "/scratch.bin", out = scratchFolder + "/scratch.out";
    writeFile(in, content);
    const std::string command = tool + " -c -f '" + in + "' > '" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readFile(out);
}

bool onHost(const std::string& script, const std::vector<std::string>& paths) {
    std::string command = "sh -c " + quoted(script) + " sh";
    for (const auto& path : paths) command += " " + quoted(path);
    return std::system(command.c_str()) == 0;
}

}  // namespace jor::test
