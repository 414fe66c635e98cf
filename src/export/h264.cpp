#include "export/h264.h"

#include <cstring>
#include <numeric>

namespace clip::video {
namespace {

// Reads bits of an unescaped unit, most significant first. A read past the
// end sets the failure flag and yields zeros; parsers check it at the end of
// what they read.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> data) : data_(data) {}

  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  bool flag() { return bit() != 0; }

  // Exp-Golomb codes; more than 31 leading zeros can't be a valid code.
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (failed_ || ++zeros > 31) {
        failed_ = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
  }
  int32_t se() {
    const uint32_t k = ue();
    const int64_t magnitude = (int64_t{k} + 1) / 2;
    return static_cast<int32_t>(k % 2 == 1 ? magnitude : -magnitude);
  }
  // ue() that must not exceed `max`.
  uint32_t ue_max(uint32_t max) {
    const uint32_t v = ue();
    if (v > max) failed_ = true;
    return v;
  }

  std::size_t position() const { return pos_; }
  bool failed() const { return failed_; }
  void fail() { failed_ = true; }

 private:
  uint32_t bit() {
    if (pos_ >= data_.size() * 8) {
      failed_ = true;
      return 0;
    }
    const uint32_t b = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u;
    ++pos_;
    return b;
  }

  std::span<const uint8_t> data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

void skip_scaling_list(BitReader& r, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size && !r.failed(); ++j) {
    if (next != 0) {
      const int32_t delta = r.se();
      if (delta < -128 || delta > 127) {
        r.fail();
        return;
      }
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

void skip_hrd(BitReader& r) {
  const uint32_t count = r.ue_max(31) + 1;
  r.bits(8);  // bit_rate_scale, cpb_size_scale
  for (uint32_t i = 0; i < count && !r.failed(); ++i) {
    r.ue();
    r.ue();
    r.flag();
  }
  r.bits(20);  // four delay and length fields of 5 bits
}

bool profile_has_chroma_info(int profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

// VUI fields up to the bitstream restriction; sets the timing and reorder
// fields of `sps`.
void read_vui(BitReader& r, Sps& sps) {
  if (r.flag()) {  // aspect_ratio_info_present_flag
    if (r.bits(8) == 255) r.bits(32);  // Extended_SAR: sar_width, sar_height
  }
  if (r.flag()) r.flag();  // overscan
  if (r.flag()) {          // video_signal_type_present_flag
    r.bits(4);
    if (r.flag()) r.bits(24);  // colour description
  }
  if (r.flag()) {  // chroma_loc_info_present_flag
    r.ue();
    r.ue();
  }
  sps.timing_info = r.flag();
  if (sps.timing_info) {
    sps.num_units_in_tick = r.bits(32);
    sps.time_scale = r.bits(32);
    r.flag();  // fixed_frame_rate_flag
  }
  const bool nal_hrd = r.flag();
  if (nal_hrd) skip_hrd(r);
  const bool vcl_hrd = r.flag();
  if (vcl_hrd) skip_hrd(r);
  if (nal_hrd || vcl_hrd) r.flag();  // low_delay_hrd_flag
  r.flag();                          // pic_struct_present_flag
  if (r.flag()) {                    // bitstream_restriction_flag
    r.flag();
    r.ue();
    r.ue();
    r.ue();
    r.ue();
    sps.max_num_reorder_frames = static_cast<int>(r.ue_max(16));
    r.ue();
  }
}

bool has_type(std::span<const uint8_t> nal, int type) { return !nal.empty() && (nal[0] & 0x1F) == type; }

}  // namespace

std::size_t find_start_code(const uint8_t* data, std::size_t size, std::size_t from) {
  std::size_t p = from;
  while (p + 3 <= size) {
    const void* hit = std::memchr(data + p + 2, 1, size - p - 2);
    if (hit == nullptr) return size;
    const std::size_t one = static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - data);
    if (data[one - 1] == 0 && data[one - 2] == 0) return one - 2;
    p = one - 1;
  }
  return size;
}

std::vector<NalUnit> split_nal_units(std::span<const uint8_t> data) {
  std::vector<NalUnit> units;
  const uint8_t* d = data.data();
  const std::size_t n = data.size();
  std::size_t at = find_start_code(d, n);
  while (at < n) {
    const std::size_t begin = at + 3;
    const std::size_t next = find_start_code(d, n, begin);
    std::size_t end = next;
    while (end > begin && d[end - 1] == 0) --end;  // trailing zeros, and a four-byte start code's first zero
    if (end > begin) {
      NalUnit unit;
      // The unit before ends without its trailing zeros, so a zero here is
      // the first byte of a four-byte start code.
      unit.start = at > 0 && d[at - 1] == 0 ? at - 1 : at;
      unit.offset = begin;
      unit.size = end - begin;
      unit.type = d[begin] & 0x1F;
      unit.ref_idc = (d[begin] >> 5) & 3;
      units.push_back(unit);
    }
    at = next;
  }
  return units;
}

bool is_droppable_nal(int type) { return type == 0 || type == kNalFiller || type >= 24; }

std::vector<uint8_t> unescape(std::span<const uint8_t> nal, std::size_t limit) {
  std::vector<uint8_t> out;
  out.reserve(std::min(nal.size(), limit));
  int zeros = 0;
  for (std::size_t i = 0; i < nal.size() && out.size() < limit; ++i) {
    const uint8_t b = nal[i];
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  return out;
}

std::optional<Sps> parse_sps(std::span<const uint8_t> nal) {
  if (!has_type(nal, kNalSps)) return std::nullopt;
  // A valid SPS is a few dozen bytes; scaling lists and HRD data stay well
  // below this.
  const auto rbsp = unescape(nal, 1024);
  BitReader r(rbsp);
  Sps sps;
  r.bits(8);  // NAL header
  sps.profile_idc = static_cast<int>(r.bits(8));
  r.bits(16);  // constraint flags, level_idc
  sps.id = static_cast<int>(r.ue_max(31));
  if (profile_has_chroma_info(sps.profile_idc)) {
    sps.chroma_format_idc = static_cast<int>(r.ue_max(3));
    if (sps.chroma_format_idc == 3) sps.separate_colour_plane = r.flag();
    r.ue_max(6);                               // bit depths
    r.ue_max(6);
    r.flag();
    if (r.flag()) {  // seq_scaling_matrix_present_flag
      const int lists = sps.chroma_format_idc == 3 ? 12 : 8;
      for (int i = 0; i < lists && !r.failed(); ++i) {
        if (r.flag()) skip_scaling_list(r, i < 6 ? 16 : 64);
      }
    }
  }
  sps.log2_max_frame_num = static_cast<int>(r.ue_max(12)) + 4;
  sps.poc_type = static_cast<int>(r.ue_max(2));
  if (sps.poc_type == 0) {
    r.ue_max(12);
  } else if (sps.poc_type == 1) {
    r.flag();
    r.se();
    r.se();
    const uint32_t cycle = r.ue_max(255);
    for (uint32_t i = 0; i < cycle && !r.failed(); ++i) r.se();
  }
  r.ue();    // max_num_ref_frames
  r.flag();  // gaps_in_frame_num_value_allowed_flag
  const uint32_t width_mbs = r.ue_max(1023) + 1;
  const uint32_t height_units = r.ue_max(1023) + 1;
  sps.frame_mbs_only = r.flag();
  if (!sps.frame_mbs_only) r.flag();  // mb_adaptive_frame_field_flag
  r.flag();                           // direct_8x8_inference_flag
  uint32_t crop[4] = {0, 0, 0, 0};
  if (r.flag()) {
    for (auto& c : crop) c = r.ue_max(8192);
  }
  sps.vui_flag_bit = r.position();
  if (r.flag()) read_vui(r, sps);
  if (r.failed()) return std::nullopt;

  const int field_factor = sps.frame_mbs_only ? 1 : 2;
  const int crop_x = sps.chroma_format_idc == 1 || sps.chroma_format_idc == 2 ? 2 : 1;
  const int crop_y = (sps.chroma_format_idc == 1 ? 2 : 1) * field_factor;
  const int64_t width = int64_t{width_mbs} * 16 - int64_t{crop_x} * (crop[0] + crop[1]);
  const int64_t height = int64_t{height_units} * 16 * field_factor - int64_t{crop_y} * (crop[2] + crop[3]);
  if (width <= 0 || height <= 0) return std::nullopt;
  sps.width = static_cast<int>(width);
  sps.height = static_cast<int>(height);
  return sps;
}

std::optional<Pps> parse_pps(std::span<const uint8_t> nal) {
  if (!has_type(nal, kNalPps)) return std::nullopt;
  const auto rbsp = unescape(nal, 16);
  BitReader r(rbsp);
  r.bits(8);
  Pps pps;
  pps.id = static_cast<int>(r.ue_max(255));
  pps.sps_id = static_cast<int>(r.ue_max(31));
  if (r.failed()) return std::nullopt;
  return pps;
}

std::optional<SliceStart> parse_slice_start(std::span<const uint8_t> nal, const Sps* sps) {
  if (!has_type(nal, kNalSlice) && !has_type(nal, kNalIdr)) return std::nullopt;
  const auto rbsp = unescape(nal, 32);
  BitReader r(rbsp);
  r.bits(8);
  SliceStart slice;
  slice.first_mb = r.ue_max(139264);  // the most macroblocks a picture of level 6.2 has
  slice.slice_type = static_cast<int>(r.ue_max(9));
  slice.pps_id = static_cast<int>(r.ue_max(255));
  if (sps != nullptr) {
    if (sps->separate_colour_plane) r.bits(2);
    slice.frame_num = r.bits(sps->log2_max_frame_num);
    if (!sps->frame_mbs_only) slice.field = r.flag();
  }
  if (r.failed()) return std::nullopt;
  return slice;
}

std::optional<Rate> sps_frame_rate(const Sps& sps) {
  if (!sps.timing_info || sps.num_units_in_tick == 0 || sps.time_scale == 0) return std::nullopt;
  int64_t num = sps.time_scale;
  int64_t den = int64_t{2} * sps.num_units_in_tick;
  const int64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  if (num < den || num > 300 * den) return std::nullopt;
  // Times in the MP4 count half frames in a 32-bit time base: a fraction
  // that large is no real rate, kept to a thousandth of a frame.
  if (num > (int64_t{1} << 29)) {
    num = (num * 1000 + den / 2) / den;
    den = 1000;
    const int64_t k = std::gcd(num, den);
    num /= k;
    den /= k;
  }
  return Rate{num, den};
}

std::optional<Rate> parse_rate(std::string_view text) {
  // Digits with at most one "." or one "/"; the value is kept exact.
  auto number = [](std::string_view digits, int64_t& value) {
    if (digits.empty() || digits.size() > 9) return false;
    value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    return true;
  };
  int64_t num = 0, den = 1;
  if (const auto slash = text.find('/'); slash != std::string_view::npos) {
    if (!number(text.substr(0, slash), num) || !number(text.substr(slash + 1), den) || den == 0) return std::nullopt;
  } else if (const auto dot = text.find('.'); dot != std::string_view::npos) {
    const auto whole = text.substr(0, dot), fraction = text.substr(dot + 1);
    int64_t w = 0, f = 0;
    if (!number(whole, w) || !number(fraction, f) || fraction.size() > 6) return std::nullopt;
    den = 1;
    for (std::size_t i = 0; i < fraction.size(); ++i) den *= 10;
    num = w * den + f;
  } else if (!number(text, num)) {
    return std::nullopt;
  }
  const int64_t g = std::gcd(num, den);
  if (g == 0 || num < den || num > 300 * den) return std::nullopt;
  return Rate{num / g, den / g};
}

bool may_reorder(const Sps& sps) {
  if (sps.poc_type == 2 || sps.max_num_reorder_frames == 0) return false;
  // Baseline streams have no B slices.
  return sps.profile_idc != 66;
}

}  // namespace clip::video
