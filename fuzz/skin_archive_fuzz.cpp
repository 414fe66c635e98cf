// Reads arbitrary bytes as an unpacked skin archive and touches every entry
// through both lookups, so a bad offset shows as an out-of-bounds read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "skin/data/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  clip::skin::TSkinReader reader;
  if (!reader.open_unpacked(std::vector<std::uint8_t>(data, data + size))) return 0;
  volatile std::uint8_t sink = 0;
  for (const auto& name : reader.names()) {
    auto entry = reader.FindEntry(name);
    if (!entry) __builtin_trap();
    for (auto b : *entry) sink = sink ^ b;
  }
  if (auto ini = reader.FindEntryContaining(".ini"))
    for (auto b : ini->data) sink = sink ^ b;
  return 0;
}
