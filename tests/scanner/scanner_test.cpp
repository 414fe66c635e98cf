#include "scanner/scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sources/memory_source.h"

namespace clip::scanner {
namespace {

using sources::MemorySource;

void put(MemorySource& src, int64_t byte_offset, std::string_view text) {
  src.write(byte_offset, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void header(MemorySource& src, int64_t sector, uint8_t channel, TimeFields t) {
  put(src, sector * 512 + 80, kSignature);
  src.write(sector * 512 + 43, t);
  const uint8_t c[1] = {channel};
  src.write(sector * 512 + 468, c);
}

void stream(MemorySource& src, int64_t sector, char channel_char, int64_t at = 100) {
  put(src, sector * 512 + at - 2, std::string(1, channel_char) + "xdcH264");
}

struct ScanRun {
  std::vector<ClipRow> rows;
  std::vector<std::string> log;
  ScanResult result;
};

ScanRun run(MemorySource& src, std::function<bool()> stop = {}, int64_t first_number = 1) {
  ScanRun r;
  ScanCallbacks cb;
  cb.row = [&](const ClipRow& row) { r.rows.push_back(row); };
  cb.log = [&](const std::string& line) { r.log.push_back(line); };
  cb.stop_requested = std::move(stop);
  ScanOptions options;
  options.device_path = "test";
  options.first_number = first_number;
  options.chunk_blocks = 4;
  r.result = scan(src, options, cb);
  return r;
}

constexpr int64_t F = kSearchStart + 130;
const TimeFields kT1{12, 5, 20, 13, 45, 30};

TEST(ClipIndexer, WorkedSequenceFromTheFoundSector) {
  MemorySource src(F + 640);
  header(src, F, 1, kT1);
  stream(src, F + 128, '0');
  header(src, F + 256, 2, {12, 5, 20, 13, 45, 31});
  stream(src, F + 384, '1');
  header(src, F + 512, 1, {12, 5, 20, 14, 0, 0});
  const ScanRun r = run(src);
  EXPECT_EQ(r.result.end, ScanEnd::complete);
  ASSERT_EQ(r.result.signature_sector, std::optional<int64_t>(F));
  ASSERT_EQ(r.rows.size(), 3u);
  const ClipRow& first = r.rows[0];
  EXPECT_EQ(first.number, 1);
  EXPECT_EQ(first.channel, "01");
  EXPECT_EQ(first.start, "2012-05-20 13-45-30");
  EXPECT_EQ(first.name, "ch00000000000001-12-05-20-13-45-30-.264");
  EXPECT_EQ(first.blocks, 2);
  EXPECT_EQ(first.size_mb, 0);
  EXPECT_TRUE(first.closed);
  EXPECT_EQ(first.runs, (std::vector<BlockRun>{{F, 2}}));
  EXPECT_EQ(r.rows[1].name, "ch00000000000002-12-05-20-13-45-31-.264");
  EXPECT_EQ(r.rows[1].runs, (std::vector<BlockRun>{{F + 256, 2}}));
  EXPECT_FALSE(r.rows[1].closed);
  EXPECT_EQ(r.rows[2].name, "ch00000000000001-12-05-20-14-00-00-.264");
  EXPECT_EQ(r.rows[2].runs, (std::vector<BlockRun>{{F + 512, 1}}));
  EXPECT_FALSE(r.rows[2].closed);
  EXPECT_EQ(r.log.front(), "您选择了test,总大小为：" + std::to_string(F + 640) + "SEC");
  EXPECT_EQ(r.log.back(), "扫描完成!");
}

TEST(ClipIndexer, SizeCountsBlocksAndInterleavedChannelsKeepSeparateRuns) {
  MemorySource src(F + 40 * 128);
  header(src, F, 1, kT1);
  header(src, F + 128, 2, kT1);
  for (int b = 2; b < 36; ++b) stream(src, F + b * 128, b % 2 == 0 ? '0' : '1');
  header(src, F + 36 * 128, 1, kT1);
  const ScanRun r = run(src);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[0].blocks, 18);  // block 0 and the 17 even blocks 2..34
  EXPECT_EQ(r.rows[0].size_mb, 1);  // 18 x 64 / 1024
  EXPECT_EQ(r.rows[0].runs.size(), 18u);
  EXPECT_EQ(r.rows[1].channel, "02");
  // Blocks 36..39: the header and three plain blocks join the new clip of 1.
  EXPECT_EQ(r.rows[2].runs, (std::vector<BlockRun>{{F + 36 * 128, 4}}));
}

TEST(ClipIndexer, TwoDigitChannelsAndBigTimeFieldsUseTheClipFields) {
  MemorySource src(F + 256);
  header(src, F, 10, {12, 5, 20, 14, 120, 7});
  stream(src, F + 128, '9');  // channel 10: joins the open clip
  const ScanRun r = run(src);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0].channel, "10");
  EXPECT_EQ(r.rows[0].start, "2012-05-20 14-120-07");
  EXPECT_EQ(r.rows[0].name, "ch000000000000010-12-05-20-14-120-07-.264");
  EXPECT_EQ(r.rows[0].blocks, 2);
}

TEST(ClipIndexer, NoSignatureStartsAtZeroWithEmptyTexts) {
  MemorySource src(300);
  put(src, 10, "nothing");
  stream(src, 256, '3');
  const ScanRun r = run(src);
  EXPECT_FALSE(r.result.signature_sector);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].name, "ch0000000000000-.264");
  EXPECT_EQ(r.rows[0].channel, "");
  EXPECT_EQ(r.rows[0].start, "");
  EXPECT_EQ(r.rows[0].runs, (std::vector<BlockRun>{{0, 2}}));
  EXPECT_EQ(r.rows[1].name, "ch00000000000004-.264");
}

TEST(MarkerSearch, EdgesOfTheBlockAndBadChannelCharacters) {
  std::vector<uint8_t> block(sources::kBlockBytes, 0);
  auto at = [&](std::size_t p, std::string_view text) { std::memcpy(block.data() + p, text.data(), text.size()); };
  // Last byte of the marker on the block's last byte: found.
  at(65530, "dcH264");
  at(65528, "5");
  EXPECT_EQ(marker_channel(block.data(), block.size()), 6);
  EXPECT_EQ(find_stream_marker(block.data(), block.size()), 65530u);
  // Cut by the valid length: not found.
  EXPECT_EQ(marker_channel(block.data(), 65535), std::nullopt);
  // A marker at 0 has no channel character in the block; a non-digit one is
  // skipped; the next good marker counts.
  std::fill(block.begin(), block.end(), 0);
  at(0, "dcH264");
  at(1000, "Q?dcH264");
  at(3001, "7?dcH264");
  EXPECT_EQ(marker_channel(block.data(), block.size()), 8);
  // Near misses and case.
  std::fill(block.begin(), block.end(), 'd');
  at(500, "0?dch264");
  EXPECT_EQ(marker_channel(block.data(), block.size()), std::nullopt);
  for (std::size_t p = 0; p < 40; ++p) {
    std::fill(block.begin(), block.end(), 0);
    at(p + 2, "dcH264");
    block[p] = '2';
    EXPECT_EQ(find_stream_marker(block.data(), 48), p + 2) << p;
    EXPECT_EQ(marker_channel(block.data(), 48), 3) << p;
  }
}

TEST(SignatureSearch, ShortSourcesStopAndLateSignatures) {
  MemorySource small(kSearchStart);
  header(small, 0, 1, kT1);
  const ScanRun r = run(small);
  EXPECT_FALSE(r.result.signature_sector);  // never searched, pass from 0
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0].first_sector, 0);

  MemorySource tail(kSearchStart + 100);
  header(tail, kSearchStart + 99, 3, kT1);
  const ScanRun t = run(tail);
  EXPECT_EQ(t.result.signature_sector, std::optional<int64_t>(kSearchStart + 99));
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(t.rows[0].channel, "03");

  MemorySource stopped(F + 1000);
  header(stopped, F, 1, kT1);
  const ScanRun s = run(stopped, [] { return true; });
  EXPECT_EQ(s.result.end, ScanEnd::stopped);
  EXPECT_TRUE(s.rows.empty());
  EXPECT_EQ(s.log.back(), "扫描完成!");

  MemorySource empty(0);
  EXPECT_EQ(run(empty).result.end, ScanEnd::refused);
}

TEST(ScanFaults, UnreadableSectorsAreZeroFilledReportedAndTheScanGoesOn) {
  MemorySource src(F + 1024);
  header(src, F, 1, kT1);
  for (int b = 1; b < 8; ++b) stream(src, F + b * 128, '0');
  src.fail_sector(F + 300);
  src.fail_sector(F + 301);
  src.fail_sector(F + 302, 1);  // reads on the second try
  src.fail_sector(F + 700);
  const ScanRun r = run(src);
  EXPECT_EQ(r.result.end, ScanEnd::complete);
  EXPECT_EQ(r.result.unreadable, (std::vector<SectorRange>{{F + 300, 2}, {F + 700, 1}}));
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0].blocks, 8);
  int lines = 0;
  for (const auto& line : r.log) lines += line.find("无法读取") != std::string::npos;
  EXPECT_EQ(lines, 2);
}

TEST(ScanFaults, GoneSourceFailsAndStillListsOpenClips) {
  MemorySource src(F + 1024);
  header(src, F, 1, kT1);
  header(src, F + 128, 2, kT1);
  src.gone_from(F + 512);
  const ScanRun r = run(src);
  EXPECT_EQ(r.result.end, ScanEnd::failed);
  EXPECT_EQ(r.result.message, "读源介质错误！");
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_FALSE(r.rows[0].closed);
  EXPECT_NE(r.log.back(), "扫描完成!");
}

TEST(ScanFaults, TruncatedSourceEndsAtItsRealEnd) {
  MemorySource src(F + 10000);
  header(src, F, 1, kT1);
  src.truncate(F + 300);
  const ScanRun r = run(src);
  EXPECT_EQ(r.result.end, ScanEnd::complete);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0].blocks, 3);  // F, F+128 and the 44-sector rest at F+256
  EXPECT_EQ(r.log.back(), "扫描完成!");
  EXPECT_NE(r.log[r.log.size() - 2].find("尽头"), std::string::npos);
}

TEST(ScanRows, NumberingContinuesAfterEarlierRows) {
  MemorySource src(300);
  header(src, 0, 1, kT1);
  header(src, 128, 1, kT1);
  const ScanRun r = run(src, {}, 6);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].number, 6);
  EXPECT_EQ(r.rows[1].number, 7);
}

}  // namespace
}  // namespace clip::scanner
