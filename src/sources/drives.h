// Drive probes for the source catalogue: what the machine answers about its
// logical and physical drives goes through DriveProbe (the Win32 one, or a
// fake in tests); captions, sizes and records are pure functions of those
// answers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sources/source_record.h"

namespace clip::sources {

inline constexpr std::size_t kDescriptorBytes = 551;
using StorageDescriptor = std::array<uint8_t, kDescriptorBytes>;

class DriveProbe {
 public:
  virtual ~DriveProbe() = default;
  // Drive type of the root path letter + ":\" (0 unknown, 1 no root, 2
  // removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk).
  virtual unsigned drive_type(char letter) = 0;
  // Total bytes of the volume's file system, nothing when the query fails.
  virtual std::optional<uint64_t> file_system_bytes(char letter) = 0;
  // The volume's own length in bytes, asked of the volume device itself.
  virtual std::optional<uint64_t> volume_bytes(char letter) = 0;
  // Size of physical drive N from its geometry query; nothing when the drive
  // can't be opened or doesn't answer.
  virtual std::optional<uint64_t> disk_bytes(int number) = 0;
  // The storage device descriptor of physical drive N (551 bytes as the
  // device filled them, the last byte zero).
  virtual std::optional<StorageDescriptor> device_descriptor(int number) = 0;
  // Size in bytes of a file, opened for reading with no sharing restriction.
  virtual std::optional<uint64_t> file_bytes(const std::string& file_name) = 0;
  // Decimal separator of the user's number format.
  virtual std::string decimal_separator() = 0;
};

// The probe of this machine (Win32). Elsewhere nothing answers: no drive is
// listed and only files are sized.
std::unique_ptr<DriveProbe> make_system_probe();

// Size in units of 2^30 bytes rounded to two decimals (exact halves to the
// even neighbour), written with as few digits as needed: "74.53", "74.5", "0".
std::string gb_text_from_sectors(int64_t sectors, std::string_view decimal_separator);
std::string gb_text_from_bytes(uint64_t bytes, std::string_view decimal_separator);

// Decimal sector count of a byte size, the remainder dropped.
std::string sectors_text(uint64_t bytes);

// The product text of a storage descriptor: bytes from the product offset up
// to the first zero byte, never at or beyond (descriptor size - 2) nor past
// the buffer; empty for offset 0. Bytes outside printable ASCII become '?'
// so the caption is always valid UTF-8.
std::string product_text(std::span<const uint8_t> descriptor);

// Drive-type text and image index of a listed type; nothing for 0, 1 and
// unknown values.
struct DriveTypeInfo {
  const char* text;
  int image_index;
};
std::optional<DriveTypeInfo> drive_type_info(unsigned drive_type);

struct CatalogueEntry {
  TDData record;
  std::string caption;
  int image_index = 0;
};

inline constexpr int kPhysicalImage = 1;
inline constexpr int kImageFileImage = 7;
inline constexpr int kGroupImage = 0;

// "C:\(硬盘驱动器)74.53GB". A drive whose file-system size can't be had is
// sized from the volume's length; "0" sectors only when neither answers.
std::optional<CatalogueEntry> probe_logical(DriveProbe& probe, char letter);
// product text + " (74.53GB)".
std::optional<CatalogueEntry> probe_physical(DriveProbe& probe, int number);
// The image file as it is, caption = file name; nothing when it can't be sized.
std::optional<CatalogueEntry> probe_image(DriveProbe& probe, const std::string& file_name);

}  // namespace clip::sources
