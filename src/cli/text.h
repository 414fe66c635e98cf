// Text for terminals and JSON readers: UTF-8 checked and repaired, and the
// width a string takes on a terminal (CJK characters take two cells).
#pragma once

#include <string>
#include <string_view>

namespace clip::cli {

bool is_valid_utf8(std::string_view text);
// Each byte that does not start a well-formed sequence becomes U+FFFD.
std::string valid_utf8(std::string_view text);
// Lower-case hexadecimal of every byte.
std::string hex_bytes(std::string_view bytes);

// Terminal cells: two for East Asian wide and full-width characters, none
// for control characters and combining marks, one for the rest.
int display_width(std::string_view utf8);
// The text followed (or preceded) by spaces up to `width` cells.
std::string pad_right(std::string_view text, int width);
std::string pad_left(std::string_view text, int width);

}  // namespace clip::cli
