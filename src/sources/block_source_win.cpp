// Files, volumes and disks on Windows. Reads carry their offset in the
// OVERLAPPED record, so no shared file pointer is moved and two threads can
// read one handle.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>

#include "base/utf8.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::sources {
namespace {

ReadError classify(DWORD err) {
  switch (err) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_INVALID_HANDLE:
    case ERROR_MEDIA_CHANGED:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_DEVICE_REMOVED:
      return ReadError::gone;
    default:
      return ReadError::media;
  }
}

class HandleSource final : public BlockSource {
 public:
  HandleSource(HANDLE handle, int64_t sectors) : handle_(handle), sectors_(sectors) {}
  ~HandleSource() override { CloseHandle(handle_); }
  HandleSource(const HandleSource&) = delete;
  HandleSource& operator=(const HandleSource&) = delete;

  int64_t sector_count() const override { return sectors_; }

  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    ReadResult result;
    if (first < 0 || count <= 0) return result;
    const uint64_t want = static_cast<uint64_t>(count) * kSectorBytes;
    uint64_t offset = static_cast<uint64_t>(first) * kSectorBytes;
    while (result.bytes < want) {
      // ReadFile takes 32-bit lengths; 32 MiB pieces keep every length small
      // and sector-aligned, as volume and disk handles require.
      const DWORD piece = static_cast<DWORD>(std::min<uint64_t>(want - result.bytes, 32u << 20));
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      if (!ReadFile(handle_, buffer + result.bytes, piece, &got, &at)) {
        const DWORD err = GetLastError();
        if (err == ERROR_HANDLE_EOF) break;
        result.error = classify(err);
        return result;
      }
      if (got == 0) break;
      result.bytes += got;
      offset += got;
    }
    return result;
  }

 private:
  HANDLE handle_;
  int64_t sectors_;
};

int64_t measure_sectors(HANDLE handle) {
  LARGE_INTEGER size{};
  if (GetFileSizeEx(handle, &size) && size.QuadPart > 0) return size.QuadPart / kSectorBytes;
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                      &returned, nullptr)) {
    return length.Length.QuadPart / kSectorBytes;
  }
  return 0;
}

}  // namespace

OpenResult open_block_source(const std::string& path, int64_t sectors) {
  if (is_ewf_path(path)) return open_ewf_source(path, sectors);
  const std::u16string wide = utf8_to_utf16(path);
  // GENERIC_READ only: write-protected disks and read-only images open, and
  // nothing can be written through this handle.
  HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return {nullptr, path + ": cannot open (error " + std::to_string(GetLastError()) + ")"};
  }
  if (sectors < 0) sectors = measure_sectors(handle);
  return {std::make_unique<HandleSource>(handle, sectors), {}};
}

}  // namespace clip::sources
