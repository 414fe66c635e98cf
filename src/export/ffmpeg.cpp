#include "export/ffmpeg.h"

#include <cstdio>
#include <mutex>

namespace clip::video {
namespace {

thread_local std::string last_error;

void log_line(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char text[512];
  int prefix = 1;
  av_log_format_line2(object, level, format, args, text, sizeof text, &prefix);
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!line.empty()) last_error = line;
}

}  // namespace

void quiet_library_log() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(log_line); });
}

std::string take_library_error() {
  std::string line;
  line.swap(last_error);
  return line;
}

std::string library_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  std::string message = text;
  const std::string logged = take_library_error();
  if (!logged.empty()) message += "（" + logged + "）";
  return message;
}

CodecContextPtr open_h264_decoder(bool strict, std::string& error) {
  quiet_library_log();
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) {
    error = "没有 H.264 解码器";
    return nullptr;
  }
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) {
    error = "内存不足";
    return nullptr;
  }
  context->thread_count = 1;
  if (strict) context->err_recognition = AV_EF_EXPLODE;
  if (const int rc = avcodec_open2(context.get(), codec, nullptr); rc < 0) {
    error = "无法打开 H.264 解码器：" + library_error_text(rc);
    return nullptr;
  }
  return context;
}

}  // namespace clip::video
