// Skinned tab controls and tab sets.
//
// A tab control keeps its own painting; the companion paints the tab strip
// and the page border over it. The strip is always composed lying
// horizontally, as for tabs on top, and turned into place for tabs on the
// left or right, so one tab picture serves every side (for tabs at the bottom
// it is flipped instead). The arrows a single-line tab control shows when its
// tabs don't fit get a companion of their own and stay uncovered.
//
// A tab set paints nothing of its own while skinned: the companion draws the
// tabs that fit from the first visible one on.
#pragma once

#include "skin/controls/control_geometry.h"
#include "skin/controls/skin_control.h"

namespace clip::skin {

class TSkinUpDown;

class TSkinTab : public TSkinControl {
 public:
  TSkinTab() : TSkinControl(Companion::tab) {}
  void HookWindow(HWND hwnd, TSkinData& data, CompanionHost& host) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  void RefreshSkin() override;

  TabSide side() const noexcept { return side_; }
  // Whether the skin gave tab and border pictures to paint with.
  bool has_pictures() const noexcept { return tab_picture_ && border_picture_; }
  // The companion of the control's scroll arrows, once found.
  TSkinUpDown* up_down() const;

 private:
  void prepare_pictures();
  // Looks for the arrows (attaching a companion to them); answers whether
  // they are visible.
  bool find_up_down();
  void draw_strip(HDC dc, const Rect& window, const Rect& page, const TDataSkinBorder& e);
  void draw_tab(HDC dc, int index, const Rect& face, int frame, const TDataSkinBorder& e);

  TabSide side_ = TabSide::top;
  ui::gdi_object<HBITMAP> tab_picture_;
  ui::gdi_object<HBITMAP> border_picture_;
  // Looked up in the companion list each time: the arrows may go first.
  HWND up_down_window_ = nullptr;
};

class TSkinTab31 : public TSkinControl {
 public:
  TSkinTab31() : TSkinControl(Companion::tab31) {}
  void HookControl(CompanionHost& host, TSkinData& data, bool keep_colour, ui::WinControl& control) override;
  bool BeforeMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  void RefreshSkin() override;

  TSkinUpDown* up_down() const;

 private:
  void prepare_picture();
  ui::gdi_object<HBITMAP> tab_picture_;
  HWND arrows_window_ = nullptr;
};

}  // namespace clip::skin
