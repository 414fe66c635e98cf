#include "export/clock.h"

#include <gtest/gtest.h>

#include "export/duration.h"
#include "export/mp4.h"

namespace clip::video {
namespace {

TEST(StartTime, OnlyValidDatesAndTimesInTheColumnsForm) {
  const char* valid[] = {"2026-05-20 08-15-07", "2000-01-01 00-00-00", "2024-02-29 23-59-59", "2099-12-31 12-00-00"};
  for (const char* text : valid) EXPECT_TRUE(parse_start(text)) << text;
  const char* invalid[] = {
      "",
      "2023-02-29 00-00-00",  // no leap day
      "2026-13-01 00-00-00",
      "2026-00-10 00-00-00",
      "2026-04-31 00-00-00",
      "2026-05-00 00-00-00",
      "2026-05-20 24-00-00",
      "2026-05-20 23-60-00",
      "2026-05-20 23-59-60",
      "20-12-05-2 -13-45-3",     // what a two-digit channel does to the columns
      "20100-05-20 13-45-30",    // a field of 100 or more
      "2026-05-20 13:45:30",
      "2026-05-20T13-45-30",
      "1999-05-20 13-45-30",
      "2026-5-20 13-45-300",
  };
  for (const char* text : invalid) EXPECT_FALSE(parse_start(text)) << text;
  const auto t = parse_start("2026-05-20 08-15-07");
  EXPECT_EQ(t->year, 2026);
  EXPECT_EQ(t->second, 7);
}

TEST(EndColumn, StartPlusWholeSecondsOfTheDuration) {
  struct Case {
    const char* start;
    int64_t frames;
    Rate fps;
    const char* end;
  };
  const Case cases[] = {
      {"2026-05-20 08-15-07", 40, {10, 1}, "2026-05-20 08-15-11"},
      {"2026-05-20 08-15-07", 49, {25, 1}, "2026-05-20 08-15-08"},  // 1.96 s: the clip ends in second 08
      {"2026-05-20 23-59-58", 75, {25, 1}, "2026-05-21 00-00-01"},
      {"2026-04-30 23-59-59", 10, {10, 1}, "2026-05-01 00-00-00"},
      {"2024-02-28 23-59-59", 1, {1, 1}, "2024-02-29 00-00-00"},
      {"2023-02-28 23-59-59", 1, {1, 1}, "2023-03-01 00-00-00"},
      {"2099-12-31 23-59-59", 1, {1, 1}, "2100-01-01 00-00-00"},
      // 30000 frames at 29.97 fps last 1001 s.
      {"2026-05-20 08-00-00", 30000, {30000, 1001}, "2026-05-20 08-16-41"},
      // Eight days of recording at 25 fps.
      {"2026-05-20 08-00-00", int64_t{25} * 86400 * 8, {25, 1}, "2026-05-28 08-00-00"},
      {"2026-05-20 08-15-07", 0, {25, 1}, ""},
      {"2026-05-20 08-15-07", 10, {0, 1}, ""},
      {"2026-02-30 08-15-07", 10, {10, 1}, ""},
      {"", 10, {10, 1}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(end_column(c.start, c.frames, c.fps), c.end) << c.start << " " << c.frames;

  ClipDuration unknown;
  unknown.frames = 40;
  unknown.fps = {10, 1};
  EXPECT_EQ(end_column("2026-05-20 08-15-07", unknown), "");
  unknown.known = true;
  EXPECT_EQ(end_column("2026-05-20 08-15-07", unknown), "2026-05-20 08-15-11");
}

TEST(Mp4Metadata, CreationTimeTitleAndName) {
  EXPECT_EQ(creation_time("2026-05-20 08-15-07"), "2026-05-20T08:15:07.000000Z");
  EXPECT_FALSE(creation_time("2026-05-20 25-15-07"));
  EXPECT_FALSE(creation_time(""));
  scanner::ClipRow row;
  row.channel = "03";
  EXPECT_EQ(channel_title(row), "通道 03");
  EXPECT_EQ(mp4_name("ch00000000000001-26-05-20-08-15-07-.264"), "ch00000000000001-26-05-20-08-15-07-.mp4");
  EXPECT_EQ(mp4_name("ch0000000000000-.264"), "ch0000000000000-.mp4");
  EXPECT_EQ(mp4_name("clip"), "clip.mp4");
}

}  // namespace
}  // namespace clip::video
