#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <random>
#include <vector>

#include "sources/aligned_buffer.h"
#include "sources/aligned_read.h"
#include "sources/block_source.h"
#include "sources/drives.h"
#include "sources/memory_source.h"
#include "sources/read_ahead.h"
#include "sources/source_record.h"
#include "sources/test_sources.h"

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

// Sectors the system holds in memory except where a chunk is missing for a
// moment; the marks say which sector each is.
class PartlyCached final : public BlockSource {
 public:
  explicit PartlyCached(int64_t sectors) : data(sectors) { testing::mark_sectors(data); }
  MemorySource data;
  int64_t cached_calls = 0;
  int64_t sector_count() const override { return data.sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    return data.read_sectors(first, count, buffer);
  }
  std::size_t read_cached(int64_t first, int64_t count, uint8_t* buffer) override {
    ++cached_calls;
    if (first / 128 % 97 == 5) return 0;
    return data.read_sectors(first, count, buffer).bytes;
  }
};

TEST(ReadAhead, ChunksFromMemoryAndFromTheWorkerComeInOrder) {
  PartlyCached source(300 * 128 + 50);
  ReadAhead reader(source, 10, source.sector_count(), 1, 3);
  int64_t expect_first = 10;
  ReadAhead::Chunk chunk;
  ReadAhead::Status status;
  while ((status = reader.next(chunk, std::chrono::milliseconds(30000))) == ReadAhead::Status::ready) {
    ASSERT_EQ(chunk.first, expect_first);
    ASSERT_EQ(chunk.result.bytes, static_cast<std::size_t>(chunk.sectors * 512));
    for (int64_t i = 0; i < chunk.sectors; ++i) ASSERT_TRUE(testing::marked(chunk.data + i * 512, chunk.first + i));
    expect_first += chunk.sectors;
    reader.release();
  }
  EXPECT_EQ(status, ReadAhead::Status::end);
  EXPECT_EQ(expect_first, source.sector_count());
  // After each miss the worker read ahead, then memory was tried again.
  EXPECT_GT(source.cached_calls, 3);
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

TEST(FileSource, RefusesWhatIsNoImageOrBlockDeviceWithoutWaiting) {
  TempDir dir;
  const auto fifo = dir.path() / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Opening a FIFO for reading would wait for a writer forever; a refusal
  // comes back at once instead (a hang here ends the test by its timeout).
  const auto opened = open_block_source(fifo.string());
  EXPECT_FALSE(opened.source);
  EXPECT_NE(opened.error.find("FIFO"), std::string::npos) << opened.error;
  const auto null_device = open_block_source("/dev/null");
  EXPECT_FALSE(null_device.source);
  EXPECT_NE(null_device.error.find("字符设备"), std::string::npos) << null_device.error;
  const auto folder = open_block_source(dir.path().string());
  EXPECT_NE(folder.error.find("文件夹"), std::string::npos) << folder.error;

  // An empty file is a source of 0 sectors, not one of unknown size.
  const auto empty = dir.path() / "empty.img";
  std::ofstream(empty).close();
  const auto zero = open_block_source(empty.string());
  ASSERT_TRUE(zero.source) << zero.error;
  EXPECT_EQ(zero.source->sector_count(), 0);
}

// A device with 4096-byte logical sectors read past the cache: it refuses
// every read whose offset, length or buffer is not a multiple of 4096, as a
// native 4K disk does.
class FakeDevice {
 public:
  FakeDevice(std::size_t bytes, std::size_t unit) : bytes_(bytes), unit_(unit) {
    for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<uint8_t>(i / 512 * 7 + i % 13);
  }
  ReadResult raw(uint64_t offset, std::size_t length, uint8_t* buffer) {
    ++calls;
    if (offset % unit_ || length % unit_ || reinterpret_cast<uintptr_t>(buffer) % unit_) {
      ++refused;
      return {0, ReadError::media};
    }
    if (offset >= bytes_.size()) return {};
    // A bad unit fails the whole read, as a disk's media error does.
    for (uint64_t u = offset; u < offset + length && u < bytes_.size(); u += unit_) {
      if (bad.count(u / unit_)) return {0, ReadError::media};
    }
    const std::size_t n = std::min<std::size_t>(length, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return {n, ReadError::none};
  }
  RawRead reader() {
    return [this](uint64_t offset, std::size_t length, uint8_t* buffer) { return raw(offset, length, buffer); };
  }
  const uint8_t* at(int64_t sector) const { return bytes_.data() + sector * 512; }

  std::set<uint64_t> bad;  // unit numbers that fail
  int calls = 0;
  int refused = 0;

 private:
  std::vector<uint8_t> bytes_;
  std::size_t unit_;
};

TEST(AlignedRead, HandsOutAnySectorsOfA4KDevice) {
  FakeDevice device(1 << 20, 4096);  // 2048 sectors
  const int64_t total = 2048;
  std::mt19937 random(7);
  std::vector<uint8_t> buffer(300 * 512 + 1);
  for (int i = 0; i < 300; ++i) {
    const int64_t first = std::uniform_int_distribution<int64_t>(0, total - 1)(random);
    const int64_t count = std::uniform_int_distribution<int64_t>(1, std::min<int64_t>(300, total - first))(random);
    // An odd buffer address too: the device would refuse it.
    uint8_t* into = buffer.data() + (i % 2);
    const ReadResult r = read_aligned(device.reader(), 4096, first, count, into);
    ASSERT_TRUE(r.ok()) << first << "+" << count;
    ASSERT_EQ(r.bytes, static_cast<std::size_t>(count * 512));
    ASSERT_EQ(std::memcmp(into, device.at(first), r.bytes), 0) << first << "+" << count;
  }
  EXPECT_EQ(device.refused, 0);

  // An aligned request into aligned memory goes straight to the device.
  AlignedBuffer aligned(64 * 512);
  device.calls = 0;
  ASSERT_EQ(read_aligned(device.reader(), 4096, 16, 64, aligned.data()).bytes, 64u * 512);
  EXPECT_EQ(device.calls, 1);

  // Past the device's end: the sectors up to it, no error.
  const ReadResult tail = read_aligned(device.reader(), 4096, total - 3, 10, buffer.data());
  EXPECT_TRUE(tail.ok());
  EXPECT_EQ(tail.bytes, 3u * 512);

  // A bad unit (sectors 80..87): what lies before it, then the media error,
  // so the scanner's repair reads the rest sector by sector.
  device.bad.insert(10);
  const ReadResult before_bad = read_aligned(device.reader(), 4096, 3, 200, buffer.data());
  EXPECT_EQ(before_bad.error, ReadError::media);
  EXPECT_EQ(before_bad.bytes % 512, 0u);
  EXPECT_LE(before_bad.bytes, (80u - 3) * 512);
  EXPECT_EQ(std::memcmp(buffer.data(), device.at(3), before_bad.bytes), 0);
  EXPECT_EQ(read_aligned(device.reader(), 4096, 83, 1, buffer.data()).error, ReadError::media);
  EXPECT_TRUE(read_aligned(device.reader(), 4096, 88, 1, buffer.data()).ok());
}

// Linux loop device with 4096-byte logical sectors over a sparse image: the
// source opens it past the cache and must still read any 512-byte sector.
TEST(FileSource, LoopDeviceWith4KSectors) {
  TempDir dir;
  const auto file = dir.path() / "disk4k.img";
  const int64_t sectors = 8000000 + 4096;
  {
    std::ofstream out(file, std::ios::binary);
    out.seekp(sectors * 512 - 1);
    out.put('\0');
    for (int64_t s : {int64_t{0}, int64_t{3}, int64_t{8000130}, sectors - 1}) {
      out.seekp(s * 512);
      const std::string mark = "sector " + std::to_string(s);
      out.write(mark.data(), static_cast<std::streamsize>(mark.size()));
    }
  }
  const std::string command = "losetup --find --show --read-only --sector-size 4096 '" + file.string() + "' 2>&1";
  std::string device;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char line[256] = {};
    if (std::fgets(line, sizeof line, p)) device = line;
    const int status = ::pclose(p);
    while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
    if (status != 0 || device.rfind("/dev/", 0) != 0) GTEST_SKIP() << "no loop device here: " << device;
  } else {
    GTEST_SKIP() << "losetup can't be run";
  }
  struct Detach {
    std::string device;
    ~Detach() { std::system(("losetup -d " + device + " 2>/dev/null").c_str()); }
  } detach{device};

  auto opened = open_block_source(device);
  ASSERT_TRUE(opened.source) << opened.error;
  EXPECT_EQ(opened.source->sector_count(), sectors);
  std::vector<uint8_t> buffer(16 * 512);
  for (int64_t s : {int64_t{0}, int64_t{3}, int64_t{8000130}, sectors - 1}) {
    const ReadResult r = opened.source->read_sectors(s, 1, buffer.data());
    ASSERT_TRUE(r.ok()) << "sector " << s;
    ASSERT_EQ(r.bytes, 512u);
    const std::string mark = "sector " + std::to_string(s);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), mark.size()), mark);
  }
  const ReadResult run = opened.source->read_sectors(8000127, 5, buffer.data());
  ASSERT_EQ(run.bytes, 5u * 512);
  EXPECT_EQ(std::memcmp(buffer.data() + 3 * 512, "sector 8000130", 14), 0);
}

TEST(ReadAhead, AHungReadIsLeftBehindOnlyWhenItsSourceCanBeLeft) {
  using testing::Hanging;
  using testing::HangingSource;
  ReadAhead::Chunk chunk;
  // Cancellable: the hung chunk comes back as cancelled.
  {
    auto inner = std::make_shared<Hanging>(4096, 300, true);
    HangingSource source(inner, true);
    ReadAhead reader(source, 0, 4096, 2, 2);
    ASSERT_TRUE(inner->wait_waiting(1));
    source.cancel();
    int64_t first = -1;
    for (;;) {
      ASSERT_EQ(reader.next(chunk, std::chrono::milliseconds(30000)), ReadAhead::Status::ready);
      first = chunk.first;
      if (chunk.result.error == ReadError::cancelled) break;
      reader.release();
    }
    EXPECT_EQ(first, 256);
    EXPECT_EQ(reader.next(chunk, std::chrono::milliseconds(30000)), ReadAhead::Status::end);
  }
  // Not cancellable but detachable: destroying the reader does not wait; the
  // worker ends once the read returns, with the test's source long gone.
  {
    auto inner = std::make_shared<Hanging>(4096, 10, false);
    {
      HangingSource source(inner, true);
      ReadAhead reader(source, 0, 4096, 2, 2);
      ASSERT_TRUE(inner->wait_waiting(1));
      EXPECT_EQ(reader.next(chunk, std::chrono::milliseconds(20)), ReadAhead::Status::pending);
    }
    inner->release();
    EXPECT_TRUE(testing::wait_sole_owner(inner));
  }
  // Neither: the reader is waited for, so a release from another thread
  // lets its destructor return.
  {
    auto inner = std::make_shared<Hanging>(4096, 10, false);
    HangingSource source(inner, false);
    std::optional<ReadAhead> reader;
    reader.emplace(source, 0, 4096, 2, 2);
    ASSERT_TRUE(inner->wait_waiting(1));
    std::thread releaser([&] { inner->release(); });
    reader.reset();
    releaser.join();
  }
}

TEST(ReadAhead, ThrowingReadsBecomeFailedChunksAndRequestsAreServedInBetween) {
  testing::ThrowingSource source(4096, 700);
  source.data.write(3000 * 512, std::span(reinterpret_cast<const uint8_t*>("here"), 4));
  ReadAhead reader(source, 0, 4096, 2, 2);
  ReadAhead::Chunk chunk;
  // A read outside the order, while chunks are queued.
  ASSERT_EQ(reader.read(3000, 1, chunk, std::chrono::milliseconds(30000)), ReadAhead::Status::ready);
  EXPECT_EQ(chunk.result.bytes, 512u);
  EXPECT_EQ(std::memcmp(chunk.data, "here", 4), 0);
  for (;;) {
    ASSERT_EQ(reader.next(chunk, std::chrono::milliseconds(30000)), ReadAhead::Status::ready);
    if (!chunk.result.ok()) break;
    reader.release();
  }
  EXPECT_EQ(chunk.first, 512);
  EXPECT_EQ(chunk.result.error, ReadError::gone);
  EXPECT_EQ(chunk.failure, "controller reset");
  EXPECT_EQ(reader.next(chunk, std::chrono::milliseconds(30000)), ReadAhead::Status::end);
  ASSERT_EQ(reader.read(700, 1, chunk, std::chrono::milliseconds(30000)), ReadAhead::Status::ready);
  EXPECT_EQ(chunk.failure, "controller reset");
}

}  // namespace
}  // namespace clip::sources
