#include "support/host_tool.h"

#include "support/temp_tree.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace jor::test {

std::string packedWith(const std::string& tool, const std::string& content, const std::string& scratchFolder) {
    const std::string in = scratchFolder + "/scratch.bin", out = scratchFolder + "/scratch.out";
    writeFile(in, content);
    const std::string command = tool + " -c -f '" + in + "' > '" + out + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readFile(out);
}

}  // namespace jor::test
