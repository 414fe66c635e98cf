// What the command-line tests share: the bundled sample image in a folder
// of its own, and a run of the command with its output captured.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/temp_folder.h"

namespace clip::cli {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// The bundled sample image: nine clips of 12 to 40 blocks.
class SampleWorkspace {
 public:
  SampleWorkspace() {
    image_ = dir_.path() / "sample.img";
    const imagegen::ImageSpec plan = imagegen::sample_spec();
    imagegen::ImageFile file(image(), plan.sectors);
    imagegen::write_recordings(plan, file);
    file.close();
    sectors_ = plan.sectors;
  }
  std::string image() const { return TempFolder::utf8(image_); }
  std::string str(const std::string& name) const { return dir_.str(name); }
  const fs::path& dir() const { return dir_.path(); }
  int64_t sectors() const { return sectors_; }

 private:
  TempFolder dir_{"clipsalvage-cli-sample"};
  fs::path image_;
  int64_t sectors_ = 0;
};

struct Output {
  int status;
  std::string out, err;
  bool left_running = false;
};

std::string read_back(std::FILE* f) {
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
Output call(std::vector<std::string> args, Environment env = {}) {
  TempFolder capture("clipsalvage-cli-out");
  env.out = std::fopen(capture.str("out").c_str(), "w+b");
  env.err = std::fopen(capture.str("err").c_str(), "w+b");
  Output result{};
  env.work_left_running = &result.left_running;
  result.status = run(args, env);
  result.out = read_back(env.out);
  result.err = read_back(env.err);
  return result;
}

}  // namespace
}  // namespace clip::cli
