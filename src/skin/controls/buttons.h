// Skinned buttons: push buttons (framework buttons and the "button" children
// of system dialogs and message boxes), bitmap buttons with a glyph beside the
// caption, and windowless speed buttons. They track the hot and pressed
// states, make the click themselves (the press never reaches the platform's
// button, so it never captures the mouse: a press released elsewhere clicks
// nothing) and paint the face from the skin's "Buttons" element. A window
// has at most one hot button; the one that becomes hot tells the other that
// the mouse left it.
#pragma once

#include "skin/controls/control_geometry.h"
#include "skin/controls/skin_control.h"
#include "ui/controls.h"

namespace clip::skin {

// A caption (tabs expanded) centred both ways in rect, drawn transparently.
void draw_centred_caption(HDC dc, const RECT& rect, const std::wstring& caption);

class TSkinButton : public TSkinControl {
 public:
  TSkinButton() : TSkinControl(Companion::button) {}
  bool BeforeMessage(SkinMessage& m) override;
  void AfterMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  // The face as it would be painted now.
  virtual Face face() const;

 protected:
  explicit TSkinButton(Companion kind) : TSkinControl(kind) {}
  bool has_element() const;
  // Refreshes focused, enabled and the caption from the window.
  void refresh();
  void become_hot();
  void mouse_left();
  void click();
  // The work bitmap, made again when the face's size changed.
  bool ensure_work(int width, int height);
  // Fills width x height of `dc` with the button-face colour and paints
  // frame `face` of the element's `frames` over it.
  void paint_face(HDC dc, int width, int height, Face face, int frames);
  // The caption's colour: `normal` or the element's second colour of the
  // face where the skin gives one, the button-shadow colour when disabled.
  COLORREF caption_colour(Face face, COLORREF normal) const;

  ui::gdi_object<HBITMAP> work_;
  SIZE work_size_{0, 0};
};

// A bitmap button: the glyph for the face state beside the caption.
class TSkinBitButton : public TSkinButton {
 public:
  TSkinBitButton() : TSkinButton(Companion::bit_button) {}
  void DrawSkin(HDC dc, const RECT& rect) override;
  Face face() const override;

 protected:
  explicit TSkinBitButton(Companion kind) : TSkinButton(kind) {}
  // Glyph (the image of `face` when there are four) and caption, laid out on
  // `dc` within rect.
  void draw_glyph_caption(HDC dc, const RECT& rect, const ui::Glyph& glyph, const std::wstring& caption, Face face,
                          COLORREF normal);
};

// A windowless speed button: painted into its parent's DC, pressed and down
// states from the button itself.
class TSkinSpeedButton : public TSkinBitButton {
 public:
  TSkinSpeedButton() : TSkinBitButton(Companion::speed_button) {}
  bool BeforeMessage(SkinMessage& m) override;
  void AfterMessage(SkinMessage& m) override;
  void Redraw(HDC dc = nullptr) override;
  Face face() const override;

 private:
  ui::SpeedButton* button() const;
  void paint(HDC dc, const RECT& rect);
};

}  // namespace clip::skin
