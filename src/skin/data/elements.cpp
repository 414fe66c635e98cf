#include "skin/data/elements.h"

#include <algorithm>
#include <cctype>

namespace clip::skin {
namespace {

// System colour indices the defaults refer to.
enum : unsigned {
  kColorScrollbar = 0, kColorMenu = 4, kColorMenuText = 7, kColorWindowText = 8, kColorCaptionText = 9,
  kColorHighlight = 13, kColorHighlightText = 14, kColorBtnFace = 15, kColorBtnShadow = 16, kColorBtnText = 18,
  kColorInactiveCaptionText = 19, kColorBtnHighlight = 20, kColor3dDkShadow = 21,
};

constexpr std::string_view kColourKeys[kSkinColourCount] = {
    "WindowText",    "ButtonFace",   "Scrollbar",  "HilightText",    "Hilight",     "Menubar",
    "Menu",          "MenuText",     "ButtonText", "ButtonHilight",  "Buttonlight", "ButtonShadow",
    "ButtonDkShadow", "MenuBarText", "TitleTextActive", "TitleTextNoActive",
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

struct Reader {
  const IniDocument& ini;
  const EntryBitmapLoader& loader;
  const SkinElements& skin;

  int32_t i(std::string_view section, std::string_view key, int32_t def) const { return ini.read_int(section, key, def); }
  std::string s(std::string_view section, std::string_view key) const { return ini.read_string(section, key); }
  Pixels24 bitmap(std::string_view section, std::string_view key) const {
    return load_entry_bitmap(loader, s(section, key));
  }
  Colour colour(std::string_view section, std::string_view key, Colour def) const {
    std::string v = s(section, key);
    return v.empty() ? def : parse_colour_text(v);
  }
  bool present(std::string_view section, std::string_view key) const { return !s(section, key).empty(); }

  void margins(TDataSkinObject& e, std::string_view section) const {
    e.LeftWidth = i(section, "LeftWidth", 0);
    e.RightWidth = i(section, "RightWidth", 0);
    e.TopHeight = i(section, "TopHeight", 0);
    e.BottomHeight = i(section, "BottomHeight", 0);
    e.Trans = i(section, "Trans", 0);
    e.Tile = i(section, "Tile", 0);
  }
  void state_colours(TDataSkinObject& e, std::string_view section) const {
    e.NormalColour = i(section, "NormalColour", -1);
    e.MouseOverColour = i(section, "MouseOverColour", -1);
    e.PressedColour = i(section, "PressedColour", -1);
    const Colour text = skin.colour(SkinColour::ButtonText);
    e.NormalColour2 = colour(section, "NormalColour2", text);
    e.MouseOverColour2 = colour(section, "MouseOverColour2", text);
    e.PressedColour2 = colour(section, "PressedColour2", text);
  }

  template <class T>
  std::unique_ptr<T> plain(std::string_view section) const {
    if (!present(section, "Image")) return nullptr;
    auto e = std::make_unique<T>(std::string(section));
    e->Bitmap = bitmap(section, "Image");
    e->Style = i(section, "Style", 0);
    margins(*e, section);
    state_colours(*e, section);
    if (e->Tile > 1) e->Tile = 0;
    return e;
  }

  std::unique_ptr<TDataSkinBorder> bordered(std::string_view section, std::string_view second) const {
    if (!present(section, "Image")) return nullptr;
    auto e = std::make_unique<TDataSkinBorder>(std::string(section));
    e->Bitmap = bitmap(section, "Image");
    if (!second.empty() && present(section, second)) e->Bitmap2 = bitmap(section, second);
    e->Style = i(section, "Style", 0);
    margins(*e, section);
    state_colours(*e, section);
    if (e->Tile > 1) e->Tile = 0;
    return e;
  }

  void border(TDataSkinBorder& e, std::string_view name) const {
    constexpr std::string_view p = "Personality";
    const std::string n(name);
    const int32_t first = i(p, n + "TopHeight", 0), second = i(p, n + "BotHeight", 0);
    if (name == "Left" || name == "Right") {
      e.TopHeight = first;
      e.BottomHeight = second;
      e.LeftWidth = e.RightWidth = 0;
    } else {
      e.LeftWidth = first;
      e.RightWidth = second;
      e.TopHeight = e.BottomHeight = 0;
    }
    e.FrameCount = i(p, n + "Frame", 1);
    e.Tile = i(p, n + "Stretch", 1);
    e.Trans = i(p, n + "Trans", 1);
    e.Bitmap = bitmap(p, n);
  }
};

void sanitise(TDataSkinObject* e) {
  if (!e) return;
  e->FrameCount = std::max(e->FrameCount, 1);
  e->LeftWidth = std::max(e->LeftWidth, 0);
  e->RightWidth = std::max(e->RightWidth, 0);
  e->TopHeight = std::max(e->TopHeight, 0);
  e->BottomHeight = std::max(e->BottomHeight, 0);
}

void set_frames(TDataSkinObject* e, int32_t count) {
  if (e) e->FrameCount = count;
}

int32_t small_glyph_frames(const Pixels24& b) {
  const int d = b.height < 16 ? 13 : 16;
  return std::max(b.width / d, 4);
}

Pixels24 columns(const Pixels24& src, int x0, int w) {
  Pixels24 out(w, src.height);
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < w; ++x) out.set_rgb(x, y, src.rgb(x0 + x, y));
  return out;
}

void read_title_buttons(const Reader& r, const IniDocument& ini, SkinElements& skin) {
  skin.TitleButtons.clear();
  for (const std::string& section : ini.section_names()) {
    const std::string up = upper(section);
    if (up == "BUTTONS" || up == "BUTTON.RADIO" || up == "BUTTON.CHECKBOX" || up == "BUTTON") continue;
    if (up.rfind("BUTTON", 0) != 0) continue;
    if (r.i(section, "Action", 0) == -1 && r.i(section, "Visibility", -1) != 0) continue;
    auto b = std::make_unique<TDataSkinSysButton>(up);
    b->Action = r.i(section, "Action", 0);
    b->Align = r.i(section, "Align", 0);
    b->Xcoord = r.i(section, "Xcoord", 0);
    b->Ycoord = r.i(section, "Ycoord", 0);
    b->Visibility = r.i(section, "Visibility", 0);
    b->Visibility1 = r.i(section, "Visibility1", b->Action == -1 ? -1 : 0);
    b->CombineOp = r.i(section, "CombineOp", -1);
    b->FrameCount = r.i(section, "frame", 0);
    b->Bitmap = r.bitmap(section, "ButtonImage");
    if (b->FrameCount == 0) {
      b->FrameCount = 6;
      if (!b->Bitmap.empty())
        b->FrameCount = double(b->Bitmap.width) / double(b->Bitmap.height) <= 3.8 ? 3 : 6;
      if (b->Action < 0) b->FrameCount = 6;
      if (b->Action == 3 || b->Action == 11) b->Bitmap = Pixels24();
    }
    sanitise(b.get());
    skin.TitleButtons.push_back(std::move(b));
  }
  const Pixels24 mdi = r.bitmap("MDICONTROLS", "Image");
  const int a = mdi.width / 12;
  for (int k = 0; k < 3; ++k) {
    auto b = std::make_unique<TDataSkinSysButton>(std::string());
    b->Action = 7 + k;
    b->Align = b->Visibility = b->Visibility1 = 100;
    b->FrameCount = 4;
    if (a > 0) {
      b->Bitmap = columns(mdi, 4 * a * k, 4 * a);
      b->Xcoord = (a + 4) * (3 - k);
    }
    skin.TitleButtons.push_back(std::move(b));
  }
}

}  // namespace

Colour parse_colour_text(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  uint32_t results[4] = {0, 0, 0, 0};
  size_t index = 1;
  std::string buffer;
  // A run too long for a 32-bit integer fails to convert: it stays in the
  // buffer and the result keeps 0, which is how such text has always read.
  auto convert = [&](uint32_t& out) {
    if (buffer.size() > 10) return false;
    uint64_t v = std::stoull(buffer);
    if (v > 0x7FFFFFFF) return false;
    out = uint32_t(v);
    return true;
  };
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      buffer += c;
    } else if (!buffer.empty()) {
      if (index > 3) {
        buffer.clear();  // a fourth number and beyond: ignored
      } else if (convert(results[index])) {
        ++index;
        buffer.clear();
      }
    }
  }
  if (index == 3 && !buffer.empty()) convert(results[3]);
  return rgb(results[1] % 256, results[2] % 256, results[3] % 256);
}

std::string_view skin_colour_key(SkinColour c) { return kColourKeys[size_t(c)]; }

SkinElements::SkinElements()
    : Left(std::make_unique<TDataSkinBorder>("Left")),
      Right(std::make_unique<TDataSkinBorder>("Right")),
      Top(std::make_unique<TDataSkinBorder>("Top")),
      Bottom(std::make_unique<TDataSkinBorder>("Bottom")),
      Title(std::make_unique<TDataSkinTitle>("Title")),
      Buttons(std::make_unique<TDataSkinButton>("Buttons")) {
  const unsigned defaults[kSkinColourCount] = {
      kColorWindowText, kColorBtnFace,      kColorScrollbar,   kColorHighlightText, kColorHighlight, kColorBtnFace,
      kColorMenu,       kColorMenuText,     kColorBtnText,     kColorBtnHighlight,  kColorBtnHighlight,
      kColorBtnShadow,  kColor3dDkShadow,   kColorMenuText,    kColorCaptionText,   kColorInactiveCaptionText};
  for (size_t k = 0; k < kSkinColourCount; ++k) colours[k] = system_colour(defaults[k]);
}

Pixels24 load_entry_bitmap(const EntryBitmapLoader& loader, std::string_view value) {
  const size_t cut = value.find_last_of("\\/:");
  const std::string_view file = cut == std::string_view::npos ? value : value.substr(cut + 1);
  const size_t dot = file.rfind('.');
  if (file.empty() || dot == std::string_view::npos || file.substr(dot) != ".bmp") return {};
  std::string lower(file);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return loader ? loader(lower) : Pixels24();
}

SkinElements build_skin_elements(const IniDocument& ini, const EntryBitmapLoader& loader) {
  SkinElements skin;
  const Reader r{ini, loader, skin};
  constexpr std::string_view p = "Personality";

  r.border(*skin.Left, "Left");
  r.border(*skin.Right, "Right");
  r.border(*skin.Top, "Top");
  r.border(*skin.Bottom, "Bottom");

  for (size_t k = 0; k < kSkinColourCount; ++k) {
    const auto c = SkinColour(k);
    const Colour def = c == SkinColour::Menubar ? skin.colour(SkinColour::ButtonFace) : skin.colours[k];
    skin.colours[k] = r.colour("Colours", skin_colour_key(c), def);
  }

  read_title_buttons(r, ini, skin);

  TDataSkinButton& b = *skin.Buttons;
  constexpr std::string_view bs = "Buttons";
  b.LeftWidth = r.i(bs, "LeftWidth", 0);
  b.RightWidth = r.i(bs, "RightWidth", 0);
  b.TopHeight = r.i(bs, "TopHeight", 0);
  b.BottomHeight = r.i(bs, "BottomHeight", 0);
  b.Trans = r.i(bs, "Trans", 0);
  b.Bitmap = r.bitmap(bs, "Bitmap");
  b.Tile = r.i(bs, "Tile", 0);
  b.CheckBitmap = r.bitmap(bs, "CheckButton");
  b.RadioBitmap = r.bitmap(bs, "RadioButton");
  b.NormalColour = r.i(bs, "NormalColour", -1);
  b.MouseOverColour = r.i(bs, "MouseOverColour", -1);
  b.PressedColour = r.i(bs, "PressedColour", -1);
  b.RadioButtonFrame = r.i(bs, "RadioButtonFrame", 0);
  b.CheckButtonFrame = r.i(bs, "CheckButtonFrame", 0);
  b.HasNormalColour2 = r.present(bs, "NormalColour2");
  b.HasMouseOverColour2 = r.present(bs, "MouseOverColour2");
  b.HasPressedColour2 = r.present(bs, "PressedColour2");
  const Colour text = skin.colour(SkinColour::ButtonText);
  b.NormalColour2 = r.colour(bs, "NormalColour2", text);
  b.MouseOverColour2 = r.colour(bs, "MouseOverColour2", text);
  b.PressedColour2 = r.colour(bs, "PressedColour2", text);

  TDataSkinTitle& t = *skin.Title;
  t.Bitmap = r.bitmap(p, "TextBack");
  t.LeftWidth = r.i(p, "TextShift", 0);
  t.TopHeight = r.i(p, "TextShiftVert", 0);
  t.RightWidth = r.i(p, "TextRightClip", 0);
  t.BottomHeight = 0;
  t.TextAlignment = r.i(p, "TextAlignment", 0);
  t.Textbackground = r.i(p, "Textbackground", 0);
  t.TXTBackleft = r.i(p, "TXTBackleft", 0);
  t.TXTBackRight = r.i(p, "TXTBackRight", 0);
  t.FontHeight = r.i("Fonts", "FontHeight", 14);
  t.ActiveText = t.InActiveText = kNoColour;
  auto triple = [&](std::string_view base, Colour& out) {
    const std::string n(base);
    const int32_t cr = r.i(p, n + "R", -1), cg = r.i(p, n + "G", -1), cb = r.i(p, n + "B", -1);
    if (cr >= 0 && cg >= 0 && cb >= 0) out = rgb(unsigned(cr), unsigned(cg), unsigned(cb));
  };
  triple("ActiveText", t.ActiveText);
  triple("InActiveText", t.InActiveText);

  if (r.present("Progress", "Bitmap")) {
    auto e = std::make_unique<TDataSkinBorder>("Progress");
    e->Bitmap = r.bitmap("Progress", "Bitmap");
    if (r.present("Progress", "Chunk")) e->Bitmap2 = r.bitmap("Progress", "Chunk");
    e->Style = r.i("Progress", "Style", 0);
    r.margins(*e, "Progress");
    skin.Progress = std::move(e);
  }

  if (r.present(p, "menuBar")) {
    auto e = std::make_unique<TDataSkinObject>("Personality");
    e->Bitmap = r.bitmap(p, "menuBar");
    e->Tile = r.i(p, "TileMenu", 0);
    e->LeftWidth = r.i(p, "TileLeftMenu", 1);
    e->RightWidth = r.i(p, "TileRightMenu", 1);
    skin.MenuBar = std::move(e);
  }

  skin.GroupBoxEdge = r.plain<TDataSkinObject>("GroupBoxEdge");
  skin.GroupBox = r.plain<TDataSkinBoxLabel>("GroupBox");
  if (skin.GroupBox) {
    skin.GroupBox->BackgroundAlignment = r.i("GroupBox", "BackgroundAlignment", 0);
    skin.GroupBox->BackgroundLeftShift = r.i("GroupBox", "BackgroundLeftShift", 0);
    skin.GroupBox->BackgroundRightShift = r.i("GroupBox", "BackgroundRightShift", 0);
  }
  skin.Toolbars = r.plain<TDataSkinObject>("Toolbars");
  skin.Tabs = r.bordered("Tabs", "Border");
  skin.StatusBarEdges = r.plain<TDataSkinObject>("StatusBarEdges");
  skin.ComboButton = r.bordered("ComboButton", {});
  if (skin.ComboButton && !skin.ComboButton->Bitmap.empty()) {
    skin.ComboButton->Bitmap2 = skin.ComboButton->Bitmap;
    mirror(skin.ComboButton->Bitmap2);
  }
  skin.SunkEdge = r.plain<TDataSkinObject>("SunkEdge");
  skin.ExtraImages = r.plain<TDataSkinObject>("ExtraImages");
  skin.Headerbar = r.plain<TDataSkinObject>("Headerbar");
  skin.MenuItem = r.plain<TDataSkinObject>("MenuItem");
  skin.MenuBackground = r.plain<TDataSkinObject>("MenuBackground");
  skin.Scrollbar = r.plain<TDataSkinObject>("Scrollbar");
  skin.HorzScroll = r.plain<TDataSkinObject>("HorzScroll");
  skin.VertScroll = r.plain<TDataSkinObject>("VertScroll");
  skin.HorzScrollThumb = r.plain<TDataSkinObject>("HorzScrollThumb");
  skin.VertScrollThumb = r.plain<TDataSkinObject>("VertScrollThumb");
  skin.TrackbarThumbHorz = r.plain<TDataSkinObject>("Trackbar.ThumbHorz");
  skin.TrackbarThumbVert = r.plain<TDataSkinObject>("Trackbar.ThumbVert");
  skin.TrackbarThumbLeft = r.plain<TDataSkinObject>("Trackbar.ThumbLeft");
  skin.TrackbarThumbRight = r.plain<TDataSkinObject>("Trackbar.ThumbRight");
  skin.TrackbarThumbUp = r.plain<TDataSkinObject>("Trackbar.ThumbUp");
  skin.TrackbarThumbDown = r.plain<TDataSkinObject>("Trackbar.ThumbDown");
  skin.UpDownHorz = r.bordered("UpDown.Horz", "GlyphImage");
  skin.UpDownVert = r.bordered("UpDown.Vert", "GlyphImage");

  set_frames(skin.Title.get(), 2);
  set_frames(skin.Buttons.get(), 5);
  set_frames(skin.MenuBar.get(), 2);
  set_frames(skin.Progress.get(), 2);
  set_frames(skin.GroupBoxEdge.get(), 2);
  set_frames(skin.GroupBox.get(), 1);
  set_frames(skin.Toolbars.get(), 5);
  set_frames(skin.Tabs.get(), 5);
  set_frames(skin.StatusBarEdges.get(), 3);
  set_frames(skin.ComboButton.get(), 4);
  set_frames(skin.SunkEdge.get(), 4);
  for (auto* e : {skin.ExtraImages.get(), skin.Headerbar.get(), skin.MenuItem.get()}) set_frames(e, 5);
  set_frames(skin.MenuBackground.get(), 1);
  set_frames(skin.Scrollbar.get(), 23);
  set_frames(skin.HorzScroll.get(), 4);
  set_frames(skin.VertScroll.get(), 4);
  set_frames(skin.HorzScrollThumb.get(), r.i("HorzScrollThumb", "FrameCount", 3));
  set_frames(skin.VertScrollThumb.get(), r.i("VertScrollThumb", "FrameCount", 3));
  for (auto* e : {skin.TrackbarThumbHorz.get(), skin.TrackbarThumbVert.get(), skin.TrackbarThumbLeft.get(),
                  skin.TrackbarThumbRight.get(), skin.TrackbarThumbUp.get(), skin.TrackbarThumbDown.get()})
    set_frames(e, 5);
  set_frames(skin.UpDownHorz.get(), 8);
  set_frames(skin.UpDownVert.get(), 8);
  if (b.RadioButtonFrame == 0) b.RadioButtonFrame = small_glyph_frames(b.RadioBitmap);
  if (b.CheckButtonFrame == 0) b.CheckButtonFrame = small_glyph_frames(b.CheckBitmap);
  b.RadioButtonFrame = std::max(b.RadioButtonFrame, 1);
  b.CheckButtonFrame = std::max(b.CheckButtonFrame, 1);

  for (TDataSkinObject* e : std::initializer_list<TDataSkinObject*>{skin.Left.get(), skin.Right.get(), skin.Top.get(), skin.Bottom.get(),
        skin.Title.get(), skin.Buttons.get(), skin.MenuBar.get(), skin.Progress.get(), skin.GroupBoxEdge.get(),
        skin.GroupBox.get(), skin.Toolbars.get(), skin.Tabs.get(), skin.StatusBarEdges.get(),
        skin.ComboButton.get(), skin.SunkEdge.get(), skin.ExtraImages.get(), skin.Headerbar.get(),
        skin.MenuItem.get(), skin.MenuBackground.get(), skin.Scrollbar.get(), skin.HorzScroll.get(),
        skin.VertScroll.get(), skin.HorzScrollThumb.get(), skin.VertScrollThumb.get(),
        skin.TrackbarThumbHorz.get(), skin.TrackbarThumbVert.get(), skin.TrackbarThumbLeft.get(),
        skin.TrackbarThumbRight.get(), skin.TrackbarThumbUp.get(), skin.TrackbarThumbDown.get(),
        skin.UpDownHorz.get(), skin.UpDownVert.get()})
    sanitise(e);
  return skin;
}

}  // namespace clip::skin
