// Temporary folders for tests, each with a name no other test process can
// have (made like mkdtemp: created exclusively, retried on a clash), removed
// with everything in them at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace clip::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "clipsalvage-test") {
    std::random_device seed;
    std::mt19937_64 random(seed() ^ (uint64_t{seed()} << 32));
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto candidate = base / (prefix + "-" + std::to_string(random() % 100000000000ull));
#ifdef _WIN32
      const bool made = CreateDirectoryW(candidate.wstring().c_str(), nullptr) != 0;
#else
      const bool made = ::mkdir(candidate.c_str(), 0700) == 0;
#endif
      if (made) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("no temporary folder could be made in " + base.string());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // UTF-8, as the program takes paths.
  std::string str() const { return utf8(path_); }
  std::string str(const std::string& name) const { return utf8(path_ / from_utf8(name)); }

  static std::filesystem::path from_utf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
  }
  static std::string utf8(const std::filesystem::path& p) {
    const auto text = p.u8string();
    return std::string(text.begin(), text.end());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace clip::testing
