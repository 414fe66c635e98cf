#include "sources/source_record.h"

#include <limits>

namespace clip::sources {

std::optional<int64_t> parse_sectors(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string image_device_path(std::string_view file_name) {
  std::string path(file_name);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) return path;
  if (path.rfind("\\\\", 0) == 0) return "\\\\?\\UNC\\" + path.substr(2);
  return "\\\\?\\" + path;
}

std::optional<CurrentSource> select_source(const TDData& record) {
  const auto sectors = parse_sectors(record.Sectors);
  if (!sectors) return std::nullopt;
  if (record.Kind == "P") return CurrentSource{"\\\\.\\PHYSICALDRIVE" + record.Path, *sectors};
  if (record.Kind == "L") return CurrentSource{"\\\\.\\" + record.Path, *sectors};
  if (record.Kind == "F") return CurrentSource{image_device_path(record.Path), *sectors};
  return std::nullopt;
}

}  // namespace clip::sources
