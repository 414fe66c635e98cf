#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DecodeCase {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

class Utf8Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8Decode, GivesExpectedUnits) {
  EXPECT_EQ(clip::utf8_to_utf16(GetParam().utf8), GetParam().utf16);
}

// Well-formed text of every sequence length, then each kind of ill-formed
// sequence: one U+FFFD per offending byte, and the text after it survives.
INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    testing::Values(DecodeCase{"Empty", "", u""}, DecodeCase{"Ascii", "MDVR96NT_2_R", u"MDVR96NT_2_R"},
                    DecodeCase{"Chinese", "扫描完成!", u"扫描完成!"},
                    DecodeCase{"IdeographicSpace", "Recovery\u3000V2.0", u"Recovery\u3000V2.0"},
                    DecodeCase{"TwoByte", "\xC3\xA9", u"\u00E9"},
                    DecodeCase{"FourByteBecomesPair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
                    DecodeCase{"LargestCodePoint", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
                    DecodeCase{"OverlongSlash",
                               "\xC0\xAF"
                               "a",
                               u"\xFFFD\xFFFD"
                               u"a"},
                    DecodeCase{"OverlongThreeByte", "\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},
                    DecodeCase{"EncodedSurrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},
                    DecodeCase{"PastLargest", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
                    DecodeCase{"LoneContinuation",
                               "a\x80"
                               "b",
                               u"a\xFFFD"
                               u"b"},
                    DecodeCase{"TruncatedAtEnd", "ok\xE6\x89", u"ok\xFFFD\xFFFD"},
                    DecodeCase{"TruncatedBeforeAscii",
                               "\xE6\x89"
                               "x",
                               u"\xFFFD\xFFFD"
                               u"x"},
                    DecodeCase{"InvalidLeadBytes", "\xF8\xFF", u"\xFFFD\xFFFD"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(Utf8Encode, RoundTripsWellFormedText) {
  const std::string text = "264格式硬盘录像机恢复程序 \u3000 \xF0\x9F\x98\x80 é";
  EXPECT_EQ(clip::utf16_to_utf8(clip::utf8_to_utf16(text)), text);
}

TEST(Utf8Encode, UnpairedSurrogatesBecomeReplacement) {
  EXPECT_EQ(clip::utf16_to_utf8(u"a\xD800"
                                u"b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(clip::utf16_to_utf8(u"\xDC00"), "\xEF\xBF\xBD");
  EXPECT_EQ(clip::utf16_to_utf8(u"\xD83D"), "\xEF\xBF\xBD");
  // A low surrogate before a high one is two lone halves, not a pair.
  EXPECT_EQ(clip::utf16_to_utf8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8Encode, EncodesEachLengthBoundary) {
  EXPECT_EQ(clip::utf16_to_utf8(u"\x007F\x0080\x07FF\x0800\xFFFF"),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
}

}  // namespace
