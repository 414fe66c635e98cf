#include "cli/video.h"

#include <cstdio>

#include "cli/json.h"
#include "cli/text.h"
#include "export/preview.h"
#include "export/stream_input.h"
#include "recover/recover.h"

namespace clip::cli {

const char* const kVideoHelp =
    "  --mp4       also write each clip as NAME.mp4, playable on any player: the\n"
    "              clip's pictures as they are, timed by the stream (or --fps),\n"
    "              the clip's start as the file's creation time. A clip without\n"
    "              its parameter sets gets them from the nearest earlier block of\n"
    "              its channel (\"repaired\"); the .264 is never changed. Same\n"
    "              temporary name and never-replace rules as the .264.\n"
    "  --fps RATE  frames per second of streams that carry no timing (25, 12.5,\n"
    "              30000/1001); default 25.\n"
    "\n"
    "scan --durations  counts each clip's pictures (one read of every clip) and\n"
    "         shows its end time: start + frames / frame rate (--fps as above).\n"
    "\n"
    "preview  scans the same way, then writes the first picture of clip N that a\n"
    "         player can show as a JPEG, and prints its size, the clip's frame\n"
    "         count and duration. Nothing else is written.\n"
    "  --clip N       the clip of the scan's list\n"
    "  --out FILE     the JPEG; an existing file is never replaced\n"
    "  --fps RATE     as for recover\n";

OptionTaken parse_video_option(const std::string& command, const std::string& name, bool has_inline_value,
                               const std::function<std::optional<std::string>()>& value, VideoOptions& options,
                               std::string& error) {
  // A switch of one command.
  auto flag = [&](const char* owner, bool& field) {
    if (command != owner) {
      error = name + " belongs to " + owner + ", not " + command;
      return OptionTaken::error;
    }
    if (has_inline_value) {
      error = name + " takes no value";
      return OptionTaken::error;
    }
    field = true;
    return OptionTaken::yes;
  };
  if (name == "--mp4") return flag("recover", options.mp4);
  if (name == "--durations") return flag("scan", options.durations);
  if (name == "--fps") {
    const auto text = value();
    if (!text) {
      error = "--fps needs a frame rate";
      return OptionTaken::error;
    }
    const auto rate = video::parse_rate(*text);
    if (!rate) {
      error = "--fps needs a frame rate from 1 to 300 (25, 12.5, 30000/1001): " + *text;
      return OptionTaken::error;
    }
    if (options.fps_given) {
      error = "--fps given twice";
      return OptionTaken::error;
    }
    options.fps = *rate;
    options.fps_given = true;
    return OptionTaken::yes;
  }
  return OptionTaken::no;
}

std::vector<ClipTiming> clip_timings(sources::BlockSource& source, const std::vector<scanner::ClipRow>& rows,
                                     const VideoOptions& options, const std::function<bool()>& stop,
                                     const std::function<void(std::size_t clip, uint64_t bytes)>& progress) {
  std::vector<ClipTiming> timings;
  video::DurationOptions duration_options;
  duration_options.fps_setting = options.fps;
  duration_options.stop = stop;
  uint64_t before = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (stop && stop()) break;
    ClipTiming timing;
    timing.duration = video::clip_duration(source, rows[i], duration_options);
    if (timing.duration.stopped) break;
    timing.end = video::end_column(rows[i].start, timing.duration);
    before += timing.duration.bytes_read;
    timings.push_back(std::move(timing));
    if (progress) progress(i + 1, before);
  }
  return timings;
}

video::Mp4Result export_recovered(sources::BlockSource& source, const scanner::ClipRow& row,
                                  const std::string& h264_path, bool complete, const std::string& folder,
                                  const VideoOptions& options, const std::function<bool()>& stop,
                                  const std::function<void(uint64_t done, uint64_t total)>& progress) {
  video::ExportOptions export_options;
  export_options.fps_setting = options.fps;
  export_options.stop = stop;
  export_options.progress = progress;
  return video::export_recovered(source, row, h264_path, complete, folder, export_options);
}

namespace {

std::string decimal(double value, int places) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", places, value);
  return text;
}

// "25", "12.5", "29.97003": as many places as the rate needs, at most six.
std::string rate_text(video::Rate rate) {
  std::string text = decimal(rate.value(), 6);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

const char* fps_origin_text(video::FpsOrigin origin) {
  return origin == video::FpsOrigin::sps ? "stream" : "setting";
}

const char* outcome_text(video::ExportOutcome outcome) {
  switch (outcome) {
    case video::ExportOutcome::complete: return "complete";
    case video::ExportOutcome::stopped: return "stopped";
    case video::ExportOutcome::failed: return "failed";
  }
  return "failed";
}

std::string repair_text(bool repaired, const std::string& from) {
  return repaired ? "（已修复：参数集取自扇区 " + video::origin_sectors(from) + "）" : std::string();
}

}  // namespace

std::string mp4_json(const video::Mp4Result& mp4) {
  std::string s = ", \"mp4_outcome\": \"" + std::string(outcome_text(mp4.outcome)) + "\"";
  if (!mp4.ok) {
    s += ", \"mp4_error\": " + json_string(mp4.error);
    if (mp4.outcome != video::ExportOutcome::complete && !mp4.path.empty()) {
      s += ", \"mp4_partial_removed\": " + std::string(mp4.partial_removed ? "true" : "false");
    }
    return s;
  }
  s += ", " + json_path("mp4_path", mp4.path) + ", \"mp4_bytes\": " + std::to_string(mp4.bytes) +
       ", \"mp4_sha256\": " + json_string(mp4.sha256) + ", \"frames\": " + std::to_string(mp4.frames) +
       ", \"duration_s\": " + decimal(mp4.duration_s, 3) + ", \"fps\": " + rate_text(mp4.fps) +
       ", \"fps_from\": \"" + fps_origin_text(mp4.fps_origin) + "\", \"width\": " + std::to_string(mp4.width) +
       ", \"height\": " + std::to_string(mp4.height) +
       ", \"skipped_frames\": " + std::to_string(mp4.skipped_frames) +
       ", \"repaired\": " + (mp4.repaired ? "true" : "false");
  if (mp4.repaired) s += ", \"parameter_sets_from\": " + json_string(mp4.parameter_sets_from);
  return s;
}

std::string mp4_line(int64_t number, const video::Mp4Result& mp4) {
  if (!mp4.ok) {
    return std::to_string(number) + "  MP4 " + (mp4.outcome == video::ExportOutcome::stopped ? "已停止" : "失败") +
           (mp4.error.empty() ? std::string() : "：" + valid_utf8(mp4.error)) + "\n";
  }
  return std::to_string(number) + "  " + valid_utf8(mp4.path) + "  " + std::to_string(mp4.bytes) + "  " + mp4.sha256 +
         "  " + std::to_string(mp4.frames) + " 帧  " + decimal(mp4.duration_s, 3) + " 秒" +
         repair_text(mp4.repaired, mp4.parameter_sets_from) + "\n";
}

std::string timing_json(const ClipTiming* timing) {
  if (timing == nullptr) return {};
  const auto& d = timing->duration;
  if (!d.known) return ", \"frames\": null, \"duration_s\": null, \"duration_error\": " + json_string(d.error);
  return ", \"frames\": " + std::to_string(d.frames) + ", \"duration_s\": " + decimal(d.seconds, 3) +
         ", \"fps\": " + rate_text(d.fps) + ", \"fps_from\": \"" + fps_origin_text(d.fps_origin) + "\"";
}

PreviewReport preview_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& path,
                           const VideoOptions& options, const std::function<bool()>& stop) {
  PreviewReport report;
  report.path = path;
  video::PreviewOptions preview_options;
  preview_options.fps_setting = options.fps;
  preview_options.stop = stop;
  preview_options.max_frames = 1;
  std::string error;
  const auto preview = video::Preview::open(source, row, preview_options, error);
  if (!preview) {
    report.stopped = stop && stop();
    report.error = error;
    return report;
  }
  report.width = preview->width();
  report.height = preview->height();
  report.repaired = preview->repaired();
  report.parameter_sets_from = preview->parameter_sets_from();
  report.skipped_frames = preview->skipped_frames();
  if (!video::save_jpeg(preview->first(), path, report.error)) return report;

  video::DurationOptions duration_options;
  duration_options.fps_setting = options.fps;
  duration_options.stop = stop;
  report.timing.duration = video::clip_duration(source, row, duration_options);
  report.timing.end = video::end_column(row.start, report.timing.duration);
  // The picture is written either way; a stop only leaves the count out.
  report.stopped = report.timing.duration.stopped;
  report.ok = true;
  return report;
}

std::string preview_json(const PreviewReport& p) {
  std::string s = "\"preview\": {" + json_path("path", p.path) + ", \"written\": " + (p.ok ? "true" : "false");
  if (!p.ok) return s + ", \"error\": " + json_string(p.error) + "}";
  s += ", \"width\": " + std::to_string(p.width) + ", \"height\": " + std::to_string(p.height) +
       timing_json(&p.timing) + ", \"end\": " + json_string(p.timing.end) +
       ", \"skipped_frames\": " + std::to_string(p.skipped_frames) + ", \"repaired\": " + (p.repaired ? "true" : "false");
  if (p.repaired) s += ", \"parameter_sets_from\": " + json_string(p.parameter_sets_from);
  return s + "}";
}

std::string preview_text(const PreviewReport& p) {
  if (!p.ok) return {};
  std::string s = "画面：" + valid_utf8(p.path) + "\n大小：" + std::to_string(p.width) + "x" + std::to_string(p.height) +
                  repair_text(p.repaired, p.parameter_sets_from) + "\n";
  const auto& d = p.timing.duration;
  if (d.known) {
    s += "帧数：" + std::to_string(d.frames) + "\n时长：" + decimal(d.seconds, 3) + " 秒（" + rate_text(d.fps) +
         " 帧/秒" + (d.fps_origin == video::FpsOrigin::sps ? "，取自码流" : "，按设定") + "）\n";
    if (!p.timing.end.empty()) s += "结束时间：" + p.timing.end + "\n";
  } else {
    s += "帧数：未知" + (d.error.empty() ? std::string() : "（" + valid_utf8(d.error) + "）") + "\n";
  }
  return s;
}

}  // namespace clip::cli
