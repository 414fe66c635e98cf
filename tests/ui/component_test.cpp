#include "ui/component.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ui/controls.h"

namespace {

class Host : public ui::Form {
 public:
  using ui::Form::Form;
};

TEST(Component, OwnerEnumeratesEveryDepthInCreationOrder) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("Form");
  auto* panel = form->make<ui::Panel>("Panel1");
  auto* menu = form->make<ui::Menu>("MainMenu1");
  menu->add("N1", "文件(&F)")->add("S1", "扫描", "Alt+S");
  panel->make<ui::Label>("Inner");
  std::vector<std::string> names;
  form->for_each_component([&](ui::Component& c) { names.push_back(c.name()); });
  EXPECT_EQ(names, (std::vector<std::string>{"Panel1", "Inner", "MainMenu1", "N1", "S1"}));
  EXPECT_EQ(form->find_component("S1")->owner()->name(), "N1");
  EXPECT_EQ(form->find_component("nothing"), nullptr);
  EXPECT_EQ(form->components().size(), 2u);
}

TEST(Component, ClassNamesAndKindQueriesIncludeBases) {
  ui::Component root(nullptr, "root");
  auto* button = root.make<ui::SpeedButton>("B");
  auto* list = root.make<ui::ListView>("L");
  auto* panel = root.make<ui::Panel>("P");
  EXPECT_STREQ(button->class_name(), "TSpeedButton");
  EXPECT_STREQ(list->class_name(), "TListView");
  EXPECT_TRUE(button->is(ui::Kind::speed_button));
  EXPECT_TRUE(button->is(ui::Kind::graphic_control));
  EXPECT_TRUE(button->is(ui::Kind::control));
  EXPECT_FALSE(button->is(ui::Kind::win_control));
  EXPECT_TRUE(list->is(ui::Kind::win_control));
  EXPECT_FALSE(list->is(ui::Kind::tree_view));
  EXPECT_TRUE(panel->is(ui::Kind::panel));
  // Properties by name reach only the kinds that have them.
  EXPECT_TRUE(button->set_property("Flat", true));
  EXPECT_TRUE(button->flat);
  EXPECT_FALSE(list->set_property("Flat", true));
  EXPECT_FALSE(button->set_property("NoSuch", true));
}

TEST(Control, WindowlessChildrenHearTheMouseEnterAndLeaveAndLeaveTheirParentWhenDestroyed) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  form->client_width = 200;
  form->client_height = 100;
  ASSERT_TRUE(form->create());
  auto owner = std::make_unique<ui::Component>(nullptr, "owner");
  auto* button = owner->make<ui::SpeedButton>("B");
  button->set_bounds(10, 10, 50, 20);
  button->set_parent(form);
  std::vector<UINT> heard;
  for (UINT msg : {ui::kMouseEnter, ui::kMouseLeave})
    button->on(msg, [&heard](ui::Message& m) -> std::optional<LRESULT> {
      heard.push_back(m.msg);
      return std::nullopt;
    });
  bool told = false;
  button->add_destroy_listener(&told, [&told] { told = true; });
  SendMessageW(form->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  SendMessageW(form->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(25, 22));
  SendMessageW(form->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(150, 80));
  SendMessageW(form->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  SendMessageW(form->handle(), WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(heard, (std::vector<UINT>{ui::kMouseEnter, ui::kMouseLeave, ui::kMouseEnter, ui::kMouseLeave}));
  owner.reset();
  EXPECT_TRUE(told) << "whoever holds on to the control hears that it goes";
  EXPECT_TRUE(form->children().empty());
  // The mouse and the painting no longer reach the destroyed control.
  SendMessageW(form->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  SendMessageW(form->handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  RedrawWindow(form->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

TEST(Control, WindowDestroyedWithItsParentPassesItsLastMessageThroughTheHandlerChain) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  form->client_width = 200;
  form->client_height = 100;
  ASSERT_TRUE(form->create());
  auto* button = root.make<ui::Button>("B");
  button->set_parent(form);
  HWND hwnd = button->handle();
  ASSERT_TRUE(hwnd);
  bool last = false;
  button->on(WM_NCDESTROY, [&last](ui::Message&) -> std::optional<LRESULT> {
    last = true;
    return std::nullopt;
  });
  DestroyWindow(form->handle());
  EXPECT_TRUE(last);
  EXPECT_FALSE(button->handle_allocated()) << "the wrapper forgot the handle";
}

TEST(Control, ColourSwapsAndRestores) {
  ui::Component root(nullptr, "root");
  auto* panel = root.make<ui::Panel>("P");
  EXPECT_EQ(panel->color(), GetSysColor(COLOR_BTNFACE));
  const unsigned old = panel->swap_color(ui::Control::kRgbFlag | RGB(10, 20, 30));
  EXPECT_EQ(panel->color(), RGB(10, 20, 30));
  panel->swap_color(old);
  EXPECT_EQ(panel->color(), GetSysColor(COLOR_BTNFACE));
}

TEST(Control, ReplacedHandlerChainsToThePreviousAndIsRestored) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  form->client_width = 200;
  form->client_height = 100;
  ASSERT_TRUE(form->create());
  constexpr UINT kProbe = WM_APP + 7;
  form->on(kProbe, [](ui::Message& m) -> std::optional<LRESULT> { return static_cast<LRESULT>(m.wparam + 1); });
  EXPECT_EQ(SendMessageW(form->handle(), kProbe, 4, 0), 5);

  ui::MessageHandler previous = form->window_proc();
  std::vector<UINT> seen;
  form->set_window_proc([&](ui::Message& m) -> LRESULT {
    if (m.msg == kProbe) seen.push_back(m.msg);
    if (m.msg == kProbe && m.wparam == 0) return 99;
    return previous(m);
  });
  EXPECT_EQ(SendMessageW(form->handle(), kProbe, 0, 0), 99);
  EXPECT_EQ(SendMessageW(form->handle(), kProbe, 9, 0), 10) << "passed on";
  EXPECT_EQ(seen.size(), 2u);
  form->set_window_proc(previous);
  EXPECT_EQ(SendMessageW(form->handle(), kProbe, 0, 0), 1);
  EXPECT_EQ(seen.size(), 2u);
}

TEST(WinControl, ChildWindowsDyingWithTheirParentForgetTheirHandles) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  form->client_width = 200;
  form->client_height = 100;
  auto* memo = form->make<ui::Memo>("M");
  memo->align = ui::Align::client;
  memo->set_parent(form);
  ASSERT_TRUE(form->create());
  HWND edit = memo->handle();
  ASSERT_TRUE(IsWindow(edit));
  EXPECT_EQ(ui::WinControl::from_handle(edit), memo);
  RECT r;
  GetClientRect(edit, &r);
  EXPECT_GT(r.right, 150) << "client alignment fills the form";
  memo->add_line("正在扫描...");
  memo->add_line("扫描完成!");
  EXPECT_EQ(memo->lines(), (std::vector<std::string>{"正在扫描...", "扫描完成!"}));
  const int live = ui::unique_hwnd::live_count();
  DestroyWindow(form->handle());
  EXPECT_FALSE(memo->handle_allocated());
  EXPECT_FALSE(form->handle_allocated());
  EXPECT_EQ(ui::unique_hwnd::live_count(), live - 2);
}

// Writes down, as it dies, what it can still see of its parent.
class Recording : public ui::Panel {
 public:
  struct Seen {
    std::string name;
    bool parent_window;     // the parent's window still exists
    bool listed;            // the parent's child list still holds this one
    bool owner_handler_ran; // a message to the parent reached its handler
  };
  Recording(ui::Component* owner, std::string name, std::vector<Seen>& log, HWND& parent_hwnd)
      : ui::Panel(owner, std::move(name)), log_(log), parent_hwnd_(parent_hwnd) {}
  ~Recording() override {
    const auto& list = parent()->children();
    const bool listed = std::find(list.begin(), list.end(), this) != list.end();
    log_.push_back({this->name(), IsWindow(parent_hwnd_) != FALSE, listed,
                    SendMessageW(parent_hwnd_, WM_APP + 3, 0, 0) == 33});
  }

 private:
  std::vector<Seen>& log_;
  HWND& parent_hwnd_;
};

// A form whose handler needs a member of its own; its controls go first.
class OrderedForm : public ui::Form {
 public:
  OrderedForm(ui::Component* owner, std::vector<Recording::Seen>& log) : ui::Form(owner, "F") {
    client_width = 200;
    client_height = 100;
    on(WM_APP + 3, [this](ui::Message&) -> std::optional<LRESULT> { return answer_.at(0); });
    for (const char* name : {"Panel1", "Panel2"}) make<Recording>(name, log, hwnd_)->set_parent(this);
  }
  ~OrderedForm() override { destroy_components(); }
  bool create() {
    if (!ui::Form::create()) return false;
    hwnd_ = handle();
    return true;
  }

 private:
  std::vector<LRESULT> answer_{33};
  HWND hwnd_ = nullptr;
};

TEST(Form, OwnedControlsDieBeforeTheFormTheyBelongTo) {
  std::vector<Recording::Seen> log;
  HWND form_hwnd = nullptr;
  {
    ui::Component root(nullptr, "root");
    auto* form = root.make<OrderedForm>(log);
    ASSERT_TRUE(form->create());
    form_hwnd = form->handle();
  }
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].name, "Panel2") << "newest first";
  for (const auto& seen : log) {
    EXPECT_TRUE(seen.parent_window) << seen.name;
    EXPECT_TRUE(seen.listed) << seen.name;
    EXPECT_TRUE(seen.owner_handler_ran) << seen.name;
  }
  EXPECT_FALSE(IsWindow(form_hwnd));

  // A form class without its own ordering still keeps the child list and the
  // window alive for its controls; only its derived handlers are gone.
  log.clear();
  {
    HWND hwnd = nullptr;  // outlives root, whose controls look at it
    ui::Component root(nullptr, "root");
    auto* form = root.make<Host>("Plain");
    form->client_width = 100;
    form->client_height = 50;
    form->make<Recording>("Panel1", log, hwnd)->set_parent(form);
    ASSERT_TRUE(form->create());
    hwnd = form->handle();
  }
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].parent_window);
  EXPECT_TRUE(log[0].listed);
}

TEST(WinControl, EditAndComboBoxKeepChineseTextAndItemsGivenBeforeTheirWindows) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<ui::Form>("Form1");
  auto* edit = root.make<ui::Edit>("Edit1");
  auto* combo = root.make<ui::ComboBox>("ComboBox1");
  EXPECT_STREQ(edit->class_name(), "TEdit");
  EXPECT_TRUE(edit->is(ui::Kind::edit));
  EXPECT_STREQ(combo->class_name(), "TComboBox");
  EXPECT_TRUE(combo->is(ui::Kind::combo_box));
  EXPECT_FALSE(combo->is(ui::Kind::edit));
  edit->text = "镜像文件";
  combo->add_item("镜像文件(*.IMG)");
  combo->add_item("所有文件(*.*)");
  combo->style = ui::ComboBox::Style::drop_down;
  for (ui::Control* c : std::initializer_list<ui::Control*>{edit, combo}) c->set_parent(form);
  ASSERT_TRUE(form->create());
  EXPECT_EQ(edit->get_text(), "镜像文件");
  EXPECT_EQ(SendMessageW(combo->handle(), CB_GETCOUNT, 0, 0), 2) << "items given before the window exist once";
  combo->add_item("其它");
  EXPECT_EQ(SendMessageW(combo->handle(), CB_GETCOUNT, 0, 0), 3);
  combo->set_item_index(1);
  EXPECT_EQ(combo->item_index(), 1);
  EXPECT_EQ(GetWindowLongPtrW(combo->handle(), GWL_STYLE) & 3, CBS_DROPDOWN);
}

TEST(MenuItem, ShortcutsBecomeAccelerators) {
  ui::Component root(nullptr, "root");
  auto* item = root.make<ui::MenuItem>("S1", "扫描", "Alt+S");
  ACCEL a{};
  ASSERT_TRUE(item->accelerator(a));
  EXPECT_EQ(a.fVirt, FVIRTKEY | FALT);
  EXPECT_EQ(a.key, 'S');
  EXPECT_EQ(a.cmd, item->id());
  auto* plain = root.make<ui::MenuItem>("N13", "全部选择");
  EXPECT_FALSE(plain->accelerator(a));
  auto* bad = root.make<ui::MenuItem>("X", "x", "Alt+");
  EXPECT_FALSE(bad->accelerator(a));
}

std::vector<uint8_t> make_jpeg(int width, int height) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(width * 3);
  for (int x = 0; x < width; ++x) row[x * 3] = 250, row[x * 3 + 1] = 10, row[x * 3 + 2] = 10;  // red
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&info);
  free(out);
  return bytes;
}

TEST(Jpeg, DecodesToBgrBitmapAndRejectsGarbage) {
  const std::vector<uint8_t> bytes = make_jpeg(783, 523);
  ui::Bitmap picture = ui::decode_jpeg(bytes.data(), bytes.size());
  ASSERT_FALSE(picture.empty());
  EXPECT_EQ(picture.width(), 783);
  EXPECT_EQ(picture.height(), 523);
  const uint8_t* px = picture.pixel(400, 500);
  EXPECT_GT(px[2], 200);  // red channel
  EXPECT_LT(px[0], 60);   // blue channel

  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 40);
  EXPECT_TRUE(ui::decode_jpeg(cut.data(), cut.size()).empty());
  const uint8_t junk[] = {1, 2, 3, 4};
  EXPECT_TRUE(ui::decode_jpeg(junk, sizeof(junk)).empty());
  EXPECT_TRUE(ui::decode_jpeg(nullptr, 0).empty());
}

TEST(Jpeg, DamageAfterTheHeaderGivesAnEmptyBitmapAndFreesIt) {
  const std::vector<uint8_t> bytes = make_jpeg(320, 200);
  const int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  // Cut inside the picture's data: the header is whole, so the bitmap exists
  // when the decoder finds the data ending early.
  for (size_t keep : {bytes.size() / 2, bytes.size() - 10}) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
    EXPECT_TRUE(ui::decode_jpeg(cut.data(), cut.size()).empty()) << keep;
  }
  // Scrambled entropy data after the start of scan.
  std::vector<uint8_t> scrambled = bytes;
  size_t sos = 0;
  for (size_t i = 0; i + 1 < scrambled.size(); ++i)
    if (scrambled[i] == 0xFF && scrambled[i + 1] == 0xDA) sos = i;
  ASSERT_GT(sos, 0u);
  for (size_t i = sos + 20; i + 2 < scrambled.size(); i += 7) scrambled[i] = 0xFF, scrambled[i + 1] = 0xD0 + (i % 8);
  EXPECT_TRUE(ui::decode_jpeg(scrambled.data(), scrambled.size()).empty());
  // A header naming a picture too large to be real.
  std::vector<uint8_t> huge = bytes;
  for (size_t i = 0; i + 8 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = 0xFF, huge[i + 6] = 0xFF;  // height 65535
      break;
    }
  EXPECT_TRUE(ui::decode_jpeg(huge.data(), huge.size()).empty());
  EXPECT_EQ(ui::gdi_object<HBITMAP>::live_count(), bitmaps) << "every bitmap made for a failed picture is freed";
  EXPECT_FALSE(ui::decode_jpeg(bytes.data(), bytes.size()).empty()) << "the whole picture still decodes";
}

}  // namespace
