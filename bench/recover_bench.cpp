// Recovery throughput against what an examiner would do by hand.
//
//   recover_bench [--dir DIR] [--dense-mib N] [--repeat N] [--keep] [--cli PATH]
//
// Makes the dense image of scan_bench in DIR (the signature just after the
// search start, N MiB of recordings of four channels after it) and, once,
// the bytes of all its clips concatenated into one file, as dd would cut
// them out. Then, with everything in the page cache, it times in one run:
//
//   cp         cp of the concatenated file to a new file in DIR
//   sha256sum  sha256sum of that copy
//   recover    `clipsalvage recover IMAGE --out DIR/out --json` of every clip
//              (a scan, then every clip written, hashed and flushed to the
//              disk, each under its final name)
//   writer     the recovery alone, in this process (no scan)
//   cp + sync  the copy made durable, for comparison with recover's flushes
//
// Each is the best of --repeat runs; between runs the outputs are deleted
// and the file system synced, so no run pays for another's writes. The
// report gives the wall time, the CPU time, the ratio of recover against
// cp + sha256sum and the file system DIR is on: on a disk, recover's flushes
// wait for the disk, which cp never does.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
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
#include "recover/recover.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace ig = clip::imagegen;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Timing {
  double wall = 1e30;
  double cpu = 0;  // of the best run: user + system, children included
  void keep(double w, double c) {
    if (w < wall) {
      wall = w;
      cpu = c;
    }
  }
};

double cpu_seconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

// Runs a program with standard output and error to /dev/null; throws when
// it fails.
void run_program(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(argv[0] + " failed (status " + std::to_string(status) + ")");
  }
}

template <typename F>
std::pair<double, double> timed(F&& work) {
  const double cpu0 = cpu_seconds();
  const auto t0 = Clock::now();
  work();
  return {std::chrono::duration<double>(Clock::now() - t0).count(), cpu_seconds() - cpu0};
}

void sync_dir(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

void read_through(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buffer(4 << 20);
  while (::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  ::close(fd);
}

std::string fs_type(const fs::path& dir) {
  struct statfs s {};
  if (::statfs(dir.c_str(), &s) != 0) return "?";
  switch (static_cast<unsigned long>(s.f_type)) {
    case 0xEF53: return "ext4";
    case 0x01021994: return "tmpfs";
    case 0x9123683E: return "btrfs";
    case 0x58465342: return "xfs";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "type 0x%lx", static_cast<unsigned long>(s.f_type));
      return text;
    }
  }
}

std::vector<clip::scanner::ClipRow> scan_rows(const std::string& image) {
  auto opened = clip::sources::open_block_source(image);
  if (!opened.source) throw std::runtime_error(opened.error);
  std::vector<clip::scanner::ClipRow> rows;
  clip::scanner::ScanCallbacks cb;
  cb.row = [&](const clip::scanner::ClipRow& r) { rows.push_back(r); };
  const auto result = clip::scanner::scan(*opened.source, {}, cb);
  if (result.end != clip::scanner::ScanEnd::complete) throw std::runtime_error("scan did not complete");
  return rows;
}

// The clips' blocks in reading order, one clip after another, in one file.
uint64_t write_concatenation(const std::string& image, const std::vector<clip::scanner::ClipRow>& rows,
                             const fs::path& out) {
  const int in = ::open(image.c_str(), O_RDONLY);
  const int to = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || to < 0) throw std::runtime_error("cannot make " + out.string());
  std::vector<char> buffer(4 << 20);
  uint64_t total = 0;
  for (const auto& row : rows) {
    for (const auto& run : row.runs) {
      off_t at = run.first_sector * 512;
      std::size_t left = static_cast<std::size_t>(run.blocks) * 65536;
      while (left > 0) {
        const ssize_t n = ::pread(in, buffer.data(), std::min(left, buffer.size()), at);
        if (n <= 0) throw std::runtime_error("short image");
        if (::write(to, buffer.data(), static_cast<std::size_t>(n)) != n) throw std::runtime_error("write failed");
        at += n;
        left -= static_cast<std::size_t>(n);
        total += static_cast<uint64_t>(n);
      }
    }
  }
  ::close(in);
  ::close(to);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = fs::temp_directory_path() / ("clipsalvage-recover-bench-" + std::to_string(::getpid()));
  int64_t mib = 1600;
  int repeats = 3;
  bool keep = false;
  fs::path cli = fs::path(argv[0]).parent_path() / "clipsalvage";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--dense-mib" && i + 1 < argc) mib = std::stoll(argv[++i]);
    else if (a == "--repeat" && i + 1 < argc) repeats = std::max(1, std::stoi(argv[++i]));
    else if (a == "--cli" && i + 1 < argc) cli = argv[++i];
    else if (a == "--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: recover_bench [--dir DIR] [--dense-mib N] [--repeat N] [--keep] [--cli PATH]\n");
      return 2;
    }
  }
  try {
    fs::create_directories(dir);
    const ig::ImageSpec plan = ig::dense_spec(mib, true);
    const std::string image = (dir / "dense.img").string();
    if (!fs::exists(image) || static_cast<int64_t>(fs::file_size(image)) != plan.sectors * 512) {
      ig::ImageFile file(image, plan.sectors);
      ig::write_recordings(plan, file);
      file.close();
    }
    const auto rows = scan_rows(image);
    const fs::path concatenated = dir / "clips.bin";
    const uint64_t bytes = write_concatenation(image, rows, concatenated);
    read_through(concatenated);
    const fs::path copy = dir / "copy.bin";
    const fs::path out = dir / "out";
    sync_dir(dir);

    Timing cp, sha, recover, writer, cp_sync;
    for (int r = 0; r < repeats; ++r) {
      auto t = timed([&] { run_program({"cp", concatenated.string(), copy.string()}); });
      cp.keep(t.first, t.second);
      t = timed([&] { run_program({"sha256sum", copy.string()}); });
      sha.keep(t.first, t.second);
      fs::remove(copy);
      sync_dir(dir);

      t = timed([&] { run_program({cli.string(), "recover", image, "--out", out.string(), "--json"}); });
      recover.keep(t.first, t.second);
      if (static_cast<std::size_t>(std::distance(fs::directory_iterator(out), fs::directory_iterator())) !=
          rows.size()) {
        throw std::runtime_error("recover did not write every clip");
      }
      fs::remove_all(out);
      sync_dir(dir);

      fs::create_directories(out);
      t = timed([&] {
        auto opened = clip::sources::open_block_source(image);
        clip::recover::RecoverOptions options;
        options.defer_folder_sync = true;  // as the CLI does
        clip::recover::ClipWriter clips(*opened.source, options);
        int failed = 0;
        for (const auto& row : rows) {
          clips.recover_async(row, out.string(), [&](const clip::recover::RecoverResult& r) { failed += !r.ok; });
        }
        clips.wait();
        if (failed > 0 || !clips.sync_folders().empty()) throw std::runtime_error("recovery failed");
      });
      writer.keep(t.first, t.second);
      fs::remove_all(out);
      sync_dir(dir);

      t = timed([&] {
        run_program({"cp", concatenated.string(), copy.string()});
        sync_dir(dir);
      });
      cp_sync.keep(t.first, t.second);
      fs::remove(copy);
      sync_dir(dir);
    }

    const double pair = cp.wall + sha.wall;
    std::printf("recovery of every clip, %zu clips, %.2f GB, in %s on %s (best of %d)\n", rows.size(), bytes / 1e9,
                dir.c_str(), fs_type(dir).c_str(), repeats);
    auto line = [&](const char* what, const Timing& t) {
      std::printf("  %-22s %7.3f s  %6.2f GB/s   CPU %6.3f s\n", what, t.wall, bytes / 1e9 / t.wall, t.cpu);
    };
    line("cp", cp);
    line("sha256sum", sha);
    std::printf("  %-22s %7.3f s  %6.2f GB/s\n", "cp + sha256sum", pair, bytes / 1e9 / pair);
    line("clipsalvage recover", recover);
    line("recovery alone", writer);
    line("cp + sync", cp_sync);
    std::printf("  recover / (cp + sha256sum)   %6.3f  %s\n", recover.wall / pair,
                recover.wall <= pair ? "(within 1.0)" : "(OVER 1.0)");
    std::printf("  recover / (cp + sync + sha256sum)  %6.3f\n", recover.wall / (cp_sync.wall + sha.wall));
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
      char load[128] = {};
      if (std::fgets(load, sizeof load, f)) std::printf("  load average  %s", load);
      std::fclose(f);
    }
    if (!keep) fs::remove_all(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "recover_bench: %s\n", e.what());
    if (!keep) {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
    return 1;
  }
  return 0;
}
