#include "report/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace clip::report {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

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
  // Created exclusively: an existing file (an earlier report, evidence) is
  // never replaced.
#ifdef _WIN32
  const int fd = _wopen(native_path(path).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
#endif
  if (fd < 0) return path + ": " + std::strerror(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t piece = std::min<std::size_t>(text.size() - done, 1 << 30);
#ifdef _WIN32
    const int n = _write(fd, text.data() + done, static_cast<unsigned>(piece));
#else
    const ssize_t n = ::write(fd, text.data() + done, piece);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) {
      const std::string error = path + ": " + std::strerror(errno);
#ifdef _WIN32
      _close(fd);
#else
      ::close(fd);
#endif
      return error;
    }
    done += static_cast<std::size_t>(n);
  }
#ifdef _WIN32
  if (_close(fd) != 0) return path + ": " + std::strerror(errno);
#else
  if (::close(fd) != 0) return path + ": " + std::strerror(errno);
#endif
  return {};
}

}  // namespace clip::report
