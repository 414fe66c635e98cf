// Byte layout of a recorder disk: the blocks the recorder writes, built from
// scratch here so that the generated images check the scanner independently.
//
// Every block is laid out so that the bytes of a recording (its blocks in
// reading order, header block included) form an H.264 Annex B stream that a
// decoder plays: the recorder's own bytes (time, signature, channel, stream
// marker) sit inside NAL units of a type that decoders skip (type 24, which
// H.264 leaves unspecified), the video NAL units follow whole, and the rest of
// the block is one filler-data NAL unit. Each block starts with a start code,
// so a block never continues a NAL unit of the block before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace clip::imagegen {

inline constexpr int64_t kSectorBytes = 512;
inline constexpr int64_t kBlockSectors = 128;
inline constexpr std::size_t kBlockBytes = 65536;
inline constexpr int64_t kSearchStartSector = 8'000'000;

inline constexpr std::string_view kSignature = "MDVR96NT_2_R";
inline constexpr std::size_t kSignatureOffset = 80;
inline constexpr std::size_t kTimeOffset = 43;
inline constexpr std::size_t kChannelOffset = 468;
inline constexpr std::string_view kMarker = "dcH264";

// The header's video starts after its first sector; a stream block's after
// its marker area.
inline constexpr std::size_t kHeaderVideoOffset = 512;
inline constexpr std::size_t kStreamVideoOffset = 32;
inline constexpr std::size_t kDefaultMarkerPos = 8;
// Room kept free at the end of every block: the filler NAL unit's header and
// a marker placed at the block's very end.
inline constexpr std::size_t kTailReserve = 64;
inline constexpr std::size_t kMaxVideoPerBlock = kBlockBytes - kHeaderVideoOffset - kTailReserve;

// Year within the century, month, day, hour, minute, second: the six bytes at
// offsets 43 to 48 of a header block, written as they are.
using RecordTime = std::array<uint8_t, 6>;

using Bytes = std::vector<uint8_t>;

// A header block: the start of a recording of `channel_byte` (written as the
// byte at offset 468; the clip list shows it unchanged) at `time`, carrying
// the first video NAL units of the recording.
Bytes header_block(uint8_t channel_byte, const RecordTime& time, std::span<const uint8_t> video);

// Where a stream block's marker goes.
enum class MarkerPlace {
  normal,       // at kDefaultMarkerPos, inside the block's leading skipped NAL unit
  block_end,    // the marker's last byte is the block's last valid byte
  edge_last_classic,  // the marker starts at V - 9, the last place a search to V - 9 looks
  position0,    // the marker opens the block (its channel character would be at -2)
  position1,    // the marker starts at byte 1 (channel character at -1)
  none,         // no marker: the block keeps the channel of the block before it
};

struct StreamBlockSpec {
  // The character two bytes before the marker: '0' + channel - 1 normally;
  // anything else for damaged markers.
  char channel_char = '0';
  MarkerPlace place = MarkerPlace::normal;
  // Valid bytes of the block (a truncated last block is shorter). The block's
  // bytes are still kBlockBytes long; the marker placement counts from here.
  std::size_t valid = kBlockBytes;
  // A second, good marker after a damaged one (the scan may go on searching
  // the same block), with this channel character; 0 for none.
  char second_channel_char = 0;
};

// A stream block carrying `video` (whole NAL units with start codes).
Bytes stream_block(const StreamBlockSpec& plan, std::span<const uint8_t> video);

// Offset of the marker that stream_block() places for `plan` (the first one
// when there are two); meaningless for MarkerPlace::none.
std::size_t marker_offset(const StreamBlockSpec& plan);

// The marker character of a channel counted from 1 (1 -> '0', 10 -> '9').
char channel_char_of(int channel);

}  // namespace clip::imagegen
