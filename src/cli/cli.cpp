#include "cli/cli.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>

#include "base/utf8.h"
#include "cli/json.h"
#include "recover/recover.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "sources/source_record.h"

namespace clip::cli {
namespace {

using scanner::ClipRow;
using scanner::ScanEnd;
using scanner::SectorRange;

constexpr const char* kUsage =
    "usage: clipsalvage scan SOURCE [--json] [--progress]\n"
    "       clipsalvage recover SOURCE --out DIR [--clip N]... [--json] [--progress]\n"
    "       clipsalvage --version\n"
    "       clipsalvage --help\n";

struct Options {
  std::string command;
  std::string source;
  std::string out;
  std::vector<int64_t> clips;
  bool json = false;
  bool progress = false;
};

std::optional<Options> parse(const std::vector<std::string>& args) {
  if (args.empty() || (args[0] != "scan" && args[0] != "recover")) return std::nullopt;
  Options o;
  o.command = args[0];
  bool have_out = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      o.json = true;
    } else if (a == "--progress") {
      o.progress = true;
    } else if (a == "--out" && o.command == "recover" && i + 1 < args.size()) {
      o.out = args[++i];
      have_out = true;
    } else if (a == "--clip" && o.command == "recover" && i + 1 < args.size()) {
      const auto n = sources::parse_sectors(args[++i]);
      if (!n || *n == 0) return std::nullopt;
      o.clips.push_back(*n);
    } else if (!a.empty() && a[0] != '-' && o.source.empty()) {
      o.source = a;
    } else {
      return std::nullopt;
    }
  }
  if (o.source.empty() || (o.command == "recover" && (!have_out || o.out.empty()))) return std::nullopt;
  return o;
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

std::string ranges_json(const std::vector<SectorRange>& ranges) {
  std::string s = "[";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i) s += ", ";
    s += "[" + std::to_string(ranges[i].first) + ", " + std::to_string(ranges[i].count) + "]";
  }
  return s + "]";
}

std::string clip_json(const ClipRow& r) {
  std::string s = "{\"number\": " + std::to_string(r.number) + ", \"channel\": " + json_string(r.channel) +
                  ", \"start\": " + json_string(r.start) + ", \"size_mb\": " + std::to_string(r.size_mb) +
                  ", \"name\": " + json_string(r.name) + ", \"blocks\": " + std::to_string(r.blocks) +
                  ", \"first_sector\": " + std::to_string(r.first_sector) +
                  ", \"closed\": " + (r.closed ? "true" : "false") + ", \"runs\": [";
  for (std::size_t i = 0; i < r.runs.size(); ++i) {
    if (i) s += ", ";
    s += "[" + std::to_string(r.runs[i].first_sector) + ", " + std::to_string(r.runs[i].blocks) + "]";
  }
  return s + "]}";
}

std::string file_json(const recover::RecoveredFile& f) {
  return "{\"number\": " + std::to_string(f.number) + ", \"name\": " + json_string(f.name) +
         ", \"path\": " + json_string(f.path) + ", \"bytes\": " + std::to_string(f.bytes) +
         ", \"sha256\": " + json_string(f.sha256) + ", \"unreadable\": " + ranges_json(f.unreadable) + "}";
}

void print_table(std::FILE* out, const std::vector<ClipRow>& rows) {
  std::fprintf(out, "%-6s %-4s %-22s %-8s %12s %8s %14s  %s\n", "序号", "通道", "开始时间", "结束时间",
               "文件大小(MB)", "块数", "首扇区", "名称");
  for (const auto& r : rows) {
    std::fprintf(out, "%-6lld %-6s %-19s %-12s %8lld %8lld %14lld  %s%s\n", static_cast<long long>(r.number),
                 r.channel.c_str(), r.start.c_str(), "", static_cast<long long>(r.size_mb),
                 static_cast<long long>(r.blocks), static_cast<long long>(r.first_sector), r.name.c_str(),
                 r.closed ? "" : " (未结束)");
  }
}

// The progress line: position, percent, rate and time left, the rate taken
// from the readable areas only (time spent retrying bad sectors is left out).
class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* err) : err_(err), started_(Clock::now()), last_draw_(started_) {}

  void update(int64_t s, int64_t total) {
    if (last_sector_ >= 0 && s > last_sector_) advanced_ += s - last_sector_;
    last_sector_ = s;
    const auto now = Clock::now();
    if (now - last_draw_ < std::chrono::milliseconds(200)) return;
    last_draw_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count() - retry_seconds_;
    const double rate = seconds > 0 ? static_cast<double>(advanced_) * 512 / seconds : 0;
    const double percent = total > 0 ? 100.0 * static_cast<double>(s) / static_cast<double>(total) : 0;
    const double left = rate > 0 ? static_cast<double>(total - s) * 512 / rate : 0;
    const long long l = static_cast<long long>(left);
    std::fprintf(err_, "\r扇区 %lld/%lld  %5.1f%%  %7.1f MB/s  剩余 %02lld:%02lld:%02lld ", static_cast<long long>(s),
                 static_cast<long long>(total), percent, rate / 1e6, l / 3600, l / 60 % 60, l % 60);
    std::fflush(err_);
    drawn_ = true;
  }
  void retry(double seconds) { retry_seconds_ += seconds; }
  void finish() {
    if (drawn_) std::fputs("\n", err_);
    drawn_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* err_;
  Clock::time_point started_, last_draw_;
  int64_t last_sector_ = -1;
  int64_t advanced_ = 0;
  double retry_seconds_ = 0;
  bool drawn_ = false;
};

}  // namespace

int run(const std::vector<std::string>& args, const Environment& env) {
  if (args.size() == 1 && args[0] == "--help") {
    std::fputs(kUsage, env.out);
    return kExitComplete;
  }
  const auto parsed = parse(args);
  if (!parsed) {
    std::fputs(kUsage, env.err);
    return kExitUsage;
  }
  const Options& o = *parsed;
  const std::string path = device_path(o.source);

  std::unique_ptr<recover::VolumeMap> system_volumes;
  recover::VolumeMap* volumes = env.volumes;
  if (o.command == "recover") {
    if (!volumes) {
      system_volumes = recover::make_system_volume_map();
      volumes = system_volumes.get();
    }
    const std::string problem = recover::check_output_folder(path, o.out, *volumes);
    if (!problem.empty()) {
      std::fprintf(env.err, "clipsalvage: %s\n", problem.c_str());
      return kExitFailure;
    }
  }

  auto opened = sources::open_block_source(path);
  if (!opened.source) {
    std::fprintf(env.err, "clipsalvage: 打开源设备出错！ %s\n", opened.error.c_str());
    return kExitFailure;
  }

  std::vector<ClipRow> rows;
  ProgressLine line(env.err);
  const bool show_progress = o.progress || env.err_is_terminal;
  scanner::ScanCallbacks cb;
  cb.row = [&](const ClipRow& r) { rows.push_back(r); };
  cb.log = [&](const std::string& text) {
    line.finish();
    std::fprintf(env.err, "%s\n", text.c_str());
  };
  cb.stop_requested = env.stop;
  if (show_progress) {
    cb.progress = [&](int64_t s, int64_t t) { line.update(s, t); };
    cb.retry_time = [&](double seconds) { line.retry(seconds); };
  }
  scanner::ScanOptions options;
  options.device_path = path;
  const auto result = scanner::scan(*opened.source, options, cb);
  line.finish();

  int status = kExitComplete;
  std::string failure;
  switch (result.end) {
    case ScanEnd::complete: break;
    case ScanEnd::stopped: status = kExitStopped; break;
    case ScanEnd::failed:
    case ScanEnd::refused:
      status = kExitFailure;
      failure = result.message;
      break;
  }

  std::vector<recover::RecoveredFile> files;
  if (o.command == "recover" && status == kExitComplete) {
    std::set<int64_t> wanted(o.clips.begin(), o.clips.end());
    std::set<int64_t> seen;
    for (const auto& r : rows) {
      if (!wanted.empty() && !wanted.count(r.number)) continue;
      if (env.stop && env.stop()) {
        status = kExitStopped;
        break;
      }
      seen.insert(r.number);
      const auto done = recover::recover_clip(*opened.source, r, o.out);
      if (!done.ok) {
        status = kExitFailure;
        failure = done.error;
        break;
      }
      if (done.file.renamed) {
        std::fprintf(env.err, "%s 已存在，写入 %s\n", r.name.c_str(), done.file.path.c_str());
      }
      for (const auto& bad : done.file.unreadable) {
        std::fprintf(env.err, "%s: 扇区 %lld 起 %lld 个扇区无法读取，已用零填充\n", done.file.path.c_str(),
                     static_cast<long long>(bad.first), static_cast<long long>(bad.count));
      }
      files.push_back(done.file);
    }
    if (status == kExitComplete) {
      for (int64_t n : wanted) {
        if (!seen.count(n)) {
          status = kExitFailure;
          failure = "没有编号为 " + std::to_string(n) + " 的片段";
          break;
        }
      }
    }
  }

  if (o.json) {
    std::string s = "{\"source\": " + json_string(path) + ", \"sectors\": " + std::to_string(result.sectors) +
                    ", \"signature_sector\": " +
                    (result.signature_sector ? std::to_string(*result.signature_sector) : "null") +
                    ", \"complete\": " + (result.end == ScanEnd::complete ? "true" : "false") +
                    ", \"unreadable\": " + ranges_json(result.unreadable) + ", \"clips\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) s += (i ? ", " : "") + clip_json(rows[i]);
    s += "]";
    if (o.command == "recover") {
      s += ", \"files\": [";
      for (std::size_t i = 0; i < files.size(); ++i) s += (i ? ", " : "") + file_json(files[i]);
      s += "]";
    }
    s += "}\n";
    std::fputs(s.c_str(), env.out);
  } else {
    print_table(env.out, rows);
    for (const auto& f : files) {
      std::fprintf(env.out, "%lld  %s  %llu  %s\n", static_cast<long long>(f.number), f.path.c_str(),
                   static_cast<unsigned long long>(f.bytes), f.sha256.c_str());
    }
  }
  std::fflush(env.out);
  if (!failure.empty()) std::fprintf(env.err, "clipsalvage: %s\n", failure.c_str());
  return status;
}

}  // namespace clip::cli
