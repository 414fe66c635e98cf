#include "sources/ewf_open.h"

namespace clip::sources {

bool ewf_open_segments(libewf_handle_t* handle, const std::string& path, std::vector<std::string>& segments,
                       std::string& error) {
  libewf_error_t* failure = nullptr;
  char** names = nullptr;
  int count = 0;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &failure) != 1) {
    error = ewf_error_text(failure);
    return false;
  }
  for (int i = 0; i < count; ++i) segments.emplace_back(names[i]);
  const bool opened = libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &failure) == 1;
  if (!opened) error = ewf_error_text(failure);
  libewf_glob_free(names, count, nullptr);
  return opened;
}

}  // namespace clip::sources
