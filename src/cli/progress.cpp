#include "cli/progress.h"

#include <algorithm>

#include "cli/text.h"

namespace clip::cli {

ProgressLine::ProgressLine(std::FILE* err, bool terminal)
    : err_(err), terminal_(terminal), started_(Clock::now()), last_draw_(started_ - std::chrono::hours(1)) {}

void ProgressLine::pass(scanner::ScanPass pass, int64_t first, int64_t end) {
  if (pass == scanner::ScanPass::search) {
    // Until the search ends, the pass may still have to read the whole
    // source from sector 0: the total counts that, so the percent can only
    // jump forward when the signature is found.
    searching_ = true;
    search_first_ = first;
    base_ = 0;
    job_total_ = (end - first) + end;
  } else {
    if (searching_) {
      // The search read up to the signature, or to the end without one.
      base_ = first > search_first_ ? first - search_first_ : job_total_ - end;
    } else {
      base_ = 0;
    }
    searching_ = false;
    job_total_ = base_ + (end - first);
  }
  pass_first_ = first;
  last_sector_ = -1;
}

double ProgressLine::rate(double units) const {
  const double seconds = std::chrono::duration<double>(Clock::now() - started_).count() - retry_seconds_;
  return seconds > 0 ? units / seconds : 0;
}

void ProgressLine::scan_position(int64_t sector, int64_t total) {
  if (job_total_ == 0) {
    // No pass announced: the sectors of the source are the job.
    job_total_ = total;
    pass_first_ = 0;
  }
  if (last_sector_ >= 0 && sector > last_sector_) advanced_ += sector - last_sector_;
  last_sector_ = std::max(sector, pass_first_);
  const double done = static_cast<double>(job_done());
  draw("扫描 扇区 " + std::to_string(sector) + "/" + std::to_string(total), done, static_cast<double>(job_total_),
       rate(static_cast<double>(advanced_) * 512), false);
}

void ProgressLine::scan_complete() {
  if (job_total_ == 0) return;
  last_sector_ = pass_first_ + (job_total_ - base_);
  const double total = static_cast<double>(job_total_);
  draw("扫描完成", total, total, rate(static_cast<double>(advanced_) * 512), true);
}

void ProgressLine::recovery(uint64_t done_bytes, uint64_t total_bytes, std::size_t clip, std::size_t clips) {
  draw("恢复 片段 " + std::to_string(clip + 1) + "/" + std::to_string(clips), static_cast<double>(done_bytes),
       static_cast<double>(total_bytes), rate(static_cast<double>(done_bytes)), done_bytes >= total_bytes);
}

void ProgressLine::draw(const std::string& what, double done, double total, double rate_bytes, bool force) {
  const auto now = Clock::now();
  const auto every = terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000);
  if (!force && now - last_draw_ < every) return;
  last_draw_ = now;
  const double percent = total > 0 ? std::min(100.0, 100.0 * done / total) : 0;
  // Time left from the rate of the part done so far, in the job's units.
  const double elapsed = std::chrono::duration<double>(now - started_).count() - retry_seconds_;
  const double left = done > 0 && elapsed > 0 ? (total - done) * elapsed / done : 0;
  const long long l = static_cast<long long>(std::max(0.0, left));
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "  %5.1f%%  %7.1f MB/s  剩余 %02lld:%02lld:%02lld", percent, rate_bytes / 1e6,
                l / 3600, l / 60 % 60, l % 60);
  std::string line = what + numbers;
  if (terminal_) {
    const std::size_t width = static_cast<std::size_t>(display_width(line));
    if (width < drawn_width_) line += std::string(drawn_width_ - width, ' ');
    drawn_width_ = width;
    std::fprintf(err_, "\r%s", line.c_str());
    drawn_ = true;
  } else {
    std::fprintf(err_, "%s\n", line.c_str());
  }
  std::fflush(err_);
}

void ProgressLine::finish() {
  if (drawn_) std::fputs("\n", err_);
  drawn_ = false;
  drawn_width_ = 0;
}

}  // namespace clip::cli
