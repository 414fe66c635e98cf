// The evidence side of the command-line tool: mapfiles read and written,
// reports saved and read back, DFXML reports, the source's acquisition
// hashes, and the verify command. cli.cpp calls in at a few points (option
// parsing, the opened source, the scan's callbacks, the work thread's start
// and end, the report); everything else of it lives here.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "recover/recover.h"
#include "report/clip_hash.h"
#include "report/mapfile.h"
#include "report/scan_report.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::cli {

struct Environment;

struct EvidenceOptions {
  std::string mapfile;        // --mapfile FILE; otherwise the image's own IMAGE.map / IMAGE.mapfile
  bool no_mapfile = false;    // --no-mapfile: read the image as it is
  std::string write_mapfile;  // scan --write-mapfile FILE
  std::string from_report;    // recover --from-report FILE
  std::string dfxml;          // --dfxml FILE: written by scan and recover, read by verify
  std::string report;         // verify --report FILE
  std::string files;          // verify --files DIR
};

enum class OptionMatch { none, taken, error };

// One option of `command` ("--name", its value fetched through `value` when
// it takes one). none: not an evidence option; error: `error` says why.
OptionMatch parse_evidence_option(const std::string& command, const std::string& name, bool has_inline_value,
                                  const std::function<std::optional<std::string>()>& value,
                                  EvidenceOptions& options, std::string& error);

// What the evidence options ask of each other, once all are read; empty when
// they fit together.
std::string check_evidence_options(const std::string& command, bool have_source, const EvidenceOptions& options);

// The usage and help lines of the evidence options and of verify.
extern const char* const kEvidenceUsage;
extern const char* const kEvidenceHelp;

// One recovered clip as the report gives it.
struct WrittenClip {
  recover::RecoveredFile file;
  bool kept = false;  // the file is there (complete, or kept as incomplete): its path and digest count
};

// The evidence state of one scan or recovery. The work thread and run() both
// use it, so its results are kept under its own lock.
class EvidenceRun {
 public:
  EvidenceRun(EvidenceOptions options, std::vector<std::string> command_line, std::string version);

  const EvidenceOptions& options() const { return options_; }

  // Applies the mapfile to the opened source (wrapping it so that the holes
  // fail without being read) and notes the acquisition hashes of an evidence
  // file. Log lines go to `log`. Empty on success, otherwise why it can't go on.
  std::string prepare_source(std::unique_ptr<sources::BlockSource>& source, const std::string& path,
                             const std::function<void(const std::string&)>& log);

  // Follows the scan to know which sectors it read, for --write-mapfile.
  void follow(scanner::ScanCallbacks& callbacks);

  // recover --from-report: reads the report, checks the source against it and
  // gives its clips and scan result in place of a scan. Empty on success,
  // otherwise why nothing is recovered.
  std::string load_report(sources::BlockSource& source, const std::function<bool()>& stop,
                          std::vector<scanner::ClipRow>& rows, scanner::ScanResult& scan);
  bool from_report() const { return !options_.from_report.empty(); }

  // On the work thread once the scan (or the report's loading) is done: the
  // fingerprint that makes the JSON report loadable, and with --dfxml and
  // no recovery to follow the digest of every clip's bytes.
  // `progress` (when set) hears the digests' reading: bytes done, bytes in
  // all, the clip (0-based) and the number of clips.
  using ClipProgress = std::function<void(uint64_t done, uint64_t total, std::size_t clip, std::size_t clips)>;
  void after_scan(sources::BlockSource& source, const std::vector<scanner::ClipRow>& rows,
                  const scanner::ScanResult& scan, bool json, bool recovery_follows, const std::function<bool()>& stop,
                  const std::function<void(const std::string&)>& log, const ClipProgress& progress = {});

  // Members added to the JSON report: after "signature_sector", and after the
  // fields of clip number `index` (0-based, in the report's order).
  std::string report_members();
  std::string clip_members(std::size_t index);

  // Writes the files asked for at the end of the run (--write-mapfile,
  // --dfxml). Empty when all were written, otherwise why not, one per line.
  std::string write_outputs(const std::string& path, int64_t sectors, const std::vector<scanner::ClipRow>& rows,
                            const scanner::ScanResult& scan, bool scan_complete,
                            const std::vector<WrittenClip>& written, bool recover);

 private:
  EvidenceOptions options_;
  std::vector<std::string> command_line_;
  std::string version_;
  std::chrono::system_clock::time_point start_;

  std::mutex mutex_;
  std::optional<sources::ImageHashes> image_hashes_;
  report::ScanCoverage coverage_;
  std::optional<report::Fingerprint> fingerprint_;
  std::vector<report::ClipDigest> digests_;  // scan --dfxml, one per row
};

// clipsalvage verify: the source against a report's digests, recovered files
// against a report. `source` as given and `path` as opened are empty when
// only --files is checked. With `progress` (or on a terminal) the reading
// shows a progress line.
int run_verify(const std::string& source, const std::string& path, const EvidenceOptions& options, bool json,
               bool progress, const Environment& env);

}  // namespace clip::cli
