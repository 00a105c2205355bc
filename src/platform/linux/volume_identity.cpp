// The medium's identity on Linux: the mount from /proc/self/mountinfo, libblkid on its device, sysfs.
#include "platform/volume_identity.h"

#include "platform/linux/block_volume.h"

#include <algorithm>
#include <blkid.h>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

namespace jor {

namespace {

// mountinfo writes blank, tab, line feed and backslash as \040, \011, \012, \134.
std::string withoutOctalEscapes(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            out.push_back(
                static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string_view> blankSeparated(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        const size_t end = std::min(line.find(' ', start), line.size());
        if (end > start) fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool holds(std::string_view mountPoint, std::string_view path) {
    if (mountPoint == "/") return true;
    return path.substr(0, mountPoint.size()) == mountPoint &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// udev names its links with \xNN for every byte outside a small safe set.
std::string withoutHexEscapes(const std::string& name) {
    const auto hex = [&](size_t at) { return at < name.size() && std::isxdigit(static_cast<unsigned char>(name[at])); };
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, 2, "\\x") == 0 && hex(i + 2) && hex(i + 3)) {
            out.push_back(static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::optional<MountEntry> mountHolding(std::string_view mountinfo, unsigned major, unsigned minor,
                                       std::string_view path) {
    const std::string device = std::to_string(major) + ":" + std::to_string(minor);
    std::optional<MountEntry> holding, last;
    size_t start = 0;
    while (start < mountinfo.size()) {
        const size_t end = std::min(mountinfo.find('\n', start), mountinfo.size());
        const auto fields = blankSeparated(mountinfo.substr(start, end - start));
        start = end + 1;
        // id parent major:minor root mount-point options [optional fields...] - type source super-options
        if (fields.size() < 9 || fields[2] != device) continue;
        const auto dash = std::find(fields.begin() + 6, fields.end(), "-");
        if (fields.end() - dash < 3) continue;
        MountEntry entry{withoutOctalEscapes(fields[4]), withoutOctalEscapes(dash[1]), withoutOctalEscapes(dash[2])};
        // Listed later is mounted later: over an earlier one on the same point.
        if (holds(entry.mountPoint, path) && (!holding || entry.mountPoint.size() >= holding->mountPoint.size()))
            holding = entry;
        last = std::move(entry);
    }
    return holding ? holding : last;
}

ProbedVolume probeVolume(const std::string& device) {
    ProbedVolume volume;
    const blkid_probe probe = ::blkid_new_probe_from_filename(device.c_str());
    if (!probe) return volume;
    ::blkid_probe_enable_superblocks(probe, 1);
    ::blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
    // RAID signatures lie at the end of a device: no seek to a disc's last sector for them.
    ::blkid_probe_filter_superblocks_usage(probe, BLKID_FLTR_ONLYIN, BLKID_USAGE_FILESYSTEM);
    if (::blkid_do_safeprobe(probe) == 0) {
        const char* value = nullptr;
        if (::blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value) volume.label = value;
        if (::blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0 && value) volume.uuid = value;
    }
    ::blkid_free_probe(probe);
    return volume;
}

ProbedVolume volumeFromLinks(const std::string& device, const std::string& linksFolder) {
    namespace fs = std::filesystem;
    ProbedVolume volume;
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error) return volume;
    const std::pair<const char*, std::string ProbedVolume::*> kinds[] = {{"by-label", &ProbedVolume::label},
                                                                         {"by-uuid", &ProbedVolume::uuid}};
    for (const auto& [folder, field] : kinds) {
        for (fs::directory_iterator it(fs::path(linksFolder) / folder, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code linkError;
            if (fs::canonical(it->path(), linkError) == target && !linkError)
                volume.*field = withoutHexEscapes(it->path().filename().string());
        }
        error.clear();
    }
    return volume;
}

bool removableBlockDevice(unsigned major, unsigned minor, const std::string& sysDevBlock) {
    const std::string node = sysDevBlock + "/" + std::to_string(major) + ":" + std::to_string(minor);
    std::error_code error;
    // The link leads into the disk's folder for a partition: ".." after it is the disk.
    const bool partition = std::filesystem::exists(node + "/partition", error);
    const std::string disk = node + (partition ? "/.." : "");
    // A loop device holds an image of a disc, a medium of its own however
    // fixed the disk the image lies on.
    return firstLine(disk + "/removable") == "1" || std::filesystem::exists(disk + "/loop/backing_file", error);
}

VolumeIdentity volumeIdentityOf(const std::string& folder) {
    try {
        VolumeIdentity identity;
        struct stat st;
        if (folder.empty() || folder.find('\0') != std::string::npos || ::stat(folder.c_str(), &st) != 0)
            return identity;
        char* resolved = ::realpath(folder.c_str(), nullptr);
        const std::string path = resolved ? resolved : folder;
        std::free(resolved);
        std::ifstream in("/proc/self/mountinfo");
        std::ostringstream mountinfo;
        mountinfo << in.rdbuf();
        const auto mount = mountHolding(mountinfo.str(), ::major(st.st_dev), ::minor(st.st_dev), path);
        if (!mount) return identity;

        // A btrfs folder's device number is not its disk's: the mount's source names that.
        std::string device = mount->source.rfind("/dev/", 0) == 0 ? mount->source : std::string();
        if (device.empty()) {
            char* name = ::blkid_devno_to_devname(st.st_dev);
            device = name ? name : "";
            std::free(name);
        }
        identity.removable = mount->fsType == "iso9660" || mount->fsType == "udf";
        if (device.empty()) return identity;
        struct stat node;
        const dev_t disk = ::stat(device.c_str(), &node) == 0 && S_ISBLK(node.st_mode) ? node.st_rdev : st.st_dev;
        identity.removable = identity.removable || removableBlockDevice(::major(disk), ::minor(disk));

        ProbedVolume volume = probeVolume(device);
        if (volume.label.empty() && volume.uuid.empty()) volume = volumeFromLinks(device);
        identity.label = volume.label;
        identity.serial = volume.uuid;
        return identity;
    } catch (...) {
        return {};
    }
}

}  // namespace jor
