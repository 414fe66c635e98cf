// Outside Windows there are no drive letters or numbered physical drives to
// list; sources are named by path (files and /dev block devices), so only the
// file size answers.
#include <sys/stat.h>

#include "sources/drives.h"

namespace clip::sources {
namespace {

class PosixProbe final : public DriveProbe {
 public:
  unsigned drive_type(char) override { return 0; }
  std::optional<uint64_t> file_system_bytes(char) override { return std::nullopt; }
  std::optional<uint64_t> volume_bytes(char) override { return std::nullopt; }
  std::optional<uint64_t> disk_bytes(int) override { return std::nullopt; }
  std::optional<StorageDescriptor> device_descriptor(int) override { return std::nullopt; }
  std::optional<uint64_t> file_bytes(const std::string& file_name) override {
    struct stat st {};
    if (::stat(file_name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }
  std::string decimal_separator() override { return "."; }
};

}  // namespace

std::unique_ptr<DriveProbe> make_system_probe() { return std::make_unique<PosixProbe>(); }

}  // namespace clip::sources
