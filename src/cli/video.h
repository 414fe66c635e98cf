// The command-line tool's playable evidence: an MP4 beside each recovered
// clip (recover --mp4), clip durations and end times (scan --durations) and
// the preview command, which writes a clip's first decodable picture as a
// JPEG. The options are parsed and the work is done here; cli.cpp calls in.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/duration.h"
#include "export/mp4.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::cli {

struct VideoOptions {
  bool mp4 = false;        // recover: an MP4 of each clip beside its .264
  bool durations = false;  // scan: each clip's duration and end time
  video::Rate fps{25, 1};  // for streams without timing information
  bool fps_given = false;
};

enum class OptionTaken { no, yes, error };

// Takes `name` when it is one of the video options of `command`; `value`
// gives its value ("--fps 12.5" or "--fps=12.5"), `has_inline_value` says one
// came with "=". On a usage error `error` says what was wrong.
OptionTaken parse_video_option(const std::string& command, const std::string& name, bool has_inline_value,
                               const std::function<std::optional<std::string>()>& value, VideoOptions& options,
                               std::string& error);

// The help text of the options above and of the preview command.
extern const char* const kVideoHelp;

// What a clip's duration pass found, for the clip list.
struct ClipTiming {
  video::ClipDuration duration;
  std::string end;  // the "结束时间" text, empty when unknown
};

// Each row's duration, in order. A stop ends the work: the rows not reached
// are left out. `progress` gets the clip being read and the bytes read.
std::vector<ClipTiming> clip_timings(sources::BlockSource& source, const std::vector<scanner::ClipRow>& rows,
                                     const VideoOptions& options, const std::function<bool()>& stop,
                                     const std::function<void(std::size_t clip, uint64_t bytes)>& progress);

// The MP4 of a recovered clip. A complete clip is read back from its .264
// (the very bytes of the evidence, from the page cache rather than the
// source); an incomplete one from the source, which knows where it was cut,
// under the incomplete file's name. Parameter sets a clip lacks are looked
// for on the source.
video::Mp4Result export_recovered(sources::BlockSource& source, const scanner::ClipRow& row,
                                  const std::string& h264_path, bool complete, const std::string& folder,
                                  const VideoOptions& options, const std::function<bool()>& stop,
                                  const std::function<void(uint64_t done, uint64_t total)>& progress);

// The report's fields of an MP4 (", \"mp4_path\": ..." to follow a file's
// other fields) and its text line.
std::string mp4_json(const video::Mp4Result& mp4);
std::string mp4_line(int64_t number, const video::Mp4Result& mp4);

// The clip fields of --durations (", \"frames\": ..."), none without it.
std::string timing_json(const ClipTiming* timing);

struct PreviewReport {
  bool ok = false;
  bool stopped = false;
  std::string error;
  std::string path;  // the JPEG
  int width = 0;
  int height = 0;
  ClipTiming timing;
  bool repaired = false;
  std::string parameter_sets_from;
  int64_t skipped_frames = 0;
};

// Decodes the clip's first decodable picture from the source and writes it
// to `path` as a JPEG (never over an existing file); counts the clip's
// pictures for its frame count and duration.
PreviewReport preview_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& path,
                           const VideoOptions& options, const std::function<bool()>& stop);
std::string preview_json(const PreviewReport& preview);
std::string preview_text(const PreviewReport& preview);

}  // namespace clip::cli
