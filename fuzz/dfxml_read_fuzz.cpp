// The DFXML reader on arbitrary text: it answers with a document or an
// error, never crashes, and what it reads is consistent.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "report/dfxml_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto doc = clip::report::parse_dfxml(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!doc) {
    if (doc.error().empty()) std::abort();
    return 0;
  }
  for (const auto& o : doc->objects) {
    for (const auto& r : o.runs) {
      if (r.img_offset < 0 || r.len <= 0) std::abort();
    }
  }
  return 0;
}
