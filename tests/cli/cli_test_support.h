// What the command-line tests share: the bundled sample image in a folder
// of its own, and a run of the command with its output captured.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/call.h"
#include "cli/cli.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/temp_folder.h"

namespace clip::cli {
namespace {

namespace fs = std::filesystem;
using clip::testing::TempFolder;

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

using testing::call;
using testing::Output;
using testing::read_back;

}  // namespace
}  // namespace clip::cli
