#include "scanner/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "sources/memory_source.h"
#include "sources/test_sources.h"

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

// A block with data but neither signature nor marker.
void plain(MemorySource& src, int64_t sector) { put(src, sector * 512 + 7, "video"); }

int count_lines(const std::vector<std::string>& log, std::string_view part) {
  int n = 0;
  for (const auto& line : log) n += line.find(part) != std::string::npos;
  return n;
}

struct ScanRun {
  std::vector<ClipRow> rows;
  std::vector<std::string> log;
  ScanResult result;
};

ScanOptions test_options() {
  ScanOptions options;
  options.device_path = "test";
  options.chunk_blocks = 4;
  return options;
}

ScanRun run_with(sources::BlockSource& src, const ScanOptions& options, ScanCallbacks cb = {}) {
  ScanRun r;
  cb.row = [&](const ClipRow& row) { r.rows.push_back(row); };
  cb.log = [&](const std::string& line) { r.log.push_back(line); };
  r.result = scan(src, options, cb);
  return r;
}

ScanRun run(MemorySource& src, std::function<bool()> stop = {}, int64_t first_number = 1) {
  ScanOptions options = test_options();
  options.first_number = first_number;
  ScanCallbacks cb;
  cb.stop_requested = std::move(stop);
  return run_with(src, options, cb);
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
  for (int b = 37; b < 40; ++b) plain(src, F + b * 128);
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
  plain(src, 128);
  stream(src, 256, '3');
  const ScanRun r = run(src);
  EXPECT_FALSE(r.result.signature_sector);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].name, "ch0000000000000-.264");
  EXPECT_EQ(r.rows[0].channel, "");
  EXPECT_EQ(r.rows[0].start, "");
  EXPECT_EQ(r.rows[0].runs, (std::vector<BlockRun>{{0, 2}}));
  EXPECT_EQ(r.rows[1].name, "ch00000000000004-.264");
  EXPECT_EQ(count_lines(r.log, kNoSignatureLine), 1);
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
  EXPECT_EQ(s.log[s.log.size() - 2], kStoppedLine);
  EXPECT_EQ(count_lines(s.log, kNoSignatureLine), 0);  // it was never looked for to the end

  MemorySource empty(0);
  const ScanRun e = run(empty);
  EXPECT_EQ(e.result.end, ScanEnd::refused);
  EXPECT_EQ(e.result.message, kEmptySourceText);
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
  EXPECT_EQ(count_lines(r.log, "已用零填充"), 2);
  EXPECT_EQ(count_lines(r.log, "索引片段时共 3 个扇区无法读取"), 1);
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
  plain(src, F + 128);
  plain(src, F + 256);
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

TEST(ZeroBlocks, NeitherOpenNorExtendClipsAndAreCounted) {
  // Block 0 header, 1 stream, 2..5 empty, 6 plain data, 7..9 empty.
  MemorySource src(10 * 128);
  header(src, 0, 1, kT1);
  stream(src, 128, '0');
  plain(src, 6 * 128);
  const ScanRun r = run(src);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0].runs, (std::vector<BlockRun>{{0, 2}, {6 * 128, 1}}));
  EXPECT_EQ(r.rows[0].blocks, 3);
  EXPECT_EQ(r.result.zero_blocks, 7);
  // In this order at the end: the count, then the closing line.
  ASSERT_GE(r.log.size(), 3u);
  EXPECT_EQ(r.log[r.log.size() - 2], "共 7 个全零块未计入片段");
  EXPECT_EQ(r.log[2], kNoSignatureLine);

  // A blank disk lists nothing at all.
  MemorySource blank(40 * 128 + 5);
  const ScanRun b = run(blank);
  EXPECT_TRUE(b.rows.empty());
  EXPECT_EQ(b.result.zero_blocks, 41);

  // A block whose only data was unreadable is not judged empty by its
  // zero-filled bytes: it stays in the clip.
  MemorySource damaged(3 * 128);
  header(damaged, 0, 1, kT1);
  damaged.fail_sector(128 + 5);
  const ScanRun d = run(damaged);
  ASSERT_EQ(d.rows.size(), 1u);
  EXPECT_EQ(d.rows[0].runs, (std::vector<BlockRun>{{0, 2}}));
  EXPECT_EQ(d.result.zero_blocks, 1);

  // With the signature found, no line says it was not.
  MemorySource found(F + 512);
  header(found, F, 1, kT1);
  EXPECT_EQ(count_lines(run(found).log, kNoSignatureLine), 0);
}

TEST(MarkerSearch, MarkerAtTheBlockStartTakesTheCharacterFromTheBlockJustRead) {
  // The search finds F; F+128 ends in "...2" + one byte, F+256 opens with the
  // marker at position 0: the character two bytes before it is the '2' of
  // F+128. F+384 ends with '4', F+512 has the marker at position 1.
  MemorySource src(F + 5 * 128);
  header(src, F, 1, kT1);
  plain(src, F + 128);
  put(src, (F + 256) * 512 - 2, "2x");
  put(src, (F + 256) * 512, "dcH264");
  plain(src, F + 384);
  put(src, (F + 512) * 512 - 1, "4");
  put(src, (F + 512) * 512 + 1, "dcH264");
  const ScanRun r = run(src);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[0].runs, (std::vector<BlockRun>{{F, 2}}));
  EXPECT_EQ(r.rows[1].name, "ch00000000000003-12-05-20-13-45-30-.264");
  EXPECT_EQ(r.rows[1].runs, (std::vector<BlockRun>{{F + 256, 2}}));
  EXPECT_EQ(r.rows[2].name, "ch00000000000005-12-05-20-13-45-30-.264");

  // The first block of a pass has no block read just before it: such a
  // marker is passed over and the block keeps the last channel.
  MemorySource first(3 * 128);
  put(first, 0, "dcH264");
  put(first, 128 * 512 - 2, "x7");
  put(first, 128 * 512 + 1, "dcH264");
  const ScanRun f = run(first);
  ASSERT_EQ(f.rows.size(), 2u);
  EXPECT_EQ(f.rows[0].name, "ch0000000000000-.264");
  EXPECT_EQ(f.rows[0].runs, (std::vector<BlockRun>{{0, 1}}));
  EXPECT_EQ(f.rows[1].name, "ch00000000000008-.264");
}

TEST(ScanFaults, UnreadableRangesAreReportedOnceAndSummedPerPass) {
  // No signature: the search reads [1024, T), then the pass reads [0, T), so
  // the sectors after 1024 are read twice.
  MemorySource src(40 * 128);
  for (int b = 0; b < 40; ++b) plain(src, b * 128);
  const std::vector<int64_t> bad = {100, 101, 2000, 3000, 3001, 3002, 4500};
  for (int64_t s : bad) src.fail_sector(s);
  ScanOptions options = test_options();
  options.search_start = 1024;
  const ScanRun r = run_with(src, options);
  EXPECT_EQ(r.result.end, ScanEnd::complete);
  EXPECT_EQ(r.result.unreadable, (std::vector<SectorRange>{{100, 2}, {2000, 1}, {3000, 3}, {4500, 1}}));
  EXPECT_EQ(count_lines(r.log, "已用零填充"), 4);
  EXPECT_EQ(count_lines(r.log, "搜索签名时共 5 个扇区无法读取"), 1);
  EXPECT_EQ(count_lines(r.log, "索引片段时共 7 个扇区无法读取"), 1);
  // The search's lines come before its summary, the pass's new one after it.
  const auto at = [&](std::string_view part) {
    return std::find_if(r.log.begin(), r.log.end(), [&](auto& l) { return l.find(part) != std::string::npos; }) -
           r.log.begin();
  };
  EXPECT_LT(at("扇区 4500 起"), at("搜索签名时共"));
  EXPECT_LT(at("搜索签名时共"), at("扇区 100 起"));

  // With the unreadable callback set, ranges go there and only the summaries
  // to the log.
  std::vector<SectorRange> ranges;
  ScanCallbacks cb;
  cb.unreadable = [&](const SectorRange& range) { ranges.push_back(range); };
  const ScanRun c = run_with(src, options, cb);
  EXPECT_EQ(ranges.size(), 4u);
  EXPECT_EQ(count_lines(c.log, "已用零填充"), 0);
  EXPECT_EQ(count_lines(c.log, "个扇区无法读取"), 2);
}

TEST(ScanFaults, StillThereProbeUsesASectorThatReallyWasRead) {
  // Sector 0 unreadable, 1..127 good, 128 (the last block, one sector)
  // unreadable: the probe after the empty last block must read a good sector,
  // not sector 0 again.
  MemorySource src(129);
  plain(src, 0);
  src.fail_sector(0);
  src.fail_sector(128);
  const ScanRun r = run(src);
  EXPECT_EQ(r.result.end, ScanEnd::complete);
  EXPECT_EQ(r.result.unreadable, (std::vector<SectorRange>{{0, 1}, {128, 1}}));
  EXPECT_EQ(r.log.back(), kDoneLine);
}

TEST(ScanFaults, ThrowingSourceEndsTheScanWithAReadError) {
  // The throw comes from the read-ahead worker (the chunk) and again from
  // the repair's read; neither may end the process.
  sources::testing::ThrowingSource src(20 * 128, 700);
  const ScanRun r = run_with(src, test_options());
  EXPECT_EQ(r.result.end, ScanEnd::failed);
  EXPECT_NE(r.result.message.find(kReadErrorText), std::string::npos);
  EXPECT_NE(r.result.message.find("controller reset"), std::string::npos);
  EXPECT_EQ(r.log.back(), r.result.message);
}

// A read that hangs: the scan must come back as stopped when the operator
// stops, whether the source can take the read back or not.
TEST(ScanStop, ReturnsWhileAReadHangs) {
  using sources::testing::Hanging;
  using sources::testing::HangingSource;
  for (const bool cancellable : {true, false}) {
    SCOPED_TRACE(cancellable ? "cancellable" : "left behind");
    auto inner = std::make_shared<Hanging>(64 * 128, 20 * 128 + 3, cancellable);
    std::atomic<bool> stop{false};
    std::optional<ScanRun> r;
    {
      HangingSource src(inner, true);
      ScanCallbacks cb;
      cb.stop_requested = [&] { return stop.load(); };
      std::thread scanning([&] { r = run_with(src, test_options(), cb); });
      ASSERT_TRUE(inner->wait_waiting(1));
      // What the GUI and CLI do on Stop: the flag, then cancel the source.
      stop = true;
      src.cancel();
      scanning.join();
    }
    ASSERT_TRUE(r);
    EXPECT_EQ(r->result.end, ScanEnd::stopped);
    EXPECT_EQ(r->log.back(), kDoneLine);
    // The source the scan was given is gone now; a read left behind ends
    // when the system lets it go, touching only what it holds.
    inner->release();
    EXPECT_TRUE(sources::testing::wait_sole_owner(inner));
  }
}

}  // namespace
}  // namespace clip::scanner
