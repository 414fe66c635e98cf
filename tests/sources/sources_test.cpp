#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "sources/block_source.h"
#include "sources/drives.h"
#include "sources/memory_source.h"
#include "sources/read_ahead.h"
#include "sources/source_record.h"

namespace clip::sources {
namespace {

TEST(SelectSource, DevicePathsByKind) {
  EXPECT_EQ(select_source({"0", "156301488", "P"})->device_path, "\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(select_source({"0", "156301488", "P"})->sectors, 156301488);
  EXPECT_EQ(select_source({"C:", "10", "L"})->device_path, "\\\\.\\C:");
  EXPECT_EQ(select_source({"D:\\img\\a.img", "1", "F"})->device_path, "\\\\?\\D:\\img\\a.img");
  EXPECT_EQ(select_source({"\\\\nas\\share\\a.img", "1", "F"})->device_path, "\\\\?\\UNC\\nas\\share\\a.img");
  EXPECT_EQ(select_source({"D:/img/a.img", "1", "F"})->device_path, "\\\\?\\D:\\img\\a.img");
  EXPECT_EQ(image_device_path("\\\\?\\D:\\a.img"), "\\\\?\\D:\\a.img");
  // Kinds are compared exactly; a bad count is not taken either.
  EXPECT_FALSE(select_source({"0", "1", "p"}));
  EXPECT_FALSE(select_source({"0", "1", "PP"}));
  EXPECT_FALSE(select_source({"0", "-1", "P"}));
  EXPECT_FALSE(select_source({"0", "", "P"}));
  EXPECT_FALSE(select_source({"0", "99999999999999999999", "P"}));
}

TEST(GbText, RoundsToTwoDecimalsHalfToEven) {
  struct Case {
    uint64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {80026361856ull, "74.53"},
      {0, "0"},
      {1ull << 30, "1"},
      {(1ull << 30) + (1ull << 30) / 2, "1.5"},
      {1ull << 27, "0.12"},      // 0.125 GB exactly: the half goes to the even 12
      {3ull << 27, "0.38"},      // 0.375 GB: to the even 38
      {(1ull << 30) / 200, "0"},  // just under 0.005 GB
      {(1ull << 30) / 100 * 7, "0.07"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gb_text_from_bytes(c.bytes, "."), c.text) << c.bytes;
    EXPECT_EQ(gb_text_from_sectors(static_cast<int64_t>(c.bytes / 512), "."), c.text) << c.bytes;
  }
  EXPECT_EQ(gb_text_from_bytes(80026361856ull, ","), "74,53");
  EXPECT_EQ(sectors_text(80026361856ull), "156301488");
  EXPECT_EQ(sectors_text(1023), "1");
}

StorageDescriptor descriptor(uint32_t size, uint32_t offset, const char* text) {
  StorageDescriptor d{};
  std::memcpy(d.data() + 4, &size, 4);
  std::memcpy(d.data() + 16, &offset, 4);
  if (offset < d.size()) std::memcpy(d.data() + offset, text, std::min(std::strlen(text), d.size() - offset));
  d[kDescriptorBytes - 1] = 0;
  return d;
}

TEST(ProductText, StopsAtZeroSizeAndBuffer) {
  EXPECT_EQ(product_text(descriptor(200, 60, "WDC WD800 ")), "WDC WD800 ");
  EXPECT_EQ(product_text(descriptor(200, 0, "WDC")), "");
  // Bytes at or past size - 2 are not taken.
  EXPECT_EQ(product_text(descriptor(64, 60, "ABCDEF")), "AB");
  EXPECT_EQ(product_text(descriptor(1, 60, "ABCDEF")), "");
  // A size larger than the buffer stops at the buffer's zeroed last byte.
  EXPECT_EQ(product_text(descriptor(100000, 545, "ABCDEFGH")), "ABCDE");
  EXPECT_EQ(product_text(descriptor(100000, 4000, "X")), "");
  EXPECT_EQ(product_text(descriptor(200, 60, "A\xff" "B")), "A?B");
}

class FakeProbe final : public DriveProbe {
 public:
  std::map<char, unsigned> types;
  std::map<char, uint64_t> fs_bytes, vol_bytes;
  std::map<int, uint64_t> disks;
  std::map<int, StorageDescriptor> descriptors;
  unsigned drive_type(char l) override { return types.count(l) ? types[l] : 1; }
  std::optional<uint64_t> file_system_bytes(char l) override {
    if (!fs_bytes.count(l)) return std::nullopt;
    return fs_bytes[l];
  }
  std::optional<uint64_t> volume_bytes(char l) override {
    if (!vol_bytes.count(l)) return std::nullopt;
    return vol_bytes[l];
  }
  std::optional<uint64_t> disk_bytes(int n) override {
    if (!disks.count(n)) return std::nullopt;
    return disks[n];
  }
  std::optional<StorageDescriptor> device_descriptor(int n) override {
    if (!descriptors.count(n)) return std::nullopt;
    return descriptors[n];
  }
  std::optional<uint64_t> file_bytes(const std::string& name) override {
    if (name != "D:\\a.img") return std::nullopt;
    return 1000;
  }
  std::string decimal_separator() override { return "."; }
};

TEST(DriveProbes, CaptionsRecordsAndFallbacks) {
  FakeProbe probe;
  probe.types = {{'C', 3}, {'D', 5}, {'E', 0}, {'F', 2}};
  probe.fs_bytes['C'] = 80026361856ull;
  probe.vol_bytes['F'] = 1ull << 30;
  const auto c = probe_logical(probe, 'C');
  ASSERT_TRUE(c);
  EXPECT_EQ(c->caption, "C:\\(硬盘驱动器)74.53GB");
  EXPECT_EQ(c->record.Path, "C:");
  EXPECT_EQ(c->record.Sectors, "156301488");
  EXPECT_EQ(c->record.Kind, "L");
  EXPECT_EQ(c->image_index, 5);
  // Empty CD drive: neither size answers, so it lists with 0 sectors.
  EXPECT_EQ(probe_logical(probe, 'D')->caption, "D:\\(光盘驱动器)0GB");
  EXPECT_EQ(probe_logical(probe, 'D')->record.Sectors, "0");
  EXPECT_FALSE(probe_logical(probe, 'E'));
  EXPECT_FALSE(probe_logical(probe, 'G'));
  // Free-space query fails: the volume's own length sizes it.
  EXPECT_EQ(probe_logical(probe, 'F')->record.Sectors, "2097152");
  EXPECT_EQ(probe_logical(probe, 'F')->caption, "F:\\(移动驱动器)1GB");

  probe.disks = {{0, 80026361856ull}, {2, 1ull << 30}, {3, 5}};
  probe.descriptors = {{0, descriptor(100, 40, "DISK")}, {2, descriptor(100, 0, "")}};
  EXPECT_EQ(probe_physical(probe, 0)->caption, "DISK (74.53GB)");
  EXPECT_EQ(probe_physical(probe, 0)->record.Sectors, "156301488");
  EXPECT_EQ(probe_physical(probe, 0)->record.Kind, "P");
  EXPECT_EQ(probe_physical(probe, 2)->caption, " (1GB)");
  EXPECT_EQ(probe_physical(probe, 2)->record.Path, "2");
  EXPECT_FALSE(probe_physical(probe, 1));
  EXPECT_FALSE(probe_physical(probe, 3));  // geometry answered, descriptor didn't

  EXPECT_EQ(probe_image(probe, "D:\\a.img")->record.Sectors, "1");
  EXPECT_EQ(probe_image(probe, "D:\\a.img")->image_index, 7);
  EXPECT_FALSE(probe_image(probe, "D:\\b.img"));
}

TEST(BlockRead, FullBlockThenShortTail) {
  MemorySource source(130);
  std::vector<uint8_t> buffer(kBlockBytes, 0xee);
  EXPECT_EQ(source.read_block(0, buffer.data()).bytes, kBlockBytes);
  const auto tail = source.read_block(128, buffer.data());
  EXPECT_TRUE(tail.ok());
  EXPECT_EQ(tail.bytes, 1024u);
  EXPECT_EQ(source.read_block(130, buffer.data()).bytes, 0u);
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/clipsalvage-sources-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(FileSource, ReadOnlyImageSizesAndReadsAtLargeOffsets) {
  TempDir dir;
  const auto file = dir.path() / "disk.img";
  {
    std::ofstream out(file, std::ios::binary);
    // Beyond 4 GiB, so 32-bit offsets would read the wrong place.
    out.seekp(5000000000ll);
    out.write("HELLO", 5);
    out.seekp(5000000000ll + 1000);
    out.write("!", 1);
  }
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);
  auto opened = open_block_source(file.string());
  ASSERT_TRUE(opened.source) << opened.error;
  EXPECT_EQ(opened.source->sector_count(), (5000000000ll + 1001) / 512);
  const int64_t sector = 5000000000ll / 512;
  std::vector<uint8_t> buffer(kBlockBytes);
  const auto result = opened.source->read_sectors(sector, 1, buffer.data());
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.bytes, 512u);
  EXPECT_EQ(std::memcmp(buffer.data() + 5000000000ll % 512, "HELLO", 5), 0);

  // Announcing more sectors than the file holds gives a short read, not an
  // error: the source ends where the file does.
  auto longer = open_block_source(file.string(), opened.source->sector_count() + 1000);
  ASSERT_TRUE(longer.source);
  const int64_t last = opened.source->sector_count() - 1;
  const auto short_read = longer.source->read_block(last, buffer.data());
  EXPECT_TRUE(short_read.ok());
  EXPECT_EQ(short_read.bytes, static_cast<std::size_t>(5000000000ll + 1001 - last * 512));

  EXPECT_FALSE(open_block_source((dir.path() / "missing.img").string()).source);
  EXPECT_FALSE(open_block_source(dir.path().string()).source);  // a folder is no source
}

TEST(ReadAhead, DeliversEveryChunkInOrderAndStopsAtTheRealEnd) {
  MemorySource source(10000);
  for (int64_t s = 0; s < 10000; s += 7) {
    const uint8_t mark[8] = {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8), 1, 2, 3, 4, 5, 6};
    source.write(s * 512, mark);
  }
  source.truncate(9000);
  ReadAhead reader(source, 300, 10000, 3, 3);
  int64_t expect_first = 300;
  int64_t delivered = 0;
  ReadAhead::Chunk chunk;
  ReadAhead::Status status;
  while ((status = reader.next(chunk, std::chrono::milliseconds(1000))) != ReadAhead::Status::end) {
    ASSERT_EQ(status, ReadAhead::Status::ready);
    EXPECT_EQ(chunk.first, expect_first);
    for (int64_t i = 0; i < static_cast<int64_t>(chunk.result.bytes / 512); ++i) {
      const int64_t s = chunk.first + i;
      if (s % 7 == 0) {
        EXPECT_EQ(chunk.data[i * 512], static_cast<uint8_t>(s));
        EXPECT_EQ(chunk.data[i * 512 + 1], static_cast<uint8_t>(s >> 8));
      }
    }
    delivered += static_cast<int64_t>(chunk.result.bytes / 512);
    expect_first += chunk.sectors;
    reader.release();
  }
  EXPECT_EQ(delivered, 9000 - 300);
}

TEST(ReadAhead, EmptyRangeEndsAtOnceAndEarlyDestructionJoins) {
  MemorySource source(100);
  ReadAhead::Chunk chunk;
  {
    ReadAhead empty(source, 100, 100);
    EXPECT_EQ(empty.next(chunk, std::chrono::milliseconds(10)), ReadAhead::Status::end);
  }
  MemorySource big(1 << 20);
  ReadAhead reader(big, 0, 1 << 20, 1, 2);
  EXPECT_EQ(reader.next(chunk, std::chrono::milliseconds(1000)), ReadAhead::Status::ready);
  // Leaving with the chunk held and the worker waiting for a slot must not hang.
}

}  // namespace
}  // namespace clip::sources
