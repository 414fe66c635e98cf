#include "recover/block_topology.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace clip::recover {
namespace {

namespace fs = std::filesystem;

// Stacks deeper than this are a loop in a damaged or hostile tree.
constexpr int kMaxDepth = 16;

std::optional<DeviceNumber> read_dev_file(const fs::path& folder) {
  std::ifstream in(folder / "dev");
  unsigned major = 0, minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') return std::nullopt;
  return DeviceNumber{major, minor};
}

std::vector<std::string> entries_of(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void add_unique(std::vector<std::string>& list, const std::string& id) {
  if (std::find(list.begin(), list.end(), id) == list.end()) list.push_back(id);
}

bool present(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

std::optional<std::string> canonical_of(const fs::path& p) {
  std::error_code ec;
  auto c = fs::canonical(p, ec);
  if (ec) return std::nullopt;
  return c.string();
}

}  // namespace

std::string device_id(DeviceNumber dev) {
  return "dev:" + std::to_string(dev.major) + ":" + std::to_string(dev.minor);
}

BlockTopology::BlockTopology(std::string sys_root) : root_(std::move(sys_root)) {}

std::optional<std::string> BlockTopology::device_folder(DeviceNumber dev) const {
  return canonical_of(fs::path(root_) / "dev" / "block" / (std::to_string(dev.major) + ":" + std::to_string(dev.minor)));
}

void BlockTopology::collect_below(const std::string& folder, int depth, std::vector<std::string>& disks,
                                  bool& ok) const {
  if (depth > kMaxDepth) {
    ok = false;
    return;
  }
  const fs::path here(folder);
  const auto slaves = entries_of(here / "slaves");
  if (!slaves.empty()) {
    for (const auto& name : slaves) {
      const auto below = canonical_of(here / "slaves" / name);
      if (!below) {
        ok = false;
        continue;
      }
      collect_below(*below, depth + 1, disks, ok);
    }
    return;
  }
  // A partition's folder lies inside its disk's folder.
  const fs::path disk = present(here / "partition") ? here.parent_path() : here;
  const auto number = read_dev_file(disk);
  if (!number) {
    ok = false;
    return;
  }
  add_unique(disks, device_id(*number));
}

std::optional<std::vector<std::string>> BlockTopology::disks_below(DeviceNumber dev) const {
  const auto folder = device_folder(dev);
  if (!folder) return std::nullopt;
  std::vector<std::string> disks;
  bool ok = true;
  collect_below(*folder, 0, disks, ok);
  if (!ok || disks.empty()) return std::nullopt;
  return disks;
}

void BlockTopology::collect_above(const std::string& folder, int depth, std::vector<std::string>& ids) const {
  if (depth > kMaxDepth) return;
  const fs::path here(folder);
  const auto number = read_dev_file(here);
  if (!number) return;
  const std::string id = device_id(*number);
  if (std::find(ids.begin(), ids.end(), id) != ids.end()) return;
  ids.push_back(id);
  for (const auto& name : entries_of(here)) {
    if (present(here / name / "partition")) collect_above((here / name).string(), depth + 1, ids);
  }
  for (const auto& name : entries_of(here / "holders")) {
    if (const auto above = canonical_of(here / "holders" / name)) collect_above(*above, depth + 1, ids);
  }
}

std::vector<std::string> BlockTopology::devices_above(DeviceNumber dev) const {
  std::vector<std::string> ids;
  if (const auto folder = device_folder(dev)) collect_above(*folder, 0, ids);
  return ids;
}

std::vector<DeviceNumber> BlockTopology::btrfs_members(const std::string& fsid) const {
  std::vector<DeviceNumber> members;
  const fs::path devices = fs::path(root_) / "fs" / "btrfs" / fsid / "devices";
  for (const auto& name : entries_of(devices)) {
    if (const auto folder = canonical_of(devices / name)) {
      if (const auto number = read_dev_file(*folder)) members.push_back(*number);
    }
  }
  return members;
}

namespace {

// mountinfo writes space, tab, newline and backslash in names as \ooo.
std::string unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(field.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                    field.begin() + static_cast<std::ptrdiff_t>(i) + 4, [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

std::vector<MountEntry> parse_mountinfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || dash == fields.end() || fields.end() - dash < 3 || dash - fields.begin() < 6) continue;
    MountEntry e;
    unsigned major = 0, minor = 0;
    char colon = 0;
    std::istringstream number(fields[2]);
    if (!(number >> major >> colon >> minor) || colon != ':') continue;
    e.dev = {major, minor};
    e.mount_point = unescape(fields[4]);
    e.fs_type = dash[1];
    e.source = unescape(dash[2]);
    e.super_options = dash + 3 < fields.end() ? unescape(dash[3]) : "";
    entries.push_back(std::move(e));
  }
  return entries;
}

std::optional<std::string> mount_option(std::string_view options, std::string_view key) {
  std::size_t at = 0;
  while (at <= options.size()) {
    const std::size_t comma = std::min(options.find(',', at), options.size());
    const std::string_view option = options.substr(at, comma - at);
    if (option.size() > key.size() && option.substr(0, key.size()) == key && option[key.size()] == '=') {
      return std::string(option.substr(key.size() + 1));
    }
    at = comma + 1;
  }
  return std::nullopt;
}

bool is_diskless_filesystem(std::string_view fs_type) {
  static constexpr std::array<std::string_view, 13> kTypes{
      "tmpfs", "ramfs", "nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "virtiofs", "ceph", "fuse.sshfs", "afs",
      "glusterfs"};
  return std::find(kTypes.begin(), kTypes.end(), fs_type) != kTypes.end();
}

bool is_pseudo_filesystem(std::string_view fs_type) {
  static constexpr std::array<std::string_view, 17> kTypes{
      "proc",   "sysfs",  "cgroup",    "cgroup2", "devpts",    "debugfs", "tracefs", "securityfs", "pstore",
      "bpf",    "mqueue", "configfs",  "fusectl", "hugetlbfs", "efivarfs", "binfmt_misc", "autofs"};
  return std::find(kTypes.begin(), kTypes.end(), fs_type) != kTypes.end();
}

}  // namespace clip::recover
