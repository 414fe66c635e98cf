#include "export/preview.h"

#include <cstring>

#include "export/ffmpeg.h"

namespace clip::video {

struct Preview::Decoding {
  Decoding(StreamInput& input, sources::BlockSource* source, const scanner::ClipRow& row,
           const PlayableOptions& options)
      : stream(input, source, &row, options) {}

  PlayableStream stream;
  CodecContextPtr decoder;
  PacketPtr packet{av_packet_alloc()};
  FramePtr frame{av_frame_alloc()};
  ScalePtr scale;
  bool flushed = false;
  int64_t next_index = 0;  // index of the next picture to come out
};

std::unique_ptr<Preview> Preview::open(sources::BlockSource& source, const scanner::ClipRow& row,
                                       const PreviewOptions& options, std::string& error) {
  std::unique_ptr<Preview> preview(new Preview());
  preview->row_ = row;
  preview->input_ = std::make_unique<SourceClipInput>(source, preview->row_, options.sector_tries, options.stop);
  preview->source_ = &source;
  preview->options_ = options;
  if (!preview->start()) {
    error = preview->error_;
    return nullptr;
  }
  return preview;
}

std::unique_ptr<Preview> Preview::open(std::unique_ptr<StreamInput> input, sources::BlockSource* source,
                                       const scanner::ClipRow& row, const PreviewOptions& options,
                                       std::string& error) {
  std::unique_ptr<Preview> preview(new Preview());
  preview->row_ = row;
  preview->input_ = std::move(input);
  preview->source_ = source;
  preview->options_ = options;
  if (!preview->start()) {
    error = preview->error_;
    return nullptr;
  }
  return preview;
}

Preview::~Preview() = default;

// (Re)starts decoding at the clip's first decodable picture and decodes it.
bool Preview::start() {
  input_->rewind();
  cache_.clear();
  at_end_ = false;
  PlayableOptions playable;
  playable.fps_setting = options_.fps_setting;
  playable.repair_blocks = options_.repair_blocks;
  playable.stop = options_.stop;
  decoding_ = std::make_unique<Decoding>(*input_, source_, row_, playable);
  switch (decoding_->stream.open()) {
    case PlayableStream::Open::ok: break;
    case PlayableStream::Open::stopped:
      error_ = "已停止";
      return false;
    case PlayableStream::Open::failed:
      error_ = decoding_->stream.error();
      return false;
  }
  fps_ = decoding_->stream.fps();
  fps_origin_ = decoding_->stream.fps_origin();
  repaired_ = decoding_->stream.repaired();
  parameter_sets_from_ = parameter_sets_origin(decoding_->stream.parameter_sets());
  skipped_ = decoding_->stream.skipped_pictures();
  decoding_->decoder = open_h264_decoder(false, error_);
  if (!decoding_->decoder || !decoding_->packet || !decoding_->frame) {
    if (error_.empty()) error_ = "内存不足";
    return false;
  }
  if (!decode_next()) {
    if (error_.empty()) error_ = "片段的第一个画面无法解码";
    return false;
  }
  first_ = cache_.front();
  return true;
}

// Decodes the next picture into the cache; false at the end or on failure.
bool Preview::decode_next() {
  Decoding& d = *decoding_;
  for (;;) {
    const int got = avcodec_receive_frame(d.decoder.get(), d.frame.get());
    if (got == 0) break;
    if (got == AVERROR_EOF) {
      at_end_ = true;
      return false;
    }
    if (got != AVERROR(EAGAIN)) {
      error_ = "解码出错：" + library_error_text(got);
      return false;
    }
    if (d.flushed) {
      at_end_ = true;
      return false;
    }
    Packet packet;
    const ReadStatus status = d.stream.next(packet);
    if (status == ReadStatus::stopped) {
      error_ = "已停止";
      return false;
    }
    if (status == ReadStatus::failed) {
      error_ = d.stream.error();
      return false;
    }
    if (status == ReadStatus::end) {
      avcodec_send_packet(d.decoder.get(), nullptr);
      d.flushed = true;
      continue;
    }
    av_packet_unref(d.packet.get());
    if (av_new_packet(d.packet.get(), static_cast<int>(packet.data.size())) < 0) {
      error_ = "内存不足";
      return false;
    }
    std::memcpy(d.packet->data, packet.data.data(), packet.data.size());
    if (packet.key) d.packet->flags |= AV_PKT_FLAG_KEY;
    // A picture the decoder rejects is passed over; damaged ones that it
    // conceals still come out.
    avcodec_send_packet(d.decoder.get(), d.packet.get());
    take_library_error();
  }

  AVFrame* f = d.frame.get();
  Picture picture;
  picture.width = f->width;
  picture.height = f->height;
  picture.index = d.next_index++;
  picture.bgr = options_.bgr;
  d.scale.reset(sws_getCachedContext(d.scale.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                     f->width, f->height, picture.bgr ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!d.scale || f->width <= 0 || f->height <= 0) {
    error_ = "无法转换画面格式";
    return false;
  }
  picture.pixels.resize(static_cast<std::size_t>(f->width) * f->height * 3);
  uint8_t* planes[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {f->width * 3, 0, 0, 0};
  sws_scale(d.scale.get(), f->data, f->linesize, 0, f->height, planes, strides);
  av_frame_unref(f);

  // Oldest pictures go when the cache is full; the newest always stays.
  std::size_t held = picture.pixels.size();
  for (const auto& p : cache_) held += p.pixels.size();
  while (!cache_.empty() && held > options_.cache_bytes) {
    held -= cache_.front().pixels.size();
    cache_.erase(cache_.begin());
  }
  cache_.push_back(std::move(picture));
  return true;
}

const Picture* Preview::frame(int64_t index) {
  if (index < 0 || index >= options_.max_frames) return nullptr;
  if (index == 0) return &first_;
  if (cache_.empty() || index < cache_.front().index) {
    if (!start()) return nullptr;
  }
  while (cache_.back().index < index) {
    if (at_end_ || !decode_next()) return nullptr;
  }
  return &cache_[static_cast<std::size_t>(index - cache_.front().index)];
}

}  // namespace clip::video
