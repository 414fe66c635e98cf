// Checks after the fact: a source read again against a report's digests, and
// recovered files against the digests the report gives them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report/scan_report.h"
#include "sources/block_source.h"

namespace clip::report {

struct VerifyOptions {
  std::function<bool()> stop;
  // As the bytes are read: bytes done and to do in all, the item being read
  // (0-based) and the number of items.
  std::function<void(uint64_t done, uint64_t total, std::size_t item, std::size_t items)> progress;
};

struct VerifyResult {
  std::size_t checked = 0;              // items compared (clips or files)
  std::vector<std::string> mismatches;  // one line each, in words
  bool stopped = false;
  std::string error;  // a failure that ended the check (source gone, nothing to check)

  bool ok() const { return mismatches.empty() && !stopped && error.empty(); }
};

// Reads every reported clip from `source` again: its whole bytes where the
// report states their SHA-256 (a recovery's files), otherwise its first
// block against the fingerprint; the sector count and signature sector too.
VerifyResult verify_source(sources::BlockSource& source, const ScanReport& report, const VerifyOptions& options = {});

// Each file the report lists, looked up by its file name in `folder`, must
// have the reported size and SHA-256.
VerifyResult verify_files(const std::string& folder, const ScanReport& report, const VerifyOptions& options = {});

// SHA-256 and size of a file, or an error.
struct FileDigest {
  std::string sha256;
  uint64_t bytes = 0;
  std::string error;
};
// `progress` hears the bytes read so far.
FileDigest hash_file(const std::string& path, const std::function<bool()>& stop = {},
                     const std::function<void(uint64_t bytes)>& progress = {});

}  // namespace clip::report
