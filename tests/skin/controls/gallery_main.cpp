// The gallery program: the gallery form skinned with the program's skin, or
// with the skin file given as `--skin FILE`, for screenshots
// (scripts/screenshot --title 控件样例 ...).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <string_view>

#include "skin/controls/gallery.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/message_pump.h"
#include "ui/wide.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::string skin_file;
  int argc = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i + 1 < argc; ++i)
      if (std::wstring_view(argv[i]) == L"--skin") skin_file = ui::narrow(argv[i + 1]);
    LocalFree(argv);
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  ui::Application& app = ui::Application::instance();
  app.title = "控件样例";
  ui::Component root(nullptr, "Application");
  auto* gallery = root.make<clip::test::TGalleryForm>(skin_file);
  app.set_main_form(gallery);
  gallery->OnClose = [] { PostQuitMessage(0); };
  if (!gallery->build()) return 1;
  if (!skin_file.empty() && gallery->SkinData1.not_ready()) {
    MessageBoxW(nullptr, (L"The skin file could not be loaded: " + ui::widen(skin_file)).c_str(), L"控件样例",
                MB_ICONERROR);
    return 1;
  }
  clip::skin::paint::start_painting();
  clip::skin::TSkinManager::create().set_window_skin_factory(clip::skin::attach_form_skin);
  clip::skin::Loaded(gallery->SkinData1, gallery);
  gallery->show();
  // The grip goes back on once the companions are on (skinning takes it off).
  clip::test::pump_until([&] {
    clip::skin::CompanionHost* host = gallery->companions();
    return host && host->FindSkinControl(gallery->StatusBar1->handle());
  });
  gallery->show_size_grip();
  app.run();
  clip::skin::TSkinManager::destroy();
  clip::skin::paint::stop_painting();
  return 0;
}
