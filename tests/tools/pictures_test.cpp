#include <gtest/gtest.h>

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "pictures/pictures.h"

namespace clip::pictures {
namespace {

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  int luma(int x, int y) const {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return (p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000;
  }
};

Decoded decode_jpeg(const std::vector<uint8_t>& bytes) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  Decoded out;
  if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = &out.rgb[static_cast<size_t>(cinfo.output_scanline) * out.width * 3];
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return out;
}

TEST(Pictures, CommittedAssetsEqualAFreshGeneration) {
  for (const Asset& asset : all_pictures()) {
    const std::vector<uint8_t> committed = read_file(std::string(CLIPSALVAGE_ASSETS_DIR) + "/" + asset.file_name);
    EXPECT_EQ(committed.size(), asset.bytes.size()) << asset.file_name << ": run scripts/assets";
    EXPECT_TRUE(committed == asset.bytes) << asset.file_name << " differs from the generator's output";
  }
}

TEST(Pictures, GenerationIsRepeatable) {
  EXPECT_EQ(banner_jpeg(), banner_jpeg());
  EXPECT_EQ(logo_jpeg(), logo_jpeg());
}

TEST(Pictures, BannerIsAPaleDrawingAtItsStoredSize) {
  const Decoded banner = decode_jpeg(banner_jpeg());
  ASSERT_EQ(banner.width, kBannerWidth);
  ASSERT_EQ(banner.height, kBannerHeight);
  long sum = 0;
  int darkest = 255, lightest = 0;
  for (int y = 0; y < banner.height; ++y) {
    for (int x = 0; x < banner.width; ++x) {
      const int l = banner.luma(x, y);
      sum += l;
      darkest = std::min(darkest, l);
      lightest = std::max(lightest, l);
    }
  }
  const long mean = sum / (banner.width * banner.height);
  EXPECT_GE(mean, 190) << "the banner sits behind the window and must stay light";
  EXPECT_GE(darkest, 100) << "no dark strokes in a washed-out picture";
  EXPECT_GE(lightest - darkest, 60) << "but there must be a drawing, not a flat fill";
  // The platter's hub at the centre is lighter than the recess around the platter.
  EXPECT_GT(banner.luma(330, 262), banner.luma(330, 262 - 195));
}

TEST(Pictures, LogoCarriesADarkWordmarkOnWhite) {
  const Decoded logo = decode_jpeg(logo_jpeg());
  ASSERT_EQ(logo.width, kLogoWidth);
  ASSERT_EQ(logo.height, kLogoHeight);
  for (auto [x, y] : {std::pair{1, 1}, {kLogoWidth - 2, 1}, {1, kLogoHeight - 2}, {kLogoWidth - 2, kLogoHeight - 2}})
    EXPECT_GE(logo.luma(x, y), 245) << x << "," << y;
  int dark = 0;
  for (int y = 128; y < 164; ++y)
    for (int x = 0; x < logo.width; ++x) dark += logo.luma(x, y) < 80;
  EXPECT_GT(dark, 600) << "the seven letters of the maker name";
  int below = 0;
  for (int y = 182; y < logo.height; ++y)
    for (int x = 0; x < logo.width; ++x) below += logo.luma(x, y) < 200;
  EXPECT_EQ(below, 0) << "nothing under the underline";
}

TEST(Pictures, BitmapRowsAreStoredBottomUpInBlueGreenRedWithPadding) {
  // 2 x 2: top row red, green; bottom row blue, white. Rows pad to 8 bytes.
  const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  const std::vector<uint8_t> bmp = encode_bmp24(2, 2, rgb);
  ASSERT_EQ(bmp.size(), 54u + 16u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(bmp[2], 70);
  EXPECT_EQ(bmp[10], 54);
  EXPECT_EQ(bmp[28], 24);
  const std::vector<uint8_t> pixels(bmp.begin() + 54, bmp.end());
  const std::vector<uint8_t> expected = {255, 0, 0, 255, 255, 255, 0, 0,   // bottom: blue, white
                                         0, 0, 255, 0, 255, 0, 0, 0};      // top: red, green
  EXPECT_EQ(pixels, expected);
  EXPECT_THROW(encode_bmp24(3, 2, rgb), std::invalid_argument);
}

// Reads an icon file the way the resource compiler and LoadImage do: the
// directory, then each image's header, colour rows and mask rows.
TEST(Pictures, WindowIconFileHoldsA16AndA32ImageWithMatchingMasks) {
  const std::vector<uint8_t> ico = app_icon_ico();
  auto u16 = [&ico](size_t at) { return static_cast<uint32_t>(ico.at(at) | ico.at(at + 1) << 8); };
  auto u32 = [&u16](size_t at) { return u16(at) | u16(at + 2) << 16; };
  ASSERT_GE(ico.size(), 6u);
  EXPECT_EQ(u16(0), 0u);
  EXPECT_EQ(u16(2), 1u);
  ASSERT_EQ(u16(4), 2u);
  const std::vector<IconImage> images = app_icon_images();
  ASSERT_EQ(images.size(), 2u);
  size_t end = 6 + 2 * 16;
  for (int i = 0; i < 2; ++i) {
    const size_t entry = 6 + 16 * static_cast<size_t>(i);
    const int n = 16 << i;
    EXPECT_EQ(ico[entry], n);
    EXPECT_EQ(ico[entry + 1], n);
    EXPECT_EQ(u16(entry + 6), 32u) << "32 bits per pixel";
    const uint32_t bytes = u32(entry + 8), offset = u32(entry + 12);
    EXPECT_EQ(offset, end) << "images follow each other without gaps";
    const uint32_t mask_stride = ((n + 31) / 32) * 4;
    ASSERT_EQ(bytes, 40u + n * n * 4u + mask_stride * n);
    end = offset + bytes;
    ASSERT_LE(end, ico.size());
    EXPECT_EQ(u32(offset), 40u);
    EXPECT_EQ(u32(offset + 4), static_cast<uint32_t>(n));
    EXPECT_EQ(u32(offset + 8), static_cast<uint32_t>(2 * n)) << "the height counts colour and mask rows";
    int clear = 0, opaque = 0;
    for (int y = 0; y < n; ++y) {
      for (int x = 0; x < n; ++x) {
        // Stored bottom-up: file row r holds picture row n - 1 - r.
        const size_t pixel = offset + 40 + (static_cast<size_t>(n - 1 - y) * n + x) * 4;
        const size_t mask = offset + 40 + static_cast<size_t>(n) * n * 4 + (n - 1 - y) * mask_stride + x / 8;
        const bool mask_bit = (ico[mask] & (0x80 >> (x % 8))) != 0;
        const uint8_t* rgb = &images[i].rgb[(static_cast<size_t>(y) * n + x) * 3];
        const bool key = rgb[0] == kKeyRed && rgb[1] == kKeyGreen && rgb[2] == kKeyBlue;
        ASSERT_EQ(mask_bit, key) << "mask at " << x << "," << y << " of the " << n << " image";
        ASSERT_EQ(ico[pixel + 3], key ? 0 : 255) << "alpha at " << x << "," << y;
        if (!key) {
          ASSERT_EQ(ico[pixel], rgb[2]) << "blue first";
          ASSERT_EQ(ico[pixel + 2], rgb[0]);
        }
        (key ? clear : opaque)++;
      }
    }
    EXPECT_GT(clear, n * n / 4) << "the disk leaves a transparent background";
    EXPECT_GT(opaque, n * n / 4);
  }
  EXPECT_EQ(end, ico.size());
  // The 32 x 32 image is the 16 x 16 one with every pixel doubled.
  EXPECT_EQ(images[1].rgb[((31 * 32) + 31) * 3], images[0].rgb[((15 * 16) + 15) * 3]);
  EXPECT_EQ(images[1].rgb[((9 * 32) + 4) * 3 + 2], images[0].rgb[((4 * 16) + 2) * 3 + 2]);
  EXPECT_THROW(encode_ico({}), std::invalid_argument);
  EXPECT_THROW(encode_ico({IconImage{16, std::vector<uint8_t>(10)}}), std::invalid_argument);
}

TEST(Pictures, IconStripHoldsEightMaskedIcons) {
  const std::vector<uint8_t> rgb = icon_strip_rgb();
  const int width = kIconSize * kIconCount;
  ASSERT_EQ(rgb.size(), static_cast<size_t>(width) * kIconSize * 3);
  auto icon_pixels = [&](int icon) {
    std::vector<uint8_t> out;
    for (int y = 0; y < kIconSize; ++y)
      for (int x = 0; x < kIconSize; ++x)
        for (int c = 0; c < 3; ++c) out.push_back(rgb[(static_cast<size_t>(y) * width + icon * kIconSize + x) * 3 + c]);
    return out;
  };
  // Distinct pictures, counted by equality (an ordered set of vectors trips a
  // GCC 12 -O3 false warning about memcmp bounds).
  std::vector<std::vector<uint8_t>> distinct;
  for (int icon = 0; icon < kIconCount; ++icon) {
    const std::vector<uint8_t> p = icon_pixels(icon);
    int key = 0, near_key = 0;
    for (size_t i = 0; i < p.size(); i += 3) {
      const bool is_key = p[i] == kKeyRed && p[i + 1] == kKeyGreen && p[i + 2] == kKeyBlue;
      key += is_key;
      // A colour close to the key would look like a hole to a tolerant mask.
      near_key += !is_key && p[i] > 200 && p[i + 1] < 60 && p[i + 2] > 200;
    }
    EXPECT_GT(key, 16) << "icon " << icon << " needs a transparent background";
    EXPECT_LT(key, kIconSize * kIconSize - 40) << "icon " << icon << " needs a picture";
    EXPECT_EQ(near_key, 0) << "icon " << icon;
    if (std::find(distinct.begin(), distinct.end(), p) == distinct.end()) distinct.push_back(p);
  }
  EXPECT_EQ(icon_pixels(2), icon_pixels(3)) << "indexes 2 and 3 show the same removable drive";
  EXPECT_EQ(distinct.size(), 7u);
  const std::vector<uint8_t> bmp = icon_strip_bmp();
  EXPECT_EQ(bmp[18] | bmp[19] << 8, width);
  EXPECT_EQ(bmp[22] | bmp[23] << 8, kIconSize);
}

}  // namespace
}  // namespace clip::pictures
