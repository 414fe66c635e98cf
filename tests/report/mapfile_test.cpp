#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "report/mapfile.h"
#include "report/test_files.h"
#include "scanner/scanner.h"
#include "sources/memory_source.h"

namespace clip::report {
namespace {

using sources::MemorySource;
using sources::ReadError;

// As the copying tool writes it after a run with bad areas.
constexpr const char* kSample =
    "# Mapfile. Created by the copying tool\n"
    "# Command line: copy -d /dev/x image.img image.map\n"
    "# Start time:   2024-01-02 03:04:05\n"
    "# current_pos  current_status  current_pass\n"
    "0x00120000     +               1\n"
    "#      pos        size  status\n"
    "0x00000000  0x00100000  +\n"
    "0x00100000  0x00000200  -\n"
    "0x00100200  0x00000E00  +\n"
    "0x00101000  0x00000100  *\n"     // half a sector: the whole sector is out
    "0x00101100  0x00000F00  +\n"
    "0x00102000  0x00001000  /\n"
    "0x00103000  0x0001D000  +\n"
    "0x00120000  0x00001000  ?\n";

TEST(Mapfile, ParsesAndListsWhatWasNotRecovered) {
  const auto map = parse_mapfile(kSample);
  ASSERT_TRUE(map) << map.error();
  EXPECT_EQ(map->current_pos, 0x120000);
  EXPECT_EQ(map->current_status, '+');
  EXPECT_EQ(map->current_pass, 1);
  ASSERT_EQ(map->blocks.size(), 8u);
  EXPECT_EQ(map->blocks[1], (MapBlock{0x100000, 0x200, '-'}));

  // 0x121000 bytes = 2312 sectors; the image is 2400 sectors, so the end past
  // the mapfile's last block is unrecovered too.
  const auto bad = unrecovered_sectors(map.value(), 2400);
  const std::vector<SectorRange> want = {{2048, 1}, {2056, 1}, {2064, 8}, {2304, 96}};
  EXPECT_EQ(bad, want);
  // A source shorter than the mapfile cuts its ranges.
  EXPECT_EQ(unrecovered_sectors(map.value(), 2060), (std::vector<SectorRange>{{2048, 1}, {2056, 1}}));
  // Decimal, octal, no pass, CRLF line ends, a block not starting at 0.
  const auto other = parse_mapfile("10 ?\r\n512 1024 +\r\n03000 0x200 -\r\n");
  ASSERT_TRUE(other) << other.error();
  EXPECT_EQ(other->current_pass, 0);
  EXPECT_EQ(other->blocks[1], (MapBlock{1536, 512, '-'}));
  EXPECT_EQ(unrecovered_sectors(other.value(), 4), (std::vector<SectorRange>{{0, 1}, {3, 1}}));
}

TEST(Mapfile, MalformedLinesAreErrorsWithTheirNumber) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"# only comments\n\n", "第 2 行：没有状态行"},
      {"0x0 +\n0x0 0x200\n", "第 2 行：数据块行"},
      {"0x0 +\n0x0 0x200 + extra\n", "第 2 行：数据块行"},
      {"0x0 +\n0x0 0x200 F\n", "第 2 行：无效的状态"},
      {"0x0 X\n", "第 1 行：无效的当前状态"},
      {"0x0 + 0\n", "第 1 行：无效的遍数"},
      {"0x0 +\n0x0 0x200 ++\n", "第 2 行：无效的状态"},
      {"0x0 +\n0xG0 0x200 +\n", "第 2 行：无效的位置"},
      {"0x0 +\n08 0x200 +\n", "第 2 行：无效的位置"},  // 8 is no octal digit
      {"0x0 +\n-1 0x200 +\n", "第 2 行：无效的位置"},
      {"0x0 +\n0 0 +\n", "第 2 行：无效的大小"},
      {"0x0 +\n0 0x200 +\n# gap next\n0x400 0x200 -\n", "第 4 行：数据块应从上一块的结尾 512 开始"},
      {"0x0 +\n0 0x200 +\n0x100 0x200 -\n", "第 3 行：数据块应从上一块的结尾"},
      {"0x0 +\n0x10 0x7FFFFFFFFFFFFFFF +\n", "第 2 行：数据块超出"},
      {"0x0 +\n0 0xFFFFFFFFFFFFFFFFF +\n", "第 2 行：无效的大小"},
  };
  for (const auto& c : cases) {
    const auto map = parse_mapfile(c.text);
    ASSERT_FALSE(map) << c.text;
    EXPECT_NE(map.error().find(c.error), std::string::npos) << c.text << " -> " << map.error();
  }
}

TEST(Mapfile, WrittenScanMapReadsBackWithTheSameAreas) {
  const std::vector<SectorRange> read = {{100, 900}, {8000, 2000}, {500, 100}};
  const std::vector<SectorRange> bad = {{200, 3}, {9999, 1}, {150, 51}};
  const std::string text = write_mapfile(10000, read, bad, "test");
  const auto map = parse_mapfile(text);
  ASSERT_TRUE(map) << map.error() << "\n" << text;
  const std::vector<MapBlock> want = {
      {0, 100 * 512, '?'},         {100 * 512, 50 * 512, '+'},  {150 * 512, 53 * 512, '-'},
      {203 * 512, 797 * 512, '+'}, {1000 * 512, 7000 * 512, '?'}, {8000 * 512, 1999 * 512, '+'},
      {9999 * 512, 512, '-'},
  };
  EXPECT_EQ(map->blocks, want);
  const auto empty = parse_mapfile(write_mapfile(0, {}, {}, "x"));
  ASSERT_TRUE(empty) << empty.error();
  EXPECT_TRUE(empty->blocks.empty());
}

TEST(Mapfile, CoverageFollowsTheScansPasses) {
  ScanCoverage full;
  full.pass(8000000, 9000000);
  full.progress(8000000);
  full.progress(8000128);  // the search found the signature in this block
  full.pass(8000130, 9000000);
  full.progress(8500000);
  EXPECT_EQ(full.read(true), (std::vector<SectorRange>{{8000000, 1000000}}));
  // Stopped at 8,500,000: that block was not read.
  EXPECT_EQ(full.read(false), (std::vector<SectorRange>{{8000000, 500000}}));
  ScanCoverage none;
  EXPECT_TRUE(none.read(true).empty());
}

TEST(UnreadableSource, FailsInsideRangesWithoutReading) {
  auto memory = std::make_unique<MemorySource>(1000);
  MemorySource* inner = memory.get();
  const uint8_t mark[512] = {7};
  inner->write(99 * 512, mark);
  auto source = with_unreadable(std::move(memory), {{100, 10}, {500, 1}});
  std::vector<uint8_t> buf(128 * 512);

  auto got = source->read_sectors(0, 128, buf.data());
  EXPECT_EQ(got.error, ReadError::media);
  EXPECT_EQ(got.bytes, 100u * 512);
  EXPECT_EQ(buf[99 * 512], 7);
  const int64_t reads = inner->reads();
  got = source->read_sectors(105, 1, buf.data());
  EXPECT_EQ(got.error, ReadError::media);
  EXPECT_EQ(got.bytes, 0u);
  EXPECT_EQ(inner->reads(), reads);  // nothing read inside the range
  EXPECT_TRUE(source->read_sectors(110, 128, buf.data()).ok());
  EXPECT_EQ(source->read_sectors(499, 2, buf.data()).bytes, 512u);
  // A failure of the source itself comes through as it is.
  inner->fail_sector(20);
  got = source->read_sectors(10, 100, buf.data());
  EXPECT_EQ(got.error, ReadError::media);
  EXPECT_EQ(got.bytes, 10u * 512);
}

// The scan reports the mapfile's holes as unreadable, through the same path
// as a damaged disk's sectors.
TEST(UnreadableSource, ScanReportsTheHoles) {
  auto memory = std::make_unique<MemorySource>(4096);
  auto source = with_unreadable(std::move(memory), {{300, 5}, {4000, 96}});
  scanner::ScanCallbacks cb;
  const auto result = scanner::scan(*source, {}, cb);
  EXPECT_EQ(result.end, scanner::ScanEnd::complete);
  EXPECT_EQ(result.unreadable, (std::vector<SectorRange>{{300, 5}, {4000, 96}}));
}

TEST(Mapfile, CopyingToolAcceptsTheWrittenMap) {
  if (std::system("command -v ddrescuelog >/dev/null 2>&1") != 0) GTEST_SKIP() << "ddrescuelog is not installed";
  test::TempDir dir;
  const auto path = dir.path / "scan.map";
  std::ofstream(path) << write_mapfile(4096, {{0, 4096}}, {{100, 8}, {2000, 1}}, "test");
  // Its summary counts the bad-sector bytes the scan could not read.
  const std::string out = test::run_command("ddrescuelog -t '" + path.string() + "'");
  EXPECT_TRUE(std::regex_search(out, std::regex("bad-sector: +4608 B, +in +2 area"))) << out;
  const std::string bad = test::run_command("ddrescuelog -b512 --list-blocks=- '" + path.string() + "'");
  EXPECT_NE(bad.find("100\n"), std::string::npos) << bad;
  EXPECT_NE(bad.find("2000\n"), std::string::npos) << bad;
}

}  // namespace
}  // namespace clip::report
