// Exported files as a player sees them: ffprobe and ffmpeg open, count and
// decode what the export wrote.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "export/mp4.h"
#include "export/preview.h"
#include "support.h"

namespace clip::video {
namespace {

using namespace test;
namespace ig = imagegen;

struct Run {
  std::string out;
  int status = 0;
};

Run run(const std::string& command) {
  Run r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return {"popen failed", -1};
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  r.status = pclose(p);
  return r;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// "nb_read_frames|duration|creation_time|title" of the file's video stream.
struct Probe {
  int64_t frames = -1;
  double duration = -1;
  std::string creation_time, title, errors;
};

Probe probe(const std::string& path) {
  Probe p;
  const auto r = run(std::string(FFPROBE) + " -v error -count_frames -select_streams v:0 " +
                     "-show_entries stream=nb_read_frames,duration:format_tags=creation_time,title " +
                     "-of default=noprint_wrappers=1 " + quoted(path) + " 2>&1");
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    const std::string key = eq == std::string::npos ? "" : line.substr(0, eq);
    const std::string value = eq == std::string::npos ? line : line.substr(eq + 1);
    const bool number = !value.empty() && value != "N/A";
    if (key == "nb_read_frames") p.frames = number ? std::stoll(value) : -1;
    else if (key == "duration") p.duration = number ? std::stod(value) : -1;
    else if (key == "TAG:creation_time") p.creation_time = value;
    else if (key == "TAG:title") p.title = value;
    else p.errors += line + "\n";
  }
  if (r.status != 0) p.errors += "exit status " + std::to_string(r.status);
  return p;
}

// What `ffmpeg -v error` prints while decoding the whole file.
std::string decode_errors(const std::string& path, const std::string& input_options = "") {
  return run(std::string(FFMPEG) + " -nostdin -v error " + input_options + " -i " + quoted(path) + " -f null - 2>&1")
      .out;
}

void expect_plays(const Mp4Result& result, const std::string& start) {
  const Probe p = probe(result.path);
  EXPECT_EQ(p.errors, "");
  EXPECT_EQ(p.frames, result.frames);
  const double frame = static_cast<double>(result.fps.den) / static_cast<double>(result.fps.num);
  EXPECT_NEAR(p.duration, static_cast<double>(result.frames) * frame, frame);
  EXPECT_EQ(p.creation_time, creation_time(start).value_or(""));
  EXPECT_EQ(decode_errors(result.path), "");
}

TEST(Playback, EveryExportedSampleClipPlaysWithItsFramesAndDuration) {
  for (const bool cut : {false, true}) {
    auto plan = ig::sample_spec();
    if (cut) ig::drop_parameter_sets(plan);
    const Disk disk = make_disk(plan);
    TempDir dir;
    for (const auto& p : disk.placed) {
      const auto& row = disk.row_of(p);
      SCOPED_TRACE(row.name);
      const auto result = export_mp4(*disk.source, row, dir.str());
      ASSERT_TRUE(result.ok) << result.error;
      EXPECT_EQ(result.repaired, !p.recording.parameter_sets);
      expect_plays(result, row.start);
      EXPECT_EQ(probe(result.path).title, "通道 0" + std::to_string(p.recording.channel));
    }
  }
}

TEST(Playback, RepairedMp4DecodesFromItsFirstFrameButItsH264AloneDoesNot) {
  auto plan = ig::sample_spec();
  ig::drop_parameter_sets(plan);
  const Disk disk = make_disk(plan);
  const ig::PlacedRecording* cut = nullptr;
  for (const auto& p : disk.placed) {
    if (!p.recording.parameter_sets) cut = &p;
  }
  ASSERT_NE(cut, nullptr);
  const auto& row = disk.row_of(*cut);
  TempDir dir;
  const std::string h264 = (dir.path() / row.name).string();
  {
    const auto bytes = clip_bytes(*disk.source, row);
    std::ofstream(h264, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  }
  // The .264 alone: the decoder finds no parameter sets and shows nothing.
  const Probe alone = probe(h264);
  EXPECT_LE(alone.frames, 0);
  EXPECT_NE(decode_errors(h264, "-f h264"), "");

  const auto result = export_mp4(*disk.source, row, dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.repaired);
  expect_plays(result, row.start);
  // The first frame is a key frame and every frame decodes.
  const auto first = run(std::string(FFPROBE) + " -v error -select_streams v:0 -read_intervals %+#1 " +
                         "-show_entries frame=key_frame,pict_type -of csv=p=0 " + quoted(result.path) + " 2>&1");
  EXPECT_EQ(first.out, "1,I\n");
}

TEST(Playback, ClipsCutByTheEndOfTheSourcePlayWithoutTheirCutPicture) {
  // Cut in the last block's filler (2 sectors), or in its video (120: eight
  // sectors are left of the block, the video fills its first twelve).
  for (const int64_t cut : {2, 120}) {
    SCOPED_TRACE(cut);
    auto plan = ig::sample_spec();
    plan.sectors -= cut;
    const Disk disk = make_disk(plan);
    const auto& last = *std::max_element(disk.rows.begin(), disk.rows.end(), [](const auto& a, const auto& b) {
      return a.runs.back().first_sector < b.runs.back().first_sector;
    });
    TempDir dir;
    const auto result = export_mp4(*disk.source, last, dir.str());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.cut_frames, cut == 120 ? 1 : 0);
    EXPECT_EQ(result.frames + result.cut_frames, count_pictures(clip_bytes(*disk.source, last)).total);
    expect_plays(result, last.start);
  }
}

TEST(Playback, StreamThatReordersPicturesKeepsItsDisplayOrder) {
  TempDir dir;
  const std::string h264 = (dir.path() / "bframes.264").string();
  const auto made = run(std::string(FFMPEG) + " -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=25:duration=3 " +
                        "-pix_fmt yuv420p -c:v libx264 -profile:v main -bf 3 -g 30 -f h264 " + quoted(h264) + " 2>&1");
  if (made.status != 0) GTEST_SKIP() << "ffmpeg can't encode a test stream with B pictures: " << made.out;
  const auto bytes = slurp(h264);
  MemoryInput input(bytes);
  scanner::ClipRow row;
  row.name = "bframes.264";
  row.start = "2026-05-20 08-15-07";
  const auto result = export_mp4(input, row, nullptr, dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.frames, 75);
  expect_plays(result, row.start);
  // The pictures come out of the MP4 in the order the raw stream shows them.
  const std::string md5 = " -nostdin -v error -f framemd5 -";
  const auto from_mp4 = run(std::string(FFMPEG) + " -i " + quoted(result.path) + md5);
  const auto from_h264 = run(std::string(FFMPEG) + " -f h264 -i " + quoted(h264) + md5);
  // framemd5 lines: stream, dts, pts, duration, size, hash.
  auto column = [](const std::string& text, int index) {
    std::vector<std::string> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string field;
      for (int i = 0; i <= index && std::getline(fields, field, ','); ++i) {
      }
      out.push_back(field);
    }
    return out;
  };
  EXPECT_EQ(column(from_mp4.out, 5), column(from_h264.out, 5));
  EXPECT_EQ(column(from_mp4.out, 5).size(), 75u);
  // Timed in display order: every picture later than the one before.
  const auto pts = column(from_mp4.out, 2);
  for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_LT(std::stoll(pts[i - 1]), std::stoll(pts[i])) << i;
}

TEST(Playback, PreviewJpegOpensAsAPicture) {
  const Disk disk = make_disk(ig::sample_spec());
  std::string error;
  auto preview = Preview::open(*disk.source, disk.rows.front(), {}, error);
  ASSERT_TRUE(preview) << error;
  TempDir dir;
  const std::string path = (dir.path() / "frame.jpg").string();
  ASSERT_TRUE(save_jpeg(preview->first(), path, error)) << error;
  const auto r = run(std::string(FFPROBE) + " -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                     quoted(path) + " 2>&1");
  EXPECT_EQ(r.out, "mjpeg,320,240\n");
}

// A folder on a file system too small for the MP4.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (::mount("tmpfs", dir_.str().c_str(), "tmpfs", 0, "size=24k") != 0) {
      GTEST_SKIP() << "no tmpfs here: " << std::strerror(errno);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount2(dir_.str().c_str(), MNT_DETACH);
  }
  TempDir dir_;
  bool mounted_ = false;
};

TEST_F(FullDisk, WriteFailureSaysWhyAndRemovesThePartialFile) {
  const Disk disk = make_disk(ig::sample_spec());
  const auto& row = *std::max_element(disk.rows.begin(), disk.rows.end(),
                                      [](const auto& a, const auto& b) { return a.blocks < b.blocks; });
  const auto result = export_mp4(*disk.source, row, dir_.str());
  EXPECT_EQ(result.outcome, ExportOutcome::failed);
  EXPECT_NE(result.error.find(std::strerror(ENOSPC)), std::string::npos) << result.error;
  EXPECT_TRUE(result.partial_removed);
  EXPECT_TRUE(dir_.names().empty());
}

}  // namespace
}  // namespace clip::video
