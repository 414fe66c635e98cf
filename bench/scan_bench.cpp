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
// are timed (best of --repeat runs), and the ratio printed with the scan's
// CPU time. Peak memory is the process's maximum resident set.
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

// Reads sectors [first, end) of `path` front to back in 4 MiB pieces.
uint64_t read_range(const std::string& path, int64_t first, int64_t end) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  std::vector<uint8_t> buf(4 << 20);
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

  // Read and scan take turns; the best of each counts, since other work on
  // the machine only ever adds time.
  double read_s = 1e30, scan_s = 1e30, scan_cpu = 0, scan_thread_cpu = 0;
  uint64_t bytes = 0;
  std::string found;
  for (int r = 0; r < repeats; ++r) {
    auto t0 = Clock::now();
    bytes = 0;
    for (auto [first, end] : c.reads) bytes += read_range(c.path, first, end);
    read_s = std::min(read_s, seconds_since(t0));

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

  std::printf("%s\n", c.title);
  std::printf("  image         %.2f GB (%lld sectors), scan reads %.2f GB\n", c.sectors * 512 / 1e9,
              static_cast<long long>(c.sectors), bytes / 1e9);
  std::printf("  plain read    %7.3f s  %6.2f GB/s  (best of %d)\n", read_s, bytes / 1e9 / read_s, repeats);
  std::printf("  scan          %7.3f s  %6.2f GB/s  (best of %d; %s)\n", scan_s, bytes / 1e9 / scan_s, repeats,
              found.c_str());
  std::printf("  scan CPU      %7.3f s  in all threads, %.3f s in the scanning thread\n", scan_cpu,
              scan_thread_cpu);
  std::printf("  scan / read   %7.3f  %s\n", scan_s / read_s, scan_s <= 1.1 * read_s ? "(within 1.1)" : "(OVER 1.1)");
  std::printf("  peak RSS      %ld MiB (whole process)\n", peak_rss_mib());
  // Both timings depend on free cores: the scan reads on a worker thread
  // while the calling thread searches, the plain read needs one core.
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, f)) std::printf("  load average  %s", line);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = fs::temp_directory_path() / "clipsalvage-bench";
  int64_t mib = 1600;
  bool keep = false;
  int repeats = 3;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--dense-mib" && i + 1 < argc) mib = std::stoll(argv[++i]);
    else if (a == "--keep") keep = true;
    else if (a == "--repeat" && i + 1 < argc) repeats = std::max(1, std::stoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: scan_bench [--dir DIR] [--dense-mib N] [--repeat N] [--keep]\n");
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
    for (const Case& c : cases) run_case(c, repeats);
    if (!keep) fs::remove_all(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scan_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
