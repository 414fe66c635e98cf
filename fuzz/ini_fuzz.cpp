// Parses arbitrary text as a skin description and reads back every section
// and a few keys, so a bad bound in the line splitter or trimming shows up.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "skin/data/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  clip::skin::IniDocument ini(text);
  volatile std::size_t sink = 0;
  for (const auto& section : ini.section_names()) {
    if (!ini.has_section(section)) __builtin_trap();
    sink = sink + ini.read_string(section, "Image").size() + std::size_t(ini.read_int(section, "Frame", 0));
  }
  (void)clip::skin::parse_ini_int(text);
  return 0;
}
