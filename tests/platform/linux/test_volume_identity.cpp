// The medium's identity on Linux: the mount table, libblkid on a disc image, udev's links, sysfs.
#include "platform/linux/block_volume.h"
#include "platform/volume_identity.h"
#include "support/host_tool.h"
#include "support/temp_tree.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace jor {
namespace {

using test::TempDir;

TEST(MountHolding, FindsTheMountOfTheDeviceThatHoldsThePath) {
    const std::string mountinfo =
        "22 1 253:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
        "95 22 11:0 / /media/user/CT\\040M\xC3\xBCller rw,nosuid shared:50 master:3 - iso9660 /dev/sr0 ro,uid=1000\n"
        "96 22 253:1 /srv/data /mnt/daten rw,relatime - ext4 /dev/vda1 rw\n"
        "97 22 8:17 / /mnt/stick rw - vfat /dev/sdb1 rw\n"
        "98 22 8:17 / /mnt/stick2 rw - vfat /dev/disk/by-label/A\\134B rw\n"
        "broken line\n"
        "99 22 7:0 / /mnt/iso rw\n"  // no separator
        "100 22 0:45 / /tmp rw,nosuid shared:9 - tmpfs tmpfs rw";
    struct Case {
        unsigned major, minor;
        const char* path;
        std::optional<MountEntry> mount;
    };
    const Case cases[] = {
        {11, 0, "/media/user/CT M\xC3\xBCller/DICOM",
         MountEntry{"/media/user/CT M\xC3\xBCller", "iso9660", "/dev/sr0"}},
        {253, 1, "/home/user", MountEntry{"/", "ext4", "/dev/vda1"}},
        {253, 1, "/mnt/daten/x", MountEntry{"/mnt/daten", "ext4", "/dev/vda1"}},  // the bind mount
        {253, 1, "/mnt/datenbank", MountEntry{"/", "ext4", "/dev/vda1"}},         // a name, not below it
        {8, 17, "/mnt/stick", MountEntry{"/mnt/stick", "vfat", "/dev/sdb1"}},
        {8, 17, "/elsewhere", MountEntry{"/mnt/stick2", "vfat", "/dev/disk/by-label/A\\B"}},  // the last one
        {0, 45, "/tmp/a b", MountEntry{"/tmp", "tmpfs", "tmpfs"}},
        {7, 0, "/mnt/iso", std::nullopt},
        {8, 1, "/", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto found = mountHolding(mountinfo, c.major, c.minor, c.path);
        ASSERT_EQ(found.has_value(), c.mount.has_value()) << c.path;
        if (!found) continue;
        EXPECT_EQ(found->mountPoint, c.mount->mountPoint) << c.path;
        EXPECT_EQ(found->fsType, c.mount->fsType) << c.path;
        EXPECT_EQ(found->source, c.mount->source) << c.path;
    }
}

// The CI kernel may mount no ISO: libblkid reads the image file itself.
TEST(ProbeVolume, LabelAndUuidOfAnIso9660Image) {
    TempDir dir;
    test::writeFile(dir / "disc/DICOM/IMG0001", "DICM");
    const std::string image = dir / "disc.iso";
    ASSERT_TRUE(
        test::onHost("xorriso -as mkisofs -quiet -J -V \"CT M\xC3\xBCller 2008\" "
                     "--modification-date=2008032414050900 -o \"$1\" \"$2\" 2>/dev/null",
                     {image, dir / "disc"}))
        << "xorriso failed: scripts/setup.sh installs it";
    const auto volume = probeVolume(image);
    EXPECT_EQ(volume.label, "CT M\xC3\xBCller 2008");
    EXPECT_EQ(volume.uuid, "2008-03-24-14-05-09-00") << "an ISO's UUID is its creation time";

    test::writeFile(dir / "plain.bin", std::string(64 * 1024, 'x'));
    for (const auto& path : {dir / "plain.bin", dir / "missing.iso"}) {
        const auto none = probeVolume(path);
        EXPECT_EQ(none.label + none.uuid, "") << path;
    }
}

TEST(VolumeFromLinks, UdevLinksOfTheDevice) {
    TempDir dir;
    test::writeFile(dir / "sr0", "");
    test::writeFile(dir / "sdb1", "");
    namespace fs = std::filesystem;
    fs::create_directories(dir / "disk/by-label");
    fs::create_directories(dir / "disk/by-uuid");
    fs::create_symlink("../../sr0", dir / "disk/by-label/CT\\x20M\xC3\xBCller\\x2f2008");
    fs::create_symlink("../../sr0", dir / "disk/by-uuid/2008-03-24-14-05-09-00");
    fs::create_symlink("../../sdb1", dir / "disk/by-uuid/0C1D-2E3F");
    const auto volume = volumeFromLinks(dir / "sr0", dir / "disk");
    EXPECT_EQ(volume.label, "CT M\xC3\xBCller/2008");
    EXPECT_EQ(volume.uuid, "2008-03-24-14-05-09-00");
    const auto stick = volumeFromLinks(dir / "sdb1", dir / "disk");
    EXPECT_EQ(stick.label, "");
    EXPECT_EQ(stick.uuid, "0C1D-2E3F");
    EXPECT_EQ(volumeFromLinks(dir / "sr0", dir / "nothing").uuid, "");
}

TEST(RemovableBlockDevice, TheDiskTellsForItsPartitions) {
    TempDir dir;
    test::makeTree(dir.path(), {"block/sdb/removable=1\n", "block/sdb/sdb1/partition=1\n", "block/sda/removable=0\n",
                                "block/sda/sda1/partition=1\n", "block/sr0/removable=1\n", "block/loop0/removable=0\n",
                                "block/loop0/loop/backing_file=/data/disc.img\n"});
    namespace fs = std::filesystem;
    fs::create_directories(dir / "dev");
    const std::pair<const char*, const char*> links[] = {{"8:16", "../block/sdb"},
                                                         {"8:17", "../block/sdb/sdb1"},
                                                         {"8:1", "../block/sda/sda1"},
                                                         {"11:0", "../block/sr0"},
                                                         {"7:0", "../block/loop0"}};
    for (const auto& [name, target] : links) fs::create_symlink(target, dir / (std::string("dev/") + name));
    struct Case {
        unsigned major, minor;
        bool removable;
    };
    const Case cases[] = {{8, 16, true}, {8, 17, true}, {8, 1, false}, {11, 0, true}, {8, 32, false}, {7, 0, true}};
    for (const auto& c : cases)
        EXPECT_EQ(removableBlockDevice(c.major, c.minor, dir / "dev"), c.removable) << c.major << ":" << c.minor;
}

TEST(VolumeIdentityOf, NothingToTellIsEmptyNotAFailure) {
    TempDir dir;
    for (const std::string& folder : {dir / "missing", std::string("/tmp\0x", 6), std::string()}) {
        const auto identity = volumeIdentityOf(folder);
        EXPECT_EQ(identity.label + identity.serial, "");
        EXPECT_FALSE(identity.removable);
    }
}

}  // namespace
}  // namespace jor
