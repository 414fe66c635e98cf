// Temporary folders and shell commands for the report tests.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace clip::report::test {

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "report-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

// Runs a shell command; its output (stderr too), prefixed with "FAILED: "
// when it exits non-zero.
inline std::string run_command(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return "FAILED: popen";
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  if (::pclose(p) != 0) out = "FAILED: " + out;
  return out;
}

}  // namespace clip::report::test
