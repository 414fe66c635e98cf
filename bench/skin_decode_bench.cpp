// Time to unpack a skin: decompressing a skin stream of about 100 KiB
// unpacked (26 bitmaps, 24-bit and so made shorter to keep that size, and a
// description) and reading its archive. The plain copy of the same bytes is
// the baseline of the run; packing the same archive is timed too.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "skin/data/archive.h"
#include "skin/data/skin_loader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A 24-bit BMP with a vertical gradient, a lighter frame edge and magenta
// corners, the way skin bitmaps look.
Bytes skin_bitmap(int w, int h, int seed) {
  const int stride = (w * 3 + 3) & ~3;
  Bytes b(54 + static_cast<std::size_t>(stride * h), 0);
  b[0] = 'B';
  b[1] = 'M';
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = &b[54 + static_cast<std::size_t>(y * stride + x * 3)];
      const bool corner = (x < 3 || x >= w - 3) && (y < 3 || y >= h - 3);
      const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
      const int shade = 90 + (y * 100) / h + seed * 7;
      p[0] = corner ? 0xFF : static_cast<std::uint8_t>(edge ? 230 : shade + 40);
      p[1] = corner ? 0x00 : static_cast<std::uint8_t>(edge ? 230 : shade + 10);
      p[2] = corner ? 0xFF : static_cast<std::uint8_t>(edge ? 230 : shade);
    }
  return b;
}

const Bytes& skin_stream() {
  static const Bytes stream = [] {
    std::vector<clip::skin::ArchiveEntry> entries;
    const int sizes[][2] = {{265, 46}, {318, 8}, {8, 284}, {8, 284}, {160, 42}, {125, 23}, {56, 14},
                            {56, 14},  {100, 13}, {50, 25}, {20, 18}, {65, 21}, {72, 21}, {40, 9},
                            {92, 16},  {124, 16}, {32, 124}, {93, 16}, {24, 124}, {50, 15}, {125, 23},
                            {102, 17}, {102, 17}, {102, 17}, {102, 17}, {90, 15}};
    int i = 0;
    for (const auto& s : sizes) entries.push_back({"entry" + std::to_string(i) + ".bmp", skin_bitmap(s[0], s[1] * 3 / 5, i)}), ++i;
    std::string ini;
    for (int k = 0; k < 60; ++k) ini += "[Section" + std::to_string(k) + "]\r\nBitmap=entry" + std::to_string(k % 26) + ".bmp\r\nFrameCount=3\r\n";
    entries.push_back({"skin.ini", Bytes(ini.begin(), ini.end())});
    return clip::skin::pack_skin_stream(entries).value();
  }();
  return stream;
}

std::uint32_t unpacked_size() {
  const Bytes& s = skin_stream();
  return s[0] | s[1] << 8 | s[2] << 16 | std::uint32_t{s[3]} << 24;
}

void BM_SkinOpenArchive(benchmark::State& state) {
  const Bytes& stream = skin_stream();
  for (auto _ : state) {
    clip::skin::TSkinReader reader;
    auto status = reader.OpenArchive(stream);
    if (!status) state.SkipWithError("archive rejected");
    benchmark::DoNotOptimize(reader.FindEntryContaining(".ini"));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * unpacked_size());
  state.counters["unpacked"] = unpacked_size();
  state.counters["packed"] = static_cast<double>(stream.size());
}
BENCHMARK(BM_SkinOpenArchive)->Unit(benchmark::kMillisecond);

void BM_CopyBaseline(benchmark::State& state) {
  const Bytes source(unpacked_size(), 0x5A);
  for (auto _ : state) {
    Bytes copy(source.size());
    std::memcpy(copy.data(), source.data(), source.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * unpacked_size());
}
BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);

void BM_SkinEncode(benchmark::State& state) {
  const auto archive = clip::skin::lzh_decode(skin_stream()).value();
  for (auto _ : state) benchmark::DoNotOptimize(clip::skin::lzh_encode(archive));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * unpacked_size());
}
BENCHMARK(BM_SkinEncode)->Unit(benchmark::kMillisecond);


// Our own committed skin, the one the program carries: unpack it, read the
// archive and its description, load the bitmaps and build every element.
void BM_LoadOurSkin(benchmark::State& state) {
  std::ifstream in(std::string(CLIPSALVAGE_ASSETS_DIR) + "/clipsalvage.skin", std::ios::binary);
  const Bytes stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (stream.size() < 4) {
    state.SkipWithError("assets/clipsalvage.skin is missing");
    return;
  }
  for (auto _ : state) {
    auto elements = clip::skin::load_skin_stream(stream);
    if (!elements) {
      state.SkipWithError("our skin was rejected");
      return;
    }
    benchmark::DoNotOptimize(elements);
  }
}
BENCHMARK(BM_LoadOurSkin)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
