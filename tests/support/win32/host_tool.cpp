#include "support/host_tool.h"

#include "platform/child_process.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor::test {
namespace {

// Wine's own export: the host path of a Windows path.
std::string unixPath(const std::string& windowsPath) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) throw std::runtime_error("packing needs the host's tools: run the tests under Wine");
    char* path = toUnix(wideFromUtf8(windowsPath).value().c_str());
    if (!path) throw std::runtime_error("no host path for " + windowsPath);
    std::string result = path;
    ::HeapFree(::GetProcessHeap(), 0, path);
    return result;
}

}  // namespace

std::string packedWith(const std::string& tool, const std::string& content, const std::string& scratchFolder) {
    const std::string in = scratchFolder + "\\scratch.bin", out = scratchFolder + "\\scratch.out";
    const std::string done = out + ".done";
    writeFile(in, content);
    writeFile(out, "");
    std::filesystem::remove(fsPath(done));
    // Wine hands out no process handle for a Unix program: its end is told by a file.
    ChildProcess::Start("Z:\\bin\\sh", {"-c", tool + " -c -f \"$0\" > \"$1\" && echo ok > \"$2\"", unixPath(in),
                                          unixPath(out), unixPath(done)});
    for (int waited = 0; waited < 30000 && !exists(done); waited += 5) ::Sleep(5);
    EXPECT_TRUE(exists(done)) << tool << " failed or took longer than 30 s";
    return readFile(out);
}

}  // namespace jor::test
