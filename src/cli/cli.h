// The clipsalvage command: scan a source and print its clips, or recover
// clips into a folder. Kept apart from main() so tests can run it whole.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "sources/block_source.h"

namespace clip::recover {
class VolumeMap;
}

namespace clip::cli {

struct Environment {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Ctrl-C. Asked on the calling thread only, every few milliseconds while
  // the scan or the recovery runs.
  std::function<bool()> stop;
  bool err_is_terminal = false;           // progress line without --progress
  recover::VolumeMap* volumes = nullptr;  // the system's when null
  // Opens the source; sources::open_block_source when not set.
  std::function<sources::OpenResult(const std::string& path)> open_source;
  // After a stop, how long the work may take to end before the report is
  // printed without it: a read the system can't give up must not hold the
  // report back.
  std::chrono::milliseconds stop_grace{600};
  // Set to true when run() returned while its work thread was still inside
  // such a read. The thread touches nothing of the caller's any more; the
  // caller ends the process without waiting for it.
  bool* work_left_running = nullptr;
};

inline constexpr int kExitComplete = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

// args without the program name.
int run(const std::vector<std::string>& args, const Environment& env);

}  // namespace clip::cli
