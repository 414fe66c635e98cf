// The progress line on standard error. On a terminal one line is redrawn in
// place; on a pipe or file every update is a line of its own, less often.
// The percent and time left cover the whole job: the signature search and
// the indexing pass together, so they never go back when the pass starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "scanner/scanner.h"

namespace clip::cli {

class ProgressLine {
 public:
  ProgressLine(std::FILE* err, bool terminal);

  void pass(scanner::ScanPass pass, int64_t first, int64_t end);
  void scan_position(int64_t sector, int64_t total);
  // The scan reached the end: the last line shows 100 %.
  void scan_complete();
  void recovery(uint64_t done_bytes, uint64_t total_bytes, std::size_t clip, std::size_t clips);
  // Time spent retrying unreadable sectors, left out of the rate.
  void retry(double seconds) { retry_seconds_ += seconds; }
  // Ends a line drawn in place, before other output.
  void finish();

  // The job's sectors done and in all, as the percent counts them.
  int64_t job_done() const { return base_ + (last_sector_ >= 0 ? last_sector_ - pass_first_ : 0); }
  int64_t job_total() const { return job_total_; }

 private:
  using Clock = std::chrono::steady_clock;
  void draw(const std::string& what, double done, double total, double rate_bytes, bool force);
  double rate(double units) const;

  std::FILE* err_;
  bool terminal_;
  Clock::time_point started_, last_draw_;
  double retry_seconds_ = 0;
  bool drawn_ = false;
  std::size_t drawn_width_ = 0;

  // The scan.
  bool searching_ = false;
  int64_t search_first_ = 0;
  int64_t base_ = 0;        // sectors of the job before this pass
  int64_t pass_first_ = 0;  // first sector of this pass
  int64_t job_total_ = 0;
  int64_t last_sector_ = -1;
  int64_t advanced_ = 0;    // sectors read, for the rate
};

}  // namespace clip::cli
