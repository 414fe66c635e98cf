#include "cli/evidence.h"

#include <algorithm>
#include <utility>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "report/dfxml.h"
#include "report/dfxml_read.h"
#include "report/evidence_source.h"
#include "report/files.h"
#include "report/json.h"
#include "report/verify.h"

namespace clip::cli {
namespace {

using scanner::ClipRow;
using scanner::SectorRange;

std::string joined_command_line(const std::vector<std::string>& args) {
  std::string line = "clipsalvage";
  for (const auto& a : args) {
    const bool plain = !a.empty() && a.find_first_of(" \t\n'\"\\") == std::string::npos;
    if (plain) {
      line += " " + a;
      continue;
    }
    // Quoted as a POSIX shell reads it back.
    line += " '";
    for (const char c : a) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += "'";
  }
  return line;
}

}  // namespace

const char* const kEvidenceUsage =
    "       clipsalvage verify SOURCE --report FILE [--files DIR] [--json] [--progress]\n"
    "       clipsalvage verify SOURCE --dfxml FILE [--json] [--progress]\n"
    "       clipsalvage verify --files DIR --report FILE [--json] [--progress]\n";

const char* const kEvidenceHelp =
    "Evidence files:\n"
    "  SOURCE may be an evidence file NAME.E01 (its NAME.E02, ... segments beside\n"
    "         it); the hashes stored at acquisition are logged and reported.\n"
    "  --mapfile FILE  (scan, recover, verify) the copying tool's mapfile of an\n"
    "              image: the areas it did not copy are treated as unreadable\n"
    "              without being read (the zeros there are not evidence). Without\n"
    "              it IMAGE.map or IMAGE.mapfile beside the image is used, unless\n"
    "              --no-mapfile is given. A malformed line is an error.\n"
    "  --write-mapfile FILE  (scan, recover) writes which sectors the scan read\n"
    "              (+), could not read (-) and did not read (?) as a mapfile, so\n"
    "              the copying tool can go back for exactly the unreadable areas.\n"
    "  --dfxml FILE  (scan, recover) writes a DFXML report: the program, the\n"
    "              source with its hashes, and each clip with the image byte runs\n"
    "              it comes from and the SHA-256 of its bytes (a scan reads every\n"
    "              clip once more for it).\n"
    "  --from-report FILE  (recover) recovers the clips of a report saved with\n"
    "              \"scan --json\" without scanning again, after checking that\n"
    "              SOURCE is the source the report was made from (its size, and\n"
    "              the SHA-256 of the signature sector and of every clip's first\n"
    "              block); a source that differs is refused.\n"
    "  Files named by these options are created new: an existing file is never\n"
    "  replaced.\n"
    "\n"
    "verify   reads SOURCE again and checks every clip of the report (--report,\n"
    "         from scan --json or recover --json) against its SHA-256: the whole\n"
    "         clip where a recovery stated it, otherwise its first block; the\n"
    "         size and the signature sector too. --files DIR checks the files a\n"
    "         recovery report lists in DIR by name, size and SHA-256. With\n"
    "         --dfxml FILE instead of --report it cuts every fileobject's byte runs\n"
    "         from SOURCE and checks their SHA-256. Exit status 0 when everything\n"
    "         matches, 1 with every mismatch listed.\n";

OptionMatch parse_evidence_option(const std::string& command, const std::string& name, bool has_inline_value,
                                  const std::function<std::optional<std::string>()>& value,
                                  EvidenceOptions& options, std::string& error) {
  struct OptionRule {
    const char* name;
    std::string EvidenceOptions::*field;
    const char* commands;  // where the option belongs, space-separated
    const char* what;      // what its value names
  };
  static const OptionRule rules[] = {
      {"--mapfile", &EvidenceOptions::mapfile, "scan recover verify", "a mapfile"},
      {"--write-mapfile", &EvidenceOptions::write_mapfile, "scan recover", "a file to create"},
      {"--from-report", &EvidenceOptions::from_report, "recover", "a report file"},
      {"--dfxml", &EvidenceOptions::dfxml, "scan recover verify", "a file"},
      {"--report", &EvidenceOptions::report, "verify", "a report file"},
      {"--files", &EvidenceOptions::files, "verify", "a folder"},
  };
  auto belongs = [&](const char* commands) {
    const std::string list = std::string(" ") + commands + " ";
    return list.find(" " + command + " ") != std::string::npos;
  };
  if (name == "--no-mapfile") {
    if (has_inline_value) return OptionMatch::none;
    if (!belongs("scan recover verify")) {
      error = "--no-mapfile belongs to scan, recover and verify";
      return OptionMatch::error;
    }
    options.no_mapfile = true;
    return OptionMatch::taken;
  }
  for (const OptionRule& rule : rules) {
    if (name != rule.name) continue;
    if (!belongs(rule.commands)) {
      error = name + " belongs to " + rule.commands + ", not " + command;
      return OptionMatch::error;
    }
    const auto v = value();
    if (!v || v->empty()) {
      error = name + " needs " + rule.what;
      return OptionMatch::error;
    }
    std::string& field = options.*rule.field;
    if (!field.empty()) {
      error = name + " given twice";
      return OptionMatch::error;
    }
    field = *v;
    return OptionMatch::taken;
  }
  return OptionMatch::none;
}

std::string check_evidence_options(const std::string& command, bool have_source, const EvidenceOptions& o) {
  if (!o.mapfile.empty() && o.no_mapfile) return "--mapfile and --no-mapfile exclude each other";
  if (!o.from_report.empty() && !o.write_mapfile.empty()) {
    return "--write-mapfile needs a scan; --from-report recovers without one";
  }
  if (command == "verify") {
    if (o.report.empty() && o.dfxml.empty()) return "verify needs --report FILE or --dfxml FILE";
    if (!o.report.empty() && !o.dfxml.empty()) return "verify takes --report or --dfxml, not both";
    if (!o.files.empty() && o.report.empty()) return "--files needs --report FILE (the recovery's report)";
    if (!have_source && o.files.empty()) return "verify needs a SOURCE, --files DIR or both";
  }
  return {};
}

EvidenceRun::EvidenceRun(EvidenceOptions options, std::vector<std::string> command_line, std::string version)
    : options_(std::move(options)),
      command_line_(std::move(command_line)),
      version_(std::move(version)),
      start_(std::chrono::system_clock::now()) {}

std::string EvidenceRun::prepare_source(std::unique_ptr<sources::BlockSource>& source, const std::string& path,
                                        const std::function<void(const std::string&)>& log) {
  auto evidence = report::source_evidence(path, source->sector_count(), sources::ewf_details(*source),
                                          options_.mapfile, !options_.no_mapfile);
  if (!evidence) return evidence.error();
  if (evidence->hashes) {
    std::lock_guard lock(mutex_);
    image_hashes_ = evidence->hashes;
  }
  for (const std::string& line : evidence->lines) log(line);
  source = report::apply_evidence(std::move(source), evidence.value());
  return {};
}

void EvidenceRun::follow(scanner::ScanCallbacks& callbacks) {
  if (options_.write_mapfile.empty()) return;
  callbacks.pass = [this, next = std::move(callbacks.pass)](scanner::ScanPass pass, int64_t first, int64_t end) {
    {
      std::lock_guard lock(mutex_);
      coverage_.pass(first, end);
    }
    if (next) next(pass, first, end);
  };
  callbacks.progress = [this, next = std::move(callbacks.progress)](int64_t sector, int64_t total) {
    {
      std::lock_guard lock(mutex_);
      coverage_.progress(sector);
    }
    if (next) next(sector, total);
  };
}

std::string EvidenceRun::load_report(sources::BlockSource& source, const std::function<bool()>& stop,
                                     std::vector<ClipRow>& rows, scanner::ScanResult& scan) {
  auto loaded = report::load_scan_report(options_.from_report);
  if (!loaded) return "无法载入扫描报告：" + loaded.error();
  const report::ScanReport& r = loaded.value();
  const std::string mismatch = report::check_source(source, r, stop);
  if (stop && stop()) {
    scan.end = scanner::ScanEnd::stopped;
    return {};
  }
  if (!mismatch.empty()) return mismatch + "（报告 " + options_.from_report + "）";
  rows = r.clips;
  scan.end = scanner::ScanEnd::complete;
  scan.signature_sector = r.signature_sector;
  scan.unreadable = r.unreadable;
  scan.sectors = r.sectors;
  scan.rows = static_cast<int64_t>(rows.size());
  std::lock_guard lock(mutex_);
  fingerprint_ = r.fingerprint;
  if (!image_hashes_) image_hashes_ = r.image_hashes;
  return {};
}

void EvidenceRun::after_scan(sources::BlockSource& source, const std::vector<ClipRow>& rows,
                             const scanner::ScanResult& scan, bool json, bool recovery_follows,
                             const std::function<bool()>& stop,
                             const std::function<void(const std::string&)>& log, const ClipProgress& progress) {
  bool need_fingerprint;
  {
    std::lock_guard lock(mutex_);
    need_fingerprint = json && !fingerprint_;
  }
  if (need_fingerprint) {
    auto fingerprint = report::take_fingerprint(source, scan.signature_sector, rows, stop);
    std::lock_guard lock(mutex_);
    fingerprint_ = std::move(fingerprint);
  }
  // A recovery states the digests of the files it writes; a scan reads its
  // clips once more for them.
  if (options_.dfxml.empty() || recovery_follows || rows.empty()) return;
  if (stop && stop()) return;
  log("正在读取 " + std::to_string(rows.size()) + " 个片段并计算 SHA-256，用于 DFXML 报告……");
  uint64_t total = 0, before = 0;
  for (const auto& row : rows) total += recover::expected_bytes(row, source.sector_count());
  report::HashOptions hash_options;
  hash_options.stop = stop;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    if (progress) {
      hash_options.progress = [&, i](uint64_t bytes) { progress(std::min(before + bytes, total), total, i, rows.size()); };
    }
    auto digest = report::hash_clip(source, row.runs, hash_options);
    before += digest.bytes;
    if (digest.end != report::ClipDigest::End::complete) break;
    std::lock_guard lock(mutex_);
    digests_.push_back(std::move(digest));
  }
}

std::string EvidenceRun::report_members() {
  std::lock_guard lock(mutex_);
  std::string s;
  if (fingerprint_) {
    s += ", \"signature_sha256\": " +
         (fingerprint_->signature_sha256.empty() ? std::string("null") : json_string(fingerprint_->signature_sha256));
  }
  if (image_hashes_) {
    s += ", \"image_hashes\": {\"md5\": " + json_string(image_hashes_->md5) +
         ", \"sha1\": " + json_string(image_hashes_->sha1) + "}";
  }
  return s;
}

std::string EvidenceRun::clip_members(std::size_t index) {
  std::lock_guard lock(mutex_);
  if (!fingerprint_ || index >= fingerprint_->first_block_sha256.size()) return {};
  return ", \"first_block_sha256\": " + json_string(fingerprint_->first_block_sha256[index]);
}

std::string EvidenceRun::write_outputs(const std::string& path, int64_t sectors, const std::vector<ClipRow>& rows,
                                       const scanner::ScanResult& scan, bool scan_complete,
                                       const std::vector<WrittenClip>& written, bool recover) {
  std::lock_guard lock(mutex_);
  std::string errors;
  auto note = [&](const std::string& what, const std::string& error) {
    if (!error.empty()) errors += (errors.empty() ? "" : "\n") + what + error;
  };
  if (!options_.write_mapfile.empty()) {
    const std::string text =
        report::write_mapfile(sectors, coverage_.read(scan_complete), scan.unreadable, "clipsalvage " + version_);
    note("映射文件没有写出：", report::write_new_file(options_.write_mapfile, text));
  }
  if (!options_.dfxml.empty()) {
    report::DfxmlCreator creator;
    creator.version = version_;
    creator.command_line = joined_command_line(command_line_);
    creator.start = start_;
    creator.end = std::chrono::system_clock::now();
    report::DfxmlSource source{path, sectors, image_hashes_, scan.unreadable};
    std::vector<report::DfxmlClip> clips;
    if (recover) {
      for (const auto& w : written) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const ClipRow& r) { return r.number == w.file.number; });
        if (row == rows.end()) continue;
        report::DfxmlClip clip{*row, w.file.bytes, {}, {}, w.file.unreadable};
        if (w.kept) {
          clip.sha256 = w.file.sha256;
          clip.output_path = w.file.path;
        }
        clips.push_back(std::move(clip));
      }
    } else {
      for (std::size_t i = 0; i < rows.size(); ++i) {
        report::DfxmlClip clip{rows[i], recover::expected_bytes(rows[i], sectors), {}, {}, {}};
        if (i < digests_.size()) {
          clip.bytes = digests_[i].bytes;
          clip.sha256 = digests_[i].sha256;
          clip.unreadable = digests_[i].unreadable;
        }
        clips.push_back(std::move(clip));
      }
    }
    note("DFXML 报告没有写出：",
         report::write_new_file(options_.dfxml, report::dfxml_document(creator, source, clips)));
  }
  return errors;
}

int run_verify(const std::string& source, const std::string& path, const EvidenceOptions& options, bool json,
               bool progress, const Environment& env) {
  const bool by_dfxml = !options.dfxml.empty();
  report::ScanReport doc;
  report::DfxmlReport dfxml;
  if (by_dfxml) {
    auto loaded = report::load_dfxml(options.dfxml);
    if (!loaded) {
      std::fprintf(env.err, "clipsalvage: 无法载入 DFXML 报告：%s\n", loaded.error().c_str());
      return kExitFailure;
    }
    dfxml = std::move(loaded.value());
  } else {
    auto loaded = report::load_scan_report(options.report);
    if (!loaded) {
      std::fprintf(env.err, "clipsalvage: 无法载入扫描报告：%s\n", loaded.error().c_str());
      return kExitFailure;
    }
    doc = std::move(loaded.value());
  }
  ProgressLine line(env.err, env.err_is_terminal);
  report::VerifyOptions verify_options;
  verify_options.stop = env.stop;
  if (progress || env.err_is_terminal) {
    verify_options.progress = [&](uint64_t done, uint64_t total, std::size_t item, std::size_t items) {
      line.clip_work("核对", done, total, item, items);
    };
  }
  auto log = [&](const std::string& text) {
    line.finish();
    line.start_job();
    std::fprintf(env.err, "%s\n", text.c_str());
    std::fflush(env.err);
  };

  struct Part {
    const char* what;
    report::VerifyResult result;
  };
  std::vector<Part> parts;
  if (!path.empty()) {
    auto opened = env.open_source ? env.open_source(path) : sources::open_block_source(path);
    if (!opened.source) {
      std::fprintf(env.err, "clipsalvage: 打开源设备出错！%s\n", opened.error.c_str());
      return kExitFailure;
    }
    EvidenceRun run(options, {}, {});
    if (const std::string problem = run.prepare_source(opened.source, source, log); !problem.empty()) {
      std::fprintf(env.err, "clipsalvage: %s\n", problem.c_str());
      return kExitFailure;
    }
    if (by_dfxml) {
      log("正在核对源介质与 DFXML 报告中的 " + std::to_string(dfxml.objects.size()) + " 个文件对象……");
      parts.push_back({"source", report::verify_dfxml(*opened.source, dfxml, verify_options)});
    } else {
      log("正在核对源介质与报告中的 " + std::to_string(doc.clips.size()) + " 个片段……");
      parts.push_back({"source", report::verify_source(*opened.source, doc, verify_options)});
    }
  }
  if (!options.files.empty() && !(env.stop && env.stop())) {
    log("正在核对文件夹 " + options.files + " 中的 " + std::to_string(doc.files.size()) + " 个文件……");
    parts.push_back({"files", report::verify_files(options.files, doc, verify_options)});
  }

  line.finish();
  bool ok = true, stopped = false;
  for (const auto& p : parts) {
    ok = ok && p.result.ok();
    stopped = stopped || p.result.stopped;
  }
  std::string out;
  if (json) {
    out = "{\"report\": " + json_string(by_dfxml ? options.dfxml : options.report) + ", \"ok\": " + (ok ? "true" : "false");
    for (const auto& p : parts) {
      out += ", \"" + std::string(p.what) + "\": {\"checked\": " + std::to_string(p.result.checked) +
             ", \"stopped\": " + (p.result.stopped ? "true" : "false");
      if (!p.result.error.empty()) out += ", \"error\": " + json_string(p.result.error);
      out += ", \"mismatches\": [";
      for (std::size_t i = 0; i < p.result.mismatches.size(); ++i) {
        out += (i ? ", " : "") + json_string(p.result.mismatches[i]);
      }
      out += "]}";
    }
    out += "}\n";
  } else {
    for (const auto& p : parts) {
      const std::string what = std::string(p.what) == "source" ? "源介质" : "文件";
      for (const auto& m : p.result.mismatches) out += valid_utf8(m) + "\n";
      if (!p.result.error.empty()) out += what + "：" + valid_utf8(p.result.error) + "\n";
      if (p.result.stopped) out += what + "：核对已停止\n";
      out += what + "：核对 " + std::to_string(p.result.checked) + " 项，" +
             (p.result.mismatches.empty() ? std::string("全部相符")
                                          : std::to_string(p.result.mismatches.size()) + " 处不符") +
             "\n";
    }
  }
  if (std::fwrite(out.data(), 1, out.size(), env.out) != out.size() || std::fflush(env.out) != 0) {
    std::fprintf(env.err, "clipsalvage: 无法写入标准输出\n");
    return kExitFailure;
  }
  if (stopped) return kExitStopped;
  return ok ? kExitComplete : kExitFailure;
}

}  // namespace clip::cli
