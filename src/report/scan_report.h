// The JSON scan report as a document the program reads back: a scan saved
// overnight is recovered from, verified or loaded into the window later,
// without scanning again. A report carries a fingerprint of its source (the
// sector count, and SHA-256 of the signature sector and of every clip's
// first block) so that a source can be checked against it first.
//
// Layout (the CLI's report, plus the fingerprint members):
//   {"source": S, "sectors": N, "signature_sector": N|null,
//    "signature_sha256": HEX|null, "complete": B, "unreadable": [[first, count]...],
//    "image_hashes": {"md5": HEX, "sha1": HEX}            (optional)
//    "scan_position": N     (optional: the sector the scan last reported reaching)
//    "clips": [{"number", "channel", "start", "size_mb", "name", "blocks",
//               "first_sector", "closed", "runs": [[first, blocks]...],
//               "first_block_sha256": HEX}...],
//    "files": [{"number", "name", "path", "bytes", "sha256",
//               "unreadable": [[first, count]...]}...]     (after recovery)}
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "recover/recover.h"
#include "report/result.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::report {

struct Fingerprint {
  std::string signature_sha256;                 // empty when the scan found no signature
  std::vector<std::string> first_block_sha256;  // one per clip, in the report's order
};

struct ScanReport {
  std::string source;
  int64_t sectors = 0;
  std::optional<int64_t> signature_sector;
  bool complete = false;
  std::vector<scanner::SectorRange> unreadable;
  std::vector<scanner::ClipRow> clips;
  std::vector<recover::RecoveredFile> files;
  std::optional<sources::ImageHashes> image_hashes;
  std::optional<Fingerprint> fingerprint;  // absent in reports written before it existed
  // Where the scan's progress last stood, so a window that loads the report
  // shows the status the scan left; the command-line tool doesn't write it.
  std::optional<int64_t> scan_position;
};

// Reads the fingerprint of a scan's result from its source: the signature
// sector and the first block of every clip, unreadable sectors as zeros.
// nullopt when stopped or when the source stopped answering.
std::optional<Fingerprint> take_fingerprint(sources::BlockSource& source, std::optional<int64_t> signature_sector,
                                            const std::vector<scanner::ClipRow>& clips,
                                            const std::function<bool()>& stop = {});

std::string scan_report_json(const ScanReport& report);
Result<ScanReport> parse_scan_report(std::string_view text);
Result<ScanReport> load_scan_report(const std::string& path);

// Empty when `source` is the one the report was made from, as far as the
// fingerprint tells; otherwise what differs, in words. A report without a
// fingerprint can't be matched and is refused.
std::string check_source(sources::BlockSource& source, const ScanReport& report,
                         const std::function<bool()>& stop = {});

// The clips of `report` whose numbers are in `numbers` (all when empty);
// a number the report lacks is an error.
Result<std::vector<scanner::ClipRow>> select_clips(const ScanReport& report, const std::vector<int64_t>& numbers);

}  // namespace clip::report
