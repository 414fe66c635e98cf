// The scanner over a small in-memory disk built from the input: its size, the
// search start, sectors that fail (some only for a few tries), a truncation,
// a point from which the disk is gone, and contents (header blocks, stream
// markers, raw bytes, many of them near the search start). Every result must
// keep the scan's invariants; any breach aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "scanner/scanner.h"
#include "sources/memory_source.h"

namespace {

using namespace clip;
using scanner::ScanEnd;

// The scan's log, printed with a broken invariant.
std::vector<std::string> log;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "scanner invariant broken: %s\n", what);
    for (const auto& line : log) std::fprintf(stderr, "  log: %s\n", line.c_str());
    std::abort();
  }
}

void put(sources::MemorySource& src, int64_t at, const std::string& bytes) {
  if (at < 0) return;
  src.write(at, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int64_t total = in.ConsumeIntegralInRange<int64_t>(0, 6000);
  scanner::ScanOptions options;
  options.search_start = in.ConsumeIntegralInRange<int64_t>(0, 3000);
  options.chunk_blocks = in.ConsumeIntegralInRange<int>(1, 6);
  options.depth = in.ConsumeIntegralInRange<int>(2, 4);
  options.sector_tries = in.ConsumeIntegralInRange<int>(1, 3);
  options.first_number = in.ConsumeIntegralInRange<int64_t>(1, 1000);
  sources::MemorySource src(total);

  std::set<int64_t> failing;
  const int failures = in.ConsumeIntegralInRange<int>(0, 12);
  for (int i = 0; i < failures; ++i) {
    const int64_t sector = in.ConsumeIntegralInRange<int64_t>(0, total + 8);
    const int tries = in.ConsumeIntegralInRange<int>(-1, 4);
    src.fail_sector(sector, tries);
    if (tries != 0) failing.insert(sector);
  }
  const bool truncated = in.ConsumeBool();
  if (truncated) src.truncate(in.ConsumeIntegralInRange<int64_t>(0, total));
  const bool gone = in.ConsumeProbability<float>() < 0.1f;
  if (gone) src.gone_from(in.ConsumeIntegralInRange<int64_t>(0, total));

  while (in.remaining_bytes() > 0) {
    // Half of the pieces land within a few blocks of the search start.
    const bool near = in.ConsumeBool();
    const int64_t at = near ? options.search_start * 512 + in.ConsumeIntegralInRange<int64_t>(-2048, 8 * 65536)
                            : in.ConsumeIntegralInRange<int64_t>(0, total * 512);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {  // a header sector: time bytes, signature, channel byte
        const int64_t sector = at / 512 * 512;
        put(src, sector + 43, in.ConsumeBytesAsString(6));
        put(src, sector + 80, std::string(scanner::kSignature));
        put(src, sector + 468, in.ConsumeBytesAsString(1));
        break;
      }
      case 1:  // a stream marker after its channel character
        put(src, at, in.ConsumeBytesAsString(2) + std::string(scanner::kStreamMarker));
        break;
      case 2:  // the marker alone, often across a block's edge
        put(src, at, std::string(scanner::kStreamMarker));
        break;
      default:
        put(src, at, in.ConsumeRandomLengthString(64));
        break;
    }
  }

  std::vector<scanner::ClipRow> rows;
  log.clear();
  scanner::ScanCallbacks callbacks;
  callbacks.row = [&](const scanner::ClipRow& row) { rows.push_back(row); };
  callbacks.log = [&](const std::string& line) { log.push_back(line); };
  const scanner::ScanResult result = scanner::scan(src, options, callbacks);

  check(result.end != ScanEnd::stopped, "stopped without a stop");
  check((result.end == ScanEnd::refused) == (total == 0), "refused exactly the empty source");
  check(result.rows == static_cast<int64_t>(rows.size()), "row count");
  // Media errors alone never end a scan: they are zero-filled and reported.
  if (!gone && total > 0) check(result.end == ScanEnd::complete, "complete without a lost source");
  if (result.end == ScanEnd::complete) check(!log.empty() && log.back() == scanner::kDoneLine, "closing line");

  std::set<int64_t> blocks;
  int64_t listed = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    check(row.number == options.first_number + static_cast<int64_t>(i), "numbers consecutive");
    check(!row.runs.empty() && row.first_sector == row.runs.front().first_sector, "first sector is the first run's");
    int64_t sum = 0;
    for (const auto& run : row.runs) {
      check(run.blocks > 0 && run.first_sector >= 0, "run not empty");
      check(run.first_sector + (run.blocks - 1) * sources::kBlockSectors < total, "run inside the source");
      for (int64_t b = 0; b < run.blocks; ++b) {
        check(blocks.insert(run.first_sector + b * sources::kBlockSectors).second, "runs disjoint");
      }
      sum += run.blocks;
    }
    check(sum == row.blocks, "blocks are the runs' sum");
    check(row.size_mb == scanner::size_mb(row.blocks), "size from blocks");
    listed += row.blocks;
  }

  int64_t previous_end = -1;
  for (const auto& range : result.unreadable) {
    check(range.count > 0 && range.first >= 0 && range.first + range.count <= total, "range inside the source");
    check(range.first > previous_end, "ranges sorted, disjoint and merged");
    previous_end = range.first + range.count;
    for (int64_t s = range.first; s < previous_end; ++s) check(failing.count(s) == 1, "only failing sectors unreadable");
  }

  // Every block of a pass that ran to the end is in one clip or counted as
  // empty.
  if (result.end == ScanEnd::complete && !truncated) {
    const int64_t start = result.signature_sector.value_or(0);
    const int64_t pass_blocks = (total - start + sources::kBlockSectors - 1) / sources::kBlockSectors;
    check(listed + result.zero_blocks == pass_blocks, "every block listed or counted empty");
  }
  return 0;
}
