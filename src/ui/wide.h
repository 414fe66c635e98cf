// Text at the Win32 edge: the program holds UTF-8, the W calls take UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "base/utf8.h"

namespace ui {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wchar_t is a UTF-16 unit");

inline std::wstring widen(std::string_view utf8) {
  const std::u16string wide = clip::utf8_to_utf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string narrow(std::wstring_view wide) {
  return clip::utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace ui
