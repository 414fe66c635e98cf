// Files and block devices on POSIX systems, read with pread so that two
// threads can read the same descriptor at different offsets. Block devices
// are read past the page cache (O_DIRECT) where the system allows it: a bad
// 512-byte sector then costs only that sector, not the cache page or the
// read-ahead window around it, and the reads follow the device's logical
// sector size.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include "sources/aligned_read.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::sources {
namespace {

ReadError classify(int err) {
  switch (err) {
    case ENODEV:
    case ENXIO:
    case EBADF:
    case ENOTCONN:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
      return ReadError::gone;
    default:
      return ReadError::media;
  }
}

// The open descriptor. Reads that are left running after a stop hold it (see
// BlockSource::detachable), so it closes when the last of them returns.
class FdFile final : public BlockSource {
 public:
  // `unit` is the logical sector size of a descriptor opened with O_DIRECT,
  // 0 for one read through the page cache.
  FdFile(int fd, int64_t sectors, std::size_t unit, bool file)
      : fd_(fd), sectors_(sectors), unit_(unit), cached_reads_(file) {}
  ~FdFile() override { ::close(fd_); }
  FdFile(const FdFile&) = delete;
  FdFile& operator=(const FdFile&) = delete;

  int64_t sector_count() const override { return sectors_; }

  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (cancelled_) return {0, ReadError::cancelled};
    return read_aligned([this](uint64_t offset, std::size_t length,
                               uint8_t* into) { return pread_once(offset, length, into); },
                        unit_, first, count, buffer);
  }

  // A read already inside the kernel can't be taken back: a signal does not
  // end a read that waits on a device or on a user-space file system (the
  // kernel only lets a fatal signal through there, and not even that once
  // the request was handed on). Later reads end at once; the scanner doesn't
  // wait for the one in flight.
  void cancel() override { cancelled_ = true; }
  bool cancelled() const override { return cancelled_; }

  // Image files only: RWF_NOWAIT takes what the page cache holds and never
  // waits for the disk. A device read past the cache would still wait for
  // its request, so devices give nothing here.
  std::size_t read_cached(int64_t first, int64_t count, uint8_t* buffer) override {
#if defined(__linux__) && defined(RWF_NOWAIT)
    if (!cached_reads_ || cancelled_ || first < 0 || count <= 0) return 0;
    const std::size_t want = static_cast<std::size_t>(count * kSectorBytes);
    std::size_t done = 0;
    while (done < want) {
      iovec piece{buffer + done, want - done};
      const ssize_t got = ::preadv2(fd_, &piece, 1, static_cast<off_t>(first * kSectorBytes + static_cast<int64_t>(done)),
                                    RWF_NOWAIT);
      if (got <= 0) {
        // A file system that does not take the flag never will.
        if (got < 0 && errno == EOPNOTSUPP) cached_reads_ = false;
        break;
      }
      done += static_cast<std::size_t>(got);
    }
    return done - done % kSectorBytes;
#else
    (void)first, (void)count, (void)buffer;
    return 0;
#endif
  }

 private:
  // One pread; 0 bytes at the real end of the file or device.
  ReadResult pread_once(uint64_t offset, std::size_t want, uint8_t* buffer) const {
    for (;;) {
      const ssize_t got = ::pread(fd_, buffer, want, static_cast<off_t>(offset));
      if (got >= 0) return {static_cast<std::size_t>(got), ReadError::none};
      if (errno != EINTR) return {0, classify(errno)};
      if (cancelled_) return {0, ReadError::cancelled};
    }
  }

  const int fd_;
  const int64_t sectors_;
  const std::size_t unit_;
  std::atomic<bool> cached_reads_;
  std::atomic<bool> cancelled_{false};
};


std::string kind_text(mode_t mode) {
  if (S_ISDIR(mode)) return "是文件夹";
  if (S_ISFIFO(mode)) return "是命名管道（FIFO）";
  if (S_ISCHR(mode)) return "是字符设备";
  if (S_ISSOCK(mode)) return "是套接字";
  return "是特殊文件";
}

std::string failure(const std::string& path, int err) { return path + ": " + std::strerror(err); }

}  // namespace

OpenResult open_block_source(const std::string& path, int64_t sectors) {
  // Only image files and block devices are sources. Anything else is refused
  // before it is opened: opening a FIFO for reading waits for a writer, a
  // character device or socket has no sectors to read.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {nullptr, failure(path, errno)};
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    return {nullptr, path + ": " + kind_text(st.st_mode) + "，不是镜像文件或块设备"};
  }
  if (is_ewf_path(path)) return open_ewf_source(path, sectors);
  // O_RDONLY only: the scanner never writes to a source, and read-only image
  // files and write-protected devices must open. O_NONBLOCK: should the path
  // have become a FIFO since the check, the open still returns at once.
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  std::size_t unit = 0;
#if defined(__linux__)
  if (S_ISBLK(st.st_mode)) flags |= O_DIRECT;
#endif
  int fd = ::open(path.c_str(), flags);
#if defined(__linux__)
  if (fd < 0 && (flags & O_DIRECT) != 0 && errno == EINVAL) {
    // A device that can't be read past the cache is read through it.
    flags &= ~O_DIRECT;
    fd = ::open(path.c_str(), flags);
  }
#endif
  if (fd < 0) return {nullptr, failure(path, errno)};
  auto refuse = [&](std::string message) {
    ::close(fd);
    return OpenResult{nullptr, std::move(message)};
  };
  if (::fstat(fd, &st) != 0) return refuse(failure(path, errno));
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    return refuse(path + ": " + kind_text(st.st_mode) + "，不是镜像文件或块设备");
  }
  // Reads of files and devices never return EAGAIN; blocking reads are what
  // the scanner expects.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#if defined(__linux__)
  if (S_ISBLK(st.st_mode) && (flags & O_DIRECT) != 0) {
    int logical = 0;
    unit = ::ioctl(fd, BLKSSZGET, &logical) == 0 && logical >= kSectorBytes ? static_cast<std::size_t>(logical)
                                                                             : static_cast<std::size_t>(kSectorBytes);
  }
#endif
  if (sectors < 0) {
    uint64_t bytes = 0;
    if (S_ISREG(st.st_mode)) {
      bytes = static_cast<uint64_t>(st.st_size);
    } else {
#if defined(__linux__)
      if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return refuse(path + ": 无法获得设备的大小: " + std::strerror(errno));
#else
      const off_t end = ::lseek(fd, 0, SEEK_END);
      if (end < 0) return refuse(path + ": 无法获得设备的大小: " + std::strerror(errno));
      bytes = static_cast<uint64_t>(end);
#endif
    }
    sectors = static_cast<int64_t>(bytes / static_cast<uint64_t>(kSectorBytes));
  }
  return {std::make_unique<SharedSource>(std::make_shared<FdFile>(fd, sectors, unit, S_ISREG(st.st_mode))), {}};
}

}  // namespace clip::sources
