// Windows source paths read as text: which name a device (a disk, a
// partition, a volume) and which a file. Kept portable so the rules are
// tested natively; the Win32 side asks the device itself for its disks.
#pragma once

#include <optional>
#include <string_view>

namespace clip::recover {

// "\\.\PhysicalDrive0", "\\.\C:", "\\.\HarddiskNPartitionM", "\\?\C:",
// "\\?\Volume{GUID}", "\\?\GLOBALROOT\Device\HarddiskVolume3" and other
// single names in the device namespace are devices; a path that goes on past
// a drive, a volume's root or a device name is a file ("\\?\C:\x.img",
// "\\?\Volume{GUID}\x.img", "\\?\UNC\server\share\x.img"). Case and slashes
// don't matter.
bool is_windows_device_path(std::string_view path);

// N of "\\.\PhysicalDriveN".
std::optional<unsigned> physical_drive_number(std::string_view path);

}  // namespace clip::recover
