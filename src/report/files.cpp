#include "report/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace clip::report {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// "x" opens only a file that does not exist yet (C11).
FilePtr open_file(const std::string& path, const char* mode) {
#ifdef _WIN32
  std::wstring wide_mode(mode, mode + std::strlen(mode));
  return FilePtr(_wfopen(native_path(path).c_str(), wide_mode.c_str()));
#else
  return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

}  // namespace

std::filesystem::path native_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8_name(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

Result<std::string> read_text_file(const std::string& path) {
  FilePtr f = open_file(path, "rb");
  if (!f) return Result<std::string>::failure(path + ": " + std::strerror(errno));
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
  if (std::ferror(f.get())) return Result<std::string>::failure(path + ": " + std::strerror(errno));
  return text;
}

std::string write_new_file(const std::string& path, const std::string& text) {
  FilePtr f = open_file(path, "wbx");
  if (!f) return path + ": " + std::strerror(errno);
  if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size()) return path + ": " + std::strerror(errno);
  if (std::fclose(f.release()) != 0) return path + ": " + std::strerror(errno);
  return {};
}

}  // namespace clip::report
