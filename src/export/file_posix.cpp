// Export files on POSIX systems.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "export/file.h"

namespace clip::video {
namespace {

std::string reason() { return std::strerror(errno); }

int fd_of(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

File::~File() { close(); }

File::Open File::create_new(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = reason();
    return errno == EEXIST ? Open::exists : Open::failed;
  }
  handle_ = fd;
  return Open::done;
}

bool File::open_read(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = reason();
    return false;
  }
  handle_ = fd;
  return true;
}

bool File::write(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_of(handle_), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = reason();
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int64_t File::read(uint8_t* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_of(handle_), into, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error_ = reason();
    return -1;
  }
}

bool File::seek(int64_t offset) {
  if (::lseek(fd_of(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
    error_ = reason();
    return false;
  }
  return true;
}

int64_t File::size() {
  struct stat st {};
  if (::fstat(fd_of(handle_), &st) != 0) {
    error_ = reason();
    return -1;
  }
  return st.st_size;
}

bool File::close() {
  if (handle_ == -1) return true;
  const int rc = ::close(fd_of(handle_));
  handle_ = -1;
  if (rc != 0) error_ = reason();
  return rc == 0;
}

Rename rename_new(const std::string& from, const std::string& to, std::string& error) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return Rename::done;
  if (errno == EEXIST) {
    error = reason();
    return Rename::exists;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    error = reason();
    return Rename::failed;
  }
  // File systems without the no-replace rename: a hard link fails on an
  // existing name just as well, then the old name goes.
  if (::link(from.c_str(), to.c_str()) != 0) {
    error = reason();
    return errno == EEXIST ? Rename::exists : Rename::failed;
  }
  // The file is complete under its new name; a second name left behind
  // holds the same bytes.
  ::unlink(from.c_str());
  return Rename::done;
}

bool remove_file(const std::string& path, std::string& error) {
  if (::unlink(path.c_str()) == 0) return true;
  error = reason();
  return false;
}

}  // namespace clip::video
