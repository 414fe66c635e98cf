#include "imagegen/layout.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace clip::imagegen {
namespace {

// NAL unit headers: type 24 with nal_ref_idc 3 (unspecified, skipped by
// decoders; a nonzero ref_idc is what stream probes expect of such units) and
// filler data (type 12, ref_idc 0).
constexpr uint8_t kSkippedNal = 0x78;
constexpr uint8_t kFillerNal = 0x0C;
// Filler byte of the skipped areas: never part of a start code or an
// emulation-prevention sequence.
constexpr uint8_t kFill = 0xFF;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr std::size_t kSecondMarkerPos = 22;

void put_start(Bytes& b, std::size_t at, uint8_t nal) {
  std::memcpy(b.data() + at, kStartCode, 4);
  b[at + 4] = nal;
}

void put_text(Bytes& b, std::size_t at, std::string_view text) {
  std::memcpy(b.data() + at, text.data(), text.size());
}

void put_marker(Bytes& b, std::size_t pos, char channel_char) {
  // The recorder's marker reads "<channel>0dcH264": the channel character two
  // bytes before "dcH264". Byte p - 1 is a fixed '0' so that a reader looking
  // one byte too close gets a wrong channel rather than the right one.
  if (pos >= 2) b[pos - 2] = static_cast<uint8_t>(channel_char);
  if (pos >= 1) b[pos - 1] = '0';
  put_text(b, pos, kMarker);
}

// Places the video NAL units at `offset` and opens the filler NAL unit that
// runs to the block's end. `limit` is the first byte the video must not reach.
void put_video(Bytes& b, std::size_t offset, std::size_t limit, std::span<const uint8_t> video) {
  if (offset + video.size() + 5 > limit) {
    throw std::invalid_argument("video does not fit in the block");
  }
  std::copy(video.begin(), video.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
  put_start(b, offset + video.size(), kFillerNal);
  b.back() = 0x80;  // rbsp trailing bits of the filler unit
}

}  // namespace

char channel_char_of(int channel) {
  if (channel < 1 || channel > 10) throw std::invalid_argument("marker channels are 1 to 10");
  return static_cast<char>('0' + channel - 1);
}

Bytes header_block(uint8_t channel_byte, const RecordTime& time, std::span<const uint8_t> video) {
  Bytes b(kBlockBytes, kFill);
  put_start(b, 0, kSkippedNal);
  std::copy(time.begin(), time.end(), b.begin() + kTimeOffset);
  // Time bytes such as 00 00 01 make a start code; the unit they open must
  // again be one that decoders skip.
  b[kTimeOffset + time.size()] = kSkippedNal;
  put_text(b, kSignatureOffset, kSignature);
  b[kChannelOffset] = channel_byte;
  put_video(b, kHeaderVideoOffset, kBlockBytes - kTailReserve, video);
  return b;
}

std::size_t marker_offset(const StreamBlockSpec& plan) {
  switch (plan.place) {
    case MarkerPlace::normal:
    case MarkerPlace::none:
      return kDefaultMarkerPos;
    case MarkerPlace::block_end:
      return plan.valid - kMarker.size();
    case MarkerPlace::edge_last_classic:
      return plan.valid - 9;
    case MarkerPlace::position0:
      return 0;
    case MarkerPlace::position1:
      return 1;
  }
  return kDefaultMarkerPos;
}

Bytes stream_block(const StreamBlockSpec& plan, std::span<const uint8_t> video) {
  if (plan.valid < kStreamVideoOffset + kTailReserve || plan.valid > kBlockBytes) {
    throw std::invalid_argument("bad valid length");
  }
  Bytes b(kBlockBytes, kFill);
  switch (plan.place) {
    case MarkerPlace::position0:
    case MarkerPlace::position1:
      // The block begins inside the marker, not with a start code: its first
      // bytes extend the filler unit of the block before it.
      put_marker(b, marker_offset(plan), plan.channel_char);
      put_start(b, 8, kSkippedNal);
      break;
    case MarkerPlace::none:
      put_start(b, 0, kSkippedNal);
      break;
    default:
      put_start(b, 0, kSkippedNal);
      if (plan.place == MarkerPlace::normal) put_marker(b, kDefaultMarkerPos, plan.channel_char);
      break;
  }
  if (plan.second_channel_char != 0) put_marker(b, kSecondMarkerPos, plan.second_channel_char);
  // Markers at the end lie inside the filler unit, after the video.
  put_video(b, kStreamVideoOffset, plan.valid - kTailReserve, video);
  if (plan.place == MarkerPlace::block_end || plan.place == MarkerPlace::edge_last_classic) {
    put_marker(b, marker_offset(plan), plan.channel_char);
  }
  return b;
}

}  // namespace clip::imagegen
