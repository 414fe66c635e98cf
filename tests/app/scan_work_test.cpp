// Scans and recoveries on their worker thread, seen from the main window:
// the same rows, lines and status as the scan in the command handler gave,
// stopped scans and their rows, reads that hold on, the window going while
// work runs, the rate of unreadable-range lines, and what the recovery log
// says for each outcome of a clip.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/gated_source.h"
#include "app/main_form.h"
#include "app/main_window.h"
#include "app/no_drives.h"
#include "app/scan_before.h"
#include "app/scan_image.h"
#include "app/sparse_image.h"
#include "recover/temp_folder.h"
#include "app/unreadable_log.h"
#include "sources/memory_source.h"
#include "ui/message_pump.h"
#include "ui/wide.h"

namespace {

using clip::scanner::ClipRow;
using clip::test::pump_until;

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

class ScanWork : public clip::test::VariedImageTest {
 protected:
  void scan(const std::string& path) {
    form_->TreeView1->select(form_->load_image(path));
    SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  }
  // Scans through a gate that lets `reads` reads pass, then holds.
  std::shared_ptr<clip::test::Gate> gate_reads(int64_t reads) {
    auto gate = std::make_shared<clip::test::Gate>();
    gate->allow(reads);
    form_->open_source = [gate](const std::string& path, int64_t sectors) {
      clip::sources::OpenResult opened = clip::sources::open_block_source(path, sectors);
      if (opened.source) opened.source = std::make_unique<clip::test::GatedSource>(std::move(opened.source), gate);
      return opened;
    };
    return gate;
  }
  std::vector<std::string> row_texts() {
    std::vector<std::string> out;
    for (int i = 0; i < form_->ListView1->row_count(); ++i) {
      std::string line = "row";
      for (int c = 0; c < 6; ++c) {
        line += '\t';
        line += form_->ListView1->text(i, c);
      }
      out.push_back(line);
    }
    return out;
  }
  std::vector<std::string> log_since(size_t first) {
    const std::vector<std::string> lines = form_->Memo1->lines();
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())),
                                    lines.end());
  }

};

// What the window shows after a scan is what it showed when the scan ran in
// the command handler (kScanBefore), with the changes made on purpose: clips
// still open at the end say "未结束", and the log names the image as chosen.
// The log is also exactly what the scanner reports for the image, so a line
// lost, doubled or reordered on its way through the worker shows.
TEST_F(ScanWork, ScanShowsTheSameRowsLinesAndStatusAsBefore) {
  form_->TreeView1->select(form_->load_image(image_));
  const size_t first = form_->Memo1->lines().size();
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();

  std::vector<std::string> rows, lines;
  std::string status, bar;
  for (std::string line : split_lines(clip::test::kScanBefore)) {
    replace_all(line, "\\\\?\\<IMAGE>", image_);
    if (line.rfind("row\t", 0) == 0) rows.push_back(line);
    else if (line.rfind("log\t", 0) == 0) lines.push_back(line.substr(4));
    else if (line.rfind("status\t", 0) == 0) status = line.substr(7);
    else if (line.rfind("bar\t", 0) == 0) bar = line.substr(4);
  }
  ASSERT_EQ(form_->ListView1->row_count(), static_cast<int>(rows.size()));
  int open = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (form_->row(static_cast<int>(i)).closed) continue;
    ++open;
    // "row", number, channel, start, end time: the fifth field.
    size_t at = 0;
    for (int field = 0; field < 4; ++field) at = rows[i].find('\t', at) + 1;
    ASSERT_EQ(rows[i][at], '\t') << rows[i];
    rows[i].insert(at, "未结束");
  }
  EXPECT_EQ(open, 6) << "one clip of each channel is open at the end";
  EXPECT_EQ(row_texts(), rows);
  EXPECT_EQ(form_->StatusBar1->panel_text(0), status);
  EXPECT_EQ(std::to_string(form_->ProgressBar1->position()) + "/" + std::to_string(form_->ProgressBar1->max()), bar);

  // The scanner's own account of the same image, on this thread.
  std::vector<std::string> reported;
  std::vector<ClipRow> reported_rows;
  clip::scanner::ScanCallbacks callbacks;
  callbacks.log = [&](const std::string& line) { reported.push_back(line); };
  callbacks.row = [&](const ClipRow& row) { reported_rows.push_back(row); };
  clip::scanner::ScanOptions options;
  options.device_path = image_;
  clip::sources::OpenResult opened =
      clip::sources::open_block_source(clip::sources::image_device_path(image_));
  ASSERT_TRUE(opened.source) << opened.error;
  clip::scanner::scan(*opened.source, options, callbacks);
  const std::vector<std::string> shown = log_since(first);
  EXPECT_EQ(shown, reported);
  ASSERT_EQ(reported_rows.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(form_->row(static_cast<int>(i)).runs, reported_rows[i].runs) << i;
  // The lines of before keep their order among them.
  auto at = shown.begin();
  for (const std::string& line : lines) {
    at = std::find(at, shown.end(), line);
    ASSERT_NE(at, shown.end()) << line;
  }
}

// A scan stopped while its read is held: Stop cancels the read, the clips
// open at that moment are listed as "未结束", and a rescan of the same image
// replaces those rows instead of adding to them.
TEST_F(ScanWork, StoppedScanListsOpenClipsAsUnfinishedAndARescanReplacesThem) {
  auto gate = gate_reads(12);
  scan(image_);
  ASSERT_TRUE(pump_until([&] { return gate->holding(); }, 20000));
  ASSERT_TRUE(pump_until([&] { return form_->ListView1->row_count() > 0; }, 5000)) << "rows come while the scan runs";
  SendMessageW(form_->handle(), WM_COMMAND, form_->N2->id(), 0);
  ASSERT_TRUE(wait_idle(10000));
  const int partial = form_->ListView1->row_count();
  ASSERT_GT(partial, 0);
  ASSERT_LT(partial, 87);
  int unfinished = 0;
  for (int i = 0; i < partial; ++i) {
    EXPECT_EQ(form_->ListView1->text(i, 0), std::to_string(i + 1));
    const bool closed = form_->row(i).closed;
    EXPECT_EQ(form_->ListView1->text(i, 3), closed ? "" : "未结束") << i;
    unfinished += closed ? 0 : 1;
  }
  EXPECT_GT(unfinished, 0);
  for (int i = partial - unfinished; i < partial; ++i) EXPECT_FALSE(form_->row(i).closed) << "the last rows are the open clips";
  EXPECT_EQ(form_->Memo1->lines().back(), clip::scanner::kDoneLine);

  form_->open_source = [](const std::string& path, int64_t sectors) {
    return clip::sources::open_block_source(path, sectors);
  };
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(form_->ListView1->row_count(), 87);
  EXPECT_EQ(form_->ListView1->text(0, 0), "1");
  EXPECT_EQ(form_->ListView1->text(86, 0), "87");
}

// A read that gives no way to the cancel (stuck in a driver): the window
// stops waiting for it after a bounded time, shows what was found and takes
// new commands; the form can go while that thread still waits.
TEST_F(ScanWork, AReadThatIgnoresTheCancelIsLetGo) {
  auto gate = gate_reads(12);
  gate->stubborn = true;
  scan(image_);
  ASSERT_TRUE(pump_until([&] { return gate->holding(); }, 20000));
  ASSERT_TRUE(pump_until([&] { return form_->ListView1->row_count() > 0; }, 5000));
  const auto stopped = std::chrono::steady_clock::now();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N2->id(), 0);
  ASSERT_TRUE(wait_idle(20000));
  const auto waited = std::chrono::steady_clock::now() - stopped;
  EXPECT_GE(waited, app::TForm1::kLetGoAfter) << "it waits for the cancel first";
  EXPECT_TRUE(gate->holding()) << "the read is still held";
  EXPECT_EQ(form_->Memo1->lines().back(), "源设备的读取没有响应，已不再等待：扫描已停止，列表不完整");
  EXPECT_GT(form_->ListView1->row_count(), 0);
  EXPECT_TRUE(boxes_.empty());

  // A second scan runs although the first thread still waits.
  form_->open_source = [](const std::string& path, int64_t sectors) {
    return clip::sources::open_block_source(path, sectors);
  };
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(form_->ListView1->row_count(), 87);

  // The form goes while a fresh scan's read is stuck: its destructor waits a
  // bounded time, not for the read.
  auto held = gate_reads(3);
  held->stubborn = true;
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(pump_until([&] { return held->holding(); }, 20000));
  const auto before = std::chrono::steady_clock::now();
  root_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(15));
  // Let both reads go; the threads end on their own.
  gate->release();
  held->release();
  EXPECT_TRUE(pump_until([&] { return !gate->holding() && !held->holding(); }, 10000));
}

// The window goes while a scan runs: the worker is stopped and ends with it.
TEST_F(ScanWork, TheWorkerEndsWhenTheWindowGoes) {
  auto gate = gate_reads(5);
  scan(image_);
  ASSERT_TRUE(pump_until([&] { return gate->holding(); }, 20000));
  root_.reset();
  EXPECT_FALSE(gate->holding()) << "the cancel ended the read";
  pump_until([] { return false; }, 50);
  EXPECT_TRUE(boxes_.empty());
}

// Tens of thousands of bad sectors must not become as many log lines: a
// bounded number a second, the rest counted in one line.
TEST_F(ScanWork, UnreadableRangesAreLoggedAtABoundedRate) {
  static constexpr int64_t kSectors = 128 * 2000;
  auto make_source = [] {
    auto source = std::make_unique<clip::sources::MemorySource>(kSectors);
    for (int64_t block = 0; block < 2000; block += 2) source->fail_sector(block * 128 + 5);
    return source;
  };
  form_->open_source = [make_source](const std::string&, int64_t) {
    return clip::sources::OpenResult{make_source(), {}};
  };
  auto source = make_source();
  clip::scanner::ScanCallbacks quiet;
  quiet.unreadable = [](const clip::scanner::SectorRange&) {};
  const clip::scanner::ScanResult result = clip::scanner::scan(*source, {}, quiet);
  ASSERT_EQ(result.unreadable.size(), 1000u);

  // The drive listed as a physical one: its record gives the path and size.
  static clip::sources::TDData record{"9", std::to_string(kSectors), "P"};
  HTREEITEM group = form_->TreeView1->children_of(nullptr).at(0);
  form_->TreeView1->select(form_->TreeView1->add(group, "fake", 1, &record, false));
  const size_t first = form_->Memo1->lines().size();
  const auto started = std::chrono::steady_clock::now();
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  int64_t shown = 0, counted = 0;
  for (const std::string& line : log_since(first)) {
    if (line.rfind("扇区 ", 0) == 0) ++shown;
    const std::string omitted = "……另有 ";
    if (line.rfind(omitted, 0) == 0) counted += std::stoll(line.substr(omitted.size()));
  }
  EXPECT_LE(shown, app::UnreadableLog::kLinesPerSecond * (static_cast<int64_t>(seconds) + 1));
  EXPECT_EQ(shown + counted, 1000) << "every range is either shown or counted";
  EXPECT_EQ(form_->Memo1->lines().back(), clip::scanner::kDoneLine);
}

TEST(UnreadableLog, PassesABoundedNumberASecondAndCountsTheRest) {
  using Clock = app::UnreadableLog::Clock;
  Clock::time_point now{};
  std::vector<std::string> out;
  app::UnreadableLog log([&](std::string line) { out.push_back(std::move(line)); }, 3, [&] { return now; });
  for (int64_t i = 0; i < 5; ++i) log.add({i * 10, 1});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2], clip::scanner::unreadable_line({20, 1}));
  now += std::chrono::milliseconds(999);
  log.add({50, 2});
  EXPECT_EQ(out.size(), 3u) << "still the same second";
  now += std::chrono::milliseconds(1);
  log.add({60, 1});
  // A new second: the count of what was left out comes first.
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[3], app::UnreadableLog::omitted_line(3));
  EXPECT_EQ(out[4], clip::scanner::unreadable_line({60, 1}));
  log.flush();
  EXPECT_EQ(out.size(), 5u) << "nothing left out since";
  for (int64_t i = 0; i < 4; ++i) log.add({100 + i, 1});
  log.flush();
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out.back(), app::UnreadableLog::omitted_line(2));
}

// The recovery's log line for each outcome of a clip, and its summary: an
// incomplete file counts as a failure; "已删除不完整的文件" only when the
// partial file was deleted; a folder that refuses a file (a full disk) ends
// the recovery with a box that gives the system's reason; a lost source ends
// it with the read error's box.
TEST_F(ScanWork, RecoveryLogSaysWhatHappenedToEachClip) {
  scan(image_);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(form_->ListView1->row_count(), 87);
  ASSERT_FALSE(form_->row(86).closed);
  for (int i : {0, 1, 86}) form_->ListView1->set_checked(i, true);
  const clip::testing::TempFolder out_folder;
  const std::string out = out_folder.str();
  form_->choose_folder = [&] { return std::optional<std::string>(out); };
  form_->choose_mp4 = [] { return std::optional<bool>(false); };
  using clip::recover::RecoverOutcome;
  using clip::recover::RecoverResult;
  std::vector<int64_t> asked;
  enum { outcomes, full_disk, lost_source } mode = outcomes;
  int64_t source_sectors = 0;
  form_->recover_one = [&](clip::sources::BlockSource&, const ClipRow& row, const std::string& folder,
                           const clip::recover::RecoverOptions& options) {
    asked.push_back(row.number);
    source_sectors = options.source_sectors;
    RecoverResult r;
    r.file.name = row.name;
    r.file.path = folder + "\\" + row.name;
    r.file.expected_bytes = 4096;
    if (mode == lost_source) {
      r.outcome = RecoverOutcome::incomplete;
      r.source_gone = true;
      r.error = clip::scanner::kReadErrorText;
      r.file.path = folder + "\\" + row.name + "-不完整.264";
      r.file.bytes = 512;
      return r;
    }
    if (mode == full_disk) {
      r.outcome = RecoverOutcome::failed;
      r.error = "写入文件出错 " + r.file.path + "：磁盘空间不足 (112)";
      r.file.partial_removed = true;
      return r;
    }
    switch (row.number) {
      case 1:
        r.outcome = RecoverOutcome::complete;
        r.ok = true;
        r.file.bytes = 4096;
        r.file.sha256 = "ab12";
        break;
      case 2:
        r.outcome = RecoverOutcome::incomplete;
        r.error = "源介质在扇区 9000 处已到尽头";
        r.file.path = folder + "\\" + row.name + "-不完整.264";
        r.file.bytes = 1024;
        break;
      default:
        r.outcome = RecoverOutcome::stopped;
        r.file.partial_removed = false;
        break;
    }
    return r;
  };
  size_t first = form_->Memo1->lines().size();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  const ClipRow &a = form_->row(0), &b = form_->row(1), &d = form_->row(86);
  EXPECT_EQ(log_since(first), (std::vector<std::string>{
                                  "开始恢复 3 个片段，保存到 " + out,
                                  out + "\\" + a.name + " 4096字节 SHA-256:ab12",
                                  b.name + " 不完整：" + out + "\\" + b.name + "-不完整.264 1024/4096字节，源介质在扇区 9000 处已到尽头",
                                  "已停止：" + d.name + " 未恢复完 (未结束)",
                                  "恢复完成：1/3 个文件，共4096字节，1 个失败或不完整，已停止",
                              }));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(source_sectors, form_->current_source().sectors)
      << "the recovery knows the size the scan saw";

  asked.clear();
  mode = full_disk;
  first = form_->Memo1->lines().size();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(asked, (std::vector<int64_t>{1})) << "nothing more is written to a folder that refused a file";
  ASSERT_TRUE(pump_until([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_[0], "恢复失败：写入文件出错 " + out + "\\" + a.name + "：磁盘空间不足 (112)");
  EXPECT_EQ(log_since(first), (std::vector<std::string>{
                                  "开始恢复 3 个片段，保存到 " + out,
                                  a.name + " 恢复失败：写入文件出错 " + out + "\\" + a.name +
                                      "：磁盘空间不足 (112)，已删除不完整的文件",
                                  "恢复完成：0/3 个文件，共0字节，1 个失败或不完整",
                              }));

  boxes_.clear();
  asked.clear();
  mode = lost_source;
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(asked, (std::vector<int64_t>{1})) << "nothing more is read from a lost source";
  ASSERT_TRUE(pump_until([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_[0], clip::scanner::kReadErrorText);
  EXPECT_EQ(form_->Memo1->lines().back(), "恢复完成：0/3 个文件，共0字节，1 个失败或不完整");
}

// An image cut short after its scan: the clip past the cut is not recovered
// whole, and the summary does not say it was.
TEST_F(ScanWork, RecoveryFromAnImageCutShortSaysSo) {
  int64_t sectors = 0;
  const std::string path = clip::test::write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  scan(path);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(form_->ListView1->row_count(), 2);
  {
    // Cut inside the second clip. The window may be reading the image for
    // the rows' end times meanwhile, so the file is shared.
    HANDLE file = CreateFileW(ui::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = (form_->row(1).first_sector + 3 * 128) * 512;
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
  }
  form_->N8Click();
  const clip::testing::TempFolder out_folder;
  const std::string out = out_folder.str();
  form_->choose_folder = [&] { return std::optional<std::string>(out); };
  form_->choose_mp4 = [] { return std::optional<bool>(false); };
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  const std::vector<std::string> lines = form_->Memo1->lines();
  EXPECT_EQ(lines[lines.size() - 2].rfind(form_->row(1).name + " 不完整：", 0), 0u) << lines[lines.size() - 2];
  EXPECT_EQ(lines.back().rfind("恢复完成：1/2 个文件", 0), 0u) << lines.back();
  // What was read is kept under a name that says so, never under the clip's.
  const auto exists = [&](const std::string& name) {
    return GetFileAttributesW(ui::widen(out + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  // (Both clips have the same name: the first takes it, the second would
  // have been numbered.)
  const std::string second = clip::recover::numbered_name(form_->row(1).name, 1);
  EXPECT_TRUE(exists(form_->row(0).name));
  EXPECT_FALSE(exists(second));
  EXPECT_FALSE(exists(second + ".part"));
  EXPECT_FALSE(exists(form_->row(1).name + ".part"));
  EXPECT_TRUE(exists(clip::recover::incomplete_name(form_->row(1).name, 0)));
  DeleteFileW(ui::widen(path).c_str());
}

}  // namespace
