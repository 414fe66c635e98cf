#include "app/main_form.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include <shlobj.h>

#include "app/unreadable_log.h"
#include "export/duration.h"
#include "export/mp4.h"
#include "recover/recover.h"
#include "report/files.h"
#include "scanner/scanner.h"
#include "skin/data/skin_win.h"
#include "sources/block_source.h"
#include "ui/resources.h"
#include "ui/system_error.h"
#include "ui/wide.h"

namespace app {

using clip::recover::RecoverOutcome;
using clip::recover::RecoverResult;
using clip::scanner::ClipRow;
using clip::sources::CatalogueEntry;
using clip::sources::TDData;

namespace {

// Posted by a worker when its job has ended.
constexpr UINT kWorkDone = WM_APP + 0x120;
constexpr UINT kEndsDone = WM_APP + 0x121;

constexpr const char* kBusyText = "正在扫描或恢复，请等待完成或先停止！";
constexpr const char* kOpenFailedText = "打开源设备出错！";
// The end-time column of a clip that was still open when the scan ended.
constexpr const char* kUnfinished = "未结束";

ui::ListView::Row list_row(const ClipRow& row, size_t index) {
  return {{std::to_string(row.number), row.channel, row.start, row.closed ? "" : kUnfinished,
           std::to_string(row.size_mb), ""},
          static_cast<LPARAM>(index),
          false};
}

// The log line of one clip's recovery, from what recover_clip answered.
std::string recover_line(const ClipRow& row, const RecoverResult& result) {
  const clip::recover::RecoveredFile& file = result.file;
  std::string line;
  switch (result.outcome) {
    case RecoverOutcome::complete:
      line = file.path + " " + std::to_string(file.bytes) + "字节 SHA-256:" + file.sha256;
      for (const clip::scanner::SectorRange& range : file.unreadable)
        line += " 无法读取扇区:" + std::to_string(range.first) + "+" + std::to_string(range.count);
      break;
    case RecoverOutcome::incomplete:
      line = row.name + " 不完整：" + file.path + " " + std::to_string(file.bytes);
      if (file.expected_bytes > 0) line += "/" + std::to_string(file.expected_bytes);
      line += "字节";
      if (!result.error.empty()) line += "，" + result.error;
      break;
    case RecoverOutcome::stopped:
    case RecoverOutcome::failed:
      line = result.outcome == RecoverOutcome::stopped ? "已停止：" + row.name + " 未恢复完"
                                                       : row.name + " 恢复失败：" + result.error;
      if (file.partial_removed) line += "，已删除不完整的文件";
      else if (result.outcome == RecoverOutcome::stopped && !result.error.empty()) line += "，" + result.error;
      break;
  }
  if (!row.closed) line += " (未结束)";
  return line;
}

// The log line of a clip's MP4, in the form of its .264's line.
std::string mp4_line(const ClipRow& row, const clip::video::Mp4Result& mp4) {
  if (mp4.outcome == clip::video::ExportOutcome::stopped) return "已停止：" + row.name + " 的 MP4 未导出完";
  if (!mp4.ok) return "片段 " + std::to_string(row.number) + " 的 MP4 导出失败：" + mp4.error;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", mp4.duration_s);
  return mp4.path + " " + std::to_string(mp4.bytes) + "字节 SHA-256:" + mp4.sha256 + " " + std::to_string(mp4.frames) +
         "帧 " + seconds + "秒";
}

// What a recovery did with its clips, and its log lines. Clips are finished
// on the writer's own thread, one after another, and the summary is written
// once they all were, so the counts need no lock beyond that order.
class RecoveryTally {
 public:
  RecoveryTally(Feed& feed, size_t clips) : feed_(feed), clips_(clips) {}

  void finished(const ClipRow& row, const RecoverResult& result) {
    feed_.line(recover_line(row, result));
    if (result.outcome == RecoverOutcome::complete || result.outcome == RecoverOutcome::incomplete)
      written.push_back({row, result});
    switch (result.outcome) {
      case RecoverOutcome::complete:
        ++complete_;
        bytes_ += result.file.bytes;
        return;
      case RecoverOutcome::stopped:
        stopped = true;
        return;
      case RecoverOutcome::incomplete:
        ++failed_;  // an incomplete file counts as a failure, whatever it holds
        return;
      case RecoverOutcome::failed:
        ++failed_;
        target_failure(result.error);
        return;
    }
  }
  // The folder refused a file (full, gone, failing): the next clips would
  // fare no better, so the recovery ends and the error box gives the reason.
  void target_failure(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (target_error_.empty()) target_error_ = why.empty() ? "写入文件出错" : why;
  }
  bool target_failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !target_error_.empty();
  }
  void summary() {
    std::string line = "恢复完成：" + std::to_string(complete_) + "/" + std::to_string(clips_) + " 个文件，共" +
                       std::to_string(bytes_) + "字节";
    if (failed_ > 0) line += "，" + std::to_string(failed_) + " 个失败或不完整";
    if (stopped) line += "，已停止";
    feed_.line(line);
    if (!target_error_.empty()) feed_.fail("恢复失败：" + target_error_);
  }

  // Writes the MP4 of every clip written (complete or kept incomplete),
  // after all of them: the .264 files are the evidence and come first.
  void export_mp4s(clip::sources::BlockSource& source, const std::string& folder) {
    uint64_t total = 0, before = 0;
    for (const auto& [row, result] : written) total += result.file.bytes;
    int made = 0;
    clip::video::ExportOptions options;
    options.stop = [this] { return feed_.stop_requested(); };
    options.progress = [&](uint64_t done, uint64_t) {
      feed_.progress(static_cast<int64_t>((before + done) / clip::sources::kSectorBytes),
                     static_cast<int64_t>(total / clip::sources::kSectorBytes));
    };
    for (const auto& [row, result] : written) {
      if (feed_.stop_requested()) {
        stopped = true;
        break;
      }
      const clip::video::Mp4Result mp4 = clip::video::export_recovered(
          source, row, result.file.path, result.outcome == RecoverOutcome::complete, folder, options);
      before += result.file.bytes;
      feed_.line(mp4_line(row, mp4));
      if (mp4.repaired) feed_.line(clip::video::repaired_line(mp4));
      if (mp4.ok) ++made;
      if (mp4.outcome == clip::video::ExportOutcome::stopped) {
        stopped = true;
        break;
      }
      if (mp4.source_gone) break;
    }
    feed_.line("MP4 导出完成：" + std::to_string(made) + "/" + std::to_string(written.size()) + " 个文件");
  }

  std::atomic<bool> stopped{false};
  std::vector<std::pair<ClipRow, RecoverResult>> written;  // in the order they were finished

 private:
  Feed& feed_;
  const size_t clips_;
  int complete_ = 0, failed_ = 0;
  uint64_t bytes_ = 0;
  std::mutex mutex_;
  std::string target_error_;
};

}  // namespace

// What a job hands back beyond rows and lines, taken once it has ended: the
// report of a scan (without its clips, which came as rows), or of a load.
// The end times a pass has worked out, by rows_ index, not yet shown.
struct TForm1::EndTimes {
  std::mutex mutex;
  std::vector<std::pair<size_t, std::string>> found;
};

struct TForm1::JobReport {
  std::mutex mutex;
  std::optional<clip::report::ScanReport> report;
  // Set by the GUI thread before the job starts: the source a load checks.
  std::string path, display;
};

TForm1::TForm1(ui::Component* owner, std::unique_ptr<clip::sources::DriveProbe> probe)
    : ui::Form(owner, "Form1"), probe_(std::move(probe)) {
  using L = MainFormLayout;
  caption = kCaption;
  client_width = L::kClientWidth;
  client_height = L::kClientHeight;

  // The skin's only message (an archive of an older format) goes through the
  // application's notifier like every other box.
  SkinData1.notifier = [](std::string_view message) {
    ui::Application::instance().message_box(std::string(message), "", MB_OK | MB_ICONWARNING);
  };
  SkinData1.apply_main_window_settings();
  if (!clip::skin::load_skin_stream_resource(SkinData1)) SkinData1.Active = false;

  MainMenu1 = make<ui::Menu>("MainMenu1");
  N1 = MainMenu1->add("N1", "文件(&F)");
  S1 = N1->add("S1", "扫描", "Alt+S");
  N2 = N1->add("N2", "停止", "Alt+T");
  N16 = N1->add("N16", "恢复", "Alt+R");
  N3 = N1->add("N3", "-");
  N4 = N1->add("N4", "退出", "Alt+E");
  N17 = N1->add("N17", "-");
  N18 = N1->add("N18", "保存扫描结果…");
  N19 = N1->add("N19", "载入扫描结果…");
  N5 = MainMenu1->add("N5", "编辑(&P)");
  N13 = N5->add("N13", "全部选择");
  N14 = N5->add("N14", "取消选择");
  N15 = N5->add("N15", "反向选择");
  A1 = MainMenu1->add("A1", "关于(&A)");
  menu = MainMenu1;

  PopupMenu1 = make<ui::PopupMenu>("PopupMenu1");
  N6 = PopupMenu1->add("N6", "恢复数据");
  N7 = PopupMenu1->add("N7", "-");
  N8 = PopupMenu1->add("N8", "全部选择");
  N9 = PopupMenu1->add("N9", "全部反选");
  N10 = PopupMenu1->add("N10", "取消选择");

  PopupMenu2 = make<ui::PopupMenu>("PopupMenu2");
  N11 = PopupMenu2->add("N11", "开始扫描");
  N12 = PopupMenu2->add("N12", "载入镜像");
  // The menu acts on the selected node, however it was reached.
  PopupMenu2->OnPopup = [this] {
    HTREEITEM node = TreeView1->selected();
    N11->set_enabled(node && TreeView1->data(node) != nullptr);
  };

  S1->OnClick = N11->OnClick = [this] { N11Click(); };
  N2->OnClick = [this] { N2Click(); };
  N4->OnClick = [this] { N4Click(); };
  N16->OnClick = N6->OnClick = [this] { N16Click(); };
  N13->OnClick = N8->OnClick = [this] { N8Click(); };
  N14->OnClick = N10->OnClick = [this] { N10Click(); };
  N15->OnClick = N9->OnClick = [this] { N9Click(); };
  N12->OnClick = [this] { N12Click(); };
  N18->OnClick = [this] { N18Click(); };
  N19->OnClick = [this] { N19Click(); };
  A1->OnClick = [this] {
    if (OnAbout) OnAbout();
  };

  ImageList1 = make<ui::ImageList>("ImageList1", 16, 16);
  // Eight 16 x 16 icons side by side; magenta is their transparent background.
  const ui::Bitmap icons = ui::load_bitmap_resource(L"TREEICONS");
  if (!icons.empty()) ImageList1->add_masked(icons, RGB(0xFF, 0x00, 0xFF));
  StartTimer = make<ui::Timer>("StartTimer");
  StartTimer->set_enabled(false);
  WorkTimer = make<ui::Timer>("WorkTimer");
  WorkTimer->set_enabled(false);
  WorkTimer->set_interval(kUpdateMilliseconds);
  WorkTimer->OnTimer = [this] { WorkTimerTick(); };
  EndTimer = make<ui::Timer>("EndTimer");
  EndTimer->set_interval(kEndMilliseconds);
  EndTimer->OnTimer = [this] { EndTimerTick(); };
  ends_ = std::make_shared<EndTimes>();
  on(kEndsDone, [this](ui::Message&) -> std::optional<LRESULT> {
    EndTimerTick();
    return 0;
  });
  on(kWorkDone, [this](ui::Message&) -> std::optional<LRESULT> {
    if (work_ && work_->finished()) end_work();
    return 0;
  });
  choose_mp4 = [] () -> std::optional<bool> {
    const int answer = ui::Application::instance().message_box(kMp4Question, "提示", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return std::nullopt;
    return answer == IDYES;
  };
  open_source = [](const std::string& path, int64_t sectors) {
    return clip::sources::open_block_source(path, sectors);
  };
  OpenDialog1 = make<ui::OpenDialog>("OpenDialog1");
  SaveDialog1 = make<ui::OpenDialog>("SaveDialog1");
  SaveDialog1->save = true;
  SaveDialog1->filter = kReportFilter;
  SaveDialog1->default_extension = "json";
  OpenDialog2 = make<ui::OpenDialog>("OpenDialog2");
  OpenDialog2->filter = kReportFilter;

  // Creation order decides the stacking: the bottom regions go up from the
  // bottom edge as status bar, log panel, splitter.
  Panel1 = make<ui::Panel>("Panel1");
  Panel1->align = ui::Align::top;
  Panel1->set_bounds(0, 0, L::kClientWidth, L::kBannerHeight);
  Panel1->set_parent(this);
  Image1 = make<ui::Image>("Image1");
  Image1->set_bounds(0, 0, L::kClientWidth, L::kBannerHeight);
  Image1->align = ui::Align::client;
  Image1->picture = ui::load_jpeg_resource(L"BANNER");
  Image1->set_parent(Panel1);

  StatusBar1 = make<ui::StatusBar>("StatusBar1");
  StatusBar1->align = ui::Align::bottom;
  StatusBar1->set_bounds(0, 0, L::kClientWidth, L::kStatusBarHeight);
  StatusBar1->set_parent(this);

  Panel2 = make<ui::Panel>("Panel2");
  Panel2->align = ui::Align::bottom;
  Panel2->set_bounds(0, 0, L::kClientWidth, L::kLogHeight);
  Panel2->set_parent(this);
  Memo1 = make<ui::Memo>("Memo1");
  Memo1->align = ui::Align::client;
  Memo1->set_parent(Panel2);
  ProgressBar1 = make<ui::ProgressBar>("ProgressBar1");
  ProgressBar1->set_parent(Panel2);

  Splitter2 = make<ui::Splitter>("Splitter2");
  Splitter2->align = ui::Align::bottom;
  Splitter2->set_bounds(0, 0, L::kClientWidth, L::kSplitter2Height);
  Splitter2->set_parent(this);

  TreeView1 = make<ui::TreeView>("TreeView1");
  TreeView1->align = ui::Align::left;
  TreeView1->set_bounds(0, 0, L::kTreeWidth, 0);
  TreeView1->swap_color(COLOR_BTNHIGHLIGHT);
  TreeView1->images = ImageList1->handle();
  TreeView1->popup_menu = PopupMenu2;
  TreeView1->OnChange = [this](HTREEITEM node) { TreeView1Change(node); };
  TreeView1->OnMouseDown = [this](UINT button, int x, int y) { TreeView1MouseDown(button, x, y); };
  // An image's path may be wider than the tree: its node shows it whole as a tip.
  TreeView1->OnInfoTip = [this](HTREEITEM node) {
    auto* record = static_cast<TDData*>(TreeView1->data(node));
    return record && record->Kind == "F" ? record->Path : std::string();
  };
  // The menu key and Shift+F10 (the point -1, -1) open the menu for the
  // selected node, even after a press on empty space removed it.
  TreeView1->on(WM_CONTEXTMENU, [this](ui::Message& m) -> std::optional<LRESULT> {
    if (m.lparam == -1) TreeView1->popup_menu = PopupMenu2;
    return std::nullopt;
  });
  TreeView1->set_parent(this);

  Splitter1 = make<ui::Splitter>("Splitter1");
  Splitter1->align = ui::Align::left;
  Splitter1->set_bounds(0, 0, L::kSplitter1Width, 0);
  Splitter1->set_parent(this);

  ListView1 = make<ui::ListView>("ListView1");
  ListView1->align = ui::Align::client;
  ListView1->columns = {{"序号", LVCFMT_LEFT, 50},       {"通道", LVCFMT_CENTER, 50},
                        {"开始时间", LVCFMT_CENTER, 120}, {"结束时间", LVCFMT_CENTER, 120},
                        {"文件大小(MB)", LVCFMT_CENTER, 100}, {"", LVCFMT_LEFT, 12}};
  ListView1->popup_menu = PopupMenu1;
  ListView1->on(ui::kReflectNotify, [this](ui::Message& m) -> std::optional<LRESULT> {
    const auto* header = reinterpret_cast<const NMHDR*>(m.lparam);
    if (header->code == NM_DBLCLK) {
      const int index = reinterpret_cast<const NMITEMACTIVATE*>(m.lparam)->iItem;
      if (index >= 0) ListView1DblClick(index);
    } else if (header->code == LVN_KEYDOWN && reinterpret_cast<const NMLVKEYDOWN*>(m.lparam)->wVKey == VK_RETURN) {
      const int index = ListView_GetNextItem(ListView1->handle(), -1, LVNI_FOCUSED);
      if (index >= 0) ListView1DblClick(index);
    }
    return std::nullopt;
  });
  ListView1->OnResize = [this] { ListView1Resize(); };
  ListView1->set_parent(this);
  tab_order = {TreeView1, ListView1, Memo1};
}

TForm1::~TForm1() {
  ends_work_.reset();
  work_.reset();
  destroy_components();
}

bool TForm1::create() {
  if (!ui::Form::create()) return false;
  FormCreate();
  return true;
}

void TForm1::FormCreate() {
  using L = MainFormLayout;
  StatusBar1->set_panels({{200, true, false, kReadyText}, {0, false, false, ""}, {50, false, false, ""}});
  ProgressBar1->set_range(0, 100);
  // The progress bar lives in panel 2 of the status bar, without its border.
  StatusBar1->set_owner_drawn(2);
  SetParent(ProgressBar1->handle(), StatusBar1->handle());
  ProgressBar1->set_parent(StatusBar1);
  const LONG_PTR ex = GetWindowLongPtrW(ProgressBar1->handle(), GWL_EXSTYLE);
  SetWindowLongPtrW(ProgressBar1->handle(), GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_STATICEDGE));
  SetWindowPos(ProgressBar1->handle(), nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOACTIVATE);
  StatusBar1->OnDrawPanel = [this](int panel, const RECT& rect) { StatusBar1DrawPanel(panel, rect); };
  // The bar reports the owner-drawn part's rectangle only when it paints, so
  // the first placement is made here from the same rectangle.
  RECT part{};
  SendMessageW(StatusBar1->handle(), SB_GETRECT, 2, reinterpret_cast<LPARAM>(&part));
  StatusBar1DrawPanel(2, part);
  TreeView_SetIndent(TreeView1->handle(), L::kTreeIndent);
  ListView1Resize();
  fill_catalogue();
}

void TForm1::fill_catalogue() {
  HTREEITEM images = TreeView1->add(nullptr, kImageGroup, clip::sources::kGroupImage, nullptr, true);
  (void)images;
  Memo1->add_line("正在获取逻辑驱动器......");
  HTREEITEM logical = TreeView1->add(nullptr, kLogicalGroup, clip::sources::kGroupImage, nullptr, true);
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (std::optional<CatalogueEntry> e = clip::sources::probe_logical(*probe_, letter)) {
      records_.push_back(e->record);
      TreeView1->add(logical, e->caption, e->image_index, &records_.back(), false);
    }
  }
  Memo1->add_line("正在获取物理驱动器......");
  HTREEITEM physical = TreeView1->add(nullptr, kPhysicalGroup, clip::sources::kGroupImage, nullptr, true);
  for (int number = 0; number <= 255; ++number) {
    if (std::optional<CatalogueEntry> e = clip::sources::probe_physical(*probe_, number)) {
      records_.push_back(e->record);
      TreeView1->add(physical, e->caption, e->image_index, &records_.back(), false);
    }
  }
  Memo1->add_line("程序启动完成！请选择驱动器进行扫描......");
  TreeView1->expand_all();
}

HTREEITEM TForm1::find_group(const char* text) {
  for (HTREEITEM node : TreeView1->flat_nodes())
    if (!TreeView1->data(node) && TreeView1->text(node) == text) return node;
  return nullptr;
}

bool TForm1::same_path(const std::string& a, const std::string& b) {
  // Whole paths, without regard to case, as Windows compares file names.
  const std::wstring wa = ui::widen(a), wb = ui::widen(b);
  return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                              TRUE) == CSTR_EQUAL;
}

void TForm1::N12Click() {
  OpenDialog1->filter = kImageFilter;
  HTREEITEM group = find_group(kImageGroup);
  if (group) TreeView1->select(group);
  if (!OpenDialog1->execute(handle())) return;
  load_image(OpenDialog1->file_name);
}

HTREEITEM TForm1::load_image(const std::string& chosen) {
  HTREEITEM group = find_group(kImageGroup);
  for (HTREEITEM node : TreeView1->flat_nodes()) {
    auto* record = static_cast<TDData*>(TreeView1->data(node));
    if (record && record->Kind == "F" && same_path(record->Path, chosen)) {
      TreeView1->select(node);
      return node;
    }
  }
  std::optional<CatalogueEntry> e;
  std::optional<clip::sources::EwfDetails> ewf;
  std::string refusal;
  if (clip::sources::is_ewf_path(chosen)) {
    // An evidence file's sectors are those of the media it holds, not of
    // its (compressed) segment files.
    clip::sources::OpenResult opened = open_source(clip::sources::image_device_path(chosen), -1);
    if (!opened.source) {
      refusal = "无法打开证据文件：" + chosen + "（" +
                open_failure_reason(opened.error, clip::sources::image_device_path(chosen)) + "）";
    } else {
      ewf = clip::sources::ewf_details(*opened.source);
      e = CatalogueEntry{TDData{chosen, std::to_string(opened.source->sector_count()), "F"}, chosen,
                         clip::sources::kImageFileImage};
    }
  } else if (!(e = clip::sources::probe_image(*probe_, chosen))) {
    // Ask the system why, with a read-only open that changes nothing.
    std::string reason;
    HANDLE file = CreateFileW(ui::widen(chosen).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) reason = ui::system_message(GetLastError());
    else CloseHandle(file);
    refusal = "无法打开镜像文件：" + chosen + (reason.empty() ? "" : "（" + reason + "）");
  } else if (clip::sources::parse_sectors(e->record.Sectors).value_or(0) == 0) {
    refusal = "镜像文件为空或不足一个扇区（512 字节），未载入：" + chosen;
  }
  std::optional<clip::report::SourceEvidence> evidence;
  if (refusal.empty()) {
    auto found = clip::report::source_evidence(chosen, clip::sources::parse_sectors(e->record.Sectors).value_or(0),
                                               ewf, "", true);
    if (found) evidence = std::move(found.value());
    else refusal = found.error() + "，未载入：" + chosen;
  }
  if (!refusal.empty()) {
    Memo1->add_line(refusal);
    throw std::runtime_error(refusal);
  }
  records_.push_back(e->record);
  HTREEITEM node = TreeView1->add(group, e->caption, e->image_index, &records_.back(), true);
  TreeView1->expand_all();
  Memo1->add_line("已载入镜像文件：" + chosen + "，共 " + e->record.Sectors + " 个扇区");
  Memo1->add_lines(evidence->lines);
  evidence_[clip::sources::image_device_path(chosen)] = std::move(*evidence);
  return node;
}

void TForm1::apply_start_options(const StartOptions& options) {
  ui::Application& app = ui::Application::instance();
  if (!options.error.empty()) app.message_box(options.error, "提示", MB_OK | MB_ICONWARNING);
  HTREEITEM first = nullptr;
  for (const std::string& path : options.images) {
    try {
      HTREEITEM node = load_image(path);
      if (!first) first = node;
    } catch (const std::exception& error) {
      app.handle_exception(error);
    }
  }
  if (!options.scan && !options.about) return;
  // The scan and the About window wait until the message loop runs, so the
  // window is on screen first; the timer fires once.
  StartTimer->set_interval(50);
  StartTimer->OnTimer = [this, first, options] {
    StartTimer->set_enabled(false);
    if (options.scan) {
      if (first) TreeView1->select(first);
      N11Click();
    }
    if (options.about && OnAbout) OnAbout();
  };
  StartTimer->set_enabled(true);
}

void TForm1::TreeView1Change(HTREEITEM node) {
  // A group node carries no record and leaves the current source as it was.
  auto* record = node ? static_cast<TDData*>(TreeView1->data(node)) : nullptr;
  if (!record) return;
  if (std::optional<clip::sources::CurrentSource> selected = clip::sources::select_source(*record)) {
    current_ = *selected;
    // Logs show an image as the user named it, not in its long-path form.
    current_display_ = record->Kind == "F" ? record->Path : current_.device_path;
  }
}

void TForm1::TreeView1MouseDown(UINT, int x, int y) {
  HTREEITEM node = TreeView1->node_at(x, y);
  if (!node) {
    TreeView1->popup_menu = nullptr;
    return;
  }
  N11->set_enabled(TreeView1->data(node) != nullptr);
  TreeView1->select(node);
  TreeView1->popup_menu = PopupMenu2;
}

bool TForm1::refuse_while_busy() {
  if (!busy()) return false;
  // One job at a time; the running one goes on while the box is open.
  ui::Application::instance().message_box(kBusyText, "提示", MB_OK | MB_ICONINFORMATION);
  return true;
}

std::string TForm1::open_failure_reason(const std::string& error, const std::string& path) {
  // The source's error names the path, then gives the system's words.
  if (error.rfind(path + ": ", 0) == 0) return error.substr(path.size() + 2);
  return error;
}

void TForm1::report_open_failure(const std::string& display, const std::string& error, const std::string& path) {
  const std::string reason = open_failure_reason(error, path);
  Memo1->add_line(std::string(kOpenFailedText) + display + (reason.empty() ? "" : "：" + reason));
  ui::Application::instance().message_box(std::string(kOpenFailedText) + (reason.empty() ? "" : "\n" + reason), "提示",
                                          MB_OK | MB_ICONERROR);
}

void TForm1::N11Click() {
  ui::Application& app = ui::Application::instance();
  if (refuse_while_busy()) return;
  if (current_.device_path.empty()) {
    app.message_box("请先选择源设备，再进行扫描！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  stop_flag_ = false;
  clip::sources::OpenResult opened = open_evidence(current_.device_path, current_.sectors);
  if (!opened.source) {
    report_open_failure(current_display_, opened.error, current_.device_path);
    return;
  }
  // The scan copies T: a selection during the scan changes only the next one.
  const int64_t total = current_.sectors;
  progress_scale_ = progress_scale(total);
  ProgressBar1->set_range(0, static_cast<int>(total >> progress_scale_));
  // Every scan starts a new list: a rescan of the same source replaces its
  // rows (a stopped scan's partial ones too), so no clip is listed twice.
  ListView1->clear();
  rows_.clear();
  list_replaced();
  scanned_path_ = current_.device_path;
  scanned_display_ = current_display_;
  scanned_sectors_ = total;
  scanned_report_.reset();
  scan_position_ = 0;

  clip::scanner::ScanOptions options;
  options.device_path = current_display_;
  options.first_number = 1;
  clip::report::ScanReport base;
  base.source = current_display_;
  base.sectors = total;
  if (auto it = evidence_.find(current_.device_path); it != evidence_.end()) base.image_hashes = it->second.hashes;
  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  auto report = std::make_shared<JobReport>();
  job_report_ = report;
  start_work(WorkKind::scan, source, [source, options, report, base](Feed& feed) {
    UnreadableLog unreadable([&feed](std::string line) { feed.line(std::move(line)); });
    clip::scanner::ScanCallbacks callbacks;
    callbacks.progress = [&feed](int64_t sector, int64_t sectors) { feed.progress(sector, sectors); };
    callbacks.stop_requested = [&feed] { return feed.stop_requested(); };
    callbacks.log = [&](const std::string& line) {
      unreadable.flush();
      feed.line(line);
    };
    std::vector<ClipRow> rows;
    callbacks.row = [&feed, &rows](const ClipRow& row) {
      rows.push_back(row);
      feed.row(row);
    };
    callbacks.unreadable = [&unreadable](const clip::scanner::SectorRange& range) { unreadable.add(range); };
    const clip::scanner::ScanResult result = clip::scanner::scan(*source, options, callbacks);
    unreadable.flush();
    if (result.end == clip::scanner::ScanEnd::failed || result.end == clip::scanner::ScanEnd::refused) {
      feed.fail(result.message.empty() ? clip::scanner::kReadErrorText : result.message);
      return;
    }
    clip::report::ScanReport done = base;
    done.signature_sector = result.signature_sector;
    done.complete = result.end == clip::scanner::ScanEnd::complete;
    done.unreadable = result.unreadable;
    // The fingerprint makes the report loadable later; a stopped scan goes
    // without it, and a save reads it then.
    done.fingerprint = clip::report::take_fingerprint(*source, result.signature_sector, rows,
                                                      [&feed] { return feed.stop_requested(); });
    std::lock_guard<std::mutex> lock(report->mutex);
    report->report = std::move(done);
  });
}

void TForm1::start_work(WorkKind kind, std::shared_ptr<clip::sources::BlockSource> source, Worker::Job job) {
  // The job has the disk to itself; the end times go on once it has ended.
  if (ends_work_) ends_work_->stop();
  work_kind_ = kind;
  work_ = std::make_unique<Worker>(std::move(source), std::move(job), handle(), kWorkDone);
  content_shown_ = {};
  WorkTimer->set_enabled(true);
}

void TForm1::apply(Batch batch) {
  if (!batch.rows.empty()) {
    std::vector<ui::ListView::Row> list;
    list.reserve(batch.rows.size());
    for (ClipRow& row : batch.rows) {
      list.push_back(list_row(row, rows_.size()));
      rows_.push_back(std::move(row));
    }
    ListView1->add_rows(std::move(list));
  }
  Memo1->add_lines(batch.lines);
  if (batch.progress) {
    const auto [position, total] = *batch.progress;
    if (work_kind_ == WorkKind::scan) {
      scan_position_ = position;
      show_scan_status(total);
    } else {
      ProgressBar1->set_position(static_cast<int>(position >> progress_scale(total)));
    }
  }
}

void TForm1::WorkTimerTick() {
  if (!work_) {
    WorkTimer->set_enabled(false);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const bool content = now - content_shown_ >= kContentInterval;
  if (content) content_shown_ = now;
  apply(work_->take(content));
  if (work_->finished()) {
    end_work();
  } else if (work_->stopping() && now - stop_asked_ >= kLetGoAfter) {
    // The job's read neither ended nor gave way to the cancel: the window
    // stops waiting and shows what was found; the thread ends when the
    // system lets its read go.
    WorkTimer->set_enabled(false);
    work_->let_go(std::chrono::milliseconds(0));
    apply(work_->take());
    work_.reset();
    job_report_.reset();
    const char* what = work_kind_ == WorkKind::scan      ? "扫描已停止，列表不完整"
                       : work_kind_ == WorkKind::recover ? "恢复已停止"
                       : work_kind_ == WorkKind::save    ? "扫描结果未保存"
                                                         : "扫描结果未载入";
    Memo1->add_line(std::string("源设备的读取没有响应，已不再等待：") + what);
  }
}

void TForm1::end_work() {
  WorkTimer->set_enabled(false);
  Batch batch = work_->take();
  work_->let_go(std::chrono::milliseconds(0));
  work_.reset();
  const std::string failure = std::move(batch.failure);
  apply(std::move(batch));
  std::optional<clip::report::ScanReport> report;
  std::string job_path, job_display;
  if (job_report_) {
    std::lock_guard<std::mutex> lock(job_report_->mutex);
    report = std::move(job_report_->report);
    job_path = job_report_->path;
    job_display = job_report_->display;
  }
  job_report_.reset();
  if (report) {
    switch (work_kind_) {
      case WorkKind::scan:
        scanned_report_ = std::move(report);
        break;
      case WorkKind::save:
        scanned_report_->fingerprint = std::move(report->fingerprint);
        write_scan_report(job_file_);
        break;
      case WorkKind::load:
        show_loaded(std::move(*report), job_file_, job_path, job_display);
        break;
      case WorkKind::recover:
        break;
    }
  } else if (work_kind_ == WorkKind::save && failure.empty()) {
    Memo1->add_line("已停止：扫描结果未保存");
  }
  // As a failure in a command handler: an error box from the message loop.
  if (!failure.empty()) ui::Application::instance().post_failure(failure);
}

void TForm1::show_scan_status(int64_t total) {
  ProgressBar1->set_position(static_cast<int>(scan_position_ >> progress_scale_));
  StatusBar1->set_panel_text(0, std::to_string(scan_position_) + "/" + std::to_string(total));
}

clip::sources::OpenResult TForm1::open_evidence(const std::string& path, int64_t sectors) {
  clip::sources::OpenResult opened = open_source(path, sectors);
  const auto it = evidence_.find(path);
  if (opened.source && it != evidence_.end())
    opened.source = clip::report::apply_evidence(std::move(opened.source), it->second);
  return opened;
}

void TForm1::N18Click() {
  ui::Application& app = ui::Application::instance();
  if (refuse_while_busy()) return;
  if (!scanned_report_) {
    app.message_box("没有可保存的扫描结果，请先扫描或载入扫描结果！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (!SaveDialog1->execute(handle())) return;
  const std::string path = SaveDialog1->file_name;
  if (scanned_report_->fingerprint) {
    write_scan_report(path);
    return;
  }
  // A stopped scan's report needs the fingerprint it went without, read
  // from the source the rows came from.
  clip::sources::OpenResult opened = open_evidence(scanned_path_, scanned_sectors_);
  if (!opened.source) {
    report_open_failure(scanned_display_, opened.error, scanned_path_);
    return;
  }
  Memo1->add_line("正在读取源设备上各片段的首块，用于保存扫描结果……");
  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  auto report = std::make_shared<JobReport>();
  job_report_ = report;
  job_file_ = path;
  start_work(WorkKind::save, source,
             [source, report, signature = scanned_report_->signature_sector,
              rows = std::vector<ClipRow>(rows_.begin(), rows_.end())](Feed& feed) {
               auto fingerprint = clip::report::take_fingerprint(*source, signature, rows,
                                                                 [&feed] { return feed.stop_requested(); });
               if (!fingerprint) {
                 if (!feed.stop_requested()) feed.fail("读取源设备出错，扫描结果未保存");
                 return;
               }
               clip::report::ScanReport done;
               done.fingerprint = std::move(fingerprint);
               std::lock_guard<std::mutex> lock(report->mutex);
               report->report = std::move(done);
             });
}

void TForm1::write_scan_report(const std::string& path) {
  ui::Application& app = ui::Application::instance();
  clip::report::ScanReport report = *scanned_report_;
  report.clips.assign(rows_.begin(), rows_.end());
  report.scan_position = scan_position_;
  const std::string text = clip::report::scan_report_json(report);
  // Written under a temporary name in the same folder and moved over the
  // chosen name once complete: a failed save leaves an older file whole.
  const std::wstring wide = ui::widen(path);
  const size_t slash = wide.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : wide.substr(0, slash + 1);
  wchar_t temporary[MAX_PATH];
  std::string failure;
  if (!GetTempFileNameW(folder.c_str(), L"csr", 0, temporary)) {
    failure = ui::system_message(GetLastError());
  } else {
    ui::unique_file file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.get())) {
      failure = ui::system_message(GetLastError());
    }
    file.reset();
    if (failure.empty() &&
        !MoveFileExW(temporary, wide.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      failure = ui::system_message(GetLastError());
    }
    if (!failure.empty()) DeleteFileW(temporary);
  }
  if (!failure.empty()) {
    Memo1->add_line("扫描结果保存失败：" + path + "：" + failure);
    app.message_box("扫描结果保存失败！\n" + failure, "提示", MB_OK | MB_ICONERROR);
    return;
  }
  Memo1->add_line("扫描结果已保存到 " + path + "，共 " + std::to_string(rows_.size()) + " 个片段");
}

void TForm1::N19Click() {
  ui::Application& app = ui::Application::instance();
  if (refuse_while_busy()) return;
  if (current_.device_path.empty()) {
    app.message_box("请先选择扫描结果所属的源设备，再载入扫描结果！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (!OpenDialog2->execute(handle())) return;
  const std::string path = OpenDialog2->file_name;
  auto loaded = clip::report::load_scan_report(path);
  if (!loaded) {
    Memo1->add_line("无法载入扫描结果：" + loaded.error());
    app.message_box("无法载入扫描结果！\n" + loaded.error(), "提示", MB_OK | MB_ICONERROR);
    return;
  }
  clip::sources::OpenResult opened = open_evidence(current_.device_path, current_.sectors);
  if (!opened.source) {
    report_open_failure(current_display_, opened.error, current_.device_path);
    return;
  }
  Memo1->add_line("正在核对源设备与扫描结果 " + path + " ……");
  stop_flag_ = false;
  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  auto report = std::make_shared<JobReport>();
  report->path = current_.device_path;
  report->display = current_display_;
  job_report_ = report;
  job_file_ = path;
  start_work(WorkKind::load, source, [source, report, path, doc = std::move(loaded.value())](Feed& feed) mutable {
    const std::string mismatch = clip::report::check_source(*source, doc, [&feed] { return feed.stop_requested(); });
    if (feed.stop_requested()) {
      feed.line("已停止：扫描结果未载入");
      return;
    }
    if (!mismatch.empty()) {
      feed.line("扫描结果未载入：" + mismatch);
      feed.fail(mismatch + "（扫描结果 " + path + "）");
      return;
    }
    std::lock_guard<std::mutex> lock(report->mutex);
    report->report = std::move(doc);
  });
}

void TForm1::show_loaded(clip::report::ScanReport report, const std::string& from, const std::string& path,
                         const std::string& display) {
  ListView1->clear();
  rows_.clear();
  list_replaced();
  std::vector<ui::ListView::Row> list;
  list.reserve(report.clips.size());
  for (ClipRow& row : report.clips) {
    list.push_back(list_row(row, rows_.size()));
    rows_.push_back(std::move(row));
  }
  ListView1->add_rows(std::move(list));
  report.clips.clear();
  scanned_path_ = path;
  scanned_display_ = display;
  scanned_sectors_ = report.sectors;
  // The check proved the report belongs to this source; saved again, it names it as chosen now.
  report.source = display;
  if (auto it = evidence_.find(path); it != evidence_.end() && !report.image_hashes)
    report.image_hashes = it->second.hashes;
  progress_scale_ = progress_scale(report.sectors);
  ProgressBar1->set_range(0, static_cast<int>(report.sectors >> progress_scale_));
  scan_position_ = report.scan_position.value_or(report.complete ? report.sectors : 0);
  show_scan_status(report.sectors);
  Memo1->add_line("已载入扫描结果：" + from + "，共 " + std::to_string(rows_.size()) + " 个片段" +
                  (report.complete ? "" : "（扫描未完成）"));
  scanned_report_ = std::move(report);
}

void TForm1::ListView1DblClick(int index) {
  if (index < 0 || index >= ListView1->row_count()) return;
  const ClipRow& row = rows_.at(static_cast<size_t>(ListView1->data(index)));
  // Two readers: the window steps through pictures on one while the
  // duration pass reads the whole clip on the other.
  clip::sources::OpenResult shown = open_evidence(scanned_path_, scanned_sectors_);
  if (!shown.source) {
    report_open_failure(scanned_display_, shown.error, scanned_path_);
    return;
  }
  clip::sources::OpenResult counted = open_evidence(scanned_path_, scanned_sectors_);
  if (!counted.source) {
    report_open_failure(scanned_display_, counted.error, scanned_path_);
    return;
  }
  if (!Form3) {
    Form3 = make<TForm3>();
    Form3->owner_window = handle();
  }
  // The preview's duration pass gives the row its end time too, while the
  // list is still the one it came from.
  Form3->OnDuration = [this, ends = ends_, at = static_cast<size_t>(ListView1->data(index))](
                          const ClipRow& clip, const clip::video::ClipDuration& duration) {
    if (ends != ends_ || at >= rows_.size() || !clip.closed) return;
    const std::string end = clip::video::end_column(clip.start, duration);
    end_asked_.resize(rows_.size(), false);
    end_asked_[at] = true;
    if (!end.empty()) ListView1->set_text(static_cast<int>(at), 3, end);
  };
  if (!Form3->open(std::move(shown.source), std::move(counted.source), row)) {
    Memo1->add_line("无法预览片段 " + std::to_string(row.number) + "（" + row.name + "）：" + Form3->error());
    ui::Application::instance().message_box("无法预览该片段！\n" + Form3->error(), "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  Form3->show();
}

void TForm1::list_replaced() {
  if (ends_work_) ends_work_->stop();
  ends_ = std::make_shared<EndTimes>();  // a pass still running writes where no one looks
  end_asked_.clear();
  ends_pending_.clear();
}

std::vector<size_t> TForm1::rows_wanting_end() {
  std::vector<size_t> wanted;
  const int count = ListView1->row_count();
  if (count == 0 || !ListView1->handle_allocated()) return wanted;
  end_asked_.resize(rows_.size(), false);
  auto want = [&](int index) {
    if (index < 0 || index >= count) return;
    const auto at = static_cast<size_t>(ListView1->data(index));
    // A clip still open at the scan's end keeps its "未结束".
    if (at < rows_.size() && !end_asked_[at] && rows_[at].closed) wanted.push_back(at);
  };
  HWND list = ListView1->handle();
  want(ListView_GetNextItem(list, -1, LVNI_FOCUSED));
  const int top = ListView_GetTopIndex(list);
  const int shown = ListView_GetCountPerPage(list) + 1;
  for (int i = top; i < top + shown; ++i) want(i);
  std::sort(wanted.begin() + (wanted.empty() ? 0 : 1), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  return wanted;
}

void TForm1::EndTimerTick() {
  const bool ended = ends_work_ && ends_work_->finished();
  if (ended) {
    ends_work_->let_go(std::chrono::milliseconds(0));
    ends_work_.reset();
  }
  std::vector<std::pair<size_t, std::string>> found;
  {
    std::lock_guard<std::mutex> lock(ends_->mutex);
    found.swap(ends_->found);
  }
  if (!found.empty()) {
    ui::ListView::Batch batch(*ListView1);
    for (const auto& [at, end] : found) {
      std::erase(ends_pending_, at);
      if (!end.empty()) ListView1->set_text(static_cast<int>(at), 3, end);
    }
  }
  // Rows a stopped pass did not reach are asked for again later.
  if (ended) {
    for (size_t at : ends_pending_) end_asked_[at] = false;
    ends_pending_.clear();
  }
  if (busy() || ends_work_) return;
  std::vector<size_t> wanted = rows_wanting_end();
  if (wanted.empty()) return;
  clip::sources::OpenResult opened = open_evidence(scanned_path_, scanned_sectors_);
  if (!opened.source) return;  // the list stays as it is; recovering says why
  std::vector<ClipRow> clips;
  for (size_t at : wanted) {
    end_asked_[at] = true;
    clips.push_back(rows_[at]);
  }
  ends_pending_ = wanted;
  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  ends_work_ = std::make_unique<Worker>(
      source,
      [source, ends = ends_, wanted, clips = std::move(clips)](Feed& feed) {
        clip::video::DurationOptions options;
        options.max_bytes = kEndBytes;
        options.stop = [&feed] { return feed.stop_requested(); };
        for (size_t i = 0; i < clips.size() && !feed.stop_requested(); ++i) {
          const clip::video::ClipDuration duration = clip::video::clip_duration(*source, clips[i], options);
          if (duration.stopped) break;
          // Empty when the duration or the start is not known: asked once.
          std::string end = clip::video::end_column(clips[i].start, duration);
          std::lock_guard<std::mutex> lock(ends->mutex);
          ends->found.emplace_back(wanted[i], std::move(end));
        }
      },
      handle(), kEndsDone);
}

int TForm1::progress_scale(int64_t sectors) {
  // The bar's range is a 32-bit signed number; larger sources are shown in
  // units of 2^shift sectors so the proportion stays right.
  int shift = 0;
  while ((sectors >> shift) > 0x7FFFFFFF) ++shift;
  return shift;
}

std::optional<std::string> TForm1::browse_folder() {
  BROWSEINFOW info{};
  info.hwndOwner = handle();
  info.lpszTitle = L"\u9009\u62e9\u4fdd\u5b58\u6587\u4ef6\u5939";  // 选择保存文件夹
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info);
  if (!list) return std::nullopt;
  std::wstring path(32768, L'\0');
  const bool ok = SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  CoTaskMemFree(list);
  if (!ok) return std::nullopt;
  return ui::narrow(path.c_str());
}

void TForm1::N16Click() {
  ui::Application& app = ui::Application::instance();
  if (refuse_while_busy()) return;
  std::vector<int> checked;
  for (int i = 0; i < ListView1->row_count(); ++i)
    if (ListView1->checked(i)) checked.push_back(i);
  if (checked.empty()) {
    app.message_box("请先勾选要恢复的文件！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  const std::optional<std::string> folder = choose_folder ? choose_folder() : browse_folder();
  if (!folder) return;
  const std::optional<bool> mp4 = choose_mp4();
  if (!mp4) return;
  // The clips go to the worker as they are now; a later scan may replace the rows.
  std::vector<ClipRow> clips;
  for (int index : checked) clips.push_back(rows_.at(static_cast<size_t>(ListView1->data(index))));
  // The rows remember the source they were found on.
  std::unique_ptr<clip::recover::VolumeMap> volumes = clip::recover::make_system_volume_map();
  if (std::string refusal = clip::recover::check_output_folder(scanned_path_, *folder, *volumes); !refusal.empty()) {
    app.message_box(refusal, "提示", MB_OK | MB_ICONERROR);
    return;
  }
  clip::sources::OpenResult opened = open_evidence(scanned_path_, scanned_sectors_);
  if (!opened.source) {
    report_open_failure(scanned_display_, opened.error, scanned_path_);
    return;
  }
  stop_flag_ = false;
  int64_t total = 0;
  for (const ClipRow& row : clips) total += row.blocks * clip::sources::kBlockSectors;
  ProgressBar1->set_range(0, static_cast<int>(total >> progress_scale(total)));
  ProgressBar1->set_position(0);
  Memo1->add_line("开始恢复 " + std::to_string(clips.size()) + " 个片段，保存到 " + *folder +
                  (*mp4 ? "，并生成 MP4 文件" : ""));

  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  start_work(WorkKind::recover, source,
             [source, clips = std::move(clips), folder = *folder, recover = recover_one, total,
              source_sectors = scanned_sectors_, with_mp4 = *mp4](Feed& feed) {
               RecoveryTally tally(feed, clips.size());
               int64_t handled = 0;  // sectors of the clips done with
               clip::recover::RecoverOptions options;
               options.stop = [&feed] { return feed.stop_requested(); };
               options.progress = [&](uint64_t done) {
                 feed.progress(std::min(total, handled + static_cast<int64_t>(done / clip::sources::kSectorBytes)),
                               total);
               };
               // A block past the end the scan saw was cut there; a source
               // that now gives less makes the clip incomplete.
               options.source_sectors = source_sectors;
               // The summary comes after the last clip: the new names reach
               // the disk together before it (each file's data is flushed
               // as it is written).
               options.defer_folder_sync = !recover;
               std::optional<clip::recover::ClipWriter> writer;
               if (!recover) writer.emplace(*source, options);
               for (const ClipRow& row : clips) {
                 if (feed.stop_requested()) {
                   tally.stopped = true;
                   break;
                 }
                 if (tally.target_failed()) break;
                 bool stopped = false, gone = false;
                 if (recover) {
                   const RecoverResult result = recover(*source, row, folder, options);
                   tally.finished(row, result);
                   stopped = result.outcome == RecoverOutcome::stopped;
                   gone = result.source_gone;
                 } else {
                   const auto written =
                       writer->recover_async(row, folder, [&tally, row](const RecoverResult& result) {
                         tally.finished(row, result);
                       });
                   stopped = written.stopped;
                   gone = written.source_gone;
                 }
                 handled += row.blocks * clip::sources::kBlockSectors;
                 feed.progress(std::min(total, handled), total);
                 if (stopped) tally.stopped = true;
                 if (stopped || gone) {
                   if (gone) feed.fail(clip::scanner::kReadErrorText);
                   break;
                 }
               }
               if (writer) {
                 writer->wait();
                 if (std::string unsynced = writer->sync_folders(); !unsynced.empty()) tally.target_failure(unsynced);
               }
               tally.summary();
               if (with_mp4 && !tally.stopped && !tally.target_failed() && !tally.written.empty())
                 tally.export_mp4s(*source, folder);
             });
}

void TForm1::N2Click() {
  // The job stops first: the sweep below must not delay it.
  stop_flag_ = true;
  if (work_ && !work_->stopping()) {
    stop_asked_ = std::chrono::steady_clock::now();
    work_->stop();
  }
  // The bar sweeps from empty to full, drawn once at the end: a bar that
  // repaints at each of its 1001 steps holds the window for seconds.
  HWND bar = ProgressBar1->handle();
  SendMessageW(bar, WM_SETREDRAW, FALSE, 0);
  ProgressBar1->set_range(0, 1000);
  for (int position = 0; position <= 1000; ++position) ProgressBar1->set_position(position);
  SendMessageW(bar, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(bar, nullptr, TRUE);
}

void TForm1::N4Click() {
  stop_flag_ = true;
  if (work_) work_->stop();
  ui::Application::instance().terminate();
}

void TForm1::N8Click() {
  ui::ListView::Batch batch(*ListView1);
  const int n = ListView1->row_count();
  for (int i = 0; i < n; ++i) ListView1->set_checked(i, true);
}

void TForm1::N10Click() {
  ui::ListView::Batch batch(*ListView1);
  const int n = ListView1->row_count();
  for (int i = 0; i < n; ++i) ListView1->set_checked(i, false);
}

void TForm1::N9Click() {
  ui::ListView::Batch batch(*ListView1);
  const int n = ListView1->row_count();
  for (int i = 0; i < n; ++i) ListView1->set_checked(i, !ListView1->checked(i));
}

void TForm1::ListView1Resize() {
  if (ListView1->handle_allocated()) ListView1->set_column_width(5, 0);
}

void TForm1::StatusBar1DrawPanel(int panel, const RECT& rect) {
  if (panel != 2) return;
  // The bar repaints its parts at every new status text; a bar already in
  // place is not moved again.
  const RECT placed{rect.left, rect.top, rect.right - MainFormLayout::kProgressRightGap, rect.bottom};
  const RECT now = ProgressBar1->bounds();
  if (EqualRect(&placed, &now) && ProgressBar1->handle_allocated()) return;
  ProgressBar1->set_bounds(placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top);
}

}  // namespace app
