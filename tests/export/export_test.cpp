// The export, repair, preview and duration over generated recorder disks.
// Nothing here needs a program outside the test: it runs natively and under
// Wine alike. Playback by a real player is checked in playback_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>

#include "export/duration.h"
#include "export/mp4.h"
#include "export/preview.h"
#include "recover/recover.h"
#include "support.h"

namespace clip::video {
namespace {

using namespace test;
namespace ig = imagegen;

const Disk& sample_disk() {
  static const Disk disk = make_disk(ig::sample_spec());
  return disk;
}

// The sample with every recording after a channel's first one started
// mid-stream and stripped of its parameter sets.
const Disk& cut_disk() {
  static const Disk disk = [] {
    auto plan = ig::sample_spec();
    ig::drop_parameter_sets(plan);
    return make_disk(plan);
  }();
  return disk;
}

std::string sha_of(const std::vector<uint8_t>& bytes) {
  recover::Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.hex();
}

bool has_unit(std::span<const uint8_t> bytes, int type) {
  for (const auto& n : split_nal_units(bytes)) {
    if (n.type == type) return true;
  }
  return false;
}

TEST(Mp4Export, EveryClipOfTheSampleDiskWithItsTimingNameAndHash) {
  const Disk& disk = sample_disk();
  TempDir dir;
  ASSERT_EQ(disk.rows.size(), disk.placed.size());
  for (const auto& recording : disk.placed) {
    const auto& row = disk.row_of(recording);
    SCOPED_TRACE(row.name);
    const auto result = export_mp4(*disk.source, row, dir.str());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.outcome, ExportOutcome::complete);
    const auto pictures = count_pictures(clip_bytes(*disk.source, row));
    EXPECT_EQ(result.frames, pictures.total);
    EXPECT_EQ(result.skipped_frames, 0);
    EXPECT_EQ(result.fps, (Rate{10, 1}));
    EXPECT_EQ(result.fps_origin, FpsOrigin::sps);
    EXPECT_DOUBLE_EQ(result.duration_s, pictures.total / 10.0);
    EXPECT_EQ(result.width, 320);
    EXPECT_EQ(result.height, 240);
    EXPECT_FALSE(result.repaired);
    EXPECT_EQ(result.parameter_sets_from, "clip");
    EXPECT_EQ(path_of(result.path), dir.path() / mp4_name(row.name));
    EXPECT_FALSE(result.renamed);
    const auto bytes = slurp(path_of(result.path));
    EXPECT_EQ(result.bytes, bytes.size());
    EXPECT_EQ(result.sha256, sha_of(bytes));
    // The recorder's own units and the block filler stay out of the MP4.
    EXPECT_LT(bytes.size(), clip_bytes(*disk.source, row).size() / 4);
  }
  // Nothing but the MP4s is left in the folder.
  for (const auto& name : dir.names()) EXPECT_EQ(name.substr(name.size() - 4), ".mp4") << name;
  EXPECT_EQ(dir.names().size(), disk.placed.size());
}

TEST(Mp4Export, SameFileFromTheSourceAndFromTheRecoveredStream) {
  const Disk& disk = sample_disk();
  const auto& row = disk.rows.front();
  TempDir from_source, from_file;
  const auto a = export_mp4(*disk.source, row, from_source.str());
  ASSERT_TRUE(a.ok) << a.error;
  const auto recovered = recover::recover_clip(*disk.source, row, from_file.str());
  ASSERT_TRUE(recovered.ok) << recovered.error;
  const std::string h264_sha = sha_of(slurp(path_of(recovered.file.path)));
  FileInput input(recovered.file.path);
  ASSERT_TRUE(input.opened()) << input.error();
  const auto b = export_mp4(input, row, nullptr, from_file.str());
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ(a.sha256, b.sha256);
  EXPECT_EQ(sha_of(slurp(path_of(recovered.file.path))), h264_sha);  // the evidence is left as it was
}

TEST(Mp4Export, NeverOverwritesAndLeavesNoPartialFile) {
  const Disk& disk = sample_disk();
  const auto& row = disk.rows.front();
  TempDir dir;
  const std::string name = mp4_name(row.name);
  const std::string taken[] = {name, name + ".part", recover::numbered_name(name, 1)};
  for (const auto& t : taken) std::ofstream(dir.path() / path_of(t)) << "keep " << t;
  const auto result = export_mp4(*disk.source, row, dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.renamed);
  EXPECT_EQ(path_of(result.path).filename(), path_of(recover::numbered_name(name, 2)));
  for (const auto& t : taken) {
    const auto kept = slurp(dir.path() / path_of(t));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep " + t);
  }
  EXPECT_EQ(dir.names().size(), 4u);  // the three kept and the new one; its partial file is gone
}

TEST(Mp4Export, StopAndVanishedSourceLeaveNoFile) {
  const Disk& disk = sample_disk();
  const auto& row = *std::max_element(disk.rows.begin(), disk.rows.end(),
                                      [](const auto& a, const auto& b) { return a.blocks < b.blocks; });
  TempDir dir;
  ExportOptions options;
  int asked = 0;
  options.stop = [&] { return ++asked > 2; };
  const auto stopped = export_mp4(*disk.source, row, dir.str(), options);
  EXPECT_EQ(stopped.outcome, ExportOutcome::stopped);
  EXPECT_FALSE(stopped.ok);
  EXPECT_TRUE(dir.names().empty());

  // A source that stops answering in the clip's middle.
  auto plan = ig::sample_spec();
  Disk gone = make_disk(plan);
  const auto& long_row = *std::max_element(gone.rows.begin(), gone.rows.end(),
                                           [](const auto& a, const auto& b) { return a.blocks < b.blocks; });
  gone.source->gone_from(long_row.runs.back().first_sector);
  const auto failed = export_mp4(*gone.source, long_row, dir.str());
  EXPECT_EQ(failed.outcome, ExportOutcome::failed);
  EXPECT_TRUE(failed.source_gone);
  EXPECT_EQ(failed.error, scanner::kReadErrorText);
  EXPECT_TRUE(failed.partial_removed);
  EXPECT_TRUE(dir.names().empty());
}

TEST(Mp4Export, UnreadableSectorsAreZeroFilledAndReported) {
  Disk disk = make_disk(ig::sample_spec());
  const auto& row = disk.rows.front();
  ASSERT_GE(row.blocks, 4);
  const int64_t bad = row.runs.front().first_sector + 128 + 3;  // in the second block
  disk.source->fail_sector(bad);
  TempDir dir;
  const auto result = export_mp4(*disk.source, row, dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.unreadable, (std::vector<scanner::SectorRange>{{bad, 1}}));
  EXPECT_GT(result.frames, 0);
}

TEST(Mp4Export, RefusedForAMissingFolderOrAClipWithNothingToShow) {
  const Disk& disk = sample_disk();
  TempDir dir;
  const auto missing = export_mp4(*disk.source, disk.rows.front(), (dir.path() / "missing").string());
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error.find("missing"), std::string::npos);

  // Only the P pictures of the sample: no IDR picture, nothing a player can start from.
  std::vector<uint8_t> p_only;
  const auto sample = ig::sample_video();
  const auto units = split_nal_units(sample);
  for (const auto& n : units) {
    if (n.type == kNalSlice) {
      p_only.insert(p_only.end(), {0, 0, 0, 1});
      p_only.insert(p_only.end(), sample.begin() + static_cast<std::ptrdiff_t>(n.offset),
                    sample.begin() + static_cast<std::ptrdiff_t>(n.offset + n.size));
    }
  }
  MemoryInput input(p_only);
  const auto nothing = export_mp4(input, disk.rows.front(), nullptr, dir.str());
  EXPECT_EQ(nothing.outcome, ExportOutcome::failed);
  EXPECT_NE(nothing.error.find("IDR"), std::string::npos) << nothing.error;
  EXPECT_TRUE(dir.names().empty());
}

TEST(Mp4Export, StreamWithoutTimingTakesTheSetting) {
  const auto sample = ig::sample_video();
  const auto sps = parse_sps(std::span<const uint8_t>(sample).subspan(split_nal_units(sample).front().offset,
                                                                       split_nal_units(sample).front().size));
  ASSERT_TRUE(sps);
  const auto untimed = without_timing(sample, sps->vui_flag_bit);
  scanner::ClipRow row = sample_disk().rows.front();
  TempDir dir;
  for (const Rate setting : {Rate{25, 1}, Rate{15, 2}}) {
    MemoryInput input(untimed);
    ExportOptions options;
    options.fps_setting = setting;
    const auto result = export_mp4(input, row, nullptr, dir.str(), options);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.fps, setting);
    EXPECT_EQ(result.fps_origin, FpsOrigin::setting);
    EXPECT_EQ(result.frames, 40);
    EXPECT_DOUBLE_EQ(result.duration_s, 40.0 * setting.den / setting.num);
  }
}

// The blocks of a channel before `sector` whose data carry an SPS.
std::vector<int64_t> channel_blocks_with_sps(const Disk& disk, int channel, int64_t sector) {
  std::vector<int64_t> out;
  for (const auto& p : disk.placed) {
    if (p.recording.channel != channel) continue;
    for (int64_t s : p.block_sectors) {
      if (s >= sector) continue;
      std::vector<uint8_t> block(sources::kBlockBytes);
      disk.source->read_block(s, block.data());
      if (has_unit(block, kNalSps)) out.push_back(s);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(StreamRepair, ClipsWithoutParameterSetsBorrowTheNearestOfTheirChannel) {
  const Disk& disk = cut_disk();
  TempDir dir;
  int repaired = 0;
  for (const auto& recording : disk.placed) {
    const auto& row = disk.row_of(recording);
    SCOPED_TRACE(row.name);
    const auto bytes = clip_bytes(*disk.source, row);
    const auto result = export_mp4(*disk.source, row, dir.str());
    ASSERT_TRUE(result.ok) << result.error;
    const auto pictures = count_pictures(bytes);
    if (recording.recording.parameter_sets) {
      EXPECT_FALSE(result.repaired);
      continue;
    }
    ++repaired;
    EXPECT_FALSE(has_unit(bytes, kNalSps));
    EXPECT_TRUE(result.repaired);
    // The MP4 starts at the first IDR picture.
    EXPECT_EQ(result.skipped_frames, pictures.before_idr);
    EXPECT_EQ(pictures.before_idr, 15);
    EXPECT_EQ(result.frames, pictures.total - pictures.before_idr);
    EXPECT_EQ(result.fps, (Rate{10, 1}));
    const auto with_sps = channel_blocks_with_sps(disk, recording.recording.channel, row.first_sector);
    ASSERT_FALSE(with_sps.empty());
    EXPECT_EQ(result.parameter_sets.sps_sector, with_sps.back());
    EXPECT_EQ(result.parameter_sets_from, "sector " + std::to_string(with_sps.back()));
  }
  EXPECT_EQ(repaired, 5);
}

// A baseline SPS of id 0 for a picture of another size, and the sample's PPS.
std::vector<uint8_t> decoy_parameter_sets() {
  BitWriter w;
  w.bits(0x67, 8);
  w.bits(66, 8);
  w.bits(0xC0, 8);
  w.bits(30, 8);
  w.ue(0);
  w.ue(0);  // log2_max_frame_num_minus4
  w.ue(2);  // poc type 2
  w.ue(1);
  w.bits(0, 1);
  w.ue(39);  // 640 wide
  w.ue(29);  // 480 high
  w.bits(1, 1);
  w.bits(1, 1);
  w.bits(0, 1);
  w.bits(0, 1);
  w.trailing();
  std::vector<uint8_t> out{0, 0, 0, 1};
  const auto sps = w.escaped();
  out.insert(out.end(), sps.begin(), sps.end());
  const auto sample = ig::sample_video();
  for (const auto& n : split_nal_units(sample)) {
    if (n.type == kNalPps) {
      out.insert(out.end(), {0, 0, 0, 1});
      out.insert(out.end(), sample.begin() + static_cast<std::ptrdiff_t>(n.offset),
                 sample.begin() + static_cast<std::ptrdiff_t>(n.offset + n.size));
      break;
    }
  }
  return out;
}

TEST(StreamRepair, ParameterSetsThatDoNotDecodeThePictureArePassedOver) {
  auto plan = ig::sample_spec();
  ig::drop_parameter_sets(plan);
  Disk disk = make_disk(plan);
  // The second recording of channel 1, and the block just before it turned
  // into a channel-1 block with parameter sets that don't fit.
  const ig::PlacedRecording* cut = nullptr;
  for (const auto& p : disk.placed) {
    if (p.recording.channel == 1 && !p.recording.parameter_sets) {
      cut = &p;
      break;
    }
  }
  ASSERT_NE(cut, nullptr);
  const auto& row = disk.row_of(*cut);
  const auto good = channel_blocks_with_sps(disk, 1, row.first_sector);
  ASSERT_FALSE(good.empty());
  const int64_t decoy = row.first_sector - 128;
  ASSERT_GT(decoy, good.back());
  ig::StreamBlockSpec block_spec;
  block_spec.channel_char = ig::channel_char_of(1);
  const auto block = ig::stream_block(block_spec, decoy_parameter_sets());
  disk.source->write(decoy * 512, block);

  TempDir dir;
  const auto result = export_mp4(*disk.source, row, dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.repaired);
  EXPECT_EQ(result.parameter_sets.sps_sector, good.back());
  EXPECT_EQ(result.width, 320);
}

TEST(StreamRepair, NothingToBorrowFailsInWordsAndWritesNothing) {
  auto plan = ig::sample_spec();
  for (auto& r : plan.recordings) {
    if (r.channel == 2) {
      r.parameter_sets = false;
      r.first_picture = 5;
    }
  }
  Disk disk = make_disk(plan);
  TempDir dir;
  for (const auto& p : disk.placed) {
    if (p.recording.channel != 2) continue;
    const auto result = export_mp4(*disk.source, disk.row_of(p), dir.str());
    EXPECT_EQ(result.outcome, ExportOutcome::failed);
    EXPECT_NE(result.error.find("参数集"), std::string::npos) << result.error;
  }
  EXPECT_TRUE(dir.names().empty());
  // Without a source to look in, a clip of the cut disk can't be repaired either.
  const Disk& cut = cut_disk();
  for (const auto& p : cut.placed) {
    if (p.recording.parameter_sets) continue;
    const auto bytes = clip_bytes(*cut.source, cut.row_of(p));
    MemoryInput input(bytes);
    EXPECT_FALSE(export_mp4(input, cut.row_of(p), nullptr, dir.str()).ok);
    break;
  }
}

TEST(Preview, FirstPictureAndSteppingForwardAndBack) {
  const Disk& disk = sample_disk();
  const auto& row = disk.rows.front();
  PreviewOptions options;
  options.cache_bytes = 320 * 240 * 3 * 2;  // two pictures: stepping back decodes again
  options.max_frames = 30;
  std::string error;
  auto preview = Preview::open(*disk.source, row, options, error);
  ASSERT_TRUE(preview) << error;
  EXPECT_EQ(preview->width(), 320);
  EXPECT_EQ(preview->height(), 240);
  EXPECT_EQ(preview->fps(), (Rate{10, 1}));
  EXPECT_FALSE(preview->repaired());
  ASSERT_EQ(preview->first().pixels.size(), 320u * 240 * 3);
  const auto first = preview->first().pixels;
  std::vector<std::vector<uint8_t>> seen;
  for (int i = 0; i < 6; ++i) {
    const Picture* p = preview->frame(i);
    ASSERT_NE(p, nullptr) << i;
    EXPECT_EQ(p->index, i);
    seen.push_back(p->pixels);
  }
  EXPECT_EQ(seen[0], first);
  EXPECT_NE(seen[1], seen[0]);  // the test pattern moves
  for (int i : {4, 1, 5, 0, 2}) {
    const Picture* p = preview->frame(i);
    ASSERT_NE(p, nullptr) << i;
    EXPECT_EQ(p->pixels, seen[static_cast<std::size_t>(i)]) << i;
  }
  EXPECT_EQ(preview->frame(30), nullptr);
  EXPECT_EQ(preview->frame(-1), nullptr);

  // A clip shorter than the step limit ends with its last picture.
  const auto pictures = count_pictures(clip_bytes(*disk.source, disk.rows.back())).total;
  options.max_frames = pictures + 10;
  auto whole = Preview::open(*disk.source, disk.rows.back(), options, error);
  ASSERT_TRUE(whole) << error;
  EXPECT_NE(whole->frame(pictures - 1), nullptr);
  EXPECT_EQ(whole->frame(pictures), nullptr);
}

TEST(Preview, RepairedClipShowsTheSamePictureAsTheWholeStream) {
  // A cut recording starts at picture 5 of the sample, so its first IDR
  // picture is picture 20, which the channel's first recording also shows.
  const Disk& disk = cut_disk();
  const ig::PlacedRecording* whole = nullptr;
  const ig::PlacedRecording* cut = nullptr;
  for (const auto& p : disk.placed) {
    if (p.recording.channel != 3) continue;
    (p.recording.parameter_sets ? whole : cut) = &p;
  }
  ASSERT_TRUE(whole && cut);
  std::string error;
  auto repaired = Preview::open(*disk.source, disk.row_of(*cut), {}, error);
  ASSERT_TRUE(repaired) << error;
  EXPECT_TRUE(repaired->repaired());
  EXPECT_EQ(repaired->skipped_frames(), 15);
  auto reference = Preview::open(*disk.source, disk.row_of(*whole), {}, error);
  ASSERT_TRUE(reference) << error;
  const Picture* twentieth = reference->frame(20);
  ASSERT_NE(twentieth, nullptr);
  EXPECT_EQ(repaired->first().pixels, twentieth->pixels);
}

TEST(Preview, JpegIsWrittenOnceAsANewFile) {
  const Disk& disk = sample_disk();
  std::string error;
  auto preview = Preview::open(*disk.source, disk.rows.front(), {}, error);
  ASSERT_TRUE(preview) << error;
  TempDir dir("-画面");
  const std::string path = text_of(dir.path() / "frame.jpg");
  ASSERT_TRUE(save_jpeg(preview->first(), path, error)) << error;
  const auto bytes = slurp(path_of(path));
  ASSERT_GT(bytes.size(), 1000u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
  EXPECT_EQ(bytes.back(), 0xD9);
  EXPECT_FALSE(save_jpeg(preview->first(), path, error));
  EXPECT_NE(error.find(path), std::string::npos);
  EXPECT_EQ(slurp(path_of(path)), bytes);
  EXPECT_TRUE(encode_jpeg(Picture{}).empty());

  // In BGR order, as the window bitmaps hold pictures: the same picture, the
  // same JPEG.
  PreviewOptions bgr;
  bgr.bgr = true;
  auto swapped = Preview::open(*disk.source, disk.rows.front(), bgr, error);
  ASSERT_TRUE(swapped) << error;
  const auto& a = preview->first().pixels;
  const auto& b = swapped->first().pixels;
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); i += 3) {
    ASSERT_EQ(a[i], b[i + 2]) << i;
    ASSERT_EQ(a[i + 1], b[i + 1]) << i;
  }
  EXPECT_EQ(encode_jpeg(swapped->first()), bytes);
}

TEST(Duration, CountsEveryPictureOfTheClips) {
  for (const Disk* disk : {&sample_disk(), &cut_disk()}) {
    for (const auto& p : disk->placed) {
      const auto& row = disk->row_of(p);
      SCOPED_TRACE(row.name);
      const auto d = clip_duration(*disk->source, row);
      ASSERT_TRUE(d.known) << d.error;
      EXPECT_EQ(d.frames, count_pictures(clip_bytes(*disk->source, row)).total);
      // A cut clip has no SPS of its own: the rate comes from its channel.
      EXPECT_EQ(d.fps, (Rate{10, 1}));
      EXPECT_EQ(d.fps_origin, FpsOrigin::sps);
      EXPECT_DOUBLE_EQ(d.seconds, d.frames / 10.0);
      EXPECT_EQ(end_column(row.start, d), end_column(row.start, d.frames, Rate{10, 1}));
    }
  }
}

TEST(Duration, SameCountWhateverPiecesTheStreamArrivesIn) {
  const Disk& disk = sample_disk();
  const auto bytes = clip_bytes(*disk.source, disk.rows.front());
  const int64_t want = count_pictures(bytes).total;
  for (std::size_t piece : {1u, 2u, 3u, 5u, 31u, 4096u, 65537u}) {
    TrickleInput input(bytes, piece);
    const auto d = stream_duration(input, nullptr, nullptr);
    EXPECT_EQ(d.frames, want) << piece;
    EXPECT_EQ(d.fps, (Rate{10, 1})) << piece;
  }
}

TEST(Duration, ByteLimitStopAndMissingTimingLeaveItUnknownOrSet) {
  const Disk& disk = sample_disk();
  const auto& row = disk.rows.front();
  DurationOptions limited;
  limited.max_bytes = 100000;
  const auto over = clip_duration(*disk.source, row, limited);
  EXPECT_FALSE(over.known);
  EXPECT_TRUE(over.over_limit);
  EXPECT_LE(over.bytes_read, 100000u);
  EXPECT_EQ(end_column(row.start, over), "");

  DurationOptions stopping;
  stopping.stop = [] { return true; };
  const auto stopped = clip_duration(*disk.source, row, stopping);
  EXPECT_FALSE(stopped.known);
  EXPECT_TRUE(stopped.stopped);

  const auto sample = ig::sample_video();
  const auto units = split_nal_units(sample);
  const auto sps = parse_sps(std::span<const uint8_t>(sample).subspan(units.front().offset, units.front().size));
  const auto untimed = without_timing(sample, sps->vui_flag_bit);
  MemoryInput input(untimed);
  DurationOptions setting;
  setting.fps_setting = {20, 1};
  const auto d = stream_duration(input, nullptr, nullptr, setting);
  EXPECT_TRUE(d.known);
  EXPECT_EQ(d.fps, (Rate{20, 1}));
  EXPECT_EQ(d.fps_origin, FpsOrigin::setting);
  EXPECT_DOUBLE_EQ(d.seconds, 2.0);
}

TEST(ClipInput, SameBytesAsRecoveryWritesIncludingZeroFilledSectors) {
  Disk disk = make_disk(ig::sample_spec());
  const auto& row = disk.rows.back();
  disk.source->fail_sector(row.runs.front().first_sector + 200);
  TempDir dir;
  const auto recovered = recover::recover_clip(*disk.source, row, dir.str());
  ASSERT_TRUE(recovered.ok) << recovered.error;
  SourceClipInput input(*disk.source, row);
  EXPECT_EQ(input.size(), recovered.file.bytes);
  // Read in odd pieces, twice (rewind starts over).
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<uint8_t> all;
    uint8_t piece[70001];
    for (;;) {
      const auto got = input.read(piece, sizeof piece);
      if (got.status != ReadStatus::data) break;
      all.insert(all.end(), piece, piece + got.bytes);
    }
    EXPECT_EQ(all, slurp(path_of(recovered.file.path)));
    EXPECT_EQ(input.unreadable(), recovered.file.unreadable);
    input.rewind();
  }
}

}  // namespace
}  // namespace clip::video
