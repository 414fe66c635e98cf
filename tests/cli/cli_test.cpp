#include "cli/cli.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "cli/cli_test_support.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/table.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/recover.h"
#include "recover/temp_folder.h"

#ifndef _WIN32
#include <csignal>
#include <unistd.h>
#endif

namespace clip::cli {
namespace {

namespace fs = std::filesystem;
using clip::testing::TempFolder;
using testing::call;
using testing::Output;
using testing::read_back;

// A sparse image past 4,096,000,000 bytes: the signature after the search
// start, three small clips, the last block cut short by the end.
class Workspace {
 public:
  explicit Workspace(const std::string& name = "disk.img") {
    image_ = dir_.path() / TempFolder::from_utf8(name);
    std::ofstream out(image_, std::ios::binary);
    const int64_t f = 8000130;
    auto header = [&](int64_t s, char ch, char second) {
      out.seekp(s * 512 + 43);
      const char t[6] = {12, 5, 20, 13, 45, second};
      out.write(t, 6);
      out.seekp(s * 512 + 80);
      out.write("MDVR96NT_2_R", 12);
      out.seekp(s * 512 + 468);
      out.put(ch);
    };
    header(f, 1, 30);
    out.seekp((f + 128) * 512 + 300);
    out.write("0xdcH264", 8);
    header(f + 256, 2, 31);
    header(f + 384, 1, 32);
    // Data in block f + 512: an all-zero block would join no clip.
    out.seekp((f + 512) * 512 + 100);
    out.put('\x7f');
    out.seekp((f + 700) * 512 - 1);
    out.put('\x7f');
  }
  std::string image() const { return TempFolder::utf8(image_); }
  const fs::path& dir() const { return dir_.path(); }
  std::string str(const std::string& name) const { return dir_.str(name); }

 private:
  TempFolder dir_{"clipsalvage-cli"};
  fs::path image_;
};

// The path the report names: on Windows a file's long-path form.
std::string source_path(const std::string& image) {
#ifdef _WIN32
  return "\\\\?\\" + image;
#else
  return image;
#endif
}

// A stop that the work always answers by itself: however loaded the
// machine, the report waits for it.
Environment stopping(std::function<bool()> stop) {
  Environment env;
  env.stop = std::move(stop);
  env.stop_grace = std::chrono::hours(1);
  return env;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Json, EscapesQuotesBackslashesControlsAndBytesThatAreNotUtf8) {
  EXPECT_EQ(json_string("a\"b\\c\n\x01\x7f中"), "\"a\\\"b\\\\c\\n\\u0001\\u007f中\"");
  EXPECT_EQ(json_string("a\xff" "b\xe4\xb8"), "\"a\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd\"");
  EXPECT_EQ(json_path("path", "/x/中"), "\"path\": \"/x/中\"");
  EXPECT_EQ(json_path("path", "/x\xff"), "\"path\": \"/x\xef\xbf\xbd\", \"path_bytes\": \"2f78ff\"");
}

TEST(CliScan, JsonReportOfABigSparseImage) {
  Workspace ws;
  const auto r = call({"scan", ws.image(), "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"source\": " + json_string(source_path(ws.image())) +
                ", \"sectors\": 8000830, \"signature_sector\": 8000130, \"signature_sha256\": "
                "\"e7bc41f38b3e9d2b4d312bd41c142d067c1478a012f9854870d69d06e60c7577\", \"complete\": true, "
                "\"unreadable\": [], "
                "\"clips\": [{\"number\": 1, \"channel\": \"01\", \"start\": \"2012-05-20 13-45-30\", \"end\": \"\", \"size_mb\": 0, "
                "\"name\": \"ch00000000000001-12-05-20-13-45-30-.264\", \"blocks\": 2, \"first_sector\": 8000130, "
                "\"closed\": true, \"runs\": [[8000130, 2]], \"first_block_sha256\": "
                "\"c13b43841b0110aa0b619919a4147cc3df6f46386facf13a0f9ac8d11c8341b3\"}, {\"number\": 2, \"channel\": \"02\", \"start\": "
                "\"2012-05-20 13-45-31\", \"end\": \"\", \"size_mb\": 0, \"name\": \"ch00000000000002-12-05-20-13-45-31-.264\", "
                "\"blocks\": 1, \"first_sector\": 8000386, \"closed\": false, \"runs\": [[8000386, 1]], "
                "\"first_block_sha256\": \"14da59bf4da5e24f9d87f4538ae40312b681126c2bbe7f41bdb8bf97b44d2199\"}, "
                "{\"number\": 3, \"channel\": \"01\", \"start\": \"2012-05-20 13-45-32\", \"end\": \"\", \"size_mb\": 0, \"name\": "
                "\"ch00000000000001-12-05-20-13-45-32-.264\", \"blocks\": 3, \"first_sector\": 8000514, \"closed\": "
                "false, \"runs\": [[8000514, 3]], \"first_block_sha256\": "
                "\"b98e81ea3182ad073096d735e22cc1cbf55a2a1a76ec0d779382e0c93724b2a7\"}]}\n");
  EXPECT_TRUE(contains(r.err, "扫描完成!"));
}

TEST(CliUsage, EveryUsageErrorSaysWhatWasWrongBeforeTheUsage) {
  Workspace ws;
  const std::string img = ws.image();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"frob"}, "unknown command frob"},
      {{"--frob"}, "unknown option --frob"},
      {{"scan"}, "scan needs a SOURCE"},
      {{"scan", img, "--frob"}, "unknown option --frob"},
      {{"scan", img, "--json=yes"}, "unknown option --json=yes"},
      {{"scan", img, "other.img"}, "unexpected argument other.img (SOURCE is " + img + ")"},
      {{"scan", img, "--out", "x"}, "--out belongs to recover and preview, not scan"},
      {{"recover", img}, "recover needs --out DIR"},
      {{"recover", img, "--out"}, "--out needs a folder"},
      {{"recover", img, "--out", "a", "--out", "b"}, "--out given twice"},
      {{"recover", img, "--out", "x", "--clip", "abc"}, "--clip needs a positive number: abc"},
      {{"recover", img, "--out", "x", "--clip=0"}, "--clip needs a positive number: 0"},
      {{"recover", img, "--out", "x", "--clip", "-3"}, "--clip needs a positive number: -3"},
      {{"help", "frob"}, "help takes scan, recover, preview or verify: frob"},
  };
  for (const auto& c : cases) {
    const auto r = call(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err.rfind("clipsalvage: " + c.message + "\nusage: clipsalvage scan SOURCE", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Nothing was written anywhere by a refused command line.
  EXPECT_FALSE(fs::exists(ws.dir() / "x"));
}

TEST(CliUsage, HelpInEveryFormAndDoubleDashEndsTheOptions) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-h"}, {"--help"}, {"help"}, {"help", "recover"}, {"scan", "--help"}, {"recover", "x", "-h"}}) {
    const auto r = call(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_TRUE(contains(r.out, "\\\\.\\PhysicalDriveN")) << r.out;
    EXPECT_TRUE(contains(r.out, "NAME(1).264"));
    EXPECT_TRUE(contains(r.out, "created when missing"));
    EXPECT_TRUE(contains(r.out, "Exit status: 0 done; 1 an error"));
    EXPECT_TRUE(contains(r.out, "130 stopped by Ctrl-C"));
    EXPECT_EQ(r.err, "");
  }
  // After "--", "--json" is the SOURCE, and no such file exists.
  const auto r = call({"scan", "--", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "打开源设备出错！")) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(CliScan, MissingEmptyAndStoppedSources) {
  Workspace ws;
  const auto missing = call({"scan", ws.str("none.img")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.err, "打开源设备出错！")) << missing.err;
  { std::ofstream(ws.dir() / "empty.img"); }
  const auto empty = call({"scan", ws.str("empty.img")});
  EXPECT_EQ(empty.status, 1);
  EXPECT_TRUE(contains(empty.err, "源文件大小为 0 字节")) << empty.err;
  { std::ofstream(ws.dir() / "small.img") << "abc"; }
  EXPECT_TRUE(contains(call({"scan", ws.str("small.img")}).err, "源文件大小为 3 字节，不足一个扇区"));

  // Stopped at once: nothing listed, the report still printed and partial.
  const auto stopped = call({"scan", ws.image(), "--json"}, stopping([] { return true; }));
  EXPECT_EQ(stopped.status, 130);
  EXPECT_TRUE(contains(stopped.out, "\"complete\": false, \"error\": \"扫描已停止，列表不完整\"")) << stopped.out;
  EXPECT_TRUE(contains(stopped.out, "\"clips\": []"));
  EXPECT_TRUE(contains(stopped.err, "扫描已停止，列表不完整"));
  EXPECT_FALSE(stopped.left_running);
  const auto text = call({"scan", ws.image()}, stopping([] { return true; }));
  EXPECT_EQ(text.status, 130);
  EXPECT_TRUE(contains(text.out, "共 0 个片段（列表不完整）\n扫描已停止，列表不完整\n")) << text.out;
}

std::string file_sha(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  recover::Sha256 h;
  h.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return h.hex();
}

std::size_t files_in(const fs::path& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(CliRecover, WritesChosenClipsAndReportsTheirHashes) {
  Workspace ws;
  const fs::path out = ws.dir() / "out";
  // The folder is made when missing.
  const auto r = call({"recover", ws.image(), "--out", TempFolder::utf8(out), "--clip", "3", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path file = out / "ch00000000000001-12-05-20-13-45-32-.264";
  ASSERT_TRUE(fs::exists(file));
  // Blocks at 8000514 and 8000642, then the 60-sector tail at 8000770.
  EXPECT_EQ(fs::file_size(file), (128 + 128 + 60) * 512u);
  const std::string tail = ", \"bytes\": 161792, \"sha256\": \"" + file_sha(file) +
                           "\", \"unreadable\": [], \"expected_bytes\": 161792, \"outcome\": \"complete\"}]}\n";
  EXPECT_TRUE(contains(r.out, "\"files\": [{\"number\": 3, \"name\": \"ch00000000000001-12-05-20-13-45-32-.264\""))
      << r.out;
  EXPECT_TRUE(contains(r.out, tail)) << r.out;
  EXPECT_TRUE(contains(r.out, "\"complete\": true"));
  EXPECT_TRUE(contains(r.err, "恢复完成：1/1 个文件，共 161792 字节")) << r.err;

  const auto all = call({"recover", ws.image(), "--out", TempFolder::utf8(out)});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(files_in(out), 4u);
  EXPECT_TRUE(fs::exists(out / "ch00000000000001-12-05-20-13-45-32-(1).264"));
  EXPECT_TRUE(contains(all.err, "已存在，写入"));
}

TEST(CliRecover, AClipNumberTheScanDoesNotListWritesNothing) {
  Workspace ws;
  const fs::path out = ws.dir() / "out";
  const auto r = call({"recover", ws.image(), "--out", TempFolder::utf8(out), "--clip", "3", "--clip", "9", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "没有编号为 9 的片段")) << r.err;
  EXPECT_TRUE(contains(r.out, "\"complete\": false, \"error\": \"没有编号为 9 的片段")) << r.out;
  EXPECT_TRUE(contains(r.out, "\"files\": []"));
  EXPECT_EQ(files_in(out), 0u);
}

TEST(CliRecover, UnusableFoldersAreRefusedBeforeTheScan) {
  Workspace ws;
  { std::ofstream(ws.dir() / "file") << "x"; }
  const auto file = call({"recover", ws.image(), "--out", ws.str("file")});
  EXPECT_EQ(file.status, 1);
  EXPECT_TRUE(contains(file.err, "输出文件夹不可用：" + ws.str("file") + "：不是文件夹")) << file.err;
  EXPECT_FALSE(contains(file.err, "正在扫描"));
#ifndef _WIN32
  const auto proc = call({"recover", ws.image(), "--out", "/proc/clips"});
  EXPECT_EQ(proc.status, 1);
  EXPECT_TRUE(contains(proc.err, "输出文件夹不可用：/proc/clips：系统的虚拟文件系统（proc）")) << proc.err;
  EXPECT_FALSE(contains(proc.err, "正在扫描"));
#endif
}

class SameDisk final : public recover::VolumeMap {
 public:
  recover::Medium source_medium(const std::string&) override { return {{"disk:0"}, ""}; }
  recover::Medium folder_medium(const std::string&) override { return {{"vol:x", "disk:0"}, ""}; }
};

TEST(CliRecover, RefusesAFolderOnTheSourceDisk) {
  Workspace ws;
  SameDisk volumes;
  Environment env;
  env.volumes = &volumes;
  const auto r = call({"recover", ws.image(), "--out", ws.str("new")}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "源介质上")) << r.err;
  EXPECT_FALSE(fs::exists(ws.dir() / "new"));
}

TEST(CliRecover, AnImageCutAfterTheScanGivesAnIncompleteFileAndAnError) {
  Workspace ws;
  // The image loses its last 200 sectors, but the device still announces
  // the size it had, as a device that became shorter does.
  const auto sectors = static_cast<int64_t>(fs::file_size(ws.dir() / "disk.img") / 512);
  fs::resize_file(ws.dir() / "disk.img", static_cast<uintmax_t>(sectors - 200) * 512);
  Environment env;
  env.open_source = [&](const std::string& path) { return sources::open_block_source(path, sectors); };
  const fs::path out = ws.dir() / "out";
  const auto r = call({"recover", ws.image(), "--out", TempFolder::utf8(out), "--json"}, env);
  EXPECT_EQ(r.status, 1) << r.err;
  // The scan now ends at 8000630, inside clip 3's first block (8000514):
  // that block is all the clip has, and its read comes back short.
  const fs::path kept = out / TempFolder::from_utf8("ch00000000000001-12-05-20-13-45-32-不完整.264");
  ASSERT_TRUE(fs::exists(kept)) << r.out;
  EXPECT_EQ(fs::file_size(kept), 116 * 512u);
  EXPECT_TRUE(contains(r.out, "\"bytes\": 59392, \"sha256\": \"" + file_sha(kept) +
                                  "\", \"unreadable\": [], \"expected_bytes\": 65536, \"outcome\": \"incomplete\", "
                                  "\"partial_removed\": false, \"error\": \"源介质在扇区 8000630 处已到尽头"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "\"complete\": false"));
  EXPECT_TRUE(contains(r.err, "恢复完成：2/3 个文件")) << r.err;
  EXPECT_EQ(files_in(out), 3u);
}

// A source over the sample image that stands for a disk the test controls:
// the first read of `sector` that is at most `max_count` sectors long (and,
// with `after_end`, comes after a read of the source's last block, so it is
// the recovery's) waits there, and Ctrl-C is pressed while it waits.
class HeldSource final : public sources::BlockSource {
 public:
  enum class Release { on_cancel, by_test };
  HeldSource(std::unique_ptr<sources::BlockSource> inner, int64_t sector, int64_t max_count, bool after_end,
             Release release, std::atomic<bool>& interrupt, std::atomic<bool>& destroyed)
      : inner_(std::move(inner)), sector_(sector), max_count_(max_count), after_end_(after_end), release_(release),
        interrupt_(interrupt), destroyed_(destroyed) {}
  ~HeldSource() override { destroyed_ = true; }
  int64_t sector_count() const override { return inner_->sector_count(); }
  sources::ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    const bool covers = first <= sector_ && sector_ < first + count && count <= max_count_;
    if (covers && (!after_end_ || read_end_) && !held_.exchange(true)) {
      interrupt_ = true;
      std::unique_lock lock(mutex_);
      // A deadline only so a broken build can't hang the test run.
      wake_.wait_for(lock, std::chrono::seconds(60), [&] {
        return release_ == Release::on_cancel ? cancelled_ : released_;
      });
    }
    if (first + count >= inner_->sector_count()) read_end_ = true;
    return inner_->read_sectors(first, count, buffer);
  }
  void cancel() override {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    wake_.notify_all();
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }
  bool held() const { return held_; }

 private:
  std::unique_ptr<sources::BlockSource> inner_;
  const int64_t sector_, max_count_;
  const bool after_end_;
  const Release release_;
  std::atomic<bool>& interrupt_;
  std::atomic<bool>& destroyed_;
  std::atomic<bool> held_{false}, read_end_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false, released_ = false;
};

std::vector<scanner::ClipRow> rows_of(const std::string& image) {
  auto opened = sources::open_block_source(source_path(image));
  std::vector<scanner::ClipRow> rows;
  scanner::ScanCallbacks cb;
  cb.row = [&](const scanner::ClipRow& r) { rows.push_back(r); };
  scanner::scan(*opened.source, {}, cb);
  return rows;
}

TEST(CliRecover, CtrlCInsideAClipRemovesItsPartialFileAndReportsWhatWasDone) {
  SampleWorkspace ws;
  const auto rows = rows_of(ws.image());
  ASSERT_GE(rows.size(), 3u);
  ASSERT_GE(rows[2].runs.size(), 2u);
  // The recovery reads clip 3 run by run, after the scan read to the end.
  const int64_t held_at = rows[2].runs[1].first_sector;
  const int64_t run_sectors = rows[2].runs[1].blocks * 128;
  std::atomic<bool> interrupt{false}, destroyed{false};
  Environment env = stopping([&] { return interrupt.load(); });
  env.open_source = [&](const std::string& path) {
    auto opened = sources::open_block_source(path);
    opened.source = std::make_unique<HeldSource>(std::move(opened.source), held_at, run_sectors, true,
                                                 HeldSource::Release::on_cancel, interrupt, destroyed);
    return opened;
  };
  const fs::path out = ws.dir() / "out";
  const auto r = call({"recover", ws.image(), "--out", TempFolder::utf8(out), "--json"}, env);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_FALSE(r.left_running);
  EXPECT_TRUE(destroyed);
  // Clips 1 and 2 are whole; clip 3 was stopped and its partial file deleted.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(TempFolder::utf8(e.path().filename()));
  std::sort(names.begin(), names.end());
  std::vector<std::string> want{rows[0].name, rows[1].name};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(names, want);
  EXPECT_TRUE(contains(r.out, "\"complete\": false, \"error\": \"恢复已停止\"")) << r.out;
  EXPECT_TRUE(contains(r.out, "\"number\": 3, \"name\": \"" + rows[2].name + "\""));
  EXPECT_TRUE(contains(r.out, "\"outcome\": \"stopped\", \"partial_removed\": true, \"error\": \"已停止，已删除不完整的文件\""))
      << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '{'), 1 + 9 + 3) << "report, clips and three files";
  EXPECT_TRUE(contains(r.err, "已停止：" + rows[2].name + " 未恢复完，已删除不完整的文件")) << r.err;
}

TEST(CliScan, CtrlCWhileAReadNeverReturnsStillPrintsThePartialReport) {
  SampleWorkspace ws;
  // A read of the indexing pass.
  const int64_t held_at = 8000130 + 4 * 32 * 128;
  std::atomic<bool> interrupt{false}, destroyed{false};
  HeldSource* held = nullptr;
  Environment env;
  env.stop = [&] { return interrupt.load(); };
  env.stop_grace = std::chrono::milliseconds(300);
  env.open_source = [&](const std::string& path) {
    auto opened = sources::open_block_source(path);
    auto source = std::make_unique<HeldSource>(std::move(opened.source), held_at, 1 << 20, false,
                                               HeldSource::Release::by_test, interrupt, destroyed);
    held = source.get();
    opened.source = std::move(source);
    return opened;
  };
  const auto r = call({"scan", ws.image(), "--json"}, env);
  // It answered while the read was still held: the read can't have returned.
  ASSERT_TRUE(held && held->held());
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(r.left_running);
  EXPECT_EQ(r.status, 130);
  EXPECT_TRUE(contains(r.out, "\"complete\": false, \"error\": \"扫描已停止，列表不完整\"")) << r.out;
  EXPECT_TRUE(contains(r.out, "\"clips\": [")) << r.out;
  EXPECT_TRUE(contains(r.err, "扫描已停止，列表不完整"));
  // The thread left behind ends once its read comes back, and takes its
  // source with it; nothing of the finished run is touched meanwhile.
  held->release();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!destroyed && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(destroyed);
}

TEST(CliScan, CtrlCWhileAReadWaitsForCancelEndsTheScanItself) {
  SampleWorkspace ws;
  std::atomic<bool> interrupt{false}, destroyed{false};
  // No report without the work: it ends as soon as the read gives up.
  Environment env = stopping([&] { return interrupt.load(); });
  env.open_source = [&](const std::string& path) {
    auto opened = sources::open_block_source(path);
    opened.source = std::make_unique<HeldSource>(std::move(opened.source), 8000130 + 4 * 32 * 128, 1 << 20, false,
                                                 HeldSource::Release::on_cancel, interrupt, destroyed);
    return opened;
  };
  const auto r = call({"scan", ws.image()}, env);
  EXPECT_EQ(r.status, 130);
  EXPECT_FALSE(r.left_running);
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(contains(r.out, "（列表不完整）\n扫描已停止，列表不完整\n")) << r.out;
}

TEST(CliOutput, AReportThatCannotBeWrittenIsAnError) {
  Workspace ws;
  TempFolder capture("clipsalvage-cli-out");
  { std::ofstream(capture.path() / "out") << ""; }
  Environment env;
  env.out = std::fopen(capture.str("out").c_str(), "rb");  // every write fails
  env.err = std::fopen(capture.str("err").c_str(), "w+b");
  const int status = run({"scan", ws.image(), "--json"}, env);
  std::fclose(env.out);
  const std::string err = read_back(env.err);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(contains(err, "clipsalvage: 无法写入标准输出：")) << err;
#ifndef _WIN32
  // A full device and a pipe nobody reads.
  env.out = std::fopen("/dev/full", "wb");
  env.err = std::fopen(capture.str("err2").c_str(), "w+b");
  ASSERT_TRUE(env.out);
  EXPECT_EQ(run({"scan", ws.image()}, env), 1);
  std::fclose(env.out);
  EXPECT_TRUE(contains(read_back(env.err), std::string("无法写入标准输出：") + std::strerror(ENOSPC)));

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  env.out = ::fdopen(fds[1], "wb");
  env.err = std::fopen(capture.str("err3").c_str(), "w+b");
  EXPECT_EQ(run({"scan", ws.image(), "--json"}, env), 1);
  std::fclose(env.out);
  std::signal(SIGPIPE, previous);
  EXPECT_TRUE(contains(read_back(env.err), std::string("无法写入标准输出：") + std::strerror(EPIPE)));
#endif
}

TEST(CliText, TableLinesUpByDisplayWidthWithin100Columns) {
  std::vector<scanner::ClipRow> rows(3);
  rows[0] = {1, "01", "2026-05-20 08-15-07", 2, "ch00000000000001-26-05-20-08-15-07-.264", 40, 8000130, true, {}};
  rows[1] = {23456, "01", "20-12-05-2 -13-45-3", 1234, "ch000000000000010-12-05-20-13-45-30-.264", 20000,
             9999999999, false, {}};
  rows[2] = {3, "", "", 0, "ch0000000000000-.264", 1, 0, false, {}};
  const std::string table = clip_table(rows, true);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < table.size();) {
    const std::size_t end = table.find('\n', at);
    lines.push_back(table.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines.back(), "共 3 个片段（列表不完整）");
  // The name column starts at the same cell in every line, the header's
  // Chinese titles counted as two cells each.
  std::vector<int> name_at;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_LE(display_width(lines[i]), 100) << lines[i];
    const std::string& line = lines[i];
    const std::size_t at = i == 0 ? line.find("名称") : line.find("ch0");
    name_at.push_back(display_width(line.substr(0, at)));
  }
  EXPECT_EQ(name_at, std::vector<int>(4, name_at[0])) << table;
  EXPECT_TRUE(contains(lines[2], "未结束"));
  EXPECT_EQ(display_width("序号ab"), 6);
  EXPECT_EQ(display_width("e\xcc\x81"), 1);
}

TEST(CliProgress, OneJobAcrossBothPassesNeverGoingBackAndEndingAt100) {
  for (bool found : {true, false}) {
    TempFolder capture("clipsalvage-cli-progress");
    std::FILE* err = std::fopen(capture.str("err").c_str(), "w+b");
    ProgressLine line(err, false);
    const int64_t total = 20'000'000;
    const int64_t signature = found ? 8'100'000 : 0;
    double last = -1;
    auto check = [&](int64_t s) {
      line.scan_position(s, total);
      const double percent = 100.0 * static_cast<double>(line.job_done()) / static_cast<double>(line.job_total());
      EXPECT_GE(percent, last) << "at sector " << s << (found ? " (signature found)" : "");
      EXPECT_LE(percent, 100.0);
      last = percent;
    };
    line.pass(scanner::ScanPass::search, 8'000'000, total);
    for (int64_t s = 8'000'000; s < (found ? signature : total); s += 100'000) check(s);
    line.pass(scanner::ScanPass::index, signature, total);
    for (int64_t s = signature; s < total; s += 100'000) check(s);
    line.scan_complete();
    EXPECT_EQ(line.job_done(), line.job_total());
    const std::string text = read_back(err);
    // On a pipe: whole lines, no carriage returns; the last one at 100 %.
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_TRUE(contains(text, "扫描完成  100.0%")) << text;
  }
}

TEST(CliProgress, APipeGetsLinesAndTheLastSays100) {
  Workspace ws;
  const auto r = call({"scan", ws.image(), "--progress"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_TRUE(contains(r.err, "扫描完成  100.0%")) << r.err;
}

#ifndef _WIN32
TEST(CliScan, PathsThatAreNotUtf8StayRecoverableInTheJson) {
  Workspace ws("disk\xff.img");
  const std::string odd = ws.image();
  const std::string out = ws.str("out\xfe");
  const auto r = call({"recover", odd, "--out", out, "--clip", "1", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(valid_utf8(r.out), r.out);
  EXPECT_TRUE(contains(r.out, "\"source\": " + json_string(odd) + ", \"source_bytes\": \"" + hex_bytes(odd) + "\""));
  const std::string file = out + "/ch00000000000001-12-05-20-13-45-30-.264";
  EXPECT_TRUE(contains(r.out, "\"path_bytes\": \"" + hex_bytes(file) + "\"")) << r.out;
  EXPECT_TRUE(fs::exists(file));
}
#endif

}  // namespace
}  // namespace clip::cli
