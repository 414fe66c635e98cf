#include "imagegen/image_file.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include "base/utf8.h"
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace clip::imagegen {

#ifdef _WIN32

namespace {
[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": error " + std::to_string(GetLastError()));
}
}  // namespace

ImageFile::ImageFile(const std::string& path, int64_t sectors) : path_(path) {
  const std::u16string wide = utf8_to_utf16(path);
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) fail("cannot create", path);
  handle_ = h;
  // Without the sparse attribute NTFS would allocate (and zero) the whole size.
  DWORD returned = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = sectors * kSectorBytes;
  if (!SetFilePointerEx(h, size, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) fail("cannot size", path);
}

ImageFile::~ImageFile() {
  if (handle_) CloseHandle(handle_);
}

void ImageFile::put(int64_t sector, std::span<const uint8_t> bytes) {
  OVERLAPPED at{};
  uint64_t offset = static_cast<uint64_t>(sector * kSectorBytes);
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &at) ||
      written != bytes.size()) {
    fail("cannot write", path_);
  }
}

void ImageFile::close() {
  if (handle_ && !CloseHandle(handle_)) {
    handle_ = nullptr;
    fail("cannot close", path_);
  }
  handle_ = nullptr;
}

#else

namespace {
[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}
}  // namespace

ImageFile::ImageFile(const std::string& path, int64_t sectors) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) fail("cannot create", path);
  if (::ftruncate(fd_, static_cast<off_t>(sectors * kSectorBytes)) != 0) fail("cannot size", path);
}

ImageFile::~ImageFile() {
  if (fd_ >= 0) ::close(fd_);
}

void ImageFile::put(int64_t sector, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                         static_cast<off_t>(sector * kSectorBytes + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("cannot write", path_);
    done += static_cast<std::size_t>(n);
  }
}

void ImageFile::close() {
  int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) fail("cannot close", path_);
}

#endif

}  // namespace clip::imagegen
