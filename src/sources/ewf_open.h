// The platform half of opening an evidence file set: finding the segment
// files beside the first one and opening them, with the platform's own path
// encoding (UTF-8 natively, UTF-16 on Windows).
#pragma once

#include <libewf.h>

#include <string>
#include <vector>

namespace clip::sources {

// Globs the segments of `path` and opens them read-only on `handle`. On
// failure returns false with `error` set to the library's reason.
bool ewf_open_segments(libewf_handle_t* handle, const std::string& path, std::vector<std::string>& segments,
                       std::string& error);

// The library's text for `error`, which is freed.
std::string ewf_error_text(libewf_error_t*& error);

}  // namespace clip::sources
