// SHA-256 of a clip's bytes as recovery writes them: its blocks in reading
// order, each 128 sectors or up to the source's end, sectors that can't be
// read as zeros. Used to fingerprint a scan, to verify a source against a
// report and to state digests where no file is written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::report {

struct HashOptions {
  int64_t max_blocks = -1;     // hash only the clip's first blocks; -1 all
  int sector_tries = 3;        // reads of a failing sector before it counts as zeros
  std::function<bool()> stop;  // asked before every read
  // After each block: the clip's bytes hashed so far.
  std::function<void(uint64_t bytes)> progress;
};

struct ClipDigest {
  enum class End { complete, stopped, gone };
  End end = End::complete;
  std::string sha256;  // lower-case hex; set when complete
  uint64_t bytes = 0;
  std::vector<scanner::SectorRange> unreadable;  // zero-filled sectors
};

ClipDigest hash_clip(sources::BlockSource& source, const std::vector<scanner::BlockRun>& runs,
                     const HashOptions& options = {});

// SHA-256 of `count` sectors from `first`, unreadable ones as zeros; empty when
// the source has stopped answering.
std::string hash_sectors(sources::BlockSource& source, int64_t first, int64_t count);

}  // namespace clip::report
