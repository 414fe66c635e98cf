#include "app/about_form.h"

#include <shellapi.h>

#include "ui/resources.h"
#include "ui/wide.h"

namespace app {

namespace {
// Component, left, top, text: the labels size themselves to their text.
struct LabelSpec {
  const char* name;
  int left, top;
  const char* text;
};
constexpr LabelSpec kLabels[] = {
    {"Label1", 216, 16, "264格式（监控）硬盘录像机恢复程序可以处理以下故障 ："},
    {"Label7", 224, 40, "1。在Windows平台下初始化硬盘"},
    {"Label8", 225, 66, "2。在录像机上初始化硬盘"},
    {"Label9", 224, 94, "3。误删除录像"},
    {"Label10", 224, 121, "4。硬盘物理故障导致监控平台无法读取视频"},
    {"Label11", 16, 184, "MORVANE"},
    {"Label12", 136, 184, TForm2::kFirstAddress},
    {"Label13", 264, 184, TForm2::kSecondAddress},
};
constexpr RECT kLogo{8, 16, 8 + 201, 16 + 153};
constexpr RECT kClose{440, 184, 440 + 73, 184 + 29};
}  // namespace

TForm2::TForm2(ui::Component* owner) : ui::Form(owner, "Form2") {
  caption = "Form2";
  client_width = 543;
  client_height = 225;
  border_icons = ui::BorderIcons::system_menu_only;
  Image1 = make<ui::Image>("Image1");
  Image1->set_bounds(kLogo.left, kLogo.top, kLogo.right - kLogo.left, kLogo.bottom - kLogo.top);
  Image1->cursor = IDC_ARROW;
  Image1->picture = ui::load_jpeg_resource(L"LOGO");
  Image1->OnClick = [this] { Image1Click(); };
  Image1->set_parent(this);
  ui::Label** slots[] = {&Label1, &Label7, &Label8, &Label9, &Label10, &Label11, &Label12, &Label13};
  for (size_t i = 0; i < std::size(kLabels); ++i) {
    *slots[i] = make<ui::Label>(kLabels[i].name);
    (*slots[i])->set_bounds(kLabels[i].left, kLabels[i].top, 0, 0);
    (*slots[i])->set_parent(this);
  }
  Label12->cursor = Label13->cursor = IDC_HAND;
  Label12->OnClick = [this] { Label12Click(); };
  Label13->OnClick = [this] { Label13Click(); };
  SpeedButton1 = make<ui::SpeedButton>("SpeedButton1");
  SpeedButton1->caption = "关  闭";
  SpeedButton1->set_bounds(kClose.left, kClose.top, kClose.right - kClose.left, kClose.bottom - kClose.top);
  SpeedButton1->OnClick = [this] { SpeedButton1Click(); };
  SpeedButton1->set_parent(this);
  // Enter and Esc close the window as the button does.
  default_button = cancel_button = SpeedButton1;
  open_address = [](HWND owner, const char* verb, const std::string& address) {
    ShellExecuteW(owner, verb ? ui::widen(verb).c_str() : nullptr, ui::widen(address).c_str(), nullptr, nullptr,
                  SW_SHOWNORMAL);
  };
}

bool TForm2::create() {
  if (!ui::Form::create()) return false;
  // Labels measure their text with the form's font, which exists now.
  for (size_t i = 0; i < std::size(kLabels); ++i)
    static_cast<ui::Label*>(find_component(kLabels[i].name))->set_caption(kLabels[i].text);
  return true;
}

void TForm2::Image1Click() { open_address(handle(), nullptr, std::string(kFirstAddress) + "/"); }
void TForm2::Label12Click() { open_address(handle(), nullptr, std::string(kFirstAddress) + "/"); }
void TForm2::Label13Click() { open_address(handle(), "open", std::string(kSecondAddress) + "/"); }
void TForm2::SpeedButton1Click() { close(); }

}  // namespace app
