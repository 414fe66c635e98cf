// A real copying-tool run over a file whose chosen sectors fail: a recorder
// image served through a FUSE file system (failing_fs.py, over python3-fusepy)
// whose reads of seven sectors inside a clip fail with EIO. The mapfile the
// tool writes must name exactly those sectors, and a scan of the copy with
// that mapfile must report them unreadable and still find every clip. Skips
// where FUSE mounts are not allowed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "report/mapfile.h"
#include "report/test_files.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::report {
namespace {

using test::run_command;

bool failed(const std::string& out) { return out.rfind("FAILED: ", 0) == 0; }

// The failing file system, mounted for the test's life.
class FailingMount {
 public:
  std::string skip_reason;
  std::string file;

  FailingMount(const std::filesystem::path& dir, const std::string& image, int64_t bad_first, int64_t bad_count)
      : mountpoint_(dir / "mnt") {
    if (!std::filesystem::exists("/dev/fuse") || std::system("command -v fusermount >/dev/null 2>&1") != 0) {
      skip_reason = "FUSE (/dev/fuse, fusermount) is not available";
      return;
    }
    if (std::system("/usr/bin/python3 -c 'import fusepy' >/dev/null 2>&1") != 0) {
      skip_reason = "python3-fusepy is not installed";
      return;
    }
    std::filesystem::create_directory(mountpoint_);
    const std::string script = std::string(CLIPSALVAGE_REPORT_DATA) + "/../failing_fs.py";
    const std::string log = (dir / "fs.log").string();
    std::system(("/usr/bin/python3 '" + script + "' '" + image + "' '" + mountpoint_.string() + "' " +
                 std::to_string(bad_first) + " " + std::to_string(bad_count) + " >'" + log + "' 2>&1 &")
                    .c_str());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(mountpoint_ / "disk.img")) {
      if (std::chrono::steady_clock::now() > deadline) {
        skip_reason = "the FUSE file system did not come up: " + run_command("cat '" + log + "'");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    mounted_ = true;
    file = (mountpoint_ / "disk.img").string();
  }

  ~FailingMount() {
    if (!mounted_) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (failed(run_command("fusermount -u '" + mountpoint_.string() + "'")) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

 private:
  std::filesystem::path mountpoint_;
  bool mounted_ = false;
};

TEST(CopyingToolRun, MapfileHolesAreTheFailedSectorsAndScanReportsThem) {
  if (std::system("command -v ddrescue >/dev/null 2>&1") != 0) GTEST_SKIP() << "ddrescue (gddrescue) is not installed";
  test::TempDir dir;
  imagegen::ImageSpec plan;
  plan.sectors = 16 * 1024;  // 8 MiB
  for (uint8_t c = 1; c <= 2; ++c) {
    for (int k = 0; k < 2; ++k) {
      imagegen::Recording r;
      r.channel = c;
      r.time = {22, 6, 7, 8, static_cast<uint8_t>(10 * c + k), 0};
      r.blocks = 12;
      plan.recordings.push_back(r);
    }
  }
  const std::string image = (dir.path / "disk.img").string();
  std::vector<imagegen::PlacedRecording> placed;
  {
    imagegen::ImageFile file(image, plan.sectors);
    placed = imagegen::write_recordings(plan, file);
    file.close();
  }
  // Seven sectors inside the third block of the first recording.
  const int64_t bad_first = placed[0].block_sectors[2] + 40;
  const int64_t bad_count = 7;
  FailingMount device(dir.path, image, bad_first, bad_count);
  if (!device.skip_reason.empty()) GTEST_SKIP() << device.skip_reason;

  const std::string copy = (dir.path / "copy.img").string();
  const std::string map_path = (dir.path / "copy.map").string();
  const std::string out = run_command("ddrescue -b512 -r1 -q '" + device.file + "' '" + copy + "' '" + map_path + "'");
  ASSERT_FALSE(failed(out)) << out;

  const auto map = load_mapfile(map_path);
  ASSERT_TRUE(map) << map.error();
  EXPECT_EQ(unrecovered_sectors(map.value(), plan.sectors), (std::vector<SectorRange>{{bad_first, bad_count}}));

  auto opened = sources::open_block_source(copy);
  ASSERT_TRUE(opened.source) << opened.error;
  auto source = with_unreadable(std::move(opened.source), unrecovered_sectors(map.value(), plan.sectors));
  std::vector<scanner::ClipRow> rows;
  scanner::ScanCallbacks cb;
  cb.row = [&](const scanner::ClipRow& r) { rows.push_back(r); };
  const auto result = scanner::scan(*source, {}, cb);
  EXPECT_EQ(result.end, scanner::ScanEnd::complete);
  EXPECT_EQ(result.unreadable, (std::vector<SectorRange>{{bad_first, bad_count}}));
  EXPECT_EQ(rows.size(), plan.recordings.size());

  // And the scan's own mapfile names the same sectors bad.
  ScanCoverage coverage;
  coverage.pass(0, plan.sectors);
  const auto written = parse_mapfile(write_mapfile(plan.sectors, coverage.read(true), result.unreadable, "test"));
  ASSERT_TRUE(written) << written.error();
  EXPECT_EQ(unrecovered_sectors(written.value(), plan.sectors), (std::vector<SectorRange>{{bad_first, bad_count}}));
}

}  // namespace
}  // namespace clip::report
