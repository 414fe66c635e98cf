#include "cli/text.h"

#include "base/utf8.h"

namespace clip::cli {
namespace {

int cells(char32_t c) {
  if (c < 0x20 || (c >= 0x7f && c < 0xa0)) return 0;
  if ((c >= 0x0300 && c <= 0x036f) || (c >= 0x200b && c <= 0x200f) || (c >= 0xfe00 && c <= 0xfe0f)) return 0;
  const bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0x303e) || (c >= 0x3041 && c <= 0x33ff) ||
                    (c >= 0x3400 && c <= 0x4dbf) || (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xa000 && c <= 0xa4cf) ||
                    (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) ||
                    (c >= 0xff00 && c <= 0xff60) || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f) ||
                    (c >= 0x20000 && c <= 0x3fffd);
  return wide ? 2 : 1;
}

}  // namespace

std::string valid_utf8(std::string_view text) { return utf16_to_utf8(utf8_to_utf16(text)); }

bool is_valid_utf8(std::string_view text) { return valid_utf8(text) == text; }

std::string hex_bytes(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

int display_width(std::string_view utf8) {
  const std::u16string units = utf8_to_utf16(utf8);
  int width = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xd800 && c <= 0xdbff && i + 1 < units.size()) {
      c = 0x10000 + ((c - 0xd800) << 10) + (units[i + 1] - 0xdc00);
      ++i;
    }
    width += cells(c);
  }
  return width;
}

std::string pad_right(std::string_view text, int width) {
  const int have = display_width(text);
  return std::string(text) + std::string(have < width ? static_cast<std::size_t>(width - have) : 0, ' ');
}

std::string pad_left(std::string_view text, int width) {
  const int have = display_width(text);
  return std::string(have < width ? static_cast<std::size_t>(width - have) : 0, ' ') + std::string(text);
}

}  // namespace clip::cli
