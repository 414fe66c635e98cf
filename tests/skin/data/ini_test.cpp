#include "skin/data/ini.h"

#include <gtest/gtest.h>

namespace clip::skin {
namespace {

constexpr const char* kText =
    "orphan=1\r\n"
    "; a comment line\n"
    "[Personality]\n"
    "  Top = top.bmp  \n"
    "TOP=second.bmp\n"
    "TopFrame=2\n"
    "Empty=\n"
    "Quoted=\"  spaced  \"\n"
    "NoEquals\n"
    "Hex=0x1F\n"
    "Dollar=$ff\n"
    "Neg=-5\n"
    "Word=12abc\n"
    "Big=4294967296\n"
    "[ Colours ]\n"
    "ButtonFace=232 232 232\n"
    "[personality]\n"
    "Late=1\n";

struct StringCase {
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

TEST(IniDocument, FindsValuesByTheProfileReadersRules) {
  IniDocument ini(kText);
  const StringCase cases[] = {
      {"Personality", "Top", "top.bmp"},        // trimmed, first occurrence wins
      {"PERSONALITY", "top", "top.bmp"},        // names ignore case
      {"Personality", "Empty", ""},             // present but empty
      {"Personality", "Quoted", "  spaced  "},  // quotes removed, inner blanks kept
      {"Personality", "NoEquals", ""},
      {"Colours", "ButtonFace", "232 232 232"},  // section name trimmed
      {"Personality", "Late", std::nullopt},    // repeated section adds nothing
      {"Personality", "orphan", std::nullopt},  // keys before any section
      {"Personality", "; a comment line", std::nullopt},
      {"Missing", "Top", std::nullopt},
      {"Personality", "Absent", std::nullopt},
  };
  for (const StringCase& c : cases) EXPECT_EQ(ini.find(c.section, c.key), c.expected) << c.section << "/" << c.key;
  EXPECT_EQ(ini.read_string("Personality", "Absent", "dflt"), "dflt");
  EXPECT_EQ(ini.read_string("Personality", "Empty", "dflt"), "");
  EXPECT_EQ(ini.section_names(), (std::vector<std::string>{"Personality", "Colours"}));
}

TEST(IniDocument, IntegersTakeDefaultsWhenMissingEmptyOrNotNumbers) {
  IniDocument ini(kText);
  const struct {
    const char* key;
    int32_t expected;
  } cases[] = {{"TopFrame", 2}, {"Hex", 31},   {"Dollar", 255}, {"Neg", -5},     {"Word", 77},
               {"Empty", 77},   {"Absent", 77}, {"Big", 77},     {"Quoted", 77}};
  for (const auto& c : cases) EXPECT_EQ(ini.read_int("Personality", c.key, 77), c.expected) << c.key;
  EXPECT_EQ(parse_ini_int("$FFFFFFFF"), -1);
  EXPECT_EQ(parse_ini_int("-2147483648"), INT32_MIN);
  EXPECT_EQ(parse_ini_int("2147483648"), std::nullopt);
  EXPECT_EQ(parse_ini_int("0x"), std::nullopt);
  EXPECT_EQ(parse_ini_int("-"), std::nullopt);
}

TEST(IniDocument, EmptyAndBrokenTextGiveNoSections) {
  EXPECT_TRUE(IniDocument("").section_names().empty());
  IniDocument unterminated("[Open\nKey=v");
  EXPECT_EQ(unterminated.find("Open", "key"), "v");
  IniDocument no_newline_end("[S]\rA=1\rB=2");
  EXPECT_EQ(no_newline_end.read_int("s", "b", 0), 2);
}

}  // namespace
}  // namespace clip::skin
