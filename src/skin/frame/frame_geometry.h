// The arithmetic of a skinned window frame, kept apart from the window code so
// that it needs no window: frame sizes from the border bitmaps, the client
// area, the classification of non-client points, which caption buttons show
// and where they go, where the caption text sits, and which parts make up
// the window region. Window styles come in as plain numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "skin/data/elements.h"
#include "skin/paint/geometry.h"

namespace clip::skin {

using paint::Rect;

enum class ShowState { normal = 0, maximized = 1, minimized = 2 };

// Pixel sizes of the painted frame.
struct FrameMetrics {
  int left = 0, caption = 0, right = 0, bottom = 0, menu_bar = 0;
  friend constexpr bool operator==(const FrameMetrics&, const FrameMetrics&) = default;
};

// The style bits the frame looks at (the values of the Windows headers).
namespace style_bits {
inline constexpr uint32_t kPopup = 0x80000000u;
inline constexpr uint32_t kChild = 0x40000000u;
inline constexpr uint32_t kCaption = 0x00C00000u;
inline constexpr uint32_t kSysMenu = 0x00080000u;
inline constexpr uint32_t kThickFrame = 0x00040000u;
inline constexpr uint32_t kMinimizeBox = 0x00020000u;
inline constexpr uint32_t kMaximizeBox = 0x00010000u;
inline constexpr uint32_t kExWindowEdge = 0x00000100u;
inline constexpr uint32_t kExMdiChild = 0x00000040u;
inline constexpr uint32_t kExLeftScrollBar = 0x00004000u;
}  // namespace style_bits

// 2: a popup without a full caption, never framed; 0: an edged or sizeable
// window; 3: any other window.
enum class FrameKind { edged = 0, captionless = 2, plain = 3 };
FrameKind frame_kind(uint32_t style, uint32_t ex_style);

// Whether the skin can frame a window at all: every border bitmap holds at
// least one frame. A skin without them would leave a window without a
// caption to move or close it by, so such a window keeps its standard frame.
bool skin_can_frame(const SkinElements& elements);

// Border sizes: the caption is one frame of the top bitmap (frames stacked),
// the sides one frame of their bitmaps (frames side by side). A captionless
// window gets no frame at all.
FrameMetrics frame_metrics(const SkinElements& elements, FrameKind kind, int menu_bar_height);

// The client area of a width x height window in window coordinates.
Rect client_area(int width, int height, const FrameMetrics& m);

// How a point the standard hit test calls nowhere is classified, by its window
// coordinates: the top three rows stay nowhere (so the window edge can still be
// reached), the caption bar is caption, the menu-bar strip is menu, and the
// rest of the frame is border.
enum class FrameHit { nowhere, caption, menu, border };
FrameHit classify_frame_point(int x, int y, int width, const FrameMetrics& m);

// What the visibility rules of a caption button ask about the window.
struct ButtonFacts {
  FrameKind kind = FrameKind::edged;
  bool system_menu = true;
  bool maximize_box = true;
  bool minimize_box = true;
  ShowState show = ShowState::normal;
  bool active = true;
  bool mdi_frame_child_maximized = false;  // an MDI frame whose active child is maximized
  int menu_bar_height = 0;
};
bool title_button_visible(const TDataSkinSysButton& button, const ButtonFacts& facts);

inline bool is_icon_button(const TDataSkinSysButton& b) { return b.Action == 3 || b.Action == 11; }

// Where a visible caption button of size width x height goes, by its Align;
// nullopt keeps its previous place. Right-aligned buttons push `rightmost`
// (the rightmost left edge among them) up to their left edge.
struct ButtonPlace {
  int window_width = 0;
  Rect caption_text;
  FrameMetrics metrics;
  bool right_to_left = false;
  const TDataSkinObject* menu_bar = nullptr;  // for its left margin
};
std::optional<Rect> place_title_button(const TDataSkinSysButton& button, int width, int height, const ButtonPlace& at,
                                       int& rightmost);

// Where the caption text goes. `measured` is the size of the caption as
// measured (prefix, one more space, caption) in the caption font; `area` is
// the caption bar between the side borders. The result is the text plate's
// rectangle; the text itself is drawn in it less the plate's caps.
struct CaptionPlace {
  Rect area;
  int text_width = 0, text_height = 0;
  bool right_to_left = false;
  bool popup = false;
  int rightmost = 0;
};
Rect place_caption_text(const TDataSkinTitle& title, const CaptionPlace& at);

// One part of the window region: a plain rectangle, or the opaque pixels of a
// border piece painted at `rect` (its size is the piece's size).
enum class Border { left = 1, right = 2, top = 3, bottom = 4 };
struct RegionPart {
  Rect rect;
  std::optional<Border> from_bitmap;  // none: the plain rectangle
  friend bool operator==(const RegionPart&, const RegionPart&) = default;
};
// Empty when no border is transparent: the region is then the whole window.
// A caption or bottom border one pixel high is always a plain rectangle.
std::vector<RegionPart> region_parts(int width, int height, const FrameMetrics& m, const SkinElements& elements,
                                     FrameKind kind);

}  // namespace clip::skin
