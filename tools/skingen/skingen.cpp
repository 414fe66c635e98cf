// skingen OUTDIR: draws the program's own skin (bitmaps and description)
// from code and packs it as a skin file. The output depends on nothing but
// this source, so scripts/assets reproduces assets/ byte for byte.
//
// skingen --test-skin FILE: packs the full test skin, the program's skin plus
// every element the control companions can read, the optional ones painted
// in solid colours (skingen/test_skin.h) so tests can tell by a pixel which
// frame of which element was drawn. It is a build product of the tests only.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "skin/data/archive.h"
#include "skingen/test_skin.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One palette for the whole skin: slate title bars, light neutral faces, a
// blue accent for hover and selection, magenta only where pixels are cut out.
enum Ink : uint8_t {
  kKey, kFrame, kTitleDark, kTitleMid, kTitleLight, kFace, kFaceLight, kShadow,
  kDarkShadow, kHover, kPressed, kAccent, kWhite, kText, kDisabled, kClose,
};
constexpr uint32_t kPalette[16] = {
    0xFF00FF, 0x1E2A3A, 0x2B3F5C, 0x3A5683, 0x5477AD, 0xE6E9EE, 0xF6F7F9, 0xA9B1BD,
    0x5E6775, 0xCFE0F7, 0x9EBBE3, 0x2F6FD0, 0xFFFFFF, 0x1A1F26, 0xC8CCD2, 0xC8453C,
};

struct Image {
  int w, h;
  std::vector<uint8_t> px;
  Image(int w_, int h_, Ink fill = kFace) : w(w_), h(h_), px(size_t(w_) * size_t(h_), fill) {}
  void set(int x, int y, Ink c) {
    if (x >= 0 && y >= 0 && x < w && y < h) px[size_t(y) * size_t(w) + size_t(x)] = c;
  }
  void fill(int x, int y, int fw, int fh, Ink c) {
    for (int j = y; j < y + fh; ++j)
      for (int i = x; i < x + fw; ++i) set(i, j, c);
  }
  void hline(int x, int y, int len, Ink c) { fill(x, y, len, 1, c); }
  void vline(int x, int y, int len, Ink c) { fill(x, y, 1, len, c); }
  // A 1-pixel bevel: light top-left, shadow bottom-right (swapped when sunk).
  void bevel(int x, int y, int bw, int bh, Ink light, Ink dark) {
    hline(x, y, bw, light);
    vline(x, y, bh, light);
    hline(x, y + bh - 1, bw, dark);
    vline(x + bw - 1, y, bh, dark);
  }
  void box(int x, int y, int bw, int bh, Ink c) { bevel(x, y, bw, bh, c, c); }
};

// Indexed BMP (4 or 8 bits: the 16-colour palette) or 24-bit, its pixels
// looked up in `colours` (indices beyond the palette only in 24-bit ones).
Bytes bmp(const Image& im, int bpp, const uint32_t* colours = kPalette) {
  const size_t stride = (size_t(im.w) * size_t(bpp) + 31) / 32 * 4;
  const size_t palette = bpp == 1 ? 2 : bpp <= 8 ? 16 : 0;
  const size_t offset = 54 + palette * 4;
  Bytes f(offset + stride * size_t(im.h));
  auto put = [&f](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put(2, uint32_t(f.size()), 4);
  put(10, uint32_t(offset), 4);
  put(14, 40, 4);
  put(18, uint32_t(im.w), 4);
  put(22, uint32_t(im.h), 4);
  put(26, 1, 2);
  put(28, uint32_t(bpp), 2);
  put(34, uint32_t(stride * size_t(im.h)), 4);
  put(38, 2835, 4);
  put(42, 2835, 4);
  put(46, uint32_t(palette), 4);
  for (size_t i = 0; i < palette; ++i) put(54 + i * 4, bpp == 1 ? (i ? 0xFFFFFF : 0) : kPalette[i], 4);
  for (int y = 0; y < im.h; ++y) {
    uint8_t* row = f.data() + offset + stride * size_t(im.h - 1 - y);
    for (int x = 0; x < im.w; ++x) {
      const uint8_t c = im.px[size_t(y) * size_t(im.w) + size_t(x)];
      if (bpp == 24) {
        put(size_t(row - f.data()) + size_t(x) * 3, colours[c], 3);
      } else if (bpp == 1) {
        if (c) row[x / 8] |= uint8_t(0x80 >> (x % 8));
      } else if (bpp == 8) {
        row[x] = c;
      } else {
        row[x / 2] |= uint8_t(x % 2 ? c : c << 4);
      }
    }
  }
  return f;
}

// States of a control face, the frame order the control skins read.
enum class State { normal, pressed, disabled, hover, focused };

void face(Image& im, int x, int y, int w, int h, State s) {
  const Ink fill = s == State::pressed ? kPressed : s == State::hover ? kHover : s == State::disabled ? kFace : kFaceLight;
  im.fill(x, y, w, h, fill);
  im.box(x, y, w, h, s == State::disabled ? kDisabled : s == State::focused || s == State::hover ? kAccent : kDarkShadow);
  if (s == State::pressed) im.hline(x + 1, y + 1, w - 2, kShadow);
  else im.hline(x + 1, y + 1, w - 2, kWhite);
  if (s == State::focused) im.box(x + 1, y + 1, w - 2, h - 2, kHover);
}

// A small solid triangle pointing in dir (0 left, 1 right, 2 up, 3 down).
void arrow(Image& im, int cx, int cy, int dir, Ink c) {
  for (int k = 0; k < 4; ++k)
    for (int t = -k; t <= k; ++t) {
      const int a = k - 2;
      switch (dir) {
        case 0: im.set(cx + a, cy + t, c); break;
        case 1: im.set(cx - a, cy + t, c); break;
        case 2: im.set(cx + t, cy + a, c); break;
        default: im.set(cx + t, cy - a, c); break;
      }
    }
}

Image strip(int w, int h, int frames, void (*draw)(Image&, int x, int fw, int frame)) {
  Image im(w, h);
  const int fw = w / frames;
  for (int f = 0; f < frames; ++f) draw(im, f * fw, fw, f + 1);
  return im;
}

State state_of(int frame) {
  static const State order[] = {State::normal, State::pressed, State::disabled, State::hover, State::focused};
  return order[(frame - 1) % 5];
}

// Caption buttons: 1 normal, 2 hover, 3 pressed, 4 disabled, 5 inactive, 6 inactive hover.
void caption_button(Image& im, int x, int fw, int frame, int glyph) {
  const bool close = glyph == 0;
  const Ink back = frame == 2 ? (close ? kClose : kTitleLight) : frame == 3 ? kTitleDark
                 : frame >= 5 ? kTitleMid : kTitleMid;
  im.fill(x, 0, fw, im.h, kKey);
  im.fill(x + 1, 1, fw - 2, im.h - 2, back);
  im.box(x + 1, 1, fw - 2, im.h - 2, frame == 6 ? kTitleLight : kFrame);
  const Ink g = frame == 4 ? kShadow : frame == 5 ? kShadow : kWhite;
  const int cx = x + fw / 2, cy = im.h / 2;
  if (glyph == 0) {
    for (int d = -3; d <= 3; ++d) {
      im.set(cx + d, cy + d, g);
      im.set(cx + d, cy - d, g);
      im.set(cx + d + 1, cy + d, g);
      im.set(cx + d + 1, cy - d, g);
    }
  } else if (glyph == 1) {
    im.box(cx - 4, cy - 4, 9, 8, g);
    im.hline(cx - 4, cy - 3, 9, g);
  } else {
    im.fill(cx - 4, cy + 2, 9, 2, g);
  }
}

std::string description() {
  return "[Personality]\r\n"
         "Top=top.bmp\r\nTopTopHeight=0\r\nTopBotHeight=137\r\nTopFrame=2\r\nTopStretch=1\r\nTopTrans=1\r\n"
         "Bottom=bottom.bmp\r\nBottomTopHeight=4\r\nBottomBotHeight=4\r\nBottomFrame=2\r\nBottomStretch=1\r\nBottomTrans=0\r\n"
         "Left=left.bmp\r\nLeftTopHeight=25\r\nLeftBotHeight=29\r\nLeftFrame=2\r\nLeftStretch=1\r\nLeftTrans=0\r\n"
         "Right=right.bmp\r\nRightTopHeight=25\r\nRightBotHeight=7\r\nRightFrame=2\r\nRightStretch=1\r\nRightTrans=0\r\n"
         "TextShift=17\r\nTextShiftVert=0\r\nTextRightClip=55\r\nTextAlignment=0\r\n"
         "ActiveTextR=255\r\nActiveTextG=255\r\nActiveTextB=255\r\n"
         "InActiveTextR=176\r\nInActiveTextG=190\r\nInActiveTextB=210\r\n"
         "menuBar=menu.bmp\r\nTileMenu=0\r\nTileLeftMenu=6\r\nTileRightMenu=1\r\n"
         "\r\n[Fonts]\r\nFontHeight=10\r\n"
         "\r\n[Colours]\r\nWindowText=26 31 38\r\nButtonFace=230 233 238\r\nScrollbar=240 242 245\r\n"
         "HilightText=255 255 255\r\nHilight=47 111 208\r\nMenu=246 247 249\r\nMenuText=26 31 38\r\n"
         "ButtonText=26 31 38\r\nButtonHilight=255 255 255\r\nButtonlight=246 247 249\r\nButtonShadow=169 177 189\r\n"
         "ButtonDkShadow=30 42 58\r\nMenuBarText=26 31 38\r\nTitleTextActive=255 255 255\r\nTitleTextNoActive=176 190 210\r\n"
         "\r\n[Button0]\r\nButtonImage=close.bmp\r\nAction=0\r\nAlign=1\r\nXcoord=20\r\nYcoord=2\r\nVisibility=0\r\n"
         "\r\n[Button1]\r\nButtonImage=max.bmp\r\nAction=1\r\nAlign=1\r\nXcoord=40\r\nYcoord=2\r\nVisibility=6\r\n"
         "\r\n[Button2]\r\nButtonImage=min.bmp\r\nAction=2\r\nAlign=1\r\nXcoord=56\r\nYcoord=2\r\nVisibility=8\r\nVisibility1=6\r\n"
         "\r\n[Button3]\r\nButtonImage=\r\nAction=3\r\nAlign=0\r\nXcoord=5\r\nYcoord=3\r\nVisibility=0\r\n"
         "\r\n[Buttons]\r\nBitmap=buttons.bmp\r\nCheckButton=chek.bmp\r\nRadioButton=radio.bmp\r\n"
         "LeftWidth=3\r\nRightWidth=3\r\nTopHeight=3\r\nBottomHeight=3\r\nTrans=0\r\nTile=0\r\n"
         "\r\n[Progress]\r\nBitmap=progress.bmp\r\nLeftWidth=1\r\nRightWidth=0\r\nTopHeight=1\r\nBottomHeight=1\r\nTile=0\r\n"
         "\r\n[GroupBoxEdge]\r\nImage=tabborders3.bmp\r\nLeftWidth=5\r\nRightWidth=5\r\nTopHeight=17\r\nBottomHeight=5\r\nTrans=1\r\n"
         "\r\n[GroupBox]\r\nImage=grouptop.bmp\r\nLeftWidth=3\r\nRightWidth=3\r\nTopHeight=3\r\nBottomHeight=3\r\nTrans=1\r\n"
         "NormalColour=4\r\nBackgroundAlignment=1\r\nBackgroundLeftShift=-5\r\nBackgroundRightShift=-7\r\n"
         "\r\n[Toolbars]\r\nImage=tool.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\nTile=0\r\n"
         "\r\n[Tabs]\r\nImage=tabs.bmp\r\nBorder=tabframe.bmp\r\nLeftWidth=3\r\nRightWidth=3\r\nTopHeight=4\r\nBottomHeight=3\r\nTile=0\r\n"
         "\r\n[ComboButton]\r\nImage=combobut.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\n"
         "\r\n[SunkEdge]\r\nImage=sunkedge.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\n"
         "\r\n[Scrollbar]\r\nImage=scrollb1.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\nTrans=1\r\nTile=0\r\n"
         "\r\n[HorzScroll]\r\nImage=hscroll1.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\nTrans=1\r\nTile=0\r\n"
         "\r\n[VertScroll]\r\nImage=vscroll1.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\nTrans=1\r\nTile=0\r\n"
         "\r\n[HorzScrollThumb]\r\nImage=hscroll2.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\nTrans=1\r\nTile=0\r\n"
         "\r\n[VertScrollThumb]\r\nImage=vscroll2.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\nTrans=1\r\nTile=0\r\n"
         "\r\n[Headerbar]\r\nImage=header.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\nTile=0\r\n"
         "\r\n[MenuItem]\r\nImage=menuitem.bmp\r\nLeftWidth=3\r\nRightWidth=3\r\nTopHeight=3\r\nBottomHeight=3\r\nTrans=1\r\nTile=0\r\n"
         "\r\n[MenuBackground]\r\nImage=menubg.bmp\r\nLeftWidth=3\r\nRightWidth=3\r\nTopHeight=3\r\nBottomHeight=3\r\nTile=0\r\n";
}

}  // namespace

// The program's skin: its bitmaps, then its description.
static std::vector<clip::skin::ArchiveEntry> program_skin() {
  std::vector<clip::skin::ArchiveEntry> entries;
  auto add = [&](const char* name, const Image& im, int bpp) { entries.push_back({name, bmp(im, bpp)}); };

  // Top: two stacked 23-pixel title bars (active, inactive); the right 137
  // pixels hold the caption-button backdrop and the rounded top-right corner.
  Image top(265, 46, kTitleMid);
  for (int f = 0; f < 2; ++f) {
    const int y0 = f * 23;
    const Ink hi = f == 0 ? kTitleLight : kShadow, mid = f == 0 ? kTitleMid : kDarkShadow;
    top.fill(0, y0, 265, 23, mid);
    top.hline(0, y0, 265, kFrame);
    top.hline(0, y0 + 1, 265, hi);
    top.fill(0, y0 + 12, 265, 11, f == 0 ? kTitleDark : kDarkShadow);
    top.hline(0, y0 + 22, 265, kFrame);
    top.vline(264, y0, 23, kFrame);
    for (int k = 0; k < 3; ++k) top.hline(265 - 3 + k, y0 + k, 3 - k, kKey);  // corner cut-out
    top.fill(262, y0, 3, 1, kKey);
  }
  add("top.bmp", top, 8);

  Image bottom(318, 8, kTitleDark);
  for (int f = 0; f < 2; ++f) {
    bottom.fill(0, f * 4, 318, 4, f == 0 ? kTitleDark : kDarkShadow);
    bottom.hline(0, f * 4 + 3, 318, kFrame);
  }
  add("bottom.bmp", bottom, 8);

  for (const char* side : {"left.bmp", "right.bmp"}) {
    Image im(8, 284);
    for (int f = 0; f < 2; ++f) {
      im.fill(f * 4, 0, 4, 284, f == 0 ? kTitleDark : kDarkShadow);
      im.vline(f * 4 + (side[0] == 'l' ? 0 : 3), 0, 284, kFrame);
      im.fill(f * 4, 0, 4, 23, f == 0 ? kTitleMid : kDarkShadow);
      im.hline(f * 4, 0, 4, kFrame);
    }
    add(side, im, 8);
  }

  Image menu(800, 42, kFace);
  for (int f = 0; f < 2; ++f) {
    menu.fill(0, f * 21, 800, 21, f == 0 ? kFaceLight : kFace);
    menu.hline(0, f * 21 + 20, 800, kShadow);
    menu.vline(0, f * 21, 21, kShadow);
  }
  add("menu.bmp", menu, 4);

  add("buttons.bmp", strip(375, 23, 5, [](Image& im, int x, int fw, int f) { face(im, x, 0, fw, im.h, state_of(f)); }), 8);
  add("chek.bmp", strip(56, 14, 4, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, kKey);
        im.fill(x + 1, 1, 12, 12, f >= 3 ? kFace : kWhite);
        im.box(x + 1, 1, 12, 12, f >= 3 ? kDisabled : kDarkShadow);
        if (f % 2 == 0) {
          const Ink c = f >= 3 ? kShadow : kAccent;
          for (int k = 0; k < 3; ++k) { im.set(x + 4 + k, 6 + k, c); im.set(x + 4 + k, 7 + k, c); }
          for (int k = 0; k < 4; ++k) { im.set(x + 7 + k, 8 - k, c); im.set(x + 7 + k, 7 - k, c); }
        }
      }), 8);
  add("radio.bmp", strip(56, 14, 4, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, kKey);
        for (int y = 0; y < 14; ++y)
          for (int i = 0; i < 14; ++i) {
            const int dx = 2 * i - 13, dy = 2 * y - 13, d = dx * dx + dy * dy;
            if (d <= 144) im.set(x + i, y, f >= 3 ? kFace : kWhite);
            if (d > 100 && d <= 160) im.set(x + i, y, f >= 3 ? kDisabled : kDarkShadow);
            if (f % 2 == 0 && d <= 30) im.set(x + i, y, f >= 3 ? kShadow : kAccent);
          }
      }), 8);
  add("progress.bmp", strip(522, 13, 2, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, f == 1 ? kWhite : kAccent);
        im.box(x, 0, fw, im.h, f == 1 ? kShadow : kTitleMid);
        if (f == 2) im.hline(x + 1, 1, fw - 2, kTitleLight);
      }), 4);
  add("tabborders3.bmp", strip(50, 25, 2, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, kKey);
        im.box(x, 8, fw, im.h - 8, f == 1 ? kShadow : kAccent);
        im.box(x + 1, 9, fw - 2, im.h - 10, kWhite);
      }), 4);
  {
    Image frame(20, 18, kFaceLight);
    frame.box(0, 0, 20, 18, kShadow);
    frame.box(1, 1, 18, 16, kWhite);
    add("tabframe.bmp", frame, 24);
  }
  add("tabs.bmp", strip(130, 21, 5, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, kKey);
        const bool sel = f == 2;
        const int y0 = sel ? 0 : 2;
        im.fill(x + 1, y0, fw - 2, im.h - y0, sel ? kFaceLight : f == 4 ? kHover : kFace);
        im.vline(x, y0 + 1, im.h - y0 - 1, kShadow);
        im.vline(x + fw - 1, y0 + 1, im.h - y0 - 1, kShadow);
        im.hline(x + 1, y0, fw - 2, sel ? kAccent : kShadow);
        if (sel) im.hline(x + 1, y0 + 1, fw - 2, kAccent);
      }), 4);
  // Combo buttons: normal, pressed, disabled, then hot (also shown while the
  // box has the focus), the order the combo box picks its frames in.
  add("combobut.bmp", strip(72, 21, 4, [](Image& im, int x, int fw, int f) {
        const State s = f == 1 ? State::normal : f == 2 ? State::pressed : f == 3 ? State::disabled : State::hover;
        face(im, x, 0, fw, im.h, s);
        arrow(im, x + fw / 2, im.h / 2, 3, s == State::disabled ? kShadow : kText);
      }), 4);
  add("sunkedge.bmp", strip(40, 9, 4, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, f == 3 ? kFace : kWhite);
        im.box(x, 0, fw, im.h, f == 2 ? kAccent : kShadow);
        im.hline(x + 1, 1, fw - 2, f == 3 ? kDisabled : kFace);
      }), 4);
  // Scroll bar arrows: per direction normal, pressed, hover, disabled; the
  // frames after the four directions hold plain faces.
  add("scrollb1.bmp", strip(368, 16, 23, [](Image& im, int x, int fw, int f) {
        const int dir = (f - 1) / 4, kind = (f - 1) % 4;
        const State s = kind == 0 ? State::normal : kind == 1 ? State::pressed : kind == 2 ? State::hover : State::disabled;
        face(im, x, 0, fw, im.h, s);
        if (dir < 4) arrow(im, x + fw / 2, im.h / 2, dir, s == State::disabled ? kShadow : kText);
      }), 4);
  add("hscroll1.bmp", strip(496, 16, 4, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, f == 2 ? kHover : kFace);
        im.hline(x, 0, fw, kShadow);
        im.hline(x, im.h - 1, fw, kShadow);
      }), 8);
  {
    Image v(64, 124);
    for (int f = 0; f < 4; ++f) {
      v.fill(f * 16, 0, 16, 124, f == 1 ? kHover : kFace);
      v.vline(f * 16, 0, 124, kShadow);
      v.vline(f * 16 + 15, 0, 124, kShadow);
    }
    add("vscroll1.bmp", v, 8);
  }
  add("hscroll2.bmp", strip(372, 16, 3, [](Image& im, int x, int fw, int f) {
        face(im, x, 1, fw, im.h - 2, f == 1 ? State::normal : f == 2 ? State::pressed : State::hover);
        im.fill(x, 0, fw, 1, kKey);
        im.fill(x, im.h - 1, fw, 1, kKey);
        for (int k = -2; k <= 2; k += 2) im.vline(x + fw / 2 + k, 5, 6, kShadow);
      }), 4);
  {
    Image v(48, 124, kKey);
    for (int f = 0; f < 3; ++f) {
      face(v, f * 16 + 1, 0, 14, 124, f == 0 ? State::normal : f == 1 ? State::pressed : State::hover);
      for (int k = -2; k <= 2; k += 2) v.hline(f * 16 + 5, 62 + k, 6, kShadow);
    }
    add("vscroll2.bmp", v, 4);
  }
  {
    Image g(50, 15, kKey);
    g.fill(1, 1, 48, 13, kFaceLight);
    g.box(1, 1, 48, 13, kShadow);
    g.hline(2, 2, 46, kWhite);
    add("grouptop.bmp", g, 4);
  }
  add("tool.bmp", strip(375, 23, 5, [](Image& im, int x, int fw, int f) {
        const State s = state_of(f);
        if (s == State::normal || s == State::disabled) im.fill(x, 0, fw, im.h, kFace);
        else face(im, x, 0, fw, im.h, s);
      }), 8);
  add("close.bmp", strip(102, 17, 6, [](Image& im, int x, int fw, int f) { caption_button(im, x, fw, f, 0); }), 8);
  add("max.bmp", strip(102, 17, 6, [](Image& im, int x, int fw, int f) { caption_button(im, x, fw, f, 1); }), 8);
  add("min.bmp", strip(102, 17, 6, [](Image& im, int x, int fw, int f) { caption_button(im, x, fw, f, 2); }), 8);
  entries.push_back(entries.back());  // the archive lists min.bmp twice; lookups take the first
  add("icon.bmp", strip(90, 15, 6, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, kKey);
        im.fill(x + 2, 2, 11, 11, f == 1 ? kAccent : kTitleLight);
        im.box(x + 2, 2, 11, 11, kFrame);
        im.fill(x + 5, 5, 5, 5, kWhite);
      }), 8);
  // List-view header: one face per state in the control order, a rule at the
  // right edge between columns and a shadow line along the bottom.
  add("header.bmp", strip(150, 20, 5, [](Image& im, int x, int fw, int f) {
        const State s = state_of(f);
        const Ink fill = s == State::pressed ? kPressed : s == State::hover ? kHover : s == State::disabled ? kFace : kFaceLight;
        im.fill(x, 0, fw, im.h, fill);
        im.hline(x, 0, fw, s == State::pressed ? kShadow : kWhite);
        im.hline(x, im.h - 1, fw, kShadow);
        im.hline(x, im.h - 2, fw, s == State::focused ? kAccent : fill);
        im.vline(x + fw - 2, 3, im.h - 6, kShadow);
        im.vline(x + fw - 1, 3, im.h - 6, kWhite);
      }), 4);
  // Menu items, side by side: 1 normal (all key colour: the popup's
  // background shows through), 2 the separator rule near the bottom, so a
  // short separator item takes the rule from the frame's lower rows, 3
  // disabled (like normal), 4 selected (the highlight colour with rounded
  // corners, for white text), 5 hot without focus.
  add("menuitem.bmp", strip(120, 22, 5, [](Image& im, int x, int fw, int f) {
        im.fill(x, 0, fw, im.h, kKey);
        if (f == 2) {
          im.hline(x + 2, 17, fw - 4, kShadow);
          im.hline(x + 2, 18, fw - 4, kWhite);
        } else if (f == 4 || f == 5) {
          im.fill(x + 1, 1, fw - 2, im.h - 2, f == 4 ? kAccent : kHover);
          im.box(x + 1, 1, fw - 2, im.h - 2, f == 4 ? kTitleMid : kAccent);
          for (int cx : {x + 1, x + fw - 2})
            for (int cy : {1, im.h - 2}) im.set(cx, cy, kKey);
        }
      }), 4);
  // The popup-menu background: a slate outer line as on the window frames,
  // a white inner bevel, the light menu face inside.
  {
    Image back(32, 32, kFaceLight);
    back.box(0, 0, 32, 32, kTitleMid);
    back.bevel(1, 1, 30, 30, kWhite, kShadow);
    add("menubg.bmp", back, 4);
  }
  const std::string ini = description();
  entries.push_back({"skin.ini", Bytes(ini.begin(), ini.end())});
  return entries;
}

// Solid frames side by side, frame f in colour(probe, f), taken into the
// 24-bit palette from index 17 on.
static Bytes probe_strip(clip::testskin::Probe probe, int frames, int fw, int h, uint32_t* palette) {
  Image im(fw * frames, h, kKey);
  for (int f = 1; f <= frames; ++f) {
    palette[16 + f] = clip::testskin::colour(probe, f);
    im.fill((f - 1) * fw, 0, fw, h, Ink(16 + f));
  }
  return bmp(im, 24, palette);
}

// The test skin: the program's, its description extended by the optional
// elements and with the progress bar in its block style.
static int write_test_skin(const std::string& file) {
  using clip::testskin::Probe;
  std::vector<clip::skin::ArchiveEntry> entries = program_skin();
  std::string ini(entries.back().data.begin(), entries.back().data.end());
  entries.pop_back();
  auto replace = [&ini](const std::string& from, const std::string& to) {
    const size_t at = ini.find(from);
    if (at == std::string::npos) return false;
    ini.replace(at, from.size(), to);
    return true;
  };
  if (!replace("[Progress]\r\nBitmap=progress.bmp\r\n", "[Progress]\r\nBitmap=ttrough.bmp\r\nChunk=tchunk.bmp\r\nStyle=1\r\n") ||
      !replace("Border=tabframe.bmp", "Border=ttabframe.bmp") ||
      !replace("[ComboButton]\r\nImage=combobut.bmp", "[ComboButton]\r\nImage=tcombo.bmp")) {
    std::cerr << "skingen: the program's skin description lacks a section the test skin changes\n";
    return 1;
  }
  ini += "\r\n[StatusBarEdges]\r\nImage=tedges.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\nTile=0\r\n"
         "NormalColour2=255 255 255\r\n"
         "\r\n[ExtraImages]\r\nImage=textra.bmp\r\n"
         "\r\n[UpDown.Vert]\r\nImage=tudv.bmp\r\nGlyphImage=tudvg.bmp\r\n"
         "\r\n[UpDown.Horz]\r\nImage=tudh.bmp\r\nGlyphImage=tudhg.bmp\r\n"
         "\r\n[Trackbar.ThumbHorz]\r\nImage=tthumbh.bmp\r\n"
         "\r\n[Trackbar.ThumbVert]\r\nImage=tthumbv.bmp\r\n";
  uint32_t palette[256] = {};
  std::copy(std::begin(kPalette), std::end(kPalette), palette);
  entries.push_back({"tedges.bmp", probe_strip(Probe::status_edges, 3, 12, 12, palette)});
  entries.push_back({"textra.bmp", probe_strip(Probe::extra_images, 5, 8, 8, palette)});
  entries.push_back({"tudv.bmp", probe_strip(Probe::updown_vert, 8, 16, 16, palette)});
  entries.push_back({"tudvg.bmp", probe_strip(Probe::updown_vert_glyph, 8, 4, 4, palette)});
  entries.push_back({"tudh.bmp", probe_strip(Probe::updown_horz, 8, 16, 16, palette)});
  entries.push_back({"tudhg.bmp", probe_strip(Probe::updown_horz_glyph, 8, 4, 4, palette)});
  entries.push_back({"tthumbh.bmp", probe_strip(Probe::thumb_horz, 5, 11, 20, palette)});
  entries.push_back({"tthumbv.bmp", probe_strip(Probe::thumb_vert, 5, 20, 11, palette)});
  {
    // The block style's trough is one picture, not a strip of two; its
    // lines follow the progress margins (none on the right).
    Image trough(20, 13, kWhite);
    trough.hline(0, 0, 20, kShadow);
    trough.hline(0, 12, 20, kShadow);
    trough.vline(0, 0, 13, kShadow);
    entries.push_back({"ttrough.bmp", bmp(trough, 4)});
  }
  entries.push_back({"tchunk.bmp", probe_strip(Probe::progress_chunk, 1, 6, 9, palette)});
  entries.push_back({"tcombo.bmp", probe_strip(Probe::combo_button, 4, 18, 21, palette)});
  entries.push_back({"ttabframe.bmp", probe_strip(Probe::tab_border, 1, 20, 18, palette)});
  entries.push_back({"skin.ini", Bytes(ini.begin(), ini.end())});
  auto packed = clip::skin::pack_skin_stream(entries);
  if (!packed) {
    std::cerr << "skingen: " << packed.error().message << "\n";
    return 1;
  }
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(packed.value().data()), std::streamsize(packed.value().size()));
  if (!out.flush()) {
    std::cerr << "skingen: cannot write " << file << "\n";
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--test-skin") return write_test_skin(argv[2]);
  if (argc != 2) {
    std::cerr << "usage: skingen OUTDIR | skingen --test-skin FILE\n";
    return 2;
  }
  const std::filesystem::path out = argv[1];
  const std::vector<clip::skin::ArchiveEntry> entries = program_skin();

  // Menu glyphs: four 16 x 16 monochrome images (check, bullet, submenu
  // arrow, close cross), black on white; white is the transparent colour.
  Image glyphs(64, 16, Ink(1));
  auto ink = [&glyphs](int x, int y) { glyphs.set(x, y, Ink(0)); };
  for (int k = 0; k < 3; ++k) { ink(4 + k, 7 + k); ink(4 + k, 8 + k); }
  for (int k = 0; k < 5; ++k) { ink(7 + k, 9 - k); ink(7 + k, 8 - k); }
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if ((2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15) <= 36) ink(16 + x, y);
  for (int k = 0; k < 4; ++k)
    for (int t = -k; t <= k; ++t) ink(32 + 9 - k, 7 + t);
  for (int d = -3; d <= 3; ++d) { ink(48 + 7 + d, 7 + d); ink(48 + 7 + d, 7 - d); ink(48 + 8 + d, 7 + d); ink(48 + 8 + d, 7 - d); }
  const Bytes glyph_bmp = bmp(glyphs, 1);

  std::filesystem::create_directories(out / "skin");
  for (const auto& e : entries)
    std::ofstream(out / "skin" / e.name, std::ios::binary)
        .write(reinterpret_cast<const char*>(e.data.data()), std::streamsize(e.data.size()));
  auto packed = clip::skin::pack_skin_stream(entries);
  if (!packed) {
    std::cerr << "skingen: " << packed.error().message << "\n";
    return 1;
  }
  std::ofstream(out / "clipsalvage.skin", std::ios::binary)
      .write(reinterpret_cast<const char*>(packed.value().data()), std::streamsize(packed.value().size()));
  // The resource form of the stream: its 32-bit byte count, then the stream.
  Bytes resource(4);
  for (int i = 0; i < 4; ++i) resource[size_t(i)] = uint8_t(packed.value().size() >> (8 * i));
  resource.insert(resource.end(), packed.value().begin(), packed.value().end());
  std::ofstream(out / "skinstream.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(resource.data()), std::streamsize(resource.size()));
  std::ofstream(out / "menuglyphs.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(glyph_bmp.data()), std::streamsize(glyph_bmp.size()));
  return 0;
}
