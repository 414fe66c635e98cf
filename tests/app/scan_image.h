// A recorder image of a few hundred MB for the window tests that compare what
// a scan shows: six channels taking turns three blocks at a time, recordings
// of varied lengths, some stream blocks with a damaged or missing marker, the
// signature a few blocks after the search start and the last block cut short.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "ui/wide.h"

namespace clip::test {

inline imagegen::ImageSpec varied_scan_spec() {
  imagegen::ImageSpec plan;
  plan.first_sector = imagegen::kSearchStartSector + 3 * imagegen::kBlockSectors + 130;
  plan.run = 3;
  int64_t blocks = 0;
  for (int n = 0; blocks < 4800; ++n) {
    imagegen::Recording r;
    r.channel = static_cast<uint8_t>(1 + n % 6);
    r.time = {26, 7, static_cast<uint8_t>(1 + n / 40), static_cast<uint8_t>(n / 6 % 24), static_cast<uint8_t>(n % 60),
              static_cast<uint8_t>(n * 7 % 60)};
    r.blocks = 8 + n * 37 % 97;
    if (n % 5 == 2) r.damaged[2] = imagegen::StreamBlockSpec{'x'};
    if (n % 7 == 3) r.damaged[3] = imagegen::StreamBlockSpec{'0', imagegen::MarkerPlace::none};
    blocks += r.blocks;
    plan.recordings.push_back(r);
  }
  plan.sectors = plan.first_sector + blocks * imagegen::kBlockSectors - 50;
  return plan;
}

// Writes the image under a temporary name of its own; empty on failure.
inline std::string write_varied_scan_image() {
  wchar_t dir[MAX_PATH], unique[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  if (!GetTempFileNameW(dir, L"scn", 0, unique)) return {};
  const std::string path = ui::narrow(unique);
  const imagegen::ImageSpec plan = varied_scan_spec();
  imagegen::ImageFile file(path, plan.sectors);
  imagegen::write_recordings(plan, file);
  file.close();
  return path;
}

}  // namespace clip::test
