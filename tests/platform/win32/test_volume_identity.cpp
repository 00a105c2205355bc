// The medium's identity on Windows: a CD-ROM drive of the test prefix, a fixed disk, no volume at all.
#include "platform/volume_identity.h"
#include "platform/win32/windows_api.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

// scripts/build-windows.sh makes R: a CD-ROM drive with label "JOR TESTCD" and
// serial 1A2B3C4D (scripts/wine-cdrom-drive.sh).
TEST(VolumeIdentityOnWindows, CdromDriveWithLabelAndSerial) {
    ASSERT_EQ(::GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_CDROM))
        << "drive R: is not the test prefix's CD-ROM drive: scripts/build-windows.sh sets it up";
    for (const char* folder : {"R:\\", "R:\\DICOM\\Studie 1", "r:\\."}) {
        const auto identity = volumeIdentityOf(folder);
        EXPECT_EQ(identity.label, "JOR TESTCD") << folder;
        EXPECT_EQ(identity.serial, "1A2B-3C4D") << folder << ": as vol shows it";
        EXPECT_TRUE(identity.removable) << folder;
    }
}

TEST(VolumeIdentityOnWindows, FixedDiskAndNoVolume) {
    test::TempDir dir;
    EXPECT_FALSE(volumeIdentityOf(dir.path()).removable) << "the prefix's C: is a fixed disk";
    for (const std::string& folder : {std::string(), std::string("C:\\x\0y", 6), std::string("\xFF\xFE")}) {
        const auto identity = volumeIdentityOf(folder);
        EXPECT_EQ(identity.label + identity.serial, "");
        EXPECT_FALSE(identity.removable);
    }
}

}  // namespace
}  // namespace jor
