// Which disks lie beneath a source and a folder on Linux: a sysfs tree of the
// test's own (partitions, dm-crypt and LVM stacks, md, btrfs, a loop), the
// mount table text, and real loop devices where the machine allows them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "recover/block_topology.h"
#include "recover/recover.h"
#include "recover/temp_folder.h"

namespace clip::recover {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// A sysfs tree: devices under devices/, each with its "dev" file, reached
// from dev/block/MAJ:MIN as the kernel links them.
class FakeSysfs {
 public:
  // A whole disk (or any device without a parent) at devices/<where>/<name>.
  fs::path device(const std::string& where, const std::string& name, DeviceNumber dev) {
    return add(root_.path() / "devices" / where / name, dev, false);
  }
  fs::path partition(const fs::path& disk, const std::string& name, DeviceNumber dev) {
    return add(disk / name, dev, true);
  }
  // `upper` is built on `lower`: lower's holders and upper's slaves.
  void stack(const fs::path& upper, const fs::path& lower) {
    fs::create_directories(upper / "slaves");
    fs::create_directories(lower / "holders");
    fs::create_directory_symlink(lower, upper / "slaves" / lower.filename());
    fs::create_directory_symlink(upper, lower / "holders" / upper.filename());
  }
  void btrfs(const std::string& fsid, const fs::path& member) {
    const fs::path devices = root_.path() / "fs" / "btrfs" / fsid / "devices";
    fs::create_directories(devices);
    fs::create_directory_symlink(member, devices / member.filename());
  }
  std::string root() const { return root_.str(); }

 private:
  fs::path add(const fs::path& folder, DeviceNumber dev, bool partition) {
    fs::create_directories(folder);
    std::ofstream(folder / "dev") << dev.major << ":" << dev.minor << "\n";
    if (partition) std::ofstream(folder / "partition") << "1\n";
    fs::create_directories(root_.path() / "dev" / "block");
    fs::create_directory_symlink(
        folder, root_.path() / "dev" / "block" / (std::to_string(dev.major) + ":" + std::to_string(dev.minor)));
    return folder;
  }
  TempFolder root_{"clipsalvage-sysfs"};
};

std::vector<std::string> sorted(std::vector<std::string> ids) {
  std::sort(ids.begin(), ids.end());
  return ids;
}

TEST(BlockTopology, DisksBelowAndDevicesAboveThroughEveryKindOfStack) {
  FakeSysfs sys;
  const auto sda = sys.device("pci0/block", "sda", {8, 0});
  const auto sda1 = sys.partition(sda, "sda1", {8, 1});
  const auto sda2 = sys.partition(sda, "sda2", {8, 2});
  // LVM on dm-crypt on sda2.
  const auto crypt = sys.device("virtual/block", "dm-0", {253, 0});
  const auto lvm = sys.device("virtual/block", "dm-1", {253, 1});
  sys.stack(crypt, sda2);
  sys.stack(lvm, crypt);
  // md0 mirrors two partitions of two disks.
  const auto sdb = sys.device("pci0/block", "sdb", {8, 16});
  const auto sdc = sys.device("pci0/block", "sdc", {8, 32});
  const auto sdb1 = sys.partition(sdb, "sdb1", {8, 17});
  const auto sdc1 = sys.partition(sdc, "sdc1", {8, 33});
  const auto md = sys.device("virtual/block", "md0", {9, 0});
  sys.stack(md, sdb1);
  sys.stack(md, sdc1);
  // A loop device is a disk of its own; its partitions lie on it.
  const auto loop = sys.device("virtual/block", "loop0", {7, 0});
  sys.partition(loop, "loop0p1", {259, 0});
  // Two device-mapper devices that name each other: a damaged tree.
  const auto a = sys.device("virtual/block", "dm-8", {253, 8});
  const auto b = sys.device("virtual/block", "dm-9", {253, 9});
  sys.stack(a, b);
  sys.stack(b, a);
  const auto sdd = sys.device("pci0/block", "sdd", {8, 48});
  sys.btrfs("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", sdd);
  sys.btrfs("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", sdc1);

  const BlockTopology topology(sys.root());
  using Ids = std::vector<std::string>;
  EXPECT_EQ(topology.disks_below({8, 0}), Ids{"dev:8:0"});
  EXPECT_EQ(topology.disks_below({8, 1}), Ids{"dev:8:0"});
  EXPECT_EQ(topology.disks_below({253, 1}), Ids{"dev:8:0"});
  EXPECT_EQ(sorted(*topology.disks_below({9, 0})), (Ids{"dev:8:16", "dev:8:32"}));
  EXPECT_EQ(topology.disks_below({259, 0}), Ids{"dev:7:0"});
  EXPECT_FALSE(topology.disks_below({8, 99}));
  EXPECT_FALSE(topology.disks_below({253, 8}));

  EXPECT_EQ(sorted(topology.devices_above({8, 0})), (Ids{"dev:253:0", "dev:253:1", "dev:8:0", "dev:8:1", "dev:8:2"}));
  EXPECT_EQ(sorted(topology.devices_above({8, 16})), (Ids{"dev:8:16", "dev:8:17", "dev:9:0"}));
  EXPECT_EQ(sorted(topology.devices_above({253, 8})), (Ids{"dev:253:8", "dev:253:9"}));

  const auto members = topology.btrfs_members("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
  EXPECT_EQ(members.size(), 2u);
  EXPECT_TRUE(std::find(members.begin(), members.end(), DeviceNumber{8, 48}) != members.end());
  EXPECT_TRUE(std::find(members.begin(), members.end(), DeviceNumber{8, 33}) != members.end());
  (void)sda1;
}

TEST(MountTable, EntriesOptionsAndEscapes) {
  const auto mounts = parse_mountinfo(
      "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
      "90 26 0:51 / /mnt/my\\040disk rw shared:5 master:1 - fuseblk /dev/sdb1 rw,user_id=0\n"
      "91 26 0:52 / /merged rw - overlay overlay rw,lowerdir=/l,upperdir=/u/diff,workdir=/u/work\n"
      "garbage line\n");
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].dev, (DeviceNumber{254, 0}));
  EXPECT_EQ(mounts[0].fs_type, "ext4");
  EXPECT_EQ(mounts[0].source, "/dev/vda");
  EXPECT_EQ(mounts[1].mount_point, "/mnt/my disk");
  EXPECT_EQ(mounts[1].fs_type, "fuseblk");
  EXPECT_EQ(mounts[1].source, "/dev/sdb1");
  EXPECT_EQ(mount_option(mounts[2].super_options, "upperdir"), "/u/diff");
  EXPECT_EQ(mount_option(mounts[2].super_options, "dir"), std::nullopt);
  EXPECT_EQ(mount_option("rw,workdir=/w", "workdir"), "/w");
}

// The volume map over a sysfs tree of the test's own that describes this
// machine's real device numbers: the temporary folder's device and a real
// block device's number are placed in it as the test needs.
class VolumeMapOverFakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    struct stat st {};
    ASSERT_EQ(::stat(folder_.str().c_str(), &st), 0);
    folder_dev_ = {major(st.st_dev), minor(st.st_dev)};
    if (folder_dev_.major == 0) GTEST_SKIP() << "the temporary folder is on no block device";
    for (const char* candidate : {"/dev/loop0", "/dev/loop1", "/dev/vda", "/dev/sda", "/dev/nvme0n1"}) {
      struct stat dev {};
      if (::stat(candidate, &dev) == 0 && S_ISBLK(dev.st_mode) && dev.st_rdev != st.st_dev) {
        source_ = candidate;
        source_dev_ = {major(dev.st_rdev), minor(dev.st_rdev)};
        return;
      }
    }
    GTEST_SKIP() << "no block device to stand for the source";
  }

  TempFolder folder_{"clipsalvage-target"};
  TempFolder table_{"clipsalvage-mounts"};
  FakeSysfs sys_;
  DeviceNumber folder_dev_, source_dev_;
  std::string source_;
  int tables_ = 0;
};

TEST_F(VolumeMapOverFakeSysfs, AFolderOnAnEncryptedVolumeOfTheSourceDiskIsRefused) {
  // The source is partition 1 of a disk; the folder's file system lies on
  // an LVM volume over dm-crypt over partition 2 of the same disk.
  const auto disk = sys_.device("pci0/block", "sdx", {8, 240});
  sys_.partition(disk, "sdx1", source_dev_);
  const auto part2 = sys_.partition(disk, "sdx2", {8, 242});
  const auto crypt = sys_.device("virtual/block", "dm-5", {253, 5});
  const auto lvm = sys_.device("virtual/block", "dm-6", folder_dev_);
  sys_.stack(crypt, part2);
  sys_.stack(lvm, crypt);
  const auto volumes = make_linux_volume_map(sys_.root(), table_.str("none"));
  const std::string refusal = check_output_folder(source_, folder_.str(), *volumes);
  EXPECT_NE(refusal.find("源介质上"), std::string::npos) << refusal;
}

TEST_F(VolumeMapOverFakeSysfs, AFolderOnAnotherDiskIsAllowedAndAnUnknownSourceRefused) {
  const auto disk = sys_.device("pci0/block", "sdx", {8, 240});
  sys_.partition(disk, "sdx1", source_dev_);
  sys_.device("pci0/block", "sdy", folder_dev_);
  const auto volumes = make_linux_volume_map(sys_.root(), table_.str("none"));
  EXPECT_EQ(check_output_folder(source_, folder_.str(), *volumes), "");

  FakeSysfs empty;
  const auto blind = make_linux_volume_map(empty.root(), table_.str("none"));
  const std::string refusal = check_output_folder(source_, folder_.str(), *blind);
  EXPECT_NE(refusal.find("无法确定源设备所在的磁盘"), std::string::npos) << refusal;
  // An image file needs no disk at all.
  EXPECT_EQ(check_output_folder(folder_.str("disk.img"), folder_.str(), *blind), "");
}

TEST_F(VolumeMapOverFakeSysfs, FoldersOnFileSystemsWithoutADeviceNumberGoByTheMountTable) {
  // /dev/shm's files carry an anonymous device number (major 0).
  struct stat st {};
  if (::stat("/dev/shm", &st) != 0 || major(st.st_dev) != 0) GTEST_SKIP() << "no /dev/shm with an anonymous number";
  const std::string dev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  const auto disk = sys_.device("pci0/block", "sdx", {8, 240});
  sys_.partition(disk, "sdx1", source_dev_);
  sys_.device("pci0/block", "sdy", folder_dev_);
  auto with_table = [&](const std::string& line) {
    const std::string file = table_.str("mountinfo-" + std::to_string(++tables_));
    std::ofstream(file) << "26 1 " << folder_dev_.major << ":" << folder_dev_.minor << " / / rw - ext4 /dev/x rw\n"
                        << "40 26 " << dev << " / /dev/shm rw - " << line << "\n";
    return make_linux_volume_map(sys_.root(), file);
  };
  // Memory and network file systems lie on no disk of the source.
  EXPECT_EQ(check_output_folder(source_, "/dev/shm", *with_table("tmpfs tmpfs rw")), "");
  EXPECT_EQ(check_output_folder(source_, "/dev/shm", *with_table("fuse.sshfs me@host:/x rw")), "");
  // A FUSE file system over the source's partition (as an NTFS driver
  // mounts one) is found through its mount source.
  EXPECT_NE(check_output_folder(source_, "/dev/shm", *with_table("fuseblk " + source_ + " rw")).find("源介质上"),
            std::string::npos);
  // Anything else unknown is refused for a device source.
  const std::string unknown = check_output_folder(source_, "/dev/shm", *with_table("fuse something rw"));
  EXPECT_NE(unknown.find("无法确定输出文件夹所在的磁盘"), std::string::npos) << unknown;
  // An overlay is judged by the folder that takes its writes.
  EXPECT_EQ(check_output_folder(source_, "/dev/shm",
                                *with_table("overlay overlay rw,lowerdir=/l,upperdir=" + folder_.str())),
            "");
}

// Real devices: a loop device with a partition table and an ext4 file system
// on its first partition (or on the whole device where the kernel reads no
// partition tables), mounted. Needs root and losetup; skipped otherwise.
std::string output_of(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (::pclose(p) != 0) return {};
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

class LoopDisk {
 public:
  LoopDisk() {
    if (::geteuid() != 0) {
      reason_ = "loop devices need root";
      return;
    }
    if (output_of("command -v losetup").empty() || output_of("command -v mkfs.ext4").empty()) {
      reason_ = "losetup or mkfs.ext4 is missing";
      return;
    }
    // 48 MiB with one Linux partition from sector 2048 to the end.
    const fs::path image = dir_.path() / "disk.img";
    {
      std::ofstream out(image, std::ios::binary);
      unsigned char mbr[512] = {};
      unsigned char* entry = mbr + 446;
      entry[4] = 0x83;
      const uint32_t first = 2048, count = 48 * 2048 - 2048;
      std::memcpy(entry + 8, &first, 4);
      std::memcpy(entry + 12, &count, 4);
      mbr[510] = 0x55;
      mbr[511] = 0xAA;
      out.write(reinterpret_cast<const char*>(mbr), sizeof mbr);
    }
    fs::resize_file(image, 48u << 20);
    loop_ = output_of("losetup --show -f -P " + image.string());
    if (loop_.empty()) {
      reason_ = "losetup refused to attach an image";
      return;
    }
    // The kernel reads the partition table while the image is attached; a
    // kernel built without partition tables makes no partition, and the
    // whole device takes the file system instead.
    const std::string name = fs::path(loop_).filename().string();
    if (fs::exists("/sys/block/" + name + "/" + name + "p1")) {
      partition_ = loop_ + "p1";
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!fs::exists(partition_) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    const std::string target = partition_.empty() ? loop_ : partition_;
    mount_ = dir_.path() / "mnt";
    fs::create_directory(mount_);
    if (std::system(("mkfs.ext4 -q -F " + target + " >/dev/null 2>&1").c_str()) != 0 ||
        ::mount(target.c_str(), mount_.c_str(), "ext4", 0, nullptr) != 0) {
      reason_ = "the partition could not be formatted or mounted";
      return;
    }
    mounted_ = true;
  }
  ~LoopDisk() {
    if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
    if (!loop_.empty()) std::system(("losetup -d " + loop_ + " >/dev/null 2>&1").c_str());
  }
  bool ready() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  const std::string& loop() const { return loop_; }
  const std::string& partition() const { return partition_; }
  std::string folder() const { return TempFolder::utf8(mount_); }
  std::string outside() const { return dir_.str(); }

 private:
  TempFolder dir_{"clipsalvage-loop"};
  std::string loop_, partition_, reason_;
  fs::path mount_;
  bool mounted_ = false;
};

TEST(SourceDisk, NeverARecoveryTargetOnARealLoopDisk) {
  LoopDisk disk;
  if (!disk.ready()) GTEST_SKIP() << disk.reason();
  const auto volumes = make_system_volume_map();
  EXPECT_NE(check_output_folder(disk.loop(), disk.folder(), *volumes).find("源介质上"), std::string::npos);
  EXPECT_NE(check_output_folder(disk.loop(), disk.folder() + "/new/sub", *volumes, true).find("源介质上"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(disk.folder() + "/new"));
  EXPECT_EQ(check_output_folder(disk.loop(), disk.outside(), *volumes), "");
  if (disk.partition().empty()) {
    std::printf("this kernel makes no partitions of loop devices: the whole device was used\n");
  } else {
    EXPECT_NE(check_output_folder(disk.partition(), disk.folder(), *volumes).find("源介质上"), std::string::npos);
  }
}

}  // namespace
}  // namespace clip::recover
