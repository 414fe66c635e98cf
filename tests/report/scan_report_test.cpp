#include <gtest/gtest.h>

#include <fstream>

#include "imagegen/image.h"
#include "recover/recover.h"
#include "report/clip_hash.h"
#include "report/files.h"
#include "report/scan_report.h"
#include "report/test_files.h"
#include "report/verify.h"
#include "sources/memory_source.h"

namespace clip::report {
namespace {

using scanner::ClipRow;
using sources::MemorySource;

class MemorySink : public imagegen::BlockSink {
 public:
  explicit MemorySink(MemorySource& source) : source_(source) {}
  void put(int64_t sector, std::span<const uint8_t> bytes) override { source_.write(sector * 512, bytes); }

 private:
  MemorySource& source_;
};

// A small recorder disk in memory, scanned.
struct Scanned {
  std::unique_ptr<MemorySource> source;
  scanner::ScanResult result;
  std::vector<ClipRow> rows;

  explicit Scanned(int channels = 3) : source(std::make_unique<MemorySource>(8192)) {
    imagegen::ImageSpec plan;
    plan.sectors = source->sector_count();
    for (int k = 0; k < 2; ++k) {
      for (int c = 1; c <= channels; ++c) {
        imagegen::Recording r;
        r.channel = static_cast<uint8_t>(c);
        r.time = {23, 1, 2, 3, static_cast<uint8_t>(c), static_cast<uint8_t>(k)};
        r.blocks = 4 + c;
        plan.recordings.push_back(r);
      }
    }
    MemorySink sink(*source);
    imagegen::write_recordings(plan, sink);
    scanner::ScanCallbacks cb;
    cb.row = [&](const ClipRow& r) { rows.push_back(r); };
    result = scanner::scan(*source, {}, cb);
  }

  ScanReport report() {
    ScanReport r;
    r.source = "/evidence/疑难 \"disk\".img";
    r.sectors = result.sectors;
    r.signature_sector = result.signature_sector;
    r.complete = true;
    r.unreadable = {{7000, 3}};
    r.clips = rows;
    r.fingerprint = take_fingerprint(*source, r.signature_sector, rows);
    return r;
  }
};

TEST(ScanReport, WrittenReportReadsBackWhole) {
  Scanned scanned;
  ScanReport report = scanned.report();
  ASSERT_TRUE(report.fingerprint);
  ASSERT_EQ(report.fingerprint->first_block_sha256.size(), scanned.rows.size());
  report.image_hashes = sources::ImageHashes{"0123", "4567"};
  report.scan_position = report.sectors - 78;
  recover::RecoveredFile file;
  file.number = 2;
  file.name = scanned.rows[1].name;
  file.path = "C:\\out\\" + file.name;
  file.bytes = 12345;
  file.sha256 = std::string(64, 'a');
  file.unreadable = {{10, 2}};
  report.files.push_back(file);

  const auto back = parse_scan_report(scan_report_json(report));
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(back->source, report.source);
  EXPECT_EQ(back->sectors, report.sectors);
  EXPECT_EQ(back->signature_sector, report.signature_sector);
  EXPECT_EQ(back->unreadable, report.unreadable);
  EXPECT_EQ(back->image_hashes, report.image_hashes);
  EXPECT_EQ(back->scan_position, report.scan_position);
  ASSERT_EQ(back->clips.size(), report.clips.size());
  for (std::size_t i = 0; i < report.clips.size(); ++i) {
    const ClipRow& a = back->clips[i];
    const ClipRow& b = report.clips[i];
    EXPECT_EQ(std::tie(a.number, a.channel, a.start, a.size_mb, a.name, a.blocks, a.first_sector, a.closed),
              std::tie(b.number, b.channel, b.start, b.size_mb, b.name, b.blocks, b.first_sector, b.closed));
    EXPECT_EQ(a.runs, b.runs);
  }
  ASSERT_TRUE(back->fingerprint);
  EXPECT_EQ(back->fingerprint->first_block_sha256, report.fingerprint->first_block_sha256);
  ASSERT_EQ(back->files.size(), 1u);
  EXPECT_EQ(back->files[0].path, file.path);
  EXPECT_EQ(back->files[0].unreadable, file.unreadable);

  EXPECT_EQ(check_source(*scanned.source, back.value()), "");
  EXPECT_EQ(select_clips(back.value(), {3, 1})->at(0).number, 3);
  EXPECT_EQ(select_clips(back.value(), {}).value().size(), report.clips.size());
  EXPECT_EQ(select_clips(back.value(), {99}).error(), "没有编号为 99 的片段");
}

TEST(ScanReport, ReportWithoutFingerprintCanBeReadButNotMatched) {
  // As the CLI wrote reports before the fingerprint existed.
  const char* old =
      "{\"source\": \"a.img\", \"sectors\": 8192, \"signature_sector\": null, \"complete\": true, "
      "\"unreadable\": [], \"clips\": [{\"number\": 1, \"channel\": \"01\", \"start\": \"2023-01-02 03-01-00\", "
      "\"size_mb\": 0, \"name\": \"x.264\", \"blocks\": 5, \"first_sector\": 0, \"closed\": true, "
      "\"runs\": [[0, 1], [512, 4]]}]}\n";
  const auto report = parse_scan_report(old);
  ASSERT_TRUE(report) << report.error();
  EXPECT_FALSE(report->fingerprint);
  EXPECT_EQ(report->clips[0].runs[1], (scanner::BlockRun{512, 4}));
  MemorySource source(8192);
  EXPECT_NE(check_source(source, report.value()).find("没有源介质的指纹"), std::string::npos);
}

TEST(ScanReport, InconsistentReportsAreRefusedWithWhatIsWrong) {
  const std::string clip =
      "{\"number\": 1, \"channel\": \"01\", \"start\": \"s\", \"size_mb\": 0, \"name\": \"x\", \"blocks\": 2, "
      "\"first_sector\": 0, \"closed\": true, \"runs\": RUNS}";
  auto doc = [&](const std::string& runs, const std::string& extra = "") {
    std::string c = clip;
    c.replace(c.find("RUNS"), 4, runs);
    return "{\"source\": \"a\", \"sectors\": 100, \"signature_sector\": null, \"complete\": true, "
           "\"unreadable\": [], \"clips\": [" + c + "]" + extra + "}";
  };
  ASSERT_TRUE(parse_scan_report(doc("[[0, 2]]")));
  struct Case {
    std::string text;
    const char* error;
  };
  const Case cases[] = {
      {doc("[[0, 1]]"), "块数与块列表不符"},
      {doc("[[128, 2]]"), "首扇区与块列表不符"},
      {doc("[[0, 0]]"), "数对无效"},
      {doc("[[0, 2, 3]]"), "应为数对"},
      {doc("[[-1, 2]]"), "数对无效"},
      {doc("[[0, 2]]", ", \"files\": {}"), "files"},
      {doc("[[0, 2]]", ", \"scan_position\": 101"), "scan_position"},
      {doc("[[0, 2]]", ", \"scan_position\": \"9\""), "scan_position"},
      {doc("[[0, 2]]", ", \"signature_sha256\": \"abc\""), "散列值无效"},
      {doc("[[0, 2]]", ", \"signature_sha256\": \"" + std::string(64, 'f') + "\""), "签名扇区与其散列值不符"},
      {"{\"source\": \"a\"}", "sectors"},
      {"[]", "应为 JSON 对象"},
      {"{\"source\": 1", "JSON 第 1 行"},
  };
  for (const auto& c : cases) {
    const auto r = parse_scan_report(c.text);
    ASSERT_FALSE(r) << c.text;
    EXPECT_NE(r.error().find(c.error), std::string::npos) << c.text << " -> " << r.error();
  }
}

TEST(ScanReport, ChangedSourceIsRefusedSayingWhatDiffers) {
  Scanned scanned;
  const ScanReport report = scanned.report();
  ASSERT_GE(report.clips.size(), 2u);

  MemorySource longer(8200);
  EXPECT_NE(check_source(longer, report).find("扇区数不同：报告为 8192，源介质为 8200"), std::string::npos);

  // One byte changed in the second clip's first block.
  const ClipRow& second = report.clips[1];
  const uint8_t x = 0x5a;
  scanned.source->write(second.first_sector * 512 + 1000, {&x, 1});
  const std::string message = check_source(*scanned.source, report);
  EXPECT_NE(message.find("片段 " + std::to_string(second.number) + "（" + second.name + "）首块"), std::string::npos)
      << message;
  EXPECT_EQ(message.find("片段 " + std::to_string(report.clips[0].number) + "（"), std::string::npos) << message;

  // Unreadable sectors count as zeros, the same at scan time and now.
  Scanned bad;
  bad.source->fail_sector(bad.rows[0].first_sector + 3);
  const ScanReport with_bad = bad.report();
  EXPECT_EQ(check_source(*bad.source, with_bad), "");
}

TEST(Verify, SourceAndFilesAgainstTheReport) {
  Scanned scanned;
  ScanReport report = scanned.report();
  test::TempDir dir;
  for (const auto& row : report.clips) {
    const auto done = recover::recover_clip(*scanned.source, row, dir.path.string());
    ASSERT_TRUE(done.ok) << done.error;
    report.files.push_back(done.file);
    // The digest of the clip read from the source is the file's.
    EXPECT_EQ(hash_clip(*scanned.source, row.runs).sha256, done.file.sha256);
  }
  auto source_check = verify_source(*scanned.source, report);
  EXPECT_TRUE(source_check.ok()) << (source_check.mismatches.empty() ? source_check.error : source_check.mismatches[0]);
  EXPECT_EQ(source_check.checked, report.clips.size());
  auto file_check = verify_files(dir.path.string(), report);
  EXPECT_TRUE(file_check.ok());
  EXPECT_EQ(file_check.checked, report.files.size());

  // A byte changed deep inside the last clip (not in its first block), one
  // file altered and one removed.
  const ClipRow& last = report.clips.back();
  const uint8_t x = 1;
  scanned.source->write((last.runs.back().first_sector + 128 * (last.runs.back().blocks - 1)) * 512 + 7, {&x, 1});
  source_check = verify_source(*scanned.source, report);
  ASSERT_EQ(source_check.mismatches.size(), 1u);
  EXPECT_NE(source_check.mismatches[0].find("片段 " + std::to_string(last.number)), std::string::npos);
  std::ofstream(native_path(report.files[0].path), std::ios::app) << "x";
  std::filesystem::remove(native_path(report.files[1].path));
  file_check = verify_files(dir.path.string(), report);
  ASSERT_EQ(file_check.mismatches.size(), 2u);
  EXPECT_NE(file_check.mismatches[0].find(report.files[0].name), std::string::npos);
  EXPECT_NE(file_check.mismatches[1].find("文件不存在"), std::string::npos);

  // A stop ends the check without a verdict.
  VerifyOptions stop;
  stop.stop = [] { return true; };
  EXPECT_TRUE(verify_source(*scanned.source, report, stop).stopped);

  ScanReport empty;
  EXPECT_FALSE(verify_files(dir.path.string(), empty).error.empty());
  EXPECT_FALSE(verify_source(*scanned.source, empty).error.empty());
}

}  // namespace
}  // namespace clip::report
