// Conversion between UTF-8 (how the sources and the core hold text) and
// UTF-16 (what the wide-character Win32 calls take). The Win32 side converts
// at the edge; the core never sees a wchar_t.
#pragma once

#include <string>
#include <string_view>

namespace clip {

// Decodes UTF-8. Every byte that does not start a well-formed sequence
// (overlong forms, encoded surrogates, values past U+10FFFF, truncated
// sequences) becomes one U+FFFD, and decoding resumes at the next byte, so no
// input is rejected and no valid character after a bad one is lost.
std::u16string utf8_to_utf16(std::string_view utf8);

// Encodes UTF-16 as UTF-8. A surrogate without its partner becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);

}  // namespace clip
