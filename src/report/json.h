// JSON for the saved scan reports: a strict reader (RFC 8259; bytes of
// strings outside the escapes pass through unchanged, as the writer leaves
// them) and the string quoting of the writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/result.h"

namespace clip::report {

class Json {
 public:
  enum class Kind { null, boolean, number, string, array, object };

  Kind kind = Kind::null;
  bool boolean = false;
  std::string text;  // a string's value, or a number as written
  std::vector<Json> items;
  struct Member;
  std::vector<Member> members;  // in document order

  bool is(Kind k) const { return kind == k; }
  // The member named `key` of an object; null when absent or not an object.
  const Json* find(std::string_view key) const;
  // A number written as an integer that fits 64 bits.
  std::optional<int64_t> integer() const;
};

struct Json::Member {
  std::string name;
  Json value;
};

// Parses one JSON document. Errors name the line and column.
Result<Json> parse_json(std::string_view text);

// The UTF-8 of code point `cp` (at most U+10FFFF, no surrogate) added to `out`.
void append_utf8(std::string& out, uint32_t cp);

// `text` as a JSON string literal: quotes, backslashes and control
// characters escaped, other bytes (UTF-8) as they are.
std::string json_quote(std::string_view text);

}  // namespace clip::report
