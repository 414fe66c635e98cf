#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

// Encodes a gradient to memory and decodes it again: proves the static
// cross-built libjpeg links into a Windows program and runs.
TEST(Libjpeg, RoundTripsAPictureInMemory) {
  constexpr int kWidth = 64, kHeight = 32;
  std::vector<unsigned char> pixels(kWidth * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      unsigned char* p = &pixels[(y * kWidth + x) * 3];
      p[0] = static_cast<unsigned char>(x * 4);
      p[1] = static_cast<unsigned char>(y * 8);
      p[2] = 128;
    }
  }

  jpeg_compress_struct cinfo{};
  jpeg_error_mgr cerr{};
  cinfo.err = jpeg_std_error(&cerr);
  jpeg_create_compress(&cinfo);
  unsigned char* encoded = nullptr;
  unsigned long encoded_size = 0;
  jpeg_mem_dest(&cinfo, &encoded, &encoded_size);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &pixels[cinfo.next_scanline * kWidth * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  ASSERT_GT(encoded_size, 100u);

  jpeg_decompress_struct dinfo{};
  jpeg_error_mgr derr{};
  dinfo.err = jpeg_std_error(&derr);
  jpeg_create_decompress(&dinfo);
  jpeg_mem_src(&dinfo, encoded, encoded_size);
  ASSERT_EQ(jpeg_read_header(&dinfo, TRUE), JPEG_HEADER_OK);
  jpeg_start_decompress(&dinfo);
  EXPECT_EQ(dinfo.output_width, static_cast<JDIMENSION>(kWidth));
  EXPECT_EQ(dinfo.output_height, static_cast<JDIMENSION>(kHeight));
  ASSERT_EQ(dinfo.output_components, 3);
  std::vector<unsigned char> decoded(kWidth * kHeight * 3);
  while (dinfo.output_scanline < dinfo.output_height) {
    JSAMPROW row = &decoded[dinfo.output_scanline * kWidth * 3];
    jpeg_read_scanlines(&dinfo, &row, 1);
  }
  jpeg_finish_decompress(&dinfo);
  jpeg_destroy_decompress(&dinfo);
  std::free(encoded);

  int worst = 0;
  for (size_t i = 0; i < pixels.size(); ++i) worst = std::max(worst, std::abs(pixels[i] - decoded[i]));
  EXPECT_LE(worst, 24) << "lossy, but close to the original at quality 95";
}

}  // namespace
