#include "recover/device_path.h"

#include <gtest/gtest.h>

namespace clip::recover {
namespace {

TEST(WindowsSourcePath, DevicesAndFilesByTheirForm) {
  struct Case {
    const char* path;
    bool device;
  };
  const Case cases[] = {
      {"\\\\.\\PhysicalDrive0", true},
      {"\\\\.\\PHYSICALDRIVE12", true},
      {"\\\\.\\E:", true},
      {"\\\\?\\E:", true},
      {"\\\\.\\Harddisk1Partition2", true},
      {"\\\\?\\Volume{6b29fc40-ca47-1067-b31d-00dd010662da}", true},
      {"\\\\?\\Volume{6b29fc40-ca47-1067-b31d-00dd010662da}\\", true},
      {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3", true},
      {"//?/globalroot/device/harddiskvolume3", true},
      {"\\\\.\\CdRom0", true},
      {"\\\\?\\C:\\cases\\disk.img", false},
      {"\\\\.\\C:\\cases\\disk.img", false},
      {"\\\\?\\Volume{6b29fc40-ca47-1067-b31d-00dd010662da}\\disk.img", false},
      {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\cases\\disk.img", false},
      {"\\\\?\\UNC\\server\\share\\disk.img", false},
      {"C:\\cases\\disk.img", false},
      {"disk.img", false},
      {"/dev/sdb", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_windows_device_path(c.path), c.device) << c.path;
}

TEST(WindowsSourcePath, PhysicalDriveNumbers) {
  EXPECT_EQ(physical_drive_number("\\\\.\\PhysicalDrive3"), 3u);
  EXPECT_EQ(physical_drive_number("\\\\.\\PHYSICALDRIVE17"), 17u);
  EXPECT_FALSE(physical_drive_number("\\\\.\\PhysicalDrive"));
  EXPECT_FALSE(physical_drive_number("\\\\.\\PhysicalDrive1x"));
  EXPECT_FALSE(physical_drive_number("\\\\.\\E:"));
}

}  // namespace
}  // namespace clip::recover
