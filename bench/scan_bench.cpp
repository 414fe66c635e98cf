// Scan throughput against plain reading, from the page cache.
//
//   scan_bench [--dir DIR] [--dense-mib N] [--repeat N] [--keep]
//
// Makes two images in DIR: one whose signature lies just after the search
// start with N MiB of recordings from there to the end (a marker in every
// stream block), and the same recordings without any header (no signature:
// the search reads to the end, then the pass reads the whole image). Each is
// read once to bring it into the page cache; then, in one run, a plain
// sequential read of exactly the sectors the scan reads and the scan itself
// are timed (best of --repeat runs; the plain read with each buffer size from
// 64 KiB to 4 MiB, the best size counting), and the ratio printed with the
// scan's CPU time. Peak memory is the process's maximum resident set.
//
//   scan_bench --bad-sectors
//
// times scans of an in-memory source with 10,000 and 100,000 scattered bad
// sectors and prints the time per bad sector of each.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "sources/memory_source.h"

namespace ig = clip::imagegen;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

long peak_rss_mib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

// Reads sectors [first, end) of `path` front to back in pieces of `piece`
// bytes.
uint64_t read_range(const std::string& path, int64_t first, int64_t end, std::size_t piece = 4 << 20) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  std::vector<uint8_t> buf(piece);
  uint64_t total = 0;
  off_t at = static_cast<off_t>(first * 512);
  const off_t stop = static_cast<off_t>(end * 512);
  while (at < stop) {
    std::size_t want = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(buf.size()), stop - at));
    ssize_t n = ::pread(fd, buf.data(), want, at);
    if (n <= 0) break;
    at += n;
    total += static_cast<uint64_t>(n);
  }
  ::close(fd);
  return total;
}

// The full scan of `path` as the CLI runs it; returns a line on what it found.
int chunk_blocks = clip::scanner::ScanOptions{}.chunk_blocks;
int depth = clip::scanner::ScanOptions{}.depth;

std::string scan_image(const std::string& path) {
  auto opened = clip::sources::open_block_source(path);
  if (!opened.source) throw std::runtime_error("cannot open " + path + ": " + opened.error);
  int64_t rows = 0;
  clip::scanner::ScanCallbacks callbacks;
  callbacks.progress = [](int64_t, int64_t) {};
  callbacks.stop_requested = [] { return false; };
  callbacks.row = [&](const clip::scanner::ClipRow&) { ++rows; };
  callbacks.log = [](const std::string&) {};
  callbacks.retry_time = [](double) {};
  clip::scanner::ScanOptions options;
  options.device_path = path;
  options.chunk_blocks = chunk_blocks;
  options.depth = depth;
  auto result = clip::scanner::scan(*opened.source, options, callbacks);
  if (result.end != clip::scanner::ScanEnd::complete) throw std::runtime_error("scan did not complete: " + result.message);
  return std::to_string(rows) + " rows, signature " +
         (result.signature_sector ? "at " + std::to_string(*result.signature_sector) : std::string("not found"));
}

struct Case {
  const char* title;
  std::string path;
  int64_t sectors;
  // The sector ranges the scan reads, in order.
  std::vector<std::pair<int64_t, int64_t>> reads;
};

double cpu_seconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void run_case(const Case& c, int repeats) {
  for (auto [first, end] : c.reads) read_range(c.path, first, end);  // into the page cache

  // The plain read's best buffer size, 64 KiB to 4 MiB, and the scan take
  // turns; the best of each counts, since other work on the machine only ever
  // adds time.
  const std::vector<std::size_t> pieces = {64 << 10, 128 << 10, 256 << 10, 512 << 10, 1 << 20, 2 << 20, 4 << 20};
  std::vector<double> read_s(pieces.size(), 1e30);
  std::vector<double> read_cpu(pieces.size(), 0);
  double scan_s = 1e30, scan_cpu = 0, scan_thread_cpu = 0;
  uint64_t bytes = 0;
  std::string found;
  for (int r = 0; r < repeats; ++r) {
    for (std::size_t p = 0; p < pieces.size(); ++p) {
      const double cpu0 = cpu_seconds(RUSAGE_SELF);
      auto t0 = Clock::now();
      bytes = 0;
      for (auto [first, end] : c.reads) bytes += read_range(c.path, first, end, pieces[p]);
      const double s = seconds_since(t0);
      if (s < read_s[p]) {
        read_s[p] = s;
        read_cpu[p] = cpu_seconds(RUSAGE_SELF) - cpu0;
      }
    }
    const double cpu0 = cpu_seconds(RUSAGE_SELF), thread0 = cpu_seconds(RUSAGE_THREAD);
    auto t1 = Clock::now();
    found = scan_image(c.path);
    const double s = seconds_since(t1);
    if (s < scan_s) {
      scan_s = s;
      scan_cpu = cpu_seconds(RUSAGE_SELF) - cpu0;
      scan_thread_cpu = cpu_seconds(RUSAGE_THREAD) - thread0;
    }
  }
  const std::size_t best = static_cast<std::size_t>(std::min_element(read_s.begin(), read_s.end()) - read_s.begin());

  std::printf("%s\n", c.title);
  std::printf("  image         %.2f GB (%lld sectors), scan reads %.2f GB\n", c.sectors * 512 / 1e9,
              static_cast<long long>(c.sectors), bytes / 1e9);
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    std::printf("  plain read    %7.3f s  %6.2f GB/s  buffer %4zu KiB  CPU %.3f s%s\n", read_s[p],
                bytes / 1e9 / read_s[p], pieces[p] >> 10, read_cpu[p], p == best ? "  <- best" : "");
  }
  std::printf("  scan          %7.3f s  %6.2f GB/s  (best of %d; %s)\n", scan_s, bytes / 1e9 / scan_s, repeats,
              found.c_str());
  std::printf("  scan CPU      %7.3f s  in all threads, %.3f s in the scanning thread\n", scan_cpu,
              scan_thread_cpu);
  std::printf("  scan / best plain read  %6.3f  %s; CPU %.3f\n", scan_s / read_s[best],
              scan_s <= 1.05 * read_s[best] ? "(within 1.05)" : "(OVER 1.05)", scan_cpu / read_cpu[best]);
  std::printf("  peak RSS      %ld MiB (whole process)\n", peak_rss_mib());
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, f)) std::printf("  load average  %s", line);
    std::fclose(f);
  }
}

// Scattered bad sectors through the failure-injecting in-memory source: one
// in every second block, at a random sector of it. Prints the scan's time per
// bad sector, less the time of the same source without them, for each count.
int bad_sector_bench(const std::vector<int64_t>& counts) {
  std::printf("scattered bad sectors (one in every second block), in-memory source\n");
  std::printf("  %10s %12s %12s %10s %14s\n", "bad", "sectors", "clean s", "scan s", "us / bad");
  double first_per_bad = 0;
  for (int64_t count : counts) {
    const int64_t sectors = count * 2 * 128;
    auto timed_scan = [&](bool with_bad) {
      clip::sources::MemorySource source(sectors);
      uint64_t random = 12345;
      if (with_bad) {
        for (int64_t n = 0; n < count; ++n) {
          random = random * 6364136223846793005ull + 1442695040888963407ull;
          source.fail_sector(n * 256 + static_cast<int64_t>(random >> 33) % 128);
        }
      }
      clip::scanner::ScanOptions options;
      options.search_start = sectors;  // the indexing pass alone
      int64_t ranges = 0;
      clip::scanner::ScanCallbacks callbacks;
      callbacks.unreadable = [&](const clip::scanner::SectorRange&) { ++ranges; };
      const auto t = Clock::now();
      const auto result = clip::scanner::scan(source, options, callbacks);
      const double s = seconds_since(t);
      if (result.end != clip::scanner::ScanEnd::complete || ranges != (with_bad ? count : 0) ||
          static_cast<int64_t>(result.unreadable.size()) != ranges) {
        throw std::runtime_error("bad-sector scan did not report every sector");
      }
      return s;
    };
    const double clean = timed_scan(false);
    const double bad = timed_scan(true);
    const double per_bad = (bad - clean) / static_cast<double>(count) * 1e6;
    if (first_per_bad == 0) first_per_bad = per_bad;
    std::printf("  %10lld %12lld %12.3f %10.3f %14.2f  (x%.2f of the first)\n", static_cast<long long>(count),
                static_cast<long long>(sectors), clean, bad, per_bad, per_bad / first_per_bad);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = fs::temp_directory_path() / "clipsalvage-bench";
  int64_t mib = 1600;
  bool keep = false;
  int repeats = 3;
  std::string only;  // "signature" or "no-signature": one case alone
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--dense-mib" && i + 1 < argc) mib = std::stoll(argv[++i]);
    else if (a == "--keep") keep = true;
    else if (a == "--repeat" && i + 1 < argc) repeats = std::max(1, std::stoi(argv[++i]));
    else if (a == "--bad-sectors") return bad_sector_bench({10000, 100000});
    else if (a == "--chunk-blocks" && i + 1 < argc) chunk_blocks = std::stoi(argv[++i]);
    else if (a == "--depth" && i + 1 < argc) depth = std::stoi(argv[++i]);
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else {
      std::fprintf(stderr, "usage: scan_bench [--dir DIR] [--dense-mib N] [--repeat N] [--keep] [--only signature|no-signature]\n"
                           "                  [--chunk-blocks N] [--depth N] | --bad-sectors\n");
      return 2;
    }
  }
  try {
    fs::create_directories(dir);
    std::vector<Case> cases;
    for (bool headers : {true, false}) {
      ig::ImageSpec plan = ig::dense_spec(mib, headers);
      std::string path = (dir / (headers ? "dense.img" : "no-signature.img")).string();
      if (!fs::exists(path) || static_cast<int64_t>(fs::file_size(path)) != plan.sectors * 512) {
        auto t = Clock::now();
        ig::ImageFile file(path, plan.sectors);
        ig::write_recordings(plan, file);
        file.close();
        std::printf("made %s in %.1f s\n", path.c_str(), seconds_since(t));
      }
      if (headers) {
        cases.push_back({"signature after the search start, dense recordings to the end", path, plan.sectors,
                         {{ig::kSearchStartSector, plan.sectors}}});
      } else {
        cases.push_back({"no signature: search to the end, then the pass from sector 0", path, plan.sectors,
                         {{ig::kSearchStartSector, plan.sectors}, {0, plan.sectors}}});
      }
    }
    std::printf("peak RSS after making the images: %ld MiB\n", peak_rss_mib());
    std::printf("read-ahead: chunks of %d blocks, %d in flight\n", chunk_blocks, depth);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      if (only.empty() || only == (i == 0 ? "signature" : "no-signature")) run_case(cases[i], repeats);
    }
    if (!keep) fs::remove_all(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scan_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
