// Parameter sets for a clip that starts without them (the open clip of a
// channel, a clip whose start was overwritten): the recorder sends its SPS and
// PPS with every recording of a channel, so the nearest earlier blocks of the
// same channel on the source carry the ones the clip was encoded with.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/h264.h"
#include "sources/block_source.h"

namespace clip::video {

struct ParameterSets {
  std::vector<uint8_t> sps;  // NAL units, header byte first, no start code
  std::vector<uint8_t> pps;
  Sps sps_fields;
  Pps pps_fields;
  // -1 when the clip carries the unit itself; otherwise the first sector of
  // the source block it was taken from.
  int64_t sps_sector = -1;
  int64_t pps_sector = -1;

  bool borrowed() const { return sps_sector >= 0 || pps_sector >= 0; }
  // Start code, SPS, start code, PPS.
  std::vector<uint8_t> annex_b() const;
};

// "clip", or where the borrowed units were: "sector 8000258", or
// "sectors 8000258, 8000130" when the SPS and the PPS came from two blocks.
std::string parameter_sets_origin(const ParameterSets& sets);

// The channel of a block as the scan decides it: a header block's channel
// byte, or the stream marker's digit + 1; none for a block with neither.
std::optional<int> block_channel(const uint8_t* block, std::size_t valid);

// What the clip lacks: the PPS its first picture names (when the clip has no
// PPS of that id), and the SPS that PPS names (when the clip has none of it).
// With the PPS known, sps_id is its SPS, which the clip lacks.
struct Missing {
  int pps_id = 0;
  bool need_pps = true;
  // Known when the clip carries the PPS; otherwise it comes from the PPS found.
  std::optional<int> sps_id;
  // SPS ids the clip carries (bit per id): a PPS found that names one of
  // them needs no SPS from the source.
  uint32_t own_sps = 0;
};

// Walks the source backwards, block by block from the block before
// `first_sector`, through at most `max_blocks` blocks, and hands out the
// parameter sets of the given channel that fill in what is missing, nearest
// first. Blocks of other channels, of no known channel, and unreadable blocks
// are passed over.
class ParameterSetSearch {
 public:
  ParameterSetSearch(sources::BlockSource& source, int64_t first_sector, int channel, const Missing& missing,
                     int max_blocks, std::function<bool()> stop = {});

  // The next candidate further back; none when the search is over (see
  // stopped() and gone()). Units the clip carries itself stay empty.
  std::optional<ParameterSets> next();

  bool stopped() const { return stopped_; }
  bool gone() const { return gone_; }
  int blocks_read() const { return blocks_read_; }

 private:
  bool load_previous_block();

  sources::BlockSource& source_;
  int channel_;
  Missing missing_;
  int max_blocks_;
  std::function<bool()> stop_;
  int64_t block_sector_;
  int blocks_read_ = 0;
  std::vector<uint8_t> block_;
  std::vector<NalUnit> units_;
  std::size_t unit_ = 0;  // units still to look at, counted from the block's end
  ParameterSets found_;
  bool stopped_ = false;
  bool gone_ = false;
};

}  // namespace clip::video
