// Skinned group boxes and radio groups: the platform's etched frame is
// painted over with the skin's button face and replaced by a thin rounded
// frame in its button-shadow colour, with the caption on a button-face
// background that covers the frame line behind it. The group's children get
// companions of their own.
#pragma once

#include "skin/controls/skin_control.h"

namespace clip::skin {

class TSkinGroupBox : public TSkinControl {
 public:
  TSkinGroupBox() : TSkinControl(Companion::group_box) {}
  void DrawSkin(HDC dc, const RECT& rect) override;
};

}  // namespace clip::skin
