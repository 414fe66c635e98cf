#include "winsend/keys.h"

#include <array>
#include <cctype>
#include <charconv>

namespace winsend {
namespace {

struct Named {
  std::string_view name;
  uint8_t code;
  bool extended;
};

constexpr std::array<Named, 22> kNamedKeys{{
    {"enter", 0x0D, false},  {"return", 0x0D, false}, {"esc", 0x1B, false},     {"escape", 0x1B, false},
    {"tab", 0x09, false},    {"space", 0x20, false},  {"backspace", 0x08, false}, {"pageup", 0x21, true},
    {"pagedown", 0x22, true}, {"end", 0x23, true},    {"home", 0x24, true},      {"left", 0x25, true},
    {"up", 0x26, true},      {"right", 0x27, true},   {"down", 0x28, true},      {"insert", 0x2D, true},
    {"delete", 0x2E, true},  {"del", 0x2E, true},     {"apps", 0x5D, true},      {"pgup", 0x21, true},
    {"pgdn", 0x22, true},    {"ins", 0x2D, true},
}};

constexpr std::array<Named, 5> kModifiers{{
    {"ctrl", kVkControl, false},
    {"control", kVkControl, false},
    {"alt", kVkMenu, false},
    {"shift", kVkShift, false},
    {"win", kVkLeftWin, true},
}};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const Named* find(std::string_view name, auto const& table) {
  for (const Named& entry : table)
    if (entry.name == name) return &entry;
  return nullptr;
}

// A single key: a letter, a digit, F1-F24, a named key or a modifier.
bool key_code(const std::string& name, uint8_t& code, bool& extended) {
  extended = false;
  if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0]))) {
    code = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(name[0])));
    return true;
  }
  if (name.size() >= 2 && name[0] == 'f') {
    int n = 0;
    const char* end = name.data() + name.size();
    auto [ptr, ec] = std::from_chars(name.data() + 1, end, n);
    if (ec == std::errc() && ptr == end && name[1] != '0' && n >= 1 && n <= 24) {
      code = static_cast<uint8_t>(0x70 + n - 1);
      return true;
    }
    return false;
  }
  const Named* entry = find(name, kNamedKeys);
  if (!entry) entry = find(name, kModifiers);
  if (!entry) return false;
  code = entry->code;
  extended = entry->extended;
  return true;
}

}  // namespace

KeysResult parse_keys(std::string_view spec) {
  KeysResult result;
  auto fail = [&](std::string message) {
    result.chords.clear();
    result.error = std::move(message);
    return result;
  };
  size_t pos = 0;
  while (pos < spec.size()) {
    if (spec[pos] == ' ') {
      ++pos;
      continue;
    }
    const size_t stop = spec.find(' ', pos);
    const std::string word(spec.substr(pos, stop == std::string_view::npos ? spec.size() - pos : stop - pos));
    pos = stop == std::string_view::npos ? spec.size() : stop;

    std::string_view chord_text = word;
    int repeat = 1;
    if (const size_t star = chord_text.rfind('*'); star != std::string_view::npos) {
      const std::string_view count = chord_text.substr(star + 1);
      auto [ptr, ec] = std::from_chars(count.data(), count.data() + count.size(), repeat);
      if (count.empty() || ec != std::errc() || ptr != count.data() + count.size() || repeat < 1 || repeat > 99)
        return fail("bad repeat count in '" + word + "'");
      chord_text = chord_text.substr(0, star);
    }

    Chord chord;
    size_t start = 0;
    while (true) {
      const size_t plus = chord_text.find('+', start);
      const std::string name = lower(chord_text.substr(start, plus == std::string_view::npos ? plus : plus - start));
      if (name.empty()) return fail("missing key name in '" + word + "'");
      if (plus == std::string_view::npos) {
        if (!key_code(name, chord.key, chord.extended)) return fail("unknown key '" + name + "'");
        break;
      }
      const Named* modifier = find(name, kModifiers);
      if (!modifier) return fail("'" + name + "' is not a modifier (ctrl, alt, shift, win)");
      chord.modifiers.push_back(modifier->code);
      start = plus + 1;
    }
    result.chords.insert(result.chords.end(), static_cast<size_t>(repeat), chord);
  }
  if (result.chords.empty()) return fail("no keys given");
  return result;
}

}  // namespace winsend
