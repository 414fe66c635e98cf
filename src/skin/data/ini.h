// In-memory reader for INI text (the skin description). Matching follows the
// Windows profile reader: section and key names ignore ASCII case, the first
// section and the first key of a name win, names and values are trimmed of
// blanks, one pair of matching quotes around a value is removed, and lines
// starting with ';' are comments. Nothing is ever written to disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clip::skin {

class IniDocument {
 public:
  IniDocument() = default;
  explicit IniDocument(std::string_view text);

  // Section names in file order, each name once (its first spelling).
  std::vector<std::string> section_names() const;
  bool has_section(std::string_view section) const;

  // The value of a key, or nullopt when the section or key is missing.
  std::optional<std::string> find(std::string_view section, std::string_view key) const;

  // Missing key -> fallback. An empty value is returned as empty.
  std::string read_string(std::string_view section, std::string_view key,
                          std::string_view fallback = {}) const;

  // Decimal, or hexadecimal with a "0x"/"0X" or "$" prefix, optionally signed.
  // A missing, empty or non-numeric value (or one outside 32 bits) yields fallback.
  int32_t read_int(std::string_view section, std::string_view key, int32_t fallback) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* find_section(std::string_view section) const;

  std::vector<Section> sections_;
};

// The integer rule of IniDocument::read_int on a bare text.
std::optional<int32_t> parse_ini_int(std::string_view text);

}  // namespace clip::skin
