#include "sources/drives.h"

#include <cmath>
#include <cstring>

namespace clip::sources {
namespace {

std::string hundredths_text(long double hundredths, std::string_view separator) {
  // nearbyint rounds in the current mode, which is to-nearest-even unless
  // someone changed it; the halves of this value are exact in long double.
  const long double rounded = std::nearbyintl(hundredths);
  const uint64_t value = rounded <= 0 ? 0 : static_cast<uint64_t>(rounded);
  std::string text = std::to_string(value / 100);
  const unsigned frac = static_cast<unsigned>(value % 100);
  if (frac != 0) {
    text += separator;
    text += static_cast<char>('0' + frac / 10);
    if (frac % 10 != 0) text += static_cast<char>('0' + frac % 10);
  }
  return text;
}

uint32_t le32(std::span<const uint8_t> bytes, std::size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

std::string gb_text_from_sectors(int64_t sectors, std::string_view decimal_separator) {
  const long double s = static_cast<long double>(sectors);
  return hundredths_text(s / 1024 / 1024 / 2 * 100, decimal_separator);
}

std::string gb_text_from_bytes(uint64_t bytes, std::string_view decimal_separator) {
  const long double d = static_cast<long double>(bytes);
  return hundredths_text(d / 512 / 1024 / 1024 / 2 * 100, decimal_separator);
}

std::string sectors_text(uint64_t bytes) { return std::to_string(bytes / 512); }

std::string product_text(std::span<const uint8_t> descriptor) {
  if (descriptor.size() < 20) return {};
  const uint32_t size = le32(descriptor, 4);
  const uint32_t offset = le32(descriptor, 16);
  if (offset == 0) return {};
  const std::size_t limit =
      std::min<std::size_t>(descriptor.size(), size >= 2 ? static_cast<std::size_t>(size - 2) : 0);
  std::string text;
  for (std::size_t i = offset; i < limit && descriptor[i] != 0; ++i) {
    const uint8_t c = descriptor[i];
    text += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  return text;
}

std::optional<DriveTypeInfo> drive_type_info(unsigned drive_type) {
  switch (drive_type) {
    case 2: return DriveTypeInfo{"移动驱动器", 1};
    case 3: return DriveTypeInfo{"硬盘驱动器", 5};
    case 4: return DriveTypeInfo{"网络驱动器", 6};
    case 5: return DriveTypeInfo{"光盘驱动器", 4};
    case 6: return DriveTypeInfo{"虚拟驱动器", 7};
    default: return std::nullopt;
  }
}

std::optional<CatalogueEntry> probe_logical(DriveProbe& probe, char letter) {
  const auto type = drive_type_info(probe.drive_type(letter));
  if (!type) return std::nullopt;
  auto bytes = probe.file_system_bytes(letter);
  if (!bytes) bytes = probe.volume_bytes(letter);
  const uint64_t size = bytes.value_or(0);
  CatalogueEntry entry;
  entry.record = TDData{std::string(1, letter) + ":", sectors_text(size), "L"};
  entry.caption = std::string(1, letter) + ":\\(" + type->text + ")" +
                  gb_text_from_sectors(static_cast<int64_t>(size / 512), probe.decimal_separator()) + "GB";
  entry.image_index = type->image_index;
  return entry;
}

std::optional<CatalogueEntry> probe_physical(DriveProbe& probe, int number) {
  const auto bytes = probe.disk_bytes(number);
  if (!bytes) return std::nullopt;
  const auto descriptor = probe.device_descriptor(number);
  if (!descriptor) return std::nullopt;
  CatalogueEntry entry;
  entry.record = TDData{std::to_string(number), sectors_text(*bytes), "P"};
  entry.caption = product_text(*descriptor) + " (" + gb_text_from_bytes(*bytes, probe.decimal_separator()) + "GB)";
  entry.image_index = kPhysicalImage;
  return entry;
}

std::optional<CatalogueEntry> probe_image(DriveProbe& probe, const std::string& file_name) {
  const auto bytes = probe.file_bytes(file_name);
  if (!bytes) return std::nullopt;
  return CatalogueEntry{TDData{file_name, sectors_text(*bytes), "F"}, file_name, kImageFileImage};
}

}  // namespace clip::sources
