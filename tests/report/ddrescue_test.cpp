// A real copying-tool run over a device whose chosen sectors fail: a loop
// device of a recorder image under a device-mapper table with an "error"
// target in the middle of a clip. The mapfile it writes must name exactly
// those sectors, and a scan of the copy with that mapfile must report them
// unreadable and still find every clip. Needs root, loop devices and
// device-mapper; skips where they are not allowed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

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

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// A read-only loop device and a device-mapper table over it, removed again
// in reverse order.
class FailingDevice {
 public:
  std::string skip_reason;
  std::string path;

  FailingDevice(const std::string& image, int64_t sectors, int64_t bad_first, int64_t bad_count) {
    if (::geteuid() != 0) {
      skip_reason = "needs root for loop and device-mapper devices";
      return;
    }
    if (std::system("command -v dmsetup >/dev/null && command -v losetup >/dev/null && test -e /dev/mapper/control") != 0) {
      skip_reason = "dmsetup, losetup or /dev/mapper/control is missing";
      return;
    }
    const std::string loop_out = run_command("losetup --find --show --read-only '" + image + "'");
    if (failed(loop_out)) {
      skip_reason = "no loop device: " + loop_out;
      return;
    }
    loop_ = trim(loop_out);
    name_ = "clipsalvage-test-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}() % 100000);
    const int64_t rest = bad_first + bad_count;
    const std::string table = "0 " + std::to_string(bad_first) + " linear " + loop_ + " 0\n" +
                              std::to_string(bad_first) + " " + std::to_string(bad_count) + " error\n" +
                              std::to_string(rest) + " " + std::to_string(sectors - rest) + " linear " + loop_ +
                              " " + std::to_string(rest) + "\n";
    const std::string dm_out = run_command("printf '" + table + "' | dmsetup create " + name_ + " --readonly");
    if (failed(dm_out)) {
      skip_reason = "device-mapper refused the table: " + dm_out;
      name_.clear();
      return;
    }
    path = "/dev/mapper/" + name_;
  }

  ~FailingDevice() {
    if (!name_.empty()) run_command("dmsetup remove --retry " + name_);
    if (!loop_.empty()) run_command("losetup -d " + loop_);
  }

 private:
  std::string loop_;
  std::string name_;
};

TEST(CopyingToolRun, MapfileHolesAreTheFailedSectorsAndScanReportsThem) {
  if (std::system("command -v ddrescue >/dev/null 2>&1") != 0) GTEST_SKIP() << "ddrescue (gddrescue) is not installed";
  test::TempDir dir;
  imagegen::ImageSpec spec;
  spec.sectors = 16 * 1024;  // 8 MiB
  for (uint8_t c = 1; c <= 2; ++c) {
    for (int k = 0; k < 2; ++k) {
      imagegen::Recording r;
      r.channel = c;
      r.time = {22, 6, 7, 8, static_cast<uint8_t>(10 * c + k), 0};
      r.blocks = 12;
      spec.recordings.push_back(r);
    }
  }
  const std::string image = (dir.path / "disk.img").string();
  std::vector<imagegen::PlacedRecording> placed;
  {
    imagegen::ImageFile file(image, spec.sectors);
    placed = imagegen::write_recordings(spec, file);
    file.close();
  }
  // Seven sectors inside the third block of the first recording.
  const int64_t bad_first = placed[0].block_sectors[2] + 40;
  const int64_t bad_count = 7;
  FailingDevice device(image, spec.sectors, bad_first, bad_count);
  if (!device.skip_reason.empty()) GTEST_SKIP() << device.skip_reason;

  const std::string copy = (dir.path / "copy.img").string();
  const std::string map_path = (dir.path / "copy.map").string();
  // Direct reads of single sectors, so the holes are exactly the failing sectors.
  const std::string out = run_command("ddrescue -d -b512 -r1 -q '" + device.path + "' '" + copy + "' '" + map_path + "'");
  ASSERT_FALSE(failed(out)) << out;

  const auto map = load_mapfile(map_path);
  ASSERT_TRUE(map) << map.error();
  EXPECT_EQ(unrecovered_sectors(map.value(), spec.sectors), (std::vector<SectorRange>{{bad_first, bad_count}}));

  auto opened = sources::open_block_source(copy);
  ASSERT_TRUE(opened.source) << opened.error;
  auto source = with_unreadable(std::move(opened.source), unrecovered_sectors(map.value(), spec.sectors));
  std::vector<scanner::ClipRow> rows;
  scanner::ScanCallbacks cb;
  cb.row = [&](const scanner::ClipRow& r) { rows.push_back(r); };
  const auto result = scanner::scan(*source, {}, cb);
  EXPECT_EQ(result.end, scanner::ScanEnd::complete);
  EXPECT_EQ(result.unreadable, (std::vector<SectorRange>{{bad_first, bad_count}}));
  EXPECT_EQ(rows.size(), spec.recordings.size());

  // And the scan's own mapfile names the same sectors bad.
  ScanCoverage coverage;
  coverage.pass(0, spec.sectors);
  const auto written = parse_mapfile(write_mapfile(spec.sectors, coverage.read(true), result.unreadable, "test"));
  ASSERT_TRUE(written) << written.error();
  EXPECT_EQ(unrecovered_sectors(written.value(), spec.sectors), (std::vector<SectorRange>{{bad_first, bad_count}}));
}

}  // namespace
}  // namespace clip::report
