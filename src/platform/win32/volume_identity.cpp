// The medium's identity on Windows: the volume that holds the folder, its label, serial and drive type.
#include "platform/volume_identity.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <vector>

namespace jor {

VolumeIdentity volumeIdentityOf(const std::string& folder) {
    try {
        VolumeIdentity identity;
        const auto path = systemPath(folder);
        if (!path) return identity;
        std::vector<wchar_t> root(path->size() + MAX_PATH + 1);
        if (!::GetVolumePathNameW(path->c_str(), root.data(), static_cast<DWORD>(root.size()))) return identity;
        const UINT type = ::GetDriveTypeW(root.data());
        identity.Removable = type == DRIVE_REMOVABLE || type == DRIVE_CDROM;
        wchar_t label[MAX_PATH + 1] = L"";
        DWORD serial = 0;
        // An empty drive fails here: nothing to tell.
        if (!::GetVolumeInformationW(root.data(), label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0))
            return identity;
        identity.Label = utf8FromWide(label);
        if (serial != 0) {
            char text[10];
            std::snprintf(text, sizeof text, "%04X-%04X", static_cast<unsigned>(serial >> 16),
                          static_cast<unsigned>(serial & 0xFFFF));
            identity.Serial = text;
        }
        return identity;
    } catch (...) {
        return {};
    }
}

}  // namespace jor
