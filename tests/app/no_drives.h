// A machine without drives for the window tests: the source catalogue stays
// empty, so nothing depends on the disks of the machine running the tests.
#pragma once

#include <optional>
#include <string>

#include "sources/drives.h"

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

}  // namespace clip::test
