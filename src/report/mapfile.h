// ddrescue mapfiles: which areas of an image the copying tool recovered.
// Areas it did not (status '?' non-tried, '*' non-trimmed, '/' non-scraped,
// '-' bad sector) hold zeros in the image that are not evidence: a source
// wrapped with them fails its reads there without reading. The writer puts a
// scan's unreadable ranges in the same format, so the copying tool can be
// pointed at exactly those areas of the original disk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/result.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::report {

using scanner::SectorRange;

struct MapBlock {
  int64_t pos = 0;   // bytes
  int64_t size = 0;  // bytes
  char status = '?';
  bool operator==(const MapBlock&) const = default;
};

struct Mapfile {
  int64_t current_pos = 0;
  char current_status = '?';
  int current_pass = 0;  // 0 when the status line has no pass (older writers)
  std::vector<MapBlock> blocks;  // ascending, contiguous
};

// Parses a mapfile strictly: comments ('#') and blank lines aside, one status
// line, then block lines "pos size status" with numbers in decimal, 0x hex
// or 0-prefixed octal, each block starting where the one before ends. An
// error names its line.
Result<Mapfile> parse_mapfile(std::string_view text);
Result<Mapfile> load_mapfile(const std::string& path);

// The 512-byte sectors of [0, total) that the mapfile does not mark
// finished ('+'), ascending and merged: a sector counts as unrecovered if any
// of its bytes is, and so does every area the mapfile does not cover.
std::vector<SectorRange> unrecovered_sectors(const Mapfile& map, int64_t total_sectors);

// The mapfile of a scan over `total_sectors`: '+' for the sectors it read,
// '-' for the ones it could not read, '?' for the rest (never read).
// `read` and `unreadable` are sector ranges, in any order, may overlap.
std::string write_mapfile(int64_t total_sectors, const std::vector<SectorRange>& read,
                          const std::vector<SectorRange>& unreadable, std::string_view writer);

// Follows a scan through its callbacks to know which sectors it read: each
// pass from its first sector up to the block it was at when it ended.
class ScanCoverage {
 public:
  void pass(int64_t first, int64_t end);
  void progress(int64_t sector);
  // The sectors read; a complete scan read each pass to its end.
  std::vector<SectorRange> read(bool complete) const;

 private:
  struct Pass {
    int64_t first, end, reached;
  };
  std::vector<Pass> passes_;
};

// A source whose `unreadable` sectors fail with a media error without being
// read; a read stops at the first of them with the bytes before it.
std::unique_ptr<sources::BlockSource> with_unreadable(std::unique_ptr<sources::BlockSource> inner,
                                                       std::vector<SectorRange> unreadable);

// The mapfile kept beside an image: IMAGE.map, else IMAGE.mapfile; empty when
// neither exists.
std::string mapfile_beside(const std::string& image_path);

// Ascending, merged, empty ranges dropped.
std::vector<SectorRange> merge_ranges(std::vector<SectorRange> ranges);

}  // namespace clip::report
