// Evidence files made at test time by ewfacquire from generated images: read
// back as the image was, from one or more segments, and damaged ones refused
// or reported instead of read as data.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::sources {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ewf-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    if (::pclose(p) != 0) out = "FAILED: " + out;
  }
  return out;
}

bool have_ewfacquire() { return std::system("command -v ewfacquire >/dev/null 2>&1") == 0; }

// Makes TARGET.E01 (and further segments when the image is bigger than
// `segment_bytes`) from `image`, with MD5 and SHA-1 stored.
void acquire(const fs::path& image, const fs::path& target, uint64_t segment_bytes) {
  const std::string out = run("ewfacquire -u -q -d sha1 -c deflate:fast -S " + std::to_string(segment_bytes) +
                              " -t '" + target.string() + "' '" + image.string() + "' </dev/null");
  ASSERT_EQ(out.find("FAILED"), std::string::npos) << out;
}

std::string hash_of(const char* tool, const fs::path& file) {
  const std::string out = run(std::string(tool) + " '" + file.string() + "'");
  return out.substr(0, out.find(' '));
}

std::vector<uint8_t> file_bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Random bytes, 3 MiB and a bit: more than two segments of 1 MiB (the
// smallest ewfacquire writes), and not a whole number of chunks.
fs::path random_image(const fs::path& dir) {
  std::vector<uint8_t> bytes(3 * 1024 * 1024 + 77 * 512);
  std::mt19937 random(19);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  const fs::path path = dir / "random.img";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  return path;
}

class EwfSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_ewfacquire()) GTEST_SKIP() << "ewfacquire (ewf-tools) is not installed";
  }
  TempDir dir;
};

TEST_F(EwfSourceTest, SegmentedFileReadsAsTheImageWithItsHashes) {
  const fs::path image = random_image(dir.path);
  acquire(image, dir.path / "evidence", 1 << 20);
  ASSERT_TRUE(fs::exists(dir.path / "evidence.E03"));

  auto opened = open_block_source((dir.path / "evidence.E01").string());
  ASSERT_TRUE(opened.source) << opened.error;
  const auto want = file_bytes(image);
  EXPECT_EQ(opened.source->sector_count(), static_cast<int64_t>(want.size()) / 512);

  const auto details = ewf_details(*opened.source);
  ASSERT_TRUE(details);
  std::size_t segment_files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path)) {
    segment_files += entry.path().filename().string().rfind("evidence.E", 0) == 0;
  }
  EXPECT_GE(segment_files, 3u);
  EXPECT_EQ(details->segments.size(), segment_files);
  EXPECT_EQ(details->hashes.md5, hash_of("md5sum", image));
  EXPECT_EQ(details->hashes.sha1, hash_of("sha1sum", image));
  EXPECT_EQ(details->media_bytes, want.size());

  // Two threads read overlapping ranges across the segment boundaries at the
  // same time, in pieces that don't line up with the chunks.
  auto reader = [&](int64_t step, bool& same) {
    std::vector<uint8_t> buf(static_cast<std::size_t>(step) * 512);
    same = true;
    const int64_t total = opened.source->sector_count();
    for (int64_t s = 0; s < total; s += step) {
      const int64_t n = std::min(step, total - s);
      const auto got = opened.source->read_sectors(s, n, buf.data());
      if (!got.ok() || got.bytes != static_cast<std::size_t>(n * 512) ||
          std::memcmp(buf.data(), want.data() + s * 512, got.bytes) != 0) {
        same = false;
        return;
      }
    }
  };
  bool same_a = false, same_b = false;
  std::thread a(reader, 77, std::ref(same_a));
  std::thread b(reader, 128, std::ref(same_b));
  a.join();
  b.join();
  EXPECT_TRUE(same_a);
  EXPECT_TRUE(same_b);

  // Past the media: nothing, and no error.
  uint8_t sector[512];
  const auto past = opened.source->read_sectors(opened.source->sector_count(), 1, sector);
  EXPECT_TRUE(past.ok());
  EXPECT_EQ(past.bytes, 0u);

  opened.source->cancel();
  EXPECT_EQ(opened.source->read_sectors(0, 1, sector).error, ReadError::cancelled);
  EXPECT_FALSE(ewf_details(*open_block_source(image.string()).source));
}

TEST_F(EwfSourceTest, DamagedChunkIsUnreadableAndTheRestReads) {
  const fs::path image = random_image(dir.path);
  acquire(image, dir.path / "evidence", 1 << 20);
  // Overwrite bytes in the middle of the second segment's chunk data.
  {
    std::fstream f(dir.path / "evidence.E02", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(500000);
    f.write("damaged!", 8);
  }
  auto opened = open_block_source((dir.path / "evidence.E01").string());
  ASSERT_TRUE(opened.source) << opened.error;
  const auto want = file_bytes(image);

  // Sector by sector: every sector either reads as the image has it, or
  // fails as a media error with no bytes; the failing ones form one chunk.
  std::vector<int64_t> bad;
  uint8_t sector[512];
  for (int64_t s = 0; s < opened.source->sector_count(); ++s) {
    const auto got = opened.source->read_sectors(s, 1, sector);
    if (got.ok()) {
      ASSERT_EQ(got.bytes, 512u);
      ASSERT_EQ(std::memcmp(sector, want.data() + s * 512, 512), 0) << "sector " << s;
    } else {
      ASSERT_EQ(got.error, ReadError::media);
      ASSERT_EQ(got.bytes, 0u);
      bad.push_back(s);
    }
  }
  ASSERT_EQ(bad.size(), 64u);  // one chunk of ewfacquire's default 64 sectors
  EXPECT_EQ(bad.back() - bad.front(), 63);

  // A long read over the chunk stops at its first sector with what came before.
  std::vector<uint8_t> buf(static_cast<std::size_t>(bad.front() + 10) * 512);
  const auto got = opened.source->read_sectors(0, bad.front() + 10, buf.data());
  EXPECT_EQ(got.error, ReadError::media);
  EXPECT_EQ(got.bytes, static_cast<std::size_t>(bad.front()) * 512);
}

TEST_F(EwfSourceTest, IncompleteOrBrokenSetsAreRefusedWithAReason) {
  const fs::path image = random_image(dir.path);
  acquire(image, dir.path / "evidence", 1 << 20);
  const std::string first = (dir.path / "evidence.E01").string();

  fs::rename(dir.path / "evidence.E02", dir.path / "moved");
  auto missing = open_block_source(first);
  EXPECT_FALSE(missing.source);
  EXPECT_NE(missing.error.find("分段文件不完整"), std::string::npos) << missing.error;
  fs::rename(dir.path / "moved", dir.path / "evidence.E02");

  const auto size = fs::file_size(dir.path / "evidence.E03");
  fs::resize_file(dir.path / "evidence.E03", size / 2);
  auto cut = open_block_source(first);
  EXPECT_FALSE(cut.source);
  EXPECT_NE(cut.error.find("分段文件不完整"), std::string::npos) << cut.error;

  // Not an evidence file at all, though named like one.
  {
    std::fstream f(first, std::ios::in | std::ios::out | std::ios::binary);
    f.write("\0\0\0\0\0\0\0\0", 8);
  }
  auto broken = open_block_source(first);
  EXPECT_FALSE(broken.source);
  EXPECT_NE(broken.error.find("无法打开 E01 证据文件"), std::string::npos) << broken.error;

  auto absent = open_block_source((dir.path / "none.E01").string());
  EXPECT_FALSE(absent.source);
  EXPECT_FALSE(absent.error.empty());
}

// A recorder image and its evidence file give the same clips, in one
// segment and in several, lower-case extension too.
TEST_F(EwfSourceTest, ScanOfEvidenceFileFindsTheImagesClips) {
  imagegen::ImageSpec plan;
  plan.sectors = 24 * 1024;  // 12 MiB: below the search start, so the walk starts at sector 0
  for (uint8_t c = 1; c <= 3; ++c) {
    for (int k = 0; k < 2; ++k) {
      imagegen::Recording r;
      r.channel = c;
      r.time = {21, 3, 4, 10, static_cast<uint8_t>(c * 5 + k), 0};
      r.blocks = 9 + c;
      plan.recordings.push_back(r);
    }
  }
  const fs::path image = dir.path / "recorder.img";
  {
    imagegen::ImageFile file(image.string(), plan.sectors);
    imagegen::write_recordings(plan, file);
    file.close();
  }
  acquire(image, dir.path / "one", 64 << 20);
  acquire(image, dir.path / "many", 1 << 20);
  fs::rename(dir.path / "many.E01", dir.path / "many.e01");

  auto clips = [](const std::string& path) {
    std::vector<scanner::ClipRow> rows;
    auto opened = open_block_source(path);
    EXPECT_TRUE(opened.source) << opened.error;
    if (!opened.source) return rows;
    scanner::ScanCallbacks cb;
    cb.row = [&](const scanner::ClipRow& r) { rows.push_back(r); };
    const auto result = scanner::scan(*opened.source, {}, cb);
    EXPECT_EQ(result.end, scanner::ScanEnd::complete);
    EXPECT_TRUE(result.unreadable.empty());
    return rows;
  };
  const auto raw = clips(image.string());
  ASSERT_EQ(raw.size(), plan.recordings.size());
  for (const char* name : {"one.E01", "many.e01"}) {
    const auto ewf = clips((dir.path / name).string());
    ASSERT_EQ(ewf.size(), raw.size()) << name;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      EXPECT_EQ(ewf[i].name, raw[i].name) << name;
      EXPECT_EQ(ewf[i].runs, raw[i].runs) << name;
      EXPECT_EQ(ewf[i].closed, raw[i].closed) << name;
    }
  }
}

}  // namespace
}  // namespace clip::sources
