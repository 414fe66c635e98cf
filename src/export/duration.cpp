#include "export/duration.h"

#include <array>
#include <optional>
#include <vector>

#include "export/clock.h"
#include "export/repair.h"

namespace clip::video {
namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
// How much of a unit is looked at: a slice header's first fields fit in the
// first, an SPS (with its timing) in the second.
constexpr std::size_t kSliceBytes = 32;
constexpr std::size_t kSpsBytes = 1024;

// Counts pictures in an Annex B stream that arrives in pieces. A frame counts
// two ticks and a field one, so a stream of field pairs counts its frames.
class PictureCounter {
 public:
  // Looks at every unit whose first bytes are in `buffer`; returns where the
  // first unit not looked at yet begins (the caller keeps the bytes from
  // there and appends the next piece).
  std::size_t scan(const std::vector<uint8_t>& buffer, bool last) {
    const uint8_t* d = buffer.data();
    const std::size_t n = buffer.size();
    std::size_t at = find_start_code(d, n, 0);
    while (at < n) {
      const std::size_t begin = at + 3;
      if (begin >= n) return last ? n : at;  // the unit's first byte is still to come
      const std::size_t next = find_start_code(d, n, begin);
      const int type = d[begin] & 0x1F;
      const std::size_t want = type == kNalSps ? kSpsBytes : kSliceBytes;
      if (next == n && !last && n - begin < want) return at;
      look(std::span<const uint8_t>(d + begin, std::min(next, begin + want) - begin));
      at = next;
    }
    // A start code may straddle the end: keep what could be its first two
    // bytes (no start code looked at begins there).
    if (last) return n;
    return n >= 2 ? n - 2 : 0;
  }

  int64_t frames() const { return (ticks_ + 1) / 2; }
  std::optional<Rate> rate() const { return rate_; }
  std::optional<int> first_pps() const { return first_pps_; }

 private:
  void look(std::span<const uint8_t> unit) {
    const int type = unit[0] & 0x1F;
    if (type == kNalSps) {
      if (auto sps = parse_sps(unit)) {
        if (!rate_) rate_ = sps_frame_rate(*sps);
        sps_[static_cast<std::size_t>(sps->id)] = *sps;
      }
    } else if (type == kNalPps) {
      if (const auto pps = parse_pps(unit)) pps_sps_[static_cast<std::size_t>(pps->id)] = pps->sps_id;
    } else if (type == kNalSlice || type == kNalIdr) {
      const auto slice = parse_slice_start(unit);
      if (!slice || slice->first_mb != 0) return;
      if (!first_pps_) first_pps_ = slice->pps_id;
      const Sps* sps = nullptr;
      if (const int sps_id = pps_sps_[static_cast<std::size_t>(slice->pps_id)]; sps_id >= 0) {
        if (sps_[static_cast<std::size_t>(sps_id)]) sps = &*sps_[static_cast<std::size_t>(sps_id)];
      }
      const auto full = sps ? parse_slice_start(unit, sps) : slice;
      ticks_ += full && full->field ? 1 : 2;
    }
  }

  std::array<std::optional<Sps>, 32> sps_;
  std::array<int, 256> pps_sps_ = make_unknown();
  std::optional<Rate> rate_;
  std::optional<int> first_pps_;
  int64_t ticks_ = 0;

  static std::array<int, 256> make_unknown() {
    std::array<int, 256> a;
    a.fill(-1);
    return a;
  }
};

}  // namespace

ClipDuration clip_duration(sources::BlockSource& source, const scanner::ClipRow& row, const DurationOptions& options) {
  SourceClipInput input(source, row, options.sector_tries, options.stop);
  return stream_duration(input, &source, &row, options);
}

ClipDuration stream_duration(StreamInput& input, sources::BlockSource* source, const scanner::ClipRow* row,
                             const DurationOptions& options) {
  ClipDuration result;
  PictureCounter counter;
  // Pieces no bigger than the stream, when its size is known.
  const uint64_t known = input.size();
  std::vector<uint8_t> buffer,
      piece(known > 0 && known < kChunkBytes ? static_cast<std::size_t>(known) + 1 : kChunkBytes);
  bool last = false;
  while (!last) {
    std::size_t want = piece.size();
    if (options.max_bytes > 0) {
      if (result.bytes_read >= options.max_bytes) {
        result.over_limit = true;
        result.error = "片段超过计算时长的读取上限";
        return result;
      }
      want = static_cast<std::size_t>(std::min<uint64_t>(want, options.max_bytes - result.bytes_read));
    }
    const auto got = input.read(piece.data(), want);
    buffer.insert(buffer.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got.bytes));
    result.bytes_read += got.bytes;
    if (got.status == ReadStatus::stopped) {
      result.stopped = true;
      return result;
    }
    if (got.status == ReadStatus::failed) {
      result.error = input.error();
      return result;
    }
    last = got.status == ReadStatus::end;
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(counter.scan(buffer, last)));
  }

  result.frames = counter.frames();
  if (result.frames == 0) {
    result.error = "片段中没有画面";
    return result;
  }
  result.fps = options.fps_setting;
  if (auto rate = counter.rate()) {
    result.fps = *rate;
    result.fps_origin = FpsOrigin::sps;
  } else if (source != nullptr && row != nullptr && counter.first_pps()) {
    if (const auto channel = row_channel(*row)) {
      Missing missing;
      missing.pps_id = *counter.first_pps();
      ParameterSetSearch search(*source, row->first_sector, *channel, missing, options.repair_blocks, options.stop);
      if (const auto sets = search.next()) {
        if (const auto rate = sps_frame_rate(sets->sps_fields)) {
          result.fps = *rate;
          result.fps_origin = FpsOrigin::sps;
        }
      }
      if (search.stopped()) {
        result.stopped = true;
        return result;
      }
    }
  }
  result.seconds = static_cast<double>(result.frames) * static_cast<double>(result.fps.den) /
                   static_cast<double>(result.fps.num);
  result.known = true;
  return result;
}

std::string end_column(std::string_view start, int64_t frames, Rate fps) {
  if (frames <= 0 || fps.num <= 0 || fps.den <= 0) return {};
  const auto t = parse_start(start);
  if (!t) return {};
  return clock_text(add_seconds(*t, frames * fps.den / fps.num));
}

std::string end_column(std::string_view start, const ClipDuration& duration) {
  if (!duration.known) return {};
  return end_column(start, duration.frames, duration.fps);
}

}  // namespace clip::video
