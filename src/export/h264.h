// Just enough of the H.264 byte stream to make a recovered clip playable: NAL
// units of an Annex B stream, and the first fields of parameter sets and
// slice headers (ids, picture size, frame timing). Pictures themselves are
// left to the decoder. Every reader here takes untrusted bytes: a field that
// runs past its NAL unit or leaves its legal range makes the parse fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace clip::video {

enum NalType : int {
  kNalSlice = 1,
  kNalIdr = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalFiller = 12,
};

// One NAL unit inside a buffer: `start` is where its start code begins, the
// unit itself (header byte first) is [offset, offset + size), trailing zero
// bytes excluded.
struct NalUnit {
  std::size_t start = 0;
  std::size_t offset = 0;
  std::size_t size = 0;
  int type = 0;
  int ref_idc = 0;
};

// Position of the next three-byte start code (00 00 01) at or after `from`,
// or `size` when there is none.
std::size_t find_start_code(const uint8_t* data, std::size_t size, std::size_t from = 0);

// The NAL units of an Annex B buffer, in order. Bytes before the first start
// code belong to no unit. The last unit runs to the end of the buffer.
std::vector<NalUnit> split_nal_units(std::span<const uint8_t> data);

// Units of these types carry nothing a decoder needs: filler data, and the
// types H.264 leaves unspecified, in which the recorder keeps its own bytes.
bool is_droppable_nal(int type);

// A frame rate as a fraction, frames per second = num / den.
struct Rate {
  int64_t num = 0;
  int64_t den = 1;
  double value() const { return den > 0 ? static_cast<double>(num) / static_cast<double>(den) : 0.0; }
  bool operator==(const Rate&) const = default;
};

struct Sps {
  int id = 0;
  int profile_idc = 0;
  int chroma_format_idc = 1;
  int width = 0;   // luma samples after cropping
  int height = 0;
  bool separate_colour_plane = false;
  int log2_max_frame_num = 4;
  int poc_type = 0;
  bool frame_mbs_only = true;
  bool timing_info = false;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  // From the bitstream restriction, -1 when the SPS doesn't say.
  int max_num_reorder_frames = -1;
  // Bit position, within the unescaped unit (header byte included), of
  // vui_parameters_present_flag.
  std::size_t vui_flag_bit = 0;
};

struct Pps {
  int id = 0;
  int sps_id = 0;
};

// The fields at the start of every slice header; with the SPS known, also
// whether the picture is one field of a frame.
struct SliceStart {
  uint32_t first_mb = 0;
  int slice_type = 0;  // 0 to 9
  int pps_id = 0;
  uint32_t frame_num = 0;
  bool field = false;
};

// The unit's bytes with the emulation-prevention bytes (00 00 03 -> 00 00)
// removed, at most `limit` of them.
std::vector<uint8_t> unescape(std::span<const uint8_t> nal, std::size_t limit = SIZE_MAX);

// Each takes one whole NAL unit, header byte first, and fails on a unit of
// another type.
std::optional<Sps> parse_sps(std::span<const uint8_t> nal);
std::optional<Pps> parse_pps(std::span<const uint8_t> nal);
std::optional<SliceStart> parse_slice_start(std::span<const uint8_t> nal, const Sps* sps = nullptr);

// The SPS's frame rate: time_scale / (2 x num_units_in_tick), reduced; none
// when the SPS has no timing information or gives a rate outside 1 to 300
// frames per second.
std::optional<Rate> sps_frame_rate(const Sps& sps);

// A frame-rate setting as an operator types it: "25", "12.5", "29.97" or
// "30000/1001"; none for anything else or a rate outside 1 to 300 frames per
// second.
std::optional<Rate> parse_rate(std::string_view text);

// Whether the stream may show pictures in another order than it stores them.
bool may_reorder(const Sps& sps);

}  // namespace clip::video
