// The command line's playable evidence as an operator meets it: recover
// --mp4, preview and scan --durations on generated recorder disks, with
// ffprobe and ffmpeg as the players that prove what was written plays.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/call.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/recover.h"
#include "recover/temp_folder.h"
#include "sources/block_source.h"

namespace clip::cli {
namespace {

namespace fs = std::filesystem;
using clip::testing::TempFolder;
using testing::call;

// The sample disk as an image file; `cut` strips every recording after a
// channel's first one of its parameter sets.
class Disk {
 public:
  explicit Disk(bool cut = false) {
    auto plan = imagegen::sample_spec();
    if (cut) imagegen::drop_parameter_sets(plan);
    imagegen::ImageFile file(image(), plan.sectors);
    placed_ = imagegen::write_recordings(plan, file);
    file.close();
  }
  std::string image() const { return dir_.str("disk.img"); }
  std::string str(const std::string& name) const { return dir_.str(name); }
  const std::vector<imagegen::PlacedRecording>& placed() const { return placed_; }

 private:
  TempFolder dir_{"clipsalvage-cli-video"};
  std::vector<imagegen::PlacedRecording> placed_;
};

std::string shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The stream's duration and the frames ffprobe decodes, "duration,frames"
// (ffprobe's order).
std::string probe(const std::string& path) {
  return shell(std::string(FFPROBE) + " -v error -count_frames -select_streams v:0 -show_entries "
                                      "stream=nb_read_frames,duration -of csv=p=0 " + quoted(path));
}

std::string decode_errors(const std::string& path) {
  return shell(std::string(FFMPEG) + " -nostdin -v error -i " + quoted(path) + " -f null -");
}

std::string file_sha(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  recover::Sha256 h;
  h.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return h.hex();
}

// The objects of a JSON array of flat objects, e.g. the report's "files".
std::vector<std::string> objects(const std::string& json, const std::string& array) {
  std::vector<std::string> out;
  std::size_t at = json.find("\"" + array + "\": [");
  if (at == std::string::npos) return out;
  for (at = json.find('{', at); at != std::string::npos && json[at] == '{'; at = json.find_first_not_of(", ", at)) {
    std::size_t end = at, depth = 0;
    for (; end < json.size(); ++end) {
      if (json[end] == '{') ++depth;
      if (json[end] == '}' && --depth == 0) break;
    }
    out.push_back(json.substr(at, end + 1 - at));
    at = end + 1;
  }
  return out;
}

// A field's value: a string's text without quotes, anything else as written.
std::string field(const std::string& object, const std::string& key) {
  const std::string tag = "\"" + key + "\": ";
  const auto at = object.find(tag);
  if (at == std::string::npos) return "(none)";
  const auto start = at + tag.size();
  if (object[start] == '"') return object.substr(start + 1, object.find('"', start + 1) - start - 1);
  return object.substr(start, object.find_first_of(",}", start) - start);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Both files of every clip; each MP4 plays whole with the frames and the
// duration reported, and is the file the report's hash names.
void expect_playable_files(const std::string& report, std::size_t clips) {
  const auto files = objects(report, "files");
  ASSERT_EQ(files.size(), clips) << report;
  for (const auto& f : files) {
    SCOPED_TRACE(f);
    EXPECT_EQ(field(f, "outcome"), "complete");
    EXPECT_EQ(field(f, "mp4_outcome"), "complete");
    const std::string mp4 = field(f, "mp4_path");
    EXPECT_EQ(file_sha(mp4), field(f, "mp4_sha256"));
    EXPECT_EQ(std::to_string(fs::file_size(fs::u8path(mp4))), field(f, "mp4_bytes"));
    const std::string probed = probe(mp4);
    const auto comma = probed.find(',');
    ASSERT_NE(comma, std::string::npos) << probed;
    EXPECT_EQ(probed.substr(comma + 1), field(f, "frames") + "\n");
    const double fps = std::stod(field(f, "fps"));
    EXPECT_NEAR(std::stod(probed.substr(0, comma)), std::stod(field(f, "frames")) / fps, 1 / fps);
    EXPECT_NEAR(std::stod(field(f, "duration_s")), std::stod(field(f, "frames")) / fps, 1 / fps);
    EXPECT_EQ(decode_errors(mp4), "");
  }
}

TEST(CliMp4, RecoverWritesBothFilesAndEveryMp4Plays) {
  Disk disk;
  const std::string out = disk.str("out");
  const auto r = call({"recover", disk.image(), "--out", out, "--mp4", "--json"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  expect_playable_files(r.out, disk.placed().size());
  for (const auto& f : objects(r.out, "files")) {
    EXPECT_EQ(field(f, "repaired"), "false");
    EXPECT_EQ(field(f, "skipped_frames"), "0");
    // The stream's timing, not the setting.
    EXPECT_EQ(field(f, "fps_from"), "stream");
  }

  // Again into the same folder: numbered names beside the first ones,
  // nothing replaced, no temporary file left.
  const auto again = call({"recover", disk.image(), "--out", out, "--mp4", "--clip", "2"});
  ASSERT_EQ(again.status, 0) << again.err;
  std::size_t mp4s = 0, numbered = 0;
  for (const auto& entry : fs::directory_iterator(fs::u8path(out))) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    if (entry.path().extension() == ".mp4") ++mp4s;
    if (contains(name, "(1).mp4")) ++numbered;
  }
  EXPECT_EQ(mp4s, disk.placed().size() + 1);
  EXPECT_EQ(numbered, 1u);
  EXPECT_TRUE(contains(again.err, ".mp4 已存在，写入")) << again.err;
  // The text report names the MP4 with its hash, frames and duration.
  EXPECT_TRUE(contains(again.out, "(1).mp4  ")) << again.out;
  EXPECT_TRUE(contains(again.out, " 帧  ")) << again.out;
}

TEST(CliMp4, RepairedClipDecodesFromItsFirstFrameWhileItsH264AloneDoesNot) {
  Disk disk(true);
  const auto r = call({"recover", disk.image(), "--out", disk.str("out"), "--mp4", "--json"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  expect_playable_files(r.out, disk.placed().size());
  int repaired = 0;
  for (const auto& f : objects(r.out, "files")) {
    if (field(f, "repaired") != "true") continue;
    ++repaired;
    SCOPED_TRACE(f);
    EXPECT_TRUE(field(f, "parameter_sets_from").rfind("sector", 0) == 0);
    // Pictures before the first IDR picture are left out of the MP4: it
    // starts with a picture a player shows.
    EXPECT_NE(field(f, "skipped_frames"), "0");
    const std::string h264 = field(f, "path");
    // The .264 alone: no parameter sets, so no picture decodes.
    const std::string probed = probe(h264);
    const std::string frames = probed.substr(probed.find(',') + 1);
    EXPECT_TRUE(frames == "0\n" || frames == "N/A\n") << probed;
    EXPECT_NE(decode_errors(h264), "");
    // The MP4's first frame is a key frame that decodes.
    EXPECT_EQ(shell(std::string(FFPROBE) + " -v error -select_streams v:0 -read_intervals %+#1 "
                                           "-show_entries frame=key_frame,pict_type -of csv=p=0 " +
                    quoted(field(f, "mp4_path"))),
              "1,I\n");
    // The evidence itself is the clip's bytes, untouched by the repair.
    EXPECT_EQ(file_sha(h264), field(f, "sha256"));
  }
  EXPECT_GT(repaired, 0);
  EXPECT_TRUE(contains(r.err, "片段没有参数集，取自扇区")) << r.err;
}

// Over the disk of `Disk(true)`: once every .264 of the recovery is in
// `folder` (the recovery is over), the first read (a repair's search for
// parameter sets, which only the MP4 phase does) presses Ctrl-C and waits
// there until the run cancels the source.
class StopInMp4Phase final : public sources::BlockSource {
 public:
  StopInMp4Phase(std::unique_ptr<sources::BlockSource> inner, std::string folder, std::size_t clips,
                 std::atomic<bool>& interrupt)
      : inner_(std::move(inner)), folder_(std::move(folder)), clips_(clips), interrupt_(interrupt) {}
  int64_t sector_count() const override { return inner_->sector_count(); }
  sources::ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (!held_ && recovered() == clips_) {
      held_ = true;
      interrupt_ = true;
      std::unique_lock lock(mutex_);
      // A deadline only so that a broken build can't hang the test run.
      wake_.wait_for(lock, std::chrono::seconds(60), [&] { return cancelled_; });
      return {0, sources::ReadError::cancelled};
    }
    return inner_->read_sectors(first, count, buffer);
  }
  void cancel() override {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    wake_.notify_all();
  }

 private:
  std::size_t recovered() const {
    std::error_code ec;
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(fs::u8path(folder_), ec)) n += e.path().extension() == ".264";
    return n;
  }
  std::unique_ptr<sources::BlockSource> inner_;
  const std::string folder_;
  const std::size_t clips_;
  std::atomic<bool>& interrupt_;
  std::atomic<bool> held_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false;
};

TEST(CliMp4, CtrlCDuringTheMp4sKeepsEveryH264AndTheFinishedMp4sAndLeavesNoPartialFile) {
  Disk disk(true);
  const std::string out = disk.str("out");
  std::atomic<bool> interrupt{false};
  Environment env;
  env.stop = [&] { return interrupt.load(); };
  env.open_source = [&](const std::string& path) {
    auto opened = sources::open_block_source(path);
    opened.source = std::make_unique<StopInMp4Phase>(std::move(opened.source), out, disk.placed().size(), interrupt);
    return opened;
  };
  const auto r = call({"recover", disk.image(), "--out", out, "--mp4", "--json"}, env);
  // Only the held read presses Ctrl-C.
  ASSERT_TRUE(interrupt) << "the MP4 phase read nothing from the source";
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_FALSE(r.left_running);
  EXPECT_TRUE(contains(r.out, "\"complete\": false, \"error\": \"导出 MP4 已停止\"")) << r.out;
  // Every .264 is whole and stays; MP4s come only whole, none half written.
  const auto files = objects(r.out, "files");
  ASSERT_EQ(files.size(), disk.placed().size()) << r.out;
  std::size_t mp4s = 0;
  for (const auto& f : files) {
    SCOPED_TRACE(f);
    EXPECT_EQ(field(f, "outcome"), "complete");
    EXPECT_EQ(file_sha(field(f, "path")), field(f, "sha256"));
    if (field(f, "mp4_outcome") == "complete") {
      ++mp4s;
      EXPECT_EQ(decode_errors(field(f, "mp4_path")), "");
    }
  }
  EXPECT_LT(mp4s, files.size());
  std::size_t on_disk = 0;
  for (const auto& entry : fs::directory_iterator(fs::u8path(out))) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    on_disk += entry.path().extension() == ".mp4";
  }
  EXPECT_EQ(on_disk, mp4s);
}

TEST(CliMp4, AClipCutByTheEndOfTheSourceGetsAnIncompleteMp4ThatPlays) {
  Disk disk;
  // The image loses the last 120 sectors, inside the video of the last
  // block, while the device still announces its old size.
  const fs::path image = fs::u8path(disk.image());
  const auto sectors = static_cast<int64_t>(fs::file_size(image) / 512);
  fs::resize_file(image, static_cast<uintmax_t>(sectors - 120) * 512);
  Environment env;
  env.open_source = [&](const std::string& path) { return sources::open_block_source(path, sectors); };
  const auto r = call({"recover", disk.image(), "--out", disk.str("out"), "--mp4", "--json"}, env);
  EXPECT_EQ(r.status, 1) << r.err;
  int incomplete = 0;
  for (const auto& f : objects(r.out, "files")) {
    SCOPED_TRACE(f);
    EXPECT_EQ(field(f, "mp4_outcome"), "complete");
    if (field(f, "outcome") != "incomplete") continue;
    ++incomplete;
    const std::string mp4 = field(f, "mp4_path");
    EXPECT_TRUE(contains(mp4, "-不完整.mp4"));
    EXPECT_EQ(file_sha(mp4), field(f, "mp4_sha256"));
    // The picture the end cut short is left out, so the rest decodes cleanly.
    EXPECT_EQ(decode_errors(mp4), "");
    EXPECT_EQ(probe(mp4).substr(probe(mp4).find(',') + 1), field(f, "frames") + "\n");
  }
  EXPECT_EQ(incomplete, 1) << r.out;
}

TEST(CliPreview, WritesTheFirstPictureAndTellsFramesAndDurationOnlyOnce) {
  Disk disk(true);
  const auto scan = call({"scan", disk.image(), "--durations", "--json"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  const auto clips = objects(scan.out, "clips");
  ASSERT_EQ(clips.size(), disk.placed().size());
  // A clip without parameter sets: the preview borrows them as the MP4 does.
  const std::string jpeg = disk.str("第一帧.jpg");
  const auto r = call({"preview", disk.image(), "--clip", field(clips.back(), "number"), "--out", jpeg});
  ASSERT_EQ(r.status, 0) << r.err;
  // A JPEG a viewer opens, of the size the report gives.
  const std::string seen = shell(std::string(FFPROBE) +
                                 " -v error -show_entries stream=codec_name,width,height -of csv=p=0 " + quoted(jpeg));
  ASSERT_EQ(seen.rfind("mjpeg,", 0), 0u) << seen;
  std::string size = seen.substr(6, seen.size() - 7);
  ASSERT_NE(size.find(','), std::string::npos) << seen;
  size[size.find(',')] = 'x';
  EXPECT_TRUE(contains(r.out, "大小：" + size + "（已修复：参数集取自扇区 ")) << r.out;
  EXPECT_TRUE(contains(r.out, "帧数：" + field(clips.back(), "frames") + "\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "时长：" + field(clips.back(), "duration_s") + " 秒")) << r.out;

  // An existing picture is never replaced, and that is said before the scan.
  const auto taken = call({"preview", disk.image(), "--clip", "1", "--out", jpeg});
  EXPECT_EQ(taken.status, 1);
  EXPECT_TRUE(contains(taken.err, "文件已存在，不会覆盖")) << taken.err;
  EXPECT_FALSE(contains(taken.err, "扫描"));
  // A clip the list doesn't have writes nothing.
  const auto missing = call({"preview", disk.image(), "--clip", "99", "--out", disk.str("none.jpg")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.err, "没有编号为 99 的片段")) << missing.err;
  EXPECT_FALSE(fs::exists(fs::u8path(disk.str("none.jpg"))));
  EXPECT_FALSE(fs::exists(fs::u8path(disk.str("none.jpg.part"))));
}

TEST(CliScan, DurationsGiveEachClipItsFramesAndEndTime) {
  Disk disk;
  const auto r = call({"scan", disk.image(), "--durations", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto clips = objects(r.out, "clips");
  ASSERT_EQ(clips.size(), disk.placed().size());
  // The frame count of the duration pass is the one the MP4 holds.
  const auto recovered = call({"recover", disk.image(), "--out", disk.str("out"), "--mp4", "--json"});
  const auto files = objects(recovered.out, "files");
  ASSERT_EQ(files.size(), clips.size());
  for (std::size_t i = 0; i < clips.size(); ++i) {
    SCOPED_TRACE(clips[i]);
    EXPECT_EQ(field(clips[i], "frames"), field(files[i], "frames"));
    EXPECT_EQ(field(clips[i], "duration_s"), field(files[i], "duration_s"));
    EXPECT_NE(field(clips[i], "end"), "");
  }
  // The first clip listed starts at 08:45:21 and plays 93 frames at 10 fps:
  // it ends in second 30.
  EXPECT_EQ(field(clips[0], "start"), "2026-05-20 08-45-21");
  EXPECT_EQ(field(clips[0], "duration_s"), "9.300");
  EXPECT_EQ(field(clips[0], "end"), "2026-05-20 08-45-30");

  // Without --durations the end is empty; the table shows it with them.
  const auto plain = call({"scan", disk.image(), "--json"});
  EXPECT_EQ(field(objects(plain.out, "clips")[0], "end"), "");
  const auto table = call({"scan", disk.image(), "--durations"});
  EXPECT_TRUE(contains(table.out, "2026-05-20 08-45-21 2026-05-20 08-45-30")) << table.out;
}

TEST(CliUsage, VideoOptionsBelongToTheirCommands) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"scan", "x", "--mp4"}, "--mp4 belongs to recover, not scan"},
      {{"recover", "x", "--out", "d", "--durations"}, "--durations belongs to scan, not recover"},
      {{"scan", "x", "--fps", "0"}, "--fps needs a frame rate from 1 to 300"},
      {{"scan", "x", "--fps=abc"}, "--fps needs a frame rate from 1 to 300 (25, 12.5, 30000/1001): abc"},
      {{"scan", "x", "--fps", "25", "--fps", "30"}, "--fps given twice"},
      {{"recover", "x", "--out", "d", "--mp4=yes"}, "--mp4 takes no value"},
      {{"preview", "x", "--clip", "1"}, "preview needs --out FILE.jpg"},
      {{"preview", "x", "--out", "a.jpg"}, "preview needs one --clip N"},
      {{"preview", "x", "--out", "a.jpg", "--clip", "1", "--clip", "2"}, "preview needs one --clip N"},
  };
  for (const auto& [args, message] : cases) {
    const auto r = call(args);
    EXPECT_EQ(r.status, kExitUsage) << args.back();
    EXPECT_TRUE(contains(r.err, "clipsalvage: " + message)) << r.err;
  }
}

}  // namespace
}  // namespace clip::cli
