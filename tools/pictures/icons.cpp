// The source tree's eight 16 x 16 icons, drawn pixel by pixel. Each picture is
// 16 rows of 16 palette letters; '.' is the transparent background, which the
// strip stores in the key colour for a masked image list.
#include <array>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "pictures/pictures.h"

namespace clip::pictures {
namespace {

using Picture = std::array<std::string_view, kIconSize>;

// 0: a computer, monitor and tower (the group nodes).
constexpr Picture kComputer = {
    "................",
    "kkkkkkkkkk.kkkkk",
    "kwwwwwwwlk.kwllk",
    "kwbbbbbbgk.kwddk",
    "kwbccbbbgk.kwllk",
    "kwbcbbbbgk.kwddk",
    "kwbbbbbbgk.kwllk",
    "kwbbbbbbgk.kwllk",
    "klggggggdk.kwllk",
    "kkkkkkkkkk.kwllk",
    "....kggk...kwllk",
    "..kkkkkkkk.kwGlk",
    ".kwllllllgkkwllk",
    ".kkkkkkkkkkklggk",
    "...........kkkkk",
    "................",
};

// 1: a flat disk drive (the physical drives).
constexpr Picture kFlatDrive = {
    "................",
    "................",
    "................",
    "................",
    "................",
    ".kkkkkkkkkkkkkk.",
    "kwwwwwwwwwwwwwlk",
    "kwllllllllllllgk",
    "kwldkkkkkkdlGlgk",
    "kwllllllllllllgk",
    "klggggggggggggdk",
    ".kkkkkkkkkkkkkk.",
    "................",
    "................",
    "................",
    "................",
};

// 2 and 3: a drive with a disk going in from above (removable media).
constexpr Picture kInsertDisk = {
    "....kkkkkkkk....",
    "....kbblllbk....",
    "....kbbldlbk....",
    "....kbblllbk....",
    "....kbbbbbbk....",
    "....kbwwwwbk....",
    "....kbwwwwbk....",
    "....kbwwwwbk....",
    ".kkkkkkkkkkkkkk.",
    "kwwwwwwwwwwwwwlk",
    "kwllkkkkkkkkllgk",
    "kwllllllllllGlgk",
    "klggggggggggggdk",
    ".kkkkkkkkkkkkkk.",
    "................",
    "................",
};

// 4: an optical disc above its drive.
constexpr Picture kOptical = {
    ".....kkkkkk.....",
    "...kkllwwcckk...",
    "..kllwwccllllk..",
    "..klwcckkcclwk..",
    "..klwcckkccwlk..",
    "..kllccllwwllk..",
    "...kkccllwwkk...",
    ".....kkkkkk.....",
    "................",
    ".kkkkkkkkkkkkkk.",
    "kwwwwwwwwwwwwwlk",
    "kwlkkkkkkkklGlgk",
    "kwllllllllllllgk",
    "klggggggggggggdk",
    ".kkkkkkkkkkkkkk.",
    "................",
};

// 5: a hard disk drive, a box seen from above the front edge.
constexpr Picture kHardDisk = {
    "................",
    "................",
    "................",
    "...kkkkkkkkkkkk.",
    "..kwwwwwwwwwwwlk",
    ".kwwwwwwwwwwwlgk",
    "kkkkkkkkkkkkkggk",
    "kllllllllllllkgk",
    "klddddddddlGlkgk",
    "kllllllllllllkgk",
    "kggggggggggggkk.",
    "kkkkkkkkkkkkkk..",
    "................",
    "................",
    "................",
    "................",
};

// 6: a drive on a network cable.
constexpr Picture kNetwork = {
    "................",
    "................",
    ".kkkkkkkkkkkkkk.",
    "kwwwwwwwwwwwwwlk",
    "kwlkkkkkkkklGlgk",
    "kwllllllllllllgk",
    "klggggggggggggdk",
    ".kkkkkkkkkkkkkk.",
    ".......kk.......",
    ".......kk.......",
    ".......kk.......",
    "......kggk......",
    "kkkkkkkggkkkkkkk",
    "gggggggggggggggg",
    "kkkkkkkkkkkkkkkk",
    "................",
};

// 7: a pie chart with one slice pulled out (the image files).
constexpr Picture kPieChart = {
    "................",
    "........k.kkk...",
    "......kkk.krrkk.",
    "....kkbbk.krrrrk",
    "...kbbbbk.krrrrk",
    "..kbbbbbk.kkkkkk",
    "..kbbbbbk.......",
    ".kbbbbbbkkkkkkk.",
    ".kbbbbbbbyyyyyk.",
    ".kbbbbbbbyyyyyk.",
    "..kbbbbbbyyyyk..",
    "..kbbbbbbyyyyk..",
    "...kbbbbbyyyk...",
    "....kkbbbbykk...",
    "......kkkkk.....",
    "................",
};

constexpr std::array<const Picture*, kIconCount> kStrip = {&kComputer, &kFlatDrive, &kInsertDisk, &kInsertDisk,
                                                           &kOptical,  &kHardDisk,  &kNetwork,    &kPieChart};

struct Colour {
  uint8_t r, g, b;
};

Colour palette(char letter) {
  switch (letter) {
    case '.': return {kKeyRed, kKeyGreen, kKeyBlue};
    case 'k': return {0, 0, 0};
    case 'd': return {64, 64, 64};
    case 'g': return {128, 128, 128};
    case 'l': return {192, 192, 192};
    case 'w': return {255, 255, 255};
    case 'b': return {0, 64, 176};
    case 'c': return {104, 168, 232};
    case 'G': return {0, 176, 0};
    case 'r': return {208, 32, 32};
    case 'y': return {240, 200, 0};
  }
  throw std::logic_error(std::string("icon palette has no letter '") + letter + "'");
}

}  // namespace

std::vector<uint8_t> icon_strip_rgb() {
  const int width = kIconSize * kIconCount;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * kIconSize * 3);
  for (int icon = 0; icon < kIconCount; ++icon) {
    const Picture& picture = *kStrip[icon];
    for (int y = 0; y < kIconSize; ++y) {
      if (picture[y].size() != kIconSize) throw std::logic_error("icon row is not 16 pixels wide");
      for (int x = 0; x < kIconSize; ++x) {
        const Colour colour = palette(picture[y][x]);
        uint8_t* p = &rgb[(static_cast<size_t>(y) * width + icon * kIconSize + x) * 3];
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
      }
    }
  }
  return rgb;
}

std::vector<uint8_t> icon_strip_bmp() { return encode_bmp24(kIconSize * kIconCount, kIconSize, icon_strip_rgb()); }

std::vector<IconImage> app_icon_images() {
  constexpr int kHardDiskIcon = 5;
  const std::vector<uint8_t> strip = icon_strip_rgb();
  const int strip_width = kIconSize * kIconCount;
  std::vector<IconImage> images;
  for (int scale : {1, 2}) {
    IconImage image{kIconSize * scale, {}};
    for (int y = 0; y < image.size; ++y)
      for (int x = 0; x < image.size; ++x)
        for (int c = 0; c < 3; ++c)
          image.rgb.push_back(
              strip[(static_cast<size_t>(y / scale) * strip_width + kHardDiskIcon * kIconSize + x / scale) * 3 + c]);
    images.push_back(std::move(image));
  }
  return images;
}

std::vector<uint8_t> app_icon_ico() { return encode_ico(app_icon_images()); }

std::vector<Asset> all_pictures() {
  return {{"banner.jpg", banner_jpeg()},
          {"logo.jpg", logo_jpeg()},
          {"tree_icons.bmp", icon_strip_bmp()},
          {"app.ico", app_icon_ico()}};
}

}  // namespace clip::pictures
