// Output files, the disks beneath a path and SHA-256 (libcrypto) on POSIX
// systems.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/btrfs.h>
#include <sys/ioctl.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "recover/block_topology.h"
#include "recover/output_file.h"
#include "recover/recover.h"

namespace clip::recover {
namespace {

std::string reason(int err) { return std::strerror(err); }

bool seek_fd(intptr_t handle, int64_t offset, std::string& error) {
  if (::lseek(static_cast<int>(handle), static_cast<off_t>(offset), SEEK_SET) < 0) {
    error = reason(errno);
    return false;
  }
  return true;
}

}  // namespace

struct Sha256::State {
  EVP_MD_CTX* ctx = nullptr;
  bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) == 1;
}
Sha256::~Sha256() { EVP_MD_CTX_free(state_->ctx); }
bool Sha256::ok() const { return state_->ok; }
void Sha256::release_thread() { OPENSSL_thread_stop(); }
bool Sha256::update(const uint8_t* data, std::size_t size) {
  if (state_->ok && size > 0) state_->ok = EVP_DigestUpdate(state_->ctx, data, size) == 1;
  return state_->ok;
}
std::string Sha256::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!state_->ok || EVP_DigestFinal_ex(state_->ctx, digest, &size) != 1 || size != 32) {
    state_->ok = false;
    return {};
  }
  state_->ok = false;  // ended: no more updates
  std::string text;
  char pair[3];
  for (unsigned i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

OutputFile::~OutputFile() { close(); }

Create OutputFile::create_new(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    error_ = reason(err);
    return err == EEXIST ? Create::exists : Create::failed;
  }
  handle_ = fd;
  path_ = path;
  written_ = synced_to_ = 0;
  return Create::created;
}

bool OutputFile::write(const uint8_t* data, std::size_t size) {
  const int fd = static_cast<int>(handle_);
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = reason(errno);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
#if defined(__linux__)
  // Start writing what is there to the disk now, without waiting for it, so
  // the flush at the end only waits for the last piece.
  constexpr uint64_t kWritebackStep = 1 << 20;
  if (written_ - synced_to_ >= kWritebackStep) {
    ::sync_file_range(fd, static_cast<off_t>(synced_to_), static_cast<off_t>(written_ - synced_to_),
                      SYNC_FILE_RANGE_WRITE);
    synced_to_ = written_;
  }
#endif
  return true;
}

bool OutputFile::seek(int64_t offset) { return seek_fd(handle_, offset, error_); }

bool OutputFile::flush() {
  while (::fsync(static_cast<int>(handle_)) != 0) {
    if (errno == EINTR) continue;
    error_ = reason(errno);
    return false;
  }
  return true;
}

bool OutputFile::close() {
  if (handle_ < 0) return true;
  const int rc = ::close(static_cast<int>(handle_));
  handle_ = -1;
  // After a failed close the descriptor is gone all the same (and must not
  // be closed again, EINTR included); the data may not have been written.
  if (rc != 0) error_ = reason(errno);
  return rc == 0;
}

Create OutputFile::rename_to(const std::string& target) {
#if defined(__linux__)
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    path_ = target;
    return Create::created;
  }
  if (errno == EEXIST) return Create::exists;
  if (errno != EINVAL && errno != ENOSYS) {
    error_ = reason(errno);
    return Create::failed;
  }
#endif
  // Without a no-replace rename: a hard link fails on an existing name, then
  // the old name goes.
  if (::link(path_.c_str(), target.c_str()) != 0) {
    if (errno == EEXIST) return Create::exists;
    error_ = reason(errno);
    return Create::failed;
  }
  if (::unlink(path_.c_str()) != 0) {
    error_ = reason(errno);
    ::unlink(target.c_str());
    return Create::failed;
  }
  path_ = target;
  return Create::created;
}

bool OutputFile::remove() {
  close();
  if (::unlink(path_.c_str()) != 0) {
    error_ = reason(errno);
    return false;
  }
  return true;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = reason(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

int64_t InputFile::read(uint8_t* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), into, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error_ = reason(errno);
    return -1;
  }
}

bool InputFile::seek(int64_t offset) { return seek_fd(handle_, offset, error_); }

int64_t InputFile::size() {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) {
    error_ = reason(errno);
    return -1;
  }
  return st.st_size;
}

void InputFile::close() {
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool is_folder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool sync_folder(const std::string& folder, std::string& error) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = reason(errno);
    return false;
  }
  int rc;
  while ((rc = ::fsync(fd)) != 0 && errno == EINTR) {
  }
  // Some file systems can't sync a folder (EINVAL): their renames are as
  // durable as they get.
  const bool ok = rc == 0 || errno == EINVAL;
  if (!ok) error = reason(errno);
  ::close(fd);
  return ok;
}

std::string create_folder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return ec ? ec.message() : std::string();
}

std::string parent_folder(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  if (slash == std::string::npos) return p == "." || p == ".." ? std::string() : ".";
  if (slash == 0) return p.size() > 1 ? "/" : "";
  return p.substr(0, slash);
}

namespace {

std::string read_text(const char* path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

DeviceNumber number_of(dev_t dev) { return {major(dev), minor(dev)}; }

const MountEntry* mount_of(const std::vector<MountEntry>& mounts, DeviceNumber dev) {
  // The last entry of a device is the one on top when mounts are stacked.
  const MountEntry* found = nullptr;
  for (const auto& m : mounts) {
    if (m.dev == dev) found = &m;
  }
  return found;
}

class PosixVolumes final : public VolumeMap {
 public:
  PosixVolumes(std::string sys_root, std::string mountinfo)
      : topology_(std::move(sys_root)), mountinfo_(std::move(mountinfo)) {}

  Medium source_medium(const std::string& device_path) override {
    struct stat st {};
    // A source that is missing or not a device: the open reports it.
    if (::stat(device_path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    Medium medium;
    const auto disks = topology_.disks_below(number_of(st.st_rdev));
    if (!disks) {
      medium.unknown = "无法从 /sys 确定 " + device_path + " 所在的磁盘";
      return medium;
    }
    for (const auto& disk : *disks) {
      unsigned maj = 0, min = 0;
      if (std::sscanf(disk.c_str(), "dev:%u:%u", &maj, &min) != 2) continue;
      for (const auto& id : topology_.devices_above({maj, min})) add(medium, id);
      add(medium, disk);
    }
    return medium;
  }

  Medium folder_medium(const std::string& folder) override { return folder_medium(folder, 0); }

 private:
  static void add(Medium& medium, const std::string& id) {
    for (const auto& have : medium.ids) {
      if (have == id) return;
    }
    medium.ids.push_back(id);
  }

  Medium device_medium(DeviceNumber dev, const std::string& what) {
    Medium medium;
    add(medium, device_id(dev));
    const auto disks = topology_.disks_below(dev);
    if (!disks) {
      medium.unknown = "无法从 /sys 确定 " + what + " 所在的磁盘";
      return medium;
    }
    for (const auto& disk : *disks) add(medium, disk);
    return medium;
  }

  Medium folder_medium(const std::string& folder, int depth) {
    Medium medium;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
      medium.unknown = folder + "：" + reason(errno);
      return medium;
    }
    const DeviceNumber dev = number_of(st.st_dev);
    // Files on a block device carry its number; file systems that are not
    // one block device (btrfs, overlays, FUSE, tmpfs, network) get an
    // anonymous number with major 0, found through the mount table.
    if (dev.major != 0) return device_medium(dev, folder);
    const auto mounts = parse_mountinfo(read_text(mountinfo_.c_str()));
    const MountEntry* mount = mount_of(mounts, dev);
    if (!mount) {
      medium.unknown = "无法确定 " + folder + " 所在的文件系统";
      return medium;
    }
    if (is_diskless_filesystem(mount->fs_type)) return medium;
    if (mount->fs_type == "overlay" && depth < 4) {
      if (const auto upper = mount_option(mount->super_options, "upperdir")) return folder_medium(*upper, depth + 1);
    }
#if defined(__linux__)
    if (mount->fs_type == "btrfs") {
      if (auto members = btrfs_members(folder); !members.empty()) {
        for (const auto& member : members) {
          const Medium part = device_medium(member, folder);
          for (const auto& id : part.ids) add(medium, id);
          if (!part.unknown.empty()) medium.unknown = part.unknown;
        }
        return medium;
      }
    }
#endif
    struct stat source {};
    if (!mount->source.empty() && mount->source[0] == '/' && ::stat(mount->source.c_str(), &source) == 0 &&
        S_ISBLK(source.st_mode)) {
      return device_medium(number_of(source.st_rdev), folder);
    }
    medium.unknown = "无法确定 " + folder + "（" + mount->fs_type + " " + mount->source + "）所在的磁盘";
    return medium;
  }

#if defined(__linux__)
  std::vector<DeviceNumber> btrfs_members(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {};
    btrfs_ioctl_fs_info_args info{};
    const int rc = ::ioctl(fd, BTRFS_IOC_FS_INFO, &info);
    ::close(fd);
    if (rc != 0) return {};
    char uuid[40];
    const unsigned char* u = info.fsid;
    std::snprintf(uuid, sizeof uuid, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[0],
                  u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
    return topology_.btrfs_members(uuid);
  }
#endif

  BlockTopology topology_;
  std::string mountinfo_;
};

}  // namespace

std::string special_filesystem(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return {};
  const auto mounts = parse_mountinfo(read_text("/proc/self/mountinfo"));
  const MountEntry* mount = mount_of(mounts, number_of(st.st_dev));
  if (mount && is_pseudo_filesystem(mount->fs_type)) {
    return "系统的虚拟文件系统（" + mount->fs_type + "），不能存放文件";
  }
  return {};
}

std::unique_ptr<VolumeMap> make_linux_volume_map(std::string sys_root, std::string mountinfo) {
  return std::make_unique<PosixVolumes>(std::move(sys_root), std::move(mountinfo));
}

std::unique_ptr<VolumeMap> make_system_volume_map() {
  return make_linux_volume_map("/sys", "/proc/self/mountinfo");
}

}  // namespace clip::recover
