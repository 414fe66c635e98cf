// The record each source node of the catalogue carries, and the device path a
// scan opens for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace clip::sources {

// Three texts, as the catalogue builds them: Path ("C:", "0".."255" or the
// image's full file name), Sectors (decimal, 512-byte sectors) and Kind ("L"
// logical drive, "P" physical drive, "F" image file; compared exactly).
struct TDData {
  std::string Path;
  std::string Sectors;
  std::string Kind;
};

// What selecting a node makes current: the path to open and the sector count.
struct CurrentSource {
  std::string device_path;
  int64_t sectors = 0;
};

// "\\.\PHYSICALDRIVE" + Path for "P", "\\.\" + Path for "L", and the long-path
// form of the file name for "F" ("\\?\C:\x.img", "\\?\UNC\server\share\x.img"
// for a share). Any other kind, or a Sectors text that is not a plain
// non-negative decimal number, yields nothing: the current source stays.
std::optional<CurrentSource> select_source(const TDData& record);

// The "F" device path alone: "\\?\" before a drive path, "\\?\UNC\" in place of
// the leading "\\" of a share, forward slashes turned into backslashes (the
// long-path form takes no other separator), a path already in "\\?\" or "\\.\"
// form unchanged.
std::string image_device_path(std::string_view file_name);

// Decimal text of a non-negative 64-bit count; nothing for anything else
// (empty, sign, spaces, overflow).
std::optional<int64_t> parse_sectors(std::string_view text);

}  // namespace clip::sources
