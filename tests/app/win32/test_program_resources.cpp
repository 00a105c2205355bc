// What Windows and Explorer read from the two programs' resources: the version and the execution level.
#include "win32_test_support.h"

#include <gtest/gtest.h>
#include <regex>

namespace jor {
namespace {

const char* const programs[] = {"jor-orvek.exe", "gunzip.exe"};

std::wstring programPath(const char* exe) { return wideText(std::string(JOR_PROGRAM_DIR_WINDOWS) + "\\" + exe); }

// A text of the version resource's first language block, or "<missing>".
std::wstring versionText(const std::vector<char>& info, const std::wstring& name) {
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof *translation)
        return L"<missing>";
    wchar_t block[40];
    swprintf(block, 40, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(info.data(), (block + name).c_str(), reinterpret_cast<void**>(&value), &size))
        return L"<missing>";
    return value;
}

TEST(ProgramResources, BothProgramsCarryTheVersionOfTheBuild) {
    const std::wstring version = wideText(JOR_VERSION);
    for (const char* exe : programs) {
        SCOPED_TRACE(exe);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(programPath(exe).c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource";
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(programPath(exe).c_str(), 0, size, info.data()));

        EXPECT_EQ(versionText(info, L"ProductName"), L"Jor-Orvek");
        EXPECT_EQ(versionText(info, L"ProductVersion"), version);
        EXPECT_EQ(versionText(info, L"FileVersion"), version);
        EXPECT_EQ(versionText(info, L"OriginalFilename"), wideText(exe));
        EXPECT_TRUE(versionText(info, L"FileDescription").starts_with(L"Jor-Orvek: "));

        // The numbers Explorer sorts by and installers compare.
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
        ASSERT_GE(fixedSize, sizeof *fixed);
        EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
        for (const auto& [ms, ls] : {std::pair{fixed->dwFileVersionMS, fixed->dwFileVersionLS},
                                     std::pair{fixed->dwProductVersionMS, fixed->dwProductVersionLS}}) {
            const std::wstring numbers = std::to_wstring(HIWORD(ms)) + L"." + std::to_wstring(LOWORD(ms)) + L"." +
                                         std::to_wstring(HIWORD(ls)) + L"." + std::to_wstring(LOWORD(ls));
            EXPECT_EQ(numbers, version + L".0");
        }
    }
}

// Not elevated and not virtualized: without the level, a 32-bit program
// under Program Files writes Settings.ini and Logs into a hidden VirtualStore.
TEST(ProgramResources, BothManifestsAskToRunAsInvoker) {
    const std::regex comment(R"(<!--[\s\S]*?-->)");
    const std::regex asInvoker(
        R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">\s*<security>\s*)"
        R"(<requestedPrivileges>\s*<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)");
    for (const char* exe : programs) {
        SCOPED_TRACE(exe);
        const HMODULE module = LoadLibraryExW(programPath(exe).c_str(), nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
        const HRSRC found = FindResourceW(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
        ASSERT_NE(found, nullptr) << "no manifest";
        const auto* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
        const std::string manifest = std::regex_replace(std::string(text, SizeofResource(module, found)), comment, "");
        FreeLibrary(module);

        EXPECT_TRUE(std::regex_search(manifest, asInvoker)) << manifest;
        if (std::string(exe) == "jor-orvek.exe") {
            EXPECT_NE(manifest.find("name=\"JorOrvek.JorOrvek\" version=\"" JOR_VERSION ".0\""), std::string::npos)
                << manifest;
        }
    }
}

}  // namespace
}  // namespace jor
