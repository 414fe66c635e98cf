#include "cli/cli.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <csignal>
#endif

#include "base/utf8.h"
#include "cli/evidence.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/table.h"
#include "cli/video.h"
#include "recover/recover.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "sources/source_record.h"

namespace clip::cli {
namespace {

using scanner::ClipRow;
using scanner::ScanEnd;
using scanner::SectorRange;

using scanner::kStoppedLine;
constexpr const char* kStoppingLine = "正在停止……再按一次 Ctrl-C 立即结束";

constexpr const char* kUsage =
    "usage: clipsalvage scan SOURCE [--durations] [--fps RATE] [--json] [--progress]\n"
    "                   [--mapfile FILE] [--write-mapfile FILE] [--dfxml FILE]\n"
    "       clipsalvage recover SOURCE --out DIR [--clip N]... [--mp4] [--fps RATE] [--json] [--progress]\n"
    "                   [--from-report FILE] [--mapfile FILE] [--write-mapfile FILE] [--dfxml FILE]\n"
    "       clipsalvage preview SOURCE --clip N --out FILE.jpg [--fps RATE] [--json] [--progress]\n";

constexpr const char* kUsageEnd =
    "       clipsalvage help [scan|recover|preview|verify]  (also -h, --help, SUBCOMMAND --help)\n"
    "       clipsalvage --version\n";

constexpr const char* kHelp =
    "clipsalvage finds the video clips a surveillance recorder left on its disk\n"
    "and recovers them. It only ever reads SOURCE.\n"
    "\n"
    "SOURCE   a disk image file, or a block device such as /dev/sdb or /dev/sdb1\n"
    "         (reading a disk needs root). On Windows also \\\\.\\PhysicalDriveN, a\n"
    "         whole disk numbered as Disk Management shows it, or a drive letter\n"
    "         such as E:, one volume; run from an administrator's console.\n"
    "         \"--\" ends the options, for a SOURCE that begins with \"-\".\n"
    "\n"
    "scan     searches for the recorder's signature from sector 8,000,000 on and\n"
    "         lists the clips from there (from sector 0 when there is none).\n"
    "         Clips are numbered from 1 in the order the scan closes them; the\n"
    "         clips still open at the end of the source come last, marked 未结束.\n"
    "\n"
    "recover  scans the same way, then writes clips into DIR, one NAME.264 each:\n"
    "  --out DIR   the folder for the clips, created when missing. It must not\n"
    "              lie on the source disk; a probe file tests it before the scan.\n"
    "  --clip N    recover clip N of the scan's list; repeat for more. Without it\n"
    "              every clip is recovered. A number the scan does not list is an\n"
    "              error, and then nothing is written.\n"
    "         A clip is written as NAME.264.part and renamed to NAME.264 once it is\n"
    "         whole, hashed and on the disk. An existing file is never replaced:\n"
    "         the clip goes to NAME(1).264, NAME(2).264, ... instead. A clip cut\n"
    "         short because the source ended or stopped answering is kept as\n"
    "         NAME-不完整.264 and counts as failed; the partial file of a stopped or\n"
    "         failed clip is deleted. Every file is listed with its SHA-256.\n";

// After the video options, for every command.
constexpr const char* kHelpCommon =
    "\n"
    "  --json      print the report as JSON. A path whose bytes are not UTF-8 is\n"
    "              shown with U+FFFD and its bytes in a \"..._bytes\" hex field.\n"
    "  --progress  show progress on standard error (always shown on a terminal).\n"
    "\n"
    "Ctrl-C stops the work (the scan, the recovery, the MP4 export, the durations,\n"
    "the preview) and prints what was found and written so far; a second Ctrl-C\n"
    "ends the program at once.\n"
    "\n"
    "Exit status: 0 done; 1 an error (the source, the folder, a clip that failed\n"
    "or is incomplete, an MP4 or a preview that failed, writing the report); 2\n"
    "wrong usage; 130 stopped by Ctrl-C.\n";

struct Options {
  std::string command;
  std::string source;
  std::string out;
  std::vector<int64_t> clips;
  bool json = false;
  bool progress = false;
  VideoOptions video;
  EvidenceOptions evidence;
};

bool is_command(const std::string& word) {
  return word == "scan" || word == "recover" || word == "preview" || word == "verify";
}

struct Parsed {
  std::optional<Options> options;
  std::string error;  // a usage error
  bool help = false;
};

Parsed usage_error(std::string error) { return {std::nullopt, std::move(error), false}; }

Parsed parse(const std::vector<std::string>& args) {
  if (args.empty()) return usage_error("no command given");
  const std::string& first = args[0];
  if (first == "-h" || first == "--help" || first == "help") {
    if (args.size() > 2 || (args.size() == 2 && !is_command(args[1]))) {
      return usage_error("help takes scan, recover, preview or verify: " + args.back());
    }
    return {std::nullopt, {}, true};
  }
  if (!is_command(first)) {
    return usage_error((!first.empty() && first[0] == '-' ? "unknown option " : "unknown command ") + first);
  }
  Options o;
  o.command = first;
  const bool recover = o.command == "recover";
  // preview takes --clip and --out as well: one clip, one picture file.
  const bool writes = recover || o.command == "preview";
  bool have_out = false;
  bool options_end = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options_end && a.size() > 1 && a[0] == '-') {
      // "--name=value" and "--name value" alike.
      const auto eq = a.find('=');
      const std::string name = a.rfind("--", 0) == 0 && eq != std::string::npos ? a.substr(0, eq) : a;
      std::optional<std::string> inline_value;
      if (name.size() != a.size()) inline_value = a.substr(eq + 1);
      auto value = [&]() -> std::optional<std::string> {
        if (inline_value) return inline_value;
        if (i + 1 >= args.size()) return std::nullopt;
        return args[++i];
      };
      if (name == "--") {
        options_end = true;
      } else if (name == "-h" || name == "--help") {
        return {std::nullopt, {}, true};
      } else if (name == "--json" && !inline_value) {
        o.json = true;
      } else if (name == "--progress" && !inline_value) {
        o.progress = true;
      } else if (name == "--out" && writes) {
        const auto v = value();
        if (!v || v->empty()) return usage_error(recover ? "--out needs a folder" : "--out needs a file");
        if (have_out) return usage_error("--out given twice");
        o.out = *v;
        have_out = true;
      } else if (name == "--clip" && writes) {
        const auto v = value();
        if (!v) return usage_error("--clip needs a positive number");
        const auto n = sources::parse_sectors(*v);
        if (!n || *n == 0) return usage_error("--clip needs a positive number: " + *v);
        o.clips.push_back(*n);
      } else if ((name == "--out" || name == "--clip") && !writes) {
        return usage_error(name + " belongs to recover and preview, not " + o.command);
      } else {
        std::string error;
        const auto taken = parse_video_option(o.command, name, inline_value.has_value(), value, o.video, error);
        if (taken == OptionTaken::error) return usage_error(error);
        if (taken == OptionTaken::no) {
          const auto match =
              parse_evidence_option(o.command, name, inline_value.has_value(), value, o.evidence, error);
          if (match == OptionMatch::error) return usage_error(error);
          if (match == OptionMatch::none) return usage_error("unknown option " + a);
        }
      }
    } else if (o.source.empty()) {
      if (a.empty()) return usage_error("SOURCE is empty");
      o.source = a;
    } else {
      return usage_error("unexpected argument " + a + " (SOURCE is " + o.source + ")");
    }
  }
  if (o.source.empty() && o.command != "verify") return usage_error(o.command + " needs a SOURCE");
  if (recover && !have_out) return usage_error("recover needs --out DIR");
  if (o.command == "preview") {
    if (!have_out) return usage_error("preview needs --out FILE.jpg");
    if (o.clips.size() != 1) return usage_error("preview needs one --clip N");
  }
  if (auto problem = check_evidence_options(o.command, !o.source.empty(), o.evidence); !problem.empty()) {
    return usage_error(problem);
  }
  return {o, {}, false};
}

// The path to open for a SOURCE argument. On Windows "C:" names the volume,
// "\\.\..." paths are used as given and files take their long-path form.
std::string device_path(const std::string& source) {
#ifdef _WIN32
  if (source.size() == 2 && source[1] == ':') return "\\\\.\\" + source;
  if (source.rfind("\\\\", 0) == 0) return sources::image_device_path(source);
  std::error_code ec;
  const auto full = std::filesystem::absolute(std::filesystem::path(utf8_to_utf16(source)), ec);
  return sources::image_device_path(ec ? source : utf16_to_utf8(full.u16string()));
#else
  return source;
#endif
}

// Why a source of no sectors can't be scanned: a file says its size.
std::string empty_source_text(const std::string& path) {
  std::error_code ec;
#ifdef _WIN32
  const std::filesystem::path p(utf8_to_utf16(path));
#else
  const std::filesystem::path p(path);
#endif
  if (std::filesystem::is_regular_file(p, ec)) {
    const auto size = std::filesystem::file_size(p, ec);
    if (!ec) {
      return "源文件大小为 " + std::to_string(size) + " 字节，" +
             (size == 0 ? std::string("没有可扫描的扇区") : std::string("不足一个扇区（512 字节），没有可扫描的扇区"));
    }
  }
  return scanner::kNoSizeText;
}

std::string ranges_json(const std::vector<SectorRange>& ranges) {
  std::string s = "[";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i) s += ", ";
    s += "[" + std::to_string(ranges[i].first) + ", " + std::to_string(ranges[i].count) + "]";
  }
  return s + "]";
}

// With --durations the clip's timing ("end" is empty without it); `extra`:
// further members, each starting with ", ".
std::string clip_json(const ClipRow& r, const ClipTiming* timing, const std::string& extra) {
  std::string s = "{\"number\": " + std::to_string(r.number) + ", \"channel\": " + json_string(r.channel) +
                  ", \"start\": " + json_string(r.start) +
                  ", \"end\": " + json_string(timing ? timing->end : std::string()) + timing_json(timing) +
                  ", \"size_mb\": " + std::to_string(r.size_mb) +
                  ", \"name\": " + json_string(r.name) + ", \"blocks\": " + std::to_string(r.blocks) +
                  ", \"first_sector\": " + std::to_string(r.first_sector) +
                  ", \"closed\": " + (r.closed ? "true" : "false") + ", \"runs\": [";
  for (std::size_t i = 0; i < r.runs.size(); ++i) {
    if (i) s += ", ";
    s += "[" + std::to_string(r.runs[i].first_sector) + ", " + std::to_string(r.runs[i].blocks) + "]";
  }
  return s + "]" + extra + "}";
}

const char* outcome_text(recover::RecoverOutcome outcome) {
  switch (outcome) {
    case recover::RecoverOutcome::complete: return "complete";
    case recover::RecoverOutcome::stopped: return "stopped";
    case recover::RecoverOutcome::incomplete: return "incomplete";
    case recover::RecoverOutcome::failed: return "failed";
  }
  return "failed";
}

struct FileReport {
  recover::RecoveredFile file;
  recover::RecoverOutcome outcome = recover::RecoverOutcome::failed;
  std::string error;
  std::optional<video::Mp4Result> mp4;  // with --mp4, once its export ran
};

std::string file_json(const FileReport& f) {
  std::string s = "{\"number\": " + std::to_string(f.file.number) + ", \"name\": " + json_string(f.file.name) +
                  ", " + json_path("path", f.file.path) + ", \"bytes\": " + std::to_string(f.file.bytes) +
                  ", \"sha256\": " + (f.file.sha256.empty() ? std::string("null") : json_string(f.file.sha256)) +
                  ", \"unreadable\": " + ranges_json(f.file.unreadable) +
                  ", \"expected_bytes\": " + std::to_string(f.file.expected_bytes) + ", \"outcome\": \"" +
                  outcome_text(f.outcome) + "\"";
  if (f.outcome != recover::RecoverOutcome::complete) {
    s += ", \"partial_removed\": " + std::string(f.file.partial_removed ? "true" : "false");
    s += ", \"error\": " + json_string(f.error);
  }
  if (f.mp4) s += mp4_json(*f.mp4);
  return s + "}";
}

// What the work thread and run() share. The work thread holds it too, so a
// run() that returned without waiting for a stuck read leaves nothing it uses
// behind.
struct Work {
  Work(const Environment& env, Options options, std::string path, const std::vector<std::string>& args)
      : options(std::move(options)), path(std::move(path)), err(env.err),
        progress(env.err, env.err_is_terminal), evidence(this->options.evidence, args, CLIPSALVAGE_VERSION) {}

  const Options options;
  const std::string path;
  std::unique_ptr<sources::BlockSource> source;
  std::atomic<bool> stop{false};

  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool abandoned = false;  // run() returned: nothing of the caller's is touched any more
  std::FILE* err;
  ProgressLine progress;
  EvidenceRun evidence;
  bool show_progress = false;
  bool stopped_line_logged = false;

  std::vector<ClipRow> rows;
  std::optional<int64_t> signature_seen;
  scanner::ScanResult scan;
  bool scan_done = false;
  std::vector<FileReport> files;
  std::optional<ClipRow> recovering;  // the clip being written
  std::string failure;                // what made the run fail, in words
  bool recovery_stopped = false;
  std::string stopped_text = "恢复已停止";  // what recovery_stopped means
  std::vector<ClipTiming> timings;        // scan --durations, by row
  std::optional<PreviewReport> preview;  // preview, once it ran

  // A line on the log (standard error), unless run() has returned.
  void log(const std::string& line) {
    std::lock_guard lock(mutex);
    if (line == kStoppedLine) stopped_line_logged = true;
    if (abandoned) return;
    progress.finish();
    std::fprintf(err, "%s\n", line.c_str());
    std::fflush(err);
  }

  void run_scan();
  void load_report();
  void run_recovery();
  void run_mp4s();
  void run_durations();
  void run_preview();
};

void Work::run_scan() {
  scanner::ScanCallbacks cb;
  cb.row = [&](const ClipRow& r) {
    std::lock_guard lock(mutex);
    rows.push_back(r);
  };
  cb.log = [&](const std::string& text) { log(text); };
  cb.stop_requested = [&] { return stop.load(); };
  if (show_progress) {
    cb.progress = [&](int64_t s, int64_t t) {
      std::lock_guard lock(mutex);
      if (!abandoned) progress.scan_position(s, t);
    };
    cb.retry_time = [&](double seconds) {
      std::lock_guard lock(mutex);
      progress.retry(seconds);
    };
  }
  cb.pass = [&](scanner::ScanPass pass, int64_t first, int64_t end) {
    std::lock_guard lock(mutex);
    // The pass starts at the signature when the search found one; a report
    // printed before the scan returns still has it.
    if (pass == scanner::ScanPass::index && first >= scanner::kSearchStart) signature_seen = first;
    if (show_progress) progress.pass(pass, first, end);
  };
  evidence.follow(cb);
  scanner::ScanOptions scan_options;
  scan_options.device_path = path;
  auto result = scanner::scan(*source, scan_options, cb);
  std::lock_guard lock(mutex);
  if (!abandoned && show_progress && result.end == ScanEnd::complete) progress.scan_complete();
  if (!abandoned) progress.finish();
  scan = std::move(result);
  scan_done = true;
}

// recover --from-report: the report's clips in place of a scan, once the
// source is known to be the report's.
void Work::load_report() {
  std::vector<ClipRow> loaded;
  scanner::ScanResult result;
  const std::string problem = evidence.load_report(*source, [&] { return stop.load(); }, loaded, result);
  std::lock_guard lock(mutex);
  if (!problem.empty()) {
    failure = problem;
    result.end = ScanEnd::failed;
    result.message = problem;
  }
  rows = std::move(loaded);
  signature_seen = result.signature_sector;
  scan = std::move(result);
  scan_done = true;
}

void Work::run_recovery() {
  std::vector<const ClipRow*> chosen;
  {
    std::lock_guard lock(mutex);
    const std::set<int64_t> wanted(options.clips.begin(), options.clips.end());
    std::set<int64_t> listed;
    for (const auto& r : rows) {
      listed.insert(r.number);
      if (wanted.empty() || wanted.count(r.number)) chosen.push_back(&r);
    }
    // Every number asked for must be there before anything is written.
    for (int64_t n : wanted) {
      if (!listed.count(n)) {
        failure = "没有编号为 " + std::to_string(n) + " 的片段（扫描列出 " + std::to_string(rows.size()) + " 个片段）";
        return;
      }
    }
  }
  uint64_t total = 0;
  for (const ClipRow* r : chosen) total += recover::expected_bytes(*r, scan.sectors);
  uint64_t before = 0;
  std::size_t index = 0;
  recover::RecoverOptions recover_options;
  recover_options.stop = [&] { return stop.load(); };
  recover_options.source_sectors = scan.sectors;
  // The report comes at the end: the new names go to the disk together,
  // before it (each file's data is flushed as it is written).
  recover_options.defer_folder_sync = true;
  if (show_progress) {
    recover_options.progress = [&](uint64_t bytes) {
      std::lock_guard lock(mutex);
      if (!abandoned) progress.recovery(before + bytes, total, index, chosen.size());
    };
  }
  recover::ClipWriter writer(*source, recover_options);
  int complete = 0;
  uint64_t complete_bytes = 0;
  // Runs on the writer's finishing thread, clips in order, once each file is
  // on the disk under its name or removed.
  auto finished = [&](const recover::RecoverResult& done) {
    {
      std::lock_guard lock(mutex);
      files.push_back(FileReport{done.file, done.outcome, done.error});
      if (done.ok) {
        ++complete;
        complete_bytes += done.file.bytes;
      } else if (done.outcome != recover::RecoverOutcome::stopped && failure.empty()) {
        failure = done.error;
      }
    }
    if (done.file.renamed) log(done.file.name + " 已存在，写入 " + done.file.path);
    for (const auto& bad : done.file.unreadable) {
      log(done.file.path + "：扇区 " + std::to_string(bad.first) + " 起 " + std::to_string(bad.count) +
          " 个扇区无法读取，已用零填充");
    }
    if (done.outcome == recover::RecoverOutcome::stopped) {
      log("已停止：" + done.file.name + " 未恢复完，" +
          (done.file.partial_removed ? std::string("已删除不完整的文件") : done.error));
    } else if (!done.ok) {
      log("片段 " + std::to_string(done.file.number) + " " + done.file.name + " 恢复失败：" + done.error);
    }
  };
  for (; index < chosen.size(); ++index) {
    const ClipRow& row = *chosen[index];
    if (stop.load()) {
      std::lock_guard lock(mutex);
      recovery_stopped = true;
      break;
    }
    {
      std::lock_guard lock(mutex);
      recovering = row;
    }
    const auto written = writer.recover_async(row, options.out, finished);
    {
      std::lock_guard lock(mutex);
      recovering.reset();
      if (written.stopped) recovery_stopped = true;
    }
    before += recover::expected_bytes(row, scan.sectors);
    // A stop ends the recovery; a source that stopped answering gives
    // nothing more.
    if (written.stopped || written.source_gone) break;
  }
  writer.wait();
  if (std::string unsynced = writer.sync_folders(); !unsynced.empty()) {
    log(unsynced);
    std::lock_guard lock(mutex);
    if (failure.empty()) failure = unsynced;
  }
  {
    std::lock_guard lock(mutex);
    if (!abandoned) progress.finish();
  }
  log("恢复完成：" + std::to_string(complete) + "/" + std::to_string(chosen.size()) + " 个文件，共 " +
      std::to_string(complete_bytes) + " 字节");
}

// The MP4 of every clip whose .264 was written, complete or incomplete, in
// the order of the files.
void Work::run_mp4s() {
  std::vector<std::pair<std::size_t, ClipRow>> todo;
  uint64_t total = 0;
  {
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < files.size(); ++i) {
      const auto outcome = files[i].outcome;
      if (outcome != recover::RecoverOutcome::complete && outcome != recover::RecoverOutcome::incomplete) continue;
      for (const auto& r : rows) {
        if (r.number == files[i].file.number) todo.emplace_back(i, r);
      }
      total += files[i].file.bytes;
    }
    if (show_progress && !abandoned) progress.start_job();
  }
  uint64_t before = 0;
  for (std::size_t k = 0; k < todo.size(); ++k) {
    if (stop.load()) {
      std::lock_guard lock(mutex);
      recovery_stopped = true;
      stopped_text = "导出 MP4 已停止";
      break;
    }
    const auto& [index, row] = todo[k];
    std::string h264_path;
    bool complete = false;
    uint64_t h264_bytes = 0;
    {
      std::lock_guard lock(mutex);
      h264_path = files[index].file.path;
      complete = files[index].outcome == recover::RecoverOutcome::complete;
      h264_bytes = files[index].file.bytes;
    }
    std::function<void(uint64_t, uint64_t)> on_progress;
    if (show_progress) {
      on_progress = [&, k](uint64_t done, uint64_t) {
        std::lock_guard lock(mutex);
        if (!abandoned) progress.clip_work("导出 MP4", before + done, total, k, todo.size());
      };
    }
    auto mp4 = export_recovered(*source, row, h264_path, complete, options.out, options.video,
                                [&] { return stop.load(); }, on_progress);
    before += h264_bytes;
    if (mp4.renamed) log(video::mp4_name(row.name) + " 已存在，写入 " + mp4.path);
    if (mp4.repaired) log(video::repaired_line(mp4));
    const bool stopped = mp4.outcome == video::ExportOutcome::stopped;
    if (!mp4.ok && !stopped) log("片段 " + std::to_string(row.number) + " 的 MP4 导出失败：" + mp4.error);
    std::lock_guard lock(mutex);
    if (!mp4.ok && !stopped && failure.empty()) {
      failure = "片段 " + std::to_string(row.number) + " 的 MP4 导出失败：" + mp4.error;
    }
    files[index].mp4 = std::move(mp4);
    if (stopped) {
      recovery_stopped = true;
      stopped_text = "导出 MP4 已停止";
      break;
    }
  }
  std::lock_guard lock(mutex);
  if (!abandoned) progress.finish();
}

void Work::run_durations() {
  std::vector<ClipRow> listed;
  {
    std::lock_guard lock(mutex);
    listed = rows;
    if (show_progress && !abandoned) progress.start_job();
  }
  uint64_t total = 0;
  for (const auto& r : listed) total += recover::expected_bytes(r, scan.sectors);
  std::function<void(std::size_t, uint64_t)> on_progress;
  if (show_progress) {
    on_progress = [&](std::size_t clip, uint64_t bytes) {
      std::lock_guard lock(mutex);
      if (!abandoned) progress.clip_work("计算时长", bytes, total, clip - 1, listed.size());
    };
  }
  auto found = clip_timings(*source, listed, options.video, [&] { return stop.load(); }, on_progress);
  std::lock_guard lock(mutex);
  if (found.size() < listed.size() && stop.load()) {
    recovery_stopped = true;
    stopped_text = "计算时长已停止";
  }
  timings = std::move(found);
  if (!abandoned) progress.finish();
}

void Work::run_preview() {
  std::optional<ClipRow> row;
  {
    std::lock_guard lock(mutex);
    for (const auto& r : rows) {
      if (r.number == options.clips.front()) row = r;
    }
    if (!row) {
      failure = "没有编号为 " + std::to_string(options.clips.front()) + " 的片段（扫描列出 " +
                std::to_string(rows.size()) + " 个片段）";
      return;
    }
  }
  auto report = preview_clip(*source, *row, options.out, options.video, [&] { return stop.load(); });
  std::lock_guard lock(mutex);
  if (report.stopped) {
    recovery_stopped = true;
    stopped_text = "预览已停止";
  }
  if (!report.ok && !report.stopped) failure = "片段 " + std::to_string(row->number) + " 无法预览：" + report.error;
  preview = std::move(report);
}

// Writes the report to standard output and remembers the first failure.
class Output {
 public:
  explicit Output(std::FILE* out) : out_(out) {}
  void put(const std::string& text) {
    if (failed_) return;
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size()) fail();
  }
  bool finish() {
    if (!failed_ && std::fflush(out_) != 0) fail();
    return !failed_;
  }
  const std::string& error() const { return error_; }

 private:
  void fail() {
    failed_ = true;
    error_ = errno ? std::strerror(errno) : "写入失败";
  }
  std::FILE* out_;
  bool failed_ = false;
  std::string error_;
};

std::string usage_text() { return std::string(kUsage) + kEvidenceUsage + kUsageEnd; }

}  // namespace

int run(const std::vector<std::string>& args, const Environment& env) {
  const Parsed parsed = parse(args);
  if (parsed.help) {
    Output out(env.out);
    out.put(usage_text());
    out.put("\n");
    out.put(kHelp);
    out.put(kVideoHelp);
    out.put("\n");
    out.put(kEvidenceHelp);
    out.put(kHelpCommon);
    if (!out.finish()) {
      std::fprintf(env.err, "clipsalvage: 无法写入标准输出：%s\n", out.error().c_str());
      return kExitFailure;
    }
    return kExitComplete;
  }
  if (!parsed.options) {
    std::fprintf(env.err, "clipsalvage: %s\n%s", parsed.error.c_str(), usage_text().c_str());
    return kExitUsage;
  }
  const Options& o = *parsed.options;
  const std::string path = o.source.empty() ? std::string() : device_path(o.source);
  if (o.command == "verify") return run_verify(o.source, path, o.evidence, o.json, o.progress, env);

  if (o.command == "recover" || o.command == "preview") {
    std::unique_ptr<recover::VolumeMap> system_volumes;
    recover::VolumeMap* volumes = env.volumes;
    if (!volumes) {
      system_volumes = recover::make_system_volume_map();
      volumes = system_volumes.get();
    }
    std::string problem;
    if (o.command == "recover") {
      problem = recover::check_output_folder(path, o.out, *volumes, true);
    } else if (recover::path_exists(o.out)) {
      // A taken name is refused before the scan, not after it.
      problem = "文件已存在，不会覆盖：" + o.out;
    } else {
      // The picture's folder passes the same checks as recovery's.
      const std::string folder = recover::parent_folder(o.out);
      problem = recover::check_output_folder(path, folder.empty() ? "/" : folder, *volumes);
    }
    if (!problem.empty()) {
      std::fprintf(env.err, "clipsalvage: %s\n", problem.c_str());
      return kExitFailure;
    }
  }

  auto opened = env.open_source ? env.open_source(path) : sources::open_block_source(path);
  if (!opened.source) {
    std::fprintf(env.err, "clipsalvage: 打开源设备出错！%s\n", opened.error.c_str());
    return kExitFailure;
  }
  if (opened.source->sector_count() <= 0) {
    std::fprintf(env.err, "clipsalvage: %s：%s\n", path.c_str(), empty_source_text(path).c_str());
    return kExitFailure;
  }

  auto work = std::make_shared<Work>(env, o, path, args);
  if (const std::string problem =
          work->evidence.prepare_source(opened.source, o.source, [&](const std::string& line) { work->log(line); });
      !problem.empty()) {
    std::fprintf(env.err, "clipsalvage: %s\n", problem.c_str());
    return kExitFailure;
  }
  work->source = std::move(opened.source);
  work->show_progress = o.progress || env.err_is_terminal;
  if (env.stop && env.stop()) work->stop = true;
#ifndef _WIN32
  // Ctrl-C must reach this thread, which waits and answers it: a thread held
  // in a read the kernel won't break off would take the signal and never run
  // its handler. The work thread, and the threads it starts, don't take it.
  sigset_t interrupts, previous;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
#endif
  std::thread thread([work] {
    // Nothing may escape a thread's start: a failure ends the run as failed.
    try {
      if (work->evidence.from_report()) {
        work->load_report();
      } else {
        work->run_scan();
      }
      if (work->scan.end == ScanEnd::complete || work->scan.end == ScanEnd::stopped) {
        std::vector<ClipRow> rows;
        {
          std::lock_guard lock(work->mutex);
          rows = work->rows;
          if (work->show_progress) work->progress.start_job();
        }
        work->evidence.after_scan(
            *work->source, rows, work->scan, work->options.json, work->options.command == "recover",
            [&] { return work->stop.load(); },
            [&](const std::string& line) { work->log(line); },
            [&](uint64_t done, uint64_t total, std::size_t clip, std::size_t clips) {
              if (!work->show_progress) return;
              std::lock_guard lock(work->mutex);
              if (!work->abandoned) work->progress.clip_work("计算 SHA-256", done, total, clip, clips);
            });
        std::lock_guard lock(work->mutex);
        if (!work->abandoned) work->progress.finish();
      }
      const std::string& command = work->options.command;
      if (work->scan.end == ScanEnd::complete) {
        if (command == "recover") {
          work->run_recovery();
          if (work->options.video.mp4 && !work->stop.load()) work->run_mp4s();
        } else if (command == "preview") {
          work->run_preview();
        } else if (work->options.video.durations) {
          work->run_durations();
        }
      }
    } catch (const std::exception& e) {
      std::lock_guard lock(work->mutex);
      work->failure = std::string("内部错误：") + e.what();
    }
    recover::Sha256::release_thread();
    std::lock_guard lock(work->mutex);
    work->done = true;
    work->changed.notify_all();
  });
#ifndef _WIN32
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif

  // Wait for the work, passing Ctrl-C on. After a stop a read that the
  // system can't give up must not hold the report back.
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> stopped_at;
  bool abandoned = false;
  {
    std::unique_lock lock(work->mutex);
    while (!work->done) {
      work->changed.wait_for(lock, std::chrono::milliseconds(10));
      if (work->done) break;
      if (!stopped_at && (work->stop || (env.stop && env.stop()))) {
        stopped_at = Clock::now();
        work->stop = true;
        work->progress.finish();
        std::fprintf(env.err, "%s\n", kStoppingLine);
        std::fflush(env.err);
        lock.unlock();
        work->source->cancel();
        lock.lock();
      }
      if (stopped_at && Clock::now() - *stopped_at >= env.stop_grace) {
        abandoned = true;
        work->abandoned = true;
        break;
      }
    }
  }
  if (abandoned) {
    thread.detach();
    if (env.work_left_running) *env.work_left_running = true;
  } else {
    thread.join();
  }

  // A work thread still running has given the lists up: it only adds to
  // them under the lock, and nothing it does from now on reaches the caller.
  std::unique_lock lock(work->mutex);
  const bool scan_done = work->scan_done;
  scanner::ScanResult result = work->scan;
  if (!scan_done) result.signature_sector = work->signature_seen;
  const std::vector<ClipRow> rows = work->rows;
  const std::vector<FileReport> files = work->files;
  const std::optional<ClipRow> cut_short = abandoned ? work->recovering : std::nullopt;
  std::string failure = work->failure;
  const bool recovery_stopped = work->recovery_stopped || (abandoned && scan_done);
  const std::string stopped_text = work->stopped_text;
  const std::vector<ClipTiming> timings = work->timings;
  const std::optional<PreviewReport> preview = work->preview;
  const bool stopped_line_logged = work->stopped_line_logged;
  lock.unlock();

  // The scan's list is partial when the scan did not reach the end.
  const bool scan_stopped = !scan_done || result.end == ScanEnd::stopped;
  const bool list_partial = !scan_done || result.end != ScanEnd::complete;
  if (scan_done && (result.end == ScanEnd::failed || result.end == ScanEnd::refused) && failure.empty()) {
    failure = result.message;
  }
  bool files_complete = true;
  for (const auto& f : files) files_complete = files_complete && f.outcome == recover::RecoverOutcome::complete;

  int status = kExitComplete;
  std::string why_incomplete;
  if (scan_stopped || recovery_stopped) {
    status = kExitStopped;
    why_incomplete = scan_stopped ? kStoppedLine : stopped_text;
  } else if (!failure.empty() || !files_complete) {
    status = kExitFailure;
    why_incomplete = failure.empty() ? "有片段没有完整恢复" : failure;
  }
  if (cut_short) {
    why_incomplete += "；片段 " + std::to_string(cut_short->number) +
                      " 正在恢复时读取没有返回，它未完成的 .part 文件可能留在 " + o.out;
  }
  if (scan_stopped && !stopped_line_logged) std::fprintf(env.err, "%s\n", kStoppedLine);

  std::vector<WrittenClip> written;
  for (const auto& f : files) {
    written.push_back({f.file, f.outcome == recover::RecoverOutcome::complete ||
                                   f.outcome == recover::RecoverOutcome::incomplete});
  }
  const std::string unwritten =
      work->evidence.write_outputs(path, scan_done ? result.sectors : work->source->sector_count(), rows, result,
                                   scan_done && result.end == ScanEnd::complete, written, o.command == "recover");
  if (!unwritten.empty() && status == kExitComplete) status = kExitFailure;

  Output out(env.out);
  if (o.json) {
    const int64_t sectors = scan_done ? result.sectors : work->source->sector_count();
    std::string s = "{" + json_path("source", path) + ", \"sectors\": " + std::to_string(sectors) +
                    ", \"signature_sector\": " +
                    (result.signature_sector ? std::to_string(*result.signature_sector) : "null") +
                    work->evidence.report_members() + ", \"complete\": " + (why_incomplete.empty() ? "true" : "false");
    if (!why_incomplete.empty()) s += ", \"error\": " + json_string(why_incomplete);
    s += ", \"unreadable\": " + ranges_json(result.unreadable) + ", \"clips\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      s += (i ? ", " : "") + clip_json(rows[i], i < timings.size() ? &timings[i] : nullptr, work->evidence.clip_members(i));
    }
    s += "]";
    if (preview) s += ", " + preview_json(*preview);
    if (o.video.mp4) s += ", \"mp4_library\": " + json_string(video::video_library_versions());
    if (o.command == "recover") {
      s += ", \"files\": [";
      for (std::size_t i = 0; i < files.size(); ++i) s += (i ? ", " : "") + file_json(files[i]);
      s += "]";
    }
    s += "}\n";
    out.put(s);
  } else {
    std::vector<std::string> ends;
    for (const auto& t : timings) ends.push_back(t.end);
    out.put(clip_table(rows, list_partial, ends));
    for (const auto& f : files) {
      const bool ok = f.outcome == recover::RecoverOutcome::complete;
      out.put(std::to_string(f.file.number) + "  " + valid_utf8(f.file.path) + "  " + std::to_string(f.file.bytes) +
              "  " + (ok ? f.file.sha256 : valid_utf8(f.error)) + "\n");
      if (f.mp4) out.put(mp4_line(f.file.number, *f.mp4));
    }
    if (preview) out.put(preview_text(*preview));
    if (!why_incomplete.empty()) out.put(valid_utf8(why_incomplete) + "\n");
  }
  if (!out.finish()) {
    std::fprintf(env.err, "clipsalvage: 无法写入标准输出：%s%s\n", out.error().c_str(),
                 o.command == "recover" ? "；恢复的文件和它们的 SHA-256 没有报告出来" : "；片段列表没有输出");
    return kExitFailure;
  }
  if (!failure.empty()) std::fprintf(env.err, "clipsalvage: %s\n", failure.c_str());
  if (!unwritten.empty()) std::fprintf(env.err, "clipsalvage: %s\n", unwritten.c_str());
  std::fflush(env.err);
  return status;
}

}  // namespace clip::cli
