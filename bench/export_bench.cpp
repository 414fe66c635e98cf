// MP4 export and preview against plain copying, from the page cache.
//
//   export_bench [--dir DIR] [--blocks N] [--repeat N] [--keep]
//
// Writes a recorder image in DIR (a temporary folder by default) holding one
// recording of N blocks (default 2048, 128 MiB) packed with video as densely
// as the recorder packs it, and reads it once so it sits in the page cache.
// Then, best of --repeat runs each:
//   copy      the recovered .264 copied to a new file (read and write)
//   recover   the clip recovered from the image as .264 (with its SHA-256)
//   mp4       the clip exported as MP4 from the image (with its SHA-256)
//   mp4-file  the same from the recovered .264
//   duration  the clip's frame count for the end time
// in MB/s of the clip's stream by wall and by CPU time (the machine may be
// shared), each with its ratio to the copy; and the wall time to
// open a preview (read up to the first picture and decode it) of a short clip,
// and of one whose parameter sets come from an earlier recording, as the
// median and the slowest of 20 openings. Builds natively and for Windows (run
// under Wine by scripts/bench export-wine).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/duration.h"
#include "export/mp4.h"
#include "export/preview.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/output_file.h"
#include "recover/recover.h"
#include "sources/block_source.h"

#ifdef _WIN32
#include <windows.h>

#include "base/utf8.h"
#else
#include <ctime>
#endif

namespace ig = clip::imagegen;
namespace video = clip::video;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// CPU time of the process, user and system: on a shared machine the wall
// time also counts the waits for a core.
double cpu_seconds() {
#ifdef _WIN32
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto value = [](const FILETIME& f) { return (uint64_t{f.dwHighDateTime} << 32 | f.dwLowDateTime) / 1e7; };
  return value(kernel) + value(user);
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
};

std::string text_of(const fs::path& p) {
  const auto u8 = p.u8string();
  return std::string(u8.begin(), u8.end());
}

// Best wall and CPU times of `repeat` runs of `work`, which cleans up after itself.
template <typename Work>
Timing best_of(int repeat, Work&& work) {
  Timing best;
  for (int i = 0; i < repeat; ++i) {
    const auto t = Clock::now();
    const double c = cpu_seconds();
    work();
    best.cpu = std::min(best.cpu, cpu_seconds() - c);
    best.wall = std::min(best.wall, seconds_since(t));
  }
  return best;
}

void remove_all_in(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
}

// Copies a file to a new one in 1 MiB pieces through the files recovery and
// export write, flushed to the disk as their files are.
uint64_t copy_file(const std::string& from, const std::string& to) {
  clip::recover::InputFile in;
  clip::recover::OutputFile out;
  if (!in.open(from)) throw std::runtime_error("cannot open " + from + ": " + in.last_error());
  if (out.create_new(to) != clip::recover::Create::created) throw std::runtime_error("cannot create " + to);
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t total = 0;
  for (;;) {
    const int64_t n = in.read(buffer.data(), buffer.size());
    if (n < 0) throw std::runtime_error("cannot read " + from);
    if (n == 0) break;
    if (!out.write(buffer.data(), static_cast<std::size_t>(n))) throw std::runtime_error("cannot write " + to);
    total += static_cast<uint64_t>(n);
  }
  if (!out.flush() || !out.close()) throw std::runtime_error("cannot close " + to);
  return total;
}

clip::scanner::ClipRow row_of(const ig::PlacedRecording& placed) {
  clip::scanner::ClipRow row;
  row.number = 1;
  row.name = ig::clip_name(placed.recording.channel, placed.recording.time);
  row.channel = std::to_string(placed.recording.channel);
  if (row.channel.size() < 2) row.channel.insert(row.channel.begin(), '0');
  row.start = "2026-05-20 08-15-07";
  row.first_sector = placed.block_sectors.front();
  row.blocks = static_cast<int64_t>(placed.block_sectors.size());
  for (int64_t s : placed.block_sectors) {
    if (!row.runs.empty() && row.runs.back().first_sector + row.runs.back().blocks * 128 == s) {
      ++row.runs.back().blocks;
    } else {
      row.runs.push_back({s, 1});
    }
  }
  return row;
}

struct Options {
  std::string dir;
  int blocks = 2048;
  int repeat = 3;
  bool keep = false;
};

int run(const Options& options) {
  fs::path dir = options.dir.empty() ? fs::temp_directory_path() / "clipsalvage-export-bench" : fs::u8path(options.dir);
  fs::create_directories(dir);
  const fs::path image = dir / "bench.img";
  const fs::path out = dir / "out";
  fs::create_directories(out);
  remove_all_in(out);

  // One long recording of channel 1, then two short ones of channel 2, the
  // second without parameter sets (its preview borrows them).
  ig::ImageSpec plan;
  plan.first_sector = 0;
  plan.video_per_block = ig::kMaxVideoPerBlock;
  plan.run = 1;
  ig::Recording long_one;
  long_one.channel = 1;
  long_one.time = {26, 5, 20, 8, 15, 7};
  long_one.blocks = options.blocks;
  ig::Recording short_one = long_one;
  short_one.channel = 2;
  short_one.blocks = 8;
  ig::Recording cut = short_one;
  cut.time[4] = 16;
  cut.parameter_sets = false;
  cut.first_picture = 5;
  plan.recordings = {long_one, short_one, cut};
  plan.sectors = int64_t{options.blocks + 16} * 128;
  std::vector<ig::PlacedRecording> placed;
  {
    ig::ImageFile file(text_of(image), plan.sectors);
    placed = ig::write_recordings(plan, file);
    file.close();
  }
  auto opened = clip::sources::open_block_source(text_of(image));
  if (!opened.source) throw std::runtime_error("cannot open " + text_of(image) + ": " + opened.error);
  auto& source = *opened.source;
  const auto long_row = row_of(placed[0]);
  const auto short_row = row_of(placed[1]);
  const auto cut_row = row_of(placed[2]);

  // Into the page cache, and the stream's size.
  const auto warm = clip::recover::recover_clip(source, long_row, text_of(out));
  if (!warm.ok) throw std::runtime_error("recovery failed: " + warm.error);
  const std::string h264 = warm.file.path;
  const double mb = static_cast<double>(warm.file.bytes) / 1e6;
  std::printf("clip: %d blocks, %.1f MB of stream, %s\n", options.blocks, mb,
              video::video_library_versions().c_str());

  const fs::path work = out / "work";
  fs::create_directories(work);
  const Timing copy = best_of(options.repeat, [&] {
    copy_file(h264, text_of(work / "copy.264"));
    remove_all_in(work);
  });
  const Timing recover = best_of(options.repeat, [&] {
    if (!clip::recover::recover_clip(source, long_row, text_of(work)).ok) throw std::runtime_error("recover failed");
    remove_all_in(work);
  });
  int64_t frames = 0;
  uint64_t mp4_bytes = 0;
  const Timing mp4 = best_of(options.repeat, [&] {
    const auto r = video::export_mp4(source, long_row, text_of(work));
    if (!r.ok) throw std::runtime_error("export failed: " + r.error);
    frames = r.frames;
    mp4_bytes = r.bytes;
    remove_all_in(work);
  });
  const Timing mp4_file = best_of(options.repeat, [&] {
    video::FileInput input(h264);
    const auto r = video::export_mp4(input, long_row, nullptr, text_of(work));
    if (!r.ok) throw std::runtime_error("export failed: " + r.error);
    remove_all_in(work);
  });
  const Timing duration = best_of(options.repeat, [&] {
    const auto d = video::clip_duration(source, long_row);
    if (!d.known || d.frames != frames) throw std::runtime_error("duration failed: " + d.error);
  });
  std::printf("%-9s %20s %28s\n", "", "wall", "CPU");
  auto line = [&](const char* what, const Timing& t) {
    std::printf("%-9s %7.3f s %7.1f MB/s x%.2f   %7.3f s %7.1f MB/s x%.2f\n", what, t.wall, mb / t.wall,
                copy.wall / t.wall, t.cpu, mb / t.cpu, copy.cpu / t.cpu);
  };
  line("copy", copy);
  line("recover", recover);
  line("mp4", mp4);
  line("mp4-file", mp4_file);
  line("duration", duration);
  std::printf("mp4: %lld frames, %.1f MB\n", static_cast<long long>(frames), static_cast<double>(mp4_bytes) / 1e6);

  for (const auto* row : {&short_row, &cut_row}) {
    std::vector<double> times;
    bool repaired = false;
    for (int i = 0; i < 20; ++i) {
      std::string error;
      const auto t = Clock::now();
      auto preview = video::Preview::open(source, *row, {}, error);
      times.push_back(seconds_since(t) * 1000);
      if (!preview) throw std::runtime_error("preview failed: " + error);
      repaired = preview->repaired();
    }
    std::sort(times.begin(), times.end());
    std::printf("preview%s: median %.1f ms, slowest %.1f ms (20 openings)\n", repaired ? " (repaired)" : "",
                times[times.size() / 2], times.back());
  }

  opened.source.reset();
  if (!options.keep) {
    fs::remove_all(out);
    fs::remove(image);
    if (options.dir.empty()) fs::remove_all(dir);
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(clip::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#endif
  Options options;
  try {
    for (std::size_t i = 0; i < args.size(); ++i) {
      auto value = [&] {
        if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
        return args[++i];
      };
      if (args[i] == "--dir") options.dir = value();
      else if (args[i] == "--blocks") options.blocks = std::stoi(value());
      else if (args[i] == "--repeat") options.repeat = std::stoi(value());
      else if (args[i] == "--keep") options.keep = true;
      else throw std::invalid_argument("unknown argument " + args[i]);
    }
    return run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "export_bench: %s\n", e.what());
    return 1;
  }
}
