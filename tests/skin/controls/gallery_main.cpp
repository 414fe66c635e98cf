// The gallery program: the gallery form skinned with the program's skin, for
// screenshots (scripts/screenshot --title 控件样例 ...).
#include <windows.h>
#include <commctrl.h>

#include "skin/controls/gallery.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  ui::Application& app = ui::Application::instance();
  app.title = "控件样例";
  ui::Component root(nullptr, "Application");
  auto* gallery = root.make<clip::test::TGalleryForm>();
  app.set_main_form(gallery);
  gallery->OnClose = [] { PostQuitMessage(0); };
  if (!gallery->build()) return 1;
  clip::skin::paint::start_painting();
  clip::skin::TSkinManager::create().set_window_skin_factory(clip::skin::attach_form_skin);
  clip::skin::Loaded(gallery->SkinData1, gallery);
  gallery->show();
  app.run();
  clip::skin::TSkinManager::destroy();
  clip::skin::paint::stop_painting();
  return 0;
}
