// Just enough JSON writing for the CLI's reports: strings escaped as RFC 8259
// asks (quotes, backslashes, control characters), always valid UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "cli/text.h"

namespace clip::cli {

// A JSON string of the text; bytes that are not UTF-8 become U+FFFD.
inline std::string json_string(std::string_view text) {
  const std::string valid = valid_utf8(text);
  std::string out = "\"";
  for (unsigned char c : valid) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          static const char* hex = "0123456789abcdef";
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

// `"key": "..."` for a path; a path that is not UTF-8 also gets
// `"key_bytes": "hex"`, from which its exact bytes can be had back.
inline std::string json_path(std::string_view key, std::string_view path) {
  std::string out = json_string(key) + ": " + json_string(path);
  if (!is_valid_utf8(path)) out += ", " + json_string(std::string(key) + "_bytes") + ": \"" + hex_bytes(path) + "\"";
  return out;
}

}  // namespace clip::cli
