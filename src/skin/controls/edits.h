// Skinned edits, combo boxes and up-down controls.
//
// An edit keeps the platform's painting and gets a thin two-colour border
// painted over its sunken edge. A combo box keeps its edit area and gets the
// skin's sunken frame and drop-down button around it, in the face of its
// state (pressed, focused or hot, normal, disabled). An up-down control is
// painted completely by the companion: two arrow buttons, the one under the
// pointer showing the press or the hot state, so a held press follows the
// pointer from one half to the other as the control's own repeat does.
#pragma once

#include "skin/controls/control_geometry.h"
#include "skin/controls/skin_control.h"

namespace clip::skin {

class TSkinUpDown;

class TSkinEdit : public TSkinControl {
 public:
  TSkinEdit() : TSkinControl(Companion::edit) {}
  bool BeforeMessage(SkinMessage& m) override;
  void AfterMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  // The companion of the up-down control inside the edit, once found.
  TSkinUpDown* up_down() const;

 private:
  void find_up_down();
  // The border as a printed picture of the edit shows it.
  void draw_printed(HDC dc);
  // Looked up in the companion list each time: the up-down control may
  // go before the edit does.
  HWND up_down_window_ = nullptr;
};

class TSkinComBox : public TSkinControl {
 public:
  TSkinComBox() : TSkinControl(Companion::combo_box) {}
  void AfterMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  // The face painted now (a frame number, from 1).
  Face face() const;

 private:
  void refresh_state();
  void draw_simple(HDC dc, const RECT& rect, const TDataSkinBorder& button);
};

class TSkinUpDown : public TSkinControl {
 public:
  TSkinUpDown() : TSkinControl(Companion::up_down) {}
  bool BeforeMessage(SkinMessage& m) override;
  void AfterMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;

  bool in_edit = false;     // drawn one pixel inside the client area
  bool in_tab_set = false;  // buttons side by side whatever the style
  // The states the two buttons are painted with now (up or left first).
  std::pair<int, int> states() const;

 private:
  UpDownButtons buttons() const;
  void draw_button(HDC dc, const Rect& button, int kind, int state) const;
  // Which half was under the pointer at the last paint: a move that changes
  // it repaints.
  int painted_half_ = -1;
};

}  // namespace clip::skin
