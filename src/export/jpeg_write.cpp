// Preview pictures as JPEG files. Every libjpeg call happens in one function
// that holds plain C data only: libjpeg's error exit longjmps back into it,
// which must not cross a C++ object's lifetime.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <jpeglib.h>
}

#include "recover/output_file.h"
#include "export/preview.h"

namespace clip::video {
namespace {

struct JpegWriter {
  jpeg_compress_struct info;
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  unsigned char* out;
  unsigned long out_size;
};

void jpeg_fail(j_common_ptr info) { std::longjmp(static_cast<JpegWriter*>(info->client_data)->jump, 1); }
void jpeg_silent(j_common_ptr, int) {}

// Compresses RGB (or BGR) rows into writer->out (malloc'd by libjpeg); false
// on failure.
bool jpeg_compress(JpegWriter* writer, const unsigned char* pixels, bool bgr, int width, int height, int quality) {
  writer->info.err = jpeg_std_error(&writer->mgr);
  writer->mgr.error_exit = jpeg_fail;
  writer->mgr.emit_message = jpeg_silent;
  writer->info.client_data = writer;
  writer->out = nullptr;
  writer->out_size = 0;
  if (setjmp(writer->jump)) {
    jpeg_destroy_compress(&writer->info);
    return false;
  }
  jpeg_create_compress(&writer->info);
  jpeg_mem_dest(&writer->info, &writer->out, &writer->out_size);
  writer->info.image_width = static_cast<JDIMENSION>(width);
  writer->info.image_height = static_cast<JDIMENSION>(height);
  writer->info.input_components = 3;
  writer->info.in_color_space = bgr ? JCS_EXT_BGR : JCS_RGB;
  jpeg_set_defaults(&writer->info);
  jpeg_set_quality(&writer->info, quality, TRUE);
  jpeg_start_compress(&writer->info, TRUE);
  while (writer->info.next_scanline < writer->info.image_height) {
    JSAMPROW row =
        const_cast<unsigned char*>(pixels) + static_cast<std::size_t>(writer->info.next_scanline) * width * 3;
    jpeg_write_scanlines(&writer->info, &row, 1);
  }
  jpeg_finish_compress(&writer->info);
  jpeg_destroy_compress(&writer->info);
  return true;
}

}  // namespace

std::vector<uint8_t> encode_jpeg(const Picture& picture, int quality) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() != static_cast<std::size_t>(picture.width) * picture.height * 3) {
    return {};
  }
  auto writer = std::make_unique<JpegWriter>();
  const bool ok =
      jpeg_compress(writer.get(), picture.pixels.data(), picture.bgr, picture.width, picture.height, quality);
  std::vector<uint8_t> bytes;
  if (ok && writer->out != nullptr) bytes.assign(writer->out, writer->out + writer->out_size);
  std::free(writer->out);
  return bytes;
}

bool save_jpeg(const Picture& picture, const std::string& path, std::string& error, int quality) {
  const auto bytes = encode_jpeg(picture, quality);
  if (bytes.empty()) {
    error = "无法把画面编码为 JPEG";
    return false;
  }
  // Written as PATH.part and renamed once it is on the disk, as clips are;
  // neither name may exist.
  if (recover::path_exists(path)) {
    error = "文件已存在，不会覆盖：" + path;
    return false;
  }
  const std::string part = path + ".part";
  recover::OutputFile file;
  switch (file.create_new(part)) {
    case recover::Create::created: break;
    case recover::Create::exists:
      error = "文件已存在，不会覆盖：" + part;
      return false;
    case recover::Create::failed:
      error = "无法创建文件 " + part + "：" + file.last_error();
      return false;
  }
  if (!file.write(bytes.data(), bytes.size()) || !file.flush() || !file.close()) {
    error = "写入文件出错 " + part + "：" + file.last_error();
    file.remove();
    return false;
  }
  switch (file.rename_to(path)) {
    case recover::Create::created: return true;
    case recover::Create::exists: error = "文件已存在，不会覆盖：" + path; break;
    case recover::Create::failed: error = "无法把 " + part + " 改名为 " + path + "：" + file.last_error(); break;
  }
  file.remove();
  return false;
}

}  // namespace clip::video
