#include <gtest/gtest.h>

#include "winsend/keys.h"

namespace winsend {
namespace {

Chord chord(uint8_t key, std::vector<uint8_t> modifiers = {}, bool extended = false) {
  return {std::move(modifiers), key, extended};
}

TEST(WinsendKeys, ChordsInOrderWithModifiersHeldInTheOrderWritten) {
  const KeysResult r = parse_keys("alt+f  ctrl+Shift+S enter");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.chords.size(), 3u);
  EXPECT_EQ(r.chords[0], chord('F', {kVkMenu}));
  EXPECT_EQ(r.chords[1], chord('S', {kVkControl, kVkShift}));
  EXPECT_EQ(r.chords[2], chord(0x0D));
}

TEST(WinsendKeys, NamedKeysLettersDigitsAndFunctionKeys) {
  struct Case {
    const char* name;
    uint8_t code;
    bool extended;
  };
  const Case cases[] = {
      {"a", 'A', false},      {"Z", 'Z', false},     {"0", '0', false},      {"9", '9', false},
      {"f1", 0x70, false},    {"F10", 0x79, false},  {"f24", 0x87, false},   {"esc", 0x1B, false},
      {"Escape", 0x1B, false}, {"tab", 0x09, false}, {"space", 0x20, false}, {"down", 0x28, true},
      {"UP", 0x26, true},     {"left", 0x25, true},  {"right", 0x27, true},  {"home", 0x24, true},
      {"end", 0x23, true},    {"pgdn", 0x22, true},  {"delete", 0x2E, true}, {"apps", 0x5D, true},
  };
  for (const Case& c : cases) {
    const KeysResult r = parse_keys(c.name);
    ASSERT_EQ(r.error, "") << c.name;
    ASSERT_EQ(r.chords.size(), 1u) << c.name;
    EXPECT_EQ(r.chords[0], chord(c.code, {}, c.extended)) << c.name;
  }
}

TEST(WinsendKeys, ModifierAloneIsTheKeyItself) {
  const KeysResult r = parse_keys("alt shift+ctrl");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.chords.size(), 2u);
  EXPECT_EQ(r.chords[0], chord(kVkMenu));
  EXPECT_EQ(r.chords[1], chord(kVkControl, {kVkShift}));
}

TEST(WinsendKeys, RepeatCountPressesTheWholeChordAgain) {
  const KeysResult r = parse_keys("down*3 shift+tab*2");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.chords.size(), 5u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.chords[i], chord(0x28, {}, true));
  for (int i = 3; i < 5; ++i) EXPECT_EQ(r.chords[i], chord(0x09, {kVkShift}));
}

TEST(WinsendKeys, MalformedTextIsRefusedWhole) {
  for (const char* bad : {"", "   ", "alt+", "+f", "alt++f", "f+alt", "enter+a", "altt+f", "f0", "f25", "f01",
                          "fx", "ab", "down*", "down*0", "down*100", "down*2x", "*3", "enter bogus"}) {
    const KeysResult r = parse_keys(bad);
    EXPECT_NE(r.error, "") << '"' << bad << '"';
    EXPECT_TRUE(r.chords.empty()) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace winsend
