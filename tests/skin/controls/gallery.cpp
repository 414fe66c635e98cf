#include "skin/controls/gallery.h"

#include "skin/data/skin_win.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"

namespace clip::test {
namespace {

template <typename T>
T* place(ui::Form& form, ui::WinControl* parent, const char* name, int x, int y, int w, int h) {
  T* c = form.make<T>(name);
  c->set_bounds(x, y, w, h);
  c->set_parent(parent);
  return c;
}

}  // namespace

TGalleryForm::TGalleryForm(ui::Component* owner, const std::string& skin_file) : ui::Form(owner, "GalleryForm") {
  caption = "控件样例";
  client_width = 560;
  client_height = 430;
  SkinData1.Active = true;
  const bool loaded =
      skin_file.empty() ? skin::load_skin_stream_resource(SkinData1) : SkinData1.SetSkinFile(skin_file);
  if (!loaded) SkinData1.Active = false;

  Button1 = place<ui::Button>(*this, this, "Button1", 10, 10, 90, 26);
  Button1->caption = "确定";
  Button2 = place<ui::Button>(*this, this, "Button2", 110, 10, 90, 26);
  Button2->caption = "禁用";

  GroupBox1 = place<ui::GroupBox>(*this, this, "GroupBox1", 10, 45, 260, 105);
  GroupBox1->caption = "选项";
  CheckBox1 = place<ui::CheckBox>(*this, GroupBox1, "CheckBox1", 10, 20, 110, 20);
  CheckBox1->caption = "已选中";
  CheckBox2 = place<ui::CheckBox>(*this, GroupBox1, "CheckBox2", 10, 45, 110, 20);
  CheckBox2->caption = "不确定";
  CheckBox2->allow_grayed = true;
  CheckBox3 = place<ui::CheckBox>(*this, GroupBox1, "CheckBox3", 10, 70, 110, 20);
  CheckBox3->caption = "禁用";
  RadioButton1 = place<ui::RadioButton>(*this, GroupBox1, "RadioButton1", 130, 20, 110, 20);
  RadioButton1->caption = "单选一";
  RadioButton2 = place<ui::RadioButton>(*this, GroupBox1, "RadioButton2", 130, 45, 110, 20);
  RadioButton2->caption = "单选二";
  RadioButton3 = place<ui::RadioButton>(*this, GroupBox1, "RadioButton3", 130, 70, 110, 20);
  RadioButton3->caption = "禁用";

  Edit1 = place<ui::Edit>(*this, this, "Edit1", 290, 10, 120, 22);
  Edit1->text = "镜像文件";
  Edit2 = place<ui::Edit>(*this, this, "Edit2", 420, 10, 120, 22);
  Edit2->text = "禁用";
  Edit3 = place<ui::Edit>(*this, this, "Edit3", 290, 40, 120, 22);
  Edit3->text = "12";

  ComboBox1 = place<ui::ComboBox>(*this, this, "ComboBox1", 290, 70, 120, 200);
  ComboBox2 = place<ui::ComboBox>(*this, this, "ComboBox2", 420, 70, 120, 200);
  ComboBox2->style = ui::ComboBox::Style::drop_down;
  ComboBox3 = place<ui::ComboBox>(*this, this, "ComboBox3", 290, 100, 120, 200);
  for (ui::ComboBox* c : {ComboBox1, ComboBox2, ComboBox3}) {
    c->add_item("镜像文件(*.IMG)");
    c->add_item("所有文件(*.*)");
  }

  ProgressBar1 = place<ui::ProgressBar>(*this, this, "ProgressBar1", 10, 165, 170, 16);
  ProgressBar2 = place<ui::ProgressBar>(*this, this, "ProgressBar2", 190, 165, 170, 16);
  ProgressBar3 = place<ui::ProgressBar>(*this, this, "ProgressBar3", 370, 165, 170, 16);
  TrackBar1 = place<ui::TrackBar>(*this, this, "TrackBar1", 10, 195, 260, 36);
  UpDown1 = place<ui::UpDown>(*this, this, "UpDown1", 290, 195, 18, 36);
  UpDown2 = place<ui::UpDown>(*this, this, "UpDown2", 320, 200, 40, 20);
  UpDown2->horizontal = true;

  TabControl1 = place<ui::TabControl>(*this, this, "TabControl1", 10, 240, 150, 90);
  for (const char* caption : {"常规", "扫描", "恢复", "日志", "关于", "高级"}) TabControl1->add_tab(caption);
  TabControl2 = place<ui::TabControl>(*this, this, "TabControl2", 170, 240, 120, 90);
  TabControl2->side = ui::TabControl::Side::bottom;
  TabControl3 = place<ui::TabControl>(*this, this, "TabControl3", 300, 240, 120, 90);
  TabControl3->side = ui::TabControl::Side::left;
  PageControl1 = place<ui::PageControl>(*this, this, "PageControl1", 430, 240, 120, 90);
  PageControl1->side = ui::TabControl::Side::right;
  for (ui::TabControl* c : {TabControl2, TabControl3, static_cast<ui::TabControl*>(PageControl1)}) {
    c->add_tab("通道");
    c->add_tab("时间");
  }
  TabSet1 = place<ui::TabSet>(*this, this, "TabSet1", 10, 345, 420, 22);
  TabSet1->set_tabs({"通道一", "一个放不下的很长很长很长很长很长很长很长很长很长很长很长很长很长的标签", "通道二",
                   "通道三", "通道四"});
  StatusBar1 = place<ui::StatusBar>(*this, this, "StatusBar1", 0, 406, 560, 24);
}

bool TGalleryForm::build() {
  if (!create()) return false;
  for (ui::WinControl* c : std::initializer_list<ui::WinControl*>{Button2, CheckBox3, RadioButton3, Edit2, ComboBox3})
    EnableWindow(c->handle(), FALSE);
  CheckBox1->set_state(BST_CHECKED);
  CheckBox2->set_state(BST_INDETERMINATE);
  RadioButton1->set_state(BST_CHECKED);
  const SIZE edit{Edit3->width(), Edit3->height()};
  EditSpin = CreateWindowExW(0, UPDOWN_CLASSW, L"", WS_CHILD | WS_VISIBLE, edit.cx - 20, 0, 16, edit.cy - 4,
                             Edit3->handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  for (ui::ComboBox* c : {ComboBox1, ComboBox2, ComboBox3}) c->set_item_index(0);
  ProgressBar1->set_range(0, 100);
  ProgressBar2->set_range(0, 100);
  ProgressBar2->set_position(50);
  ProgressBar3->set_range(0, 100);
  ProgressBar3->set_position(100);
  TabControl1->set_tab_index(1);
  TabSet1->set_tab_index(2);
  TrackBar1->set_range(0, 10);
  TrackBar1->set_position(3);
  StatusBar1->set_panels({{120, false, false, "凹陷"}, {150, true, false, ""}, {150, false, false, ""},
                          {0, false, false, ""}});
  // The second panel raised and the third without a bevel: the bar's own
  // drawing types.
  SendMessageW(StatusBar1->handle(), SB_SETTEXTW, 1 | SBT_POPOUT, reinterpret_cast<LPARAM>(L"\t凸起"));
  SendMessageW(StatusBar1->handle(), SB_SETTEXTW, 2 | SBT_NOBORDERS, reinterpret_cast<LPARAM>(L"无边框"));
  return true;
}

skin::CompanionHost* TGalleryForm::companions() {
  skin::TSkinManager* manager = skin::TSkinManager::instance();
  auto* s = manager ? dynamic_cast<skin::TFormSkin*>(manager->FindWindowSkin(handle())) : nullptr;
  return s ? s->companions() : nullptr;
}

void TGalleryForm::show_size_grip() {
  const HWND bar = StatusBar1->handle();
  SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | SBARS_SIZEGRIP);
  InvalidateRect(bar, nullptr, TRUE);
}

std::vector<ui::WinControl*> TGalleryForm::controls() const {
  return {Button1,      Button2,      GroupBox1,    CheckBox1,    CheckBox2,   CheckBox3,
          RadioButton1, RadioButton2, RadioButton3, Edit1,        Edit2,       Edit3,
          ComboBox1,    ComboBox2,    ComboBox3,    ProgressBar1, ProgressBar2, ProgressBar3,
          TrackBar1,    UpDown1,      UpDown2,      TabControl1,  TabControl2, TabControl3,
          PageControl1, TabSet1,      StatusBar1};
}

}  // namespace clip::test
