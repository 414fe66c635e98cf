#include "skin/data/ini.h"

#include <limits>

namespace clip::skin {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

IniDocument::IniDocument(std::string_view text) {
  Section* current = nullptr;
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    line = trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      std::string_view name = trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      // A repeated section adds nothing: its keys could never win a lookup.
      current = nullptr;
      if (!find_section(name)) {
        sections_.push_back({std::string(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    if (!current) continue;  // keys before the first section belong to none
    size_t eq = line.find('=');
    std::string_view key = trim(line.substr(0, eq));
    std::string_view value = eq == std::string_view::npos ? std::string_view{} : trim(line.substr(eq + 1));
    if (key.empty()) continue;
    bool seen = false;
    for (const Entry& e : current->entries) seen = seen || iequals(e.key, key);
    if (!seen) current->entries.push_back({std::string(key), std::string(unquote(value))});
  }
}

const IniDocument::Section* IniDocument::find_section(std::string_view section) const {
  section = trim(section);
  for (const Section& s : sections_)
    if (iequals(s.name, section)) return &s;
  return nullptr;
}

std::vector<std::string> IniDocument::section_names() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

bool IniDocument::has_section(std::string_view section) const { return find_section(section) != nullptr; }

std::optional<std::string> IniDocument::find(std::string_view section, std::string_view key) const {
  const Section* s = find_section(section);
  if (!s) return std::nullopt;
  key = trim(key);
  for (const Entry& e : s->entries)
    if (iequals(e.key, key)) return e.value;
  return std::nullopt;
}

std::string IniDocument::read_string(std::string_view section, std::string_view key,
                                     std::string_view fallback) const {
  std::optional<std::string> v = find(section, key);
  return v ? *v : std::string(fallback);
}

int32_t IniDocument::read_int(std::string_view section, std::string_view key, int32_t fallback) const {
  std::optional<std::string> v = find(section, key);
  if (!v) return fallback;
  return parse_ini_int(*v).value_or(fallback);
}

std::optional<int32_t> parse_ini_int(std::string_view text) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = unsigned(c - '0');
    else if (base == 16 && lower(c) >= 'a' && lower(c) <= 'f') digit = unsigned(lower(c) - 'a' + 10);
    else return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (base == 16 && !negative) return static_cast<int32_t>(static_cast<uint32_t>(value));  // "$FFFFFFFF" is -1
  int64_t signed_value = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  if (signed_value < std::numeric_limits<int32_t>::min() || signed_value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(signed_value);
}

}  // namespace clip::skin
