#include "skin/manager/skin_manager.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "skin/data/skin_win.h"
#include "skin/frame/menu_windows.h"
#include "ui/controls.h"
#include "ui/message_pump.h"

namespace {

using clip::skin::TSkinData;
using clip::skin::TSkinFormType;
using clip::skin::TSkinManager;
using clip::skin::WindowSkin;

struct Event {
  std::string what;
  HWND hwnd;
};

struct Journal {
  std::vector<Event> events;
  void add(std::string what, HWND hwnd) { events.push_back({std::move(what), hwnd}); }
  int count(const std::string& what, HWND hwnd = nullptr) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const Event& e) {
      return e.what == what && (!hwnd || e.hwnd == hwnd);
    }));
  }
  // Position of the first such event, or -1.
  int first(const std::string& what) const {
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i].what == what) return static_cast<int>(i);
    return -1;
  }
  int last(const std::string& what) const {
    for (size_t i = events.size(); i-- > 0;)
      if (events[i].what == what) return static_cast<int>(i);
    return -1;
  }
};

// Stands in for the real window skin: subclasses the window so that it
// answers the skin query message and sees the start message, and writes
// every call the manager makes into the journal, which outlives it.
class RecordingSkin : public WindowSkin {
 public:
  RecordingSkin(HWND hwnd, ui::Form* form, TSkinData& data, Journal& journal)
      : hwnd_(hwnd), form_(form), data_(&data), journal_(journal) {
    SetPropW(hwnd, kProp, this);
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingSkin::proc)));
    journal_.add("attach", hwnd);
  }
  ~RecordingSkin() override {
    detach();
    journal_.add("free", hwnd_);
  }

  HWND handle() const override { return hwnd_; }
  int skin_state() const override { return state_; }
  TSkinData* skin_data() const override { return data_; }
  bool is_mdi_child() const override { return false; }
  void UnskinWindow() override {
    journal_.add("unskin", hwnd_);
    detach();
  }
  void reload() override { journal_.add("reload", hwnd_); }
  void repaint() override { journal_.add("repaint", hwnd_); }
  void set_mdi_maximized(bool) override {}

  ui::Form* form() const { return form_; }

 private:
  static constexpr const wchar_t* kProp = L"RecordingSkin";

  void detach() {
    if (!previous_) return;
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    RemovePropW(hwnd_, kProp);
    previous_ = nullptr;
  }

  static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = static_cast<RecordingSkin*>(GetPropW(hwnd, kProp));
    WNDPROC previous = self->previous_;
    if (msg == clip::skin::kSkinQueryMessage) return 1;
    if (msg == clip::skin::kSkinStartMessage && wparam == 0 && lparam == 1000) {
      self->state_ = skinned;
      self->journal_.add("start", hwnd);
      return 0;
    }
    if (msg == WM_NCDESTROY) {
      self->detach();
      self->state_ = finished;
    }
    return CallWindowProcW(previous, hwnd, msg, wparam, lparam);
  }

  HWND hwnd_;
  ui::Form* form_;
  TSkinData* data_;
  Journal& journal_;
  WNDPROC previous_ = nullptr;
  int state_ = attached;
};

// Stands in for the real popup-menu skin: records what the manager asks.
class RecordingPopup : public clip::skin::PopupSkin {
 public:
  RecordingPopup(HWND hwnd, TSkinData& data, Journal& journal) : hwnd_(hwnd), data_(&data), journal_(journal) {
    journal_.add("popup attach", hwnd);
  }
  ~RecordingPopup() override { journal_.add("popup free", hwnd_); }
  HWND handle() const override { return hwnd_; }
  TSkinData* skin_data() const override { return data_; }
  HMENU menu() const override { return menu_; }
  void set_menu(HMENU menu) override { menu_ = menu; }
  void DetachPopup() override { journal_.add("popup detach", hwnd_); }
  HBITMAP background() const override { return nullptr; }
  POINT client_origin() const override { return {0, 0}; }

 private:
  HWND hwnd_;
  TSkinData* data_;
  Journal& journal_;
  HMENU menu_ = nullptr;
};

// Shows a popup menu of two items at (40, 40) for `owner`; `inside` runs
// once from the menu loop while the popup is on screen, then the menu is
// closed. False when the popup never showed.
bool while_menu_shown(HWND owner, HMENU menu, const std::function<void(HWND popup)>& inside) {
  using clip::test::visible_menu_windows;
  return clip::test::run_in_menu_loop(
      [&] {
        SetForegroundWindow(owner);
        TrackPopupMenu(menu, TPM_RIGHTBUTTON, 40, 40, 0, owner, nullptr);
      },
      {{clip::test::menu_on_screen(), [&] { inside(visible_menu_windows().front()); }}});
}

INT_PTR CALLBACK ignore_dialog_messages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

using clip::test::pump;
using clip::test::pump_for;
using clip::test::pump_until;

class SkinManagerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_DATE_CLASSES};
    InitCommonControlsEx(&controls);
    for (const wchar_t* name : {L"PlainTop", L"TApplication"}) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = name;
      RegisterClassW(&wc);
    }
  }

  void SetUp() override {
    ASSERT_EQ(TSkinManager::instance(), nullptr);
    main_.apply_main_window_settings();
    ASSERT_TRUE(clip::skin::load_skin_stream_resource(main_));
  }

  void TearDown() override {
    TSkinManager::destroy();
    windows_.clear();
  }

  // Enrols main_ as the program does and registers the recording factory.
  TSkinManager& enrol(TSkinData& data, ui::Form* owner = nullptr) {
    clip::skin::Loaded(data, owner);
    TSkinManager& manager = *TSkinManager::instance();
    manager.set_window_skin_factory([this](HWND hwnd, ui::Form* form, TSkinData& d) {
      auto skin = std::make_unique<RecordingSkin>(hwnd, form, d, journal_);
      return std::unique_ptr<WindowSkin>(std::move(skin));
    });
    return manager;
  }

  HWND top_level(const wchar_t* class_name, int width = 300, int height = 200, DWORD style = WS_OVERLAPPEDWINDOW) {
    HWND hwnd = CreateWindowExW(0, class_name, L"test", style, 10, 10, width, height, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    windows_.emplace_back(hwnd);
    return hwnd;
  }

  ui::Form* form(const char* name, int tag = 0) {
    auto* f = root_.make<ui::Form>(name);
    f->client_width = 320;
    f->client_height = 240;
    f->Tag = tag;
    f->create();
    return f;
  }

  static void activate(HWND hwnd) {
    ShowWindow(hwnd, SW_SHOW);
    SetActiveWindow(hwnd);
    pump();
  }

  void record_popups(TSkinManager& manager) {
    manager.set_popup_skin_factory([this](HWND popup, TSkinData& d) {
      return std::unique_ptr<clip::skin::PopupSkin>(std::make_unique<RecordingPopup>(popup, d, journal_));
    });
  }

  // A menu of two items, destroyed with the test.
  HMENU menu() {
    menus_.emplace_back(CreatePopupMenu(), &DestroyMenu);
    AppendMenuW(menus_.back().get(), MF_STRING, 1, L"one");
    AppendMenuW(menus_.back().get(), MF_STRING, 2, L"two");
    return menus_.back().get();
  }

  RecordingSkin* skin_of(HWND hwnd) const {
    return static_cast<RecordingSkin*>(TSkinManager::instance()->FindWindowSkin(hwnd));
  }

  TSkinData main_;
  Journal journal_;
  std::vector<std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&DestroyMenu)>> menus_;
  std::vector<ui::unique_hwnd> windows_;
  ui::Component root_{nullptr, "root"};
};

TEST_F(SkinManagerTest, EnrolmentInstallsHookAndSwitchesOnWithoutTimer) {
  TSkinManager& manager = enrol(main_);
  EXPECT_TRUE(manager.hook_installed());
  EXPECT_TRUE(manager.active());
  EXPECT_FALSE(manager.timer_running());
  EXPECT_EQ(manager.activation_count(), 0);
  ASSERT_EQ(manager.skin_data().size(), 1u);
  EXPECT_EQ(manager.skin_data()[0], &main_);
}

TEST_F(SkinManagerTest, FirstActivationAttachesOnceAndStartsTheSkin) {
  TSkinManager& manager = enrol(main_);
  ui::Form* f = form("Form1");
  HWND a = f->handle();
  HWND b = top_level(L"PlainTop");
  activate(a);
  EXPECT_EQ(manager.activation_count(), 1);
  ASSERT_NE(skin_of(a), nullptr);
  EXPECT_EQ(skin_of(a)->form(), f);
  EXPECT_EQ(skin_of(a)->skin_data(), &main_);
  ASSERT_TRUE(pump_until([&] { return journal_.count("start", a) == 1; }));
  EXPECT_EQ(skin_of(a)->skin_state(), WindowSkin::skinned);

  // A plain window has no form object; activating back and forth and asking
  // directly attaches nothing more.
  activate(b);
  ASSERT_NE(skin_of(b), nullptr);
  EXPECT_EQ(skin_of(b)->form(), nullptr);
  activate(a);
  activate(b);
  EXPECT_FALSE(manager.SkinWindow(a));
  EXPECT_EQ(journal_.count("attach", a), 1);
  EXPECT_EQ(journal_.count("attach", b), 1);
  EXPECT_EQ(manager.window_skin_count(), 2u);
}

TEST_F(SkinManagerTest, WindowsThatAreNeverSkinned) {
  TSkinManager& manager = enrol(main_);
  main_.DisableTag = 5;  // the form test does not depend on DisableTag
  ui::Form* tagged = form("Tagged", 99);
  activate(tagged->handle());
  HWND zero = top_level(L"PlainTop", 0, 0, WS_POPUP);
  activate(zero);
  EXPECT_FALSE(manager.SkinWindow(zero));
  HWND application = top_level(L"TApplication");
  activate(application);
  EXPECT_EQ(manager.window_skin_count(), 0u);
  EXPECT_EQ(journal_.count("attach"), 0);
  // The same kind of form with another Tag is skinned.
  ui::Form* plain = form("Plain", 199);
  activate(plain->handle());
  EXPECT_NE(skin_of(plain->handle()), nullptr);
}

TEST_F(SkinManagerTest, FormSkinQuestionAndItsHandler) {
  TSkinManager& manager = enrol(main_);
  HWND calendar = top_level(MONTHCAL_CLASSW, 250, 200, WS_POPUP | WS_BORDER);
  activate(calendar);
  EXPECT_EQ(skin_of(calendar), nullptr);
  EXPECT_TRUE(manager.AskFormSkin("TfrPreview"));
  main_.SkinControls.add(clip::skin::xcFastReport);
  EXPECT_FALSE(manager.AskFormSkin("TfrPreview"));
  EXPECT_TRUE(manager.AskFormSkin("TFRPreview"));

  // With a handler, the handler alone decides, for every class.
  std::vector<std::string> asked;
  main_.OnFormSkin = [&](TSkinData& sender, std::string_view name, bool& do_skin) {
    EXPECT_EQ(&sender, &main_);
    EXPECT_TRUE(do_skin);
    asked.emplace_back(name);
    do_skin = name != "PlainTop";
  };
  EXPECT_TRUE(manager.AskFormSkin("TfrPreview"));
  EXPECT_TRUE(manager.SkinWindow(calendar));
  HWND plain = top_level(L"PlainTop");
  activate(plain);
  EXPECT_EQ(skin_of(plain), nullptr);
  EXPECT_NE(std::find(asked.begin(), asked.end(), "SysMonthCal32"), asked.end());
  EXPECT_NE(std::find(asked.begin(), asked.end(), "PlainTop"), asked.end());
}

TEST_F(SkinManagerTest, DialogsUseTheDialogSkinDataWhenOneIsEnrolled) {
  struct {
    DLGTEMPLATE head;
    WORD menu, cls, title;
  } tmpl{};
  tmpl.head.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  tmpl.head.cx = 150;
  tmpl.head.cy = 80;
  auto dialog = [&] {
    HWND hwnd = CreateDialogIndirectW(GetModuleHandleW(nullptr), &tmpl.head, nullptr, &ignore_dialog_messages);
    windows_.emplace_back(hwnd);
    return hwnd;
  };
  TSkinManager& manager = enrol(main_);
  HWND first = dialog();
  ASSERT_NE(first, nullptr);
  activate(first);
  ASSERT_NE(skin_of(first), nullptr);
  EXPECT_EQ(skin_of(first)->skin_data(), &main_);

  auto dialogs = std::make_unique<TSkinData>();
  dialogs->SkinFormtype = TSkinFormType::sfDialog;
  ASSERT_TRUE(clip::skin::load_skin_stream_resource(*dialogs));
  clip::skin::Loaded(*dialogs, nullptr);
  HWND second = dialog();
  activate(second);
  ASSERT_NE(skin_of(second), nullptr);
  EXPECT_EQ(skin_of(second)->skin_data(), dialogs.get());
  EXPECT_EQ(manager.ChooseSkinData(top_level(L"PlainTop")), &main_);

  // Skin data for one form only wins for that form; enrolling it skins its
  // form at once.
  ui::Form* own = form("Own");
  ShowWindow(own->handle(), SW_SHOWNA);
  TSkinData only;
  only.SkinFormtype = TSkinFormType::sfOnlyThisForm;
  ASSERT_TRUE(clip::skin::load_skin_stream_resource(only));
  clip::skin::Loaded(only, own);
  ASSERT_NE(skin_of(own->handle()), nullptr);
  EXPECT_EQ(skin_of(own->handle())->skin_data(), &only);

  // Skin data going away takes its window skins with it.
  const size_t before = manager.window_skin_count();
  dialogs.reset();
  EXPECT_EQ(skin_of(second), nullptr);
  EXPECT_EQ(journal_.count("unskin", second), 1);
  EXPECT_EQ(manager.window_skin_count(), before - 1);
  EXPECT_EQ(manager.skin_data().size(), 2u);
}

TEST_F(SkinManagerTest, DeactivatingUnskinsEveryWindowLaterThenNotifies) {
  TSkinManager& manager = enrol(main_);
  int changed = 0;
  main_.OnSkinChanged = [&](TSkinData&) {
    ++changed;
    journal_.add("changed", nullptr);
  };
  ui::Form* f = form("Form1");
  HWND plain = top_level(L"PlainTop");
  activate(f->handle());
  activate(plain);
  ASSERT_EQ(manager.window_skin_count(), 2u);

  const ULONGLONG asked = GetTickCount64();
  clip::skin::SetActive(main_, false);
  EXPECT_FALSE(main_.Active);
  EXPECT_TRUE(manager.timer_running());
  EXPECT_EQ(journal_.count("unskin"), 0) << "nothing changes inside the property writer";
  ASSERT_TRUE(pump_until([&] { return changed == 1; }));
  EXPECT_GE(GetTickCount64() - asked, 200u);
  EXPECT_EQ(journal_.count("unskin", f->handle()), 1);
  EXPECT_EQ(journal_.count("unskin", plain), 1);
  EXPECT_EQ(journal_.count("free"), 2);
  EXPECT_LT(journal_.last("free"), journal_.first("changed"));
  EXPECT_EQ(manager.window_skin_count(), 0u);
  EXPECT_FALSE(manager.active());
  EXPECT_FALSE(manager.timer_running());
  EXPECT_EQ(manager.pending(), nullptr);

  // Setting the same value again does nothing; no window is skinned while
  // inactive.
  clip::skin::SetActive(main_, false);
  EXPECT_FALSE(manager.timer_running());
  activate(f->handle());
  EXPECT_EQ(manager.window_skin_count(), 0u);

  // Switching on again skins the visible forms from the timer.
  clip::skin::SetActive(main_, true);
  ASSERT_TRUE(pump_until([&] { return changed == 2; }));
  EXPECT_NE(skin_of(f->handle()), nullptr);
  EXPECT_EQ(skin_of(plain), nullptr) << "plain windows wait for their next activation";
  EXPECT_EQ(journal_.count("attach", f->handle()), 2);
}

TEST_F(SkinManagerTest, DeactivateBeforeAnyActivationOnlyClearsTheFlag) {
  TSkinManager& manager = enrol(main_);
  int changed = 0;
  main_.OnSkinChanged = [&](TSkinData&) { ++changed; };
  HWND plain = top_level(L"PlainTop");
  ASSERT_TRUE(manager.SkinWindow(plain));
  ASSERT_EQ(manager.activation_count(), 0);
  clip::skin::SetActive(main_, false);
  EXPECT_FALSE(manager.active());
  EXPECT_FALSE(manager.timer_running());
  pump_for(500);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(journal_.count("unskin"), 0);
  EXPECT_EQ(manager.window_skin_count(), 1u);
}

TEST_F(SkinManagerTest, SkinDataThatIsNotReadyNeverSkins) {
  TSkinData empty;
  empty.apply_main_window_settings();
  TSkinManager& manager = enrol(empty);
  EXPECT_FALSE(empty.Active) << "an unreadable skin turns Active off at enrolment";
  EXPECT_FALSE(manager.active());
  manager.Request(TSkinManager::kActivate, TSkinManager::kDeferInterval);
  ASSERT_TRUE(manager.active());
  HWND plain = top_level(L"PlainTop");
  activate(plain);
  EXPECT_FALSE(manager.SkinWindow(plain));
  EXPECT_EQ(journal_.count("attach"), 0);
}

TEST_F(SkinManagerTest, SizeGripIsRefusedOnlyInsideSkinnedWindows) {
  TSkinManager& manager = enrol(main_);
  HWND skinned = top_level(L"PlainTop");
  HWND standard = top_level(L"PlainTop");
  ASSERT_TRUE(manager.SkinWindow(skinned));
  auto scroll_bar = [](HWND parent, DWORD style) {
    return CreateWindowExW(0, L"SCROLLBAR", nullptr, WS_CHILD | WS_VISIBLE | style, 0, 0, 16, 16, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  };
  EXPECT_EQ(scroll_bar(skinned, SBS_SIZEGRIP), nullptr);
  EXPECT_NE(scroll_bar(skinned, SBS_HORZ), nullptr);
  EXPECT_NE(scroll_bar(standard, SBS_SIZEGRIP), nullptr);
}

TEST_F(SkinManagerTest, DestroyedWindowsArePurgedAndRefreshGoesThroughTheTimer) {
  TSkinManager& manager = enrol(main_);
  int changed = 0;
  main_.OnSkinChanged = [&](TSkinData&) {
    ++changed;
    journal_.add("changed", nullptr);
  };
  HWND a = top_level(L"PlainTop");
  HWND b = top_level(L"PlainTop");
  activate(a);
  activate(b);
  ASSERT_EQ(manager.window_skin_count(), 2u);
  windows_.erase(windows_.begin());  // destroys a
  EXPECT_EQ(manager.window_skin_count(), 2u) << "freed by the next purge";
  manager.PurgeWindowSkins();
  EXPECT_EQ(manager.window_skin_count(), 1u);
  EXPECT_EQ(journal_.count("free", a), 1);
  EXPECT_EQ(journal_.count("unskin", a), 0);

  // A new skin archive file: every window skin re-reads at once, then the
  // deferred refresh re-reads and repaints and the event follows.
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + "manager_test.skn";
  {
    std::ofstream out(path, std::ios::binary);
    const auto& bytes = main_.skin_stream();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ASSERT_TRUE(clip::skin::SetSkinFile(main_, path));
  std::remove(path.c_str());
  EXPECT_EQ(journal_.count("reload", b), 1);
  EXPECT_EQ(journal_.count("repaint", b), 0);
  ASSERT_TRUE(pump_until([&] { return changed == 1; }));
  EXPECT_EQ(journal_.count("reload", b), 2);
  EXPECT_EQ(journal_.count("repaint", b), 1);
  EXPECT_LT(journal_.last("repaint"), journal_.first("changed"));

  EXPECT_FALSE(clip::skin::SetSkinFile(main_, path)) << "the file is gone";
  EXPECT_TRUE(main_.not_ready());
  EXPECT_EQ(journal_.count("reload", b), 2);
  EXPECT_FALSE(manager.timer_running());
}

TEST_F(SkinManagerTest, DestroyRemovesTheHookAndGivesWindowsBack) {
  TSkinManager& manager = enrol(main_);
  HWND plain = top_level(L"PlainTop");
  activate(plain);
  ASSERT_EQ(manager.window_skin_count(), 1u);
  HHOOK hook = manager.hook();
  ASSERT_NE(hook, nullptr);
  TSkinManager::destroy();
  EXPECT_EQ(TSkinManager::instance(), nullptr);
  EXPECT_EQ(journal_.count("unskin", plain), 1);
  EXPECT_EQ(journal_.count("free", plain), 1);
  EXPECT_EQ(SendMessageW(plain, clip::skin::kSkinQueryMessage, 0, 0), 0);
  EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "the hook is already gone";
  // Skin data outliving the manager leaves without touching it.
  HWND later = top_level(L"PlainTop");
  activate(later);
  EXPECT_EQ(journal_.count("attach"), 1);
}

}  // namespace

namespace {

TEST_F(SkinManagerTest, EveryMenuWindowHasAPopupSkinWhileItIsOpen) {
  TSkinManager& manager = enrol(main_);
  record_popups(manager);
  HWND owner = top_level(L"PlainTop");
  const HMENU shown = menu();
  HWND seen = nullptr;
  clip::skin::PopupSkin* during = nullptr;
  ASSERT_TRUE(while_menu_shown(owner, shown, [&](HWND popup) {
    seen = popup;
    EXPECT_EQ(manager.popup_skin_count(), 1u);
    EXPECT_TRUE(manager.IsPopupMenuSkinned(popup));
    // Nothing has painted an item of it: the window itself says what it shows.
    during = manager.FindPopupMenuSkin(shown);
    ASSERT_NE(during, nullptr);
    EXPECT_EQ(during->handle(), popup);
    EXPECT_EQ(during->menu(), shown) << "learned from the window";
    manager.set_current_popup(during);
  }));
  EXPECT_EQ(journal_.count("popup attach", seen), 1);
  EXPECT_EQ(journal_.count("popup detach", seen), 1) << "the window was given back before it went";
  EXPECT_LT(journal_.last("popup detach"), journal_.last("popup free"));
  EXPECT_EQ(manager.popup_skin_count(), 0u);
  EXPECT_EQ(manager.current_popup(), nullptr) << "no reference to a freed popup skin stays";
  EXPECT_EQ(manager.FindPopupMenuSkin(shown), nullptr);
}

TEST_F(SkinManagerTest, PopupMenusStayStandardWhenSkinningIsOffOrLeavesMenusOut) {
  TSkinManager& manager = enrol(main_);
  record_popups(manager);
  HWND owner = top_level(L"PlainTop");
  main_.SkinControls.remove(clip::skin::xcMainMenu);
  ASSERT_TRUE(while_menu_shown(owner, menu(), [&](HWND) { EXPECT_EQ(manager.popup_skin_count(), 0u); }));
  main_.SkinControls.add(clip::skin::xcMainMenu);
  clip::skin::SetActive(main_, false);
  manager.run_pending_action();  // as the timer would
  ASSERT_FALSE(manager.active());
  ASSERT_TRUE(while_menu_shown(owner, menu(), [&](HWND) { EXPECT_EQ(manager.popup_skin_count(), 0u); }));
  EXPECT_EQ(journal_.count("popup attach"), 0);
}

TEST_F(SkinManagerTest, TheCurrentPopupLearnsOnlyTheMenuItShows) {
  TSkinManager& manager = enrol(main_);
  record_popups(manager);
  HWND owner = top_level(L"PlainTop");
  const HMENU shown = menu(), other = menu();
  ASSERT_TRUE(while_menu_shown(owner, shown, [&](HWND popup) {
    ASSERT_EQ(manager.popup_skin_count(), 1u);
    EXPECT_TRUE(manager.IsPopupMenuSkinned(popup));
    EXPECT_EQ(manager.FindPopupMenuSkin(other), nullptr) << "no window shows it";
    clip::skin::PopupSkin* skin = manager.FindPopupMenuSkin(shown);
    ASSERT_NE(skin, nullptr);
    // An item of a menu this window does not show teaches it nothing.
    skin->set_menu(nullptr);
    manager.set_current_popup(skin);
    manager.LearnPopupMenu(other);
    EXPECT_EQ(skin->menu(), nullptr);
    EXPECT_EQ(manager.current_popup(), skin) << "it waits for an item of its own";
    manager.LearnPopupMenu(shown);
    EXPECT_EQ(skin->menu(), shown);
    EXPECT_EQ(manager.current_popup(), nullptr);
  }));
}

}  // namespace
