// Saved scans, evidence files and mapfiles in the main window: a scan saved
// and loaded into a new window shows the same list, check states and status;
// a report of another source is refused with the reason; an evidence file
// opens as an image with its acquisition hashes logged; a mapfile beside an
// image makes its holes unreadable without reading them.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/main_window.h"
#include "app/no_drives.h"
#include "app/scan_image.h"
#include "recover/temp_folder.h"
#include "report/scan_report.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "ui/message_pump.h"
#include "ui/wide.h"

namespace {

using clip::test::pump_until;

// Hands out the source with one byte changed in `sector`, as a disk that is
// not the one the report was made from.
class AlteredSource final : public clip::sources::BlockSource {
 public:
  AlteredSource(std::unique_ptr<clip::sources::BlockSource> inner, int64_t sector)
      : inner_(std::move(inner)), sector_(sector) {}
  int64_t sector_count() const override { return inner_->sector_count(); }
  clip::sources::ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    clip::sources::ReadResult result = inner_->read_sectors(first, count, buffer);
    const int64_t read = static_cast<int64_t>(result.bytes / clip::sources::kSectorBytes);
    if (sector_ >= first && sector_ < first + read) buffer[(sector_ - first) * clip::sources::kSectorBytes + 7] ^= 0x5A;
    return result;
  }

 private:
  std::unique_ptr<clip::sources::BlockSource> inner_;
  int64_t sector_;
};

std::string temp_name(const wchar_t* prefix) {
  wchar_t dir[MAX_PATH], unique[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  if (!GetTempFileNameW(dir, prefix, 0, unique)) return {};
  return ui::narrow(unique);
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(std::filesystem::path(ui::widen(path)), std::ios::binary);
  out << text;
  return static_cast<bool>(out.flush());
}

class SavedScan : public clip::test::VariedImageTest {
 protected:
  void SetUp() override {
    report_ = temp_name(L"rep");
    ASSERT_FALSE(report_.empty());
    // Both file dialogs answer with the report's name and say which one asked.
    ui::OpenDialog::set_runner([this](ui::OpenDialog& dialog, HWND) -> std::optional<std::string> {
      dialogs_.push_back(dialog.save ? "save" : "open");
      filters_.push_back(dialog.filter);
      return report_;
    });
    VariedImageTest::SetUp();
  }
  void TearDown() override {
    VariedImageTest::TearDown();
    ui::OpenDialog::set_runner(nullptr);
    DeleteFileW(ui::widen(report_).c_str());
  }

  void scan(const std::string& path) {
    form_->TreeView1->select(form_->load_image(path));
    command(form_->S1);
    ASSERT_TRUE(wait_idle());
  }

  // Everything the list and the status bar show, check states included,
  // but the end times of closed clips, which the window works out when it
  // shows them.
  std::vector<std::string> shown() {
    std::vector<std::string> out;
    for (int i = 0; i < form_->ListView1->row_count(); ++i) {
      std::string line(form_->ListView1->checked(i) ? "[x]" : "[ ]");
      for (int c = 0; c < 6; ++c) {
        if (c == 3 && form_->row(i).closed) continue;  // end times come on demand, not from the scan
        line.push_back('\t');
        line.append(form_->ListView1->text(i, c));
      }
      out.push_back(line);
    }
    out.push_back(std::string("status\t").append(form_->StatusBar1->panel_text(0)));
    out.push_back(std::string("bar\t")
                      .append(std::to_string(form_->ProgressBar1->position()))
                      .append("/")
                      .append(std::to_string(form_->ProgressBar1->max())));
    return out;
  }
  std::string read_report() { return clip::test::read_file(std::filesystem::path(ui::widen(report_))); }

  std::string report_;
  std::vector<std::string> dialogs_, filters_;
};

// A scan saved and loaded into a new window: the same rows, check states,
// status text and bar; the rows keep their blocks, so a clip recovers from
// them; the saved file is the report the command-line tool reads back.
TEST_F(SavedScan, ALoadedScanShowsWhatTheScanShowedAndRecovers) {
  scan(image_);
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  const std::vector<std::string> after_scan = shown();
  ASSERT_GT(form_->ListView1->row_count(), 50);
  std::vector<clip::scanner::ClipRow> rows;
  for (int i = 0; i < form_->ListView1->row_count(); ++i) rows.push_back(form_->row(i));

  command(form_->N18);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(dialogs_, std::vector<std::string>{"save"});
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_TRUE(logged("扫描结果已保存到 " + report_));
  auto saved = clip::report::parse_scan_report(read_report());
  ASSERT_TRUE(saved) << saved.error();
  EXPECT_TRUE(saved->fingerprint.has_value());
  EXPECT_TRUE(saved->complete);
  EXPECT_EQ(saved->source, image_);
  ASSERT_EQ(saved->clips.size(), rows.size());

  // The list as it was before the save: saving changes nothing on screen.
  EXPECT_EQ(shown(), after_scan);

  open_window();
  form_->TreeView1->select(form_->load_image(image_));
  command(form_->N19);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_EQ(dialogs_.back(), "open");
  EXPECT_EQ(filters_.back(), app::TForm1::kReportFilter);
  EXPECT_EQ(shown(), after_scan);
  ASSERT_EQ(form_->ListView1->row_count(), static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(form_->row(static_cast<int>(i)).runs, rows[i].runs) << i;
    EXPECT_EQ(form_->row(static_cast<int>(i)).closed, rows[i].closed) << i;
  }
  EXPECT_TRUE(logged("已载入扫描结果：" + report_ + "，共 " + std::to_string(rows.size()) + " 个片段"));

  const clip::testing::TempFolder out;
  form_->choose_folder = [&] { return std::optional<std::string>(out.str()); };
  form_->choose_mp4 = [] { return std::optional<bool>(false); };
  form_->ListView1->set_checked(1, true);
  command(form_->N16);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_TRUE(logged("恢复完成：1/1 个文件")) << form_->Memo1->lines().back();

  // Saved again from the loaded list, the report is the same document.
  DeleteFileW(ui::widen(report_).c_str());
  command(form_->N18);
  ASSERT_TRUE(wait_idle());
  auto again = clip::report::parse_scan_report(read_report());
  ASSERT_TRUE(again) << again.error();
  EXPECT_EQ(clip::report::scan_report_json(again.value()), clip::report::scan_report_json(saved.value()));
}

// A stopped scan has no fingerprint yet; saving reads it, and the report
// loads with the rows and status text the stopped scan left (Stop sweeps the
// bar, so the bar is not compared).
TEST_F(SavedScan, AStoppedScanIsSavedWithItsFingerprint) {
  form_->TreeView1->select(form_->load_image(image_));
  command(form_->S1);
  ASSERT_TRUE(pump_until([this] { return form_->ListView1->row_count() > 20 || !form_->busy(); }, 60000));
  command(form_->N2);
  ASSERT_TRUE(wait_idle());
  std::vector<std::string> after_scan = shown();
  after_scan.pop_back();
  command(form_->N18);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  auto saved = clip::report::parse_scan_report(read_report());
  ASSERT_TRUE(saved) << saved.error();
  EXPECT_TRUE(saved->fingerprint.has_value());

  open_window();
  form_->TreeView1->select(form_->load_image(image_));
  command(form_->N19);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  std::vector<std::string> loaded = shown();
  loaded.pop_back();
  EXPECT_EQ(loaded, after_scan);
}

// The report checked against a source whose clip differs in one byte: a box
// says why, and the list stays as it was. Nothing to save before a scan.
TEST_F(SavedScan, AReportOfAnotherSourceIsRefusedWithTheReason) {
  command(form_->N18);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("没有可保存的扫描结果"), std::string::npos) << boxes_[0];
  EXPECT_TRUE(dialogs_.empty());
  boxes_.clear();

  scan(image_);
  command(form_->N18);
  ASSERT_TRUE(wait_idle());
  auto saved = clip::report::parse_scan_report(read_report());
  ASSERT_TRUE(saved) << saved.error();
  const clip::scanner::ClipRow third = saved->clips.at(2);

  open_window();
  form_->open_source = [&](const std::string& path, int64_t sectors) {
    clip::sources::OpenResult opened = clip::sources::open_block_source(path, sectors);
    if (opened.source) opened.source = std::make_unique<AlteredSource>(std::move(opened.source), third.first_sector + 3);
    return opened;
  };
  form_->TreeView1->select(form_->load_image(image_));
  command(form_->N19);
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(pump_until([&] { return !boxes_.empty(); }));
  EXPECT_NE(boxes_[0].find("源介质与扫描报告不符"), std::string::npos) << boxes_[0];
  EXPECT_NE(boxes_[0].find("片段 " + std::to_string(third.number) + "（"), std::string::npos) << boxes_[0];
  EXPECT_EQ(form_->ListView1->row_count(), 0);
  EXPECT_TRUE(logged("扫描结果未载入："));

  // A file that is no report: said at once, nothing read.
  boxes_.clear();
  ASSERT_TRUE(write_file(report_, "{\"source\": 1}"));
  command(form_->N19);
  EXPECT_FALSE(form_->busy());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("无法载入扫描结果"), std::string::npos) << boxes_[0];
}

// The mapfile beside an image is said in the log when the image is loaded;
// the scan treats its holes as unreadable, and the saved report lists them.
// A malformed mapfile keeps the image out, naming its line.
TEST_F(SavedScan, AMapfileBesideTheImageMakesItsHolesUnreadable) {
  const clip::imagegen::ImageSpec plan = clip::test::varied_scan_spec();
  const int64_t hole = plan.first_sector + 7 * clip::imagegen::kBlockSectors + 20;
  const std::string map = image_ + ".map";
  auto bytes = [](int64_t sectors) { return std::to_string(sectors * 512); };
  ASSERT_TRUE(write_file(map, "# mapfile\n0 + 1\n0 " + bytes(hole) + " +\n" + bytes(hole) + " " + bytes(8) + " -\n" +
                                  bytes(hole + 8) + " " + bytes(plan.sectors - hole - 8) + " +\n"));
  struct Remove {
    std::string path;
    ~Remove() { DeleteFileW(ui::widen(path).c_str()); }
  } remove{map};

  scan(image_);
  EXPECT_TRUE(logged("映射文件 " + map + "（镜像旁的同名文件）：8 个扇区（1 段）未复制，按无法读取处理，不读取"));
  EXPECT_TRUE(logged(clip::scanner::unreadable_line({hole, 8})));
  command(form_->N18);
  ASSERT_TRUE(wait_idle());
  auto saved = clip::report::parse_scan_report(read_report());
  ASSERT_TRUE(saved) << saved.error();
  EXPECT_EQ(saved->unreadable, (std::vector<clip::scanner::SectorRange>{{hole, 8}}));

  open_window();
  ASSERT_TRUE(write_file(map, "# mapfile\n0 + 1\n0 " + bytes(hole) + " +\n" + bytes(hole) + " 12 x\n"));
  EXPECT_THROW(form_->load_image(image_), std::runtime_error);
  EXPECT_TRUE(logged("映射文件无法使用："));
  EXPECT_TRUE(logged("映射文件第 4 行")) << form_->Memo1->lines().back();
}

// An evidence file made by the acquisition tool (the report tests' fixture)
// opens through the image dialog as an image of its media's sectors, its
// stored hashes in the log; a set missing a segment is refused with the reason.
TEST_F(SavedScan, AnEvidenceFileOpensAsAnImageWithItsHashes) {
  const char* dir = std::getenv("CLIPSALVAGE_EVIDENCE_DIR");
  if (!dir || !*dir) GTEST_SKIP() << "CLIPSALVAGE_EVIDENCE_DIR is not set (made by the evidence fixture)";
  const std::string root = dir;
  std::istringstream hashes(clip::test::read_file(std::filesystem::path(ui::widen(root + "/hashes.txt"))));
  std::string md5, sha1;
  hashes >> md5 >> sha1;
  ASSERT_EQ(sha1.size(), 40u);

  const std::string evidence = root + "/证据/ev.E01";
  ui::OpenDialog::set_runner([&](ui::OpenDialog& dialog, HWND) -> std::optional<std::string> {
    filters_.push_back(dialog.filter);
    return evidence;
  });
  command(form_->N12);
  ASSERT_EQ(filters_.size(), 1u);
  EXPECT_NE(filters_[0].find("|E01 证据文件(*.E01)|*.E01|"), std::string::npos) << filters_[0];
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_TRUE(logged("已载入镜像文件：" + evidence + "，共 6272 个扇区"));
  EXPECT_TRUE(logged("采集时记录的散列值 MD5 " + md5 + "，SHA-1 " + sha1));
  const std::vector<HTREEITEM> nodes = form_->TreeView1->flat_nodes();
  const auto node = std::find_if(nodes.begin(), nodes.end(),
                                 [&](HTREEITEM n) { return form_->TreeView1->text(n) == evidence; });
  ASSERT_NE(node, nodes.end());
  form_->TreeView1->select(*node);
  EXPECT_EQ(form_->current_source().sectors, 6272);

  EXPECT_THROW(form_->load_image(root + "/missing/ev.E01"), std::runtime_error);
  EXPECT_TRUE(logged("无法打开证据文件：" + root + "/missing/ev.E01（"));
}

}  // namespace
