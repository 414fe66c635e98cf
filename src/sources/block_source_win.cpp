// Files, volumes and disks on Windows. The handle is opened for overlapped
// I/O: every read carries its offset and its own event, so no shared file
// pointer moves, two threads can read one handle, and cancel() can take back
// reads in flight on any thread with CancelIoEx. Disks and volumes are read
// in whole logical sectors (4096 bytes on native 4K disks), through an
// aligned bounce buffer where the scanner's 512-byte sectors don't line up.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "base/utf8.h"
#include "sources/aligned_read.h"
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

std::string system_text(DWORD err) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string wide;
  if (n > 0 && text != nullptr) wide.assign(reinterpret_cast<const char16_t*>(text), n);
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == u'\r' || wide.back() == u'\n' || wide.back() == u' ' || wide.back() == u'.'))
    wide.pop_back();
  std::string reason = wide.empty() ? "error" : utf16_to_utf8(wide);
  return reason + " (" + std::to_string(err) + ")";
}

// An event for one overlapped request, closed with it.
class Request {
 public:
  explicit Request(uint64_t offset) : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    at_.Offset = static_cast<DWORD>(offset);
    at_.OffsetHigh = static_cast<DWORD>(offset >> 32);
    at_.hEvent = event_;
  }
  ~Request() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  bool ready() const { return event_ != nullptr; }
  OVERLAPPED* get() { return &at_; }

 private:
  HANDLE event_;
  OVERLAPPED at_{};
};

// A device control on the overlapped handle, waited for.
bool control(HANDLE handle, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD& returned) {
  Request request(0);
  if (!request.ready()) return false;
  returned = 0;
  if (DeviceIoControl(handle, code, in, in_size, out, out_size, nullptr, request.get()) ||
      GetLastError() == ERROR_IO_PENDING) {
    return GetOverlappedResult(handle, request.get(), &returned, TRUE) != 0;
  }
  return false;
}

// The logical sector of a disk or volume; 0 for a file, which takes reads at
// any offset.
std::size_t logical_sector(HANDLE handle) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAccessAlignmentProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment{};
  DWORD returned = 0;
  if (control(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &alignment, sizeof alignment, returned) &&
      returned >= offsetof(STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR, BytesPerPhysicalSector) &&
      alignment.BytesPerLogicalSector >= kSectorBytes) {
    return alignment.BytesPerLogicalSector;
  }
  DISK_GEOMETRY_EX geometry{};
  if (control(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, returned) &&
      returned >= sizeof(DISK_GEOMETRY) && geometry.Geometry.BytesPerSector >= kSectorBytes) {
    return geometry.Geometry.BytesPerSector;
  }
  return 0;
}

// The open handle. Reads that are left running after a stop hold it (see
// BlockSource::detachable), so it closes when the last of them returns.
class HandleFile final : public BlockSource {
 public:
  HandleFile(HANDLE handle, int64_t sectors, std::size_t unit) : handle_(handle), sectors_(sectors), unit_(unit) {}
  ~HandleFile() override { CloseHandle(handle_); }
  HandleFile(const HandleFile&) = delete;
  HandleFile& operator=(const HandleFile&) = delete;

  int64_t sector_count() const override { return sectors_; }

  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (cancelled_) return {0, ReadError::cancelled};
    const RawRead raw = [this](uint64_t offset, std::size_t length, uint8_t* into) { return read_once(offset, length, into); };
    return read_aligned(raw, unit_, first, count, buffer);
  }

  void cancel() override {
    cancelled_ = true;
    CancelIoEx(handle_, nullptr);
  }
  bool cancelled() const override { return cancelled_; }

 private:
  // One overlapped read. A cancel() that comes between the flag test and the
  // request still reaches it: cancel() sets the flag before CancelIoEx, and
  // the flag is tested again once the request is in flight.
  ReadResult read_once(uint64_t offset, std::size_t length, uint8_t* into) {
    // ReadFile takes 32-bit lengths; 32 MiB pieces keep every length small and
    // sector-aligned.
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(length, 32u << 20));
    Request request(offset);
    if (!request.ready()) return {0, ReadError::media};
    DWORD got = 0;
    BOOL ok = ReadFile(handle_, into, piece, nullptr, request.get());
    DWORD err = ok ? 0 : GetLastError();
    if (ok || err == ERROR_IO_PENDING) {
      if (!ok && cancelled_) CancelIoEx(handle_, request.get());
      ok = GetOverlappedResult(handle_, request.get(), &got, TRUE);
      err = ok ? 0 : GetLastError();
    }
    if (ok) return {got, ReadError::none};
    if (err == ERROR_HANDLE_EOF) return {0, ReadError::none};
    if (err == ERROR_OPERATION_ABORTED) return {0, ReadError::cancelled};
    return {0, classify(err)};
  }

  const HANDLE handle_;
  const int64_t sectors_;
  const std::size_t unit_;
  std::atomic<bool> cancelled_{false};
};


// The size in sectors, or -1 with the system's reason when it can't be told.
int64_t measure_sectors(HANDLE handle, std::string& reason) {
  LARGE_INTEGER size{};
  const bool file = GetFileSizeEx(handle, &size) != 0;
  if (file && size.QuadPart > 0) return size.QuadPart / kSectorBytes;
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (control(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, returned)) {
    return length.Length.QuadPart / kSectorBytes;
  }
  const DWORD err = GetLastError();
  if (file) return 0;  // an empty file: its size is known, and 0
  reason = system_text(err);
  return -1;
}

}  // namespace

OpenResult open_block_source(const std::string& path, int64_t sectors) {
  if (is_ewf_path(path)) return open_ewf_source(path, sectors);
  const std::u16string wide = utf8_to_utf16(path);
  // GENERIC_READ only: write-protected disks and read-only images open, and
  // nothing can be written through this handle.
  HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {nullptr, path + ": " + system_text(GetLastError())};
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    // Pipes, consoles and the like have no sectors.
    CloseHandle(handle);
    return {nullptr, path + ": 不是镜像文件或磁盘"};
  }
  if (sectors < 0) {
    std::string reason;
    sectors = measure_sectors(handle, reason);
    if (sectors < 0) {
      CloseHandle(handle);
      return {nullptr, path + ": 无法获得设备的大小: " + reason};
    }
  }
  const std::size_t unit = logical_sector(handle);
  return {std::make_unique<SharedSource>(std::make_shared<HandleFile>(handle, sectors, unit)), {}};
}

}  // namespace clip::sources
