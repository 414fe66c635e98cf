// A machine without drives for the window tests: the source catalogue stays
// empty, so nothing depends on the disks of the machine running the tests.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "sources/drives.h"
#include "ui/wide.h"

namespace clip::test {

class NoDrives : public clip::sources::DriveProbe {
 public:
  unsigned drive_type(char) override { return 1; }
  std::optional<uint64_t> file_system_bytes(char) override { return std::nullopt; }
  std::optional<uint64_t> volume_bytes(char) override { return std::nullopt; }
  std::optional<uint64_t> disk_bytes(int) override { return std::nullopt; }
  std::optional<clip::sources::StorageDescriptor> device_descriptor(int) override { return std::nullopt; }
  std::optional<uint64_t> file_bytes(const std::string&) override { return std::nullopt; }
  std::string decimal_separator() override { return "."; }
};

// No drives either, but image files are found as the system sees them.
class FileProbe : public NoDrives {
 public:
  std::optional<uint64_t> file_bytes(const std::string& name) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(ui::widen(name).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
};

}  // namespace clip::test
