#include "recover/device_path.h"

#include <string>

namespace clip::recover {
namespace {

std::string normalized(std::string_view path) {
  std::string s(path);
  for (char& c : s) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

bool starts_with(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// Components of a backslash path, empty ones (a trailing "\") dropped.
std::size_t component_count(std::string_view s) {
  std::size_t n = 0;
  std::size_t at = 0;
  while (at < s.size()) {
    const std::size_t next = std::min(s.find('\\', at), s.size());
    if (next > at) ++n;
    at = next + 1;
  }
  return n;
}

}  // namespace

bool is_windows_device_path(std::string_view path) {
  const std::string s = normalized(path);
  std::string rest;
  if (starts_with(s, "\\\\.\\")) {
    rest = s.substr(4);
  } else if (starts_with(s, "\\\\?\\")) {
    rest = s.substr(4);
    if (starts_with(rest, "UNC\\")) return false;
  } else {
    return false;
  }
  if (starts_with(rest, "GLOBALROOT\\")) {
    // "GLOBALROOT\Device\Name" names a device; anything below it is a file.
    return component_count(rest) <= 3;
  }
  // "C:", "PhysicalDrive0", "Volume{...}", "HarddiskVolume3": one name, a
  // device. A volume's root folder ("Volume{...}\") counts as its volume.
  return component_count(rest) == 1;
}

std::optional<unsigned> physical_drive_number(std::string_view path) {
  const std::string s = normalized(path);
  const std::string_view prefix = "\\\\.\\PHYSICALDRIVE";
  if (!starts_with(s, prefix) || s.size() == prefix.size() || s.size() > prefix.size() + 5) return std::nullopt;
  unsigned n = 0;
  for (std::size_t i = prefix.size(); i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(s[i] - '0');
  }
  return n;
}

}  // namespace clip::recover
