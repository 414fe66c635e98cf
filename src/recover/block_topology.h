// How Linux block devices stack, as sysfs and the mount table show them:
// partitions under their disk, device-mapper (dm-crypt, LVM) and md devices
// over the devices in their "slaves" folder, each device's users in its
// "holders" folder, the members of a btrfs file system under
// /sys/fs/btrfs/FSID/devices. Everything is read below a root folder and from
// a mount table text, so tests can lay out a tree of their own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clip::recover {

class VolumeMap;

struct DeviceNumber {
  unsigned major = 0;
  unsigned minor = 0;
  bool operator==(const DeviceNumber&) const = default;
};

// "dev:8:0"
std::string device_id(DeviceNumber dev);

class BlockTopology {
 public:
  explicit BlockTopology(std::string sys_root = "/sys");

  // The whole disks beneath a device, as ids: its slaves followed down to the
  // bottom, a partition taken to its disk. Nothing when sysfs does not know
  // the device.
  std::optional<std::vector<std::string>> disks_below(DeviceNumber dev) const;
  // The device and every device stacked on it: its partitions and their
  // holders, and the holders' holders.
  std::vector<std::string> devices_above(DeviceNumber dev) const;
  // The member devices of a mounted btrfs file system (its fsid as UUID text).
  std::vector<DeviceNumber> btrfs_members(const std::string& fsid) const;

 private:
  std::optional<std::string> device_folder(DeviceNumber dev) const;
  void collect_below(const std::string& folder, int depth, std::vector<std::string>& disks, bool& ok) const;
  void collect_above(const std::string& folder, int depth, std::vector<std::string>& ids) const;

  std::string root_;
};

// One line of /proc/self/mountinfo.
struct MountEntry {
  DeviceNumber dev;          // st_dev of the files on this mount
  std::string mount_point;
  std::string fs_type;       // "ext4", "btrfs", "overlay", "fuse.sshfs", ...
  std::string source;        // "/dev/sda1", "tmpfs", "server:/export", ...
  std::string super_options; // "rw,lowerdir=...,upperdir=..."
};

// The entries of a mountinfo text, octal escapes ("\040") decoded.
std::vector<MountEntry> parse_mountinfo(std::string_view text);

// The value of one option in a comma-separated option text.
std::optional<std::string> mount_option(std::string_view options, std::string_view key);

// File systems that keep no data on a local disk: memory and network.
bool is_diskless_filesystem(std::string_view fs_type);
// File systems that hold no user files at all (/proc, /sys, cgroups, ...).
bool is_pseudo_filesystem(std::string_view fs_type);

// The volume map of this system, read from a sysfs tree at `sys_root` and
// the mount table in the file `mountinfo`.
std::unique_ptr<VolumeMap> make_linux_volume_map(std::string sys_root, std::string mountinfo);

}  // namespace clip::recover
