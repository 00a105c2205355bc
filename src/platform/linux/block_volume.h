// The Linux parts of a medium's identity: the mount that holds a device, what libblkid reads on it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace jor {

struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string source;  // "/dev/sr0", or what the file system names it ("tmpfs")
};

// The mount of device major:minor in the text of /proc/self/mountinfo that
// holds `path` (an absolute path without links): of several mounts of that
// device (bind mounts) the one whose mount point holds `path` most closely,
// else the last one listed. Fields come with their octal escapes (\040)
// undone; lines that cannot be read are passed over.
std::optional<MountEntry> mountHolding(std::string_view mountinfo, unsigned major, unsigned minor,
                                       std::string_view path);

struct ProbedVolume {
    std::string label;
    std::string uuid;
};

// What libblkid reads on a block device or an image file; empty when it
// finds no file system or cannot open `device`.
ProbedVolume probeVolume(const std::string& device);

// The label and UUID udev's links in `linksFolder` (by-label/, by-uuid/)
// name for `device`: libblkid's answer as udev recorded it, for a device
// the user may not read (a USB stick).
ProbedVolume volumeFromLinks(const std::string& device, const std::string& linksFolder = "/dev/disk");

// Whether the block device major:minor is removable by what sysfs says of it
// or, for a partition, of its disk; a loop device (a disc's image) counts as
// removable.
bool removableBlockDevice(unsigned major, unsigned minor, const std::string& sysDevBlock = "/sys/dev/block");

}  // namespace jor
