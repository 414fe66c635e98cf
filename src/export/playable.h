// A clip's stream made playable: cut into access units (pictures), starting at
// the first picture a decoder can show on its own (an IDR picture whose
// parameter sets are known), with the parameter sets borrowed from the source
// when the clip doesn't carry them, and without the units a decoder skips
// (the recorder's own bytes and the filler that pads its blocks). The MP4
// export and the preview both read the clip through it; the clip's bytes
// themselves are never changed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/h264.h"
#include "export/repair.h"
#include "export/stream_input.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::video {

enum class FpsOrigin {
  sps,      // the stream's timing information
  setting,  // the stream has none: the caller's setting
};

struct Packet {
  std::vector<uint8_t> data;  // Annex B, four-byte start codes
  bool key = false;           // an IDR picture
  int64_t index = 0;          // decoding order, from 0
  int poc = 0;                // display order within its IDR period
  bool field = false;         // one field of a frame
};

struct PlayableOptions {
  Rate fps_setting{25, 1};
  // How far back (in blocks) the search for missing parameter sets looks.
  int repair_blocks = 4096;
  std::function<bool()> stop;
};

// The clip's channel as a number, from the row's channel text; none when the
// text is empty or not a number.
std::optional<int> row_channel(const scanner::ClipRow& row);

class PlayableStream {
 public:
  enum class Open { ok, stopped, failed };

  // `source` and `row` are where missing parameter sets are looked for; with
  // no source the clip must carry its own. All three must outlive the stream.
  PlayableStream(StreamInput& input, sources::BlockSource* source, const scanner::ClipRow* row,
                 PlayableOptions options);
  ~PlayableStream();
  PlayableStream(const PlayableStream&) = delete;
  PlayableStream& operator=(const PlayableStream&) = delete;

  // Reads up to the first decodable picture. On failure error() says why.
  Open open();
  // The pictures from there on, in decoding order; the first carries the
  // parameter sets in front of it. A last picture that the end of the source
  // cut short is left out.
  ReadStatus next(Packet& packet);

  const std::string& error() const { return error_; }
  const ParameterSets& parameter_sets() const { return sets_; }
  bool repaired() const { return sets_.borrowed(); }
  // Pictures before the first decodable one, left out.
  int64_t skipped_pictures() const { return skipped_; }
  // The last picture, left out when the end of the source cut it (known once
  // next() has said `end`).
  int64_t cut_pictures() const { return cut_; }
  Rate fps() const { return fps_; }
  FpsOrigin fps_origin() const { return fps_origin_; }
  int width() const { return sets_.sps_fields.width; }
  int height() const { return sets_.sps_fields.height; }
  uint64_t bytes_read() const;

 private:
  struct Units;
  struct Unit;

  bool find_parameter_sets(const Unit& idr, const SliceStart& slice);
  bool usable(const ParameterSets& sets, const Unit& idr);
  ReadStatus read_unit(Unit& unit);
  void take_picture(const Unit& unit, Packet& packet);
  void set_failure(ReadStatus status);

  StreamInput& input_;
  sources::BlockSource* source_;
  const scanner::ClipRow* row_;
  PlayableOptions options_;
  std::unique_ptr<Units> units_;
  std::unique_ptr<Unit> scratch_;
  ParameterSets sets_;
  std::vector<std::vector<uint8_t>> own_sps_, own_pps_;  // by id, as last seen
  bool repair_tried_ = false;
  bool stopped_in_repair_ = false;
  bool gone_in_repair_ = false;
  std::string repair_error_;
  std::unique_ptr<Packet> pending_;  // the picture next() hands out next
  bool last_unit_ends_in_slice_ = false;
  int64_t cut_ = 0;
  std::vector<uint8_t> carried_;  // units of picture-less access units, for the next picture
  int64_t skipped_ = 0;
  int64_t next_index_ = 0;
  Rate fps_;
  FpsOrigin fps_origin_ = FpsOrigin::setting;
  std::string error_;
};

}  // namespace clip::video
