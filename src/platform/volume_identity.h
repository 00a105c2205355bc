// The identity of the medium that holds a folder: label, serial, removable or not.
#pragma once

#include <string>

namespace jor {

struct VolumeIdentity {
    std::string label;  // UTF-8
    // Windows: the volume serial as vol shows it ("1A2B-3C4D"), none for 0;
    // Linux: the UUID libblkid reports (an ISO 9660 disc's is its creation
    // time, "2008-03-24-14-05-09-00").
    std::string serial;
    bool removable = false;  // an optical disc or a removable medium
};

// Never raises: what cannot be told stays empty or false.
VolumeIdentity volumeIdentityOf(const std::string& folder);

}  // namespace jor
