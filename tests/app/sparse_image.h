// Disk images for the window tests, written at run time into the temporary
// folder under names of their own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "ui/wide.h"

namespace clip::test {

// A sparse recorder image: the signature sector (also the first header block)
// at sector 8,000,130, a second header of the same channel 17 blocks later,
// and one byte of data in every other block to the end (an all-zero block
// would join no clip).
inline std::string write_sparse_image(int64_t& sectors) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  // A name of its own: test programs may run side by side.
  wchar_t unique[MAX_PATH];
  if (!GetTempFileNameW(dir, L"img", 0, unique)) return {};
  const std::wstring path = unique;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  constexpr int64_t kFirst = 8000130;
  sectors = kFirst + 40 * 128;
  auto put = [&](int64_t sector, uint8_t channel) {
    uint8_t header[512] = {};
    memcpy(header + 80, "MDVR96NT_2_R", 12);
    const uint8_t time[6] = {12, 5, 20, 13, 45, 30};
    memcpy(header + 43, time, 6);
    header[468] = channel;
    LARGE_INTEGER at;
    at.QuadPart = sector * 512;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    DWORD written = 0;
    WriteFile(file, header, 512, &written, nullptr);
  };
  put(kFirst, 1);
  put(kFirst + 17 * 128, 1);
  for (int64_t block = 1; block < 40; ++block) {
    if (block == 17) continue;
    LARGE_INTEGER at;
    at.QuadPart = (kFirst + block * 128) * 512 + 100;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    const uint8_t data = 0x7f;
    DWORD written = 0;
    WriteFile(file, &data, 1, &written, nullptr);
  }
  LARGE_INTEGER end;
  end.QuadPart = sectors * 512;
  SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  CloseHandle(file);
  return ui::narrow(path);
}

}  // namespace clip::test
