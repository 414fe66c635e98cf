#include <windows.h>

#include "app/about_form.h"
#include "app/command_line.h"
#include "app/main_form.h"
#include "app/startup.h"
#include "skin/frame/form_skin.h"
#include "skin/frame/popup_menu.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  const app::ProcessStartup startup;
  // Made here, on the GUI thread, before any window or hook could report a
  // failure to it.
  ui::Application& app = ui::Application::instance();
  app.title = "264格式硬盘录像机恢复程序";
  ui::Component root(nullptr, "Application");
  auto* Form1 = root.make<app::TForm1>(clip::sources::make_system_probe());
  app.set_main_form(Form1);
  Form1->OnClose = [&app] { app.terminate(); };
  if (!Form1->create()) {
    MessageBoxW(nullptr, L"\u65e0\u6cd5\u521b\u5efa\u4e3b\u7a97\u53e3\uff01", L"ClipSalvage", MB_ICONERROR);  // 无法创建主窗口！
    return 1;
  }
  auto* Form2 = root.make<app::TForm2>();
  Form2->owner_window = Form1->handle();
  Form2->create();
  Form1->OnAbout = [Form2] { Form2->show_modal(); };
  // The skin manager skins every top-level window on its first activation,
  // with the main window's skin data; without a usable skin it stays inactive
  // and the windows keep their standard frames.
  clip::skin::paint::start_painting();
  clip::skin::TSkinManager::create().set_window_skin_factory(clip::skin::attach_form_skin);
  clip::skin::TSkinManager::instance()->set_popup_skin_factory(clip::skin::attach_popup_skin);
  clip::skin::Loaded(Form1->SkinData1, Form1);
  Form1->show();
  ShowWindow(Form1->handle(), show);
  Form1->apply_start_options(app::parse_command_line(GetCommandLineW()));
  app.run();
  // Windows go back to their standard frames and the hook goes away before
  // the forms are destroyed.
  clip::skin::TSkinManager::destroy();
  clip::skin::paint::stop_painting();
  return 0;
}
