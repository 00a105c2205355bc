// The host's tools under Wine, started as Unix programs through Wine's own host paths.
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
    if (!toUnix) throw std::runtime_error("the host's tools are there only under Wine");
    char* path = toUnix(wideFromUtf8(windowsPath).value().c_str());
    if (!path) throw std::runtime_error("no host path for " + windowsPath);
    std::string result = path;
    ::HeapFree(::GetProcessHeap(), 0, path);
    return result;
}

}  // namespace

bool onHost(const std::string& script, const std::vector<std::string>& paths) {
    TempDir scratch;
    const std::string done = scratch / "done";
    // Wine hands out no process handle for a Unix program: its end is told by a file.
    std::vector<std::string> arguments = {
        "-c", "if (" + script + "); then echo ok; else echo failed; fi > \"$0.part\" && mv \"$0.part\" \"$0\"",
        unixPath(done)};
    for (const auto& path : paths) arguments.push_back(unixPath(path));
    ChildProcess::start("Z:\\bin\\sh", arguments);
    for (int waited = 0; waited < 30000 && !exists(done); waited += 5) ::Sleep(5);
    return exists(done) && readFile(done) == "ok\n";
}

std::string packedWith(const std::string& tool, const std::string& content, const std::string& scratchFolder) {
    const std::string in = scratchFolder + "\\scratch.bin", out = scratchFolder + "\\scratch.out";
    writeFile(in, content);
    writeFile(out, "");
    EXPECT_TRUE(onHost(tool + " -c -f \"$1\" > \"$2\"", {in, out})) << tool << " failed or took longer than 30 s";
    return readFile(out);
}

}  // namespace jor::test
