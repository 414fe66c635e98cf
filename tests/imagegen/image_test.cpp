#include "imagegen/image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "imagegen/image_file.h"

namespace ig = clip::imagegen;
namespace fs = std::filesystem;

namespace {

struct MemorySink : ig::BlockSink {
  std::map<int64_t, ig::Bytes> blocks;
  void put(int64_t sector, std::span<const uint8_t> bytes) override {
    blocks[sector] = ig::Bytes(bytes.begin(), bytes.end());
  }
};

ig::Recording recording(uint8_t channel, int blocks, uint8_t minute = 0) {
  ig::Recording r;
  r.channel = channel;
  r.time = {12, 5, 20, 13, minute, 30};
  r.blocks = blocks;
  return r;
}

// Frames in an Annex B stream: start codes followed by a slice unit.
int slice_count(const ig::Bytes& s) {
  int n = 0;
  for (std::size_t i = 0; i + 3 < s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      int type = s[i + 3] & 0x1F;
      if (type == 1 || type == 5) ++n;
    }
  }
  return n;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "popen failed";
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = pclose(p);
  if (status != 0) out += "\nexit status " + std::to_string(status);
  return out;
}

fs::path temp_dir() {
  fs::path dir = fs::temp_directory_path() /
                 ("imagegen_test_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::create_directories(dir);
  return dir;
}

TEST(VideoFeed, HandsOutWholeUnitsWithinBudgetAndStartsOver) {
  ig::VideoFeed feed(ig::sample_video());
  ASSERT_GT(feed.unit_count(), 10u);
  ig::Bytes all;
  // Two passes through the stream in chunks of at most 6000 bytes (a unit
  // larger than that comes alone).
  while (all.size() < 2 * ig::sample_video().size()) {
    ig::Bytes chunk = feed.next(6000);
    ASSERT_FALSE(chunk.empty());
    const bool starts_unit = (chunk[0] == 0 && chunk[1] == 0 && chunk[2] == 1) ||
                             (chunk[0] == 0 && chunk[1] == 0 && chunk[2] == 0 && chunk[3] == 1);
    EXPECT_TRUE(starts_unit);
    EXPECT_TRUE(chunk.size() <= 6000 || slice_count(chunk) == 1);
    all.insert(all.end(), chunk.begin(), chunk.end());
  }
  auto sample = ig::sample_video();
  ASSERT_GE(all.size(), 2 * sample.size());
  EXPECT_TRUE(std::equal(sample.begin(), sample.end(), all.begin()));
  EXPECT_TRUE(std::equal(sample.begin(), sample.end(), all.begin() + static_cast<std::ptrdiff_t>(sample.size())));
}

TEST(Recordings, ChannelsTakeTurnsAndOneChannelsRecordingsFollowEachOther) {
  ig::ImageSpec plan;
  plan.first_sector = 8'000'130;
  plan.sectors = plan.first_sector + 100 * 128;
  plan.run = 2;
  plan.recordings = {recording(1, 3), recording(2, 4), recording(1, 2, 5)};
  MemorySink sink;
  auto placed = ig::write_recordings(plan, sink);
  ASSERT_EQ(placed.size(), 3u);
  // Turns of two blocks: ch1 ch1 ch2 ch2 | ch1 (end of rec 0) ch1 (rec 2) ch2 ch2 | ch1
  const int64_t f = plan.first_sector;
  EXPECT_EQ(placed[0].block_sectors, (std::vector<int64_t>{f, f + 128, f + 512}));
  EXPECT_EQ(placed[1].block_sectors, (std::vector<int64_t>{f + 256, f + 384, f + 768, f + 896}));
  EXPECT_EQ(placed[2].block_sectors, (std::vector<int64_t>{f + 640, f + 1024}));
  EXPECT_EQ(sink.blocks.size(), 9u);

  // Header blocks start each recording, stream blocks carry its channel.
  const ig::Bytes& header = sink.blocks.at(f + 640);
  EXPECT_EQ(std::string(header.begin() + 80, header.begin() + 92), "MDVR96NT_2_R");
  EXPECT_EQ(header[47], 5);
  EXPECT_EQ(sink.blocks.at(f + 768)[6], '1');  // channel 2's marker character
  EXPECT_EQ(sink.blocks.at(f + 128)[6], '0');
}

TEST(Recordings, EndOfImageCutsTheLastBlockAndDropsTheRest) {
  ig::ImageSpec plan;
  plan.first_sector = 0;
  plan.sectors = 2 * 128 + 1;  // the third block has one sector
  plan.recordings = {recording(3, 6)};
  plan.recordings[0].header = false;
  MemorySink sink;
  auto placed = ig::write_recordings(plan, sink);
  EXPECT_EQ(placed[0].block_sectors, (std::vector<int64_t>{0, 128, 256}));
  EXPECT_EQ(placed[0].block_bytes, (std::vector<std::size_t>{65536, 65536, 512}));
  ASSERT_EQ(sink.blocks.at(256).size(), 512u);
  EXPECT_EQ(sink.blocks.at(256)[6], '2');  // the cut block keeps its marker
  // Without a header the first block is a stream block of its channel.
  EXPECT_NE(std::string(sink.blocks.at(0).begin() + 80, sink.blocks.at(0).begin() + 92), "MDVR96NT_2_R");
  EXPECT_EQ(sink.blocks.at(0)[6], '2');
}

TEST(Recordings, ClipNamesUseAtLeastTwoDigitsPerField) {
  EXPECT_EQ(ig::clip_name(1, {0x0C, 0x05, 0x14, 0x0D, 0x2D, 0x1E}), "ch00000000000001-12-05-20-13-45-30-.264");
  EXPECT_EQ(ig::clip_name(10, {12, 5, 20, 14, 120, 7}), "ch000000000000010-12-05-20-14-120-07-.264");
}

TEST(SampleImage, IsSparseLargerThanTheSearchStartAndHoldsItsBlocks) {
  fs::path dir = temp_dir();
  fs::path image = dir / "sample.img";
  ig::ImageSpec plan = ig::sample_spec();
  std::vector<ig::PlacedRecording> placed;
  {
    ig::ImageFile file(image.string(), plan.sectors);
    placed = ig::write_recordings(plan, file);
    file.close();
  }
  EXPECT_EQ(placed.front().block_sectors.front(), 8'000'130);
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(image)), plan.sectors * 512);
  EXPECT_GT(fs::file_size(image), 4'096'000'000u);
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  EXPECT_LT(int64_t{st.st_blocks} * 512, int64_t{64} << 20) << "the file is not sparse";

  // Every placed block is in the file where the recording says, the sector
  // before the first block reads as zeros.
  std::ifstream in(image, std::ios::binary);
  MemorySink expected;
  ig::write_recordings(plan, expected);
  for (const auto& [sector, bytes] : expected.blocks) {
    ig::Bytes got(bytes.size());
    in.seekg(sector * 512);
    in.read(reinterpret_cast<char*>(got.data()), static_cast<std::streamsize>(got.size()));
    ASSERT_EQ(got, bytes) << "block at " << sector;
  }
  ig::Bytes before(512);
  in.seekg(int64_t{8'000'130 - 1} * 512);
  in.read(reinterpret_cast<char*>(before.data()), 512);
  EXPECT_EQ(before, ig::Bytes(512, 0));
  fs::remove_all(dir);
}

// A recovered clip is its blocks' bytes in reading order, header included;
// the decoder must play it, skipping the recorder's bytes.
TEST(SampleImage, EveryRecordingDecodesAsH264) {
  ig::ImageSpec plan = ig::sample_spec();
  // Damaged markers too: at the start, at the end, a non-digit character.
  plan.recordings[0].damaged[2] = {.channel_char = '0', .place = ig::MarkerPlace::position0};
  plan.recordings[0].damaged[3] = {.channel_char = '0', .place = ig::MarkerPlace::block_end};
  plan.recordings[1].damaged[2] = {.channel_char = 'x', .second_channel_char = '1'};
  MemorySink sink;
  auto placed = ig::write_recordings(plan, sink);
  ASSERT_EQ(placed.size(), 9u);
  fs::path dir = temp_dir();
  for (const auto& p : placed) {
    const std::string name = ig::clip_name(p.recording.channel, p.recording.time);
    SCOPED_TRACE(name);
    ig::Bytes clip;
    for (int64_t s : p.block_sectors) {
      const ig::Bytes& b = sink.blocks.at(s);
      clip.insert(clip.end(), b.begin(), b.end());
    }
    fs::path file = dir / name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(clip.data()),
                                                static_cast<std::streamsize>(clip.size()));
    int frames = slice_count(clip);
    ASSERT_GT(frames, 20);
    // Probed by its name alone (no forced format), as a user would open it.
    std::string out = run(std::string(FFPROBE) + " -v error -count_frames -select_streams v:0 " +
                          "-show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
                          file.string() + "' 2>&1");
    EXPECT_EQ(out, "h264,320,240," + std::to_string(frames) + "\n");
  }
  fs::remove_all(dir);
}

}  // namespace
