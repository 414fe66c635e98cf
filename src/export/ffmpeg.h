// The FFmpeg libraries as this part uses them: owning pointers for their
// objects, and a log that stays quiet (the GUI has no console, the CLI prints
// its own lines) but keeps the last error line of the calling thread, so a
// failure can say what the library saw.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace clip::video {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ParserFree {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct ScaleFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserFree>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleFree>;

// Installs the quiet log once per process.
void quiet_library_log();
// The last error line the libraries logged on this thread (cleared by the call).
std::string take_library_error();
// av_strerror's text, with the last logged line when there is one.
std::string library_error_text(int code);

// An H.264 decoder on one thread (pictures come out in a fixed order, and the
// cost of opening stays small). A strict one gives up a packet at its first
// error; otherwise damaged pictures come out concealed.
CodecContextPtr open_h264_decoder(bool strict, std::string& error);

}  // namespace clip::video
