// Tab controls and tab sets skinned on real controls under Wine: which frame
// of the tab picture lands where for tabs on each side (pixels read back),
// which way the page border is turned, the arrows of a tab row too long to
// fit left uncovered, the tabs of a tab set that fit, and what happens when
// the controls go while their companions are attached.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "skin/controls/companion_fixture.h"
#include "skin/controls/edits.h"
#include "skin/controls/tabs.h"
#include "skin/handle_counts.h"

namespace clip::skin {
namespace {

using test::pump;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr DWORD kLeft = TCS_VERTICAL | TCS_MULTILINE, kRight = TCS_VERTICAL | TCS_BOTTOM | TCS_MULTILINE;

HWND tab_control(HWND parent, DWORD style, int count, int x = 10, int y = 10, int w = 260, int h = 160) {
  HWND tabs = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, x, y, w, h,
                              parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tabs, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  for (int i = 0; i < count; ++i) {
    std::wstring caption = L"Tab " + std::to_wstring(i + 1);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageW(tabs, TCM_INSERTITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
  }
  return tabs;
}

RECT item_rect(HWND tabs, int index) {
  RECT r{};
  EXPECT_TRUE(SendMessageW(tabs, TCM_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&r)));
  return r;
}

// The page area the border goes around, in window coordinates (the test
// controls have no frame, so client and window coordinates agree).
Rect page_of(HWND tabs, TabSide side) {
  RECT r{};
  GetClientRect(tabs, &r);
  SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  return tab_page_area({r.left, r.top, r.right, r.bottom}, side);
}

// A point of the tab's outer edge (the tab picture's top margin wherever
// the side turned it) and one of its face, both clear of the caption.
struct TabPoints {
  POINT edge, face;
};
TabPoints points_of(const RECT& r, TabSide side) {
  const int mx = (r.left + r.right) / 2, my = (r.top + r.bottom) / 2;
  switch (side) {
    case TabSide::top: return {{r.left + 3, r.top + 2}, {r.left + 3, my + 2}};
    case TabSide::bottom: return {{r.left + 3, r.bottom - 3}, {r.left + 3, my - 2}};
    case TabSide::left: return {{r.left + 2, r.top + 3}, {mx + 2, r.top + 3}};
    case TabSide::right: return {{r.right - 3, r.top + 3}, {mx - 2, r.top + 3}};
  }
  return {};
}

HWND up_down_of(HWND tabs) {
  for (HWND c = GetWindow(tabs, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    GetClassNameW(c, name, 64);
    if (_wcsicmp(name, UPDOWN_CLASSW) == 0) return c;
  }
  return nullptr;
}

using Tabs = Companions;

TEST_F(Tabs, EachSideGetsItsFacesWhereTheControlHasItsTabsAndTheBorderTurnedTheSameWay) {
  const std::pair<DWORD, TabSide> sides[] = {
      {0, TabSide::top}, {TCS_BOTTOM, TabSide::bottom}, {kLeft, TabSide::left}, {kRight, TabSide::right}};
  for (const auto& [style, side] : sides) {
    SCOPED_TRACE(int(side));
    HWND parent = make_plain();
    HWND tabs = tab_control(parent, style, 3);
    SendMessageW(tabs, TCM_SETCURSEL, 1, 0);
    host_.reset();
    CompanionHost& host = host_for(parent, nullptr);
    host.SkinChildWindows();
    auto* skinned = companion_of<TSkinTab>(tabs);
    ASSERT_NE(skinned, nullptr) << "a dialog's tab control gets the tab companion";
    EXPECT_EQ(skinned->side(), side);

    const Picture picture(*skinned, tabs);
    for (int i = 0; i < 3; ++i) {
      const int frame = i == 1 ? 2 : 1;
      const TabPoints p = points_of(item_rect(tabs, i), side);
      EXPECT_EQ(picture.at(p.edge.x, p.edge.y), tab_edge_colour(frame)) << "tab " << i << ": outer edge";
      EXPECT_EQ(picture.at(p.face.x, p.face.y), tab_colour(frame)) << "tab " << i << ": face";
    }

    if (side == TabSide::top) {
      const RECT first = item_rect(tabs, 0);
      EXPECT_EQ(picture.at(first.left, first.top + 1), kFace) << "the key colour of a face is left out";
    }

    // The border's marked top rows face the tabs; the opposite edge is
    // unmarked. Each point is the innermost pixel of its ring edge.
    const Rect a = page_of(tabs, side);
    const int mx = (a.left + a.right) / 2, my = (a.top + a.bottom) / 2;
    const POINT top{mx, a.top + 4}, bottom{mx, a.bottom - 4}, left{a.left + 3, my}, right{a.right - 4, my};
    const std::pair<POINT, POINT> near_far = side == TabSide::top      ? std::pair{top, bottom}
                                             : side == TabSide::bottom ? std::pair{bottom, top}
                                             : side == TabSide::left   ? std::pair{left, right}
                                                                       : std::pair{right, left};
    EXPECT_EQ(picture.at(near_far.first.x, near_far.first.y), kBorderEdge) << "border edge beside the tabs";
    EXPECT_EQ(picture.at(near_far.second.x, near_far.second.y), kBorderRest) << "border edge across the page";
    EXPECT_EQ(picture.at(mx, my), kWhite) << "the page itself is the control's";
  }
}

TEST_F(Tabs, SelectingAnotherTabMovesTheSelectedFaceOnScreen) {
  HWND parent = make_plain();
  HWND tabs = tab_control(parent, 0, 3);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  ASSERT_NE(companion_of<TSkinTab>(tabs), nullptr);
  repaint(parent);
  const TabPoints first = points_of(item_rect(tabs, 0), TabSide::top);
  const TabPoints third = points_of(item_rect(tabs, 2), TabSide::top);
  EXPECT_EQ(on_screen(tabs, first.face.x, first.face.y), tab_colour(2)) << "the first tab starts selected";
  EXPECT_EQ(on_screen(tabs, third.face.x, third.face.y), tab_colour(1));

  // A click on the third tab selects it the way a user does.
  const RECT r = item_rect(tabs, 2);
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(tabs, WM_LBUTTONUP, 0, at);
  ASSERT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 2);
  repaint(parent);
  EXPECT_EQ(on_screen(tabs, first.face.x, first.face.y), tab_colour(1));
  EXPECT_EQ(on_screen(tabs, third.face.x, third.face.y), tab_colour(2));
}

TEST_F(Tabs, SkinWithoutBorderPictureDrawsTheTabsButNoBorder) {
  data_ = make_skin({.tab_border = false});
  HWND parent = make_plain();
  HWND tabs = tab_control(parent, 0, 2);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* skinned = companion_of<TSkinTab>(tabs);
  ASSERT_NE(skinned, nullptr);
  const Picture picture(*skinned, tabs);
  const TabPoints p = points_of(item_rect(tabs, 1), TabSide::top);
  EXPECT_EQ(picture.at(p.face.x, p.face.y), tab_colour(1));
  const Rect a = page_of(tabs, TabSide::top);
  EXPECT_EQ(picture.at((a.left + a.right) / 2, a.bottom - 4), kWhite);
  EXPECT_EQ(picture.at(a.left + 3, (a.top + a.bottom) / 2), kWhite);
}

TEST_F(Tabs, ArrowsOfATabRowTooLongToFitStayUncoveredAndWearTheSkin) {
  HWND parent = make_plain();
  HWND tabs = tab_control(parent, 0, 14, 10, 10, 200, 120);
  HWND arrows = up_down_of(tabs);
  ASSERT_NE(arrows, nullptr) << "the control shows arrows for tabs that don't fit";
  ASSERT_TRUE(IsWindowVisible(arrows));
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* skinned = companion_of<TSkinTab>(tabs);
  ASSERT_NE(skinned, nullptr);
  ASSERT_NE(skinned->up_down(), nullptr) << "the arrows get a companion of their own";
  EXPECT_EQ(skinned->up_down()->handle(), arrows);

  RECT box{}, control{};
  GetWindowRect(arrows, &box);
  GetWindowRect(tabs, &control);
  OffsetRect(&box, -control.left, -control.top);
  const Picture picture(*skinned, tabs);
  EXPECT_EQ(picture.at((box.left + box.right) / 2, (box.top + box.bottom) / 2), kWhite)
      << "the strip leaves the arrows alone";
  EXPECT_NE(picture.at(box.left - 2, (box.top + box.bottom) / 2), kWhite) << "and paints up to them";

  repaint(parent);
  const COLORREF shown = on_screen(arrows, 3, window_size(arrows).cy / 2);
  bool skin_colour = false;
  for (int frame = 1; frame <= 8; ++frame) skin_colour = skin_colour || shown == updown_colour(frame);
  EXPECT_TRUE(skin_colour) << "on screen the arrows show the up-down picture";
}

TEST_F(Tabs, ControlsDestroyedWhileAttachedLeaveNothingAndRepaintsLeakNothing) {
  HWND parent = make_plain();
  std::vector<HWND> controls;
  int y = 5;
  for (DWORD style : {DWORD(0), DWORD(TCS_BOTTOM), kLeft, kRight}) {
    controls.push_back(tab_control(parent, style, 3, 5, y, 140, 40));
    y += 42;
  }
  controls.push_back(tab_control(parent, 0, 14, 150, 5, 140, 60));
  size_t arrows = 0;
  for (HWND h : controls) arrows += up_down_of(h) != nullptr;
  ASSERT_GE(arrows, 1u);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  repaint(parent);
  ASSERT_EQ(host.controls().size(), controls.size() + arrows) << "the tab controls and their arrows";

  const test::HandleCounts start;
  for (int i = 0; i < 100; ++i) repaint(parent);
  test::HandleCounts().expect_equal(start);

  for (HWND h : controls) DestroyWindow(h);
  for (const auto& c : host.controls()) EXPECT_EQ(c->state(), TSkinControl::gone) << companion_name(c->kind());
  host.SweepSkinControls();
  EXPECT_TRUE(host.controls().empty());
  repaint(parent);
}

// ---------------------------------------------------------------------------
// Framework tab controls, page controls and tab sets

class FrameworkTabs : public Companions {
 protected:
  // Set up by `configure` before its window is made (placing it on the
  // shown form makes it).
  template <typename T>
  T* place(const char* name, int x, int y, int w, int h, const std::function<void(T&)>& configure = {}) {
    T* c = form_->make<T>(name);
    c->set_bounds(x, y, w, h);
    if (configure) configure(*c);
    c->set_parent(form_);
    return c;
  }
};

TEST_F(FrameworkTabs, DispatchGivesTabAndPageControlsTheTabCompanionAndATabSetItsOwn) {
  auto* tab_control = place<ui::TabControl>("TabControl1", 10, 10, 200, 80, [](ui::TabControl& c) {
    c.side = ui::TabControl::Side::right;
    c.add_tab("甲");
    c.add_tab("乙");
  });
  auto* pages = place<ui::PageControl>("PageControl1", 10, 100, 200, 80, [](ui::PageControl& c) { c.add_tab("一"); });
  auto* set = place<ui::TabSet>("TabSet1", 10, 200, 300, 22);
  set->set_tabs({"One", "Two"});
  for (ui::WinControl* c : std::initializer_list<ui::WinControl*>{tab_control, pages, set}) ASSERT_TRUE(c->handle());
  EXPECT_EQ(tab_control->tab_count(), 2) << "tabs given before the window exists are added with it";

  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  auto* tab = companion_of<TSkinTab>(tab_control->handle());
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->side(), TabSide::right);
  EXPECT_NE(companion_of<TSkinTab>(pages->handle()), nullptr);
  auto* tab31 = companion_of<TSkinTab31>(set->handle());
  ASSERT_NE(tab31, nullptr);
  ASSERT_NE(tab31->up_down(), nullptr) << "the set's scroll arrows are skinned with it";
  EXPECT_TRUE(tab31->up_down()->in_tab_set);
  EXPECT_EQ(tab31->up_down()->handle(), set->arrows()->handle());
}

TEST_F(FrameworkTabs, TabSetDrawsTheTabsThatFitAndLeavesOutALongOne) {
  auto* set = place<ui::TabSet>("TabSet1", 10, 10, 240, 22);
  set->set_tabs({"One", "A caption far too long to fit in this set at all, longer than the set", "Two", "Three"});
  ASSERT_TRUE(set->handle());
  ASSERT_TRUE(set->arrows()->visible()) << "the tabs don't all fit";
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  auto* skinned = companion_of<TSkinTab31>(set->handle());
  ASSERT_NE(skinned, nullptr);

  // Expected places from the set's own measure: One at the start margin,
  // the long one left out, Two right after One, Three after Two.
  const int one = set->start_margin, two = one + set->text_width("One") + 9;
  const int three = two + set->text_width("Two") + 9, end = three + set->text_width("Three") + 9;
  ASSERT_LT(end + 12, set->width() - set->end_margin) << "Three fits before the arrows";
  {
    const Picture picture(*skinned, set->handle());
    EXPECT_EQ(picture.at(one + 2, 2), tab_colour(2)) << "the selected tab";
    EXPECT_EQ(picture.at(two + 2, 2), tab_colour(1));
    EXPECT_EQ(picture.at(three + 2, 2), tab_colour(1));
    EXPECT_EQ(picture.at(end + 2, 2), kFace) << "nothing after the last tab that fits";
    EXPECT_EQ(picture.at(one + 2, set->height() - 2), tab_edge_colour(2)) << "the faces hang upside down";
  }

  set->set_tab_index(2);
  repaint(form_->handle());
  EXPECT_EQ(on_screen(set->handle(), one + 2, 2), tab_colour(1));
  EXPECT_EQ(on_screen(set->handle(), two + 2, 2), tab_colour(2)) << "the selection shows on screen";

  // Scrolling on by one starts the row at the long tab, which still doesn't fit.
  set->set_first_index(1);
  repaint(form_->handle());
  EXPECT_EQ(on_screen(set->handle(), one + 2, 2), tab_colour(2)) << "Two now comes first";
}

TEST_F(FrameworkTabs, TabSetDestroyedWhileAttachedTakesItsArrowsCompanionAlong) {
  auto* set = place<ui::TabSet>("TabSet1", 10, 10, 120, 22);
  set->set_tabs({"One", "Two", "Three", "Four", "Five", "Six"});
  ASSERT_TRUE(set->handle());
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  ASSERT_EQ(host.controls().size(), 2u);
  repaint(form_->handle());
  DestroyWindow(set->handle());
  for (const auto& c : host.controls()) EXPECT_EQ(c->state(), TSkinControl::gone) << companion_name(c->kind());
  host.SweepSkinControls();
  EXPECT_TRUE(host.controls().empty());
  repaint(form_->handle());
}

}  // namespace
}  // namespace clip::skin
