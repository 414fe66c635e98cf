// Files and block devices on POSIX systems, read with pread so that two
// threads can read the same descriptor at different offsets.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::sources {
namespace {

ReadError classify(int err) {
  switch (err) {
    case ENODEV:
    case ENXIO:
    case EBADF:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
      return ReadError::gone;
    default:
      return ReadError::media;
  }
}

class FdSource final : public BlockSource {
 public:
  FdSource(int fd, int64_t sectors) : fd_(fd), sectors_(sectors) {}
  ~FdSource() override { ::close(fd_); }
  FdSource(const FdSource&) = delete;
  FdSource& operator=(const FdSource&) = delete;

  int64_t sector_count() const override { return sectors_; }

  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    ReadResult result;
    if (first < 0 || count <= 0) return result;
    const std::size_t want = static_cast<std::size_t>(count * kSectorBytes);
    off_t offset = static_cast<off_t>(first * kSectorBytes);
    while (result.bytes < want) {
      const ssize_t got = ::pread(fd_, buffer + result.bytes, want - result.bytes, offset);
      if (got < 0) {
        if (errno == EINTR) continue;
        result.error = classify(errno);
        return result;
      }
      if (got == 0) break;  // the real end of the file or device
      result.bytes += static_cast<std::size_t>(got);
      offset += got;
    }
    return result;
  }

 private:
  int fd_;
  int64_t sectors_;
};

}  // namespace

OpenResult open_block_source(const std::string& path, int64_t sectors) {
  if (is_ewf_path(path)) return open_ewf_source(path, sectors);
  // O_RDONLY only: the scanner never writes to a source, and read-only image
  // files and write-protected devices must open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {nullptr, path + ": " + std::strerror(errno)};
  if (sectors < 0) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const std::string error = path + ": " + std::strerror(errno);
      ::close(fd);
      return {nullptr, error};
    }
    uint64_t bytes = 0;
    if (S_ISREG(st.st_mode)) {
      bytes = static_cast<uint64_t>(st.st_size);
    } else if (S_ISBLK(st.st_mode)) {
#if defined(__linux__)
      if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) bytes = 0;
#else
      const off_t end = ::lseek(fd, 0, SEEK_END);
      bytes = end > 0 ? static_cast<uint64_t>(end) : 0;
#endif
    } else {
      ::close(fd);
      return {nullptr, path + ": not a file or block device"};
    }
    sectors = static_cast<int64_t>(bytes / static_cast<uint64_t>(kSectorBytes));
  }
  return {std::make_unique<FdSource>(fd, sectors), {}};
}

}  // namespace clip::sources
