// Encodes arbitrary bytes and decodes them again: the two must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "skin/data/lzh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto packed = clip::skin::lzh_encode(std::span(data, size));
  if (!packed) __builtin_trap();
  auto unpacked = clip::skin::lzh_decode(packed.value());
  if (!unpacked || unpacked.value().size() != size || !std::equal(data, data + size, unpacked.value().begin()))
    __builtin_trap();
  return 0;
}
