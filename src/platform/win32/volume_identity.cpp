// The medium's identity on Windows: the volume that holds the folder, its label, serial and drive type.
#include "platform/volume_identity.h"

#include "platform/win32/long_path.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <vector>

namespace jor {

namespace {

// The drive functions take "R:\" or "\\server\share\", not the \\?\ form the file functions get.
std::wstring plainRoot(const std::wstring& root) {
    const bool onDrive = root.starts_with(LongPathPrefix) && root.size() > 5 && root[5] == L':';
    return root.starts_with(LongSharePrefix) || onDrive ? withoutLongPrefix(root) : root;
}

}  // namespace

VolumeIdentity volumeIdentityOf(const std::string& folder) {
    try {
        VolumeIdentity identity;
        const auto path = systemPath(folder);
        if (!path) return identity;
        std::vector<wchar_t> buffer(path->size() + MAX_PATH + 1);
        if (!::GetVolumePathNameW(path->c_str(), buffer.data(), static_cast<DWORD>(buffer.size()))) return identity;
        const std::wstring root = plainRoot(buffer.data());
        const UINT type = ::GetDriveTypeW(root.c_str());
        identity.removable = type == DRIVE_REMOVABLE || type == DRIVE_CDROM;
        wchar_t label[MAX_PATH + 1] = L"";
        DWORD serial = 0;
        // An empty drive fails here: nothing to tell.
        if (!::GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0))
            return identity;
        identity.label = utf8FromWide(label);
        if (serial != 0) {
            char text[10];
            std::snprintf(text, sizeof text, "%04X-%04X", static_cast<unsigned>(serial >> 16),
                          static_cast<unsigned>(serial & 0xFFFF));
            identity.serial = text;
        }
        return identity;
    } catch (...) {
        return {};
    }
}

}  // namespace jor
