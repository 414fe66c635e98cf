// Test material for the export: recorder disks in memory made by the image
// generator, folders of their own, and H.264 streams taken apart or rewritten
// bit by bit, independently of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "export/h264.h"
#include "export/stream_input.h"
#include "imagegen/image.h"
#include "scanner/scanner.h"
#include "sources/memory_source.h"

namespace clip::video::test {

namespace fs = std::filesystem;

// A new folder under the temporary directory, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& suffix = "") {
    static std::atomic<unsigned> counter{0};
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    for (unsigned attempt = 0;; ++attempt) {
      path_ = fs::temp_directory_path() / fs::u8path("clipsalvage-export-" + std::to_string(tick) + "-" +
                                                     std::to_string(counter++) + suffix);
      std::error_code ec;
      if (fs::create_directory(path_, ec)) break;
      if (attempt > 100) throw std::runtime_error("no temporary folder");
    }
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  std::string str() const {
    const auto text = path_.u8string();
    return std::string(text.begin(), text.end());
  }

  // Names in the folder, sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(path_)) {
      const auto text = entry.path().filename().u8string();
      out.emplace_back(text.begin(), text.end());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

inline std::vector<uint8_t> slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline fs::path path_of(const std::string& utf8) { return fs::u8path(utf8); }
inline std::string text_of(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A generated recorder disk in memory, scanned.
struct Disk {
  std::unique_ptr<sources::MemorySource> source;
  std::vector<imagegen::PlacedRecording> placed;
  std::vector<scanner::ClipRow> rows;  // in the order the scan lists them

  // The row of the clip that starts at the recording's first block.
  const scanner::ClipRow& row_of(const imagegen::PlacedRecording& recording) const {
    for (const auto& row : rows) {
      if (row.first_sector == recording.block_sectors.front()) return row;
    }
    throw std::runtime_error("recording not listed");
  }
};

struct MemorySink : imagegen::BlockSink {
  explicit MemorySink(sources::MemorySource& s) : source(s) {}
  void put(int64_t sector, std::span<const uint8_t> bytes) override { source.write(sector * 512, bytes); }
  sources::MemorySource& source;
};

inline Disk make_disk(const imagegen::ImageSpec& plan) {
  Disk disk;
  disk.source = std::make_unique<sources::MemorySource>(plan.sectors);
  MemorySink sink(*disk.source);
  disk.placed = imagegen::write_recordings(plan, sink);
  scanner::ScanCallbacks callbacks;
  callbacks.row = [&](const scanner::ClipRow& row) { disk.rows.push_back(row); };
  scanner::scan(*disk.source, {}, callbacks);
  return disk;
}

// The bytes a recovered .264 of the clip holds.
inline std::vector<uint8_t> clip_bytes(sources::BlockSource& source, const scanner::ClipRow& row) {
  SourceClipInput input(source, row);
  std::vector<uint8_t> all(static_cast<std::size_t>(input.size()));
  const auto got = input.read(all.data(), all.size());
  all.resize(got.bytes);
  return all;
}

// Pictures of a stream whose pictures are one slice each: slice units
// (types 1 and 5) whose first_mb_in_slice is 0, which is a first bit of 1.
struct PictureCount {
  int total = 0;
  int before_idr = 0;  // pictures before the first IDR picture
};
inline PictureCount count_pictures(std::span<const uint8_t> s) {
  PictureCount count;
  bool seen_idr = false;
  for (std::size_t i = 0; i + 4 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const int type = s[i + 3] & 0x1F;
    if ((type == 1 || type == 5) && (s[i + 4] & 0x80) != 0) {
      ++count.total;
      if (type == 5) seen_idr = true;
      if (!seen_idr) ++count.before_idr;
    }
  }
  return count;
}

// Writes bits most significant first, and Exp-Golomb codes.
class BitWriter {
 public:
  void bits(uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) bit((value >> i) & 1);
  }
  void ue(uint32_t v) {
    const uint64_t x = uint64_t{v} + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    bits(0, len);
    bits(x, len + 1);
  }
  void se(int32_t v) { ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * int64_t{v})); }
  // rbsp_stop_one_bit and alignment zeros.
  void trailing() {
    bit(1);
    while (used_ != 0) bit(0);
  }
  // The unit with emulation-prevention bytes inserted.
  std::vector<uint8_t> escaped() const {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : bytes_) {
      if (zeros >= 2 && b <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  void bit(uint64_t b) {
    if (used_ == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
    used_ = (used_ + 1) % 8;
  }
  std::vector<uint8_t> bytes_;
  int used_ = 0;
};

// The stream with every SPS cut right before its VUI: the timing information
// goes, nothing the slices depend on changes. `vui_bit` is the position of
// vui_parameters_present_flag in the unescaped SPS (as parse_sps reports it).
inline std::vector<uint8_t> without_timing(std::span<const uint8_t> stream, std::size_t vui_bit) {
  std::vector<uint8_t> out;
  std::size_t i = 0;
  while (i < stream.size()) {
    const bool start = i + 3 < stream.size() && stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1;
    if (!start || (stream[i + 3] & 0x1F) != 7) {
      out.push_back(stream[i++]);
      continue;
    }
    std::size_t end = i + 3;
    while (end + 2 < stream.size() && !(stream[end] == 0 && stream[end + 1] == 0 && stream[end + 2] <= 1)) ++end;
    if (end + 2 >= stream.size()) end = stream.size();
    const auto rbsp = unescape(stream.subspan(i + 3, end - i - 3));
    BitWriter w;
    for (std::size_t b = 0; b < vui_bit; ++b) w.bits((rbsp[b / 8] >> (7 - b % 8)) & 1, 1);
    w.bits(0, 1);  // vui_parameters_present_flag
    w.trailing();
    out.insert(out.end(), {0, 0, 1});
    const auto unit = w.escaped();
    out.insert(out.end(), unit.begin(), unit.end());
    i = end;
  }
  return out;
}

// A stream input that hands out at most `piece` bytes a read, so that units
// and start codes straddle the reads.
class TrickleInput final : public StreamInput {
 public:
  TrickleInput(std::span<const uint8_t> bytes, std::size_t piece) : inner_(bytes), piece_(piece) {}
  InputRead read(uint8_t* into, std::size_t size) override { return inner_.read(into, std::min(size, piece_)); }
  void rewind() override { inner_.rewind(); }
  uint64_t size() const override { return inner_.size(); }
  std::string error() const override { return {}; }

 private:
  MemoryInput inner_;
  std::size_t piece_;
};

}  // namespace clip::video::test
