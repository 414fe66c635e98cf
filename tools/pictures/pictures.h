// The program's own pictures: the main window's banner, the About window's
// logo, the source tree's icon strip and the window icon. Every function returns the file's
// bytes, the same bytes on every run, so the committed assets can be checked
// against a fresh generation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pictures/raster.h"

namespace clip::pictures {

inline constexpr int kBannerWidth = 783, kBannerHeight = 523;
inline constexpr int kLogoWidth = 326, kLogoHeight = 198;
inline constexpr int kIconSize = 16, kIconCount = 8;
// Pixels of this colour in the icon strip are the icons' transparent background.
inline constexpr uint8_t kKeyRed = 0xFF, kKeyGreen = 0x00, kKeyBlue = 0xFF;

Canvas draw_banner();
Canvas draw_logo();

std::vector<uint8_t> encode_jpeg(const Canvas& canvas, int quality);
// A bottom-up 24-bit BMP of `width` x `height` from top-first RGB rows.
std::vector<uint8_t> encode_bmp24(int width, int height, const std::vector<uint8_t>& rgb);

std::vector<uint8_t> banner_jpeg();
std::vector<uint8_t> logo_jpeg();
// 128 x 16: icon k in columns 16k to 16k + 15, background in the key colour,
// ready for a masked image list.
std::vector<uint8_t> icon_strip_rgb();
std::vector<uint8_t> icon_strip_bmp();

// One picture of an icon file: `size` x `size` top-first RGB rows; pixels in
// the key colour are transparent.
struct IconImage {
  int size = 0;
  std::vector<uint8_t> rgb;
};
// An icon file of 32-bit images (alpha 0 and the AND-mask bit set where the
// pixel is the key colour), in the order given.
std::vector<uint8_t> encode_ico(const std::vector<IconImage>& images);
// The window icon: the hard disk of the icon strip at 16 x 16 and, doubled,
// at 32 x 32.
std::vector<IconImage> app_icon_images();
std::vector<uint8_t> app_icon_ico();

struct Asset {
  std::string file_name;
  std::vector<uint8_t> bytes;
};
// Every picture under its file name in assets/.
std::vector<Asset> all_pictures();

}  // namespace clip::pictures
