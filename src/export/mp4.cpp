#include "export/mp4.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "export/clock.h"
#include "export/ffmpeg.h"
#include "recover/output_file.h"
#include "recover/recover.h"

namespace clip::video {
namespace {

constexpr int kIoBufferBytes = 1 << 20;
constexpr int kMaxNames = 10000;

// The muxer's output: a new file it may seek in. The first write error is
// kept in words; the muxer only sees a code.
struct Sink {
  recover::OutputFile file;
  int64_t position = 0;
  int64_t size = 0;
  std::string error;

  static int write(void* opaque, const uint8_t* data, int size) {
    auto* sink = static_cast<Sink*>(opaque);
    if (!sink->file.write(data, static_cast<std::size_t>(size))) {
      if (sink->error.empty()) sink->error = sink->file.last_error();
      return AVERROR(EIO);
    }
    sink->position += size;
    sink->size = std::max(sink->size, sink->position);
    return size;
  }

  static int64_t seek(void* opaque, int64_t offset, int whence) {
    auto* sink = static_cast<Sink*>(opaque);
    if (whence & AVSEEK_SIZE) return sink->size;
    int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET: break;
      case SEEK_CUR: to += sink->position; break;
      case SEEK_END: to += sink->size; break;
      default: return AVERROR(EINVAL);
    }
    if (to < 0 || !sink->file.seek(to)) {
      if (sink->error.empty()) sink->error = sink->file.last_error();
      return AVERROR(EIO);
    }
    sink->position = to;
    return to;
  }
};

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int sink_write(void* opaque, const uint8_t* data, int size) { return Sink::write(opaque, data, size); }
#else
int sink_write(void* opaque, uint8_t* data, int size) { return Sink::write(opaque, data, size); }
#endif

struct FormatFree {
  void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
struct IoFree {
  void operator()(AVIOContext* io) const {
    if (io == nullptr) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

// A picture with its times, in ticks of half a frame: a frame lasts two
// ticks, a field one.
struct Timed {
  Packet packet;
  int64_t dts = 0;
  int64_t pts = 0;
  int64_t ticks = 2;
};

// Decoding and presentation times. Pictures shown in the order they are
// stored are timed one after the other. For streams that reorder pictures, a
// period from one IDR picture to the next is held back and each picture is
// timed by its rank in display order, shifted by the reorder depth so no
// picture is shown before it is decoded.
class Timing {
 public:
  Timing(bool reorders, int depth) : reorders_(reorders), depth_(std::max(0, depth)) {}

  void add(Packet&& packet, std::vector<Timed>& ready) {
    Timed timed;
    timed.ticks = packet.field ? 1 : 2;
    timed.dts = timed.pts = next_dts_;
    next_dts_ += timed.ticks;
    timed.packet = std::move(packet);
    if (!reorders_) {
      ready.push_back(std::move(timed));
      return;
    }
    if (timed.packet.key && !held_.empty()) flush(ready);
    held_.push_back(std::move(timed));
  }

  void flush(std::vector<Timed>& ready) {
    std::vector<std::size_t> order(held_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return held_[a].packet.poc < held_[b].packet.poc; });
    for (std::size_t r = 0; r < order.size(); ++r) {
      Timed& t = held_[order[r]];
      t.pts = std::max(t.dts, held_.front().dts + 2 * (static_cast<int64_t>(r) + depth_));
    }
    for (auto& t : held_) ready.push_back(std::move(t));
    held_.clear();
  }

  int64_t ticks() const { return next_dts_; }

 private:
  bool reorders_;
  int64_t depth_;
  int64_t next_dts_ = 0;
  std::vector<Timed> held_;
};

std::string numbered(const std::string& name, int n) { return recover::numbered_name(name, n); }

}  // namespace

std::string video_library_versions() {
  auto text = [](const char* name, unsigned v) {
    return std::string(name) + " " + std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
           std::to_string(v & 0xFF);
  };
  return text("libavformat", avformat_version()) + ", " + text("libavcodec", avcodec_version()) + ", " +
         text("libswscale", swscale_version());
}

std::string mp4_name(const std::string& clip_name) {
  const std::string ext = ".264";
  if (clip_name.size() >= ext.size() && clip_name.compare(clip_name.size() - ext.size(), ext.size(), ext) == 0) {
    return clip_name.substr(0, clip_name.size() - ext.size()) + ".mp4";
  }
  return clip_name + ".mp4";
}

std::optional<std::string> creation_time(const std::string& start) {
  const auto t = parse_start(start);
  if (!t) return std::nullopt;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000000Z", t->year, t->month, t->day, t->hour,
                t->minute, t->second);
  return std::string(text);
}

std::string channel_title(const scanner::ClipRow& row) { return "通道 " + row.channel; }

Mp4Result export_mp4(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                     const ExportOptions& options) {
  SourceClipInput input(source, row, options.sector_tries, options.stop);
  return export_mp4(input, row, &source, folder, options);
}

Mp4Result export_mp4(StreamInput& input, const scanner::ClipRow& row, sources::BlockSource* source,
                     const std::string& folder, const ExportOptions& options) {
  Mp4Result result;
  auto finish_input = [&] {
    result.unreadable = input.unreadable();
    result.source_gone = input.source_gone();
  };
  if (!recover::is_folder(folder)) {
    result.error = "输出文件夹不可用：" + folder;
    return result;
  }

  PlayableOptions playable_options;
  playable_options.fps_setting = options.fps_setting;
  playable_options.repair_blocks = options.repair_blocks;
  playable_options.stop = options.stop;
  PlayableStream stream(input, source, &row, playable_options);
  switch (stream.open()) {
    case PlayableStream::Open::ok: break;
    case PlayableStream::Open::stopped:
      result.outcome = ExportOutcome::stopped;
      finish_input();
      return result;
    case PlayableStream::Open::failed:
      result.error = stream.error();
      finish_input();
      return result;
  }
  result.fps = stream.fps();
  result.fps_origin = stream.fps_origin();
  result.width = stream.width();
  result.height = stream.height();
  result.skipped_frames = stream.skipped_pictures();
  result.repaired = stream.repaired();
  result.parameter_sets = stream.parameter_sets();
  result.parameter_sets_from = parameter_sets_origin(result.parameter_sets);

  // The partial file takes the first free final name; both must be free.
  const std::string base = mp4_name(row.name);
  Sink sink;
  int n = 0;
  std::string part;
  for (;; ++n) {
    result.path = recover::join_path(folder, numbered(base, n));
    part = result.path + ".part";
    const auto opened = sink.file.create_new(part);
    if (opened == recover::Create::created) break;
    if (opened == recover::Create::failed || n >= kMaxNames) {
      result.error = "无法创建文件 " + part + "：" + sink.file.last_error();
      finish_input();
      return result;
    }
  }
  auto give_up = [&](ExportOutcome outcome, const std::string& error) {
    result.outcome = outcome;
    result.error = error;
    result.partial_removed = sink.file.remove();
    finish_input();
    return result;
  };

  std::unique_ptr<AVFormatContext, FormatFree> format;
  {
    AVFormatContext* raw = nullptr;
    if (const int rc = avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr); rc < 0 || raw == nullptr) {
      return give_up(ExportOutcome::failed, "无法建立 MP4 输出：" + library_error_text(rc));
    }
    format.reset(raw);
  }
  // Bit-exact: no library version in the file, so the same clip gives the
  // same bytes wherever it is exported.
  format->flags |= AVFMT_FLAG_BITEXACT | AVFMT_FLAG_CUSTOM_IO;
  // Written in whole buffers, not one write per picture.
  format->flush_packets = 0;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
  std::unique_ptr<AVIOContext, IoFree> io(
      buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, &sink, nullptr, sink_write, Sink::seek) : nullptr);
  if (!io) {
    av_free(buffer);
    return give_up(ExportOutcome::failed, "内存不足");
  }
  format->pb = io.get();

  AVStream* video = avformat_new_stream(format.get(), nullptr);
  if (video == nullptr) return give_up(ExportOutcome::failed, "内存不足");
  const Rate fps = result.fps;
  video->time_base = AVRational{static_cast<int>(fps.den), static_cast<int>(2 * fps.num)};
  video->avg_frame_rate = AVRational{static_cast<int>(fps.num), static_cast<int>(fps.den)};
  AVCodecParameters* par = video->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_H264;
  par->width = result.width;
  par->height = result.height;
  const auto extradata = result.parameter_sets.annex_b();
  par->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (par->extradata == nullptr) return give_up(ExportOutcome::failed, "内存不足");
  std::memcpy(par->extradata, extradata.data(), extradata.size());
  par->extradata_size = static_cast<int>(extradata.size());
  if (const auto created = creation_time(row.start)) av_dict_set(&format->metadata, "creation_time", created->c_str(), 0);
  if (!row.channel.empty()) av_dict_set(&format->metadata, "title", channel_title(row).c_str(), 0);

  auto write_failure = [&](const std::string& what, int rc) {
    return what + "：" + (sink.error.empty() ? library_error_text(rc) : sink.error);
  };
  if (const int rc = avformat_write_header(format.get(), nullptr); rc < 0) {
    return give_up(ExportOutcome::failed, write_failure("写入 MP4 出错 " + part, rc));
  }
  const AVRational tick_base{static_cast<int>(fps.den), static_cast<int>(2 * fps.num)};
  PacketPtr out(av_packet_alloc());
  if (!out) return give_up(ExportOutcome::failed, "内存不足");
  Timing timing(may_reorder(result.parameter_sets.sps_fields), result.parameter_sets.sps_fields.max_num_reorder_frames >= 0
                                                                  ? result.parameter_sets.sps_fields.max_num_reorder_frames
                                                                  : 2);
  std::vector<Timed> ready;
  auto write_ready = [&]() -> int {
    for (auto& timed : ready) {
      const auto& data = timed.packet.data;
      av_packet_unref(out.get());
      if (const int rc = av_new_packet(out.get(), static_cast<int>(data.size())); rc < 0) return rc;
      std::memcpy(out->data, data.data(), data.size());
      out->pts = timed.pts;
      out->dts = timed.dts;
      out->duration = timed.ticks;
      out->stream_index = video->index;
      if (timed.packet.key) out->flags |= AV_PKT_FLAG_KEY;
      av_packet_rescale_ts(out.get(), tick_base, video->time_base);
      if (const int rc = av_write_frame(format.get(), out.get()); rc < 0) return rc;
    }
    ready.clear();
    return 0;
  };

  const uint64_t total = input.size();
  Packet packet;
  for (;;) {
    if (options.stop && options.stop()) return give_up(ExportOutcome::stopped, {});
    const ReadStatus status = stream.next(packet);
    if (status == ReadStatus::stopped) return give_up(ExportOutcome::stopped, {});
    if (status == ReadStatus::failed) return give_up(ExportOutcome::failed, stream.error());
    if (status == ReadStatus::end) break;
    timing.add(std::move(packet), ready);
    if (const int rc = write_ready(); rc < 0) return give_up(ExportOutcome::failed, write_failure("写入 MP4 出错 " + part, rc));
    if (options.progress) options.progress(stream.bytes_read(), total);
  }
  timing.flush(ready);
  if (const int rc = write_ready(); rc < 0) return give_up(ExportOutcome::failed, write_failure("写入 MP4 出错 " + part, rc));
  if (const int rc = av_write_trailer(format.get()); rc < 0) {
    return give_up(ExportOutcome::failed, write_failure("写入 MP4 出错 " + part, rc));
  }
  avio_flush(io.get());
  if (!sink.error.empty()) return give_up(ExportOutcome::failed, "写入 MP4 出错 " + part + "：" + sink.error);
  // On the disk before it counts, as a recovered clip is.
  if (!sink.file.flush() || !sink.file.close()) {
    return give_up(ExportOutcome::failed, "写入 MP4 出错 " + part + "：" + sink.file.last_error());
  }
  result.cut_frames = stream.cut_pictures();
  // A field counts as half a frame.
  result.frames = (timing.ticks() + 1) / 2;
  result.duration_s = static_cast<double>(timing.ticks()) * static_cast<double>(fps.den) /
                      (2.0 * static_cast<double>(fps.num));

  // The hash is taken from the file as it lies on the disk.
  recover::InputFile written;
  if (!written.open(part)) return give_up(ExportOutcome::failed, "无法读回 " + part + "：" + written.last_error());
  recover::Sha256 hash;
  std::vector<uint8_t> chunk(kIoBufferBytes);
  for (;;) {
    if (options.stop && options.stop()) {
      written.close();
      return give_up(ExportOutcome::stopped, {});
    }
    const int64_t got = written.read(chunk.data(), chunk.size());
    if (got < 0) {
      const std::string why = written.last_error();
      written.close();
      return give_up(ExportOutcome::failed, "无法读回 " + part + "：" + why);
    }
    if (got == 0) break;
    hash.update(chunk.data(), static_cast<std::size_t>(got));
    result.bytes += static_cast<uint64_t>(got);
  }
  written.close();
  result.sha256 = hash.hex();

  for (;; ++n) {
    result.path = recover::join_path(folder, numbered(base, n));
    const auto renamed = sink.file.rename_to(result.path);
    if (renamed == recover::Create::created) break;
    if (renamed == recover::Create::failed || n >= kMaxNames) {
      return give_up(ExportOutcome::failed,
                     "无法把 " + part + " 改名为 " + result.path + "：" + sink.file.last_error());
    }
  }
  result.renamed = n > 0;
  result.outcome = ExportOutcome::complete;
  result.ok = true;
  finish_input();
  return result;
}

Mp4Result export_recovered(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& h264_path,
                           bool complete, const std::string& folder, const ExportOptions& options) {
  if (!complete) {
    scanner::ClipRow named = row;
    named.name = recover::incomplete_name(row.name, 0);
    return export_mp4(source, named, folder, options);
  }
  FileInput input(h264_path, options.stop);
  if (!input.opened()) {
    Mp4Result failed;
    failed.error = input.error();
    return failed;
  }
  return export_mp4(input, row, &source, folder, options);
}

std::string origin_sectors(const std::string& from) {
  const auto space = from.find(' ');
  return space == std::string::npos ? from : from.substr(space + 1);
}

std::string repaired_line(const Mp4Result& mp4) {
  return mp4.path + "：片段没有参数集，取自扇区 " + origin_sectors(mp4.parameter_sets_from) + "，从第一个 IDR 画面开始";
}

}  // namespace clip::video
