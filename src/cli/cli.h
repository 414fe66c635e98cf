// The clipsalvage command: scan a source and print its clips, or recover
// clips into a folder. Kept apart from main() so tests can run it whole.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace clip::recover {
class VolumeMap;
}

namespace clip::cli {

struct Environment {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::function<bool()> stop;      // Ctrl-C
  bool err_is_terminal = false;    // progress line without --progress
  recover::VolumeMap* volumes = nullptr;  // the system's when null
};

inline constexpr int kExitComplete = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

// args without the program name.
int run(const std::vector<std::string>& args, const Environment& env);

}  // namespace clip::cli
