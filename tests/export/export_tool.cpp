// export_tool: exports every clip of the sample recorder disk (made in
// memory by the image generator) as MP4 into FOLDER/plain, and those of the
// same disk with every recording after a channel's first one stripped of its
// parameter sets into FOLDER/cut, and prints what it made, one tab-separated
// line per clip. The native and the Windows builds of it are compared by
// tests/export/same_as_native.cmake (one run each: a Wine start is slow).
//
//   export_tool FOLDER
//
// First line: "library" and the video library versions; then per clip:
// "clip", the disk (plain or cut), clip name, MP4 file name, frames, duration
// in seconds, repaired (0/1), SHA-256.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "export/mp4.h"
#include "imagegen/image.h"
#include "scanner/scanner.h"
#include "sources/memory_source.h"

#ifdef _WIN32
#include "base/utf8.h"
#endif

namespace {

namespace ig = clip::imagegen;

struct Sink : ig::BlockSink {
  explicit Sink(clip::sources::MemorySource& s) : source(s) {}
  void put(int64_t sector, std::span<const uint8_t> bytes) override { source.write(sector * 512, bytes); }
  clip::sources::MemorySource& source;
};

std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Exports every clip of one disk into `folder`; the number of failures.
int export_disk(const char* disk, bool cut, const std::string& folder) {
  auto plan = ig::sample_spec();
  if (cut) ig::drop_parameter_sets(plan);
  clip::sources::MemorySource source(plan.sectors);
  Sink sink(source);
  ig::write_recordings(plan, sink);
  std::vector<clip::scanner::ClipRow> rows;
  clip::scanner::ScanCallbacks callbacks;
  callbacks.row = [&](const clip::scanner::ClipRow& row) { rows.push_back(row); };
  clip::scanner::scan(source, {}, callbacks);
  int failures = 0;
  for (const auto& row : rows) {
    const auto result = clip::video::export_mp4(source, row, folder);
    if (!result.ok) {
      std::fprintf(stderr, "export_tool: %s: %s\n", row.name.c_str(), result.error.c_str());
      ++failures;
      continue;
    }
    std::printf("clip\t%s\t%s\t%s\t%lld\t%.6f\t%d\t%s\n", disk, row.name.c_str(), file_name(result.path).c_str(),
                static_cast<long long>(result.frames), result.duration_s, result.repaired ? 1 : 0,
                result.sha256.c_str());
  }
  return failures;
}

int run(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: export_tool FOLDER\n");
    return 2;
  }
  std::printf("library\t%s\n", clip::video::video_library_versions().c_str());
  int failures = 0;
  for (const bool cut : {false, true}) {
    const char* disk = cut ? "cut" : "plain";
    const auto folder = std::filesystem::u8path(args[0]) / disk;
    std::filesystem::create_directories(folder);
    const auto text = folder.u8string();
    failures += export_disk(disk, cut, std::string(text.begin(), text.end()));
  }
  return failures == 0 ? 0 : 1;
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
  return run(args);
}
