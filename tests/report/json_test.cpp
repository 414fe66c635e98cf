#include <gtest/gtest.h>

#include "report/json.h"

namespace clip::report {
namespace {

TEST(JsonParse, ValuesAndEscapes) {
  const auto doc = parse_json(
      " {\"a\": [1, -2, 3.5e2, true, false, null], \"s\": \"q\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\","
      " \"raw\": \"通道\", \"big\": 9223372036854775807, \"o\": {}}\n");
  ASSERT_TRUE(doc) << doc.error();
  const Json& v = doc.value();
  ASSERT_EQ(v.find("a")->items.size(), 6u);
  EXPECT_EQ(v.find("a")->items[1].integer(), -2);
  EXPECT_FALSE(v.find("a")->items[2].integer());  // not an integer
  EXPECT_TRUE(v.find("a")->items[3].boolean);
  EXPECT_TRUE(v.find("a")->items[5].is(Json::Kind::null));
  EXPECT_EQ(v.find("s")->text, "q\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(v.find("raw")->text, "通道");
  EXPECT_EQ(v.find("big")->integer(), INT64_MAX);
  EXPECT_TRUE(v.find("o")->is(Json::Kind::object));
  EXPECT_EQ(v.find("missing"), nullptr);
}

TEST(JsonParse, MalformedDocumentsNameWhere) {
  struct Case {
    const char* text;
    const char* where;
  };
  const Case cases[] = {
      {"", "第 1 行第 1 列"},
      {"{\"a\": 1,}", "第 1 行第 9 列"},
      {"{\"a\": 1}\n x", "第 2 行第 2 列"},
      {"[1 2]", "第 1 行第 4 列"},
      {"{\"a\" 1}", "第 1 行第 6 列"},
      {"\"abc", "第 1 行"},
      {"\"a\nb\"", "第 1 行"},      // raw control character in a string
      {"\"\\x\"", "第 1 行第 3 列"},  // unknown escape
      {"\"\\ud800\"", "第 1 行"},     // high surrogate alone
      {"\"\\udc00\"", "第 1 行"},     // low surrogate alone
      {"\"\\u12g4\"", "第 1 行"},
      {"01", "第 1 行第 2 列"},
      {"-", "第 1 行第 1 列"},
      {"1.", "第 1 行第 3 列"},
      {"1e", "第 1 行第 3 列"},
      {"tru", "第 1 行第 1 列"},
      {"{\"a\": 1, \"a\": 2}", "成员名重复"},
  };
  for (const auto& c : cases) {
    const auto doc = parse_json(c.text);
    ASSERT_FALSE(doc) << c.text;
    EXPECT_NE(doc.error().find(c.where), std::string::npos) << c.text << " -> " << doc.error();
  }
  // Deep nesting is refused instead of exhausting the stack.
  EXPECT_FALSE(parse_json(std::string(100000, '[') + std::string(100000, ']')));
  EXPECT_TRUE(parse_json(std::string(60, '[') + std::string(60, ']')));
  // Integers past 64 bits are numbers but not integers.
  EXPECT_FALSE(parse_json("9223372036854775808").value().integer());
}

TEST(JsonQuote, RoundTripsEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  const std::string quoted = json_quote(all);
  // Control characters never appear raw in the quoted text.
  for (unsigned char c : quoted) EXPECT_TRUE(c >= 0x20 && c != 0x7f) << int(c);
  const auto back = parse_json(quoted);
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(back.value().text, all);
  EXPECT_EQ(json_quote("a\"b\\c\n"), "\"a\\\"b\\\\c\\n\"");
}

}  // namespace
}  // namespace clip::report
