#include "recover/recover.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "recover/output_file.h"
#include "sources/memory_source.h"

namespace clip::recover {
namespace {

namespace fs = std::filesystem;
using scanner::BlockRun;
using scanner::ClipRow;
using sources::MemorySource;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/clipsalvage-recover-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<uint8_t> slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string sha_of(const std::vector<uint8_t>& bytes) {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.hex();
}

TEST(Sha256, KnownVectors) {
  Sha256 empty;
  EXPECT_EQ(empty.hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  abc.update(reinterpret_cast<const uint8_t*>("ab"), 2);
  abc.update(reinterpret_cast<const uint8_t*>("c"), 1);
  EXPECT_EQ(abc.hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A source whose every sector starts with its own number, so misplaced or
// reordered blocks show in the bytes.
std::unique_ptr<MemorySource> numbered_source(int64_t sectors) {
  auto src = std::make_unique<MemorySource>(sectors);
  for (int64_t s = 0; s < sectors; ++s) {
    uint8_t mark[8];
    std::memcpy(mark, &s, 8);
    src->write(s * 512, mark);
  }
  return src;
}

std::vector<uint8_t> expected(MemorySource& src, const std::vector<BlockRun>& runs) {
  std::vector<uint8_t> all;
  std::vector<uint8_t> block(sources::kBlockBytes);
  for (const auto& run : runs) {
    for (int64_t b = 0; b < run.blocks; ++b) {
      const auto r = src.read_block(run.first_sector + b * 128, block.data());
      all.insert(all.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(r.bytes));
    }
  }
  return all;
}

ClipRow row_of(std::vector<BlockRun> runs) {
  ClipRow row;
  row.number = 4;
  row.name = "ch00000000000001-12-05-20-13-45-30-.264";
  row.runs = std::move(runs);
  return row;
}

TEST(Recover, WritesBlocksInReadingOrderIncludingTheShortTail) {
  auto owned = numbered_source(1000);
  MemorySource& src = *owned;
  TempDir dir;
  // Out of order on the disk, and the last block is the 40-sector tail.
  const std::vector<BlockRun> runs{{600, 2}, {10, 1}, {960, 1}};
  const auto result = recover_clip(src, row_of(runs), dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  const auto bytes = slurp(result.file.path);
  EXPECT_EQ(bytes, expected(src, runs));
  EXPECT_EQ(result.file.bytes, (3 * 128 + 40) * 512u);
  EXPECT_EQ(result.file.sha256, sha_of(bytes));
  EXPECT_EQ(result.file.number, 4);
  EXPECT_FALSE(result.file.renamed);
  EXPECT_EQ(fs::path(result.file.path).filename(), "ch00000000000001-12-05-20-13-45-30-.264");
  EXPECT_TRUE(result.file.unreadable.empty());
}

TEST(Recover, NeverOverwritesAnExistingFile) {
  auto owned = numbered_source(300);
  MemorySource& src = *owned;
  TempDir dir;
  const auto row = row_of({{0, 1}});
  { std::ofstream(dir.path() / row.name) << "keep me"; }
  { std::ofstream(dir.path() / numbered_name(row.name, 1)) << "and me"; }
  const auto result = recover_clip(src, row, dir.str());
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.file.renamed);
  EXPECT_EQ(fs::path(result.file.path).filename(), "ch00000000000001-12-05-20-13-45-30-(2).264");
  EXPECT_EQ(slurp(dir.path() / row.name), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_EQ(slurp(result.file.path).size(), 65536u);
}

TEST(Recover, UnreadableSectorsAreZeroFilledAndReported) {
  auto owned = numbered_source(1000);
  MemorySource& src = *owned;
  src.fail_sector(130);
  src.fail_sector(131);
  src.fail_sector(132, 1);  // the retry reads it
  TempDir dir;
  const auto result = recover_clip(src, row_of({{0, 3}}), dir.str());
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.file.unreadable, (std::vector<scanner::SectorRange>{{130, 2}}));
  const auto bytes = slurp(result.file.path);
  ASSERT_EQ(bytes.size(), 3 * 65536u);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(bytes[130 * 512 + i], 0) << i;
  int64_t s = 0;
  std::memcpy(&s, &bytes[132 * 512], 8);
  EXPECT_EQ(s, 132);

  auto gone_owned = numbered_source(1000);
  MemorySource& gone = *gone_owned;
  gone.gone_from(200);
  const auto failed = recover_clip(gone, row_of({{0, 3}}), dir.str());
  EXPECT_FALSE(failed.ok);
  EXPECT_TRUE(failed.source_gone);
}

class FakeVolumes final : public VolumeMap {
 public:
  std::vector<std::string> source_ids(const std::string& path) override {
    if (path == "\\\\.\\PHYSICALDRIVE1") return {"disk:1"};
    if (path == "\\\\.\\E:") return {"vol:E"};
    return {};
  }
  std::vector<std::string> folder_ids(const std::string&) override { return {"vol:E", "disk:1"}; }
};

TEST(OutputFolder, RefusedOnTheScannedDiskOrVolume) {
  TempDir dir;
  FakeVolumes volumes;
  EXPECT_NE(check_output_folder("\\\\.\\PHYSICALDRIVE1", dir.str(), volumes), "");
  EXPECT_NE(check_output_folder("\\\\.\\E:", dir.str(), volumes), "");
  EXPECT_EQ(check_output_folder("\\\\.\\PHYSICALDRIVE0", dir.str(), volumes), "");
  // An image file may sit in the folder its clips go to.
  EXPECT_EQ(check_output_folder("\\\\?\\E:\\disk.img", dir.str(), volumes), "");
  EXPECT_NE(check_output_folder("\\\\.\\PHYSICALDRIVE0", dir.str() + "/missing", volumes), "");
}

TEST(ReadOnlySource, ScanLeavesTheImageUnchanged) {
  TempDir dir;
  const fs::path image = dir.path() / "disk.img";
  {
    std::ofstream out(image, std::ios::binary);
    std::vector<char> block(65536, 0);
    std::memcpy(block.data() + 80, "MDVR96NT_2_R", 12);
    block[468] = 2;
    for (int b = 0; b < 6; ++b) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  fs::permissions(image, fs::perms::owner_read);
  const std::string before = sha_of(slurp(image));
  auto opened = sources::open_block_source(image.string());
  ASSERT_TRUE(opened.source) << opened.error;
  std::vector<ClipRow> rows;
  scanner::ScanCallbacks cb;
  cb.row = [&](const ClipRow& r) { rows.push_back(r); };
  const auto result = scanner::scan(*opened.source, {}, cb);
  EXPECT_EQ(result.end, scanner::ScanEnd::complete);
  EXPECT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows.back().channel, "02");
  opened.source.reset();
  EXPECT_EQ(sha_of(slurp(image)), before);
}

}  // namespace
}  // namespace clip::recover
