#include "app/main_form.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>

#include <shlobj.h>

#include "app/unreadable_log.h"
#include "recover/recover.h"
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

// What a recovery did with its clips, and its log lines. Clips are finished
// on the writer's own thread, one after another, and the summary is written
// once they all were, so the counts need no lock beyond that order.
class RecoveryTally {
 public:
  RecoveryTally(Feed& feed, size_t clips) : feed_(feed), clips_(clips) {}

  void finished(const ClipRow& row, const RecoverResult& result) {
    feed_.line(recover_line(row, result));
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

  std::atomic<bool> stopped{false};

 private:
  Feed& feed_;
  const size_t clips_;
  int complete_ = 0, failed_ = 0;
  uint64_t bytes_ = 0;
  std::mutex mutex_;
  std::string target_error_;
};

}  // namespace

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
  on(kWorkDone, [this](ui::Message&) -> std::optional<LRESULT> {
    if (work_ && work_->finished()) end_work();
    return 0;
  });
  open_source = [](const std::string& path, int64_t sectors) {
    return clip::sources::open_block_source(path, sectors);
  };
  OpenDialog1 = make<ui::OpenDialog>("OpenDialog1");

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
  ListView1->OnResize = [this] { ListView1Resize(); };
  ListView1->set_parent(this);
  tab_order = {TreeView1, ListView1, Memo1};
}

TForm1::~TForm1() {
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
  std::optional<CatalogueEntry> e = clip::sources::probe_image(*probe_, chosen);
  std::string refusal;
  if (!e) {
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
  if (!refusal.empty()) {
    Memo1->add_line(refusal);
    throw std::runtime_error(refusal);
  }
  records_.push_back(e->record);
  HTREEITEM node = TreeView1->add(group, e->caption, e->image_index, &records_.back(), true);
  TreeView1->expand_all();
  Memo1->add_line("已载入镜像文件：" + chosen + "，共 " + e->record.Sectors + " 个扇区");
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
  clip::sources::OpenResult opened = open_source(current_.device_path, current_.sectors);
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
  scanned_path_ = current_.device_path;
  scanned_display_ = current_display_;
  scanned_sectors_ = total;

  clip::scanner::ScanOptions options;
  options.device_path = current_display_;
  options.first_number = 1;
  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  start_work(WorkKind::scan, source, [source, options](Feed& feed) {
    UnreadableLog unreadable([&feed](std::string line) { feed.line(std::move(line)); });
    clip::scanner::ScanCallbacks callbacks;
    callbacks.progress = [&feed](int64_t sector, int64_t sectors) { feed.progress(sector, sectors); };
    callbacks.stop_requested = [&feed] { return feed.stop_requested(); };
    callbacks.log = [&](const std::string& line) {
      unreadable.flush();
      feed.line(line);
    };
    callbacks.row = [&feed](const ClipRow& row) { feed.row(row); };
    callbacks.unreadable = [&unreadable](const clip::scanner::SectorRange& range) { unreadable.add(range); };
    const clip::scanner::ScanResult result = clip::scanner::scan(*source, options, callbacks);
    unreadable.flush();
    if (result.end == clip::scanner::ScanEnd::failed || result.end == clip::scanner::ScanEnd::refused)
      feed.fail(result.message.empty() ? clip::scanner::kReadErrorText : result.message);
  });
}

void TForm1::start_work(WorkKind kind, std::shared_ptr<clip::sources::BlockSource> source, Worker::Job job) {
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
      ProgressBar1->set_position(static_cast<int>(position >> progress_scale_));
      StatusBar1->set_panel_text(0, std::to_string(position) + "/" + std::to_string(total));
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
    Memo1->add_line(work_kind_ == WorkKind::scan ? "源设备的读取没有响应，已不再等待：扫描已停止，列表不完整"
                                                 : "源设备的读取没有响应，已不再等待：恢复已停止");
  }
}

void TForm1::end_work() {
  WorkTimer->set_enabled(false);
  Batch batch = work_->take();
  work_->let_go(std::chrono::milliseconds(0));
  work_.reset();
  const std::string failure = std::move(batch.failure);
  apply(std::move(batch));
  // As a failure in a command handler: an error box from the message loop.
  if (!failure.empty()) ui::Application::instance().post_failure(failure);
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
  // The clips go to the worker as they are now; a later scan may replace the rows.
  std::vector<ClipRow> clips;
  for (int index : checked) clips.push_back(rows_.at(static_cast<size_t>(ListView1->data(index))));
  // The rows remember the source they were found on.
  std::unique_ptr<clip::recover::VolumeMap> volumes = clip::recover::make_system_volume_map();
  if (std::string refusal = clip::recover::check_output_folder(scanned_path_, *folder, *volumes); !refusal.empty()) {
    app.message_box(refusal, "提示", MB_OK | MB_ICONERROR);
    return;
  }
  clip::sources::OpenResult opened = open_source(scanned_path_, scanned_sectors_);
  if (!opened.source) {
    report_open_failure(scanned_display_, opened.error, scanned_path_);
    return;
  }
  stop_flag_ = false;
  int64_t total = 0;
  for (const ClipRow& row : clips) total += row.blocks * clip::sources::kBlockSectors;
  ProgressBar1->set_range(0, static_cast<int>(total >> progress_scale(total)));
  ProgressBar1->set_position(0);
  Memo1->add_line("开始恢复 " + std::to_string(clips.size()) + " 个片段，保存到 " + *folder);

  std::shared_ptr<clip::sources::BlockSource> source = std::move(opened.source);
  start_work(WorkKind::recover, source,
             [source, clips = std::move(clips), folder = *folder, recover = recover_one, total,
              source_sectors = scanned_sectors_](Feed& feed) {
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
