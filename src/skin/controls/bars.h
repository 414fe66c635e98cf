// Skinned status bars and progress bars.
//
// A status bar is painted completely by the companion: the skin's face, each
// panel's frame (the "StatusBarEdges" picture of its bevel, or a plain
// three-dimensional line), its text and the size grip; the bar's own
// painting, owner-drawn panels included, does not run. A progress bar keeps
// its own painting and gets the skin's trough and bar painted over it, the
// bar as long as the position is of the upper limit. A track bar keeps its
// channel and tick marks and gets the skin's thumb through its custom
// drawing.
#pragma once

#include "skin/controls/control_geometry.h"
#include "skin/controls/skin_control.h"

namespace clip::skin {

class TSkinStatusBar : public TSkinControl {
 public:
  TSkinStatusBar() : TSkinControl(Companion::status_bar) {}
  bool BeforeMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;

 private:
  // Bevel: 1 lowered, 2 raised, 3 none.
  void draw_panel(HDC dc, const Rect& panel, const std::wstring& text, TextAlign align, int bevel);
};

class TSkinProgress : public TSkinControl {
 public:
  TSkinProgress() : TSkinControl(Companion::progress) {}
  void DrawSkin(HDC dc, const RECT& rect) override;

 private:
  void draw_blocks(HDC work, const Rect& r, const TDataSkinBorder& e, int position, int upper);
};

class TSkinTrackBar : public TSkinControl {
 public:
  TSkinTrackBar() : TSkinControl(Companion::track_bar) {}
  bool BeforeMessage(SkinMessage& m) override;

 private:
  void draw_thumb(HDC dc);
};

}  // namespace clip::skin
