// The evidence options of the command: saved reports recovered from and
// checked against their source, mapfiles read and written, DFXML reports and
// verify. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <set>

#include "cli/cli_test_support.h"
#include "report/mapfile.h"
#include "report/scan_report.h"
#include "sources/block_source.h"

namespace clip::cli {
namespace {

using scanner::SectorRange;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string read_file(const std::string& path) {
  std::ifstream in(TempFolder::from_utf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(TempFolder::from_utf8(path), std::ios::binary);
  out << text;
}

// The reads a source was asked for; kept by the test after the run has
// closed the source.
class ReadLog {
 public:
  void add(int64_t first, int64_t count) {
    std::lock_guard lock(mutex_);
    reads_.push_back({first, count});
  }
  // Whether any read touched [first, first + count).
  bool touched(int64_t first, int64_t count) const {
    std::lock_guard lock(mutex_);
    return std::any_of(reads_.begin(), reads_.end(),
                       [&](const SectorRange& r) { return r.first < first + count && first < r.first + r.count; });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<SectorRange> reads_;
};

// The source as opened, its reads logged, and one byte of `changed_sector`
// altered when set (another disk in the same place).
class Watched final : public sources::BlockSource {
 public:
  Watched(std::unique_ptr<BlockSource> inner, std::shared_ptr<ReadLog> log, std::optional<int64_t> changed_sector)
      : inner_(std::move(inner)), log_(std::move(log)), changed_(changed_sector) {}

  int64_t sector_count() const override { return inner_->sector_count(); }
  sources::ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    log_->add(first, count);
    const auto result = inner_->read_sectors(first, count, buffer);
    if (changed_ && *changed_ >= first && *changed_ < first + static_cast<int64_t>(result.bytes / 512)) {
      buffer[(*changed_ - first) * 512 + 200] ^= 0x5a;
    }
    return result;
  }
  void cancel() override { inner_->cancel(); }
  bool cancelled() const override { return inner_->cancelled(); }

 private:
  std::unique_ptr<BlockSource> inner_;
  std::shared_ptr<ReadLog> log_;
  std::optional<int64_t> changed_;
};

// An environment whose sources are Watched; `last` logs the one opened last.
struct Watching {
  std::optional<int64_t> changed_sector;
  std::shared_ptr<ReadLog> last;
  Environment env() {
    Environment e;
    e.open_source = [this](const std::string& path) {
      auto opened = sources::open_block_source(path);
      if (!opened.source) return opened;
      last = std::make_shared<ReadLog>();
      return sources::OpenResult{std::make_unique<Watched>(std::move(opened.source), last, changed_sector), {}};
    };
    return e;
  }
};

std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(TempFolder::from_utf8(folder), ec)) {
    names.push_back(TempFolder::utf8(e.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The sample scanned once with its report saved, shared by the tests.
class SavedScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ws_ = new SampleWorkspace;
    const auto r = call({"scan", ws_->image(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    write_file(ws_->str("scan.json"), r.out);
    auto parsed = report::parse_scan_report(r.out);
    ASSERT_TRUE(parsed) << parsed.error();
    report_ = new report::ScanReport(parsed.value());
  }
  static void TearDownTestSuite() {
    delete report_;
    delete ws_;
  }

  // The verify command `args` over a source in which the first block of
  // clip `index` changed: it fails and names that clip only.
  static void expect_changed_clip_named(const std::vector<std::string>& args, std::size_t index) {
    Watching watching;
    watching.changed_sector = report_->clips[index].first_sector + 3;
    const auto r = call(args, watching.env());
    EXPECT_EQ(r.status, 1);
    for (std::size_t i = 0; i < report_->clips.size(); ++i) {
      EXPECT_EQ(contains(r.out, report_->clips[i].name), i == index) << i << ": " << r.out;
    }
  }

  static SampleWorkspace* ws_;
  static report::ScanReport* report_;
};
SampleWorkspace* SavedScan::ws_ = nullptr;
report::ScanReport* SavedScan::report_ = nullptr;

TEST_F(SavedScan, ReportCarriesTheSourcesFingerprintAndRecoversWithoutAScan) {
  ASSERT_TRUE(report_->fingerprint);
  ASSERT_EQ(report_->clips.size(), 9u);
  EXPECT_EQ(report_->fingerprint->first_block_sha256.size(), 9u);
  EXPECT_FALSE(report_->fingerprint->signature_sha256.empty());

  // The same files as a recovery that scans.
  const auto scanned = call({"recover", ws_->image(), "--out", ws_->str("scanned"), "--json"});
  ASSERT_EQ(scanned.status, 0) << scanned.err;
  Watching watching;
  const auto r = call({"recover", ws_->image(), "--from-report", ws_->str("scan.json"), "--out", ws_->str("loaded"),
                       "--json"},
                      watching.env());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(contains(r.err, "扫描完成!")) << r.err;
  // No signature search: nothing before the signature sector was read.
  ASSERT_TRUE(watching.last);
  EXPECT_FALSE(watching.last->touched(scanner::kSearchStart, *report_->signature_sector - scanner::kSearchStart));
  const std::regex digest("\"sha256\": \"([0-9a-f]{64})\"");
  auto digests = [&](const std::string& json) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(json.begin(), json.end(), digest), end; it != end; ++it) found.push_back((*it)[1]);
    return found;
  };
  EXPECT_EQ(digests(r.out).size(), 9u);
  EXPECT_EQ(digests(r.out), digests(scanned.out));
  EXPECT_EQ(files_in(ws_->str("loaded")), files_in(ws_->str("scanned")));
  // The recovery's report is itself a report that loads.
  const auto reloaded = report::parse_scan_report(r.out);
  ASSERT_TRUE(reloaded) << reloaded.error();
  EXPECT_EQ(reloaded->files.size(), 9u);
  EXPECT_TRUE(reloaded->fingerprint);
}

TEST_F(SavedScan, ASourceThatDiffersOrAReportWithoutFingerprintIsRefusedBeforeWriting) {
  Watching watching;
  watching.changed_sector = report_->clips[4].first_sector + 3;
  const auto r = call({"recover", ws_->image(), "--from-report", ws_->str("scan.json"), "--out", ws_->str("other")},
                      watching.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "源介质与扫描报告不符")) << r.err;
  EXPECT_TRUE(contains(r.err, report_->clips[4].name)) << r.err;
  EXPECT_TRUE(files_in(ws_->str("other")).empty());

  std::string old = read_file(ws_->str("scan.json"));
  old = std::regex_replace(old, std::regex(", \"(signature|first_block)_sha256\": (\"[0-9a-f]+\"|null)"), "");
  write_file(ws_->str("old.json"), old);
  const auto unmatched = call({"recover", ws_->image(), "--from-report", ws_->str("old.json"), "--out", ws_->str("old")});
  EXPECT_EQ(unmatched.status, 1);
  EXPECT_TRUE(contains(unmatched.err, "没有源介质的指纹")) << unmatched.err;
  EXPECT_TRUE(files_in(ws_->str("old")).empty());

  const auto missing = call({"recover", ws_->image(), "--from-report", ws_->str("none.json"), "--out", ws_->str("x")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.err, "none.json")) << missing.err;
}

TEST_F(SavedScan, ClipNumbersChooseFromTheReport) {
  const auto two = call({"recover", ws_->image(), "--from-report", ws_->str("scan.json"), "--out", ws_->str("two"),
                         "--clip", "2", "--clip", "5"});
  ASSERT_EQ(two.status, 0) << two.err;
  std::vector<std::string> chosen{report_->clips[1].name, report_->clips[4].name};
  std::sort(chosen.begin(), chosen.end());
  EXPECT_EQ(files_in(ws_->str("two")), chosen);
  const auto unknown = call({"recover", ws_->image(), "--from-report", ws_->str("scan.json"), "--out",
                             ws_->str("none"), "--clip", "3", "--clip", "10"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(contains(unknown.err, "10")) << unknown.err;
  EXPECT_TRUE(files_in(ws_->str("none")).empty());
}

TEST_F(SavedScan, VerifyListsEveryMismatchOfTheSourceAndTheFiles) {
  const auto rec = call({"recover", ws_->image(), "--out", ws_->str("files"), "--json"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  write_file(ws_->str("recovered.json"), rec.out);

  const auto good = call({"verify", ws_->image(), "--report", ws_->str("recovered.json"), "--files", ws_->str("files"),
                          "--progress"});
  EXPECT_EQ(good.status, 0) << good.out << good.err;
  EXPECT_TRUE(contains(good.out, "全部相符")) << good.out;
  // The reading of the source's clips and then of the files each end at
  // 100 %, the line ended before the next log line.
  const std::string done = "核对 片段 9/9  100.0%";
  const auto first = good.err.find(done);
  ASSERT_NE(first, std::string::npos) << good.err;
  EXPECT_LT(good.err.find("正在核对源介质"), first) << good.err;
  EXPECT_NE(good.err.find("\n正在核对文件夹", first), std::string::npos) << good.err;
  EXPECT_NE(good.err.find(done, good.err.find("正在核对文件夹")), std::string::npos) << good.err;

  // A changed clip in the source; one file changed and one gone.
  expect_changed_clip_named({"verify", ws_->image(), "--report", ws_->str("recovered.json")}, 6);

  const std::string changed = ws_->str("files") + "/" + report_->clips[0].name;
  std::string bytes = read_file(changed);
  bytes[100] ^= 1;
  write_file(changed, bytes);
  fs::remove(TempFolder::from_utf8(ws_->str("files") + "/" + report_->clips[2].name));
  const auto files = call({"verify", "--files", ws_->str("files"), "--report", ws_->str("recovered.json"), "--json"});
  EXPECT_EQ(files.status, 1);
  EXPECT_TRUE(contains(files.out, "\"ok\": false")) << files.out;
  EXPECT_TRUE(contains(files.out, report_->clips[0].name)) << files.out;
  EXPECT_TRUE(contains(files.out, report_->clips[2].name)) << files.out;
  EXPECT_FALSE(contains(files.out, report_->clips[1].name)) << files.out;
}

TEST_F(SavedScan, DfxmlOfScanAndRecoveryStateTheFilesDigests) {
  const auto scan = call({"scan", ws_->image(), "--dfxml", ws_->str("scan.xml"), "--progress"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  // The clips are read once more for their digests, with progress.
  EXPECT_TRUE(contains(scan.err, "计算 SHA-256 片段 9/9  100.0%")) << scan.err;
  const auto rec = call({"recover", ws_->image(), "--from-report", ws_->str("scan.json"), "--out", ws_->str("dfxml"),
                         "--dfxml", ws_->str("recover.xml"), "--json"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  auto digests = [](const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found.insert((*it)[1]);
    return found;
  };
  const std::regex in_xml("<hashdigest type='sha256'>([0-9a-f]{64})</hashdigest>");
  const auto files = digests(rec.out, std::regex("\"sha256\": \"([0-9a-f]{64})\""));
  EXPECT_EQ(files.size(), 9u);
  EXPECT_EQ(digests(read_file(ws_->str("scan.xml")), in_xml), files);
  const std::string recovered = read_file(ws_->str("recover.xml"));
  EXPECT_EQ(digests(recovered, in_xml), files);
  EXPECT_TRUE(contains(recovered, "<command_line>clipsalvage recover ")) << recovered;
  EXPECT_TRUE(contains(recovered, "<cs:output_path>")) << recovered;

  // The byte runs read back from the source give the stated digests, unless
  // the source changed.
  const auto checked = call({"verify", ws_->image(), "--dfxml", ws_->str("scan.xml")});
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  expect_changed_clip_named({"verify", ws_->image(), "--dfxml", ws_->str("recover.xml")}, 3);

  // An existing report is never replaced.
  const std::string before = read_file(ws_->str("scan.xml"));
  const auto again = call({"scan", ws_->image(), "--dfxml", ws_->str("scan.xml")});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(contains(again.err, "DFXML")) << again.err;
  EXPECT_EQ(read_file(ws_->str("scan.xml")), before);
}

// Eight sectors inside the second block of the sample's first clip, marked
// not copied in a mapfile beside the image.
class MapfileScan : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto plan = imagegen::sample_spec();
    hole_ = {plan.first_sector + 128 + 40, 8};
    const int64_t total = ws_.sectors() * 512;
    char text[256];
    std::snprintf(text, sizeof text, "# test\n0x0 +\n0x0 0x%llx +\n0x%llx 0x1000 -\n0x%llx 0x%llx +\n",
                  static_cast<unsigned long long>(hole_.first * 512), static_cast<unsigned long long>(hole_.first * 512),
                  static_cast<unsigned long long>(hole_.first * 512 + 4096),
                  static_cast<unsigned long long>(total - hole_.first * 512 - 4096));
    write_file(ws_.image() + ".map", text);
  }

  SampleWorkspace ws_;
  SectorRange hole_;
};

TEST_F(MapfileScan, HolesAreUnreadableWithoutBeingReadAndTheScansMapfileNamesThem) {
  Watching watching;
  const auto r = call({"scan", ws_.image(), "--json", "--write-mapfile", ws_.str("scan.map")}, watching.env());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.err, ".img.map")) << r.err;
  EXPECT_TRUE(contains(r.out, "\"unreadable\": [[" + std::to_string(hole_.first) + ", 8]]")) << r.out;
  ASSERT_TRUE(watching.last);
  EXPECT_FALSE(watching.last->touched(hole_.first, hole_.count));

  const auto written = report::load_mapfile(ws_.str("scan.map"));
  ASSERT_TRUE(written) << written.error();
  EXPECT_EQ(report::unrecovered_sectors(written.value(), ws_.sectors()).front(), (SectorRange{0, scanner::kSearchStart}));
  std::vector<report::MapBlock> bad;
  for (const auto& b : written->blocks) {
    if (b.status == '-') bad.push_back(b);
  }
  EXPECT_EQ(bad, (std::vector<report::MapBlock>{{hole_.first * 512, 4096, '-'}}));
  EXPECT_EQ(written->blocks.back().status, '+');

  // The recovered file of the clip that holds them names the sectors.
  write_file(ws_.str("scan.json"), r.out);
  const auto saved = report::parse_scan_report(r.out);
  ASSERT_TRUE(saved) << saved.error();
  const auto holder = std::find_if(saved->clips.begin(), saved->clips.end(), [&](const scanner::ClipRow& c) {
    return c.runs.front().first_sector <= hole_.first && hole_.first < c.runs.front().first_sector + 256;
  });
  ASSERT_NE(holder, saved->clips.end());
  const auto rec = call({"recover", ws_.image(), "--from-report", ws_.str("scan.json"), "--out", ws_.str("out"),
                         "--clip", std::to_string(holder->number), "--json"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  EXPECT_TRUE(contains(rec.out, "\"unreadable\": [[" + std::to_string(hole_.first) + ", 8]], \"expected_bytes\""))
      << rec.out;

  // Without the mapfile the image's zeros are read as they are.
  const auto plain = call({"scan", ws_.image(), "--json", "--no-mapfile"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_TRUE(contains(plain.out, "\"unreadable\": []")) << plain.out;
}

TEST_F(MapfileScan, AMalformedOrMissingMapfileStopsTheRunWithItsReason) {
  write_file(ws_.str("bad.map"), "# x\n0x0 +\n0x0 0x200 +\n0x400 0x200 -\n");
  const auto bad = call({"scan", ws_.image(), "--mapfile", ws_.str("bad.map")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(contains(bad.err, "bad.map")) << bad.err;
  EXPECT_TRUE(contains(bad.err, "4")) << bad.err;  // the line
  const auto missing = call({"scan", ws_.image(), "--mapfile", ws_.str("none.map")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.err, "none.map")) << missing.err;
}

TEST(CliEvidenceUsage, OptionsOutsideTheirCommandOrWithoutValuesAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"scan", "x.img", "--from-report", "r.json"}, "--from-report belongs to recover"},
      {{"verify", "x.img", "--dfxml", "r.xml", "--report", "r.json"}, "--report or --dfxml, not both"},
      {{"verify", "--dfxml", "r.xml", "--files", "d"}, "--files needs --report FILE"},
      {{"scan", "x.img", "--files", "d"}, "--files belongs to verify, not scan"},
      {{"scan", "x.img", "--mapfile"}, "--mapfile needs a mapfile"},
      {{"scan", "x.img", "--mapfile", "a", "--mapfile", "b"}, "--mapfile given twice"},
      {{"scan", "x.img", "--mapfile", "a", "--no-mapfile"}, "exclude each other"},
      {{"recover", "x.img", "--out", "d", "--from-report", "r", "--write-mapfile", "m"}, "--write-mapfile needs a scan"},
      {{"verify", "x.img"}, "verify needs --report FILE or --dfxml FILE"},
      {{"verify", "--report", "r.json"}, "verify needs a SOURCE, --files DIR or both"},
  };
  for (const auto& c : cases) {
    const auto r = call(c.args);
    EXPECT_EQ(r.status, kExitUsage) << c.args[2];
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_TRUE(contains(r.err, "clipsalvage verify SOURCE --report FILE")) << r.err;
  }
}

}  // namespace
}  // namespace clip::cli
