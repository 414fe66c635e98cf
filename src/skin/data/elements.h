// Skin elements and colours built from the skin description. Each element is
// one bitmap strip of FrameCount equal frames plus fixed margins, tiling,
// transparency and state colours; an absent element (null slot) means that
// part is drawn the standard way.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "skin/data/bitmap24.h"
#include "skin/data/ini.h"

namespace clip::skin {

// A colour as the Windows colour functions take it: RGB with red in the low
// byte, or 0x80000000 plus a system colour index.
using Colour = uint32_t;
inline constexpr Colour kNoColour = 0x1FFFFFFF;
constexpr Colour rgb(unsigned r, unsigned g, unsigned b) { return (r & 255) | (g & 255) << 8 | (b & 255) << 16; }
constexpr Colour system_colour(unsigned index) { return 0x80000000u | index; }

// Three decimal numbers separated by any non-digits ("232 232 232",
// "1,2,3"). Numbers after the third are ignored; a text with only two
// numbers yields RGB(first, 0, 0), as the description format has always read
// it. Each component is taken modulo 256.
Colour parse_colour_text(std::string_view text);

struct TDataSkinObject {
  explicit TDataSkinObject(std::string name) : Name(std::move(name)) {}
  virtual ~TDataSkinObject() = default;

  int32_t LeftWidth = 0;
  int32_t TopHeight = 0;
  int32_t RightWidth = 0;
  int32_t BottomHeight = 0;
  Pixels24 Bitmap;
  int32_t Trans = 0;
  int32_t Tile = 0;
  std::string Name;
  int32_t FrameCount = 0;
  int32_t Style = 0;
  int32_t NormalColour = 0;
  int32_t MouseOverColour = 0;
  int32_t PressedColour = 0;
  Colour NormalColour2 = 0;
  Colour MouseOverColour2 = 0;
  Colour PressedColour2 = 0;
};

struct TDataSkinBorder : TDataSkinObject {
  using TDataSkinObject::TDataSkinObject;
  Pixels24 Bitmap2;
};

struct TDataSkinTitle : TDataSkinObject {
  using TDataSkinObject::TDataSkinObject;
  int32_t TextAlignment = 0;
  int32_t Textbackground = 0;
  int32_t FontHeight = 0;
  int32_t TXTBackleft = 0;
  int32_t TXTBackRight = 0;
  Colour ActiveText = 0;
  Colour InActiveText = 0;
};

struct TDataSkinButton : TDataSkinObject {
  using TDataSkinObject::TDataSkinObject;
  Pixels24 CheckBitmap;
  Pixels24 RadioBitmap;
  int32_t RadioButtonFrame = 0;
  int32_t CheckButtonFrame = 0;
  bool HasNormalColour2 = false;
  bool HasMouseOverColour2 = false;
  bool HasPressedColour2 = false;
};

struct TDataSkinSysButton : TDataSkinObject {
  using TDataSkinObject::TDataSkinObject;
  int32_t Action = 0;
  int32_t Align = 0;
  int32_t Xcoord = 0;
  int32_t Ycoord = 0;
  int32_t CombineOp = 0;
  int32_t Visibility = 0;
  int32_t Visibility1 = 0;
};

struct TDataSkinBoxLabel : TDataSkinObject {
  using TDataSkinObject::TDataSkinObject;
  int32_t BackgroundLeftShift = 0;
  int32_t BackgroundRightShift = 0;
  int32_t BackgroundAlignment = 0;
};

// The 16 skin colours, in the order the description lists them.
enum class SkinColour {
  WindowText, ButtonFace, Scrollbar, HilightText, Hilight, Menubar, Menu, MenuText, ButtonText,
  ButtonHilight, Buttonlight, ButtonShadow, ButtonDkShadow, MenuBarText, TitleTextActive, TitleTextNoActive,
};
inline constexpr size_t kSkinColourCount = 16;
std::string_view skin_colour_key(SkinColour c);

struct SkinElements {
  SkinElements();

  std::array<Colour, kSkinColourCount> colours{};
  Colour colour(SkinColour c) const { return colours[size_t(c)]; }

  // Always present once built (possibly with empty bitmaps).
  std::unique_ptr<TDataSkinBorder> Left, Right, Top, Bottom;
  std::unique_ptr<TDataSkinTitle> Title;
  std::unique_ptr<TDataSkinButton> Buttons;
  // Caption buttons in file order, then the three MDI child controls.
  std::vector<std::unique_ptr<TDataSkinSysButton>> TitleButtons;

  // Optional: null when the description has no such section.
  std::unique_ptr<TDataSkinObject> MenuBar;
  std::unique_ptr<TDataSkinBorder> Progress;
  std::unique_ptr<TDataSkinObject> GroupBoxEdge;
  std::unique_ptr<TDataSkinBoxLabel> GroupBox;
  std::unique_ptr<TDataSkinObject> Toolbars;
  std::unique_ptr<TDataSkinBorder> Tabs;
  std::unique_ptr<TDataSkinObject> StatusBarEdges;
  std::unique_ptr<TDataSkinBorder> ComboButton;
  std::unique_ptr<TDataSkinObject> SunkEdge, ExtraImages, Headerbar, MenuItem, MenuBackground;
  std::unique_ptr<TDataSkinObject> Scrollbar, HorzScroll, VertScroll, HorzScrollThumb, VertScrollThumb;
  std::unique_ptr<TDataSkinObject> TrackbarThumbHorz, TrackbarThumbVert, TrackbarThumbLeft, TrackbarThumbRight,
      TrackbarThumbUp, TrackbarThumbDown;
  std::unique_ptr<TDataSkinBorder> UpDownHorz, UpDownVert;
};

// Looks a bitmap entry up by its bare, lower-cased file name; returns an
// empty buffer when the entry is missing or not a valid BMP.
using EntryBitmapLoader = std::function<Pixels24(std::string_view file_name)>;

// Applies the entry-name rule: only the part after the last '\\', '/' or ':'
// counts, and its extension must be exactly ".bmp"; otherwise empty.
Pixels24 load_entry_bitmap(const EntryBitmapLoader& loader, std::string_view value);

// Builds every element and colour. Counts below 1 become 1 and negative
// margins 0, so the painting code never divides by zero or inverts a piece.
SkinElements build_skin_elements(const IniDocument& ini, const EntryBitmapLoader& loader);

}  // namespace clip::skin
