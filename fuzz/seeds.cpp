// Writes the seed corpora of the fuzz targets: skin-like samples (INI text,
// bitmaps, noise, runs), their encoded streams and archives made by our
// writer, one folder per target under the given directory.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "skin/data/archive.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

void save(const fs::path& dir, const std::string& name, const Bytes& data) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes bmp(int w, int h, std::uint8_t shade) {
  const int stride = (w * 3 + 3) & ~3;
  const std::uint32_t size = 54u + static_cast<std::uint32_t>(stride * h);
  Bytes b(size, 0);
  auto put = [&](std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(w), 4);
  put(22, static_cast<std::uint32_t>(h), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t at = 54u + static_cast<std::size_t>(y * stride + x * 3);
      const bool key = x < 2 && y < 2;
      b[at] = key ? 0xFF : static_cast<std::uint8_t>(shade + x);
      b[at + 1] = key ? 0x00 : static_cast<std::uint8_t>(shade + y);
      b[at + 2] = key ? 0xFF : shade;
    }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seeds DIR\n";
    return 2;
  }
  const fs::path root = argv[1];
  const std::string ini_text =
      "[Colours]\r\nButtonFace=212,208,200\r\n\r\n[Title]\r\nBitmap=top.bmp\r\nFrameCount=2\r\nTrans=1\r\n";
  std::mt19937 gen(1);
  Bytes noise(600);
  for (auto& c : noise) c = static_cast<std::uint8_t>(gen());
  const std::vector<std::pair<std::string, Bytes>> samples = {
      {"empty", {}},
      {"ini", Bytes(ini_text.begin(), ini_text.end())},
      {"bitmap", bmp(24, 8, 0x40)},
      {"noise", noise},
      {"run", Bytes(300, 'A')},
  };
  const std::vector<clip::skin::ArchiveEntry> entries = {
      {"top.bmp", bmp(16, 6, 0x20)}, {"skin.ini", Bytes(ini_text.begin(), ini_text.end())},
      {"min.bmp", bmp(6, 4, 0x80)},  {"min.bmp", bmp(3, 3, 0x90)},
      {"empty.bmp", {}},
  };
  const auto archive = clip::skin::write_archive(entries).value();
  const auto small = clip::skin::write_archive(std::vector<clip::skin::ArchiveEntry>{{"a.ini", {'x'}}}).value();
  for (const auto& [name, data] : samples) {
    save(root / "lzh_roundtrip", name, data);
    save(root / "lzh_decode", name + ".lzh", clip::skin::lzh_encode(data).value());
  }
  save(root / "lzh_decode", "archive.lzh", clip::skin::lzh_encode(archive).value());
  save(root / "lzh_roundtrip", "archive", archive);
  save(root / "skin_archive", "archive", archive);
  save(root / "skin_archive", "small", small);
  save(root / "skin_archive", "none", clip::skin::write_archive({}).value());
  save(root / "ini", "ini", Bytes(ini_text.begin(), ini_text.end()));
  save(root / "bmp", "bitmap", bmp(24, 8, 0x40));
  return 0;
}
