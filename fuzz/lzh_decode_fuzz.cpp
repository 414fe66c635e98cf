// Decodes arbitrary bytes as a skin stream. The declared size is capped at
// 1 MiB so that each input runs fast; the decoder's own cap is tested apart.
#include <cstddef>
#include <cstdint>
#include <span>

#include "skin/data/lzh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto out = clip::skin::lzh_decode(std::span(data, size), 1u << 20);
  if (out.ok() && size >= 4) {
    const std::uint32_t declared = data[0] | data[1] << 8 | data[2] << 16 | std::uint32_t{data[3]} << 24;
    if (out.value().size() != declared) __builtin_trap();
  }
  return 0;
}
