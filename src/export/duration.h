// How long a clip plays: its pictures counted by a pass over its stream (a
// search for NAL unit starts and a look at the first bytes of each slice,
// nothing decoded), divided by the frame rate. The work is one read of the
// clip, bounded by a byte limit the caller sets, and can be stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "export/h264.h"
#include "export/playable.h"
#include "export/stream_input.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::video {

struct DurationOptions {
  Rate fps_setting{25, 1};  // for a stream without timing information
  // Read at most this many bytes of the clip (0: all of it); a clip that is
  // longer has no known duration.
  uint64_t max_bytes = 0;
  int sector_tries = 3;
  // A clip without an SPS takes its frame rate from the nearest earlier
  // blocks of its channel, at most this many back.
  int repair_blocks = 4096;
  std::function<bool()> stop;
};

struct ClipDuration {
  bool known = false;  // frames and fps are known
  // Pictures in the clip, a field counting as half a frame (rounded up),
  // including pictures before the first one a player can show.
  int64_t frames = 0;
  Rate fps;
  FpsOrigin fps_origin = FpsOrigin::setting;
  double seconds = 0;
  uint64_t bytes_read = 0;
  bool stopped = false;
  bool over_limit = false;  // max_bytes was reached first
  std::string error;        // why the duration is unknown, when it is
};

ClipDuration clip_duration(sources::BlockSource& source, const scanner::ClipRow& row,
                           const DurationOptions& options = {});
// Any stream; with a source and row the frame rate of a clip without an SPS
// is looked for on the source.
ClipDuration stream_duration(StreamInput& input, sources::BlockSource* source, const scanner::ClipRow* row,
                             const DurationOptions& options = {});

// The "结束时间" column: start + frames / fps in whole seconds (rounded down,
// so the second shown is the one in which the clip ends), in the start
// column's form; empty when the start is not a valid date and time or the
// duration is unknown.
std::string end_column(std::string_view start, int64_t frames, Rate fps);
std::string end_column(std::string_view start, const ClipDuration& duration);

}  // namespace clip::video
