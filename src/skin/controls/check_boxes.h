// Skinned check boxes and radio buttons: the platform's box or circle is
// painted over with a picture from the skin's "Buttons" element (a strip of
// equal frames: unchecked, checked, disabled unchecked, disabled checked or
// third state), the caption stays as the control painted it. The control
// keeps its own press, keyboard and toggling; the companion paints again
// after every message that makes the platform draw its box.
#pragma once

#include "skin/controls/control_geometry.h"
#include "skin/controls/skin_control.h"

namespace clip::skin {

class TSkinCheckBox : public TSkinControl {
 public:
  TSkinCheckBox() : TSkinControl(Companion::check_box) {}
  void AfterMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  // The frame of the picture as it would be painted now (from 1).
  int frame() const;

 protected:
  explicit TSkinCheckBox(Companion kind) : TSkinControl(kind) {}
  bool radio() const noexcept { return kind() == Companion::radio_button; }
  CheckState check_state() const;
};

class TSkinRadioButton : public TSkinCheckBox {
 public:
  TSkinRadioButton() : TSkinCheckBox(Companion::radio_button) {}
};

}  // namespace clip::skin
