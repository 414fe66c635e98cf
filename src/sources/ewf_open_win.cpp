// libewf declares its wide-character calls only after <windows.h>.
#include <windows.h>

#include "base/utf8.h"
#include "sources/ewf_open.h"

namespace clip::sources {
namespace {

// libewf's glob fails to test for the segment files of a path in the
// long-path form ("\\?\C:\..."), so it is given the plain form.
std::u16string without_long_path_prefix(const std::u16string& path) {
  if (path.rfind(u"\\\\?\\UNC\\", 0) == 0) return u"\\\\" + path.substr(8);
  if (path.rfind(u"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

}  // namespace

bool ewf_open_segments(libewf_handle_t* handle, const std::string& path, std::vector<std::string>& segments,
                       std::string& error) {
  const std::u16string wide = without_long_path_prefix(utf8_to_utf16(path));
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  libewf_error_t* failure = nullptr;
  wchar_t** names = nullptr;
  int count = 0;
  if (libewf_glob_wide(reinterpret_cast<const wchar_t*>(wide.c_str()), wide.size(), LIBEWF_FORMAT_UNKNOWN, &names,
                       &count, &failure) != 1) {
    error = ewf_error_text(failure);
    return false;
  }
  for (int i = 0; i < count; ++i) segments.push_back(utf16_to_utf8(reinterpret_cast<const char16_t*>(names[i])));
  const bool opened = libewf_handle_open_wide(handle, names, count, LIBEWF_OPEN_READ, &failure) == 1;
  if (!opened) error = ewf_error_text(failure);
  libewf_glob_wide_free(names, count, nullptr);
  return opened;
}

}  // namespace clip::sources
