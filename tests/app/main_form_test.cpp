#include "app/main_form.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/about_form.h"
#include "recover/recover.h"
#include "ui/timer.h"
#include "ui/wide.h"
#include "ui/message_pump.h"
#include "app/gated_source.h"
#include "app/sparse_image.h"
#include "recover/temp_folder.h"

namespace {

using clip::sources::StorageDescriptor;

// Answers like a machine with a fixed C:, an empty CD-ROM E: and physical
// drives 0 and 2 of 80,026,361,856 bytes (1 does not answer).
class FakeProbe : public clip::sources::DriveProbe {
 public:
  std::map<std::string, uint64_t> files;
  unsigned drive_type(char letter) override { return letter == 'C' ? 3 : letter == 'E' ? 5 : 1; }
  std::optional<uint64_t> file_system_bytes(char letter) override {
    if (letter == 'C') return 80026361856ull;
    return std::nullopt;
  }
  std::optional<uint64_t> volume_bytes(char) override { return std::nullopt; }
  std::optional<uint64_t> disk_bytes(int number) override {
    if (number == 0 || number == 2) return 80026361856ull;
    return std::nullopt;
  }
  std::optional<StorageDescriptor> device_descriptor(int number) override {
    if (number != 0 && number != 2) return std::nullopt;
    StorageDescriptor d{};
    const std::string product = number == 0 ? "ST380011A" : "WDC WD800";
    d[4] = 100;  // descriptor size
    d[16] = 40;  // product offset
    std::copy(product.begin(), product.end(), d.begin() + 40);
    return d;
  }
  std::optional<uint64_t> file_bytes(const std::string& name) override {
    auto found = files.find(name);
    if (found == files.end()) return std::nullopt;
    return found->second;
  }
  std::string decimal_separator() override { return "."; }
};

using clip::test::pump_until;

struct Box {
  std::string text, caption;
  UINT flags;
};

class MainForm : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    auto probe = std::make_unique<FakeProbe>();
    probe_ = probe.get();
    probe_->files = {{"D:\\a.img", 1024 * 512 + 100}, {"D:\\a.im", 2048}, {"D:\\b.img", 4096}};
    form_ = root_.make<app::TForm1>(std::move(probe));
    ui::Application::instance().set_main_form(form_);
    ui::Application::instance().set_notifier([this](HWND, const std::string& text, const std::string& caption,
                                                     UINT flags) {
      boxes_.push_back({text, caption, flags});
      return IDOK;
    });
    ui::PopupMenu::set_tracker([this](ui::PopupMenu& menu, HWND, int x, int y) -> UINT {
      popups_.push_back(&menu);
      popup_points_.push_back({x, y});
      if (!choice_) return 0;
      ui::MenuItem* item = choice_;
      choice_ = nullptr;
      // A greyed item can't be chosen.
      return item->enabled() ? item->id() : 0;
    });
    ui::OpenDialog::set_runner([this](ui::OpenDialog& dialog, HWND) -> std::optional<std::string> {
      filters_.push_back(dialog.filter);
      if (next_file_.empty()) return std::nullopt;
      return next_file_;
    });
    ASSERT_TRUE(form_->create()) << GetLastError();
  }
  void TearDown() override {
    ui::Application::instance().set_notifier(nullptr);
    ui::Application::instance().set_main_form(nullptr);
    ui::PopupMenu::set_tracker(nullptr);
    ui::OpenDialog::set_runner(nullptr);
  }

  RECT rect_in_form(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, form_->handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  std::vector<std::string> texts(const std::vector<HTREEITEM>& nodes) {
    std::vector<std::string> out;
    for (HTREEITEM n : nodes) out.push_back(form_->TreeView1->text(n));
    return out;
  }
  HTREEITEM group(int index) { return form_->TreeView1->children_of(nullptr).at(index); }
  // A right press on the node's label, as the mouse makes it. The release is
  // queued first, so the tree's own drag tracking ends at once.
  void right_press(int x, int y) {
    HWND tree = form_->TreeView1->handle();
    PostMessageW(tree, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    SendMessageW(tree, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
  }
  POINT centre_of(HTREEITEM node) {
    RECT r{};
    TreeView_GetItemRect(form_->TreeView1->handle(), node, &r, TRUE);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void load(const std::string& file) {
    next_file_ = file;
    SendMessageW(form_->handle(), WM_COMMAND, form_->N12->id(), 0);
  }
  // Runs the message loop until the scan or recovery has ended.
  bool wait_idle(DWORD milliseconds = 30000) {
    return pump_until([this] { return !form_->busy(); }, milliseconds);
  }

  ui::Component root_{nullptr, "root"};
  app::TForm1* form_ = nullptr;
  FakeProbe* probe_ = nullptr;
  std::vector<Box> boxes_;
  std::vector<ui::PopupMenu*> popups_;
  std::vector<POINT> popup_points_;
  std::vector<std::string> filters_;
  std::string next_file_;
  ui::MenuItem* choice_ = nullptr;  // what the next popup menu's user picks
};

TEST_F(MainForm, LoadsTheSkinFromItsResourcesAtStart) {
  const auto& skin = form_->SkinData1;
  ASSERT_FALSE(skin.not_ready());
  EXPECT_TRUE(skin.Active);
  const auto& e = skin.elements();
  // The borders come from the embedded skin's bitmaps; the top one shapes the
  // window through its key-colour corners.
  ASSERT_TRUE(e.Top && e.Left && e.Right && e.Bottom);
  EXPECT_FALSE(e.Top->Bitmap.empty());
  EXPECT_EQ(e.Top->Trans, 1);
  EXPECT_FALSE(e.Left->Bitmap.empty());
  // Colours are the description's own, not the system defaults.
  using clip::skin::SkinColour;
  EXPECT_EQ(e.colour(SkinColour::ButtonFace), clip::skin::rgb(230, 233, 238));
  EXPECT_EQ(e.colour(SkinColour::Hilight), clip::skin::rgb(47, 111, 208));
  EXPECT_EQ(e.colour(SkinColour::TitleTextNoActive), clip::skin::rgb(176, 190, 210));
}

TEST_F(MainForm, WindowAndRegionsHaveTheirSizes) {
  wchar_t caption[128] = {};
  GetWindowTextW(form_->handle(), caption, 128);
  EXPECT_EQ(std::wstring(caption), L"KESTRAVO For 264Format Recovery\u3000V2.0  - MORVANE");
  RECT client{};
  GetClientRect(form_->handle(), &client);
  EXPECT_EQ(client.right, 733);
  EXPECT_EQ(client.bottom, 509);
  const auto style = static_cast<DWORD>(GetWindowLongW(form_->handle(), GWL_STYLE));
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE((style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

  struct Expect {
    ui::WinControl* control;
    RECT rect;
  } table[] = {
      {form_->Panel1, {0, 0, 733, 105}},        {form_->TreeView1, {0, 105, 200, 409}},
      {form_->Splitter1, {200, 105, 203, 409}}, {form_->ListView1, {203, 105, 733, 409}},
      {form_->Splitter2, {0, 409, 733, 412}},   {form_->Panel2, {0, 412, 733, 490}},
      {form_->StatusBar1, {0, 490, 733, 509}},
  };
  for (const Expect& e : table) {
    const RECT r = rect_in_form(e.control->handle());
    EXPECT_EQ(r.left, e.rect.left) << e.control->name();
    EXPECT_EQ(r.top, e.rect.top) << e.control->name();
    EXPECT_EQ(r.right, e.rect.right) << e.control->name();
    EXPECT_EQ(r.bottom, e.rect.bottom) << e.control->name();
  }
  EXPECT_EQ(form_->Image1->width(), 733);
  EXPECT_EQ(form_->Image1->height(), 105);
}

TEST_F(MainForm, ListColumnsAndHiddenSixthColumn) {
  HWND header = ListView_GetHeader(form_->ListView1->handle());
  ASSERT_EQ(Header_GetItemCount(header), 6);
  const char* captions[] = {"序号", "通道", "开始时间", "结束时间", "文件大小(MB)", ""};
  const int widths[] = {50, 50, 120, 120, 100, 0};
  for (int i = 0; i < 6; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 64;
    SendMessageW(form_->ListView1->handle(), LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    EXPECT_EQ(ui::narrow(text), captions[i]);
    EXPECT_EQ(form_->ListView1->column_width(i), widths[i]) << i;
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, (i == 0 || i == 5) ? LVCFMT_LEFT : LVCFMT_CENTER) << i;
  }
  const DWORD ex = ListView_GetExtendedListViewStyle(form_->ListView1->handle());
  EXPECT_TRUE(ex & LVS_EX_CHECKBOXES);
  EXPECT_TRUE(ex & LVS_EX_GRIDLINES);
  EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
  EXPECT_TRUE(ex & LVS_EX_HEADERDRAGDROP);
  // A user who opens the sixth column sees it closed at the next resize.
  form_->ListView1->set_column_width(5, 40);
  SetWindowPos(form_->handle(), nullptr, 0, 0, 1000, 700, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(form_->ListView1->column_width(5), 0);
}

TEST_F(MainForm, StatusBarHostsTheProgressBar) {
  HWND bar = form_->StatusBar1->handle();
  int edges[3] = {};
  ASSERT_EQ(SendMessageW(bar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)), 3);
  EXPECT_EQ(edges[0], 200);
  EXPECT_EQ(edges[1], 200);
  EXPECT_EQ(edges[2], -1);
  wchar_t text[64] = {};
  SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(ui::narrow(text), "\t程序就绪");
  EXPECT_TRUE(HIWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 2, 0)) & SBT_OWNERDRAW);

  HWND progress = form_->ProgressBar1->handle();
  EXPECT_EQ(GetParent(progress), bar);
  EXPECT_FALSE(GetWindowLongPtrW(progress, GWL_EXSTYLE) & WS_EX_STATICEDGE);
  RECT part{}, placed{};
  SendMessageW(bar, SB_GETRECT, 2, reinterpret_cast<LPARAM>(&part));
  GetWindowRect(progress, &placed);
  MapWindowPoints(nullptr, bar, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, part.left);
  EXPECT_EQ(placed.top, part.top);
  EXPECT_EQ(placed.right, part.right - 15);
  EXPECT_EQ(placed.bottom, part.bottom);
}

TEST_F(MainForm, CatalogueListsGroupsDrivesAndFirstLogLines) {
  EXPECT_EQ(texts(form_->TreeView1->children_of(nullptr)),
            (std::vector<std::string>{"物理驱动器", "逻辑驱动器", "镜像文件"}));
  EXPECT_EQ(texts(form_->TreeView1->children_of(group(0))),
            (std::vector<std::string>{"ST380011A (74.53GB)", "WDC WD800 (74.53GB)"}));
  EXPECT_EQ(texts(form_->TreeView1->children_of(group(1))),
            (std::vector<std::string>{"C:\\(硬盘驱动器)74.53GB", "E:\\(光盘驱动器)0GB"}));
  EXPECT_TRUE(form_->TreeView1->children_of(group(2)).empty());
  for (int g = 0; g < 3; ++g) EXPECT_EQ(form_->TreeView1->data(group(g)), nullptr);

  auto* disk = static_cast<clip::sources::TDData*>(form_->TreeView1->data(form_->TreeView1->children_of(group(0))[1]));
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->Path, "2");
  EXPECT_EQ(disk->Sectors, "156301488");
  EXPECT_EQ(disk->Kind, "P");

  TVITEMW item{};
  item.mask = TVIF_IMAGE | TVIF_STATE;
  item.stateMask = TVIS_EXPANDED;
  item.hItem = form_->TreeView1->children_of(group(1))[0];
  SendMessageW(form_->TreeView1->handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(item.iImage, 5);
  item.hItem = group(1);
  SendMessageW(form_->TreeView1->handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_TRUE(item.state & TVIS_EXPANDED);

  EXPECT_EQ(form_->Memo1->lines(), (std::vector<std::string>{"正在获取逻辑驱动器......", "正在获取物理驱动器......",
                                                             "程序启动完成！请选择驱动器进行扫描......"}));
}

TEST_F(MainForm, RightPressesSetTheTreeMenuAndItsScanItem) {
  HTREEITEM drive = form_->TreeView1->children_of(group(1))[0];
  POINT p = centre_of(drive);
  right_press(p.x, p.y);
  EXPECT_TRUE(form_->N11->enabled());
  EXPECT_EQ(form_->TreeView1->selected(), drive);
  EXPECT_EQ(form_->current_source().device_path, "\\\\.\\C:");
  EXPECT_EQ(form_->current_source().sectors, 156301488);
  ASSERT_EQ(popups_.size(), 1u) << "the right click itself opens the menu";
  EXPECT_EQ(popups_[0], form_->PopupMenu2);
  // The menu key (or Shift+F10) comes as WM_CONTEXTMENU alone.
  SendMessageW(form_->TreeView1->handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form_->TreeView1->handle()), -1);
  ASSERT_EQ(popups_.size(), 2u);
  EXPECT_EQ(popups_[1], form_->PopupMenu2);
  // It opens under the selected node, not at the point -1, -1.
  RECT node{};
  ASSERT_TRUE(TreeView_GetItemRect(form_->TreeView1->handle(), drive, &node, TRUE));
  POINT under{node.left, node.bottom};
  ClientToScreen(form_->TreeView1->handle(), &under);
  EXPECT_EQ(popup_points_[1].x, under.x);
  EXPECT_EQ(popup_points_[1].y, under.y);
  // The list with no rows opens its menu at its corner.
  HWND list = form_->ListView1->handle();
  SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
  ASSERT_EQ(popups_.size(), 3u);
  EXPECT_EQ(popups_[2], form_->PopupMenu1);
  POINT corner{0, 0};
  ClientToScreen(list, &corner);
  EXPECT_EQ(popup_points_[2].x, corner.x);
  EXPECT_EQ(popup_points_[2].y, corner.y);
  popups_.pop_back();
  popup_points_.pop_back();

  p = centre_of(group(0));
  right_press(p.x, p.y);
  EXPECT_FALSE(form_->N11->enabled());
  EXPECT_TRUE(form_->N12->enabled());
  EXPECT_EQ(popups_.size(), 3u);
  MENUITEMINFOW info{sizeof(info)};
  info.fMask = MIIM_STATE;
  GetMenuItemInfoW(form_->PopupMenu2->build(), form_->N11->id(), FALSE, &info);
  EXPECT_TRUE(info.fState & MFS_GRAYED);
  // The group node changes nothing of the current source.
  EXPECT_EQ(form_->current_source().device_path, "\\\\.\\C:");

  RECT client;
  GetClientRect(form_->TreeView1->handle(), &client);
  right_press(client.right - 5, client.bottom - 5);
  SendMessageW(form_->TreeView1->handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form_->TreeView1->handle()), 0);
  EXPECT_EQ(popups_.size(), 3u) << "no menu over empty space";
}

TEST_F(MainForm, ImageLoadingComparesWholePathsIgnoringCase) {
  load("D:\\a.img");
  EXPECT_EQ(filters_.back(), "镜像文件(*.IMG)|*.IMG|E01 证据文件(*.E01)|*.E01|所有文件(*.*)|*.*");
  load("D:\\b.img");
  EXPECT_EQ(texts(form_->TreeView1->children_of(group(2))), (std::vector<std::string>{"D:\\b.img", "D:\\a.img"}));
  auto* record = static_cast<clip::sources::TDData*>(form_->TreeView1->data(form_->TreeView1->children_of(group(2))[1]));
  EXPECT_EQ(record->Sectors, "1024") << "only whole sectors count";
  EXPECT_EQ(record->Kind, "F");

  load("d:\\A.IMG");
  EXPECT_EQ(form_->TreeView1->children_of(group(2)).size(), 2u);
  EXPECT_EQ(form_->TreeView1->text(form_->TreeView1->selected()), "D:\\a.img");
  EXPECT_EQ(form_->current_source().sectors, 1024);

  load("D:\\a.im");  // a leading part of a listed name is a file of its own
  EXPECT_EQ(texts(form_->TreeView1->children_of(group(2))),
            (std::vector<std::string>{"D:\\a.im", "D:\\b.img", "D:\\a.img"}));

  next_file_.clear();  // cancelled: nothing changes
  SendMessageW(form_->handle(), WM_COMMAND, form_->N12->id(), 0);
  EXPECT_EQ(form_->TreeView1->children_of(group(2)).size(), 3u);
  EXPECT_TRUE(boxes_.empty());

  load("D:\\missing.img");
  clip::test::pump();  // the failure's box shows from the message loop
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("无法打开镜像文件：D:\\missing.img", 0), 0u) << boxes_[0].text;
  EXPECT_TRUE(boxes_[0].flags & MB_ICONERROR);
  EXPECT_EQ(form_->TreeView1->children_of(group(2)).size(), 3u);
  EXPECT_EQ(form_->Memo1->lines().back(), boxes_[0].text) << "the log says it too";

  // An image of less than a sector can't be scanned: it is refused at once.
  probe_->files["D:\\tiny.img"] = 511;
  load("D:\\tiny.img");
  clip::test::pump();
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text, "镜像文件为空或不足一个扇区（512 字节），未载入：D:\\tiny.img");
  EXPECT_EQ(form_->Memo1->lines().back(), boxes_[1].text);
  EXPECT_EQ(form_->TreeView1->children_of(group(2)).size(), 3u);

  // Each image loaded has its line, with the path as chosen.
  const std::vector<std::string> log = form_->Memo1->lines();
  EXPECT_NE(std::find(log.begin(), log.end(), "已载入镜像文件：D:\\a.img，共 1024 个扇区"), log.end());
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("已载入镜像文件", 0) == 0; }), 3)
      << "a listed image loaded again is only selected";
}

TEST_F(MainForm, ImageNodesShowTheirWholePathAsATip) {
  HWND tree = form_->TreeView1->handle();
  EXPECT_TRUE(GetWindowLongW(tree, GWL_STYLE) & TVS_INFOTIP);
  const std::string long_path = "D:\\evidence\\case 2024-117\\recorder 3 of 5\\disk images\\ch01-ch16 full.img";
  probe_->files[long_path] = 4096;
  load(long_path);
  auto tip = [&](HTREEITEM node) {
    wchar_t buffer[INFOTIPSIZE] = L"unchanged";
    NMTVGETINFOTIPW info{};
    info.hdr.hwndFrom = tree;
    info.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(tree));
    info.hdr.code = TVN_GETINFOTIPW;
    info.pszText = buffer;
    info.cchTextMax = INFOTIPSIZE;
    info.hItem = node;
    SendMessageW(form_->handle(), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
    return ui::narrow(buffer);
  };
  EXPECT_EQ(tip(form_->TreeView1->children_of(group(2)).at(0)), long_path);
  EXPECT_EQ(tip(group(2)), "") << "group nodes have no tip";
  EXPECT_EQ(tip(form_->TreeView1->children_of(group(1)).at(0)), "");
}

TEST_F(MainForm, ScanWithoutSourceAsksForOneFirst) {
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "请先选择源设备，再进行扫描！");
  EXPECT_EQ(boxes_[0].caption, "提示");
  EXPECT_TRUE(boxes_[0].flags & MB_ICONINFORMATION);
  EXPECT_EQ(form_->Memo1->lines().size(), 3u);
}

TEST_F(MainForm, CheckMarkCommandsFromBothMenus) {
  // No rows: nothing to do and nothing breaks.
  for (ui::MenuItem* item : {form_->N13, form_->N15, form_->N14})
    SendMessageW(form_->handle(), WM_COMMAND, item->id(), 0);
  for (int i = 0; i < 4; ++i) form_->ListView1->add_row({std::to_string(i + 1), "1", "", "", "2"}, 0);
  form_->ListView1->set_checked(1, true);
  ListView_SetItemState(form_->ListView1->handle(), 2, LVIS_SELECTED, LVIS_SELECTED);
  auto marks = [&] {
    std::vector<bool> out;
    for (int i = 0; i < form_->ListView1->row_count(); ++i) out.push_back(form_->ListView1->checked(i));
    return out;
  };
  SendMessageW(form_->handle(), WM_COMMAND, form_->N15->id(), 0);
  EXPECT_EQ(marks(), (std::vector<bool>{true, false, true, true}));
  form_->N9->OnClick();
  EXPECT_EQ(marks(), (std::vector<bool>{false, true, false, false}));
  form_->N8->OnClick();
  EXPECT_EQ(marks(), (std::vector<bool>(4, true)));
  form_->N9->OnClick();
  EXPECT_EQ(marks(), (std::vector<bool>(4, false)));
  SendMessageW(form_->handle(), WM_COMMAND, form_->N13->id(), 0);
  form_->N10->OnClick();
  EXPECT_EQ(marks(), (std::vector<bool>(4, false)));
  EXPECT_EQ(ListView_GetNextItem(form_->ListView1->handle(), -1, LVNI_SELECTED), 2) << "selection untouched";
  EXPECT_EQ(form_->ListView1->text(3, 0), "4");
}

TEST_F(MainForm, StopSweepsTheBarToFullAndSetsTheFlag) {
  form_->show();
  clip::test::pump();
  // Every step of the sweep is set, but the bar is not drawn at each one.
  int steps = 0, paints = 0;
  form_->ProgressBar1->on(PBM_SETPOS, [&](ui::Message&) -> std::optional<LRESULT> {
    ++steps;
    return std::nullopt;
  });
  form_->ProgressBar1->on(WM_PAINT, [&](ui::Message&) -> std::optional<LRESULT> {
    ++paints;
    return std::nullopt;
  });
  EXPECT_FALSE(form_->stop_flag());
  SendMessageW(form_->handle(), WM_COMMAND, form_->N2->id(), 0);
  EXPECT_TRUE(form_->stop_flag());
  EXPECT_EQ(steps, 1001);
  EXPECT_LE(paints, 1);
  EXPECT_EQ(form_->ProgressBar1->max(), 1000);
  EXPECT_EQ(form_->ProgressBar1->position(), 1000);
  UpdateWindow(form_->ProgressBar1->handle());
  EXPECT_GE(paints, 1) << "drawn full once the sweep is done";
}


using clip::test::write_sparse_image;

TEST_F(MainForm, ScanOfALargeSparseImageListsItsClips) {
  int64_t sectors = 0;
  const std::string path = write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  ASSERT_GT(sectors * 512, 4096000000ll);
  probe_->files[path] = static_cast<uint64_t>(sectors) * 512;
  load(path);
  HTREEITEM node = form_->TreeView1->children_of(group(2)).at(0);
  form_->TreeView1->select(node);
  EXPECT_EQ(form_->current_source().sectors, sectors);

  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
  ASSERT_EQ(form_->ListView1->row_count(), 2);
  EXPECT_EQ(form_->ListView1->text(0, 0), "1");
  EXPECT_EQ(form_->ListView1->text(0, 1), "01");
  EXPECT_EQ(form_->ListView1->text(0, 2), "2012-05-20 13-45-30");
  EXPECT_EQ(form_->ListView1->text(0, 3), "");
  EXPECT_EQ(form_->ListView1->text(0, 4), "1");
  EXPECT_EQ(form_->row(0).first_sector, 8000130);
  EXPECT_EQ(form_->row(0).blocks, 17);
  // The second clip was still open when the image ended.
  EXPECT_FALSE(form_->row(1).closed);
  EXPECT_EQ(form_->ListView1->text(1, 3), "未结束");
  const std::vector<std::string> log = form_->Memo1->lines();
  EXPECT_EQ(log.back(), "扫描完成!");
  // The image as the user chose it, not its long-path form.
  EXPECT_NE(std::find(log.begin(), log.end(), "您选择了" + path + ",总大小为：" + std::to_string(sectors) + "SEC"),
            log.end());
  const std::string status = form_->StatusBar1->panel_text(0);
  EXPECT_EQ(status.substr(status.find('/') + 1), std::to_string(sectors));
  EXPECT_GT(std::stoll(status.substr(0, status.find('/'))), 8000000);

  // A rescan of the same source replaces its rows: no clip is listed twice,
  // and the new rows arrive unchecked.
  form_->N8->OnClick();
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(form_->ListView1->row_count(), 2);
  EXPECT_EQ(form_->ListView1->text(1, 0), "2");
  EXPECT_FALSE(form_->ListView1->checked(0));
  EXPECT_FALSE(form_->ListView1->checked(1));

  // Recover of the checked rows into a fresh folder.
  form_->N8->OnClick();
  const clip::testing::TempFolder out_folder;
  const std::string out = out_folder.str();
  ASSERT_FALSE(out.empty());
  form_->choose_folder = [&] { return std::optional<std::string>(out); };
  form_->choose_mp4 = [] { return std::optional<bool>(false); };
  const size_t before = form_->Memo1->lines().size();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
  const std::vector<std::string> lines = form_->Memo1->lines();
  ASSERT_EQ(lines.size(), before + 4);
  EXPECT_EQ(lines[before], "开始恢复 2 个片段，保存到 " + out);
  for (int i = 0; i < 2; ++i) {
    const std::string& line = lines[before + 1 + i];
    const std::string file = line.substr(0, line.find(' '));
    HANDLE h = CreateFileW(ui::widen(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << file;
    std::vector<uint8_t> bytes(static_cast<size_t>(form_->row(i).blocks) * 65536 + 1);
    DWORD got = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ(got, static_cast<DWORD>(form_->row(i).blocks * 65536)) << file;
    clip::recover::Sha256 sha;
    sha.update(bytes.data(), got);
    EXPECT_NE(line.find("SHA-256:" + sha.hex()), std::string::npos) << line;
    EXPECT_NE(line.find(std::to_string(got) + "字节"), std::string::npos) << line;
    if (i == 0) {
      EXPECT_EQ(bytes[80], 'M') << "the header block comes first";
    }
    // The open clip's line says so, as the command-line tool's table does.
    EXPECT_EQ(line.size() > 12 && line.substr(line.size() - 12) == " (未结束)", i == 1) << line;
  }
  EXPECT_EQ(lines.back().rfind("恢复完成：2/2", 0), 0u) << lines.back();

  form_->N10->OnClick();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N6->id(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "提示");
  DeleteFileW(ui::widen(path).c_str());
}

TEST_F(MainForm, PicturesComeFromTheProgramsResources) {
  EXPECT_EQ(form_->Image1->picture.width(), 783);
  EXPECT_EQ(form_->Image1->picture.height(), 523);
  EXPECT_TRUE(form_->Image1->stretch);
  ASSERT_EQ(form_->ImageList1->count(), 8);
  EXPECT_EQ(TreeView_GetImageList(form_->TreeView1->handle(), TVSIL_NORMAL), form_->ImageList1->handle());

  // Drawn on white, an icon keeps the white where its background was.
  ui::Bitmap white(16, 16);
  memset(white.bits(), 0xFF, static_cast<size_t>(white.stride()) * 16);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, white.handle());
  ImageList_Draw(form_->ImageList1->handle(), 5, dc, 0, 0, ILD_TRANSPARENT);
  GdiFlush();
  SelectObject(dc, old);
  DeleteDC(dc);
  const uint8_t* corner = white.pixel(0, 0);
  EXPECT_EQ(corner[0] & corner[1] & corner[2], 0xFF) << "magenta is transparent";
  int painted = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint8_t* p = white.pixel(x, y);
      EXPECT_FALSE(p[0] == 0xFF && p[1] == 0 && p[2] == 0xFF) << x << "," << y;
      if (p[0] != 0xFF || p[1] != 0xFF || p[2] != 0xFF) ++painted;
    }
  EXPECT_GT(painted, 20) << "the hard disk icon is drawn";

  ui::Component root(nullptr, "root");
  auto* about = root.make<app::TForm2>();
  EXPECT_EQ(about->Image1->picture.width(), 326);
  EXPECT_EQ(about->Image1->picture.height(), 198);
}

TEST_F(MainForm, StartOptionsLoadImagesAndScanTheFirstOnceTheLoopRuns) {
  int64_t sectors = 0;
  const std::string path = write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  probe_->files[path] = static_cast<uint64_t>(sectors) * 512;
  app::StartOptions options;
  options.images = {path, "D:\\missing.img", "D:\\b.img"};
  options.scan = true;
  form_->apply_start_options(options);
  // Loaded as the open dialog loads: each new one on top of the group.
  EXPECT_EQ(texts(form_->TreeView1->children_of(group(2))), (std::vector<std::string>{"D:\\b.img", path}));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("无法打开镜像文件：D:\\missing.img", 0), 0u) << boxes_[0].text;
  EXPECT_EQ(form_->ListView1->row_count(), 0) << "the scan waits for the message loop";

  ASSERT_TRUE(pump_until([&] { return form_->Memo1->lines().back() == "扫描完成!" && !form_->busy(); }, 20000));
  EXPECT_EQ(form_->current_source().sectors, sectors) << "the first image was selected";
  EXPECT_EQ(form_->ListView1->row_count(), 2);
  EXPECT_FALSE(form_->StartTimer->enabled()) << "it runs once";
  DeleteFileW(ui::widen(path).c_str());

  app::StartOptions unknown;
  unknown.error = "未知的选项：-x";
  form_->apply_start_options(unknown);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text, unknown.error);
}

TEST_F(MainForm, AboutWindowIsModalOverTheMainWindow) {
  ui::Component root(nullptr, "root");
  auto* about = root.make<app::TForm2>();
  about->owner_window = form_->handle();
  ASSERT_TRUE(about->create());
  form_->OnAbout = [about] { about->show_modal(); };
  form_->show();

  // While the window is open, a timer looks at both windows and presses the
  // close button; a second one ends the display if that press went nowhere.
  bool seen = false, owner_enabled = true, shown = false;
  auto* look = root.make<ui::Timer>("Look");
  look->set_interval(30);
  look->OnTimer = [&] {
    look->set_enabled(false);
    seen = true;
    owner_enabled = IsWindowEnabled(form_->handle()) != FALSE;
    shown = IsWindowVisible(about->handle()) != FALSE;
    const RECT b = about->SpeedButton1->bounds();
    const LPARAM at = MAKELPARAM(b.left + 5, b.top + 5);
    SendMessageW(about->handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(about->handle(), WM_LBUTTONUP, 0, at);
  };
  auto* rescue = root.make<ui::Timer>("Rescue");
  rescue->set_interval(5000);
  bool rescued = false;
  rescue->OnTimer = [&] {
    rescue->set_enabled(false);
    rescued = true;
    about->close();
  };
  SendMessageW(form_->handle(), WM_COMMAND, form_->A1->id(), 0);
  EXPECT_TRUE(seen);
  EXPECT_FALSE(owner_enabled) << "the main window takes no input meanwhile";
  EXPECT_TRUE(shown);
  EXPECT_FALSE(rescued) << "the close button ended the display";
  EXPECT_TRUE(IsWindowEnabled(form_->handle()));
  EXPECT_FALSE(IsWindowVisible(about->handle()));
  EXPECT_TRUE(IsWindow(about->handle()));
}

// A recovery whose read is held (a failing disk): Stop cancels the read and
// the recovery ends with the clip it was in; the window answers meanwhile.
// Without Stop the bar climbs to its end while both files are written.
TEST_F(MainForm, RecoverShowsProgressAndStopsInsideAHeldRead) {
  int64_t sectors = 0;
  const std::string path = write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  probe_->files[path] = static_cast<uint64_t>(sectors) * 512;
  load(path);
  form_->TreeView1->select(form_->TreeView1->children_of(group(2)).at(0));
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(form_->ListView1->row_count(), 2);
  ASSERT_GT(form_->row(0).blocks, 16) << "the first clip takes more than one piece";
  form_->N8->OnClick();

  const clip::testing::TempFolder out_folder;
  const std::string out = out_folder.str();
  ASSERT_FALSE(out.empty());
  form_->choose_folder = [&] { return std::optional<std::string>(out); };
  form_->choose_mp4 = [] { return std::optional<bool>(false); };
  auto gate = std::make_shared<clip::test::Gate>();
  gate->allow(1);  // the first piece of the first clip, then the disk holds on
  form_->open_source = [gate](const std::string& device, int64_t count) {
    clip::sources::OpenResult opened = clip::sources::open_block_source(device, count);
    if (opened.source) opened.source = std::make_unique<clip::test::GatedSource>(std::move(opened.source), gate);
    return opened;
  };
  std::vector<int> positions;
  form_->ProgressBar1->on(PBM_SETPOS, [&](ui::Message& m) -> std::optional<LRESULT> {
    positions.push_back(static_cast<int>(m.wparam));
    return std::nullopt;
  });
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(pump_until([&] { return gate->holding(); }, 10000));
  ASSERT_TRUE(pump_until([&] { return !positions.empty() && positions.back() > 0; }, 10000))
      << "the first piece shows on the bar while the read is held";
  EXPECT_TRUE(form_->busy());
  // The read is cancelled before the bar's sweep begins, not after it.
  bool cancelled_first = false;
  form_->ProgressBar1->on(PBM_SETRANGE32, [&](ui::Message& m) -> std::optional<LRESULT> {
    if (m.lparam == 1000) {
      std::lock_guard<std::mutex> lock(gate->mutex);
      cancelled_first = gate->cancelled;
    }
    return std::nullopt;
  });
  SendMessageW(form_->handle(), WM_COMMAND, form_->N2->id(), 0);
  EXPECT_TRUE(cancelled_first);
  ASSERT_TRUE(wait_idle(10000)) << "Stop cancels the held read";
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
  std::vector<std::string> lines = form_->Memo1->lines();
  const std::string& stopped = lines[lines.size() - 2];
  EXPECT_EQ(stopped.rfind("已停止：" + form_->row(0).name + " 未恢复完", 0), 0u) << stopped;
  EXPECT_EQ(lines.back().rfind("恢复完成：0/2", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find("已停止"), std::string::npos) << lines.back();
  // No stopped clip under its own name; the log says its partial file was
  // deleted only when none is left.
  const auto exists = [](const std::string& file) {
    return GetFileAttributesW(ui::widen(file).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  EXPECT_FALSE(exists(out + "\\" + form_->row(0).name));
  const bool left = exists(out + "\\" + form_->row(0).name + ".part");
  EXPECT_NE(stopped.find("已删除不完整的文件") != std::string::npos, left) << stopped;
  EXPECT_FALSE(left) << "a stopped clip's partial file is removed";

  form_->open_source = [](const std::string& device, int64_t count) {
    return clip::sources::open_block_source(device, count);
  };
  const clip::testing::TempFolder again_folder;
  const std::string again = again_folder.str();
  form_->choose_folder = [&] { return std::optional<std::string>(again); };
  form_->choose_mp4 = [] { return std::optional<bool>(false); };
  positions.clear();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  lines = form_->Memo1->lines();
  EXPECT_EQ(lines.back().rfind("恢复完成：2/2", 0), 0u) << lines.back();
  ASSERT_GE(positions.size(), 2u);
  EXPECT_EQ(positions.front(), 0);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), form_->ProgressBar1->max());
  DeleteFileW(ui::widen(path).c_str());
}

TEST(ProgressScale, KeepsTheRangeWithinThirtyOneBits) {
  EXPECT_EQ(app::TForm1::progress_scale(156301488), 0);
  EXPECT_EQ(app::TForm1::progress_scale(0x7FFFFFFF), 0);
  EXPECT_EQ(app::TForm1::progress_scale(0x80000000ll), 1);
  const int64_t huge = int64_t{1} << 40;
  const int shift = app::TForm1::progress_scale(huge);
  EXPECT_LE(huge >> shift, 0x7FFFFFFF);
  EXPECT_GT(huge >> shift, 0x3FFFFFFF) << "no more coarse than needed";
}

TEST(AboutForm, TextsPlacesAndLinks) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<app::TForm2>();
  std::vector<std::pair<std::string, std::string>> opened;
  form->open_address = [&](HWND, const char* verb, const std::string& address) {
    opened.emplace_back(verb ? verb : "", address);
  };
  ASSERT_TRUE(form->create());
  wchar_t caption[32] = {};
  GetWindowTextW(form->handle(), caption, 32);
  EXPECT_EQ(std::wstring(caption), L"Form2");
  RECT client{};
  GetClientRect(form->handle(), &client);
  EXPECT_EQ(client.right, 543);
  EXPECT_EQ(client.bottom, 225);
  const auto style = static_cast<DWORD>(GetWindowLongW(form->handle(), GWL_STYLE));
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  EXPECT_EQ(form->Label1->caption(), "264格式（监控）硬盘录像机恢复程序可以处理以下故障 ：");
  EXPECT_EQ(form->Label10->caption(), "4。硬盘物理故障导致监控平台无法读取视频");
  EXPECT_EQ(form->Label8->bounds().left, 225);
  EXPECT_EQ(form->Label8->bounds().top, 66);
  EXPECT_GT(form->Label1->width(), 100) << "sized to its text";
  EXPECT_EQ(form->SpeedButton1->caption, "关  闭");
  EXPECT_EQ(form->SpeedButton1->width(), 73);
  EXPECT_EQ(form->Image1->width(), 201);
  EXPECT_EQ(form->Image1->height(), 153);
  // The row of name, links and button: each text ends before the next begins.
  EXPECT_LE(form->Label11->bounds().right, form->Label12->bounds().left);
  EXPECT_LE(form->Label12->bounds().right, form->Label13->bounds().left);
  EXPECT_LE(form->Label13->bounds().right, form->SpeedButton1->bounds().left);

  // Clicks reach the windowless controls through the form's window.
  auto click = [&](ui::Control* c) {
    const RECT b = c->bounds();
    const LPARAM at = MAKELPARAM(b.left + 2, b.top + 2);
    SendMessageW(form->handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(form->handle(), WM_LBUTTONUP, 0, at);
  };
  click(form->Image1);
  click(form->Label12);
  click(form->Label13);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], opened[1]) << "the logo and the first link open the same address";
  EXPECT_EQ(opened[0].second, "http://morvane.example/");
  EXPECT_EQ(opened[2], (std::pair<std::string, std::string>{"open", "http://support.morvane.example/"}));

  form->show();
  EXPECT_TRUE(IsWindowVisible(form->handle()));
  click(form->SpeedButton1);
  EXPECT_FALSE(IsWindowVisible(form->handle()));
  EXPECT_TRUE(IsWindow(form->handle())) << "closing hides it";
}

}  // namespace
