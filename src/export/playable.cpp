#include "export/playable.h"

#include <cstring>

#include "export/ffmpeg.h"

namespace clip::video {
namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;
// No access unit of a level the recorders use comes near this; more bytes
// without a unit boundary are damage (a zero-filled stretch), not a picture.
constexpr uint64_t kMaxUnitBytes = 32ull << 20;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

void append_unit(std::vector<uint8_t>& out, const uint8_t* unit, std::size_t size) {
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), unit, unit + size);
}

}  // namespace

std::optional<int> row_channel(const scanner::ClipRow& row) {
  if (row.channel.empty() || row.channel.size() > 6) return std::nullopt;
  int channel = 0;
  for (char c : row.channel) {
    if (c < '0' || c > '9') return std::nullopt;
    channel = channel * 10 + (c - '0');
  }
  return channel;
}

struct PlayableStream::Unit {
  std::vector<uint8_t> bytes;
  std::vector<NalUnit> nals;
  int poc = 0;
  bool field = false;

  bool has(int type) const {
    for (const auto& n : nals) {
      if (n.type == type) return true;
    }
    return false;
  }
  bool picture() const { return has(kNalSlice) || has(kNalIdr); }
  std::span<const uint8_t> nal(const NalUnit& n) const { return {bytes.data() + n.offset, n.size}; }
  // The units a decoder uses, each behind a start code.
  void append_kept(std::vector<uint8_t>& out) const {
    for (const auto& n : nals) {
      if (!is_droppable_nal(n.type)) append_unit(out, bytes.data() + n.offset, n.size);
    }
  }
};

// Access units from the library's H.264 parser, which knows where one picture
// ends and the next begins.
struct PlayableStream::Units {
  explicit Units(StreamInput& in) : input(in), chunk(kChunkBytes + AV_INPUT_BUFFER_PADDING_SIZE, 0) { reset(); }

  void reset() {
    parser.reset(av_parser_init(AV_CODEC_ID_H264));
    context.reset(avcodec_alloc_context3(nullptr));
    since_unit = 0;
  }

  ReadStatus next(Unit& unit) {
    if (!parser || !context) return ReadStatus::failed;
    for (;;) {
      if (used == size && !input_end) {
        const auto got = input.read(chunk.data(), kChunkBytes);
        if (got.status == ReadStatus::stopped || got.status == ReadStatus::failed) return got.status;
        if (got.status == ReadStatus::end) input_end = true;
        used = 0;
        size = got.bytes;
        bytes += got.bytes;
        // The parser may look a little past the data: keep the padding zero.
        std::memset(chunk.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
      }
      uint8_t* out = nullptr;
      int out_size = 0;
      if (used < size) {
        const int fed = av_parser_parse2(parser.get(), context.get(), &out, &out_size, chunk.data() + used,
                                         static_cast<int>(size - used), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (fed < 0) return ReadStatus::failed;
        // A parser that neither takes bytes nor gives a unit would never
        // move on: what it refused is dropped.
        used = fed == 0 && out_size == 0 ? size : used + static_cast<std::size_t>(fed);
        since_unit += static_cast<uint64_t>(fed);
      } else if (!flushed) {
        av_parser_parse2(parser.get(), context.get(), &out, &out_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                         0);
        flushed = true;
      } else {
        return ReadStatus::end;
      }
      if (out_size > 0) {
        unit.bytes.assign(out, out + out_size);
        unit.nals = split_nal_units(unit.bytes);
        unit.poc = parser->output_picture_number;
        unit.field = parser->picture_structure == AV_PICTURE_STRUCTURE_TOP_FIELD ||
                     parser->picture_structure == AV_PICTURE_STRUCTURE_BOTTOM_FIELD;
        since_unit = 0;
        return ReadStatus::data;
      }
      if (since_unit > kMaxUnitBytes) reset();  // drops what the parser held
    }
  }

  StreamInput& input;
  ParserPtr parser;
  CodecContextPtr context;
  std::vector<uint8_t> chunk;
  std::size_t used = 0, size = 0;
  bool input_end = false, flushed = false;
  uint64_t bytes = 0, since_unit = 0;
};

PlayableStream::PlayableStream(StreamInput& input, sources::BlockSource* source, const scanner::ClipRow* row,
                               PlayableOptions options)
    : input_(input),
      source_(source),
      row_(row),
      options_(std::move(options)),
      own_sps_(32),
      own_pps_(256),
      fps_(options_.fps_setting) {
  quiet_library_log();
}

PlayableStream::~PlayableStream() = default;

uint64_t PlayableStream::bytes_read() const { return units_ ? units_->bytes : 0; }

ReadStatus PlayableStream::read_unit(Unit& unit) {
  const ReadStatus status = units_->next(unit);
  if (status != ReadStatus::data) return status;
  last_unit_ends_in_slice_ =
      !unit.nals.empty() && (unit.nals.back().type == kNalSlice || unit.nals.back().type == kNalIdr);
  for (const auto& n : unit.nals) {
    if (n.type == kNalSps) {
      if (const auto sps = parse_sps(unit.nal(n))) own_sps_[sps->id].assign(unit.nal(n).begin(), unit.nal(n).end());
    } else if (n.type == kNalPps) {
      if (const auto pps = parse_pps(unit.nal(n))) own_pps_[pps->id].assign(unit.nal(n).begin(), unit.nal(n).end());
    }
  }
  return status;
}

void PlayableStream::set_failure(ReadStatus status) {
  if (status == ReadStatus::failed) {
    error_ = input_.error().empty() ? "读取片段数据出错" : input_.error();
  }
}

PlayableStream::Open PlayableStream::open() {
  units_ = std::make_unique<Units>(input_);
  scratch_ = std::make_unique<Unit>();
  Unit unit;
  for (;;) {
    const ReadStatus status = read_unit(unit);
    if (status == ReadStatus::stopped) return Open::stopped;
    if (status == ReadStatus::failed) {
      set_failure(status);
      return Open::failed;
    }
    if (status == ReadStatus::end) {
      error_ = !repair_error_.empty() ? repair_error_ : "片段中没有可以单独解码的画面（没有带参数集的 IDR 帧）";
      return Open::failed;
    }
    if (!unit.picture()) continue;
    std::optional<SliceStart> slice;
    for (const auto& n : unit.nals) {
      if (n.type == kNalIdr) {
        slice = parse_slice_start(unit.nal(n));
        break;
      }
    }
    if (!slice || !find_parameter_sets(unit, *slice)) {
      if (stopped_in_repair_) return Open::stopped;
      if (gone_in_repair_) {
        error_ = scanner::kReadErrorText;
        return Open::failed;
      }
      ++skipped_;
      continue;
    }
    pending_ = std::make_unique<Packet>();
    if (!unit.has(kNalSps) || !unit.has(kNalPps)) pending_->data = sets_.annex_b();
    take_picture(unit, *pending_);
    if (const auto rate = sps_frame_rate(sets_.sps_fields)) {
      fps_ = *rate;
      fps_origin_ = FpsOrigin::sps;
    }
    return Open::ok;
  }
}

bool PlayableStream::find_parameter_sets(const Unit& idr, const SliceStart& slice) {
  const auto& pps = own_pps_[static_cast<std::size_t>(slice.pps_id)];
  std::optional<Pps> pps_fields = pps.empty() ? std::nullopt : parse_pps(pps);
  if (pps_fields && !own_sps_[static_cast<std::size_t>(pps_fields->sps_id)].empty()) {
    ParameterSets own;
    own.pps = pps;
    own.pps_fields = *pps_fields;
    own.sps = own_sps_[static_cast<std::size_t>(pps_fields->sps_id)];
    own.sps_fields = *parse_sps(own.sps);
    sets_ = std::move(own);
    return true;
  }
  // The parameter sets are looked for once: the pictures after this one name
  // the same ones.
  if (repair_tried_ || source_ == nullptr || row_ == nullptr) return false;
  repair_tried_ = true;
  const auto channel = row_channel(*row_);
  if (!channel) {
    repair_error_ = "片段缺少参数集（SPS/PPS），通道未知，无法从源上补全";
    return false;
  }
  Missing missing;
  missing.pps_id = slice.pps_id;
  missing.need_pps = !pps_fields;
  if (pps_fields) missing.sps_id = pps_fields->sps_id;
  for (std::size_t id = 0; id < own_sps_.size(); ++id) {
    if (!own_sps_[id].empty()) missing.own_sps |= 1u << id;
  }
  ParameterSetSearch search(*source_, row_->first_sector, *channel, missing, options_.repair_blocks,
                            options_.stop);
  while (auto candidate = search.next()) {
    if (candidate->pps.empty()) {
      candidate->pps = pps;
      candidate->pps_fields = *pps_fields;
    }
    if (candidate->sps.empty()) {
      candidate->sps = own_sps_[static_cast<std::size_t>(candidate->pps_fields.sps_id)];
      const auto sps = parse_sps(candidate->sps);
      if (!sps) continue;
      candidate->sps_fields = *sps;
    }
    if (usable(*candidate, idr)) {
      sets_ = std::move(*candidate);
      return true;
    }
  }
  stopped_in_repair_ = search.stopped();
  gone_in_repair_ = search.gone();
  repair_error_ = "片段缺少参数集（SPS/PPS），在源上此前 " + std::to_string(search.blocks_read()) +
                  " 个块中也没有找到同通道可用的参数集";
  return false;
}

// Borrowed parameter sets must really decode the picture: a decoder given the
// wrong ones fails on the slice data or produces nothing.
bool PlayableStream::usable(const ParameterSets& sets, const Unit& idr) {
  std::string error;
  auto decoder = open_h264_decoder(true, error);
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!decoder || !packet || !frame) return false;
  std::vector<uint8_t> data = sets.annex_b();
  idr.append_kept(data);
  if (av_new_packet(packet.get(), static_cast<int>(data.size())) < 0) return false;
  std::memcpy(packet->data, data.data(), data.size());
  packet->flags |= AV_PKT_FLAG_KEY;
  if (avcodec_send_packet(decoder.get(), packet.get()) < 0) return false;
  avcodec_send_packet(decoder.get(), nullptr);
  const bool decoded = avcodec_receive_frame(decoder.get(), frame.get()) == 0;
  take_library_error();
  return decoded && frame->decode_error_flags == 0 && (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0;
}

void PlayableStream::take_picture(const Unit& unit, Packet& packet) {
  unit.append_kept(packet.data);
  packet.key = unit.has(kNalIdr);
  packet.index = next_index_++;
  packet.poc = unit.poc;
  packet.field = unit.field;
}

// One picture is held back: only the next one (or the end) tells whether it
// was the stream's last, which the end of the source may have cut.
ReadStatus PlayableStream::next(Packet& packet) {
  if (!pending_) return ReadStatus::end;
  Unit& unit = *scratch_;  // kept between calls: its buffers are reused
  for (;;) {
    const ReadStatus status = read_unit(unit);
    if (status == ReadStatus::end) {
      // A picture whose slice the end of the source cut off can't be
      // decoded whole; the filler after the video is what an end usually cuts.
      if (input_.cut_short() && last_unit_ends_in_slice_) {
        ++cut_;
        pending_.reset();
        return ReadStatus::end;
      }
      packet = std::move(*pending_);
      pending_.reset();
      return ReadStatus::data;
    }
    if (status != ReadStatus::data) {
      set_failure(status);
      return status;
    }
    if (!unit.picture()) {
      unit.append_kept(carried_);
      continue;
    }
    packet = std::move(*pending_);
    *pending_ = Packet{};
    pending_->data.swap(carried_);
    take_picture(unit, *pending_);
    return ReadStatus::data;
  }
}

}  // namespace clip::video
