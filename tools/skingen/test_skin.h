// The colours of the full test skin. Each optional element the control
// companions read is drawn there as solid frames, every frame in a colour of
// its own, so a test that reads a pixel back knows which frame of which
// element was painted at that place. The generator and the tests share this.
#pragma once

#include <cstdint>

namespace clip::testskin {

enum class Probe : uint8_t {
  status_edges,   // StatusBarEdges: frame 1 sunk, 2 raised, 3 no border
  extra_images,   // ExtraImages: combo glyph by face, frame 5 the size grip
  updown_vert,    // UpDown.Vert faces: state 1-4, +4 for the lower button
  updown_vert_glyph,
  updown_horz,    // UpDown.Horz faces: state 1-4, +4 for the right button
  updown_horz_glyph,
  thumb_horz,     // Trackbar.ThumbHorz
  thumb_vert,     // Trackbar.ThumbVert
  progress_chunk, // the block of the progress bar's block style
  combo_button,   // ComboButton faces: normal, pressed, disabled, hot
  tab_border,     // the border around a tab control's page
};

// 0xRRGGBB of frame `frame` (from 1) of `probe`: red and green step with the
// element and frame, blue stays fixed so no colour is the transparent key.
constexpr uint32_t colour(Probe probe, int frame) {
  return uint32_t(0x10 + 0x16 * int(probe)) << 16 | uint32_t(0x1C * frame) << 8 | 0x5A;
}

// The same colour as GDI reads it back (0x00BBGGRR).
constexpr uint32_t colorref(Probe probe, int frame) {
  const uint32_t c = colour(probe, frame);
  return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

}  // namespace clip::testskin
