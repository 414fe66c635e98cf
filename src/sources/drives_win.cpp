// The drive probe of a Windows machine. Every device is opened with no access
// rights (query only) and closed before the probe returns.
#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "base/utf8.h"
#include "sources/drives.h"

namespace clip::sources {
namespace {

const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class Device {
 public:
  explicit Device(const std::u16string& path, DWORD access = 0)
      : handle_(CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
  ~Device() {
    if (open()) CloseHandle(handle_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::u16string root_path(char letter) { return utf8_to_utf16(std::string(1, letter) + ":\\"); }
std::u16string physical_path(int number) {
  return utf8_to_utf16("\\\\.\\PhysicalDrive" + std::to_string(number));
}

class Win32Probe final : public DriveProbe {
 public:
  unsigned drive_type(char letter) override { return GetDriveTypeW(wide(root_path(letter))); }

  std::optional<uint64_t> file_system_bytes(char letter) override {
    ULARGE_INTEGER free_bytes{}, total{}, total_free{};
    if (!GetDiskFreeSpaceExW(wide(root_path(letter)), &free_bytes, &total, &total_free)) return std::nullopt;
    return total.QuadPart;
  }

  std::optional<uint64_t> volume_bytes(char letter) override {
    Device device(utf8_to_utf16("\\\\.\\" + std::string(1, letter) + ":"));
    if (!device.open()) return std::nullopt;
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (!DeviceIoControl(device.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                         nullptr)) {
      return std::nullopt;
    }
    return static_cast<uint64_t>(length.Length.QuadPart);
  }

  std::optional<uint64_t> disk_bytes(int number) override {
    Device device(physical_path(number));
    if (!device.open()) return std::nullopt;
    // 24 bytes of geometry, then the 64-bit disk size; the partition and
    // detection data that may follow are not asked for.
    uint8_t out[40] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(device.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, out, sizeof out, &returned,
                         nullptr)) {
      return std::nullopt;
    }
    int64_t size = 0;
    std::memcpy(&size, out + 24, sizeof size);
    return size < 0 ? 0 : static_cast<uint64_t>(size);
  }

  std::optional<StorageDescriptor> device_descriptor(int number) override {
    Device device(physical_path(number));
    if (!device.open()) return std::nullopt;
    uint8_t query[12] = {};  // device property, standard query
    StorageDescriptor out{};
    const uint32_t size = kDescriptorBytes;
    std::memcpy(out.data() + 4, &size, sizeof size);
    DWORD returned = 0;
    if (!DeviceIoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(),
                         static_cast<DWORD>(out.size()), &returned, nullptr)) {
      return std::nullopt;
    }
    out[kDescriptorBytes - 1] = 0;
    return out;
  }

  std::optional<uint64_t> file_bytes(const std::string& file_name) override {
    Device file(utf8_to_utf16(image_device_path(file_name)), GENERIC_READ);
    if (!file.open()) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
  }

  std::string decimal_separator() override {
    wchar_t buffer[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) <= 1) return ".";
    return utf16_to_utf8(reinterpret_cast<const char16_t*>(buffer));
  }
};

}  // namespace

std::unique_ptr<DriveProbe> make_system_probe() { return std::make_unique<Win32Probe>(); }

}  // namespace clip::sources
