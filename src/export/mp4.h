// A clip as an MP4 file that plays on any player: the clip's H.264 pictures
// put into the container as they are (no re-encoding), timed at the stream's
// own frame rate (or the caller's setting when the stream has none), with the
// clip's start time as the file's creation time and its channel as the title.
// The file is written under a temporary name ("NAME.mp4.part") and renamed to
// its final name only once it is complete; an existing file is never
// overwritten, and a failed or stopped export leaves no partial file behind.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/h264.h"
#include "export/playable.h"
#include "export/stream_input.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::video {

struct ExportOptions {
  // Frames per second for a stream without timing information.
  Rate fps_setting{25, 1};
  int sector_tries = 3;       // reads of a failing sector before it is zero-filled
  int repair_blocks = 4096;   // how far back (in blocks) missing parameter sets are looked for
  std::function<bool()> stop;  // asked before every read
  // Bytes of the clip's stream handled so far, and the stream's size.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

enum class ExportOutcome {
  complete,  // result.path holds the whole MP4
  stopped,   // the stop callback answered true, or the source's reads were cancelled
  failed,    // nothing playable in the clip, the source stopped answering, or the file could not be written
};

struct Mp4Result {
  ExportOutcome outcome = ExportOutcome::failed;
  bool ok = false;    // outcome == complete
  std::string error;  // when !ok: why, in words

  std::string path;    // the MP4 (a numbered name when the plain one was taken)
  uint64_t bytes = 0;  // of the MP4
  std::string sha256;  // of the MP4, lower-case hex
  bool renamed = false;
  bool partial_removed = false;  // a partial file existed and was removed

  int64_t frames = 0;  // pictures in the MP4, a field counting as half a frame
  double duration_s = 0;
  Rate fps;
  FpsOrigin fps_origin = FpsOrigin::setting;
  int width = 0;
  int height = 0;
  int64_t skipped_frames = 0;  // pictures before the first decodable one, left out
  int64_t cut_frames = 0;      // a last picture the end of the source cut short, left out

  bool repaired = false;  // parameter sets taken from earlier blocks of the channel
  std::string parameter_sets_from;  // parameter_sets_origin(): "clip", "sector N", ...
  ParameterSets parameter_sets;

  std::vector<scanner::SectorRange> unreadable;  // zero-filled in the stream
  bool source_gone = false;
};

// The versions of the video libraries in use, for reports and --version:
// "libavformat 59.27.100, libavcodec 59.37.100, libswscale 6.7.100".
std::string video_library_versions();

// "ch...-.264" -> "ch...-.mp4"; other names get ".mp4" added.
std::string mp4_name(const std::string& clip_name);

// The MP4's creation time, "2026-05-20T08:15:07.000000Z", from the start
// column's text; none unless that text is a valid date and time.
std::optional<std::string> creation_time(const std::string& start);
// The MP4's title: "通道 01".
std::string channel_title(const scanner::ClipRow& row);

// The clip read from its blocks on the source; missing parameter sets are
// looked for on the same source.
Mp4Result export_mp4(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                     const ExportOptions& options = {});

// The clip's stream from elsewhere (its recovered .264 file, bytes in memory).
// `row` names the file and gives its start time and channel; with a source,
// missing parameter sets are looked for there.
Mp4Result export_mp4(StreamInput& input, const scanner::ClipRow& row, sources::BlockSource* source,
                     const std::string& folder, const ExportOptions& options = {});

// The MP4 of a recovered clip. A complete clip is read back from its .264
// (the very bytes of the evidence, from the page cache rather than the
// source); an incomplete one from the source, which knows where it was cut,
// under the incomplete file's name. Parameter sets a clip lacks are looked
// for on the source.
Mp4Result export_recovered(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& h264_path,
                           bool complete, const std::string& folder, const ExportOptions& options = {});

// The sectors of parameter_sets_origin()'s "sector N" or "sectors A, B".
std::string origin_sectors(const std::string& from);
// The log line of a repaired MP4: where its parameter sets came from.
std::string repaired_line(const Mp4Result& mp4);

}  // namespace clip::video
