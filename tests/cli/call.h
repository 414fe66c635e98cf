// Runs the command-line tool in-process, its output captured.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "recover/temp_folder.h"

namespace clip::cli::testing {

struct Output {
  int status;
  std::string out, err;
  bool left_running = false;
};

inline std::string read_back(std::FILE* f) {
  std::string s;
  std::fflush(f);
  std::rewind(f);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  std::fclose(f);
  return s;
}

// Runs the command with its output captured in files of a folder of its own.
inline Output call(std::vector<std::string> args, Environment env = {}) {
  clip::testing::TempFolder capture("clipsalvage-cli-out");
  env.out = std::fopen(capture.str("out").c_str(), "w+b");
  env.err = std::fopen(capture.str("err").c_str(), "w+b");
  Output result{};
  env.work_left_running = &result.left_running;
  result.status = run(args, env);
  result.out = read_back(env.out);
  result.err = read_back(env.err);
  return result;
}

}  // namespace clip::cli::testing
