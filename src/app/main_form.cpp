#include "app/main_form.h"

#include <algorithm>
#include <stdexcept>

#include <shlobj.h>

#include "recover/recover.h"
#include "scanner/scanner.h"
#include "skin/data/skin_win.h"
#include "sources/block_source.h"
#include "ui/resources.h"
#include "ui/wide.h"

namespace app {

using clip::sources::CatalogueEntry;
using clip::sources::TDData;

namespace {

// The reads of a recovery pass through here: before each piece the window's
// messages are pumped and the progress moves, and once a Stop is asked for
// the read is refused, which ends recover_clip between two pieces. The
// refusal looks like a vanished source to it; stopped() tells them apart.
class StoppableSource : public clip::sources::BlockSource {
 public:
  StoppableSource(clip::sources::BlockSource& inner, std::function<bool(int64_t sectors)> before_read)
      : inner_(inner), before_read_(std::move(before_read)) {}
  int64_t sector_count() const override { return inner_.sector_count(); }
  clip::sources::ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (stopped_ || !before_read_(count)) {
      stopped_ = true;
      return {0, clip::sources::ReadError::gone};
    }
    return inner_.read_sectors(first, count, buffer);
  }
  bool stopped() const noexcept { return stopped_; }

 private:
  clip::sources::BlockSource& inner_;
  std::function<bool(int64_t)> before_read_;
  bool stopped_ = false;
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
  if (!e) throw std::runtime_error("Cannot open file " + chosen);
  records_.push_back(e->record);
  HTREEITEM node = TreeView1->add(group, e->caption, e->image_index, &records_.back(), true);
  TreeView1->expand_all();
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
  if (std::optional<clip::sources::CurrentSource> selected = clip::sources::select_source(*record))
    current_ = *selected;
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

void TForm1::N11Click() {
  ui::Application& app = ui::Application::instance();
  if (busy_) {
    app.message_box("正在扫描或恢复，请等待完成或先停止！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (current_.device_path.empty()) {
    app.message_box("请先选择源设备，再进行扫描！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  stop_flag_ = false;
  clip::sources::OpenResult opened = clip::sources::open_block_source(current_.device_path, current_.sectors);
  if (!opened.source) {
    app.message_box("打开源设备出错！", "提示", MB_OK | MB_ICONERROR);
    return;
  }
  // The scan copies T: a selection during the scan changes only the next one.
  const int64_t total = current_.sectors;
  progress_scale_ = progress_scale(total);
  ProgressBar1->set_range(0, static_cast<int>(total >> progress_scale_));
  busy_ = true;
  struct Release {
    bool& flag;
    ~Release() { flag = false; }
  } release{busy_};

  clip::scanner::ScanOptions options;
  options.device_path = current_.device_path;
  options.first_number = static_cast<int64_t>(rows_.size()) + 1;
  clip::scanner::ScanCallbacks callbacks;
  callbacks.progress = [&](int64_t sector, int64_t sectors) {
    app.process_messages();
    ProgressBar1->set_position(static_cast<int>(sector >> progress_scale_));
    StatusBar1->set_panel_text(0, std::to_string(sector) + "/" + std::to_string(sectors));
  };
  // Exit or closing the window ends the message loop; the scan stops first.
  callbacks.stop_requested = [&] { return stop_flag_ || app.terminated(); };
  callbacks.log = [&](const std::string& line) { Memo1->add_line(line); };
  callbacks.row = [&](const clip::scanner::ClipRow& row) {
    rows_.push_back(row);
    ListView1->add_row({std::to_string(row.number), row.channel, row.start, "", std::to_string(row.size_mb)},
                       static_cast<LPARAM>(rows_.size() - 1));
  };
  if (scanned_path_ != current_.device_path) {
    // Rows of different sources can't be recovered from one; the list starts over.
    ListView_DeleteAllItems(ListView1->handle());
    rows_.clear();
    options.first_number = 1;
  }
  scanned_path_ = current_.device_path;
  scanned_sectors_ = total;
  const clip::scanner::ScanResult result = clip::scanner::scan(*opened.source, options, callbacks);
  if (result.end == clip::scanner::ScanEnd::failed || result.end == clip::scanner::ScanEnd::refused)
    throw std::runtime_error(result.message.empty() ? clip::scanner::kReadErrorText : result.message);
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
  if (busy_) {
    app.message_box("正在扫描或恢复，请等待完成或先停止！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  std::vector<int> checked;
  for (int i = 0; i < ListView1->row_count(); ++i)
    if (ListView1->checked(i)) checked.push_back(i);
  if (checked.empty()) {
    app.message_box("请先勾选要恢复的文件！", "提示", MB_OK | MB_ICONINFORMATION);
    return;
  }
  const std::optional<std::string> folder = choose_folder ? choose_folder() : browse_folder();
  if (!folder) return;
  // The rows remember the source they were found on.
  const std::string device = scanned_path_;
  std::unique_ptr<clip::recover::VolumeMap> volumes = clip::recover::make_system_volume_map();
  if (std::string refusal = clip::recover::check_output_folder(device, *folder, *volumes); !refusal.empty()) {
    app.message_box(refusal, "提示", MB_OK | MB_ICONERROR);
    return;
  }
  clip::sources::OpenResult opened = clip::sources::open_block_source(device, scanned_sectors_);
  if (!opened.source) {
    app.message_box("打开源设备出错！", "提示", MB_OK | MB_ICONERROR);
    return;
  }
  busy_ = true;
  struct Release {
    bool& flag;
    ~Release() { flag = false; }
  } release{busy_};
  stop_flag_ = false;
  int64_t total_sectors = 0;
  for (int index : checked) total_sectors += rows_.at(static_cast<size_t>(ListView1->data(index))).blocks * 128;
  const int scale = progress_scale(total_sectors);
  ProgressBar1->set_range(0, static_cast<int>(total_sectors >> scale));
  ProgressBar1->set_position(0);
  int64_t read_sectors = 0;
  StoppableSource source(*opened.source, [&](int64_t sectors) {
    app.process_messages();
    if (stop_flag_ || app.terminated()) return false;
    read_sectors = std::min(total_sectors, read_sectors + sectors);
    ProgressBar1->set_position(static_cast<int>(read_sectors >> scale));
    return true;
  });
  int done = 0;
  uint64_t total_bytes = 0;
  for (int index : checked) {
    app.process_messages();
    if (stop_flag_ || app.terminated()) break;
    const clip::scanner::ClipRow& row = rows_.at(static_cast<size_t>(ListView1->data(index)));
    clip::recover::RecoverResult result = clip::recover::recover_clip(source, row, *folder);
    if (source.stopped()) {
      // A clip cut short by Stop would look complete by its name: it goes.
      if (!result.ok && !result.file.path.empty()) DeleteFileW(ui::widen(result.file.path).c_str());
      Memo1->add_line("已停止：" + row.name + " 未恢复完，已删除不完整的文件");
      break;
    }
    if (!result.ok) {
      if (result.source_gone) {
        // The source vanished: what was written stays, marked in the log as
        // incomplete, since it may be all that can still be had.
        Memo1->add_line(row.name + " 不完整：" + result.file.path + " " + std::to_string(result.file.bytes) +
                        "字节，" + result.error);
        throw std::runtime_error(clip::scanner::kReadErrorText);
      }
      Memo1->add_line(row.name + " 恢复失败：" + result.error);
      continue;
    }
    std::string line = result.file.path + " " + std::to_string(result.file.bytes) + "字节 SHA-256:" + result.file.sha256;
    for (const clip::scanner::SectorRange& range : result.file.unreadable)
      line += " 无法读取扇区:" + std::to_string(range.first) + "+" + std::to_string(range.count);
    Memo1->add_line(line);
    ++done;
    total_bytes += result.file.bytes;
  }
  Memo1->add_line("恢复完成：" + std::to_string(done) + "/" + std::to_string(checked.size()) + " 个文件，共" +
                  std::to_string(total_bytes) + "字节");
}

void TForm1::N2Click() {
  ProgressBar1->set_range(0, 1000);
  for (int position = 0; position <= 1000; ++position) ProgressBar1->set_position(position);
  stop_flag_ = true;
}

void TForm1::N4Click() {
  stop_flag_ = true;
  ui::Application::instance().terminate();
}

void TForm1::N8Click() {
  const int n = ListView1->row_count();
  for (int i = 0; i < n; ++i) ListView1->set_checked(i, true);
}

void TForm1::N10Click() {
  const int n = ListView1->row_count();
  for (int i = 0; i < n; ++i) ListView1->set_checked(i, false);
}

void TForm1::N9Click() {
  const int n = ListView1->row_count();
  for (int i = 0; i < n; ++i) ListView1->set_checked(i, !ListView1->checked(i));
}

void TForm1::ListView1Resize() {
  if (ListView1->handle_allocated()) ListView1->set_column_width(5, 0);
}

void TForm1::StatusBar1DrawPanel(int panel, const RECT& rect) {
  if (panel != 2) return;
  ProgressBar1->set_bounds(rect.left, rect.top, rect.right - rect.left - MainFormLayout::kProgressRightGap,
                           rect.bottom - rect.top);
}

}  // namespace app
