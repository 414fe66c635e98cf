#include "recover/recover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "recover/output_file.h"
#include "recover/temp_folder.h"
#include "sources/memory_source.h"

#ifndef _WIN32
#include <openssl/evp.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace clip::recover {
namespace {

namespace fs = std::filesystem;
using scanner::BlockRun;
using scanner::ClipRow;
using sources::BlockSource;
using sources::MemorySource;
using sources::ReadError;
using sources::ReadResult;
using testing::TempFolder;

constexpr const char* kName = "ch00000000000001-12-05-20-13-45-30-.264";

std::vector<uint8_t> slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string sha_of(const std::vector<uint8_t>& bytes) {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.hex();
}

// The names in a folder, sorted.
std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(TempFolder::utf8(e.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Sha256, KnownVectorsAndNoDataAfterTheEnd) {
  Sha256 empty;
  EXPECT_TRUE(empty.ok());
  EXPECT_EQ(empty.hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  EXPECT_TRUE(abc.update(reinterpret_cast<const uint8_t*>("ab"), 2));
  EXPECT_TRUE(abc.update(reinterpret_cast<const uint8_t*>("c"), 1));
  EXPECT_EQ(abc.hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // An ended hash takes nothing more and gives no second value.
  EXPECT_FALSE(abc.update(reinterpret_cast<const uint8_t*>("d"), 1));
  EXPECT_EQ(abc.hex(), "");
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
  row.name = kName;
  row.runs = std::move(runs);
  for (const auto& r : row.runs) row.blocks += r.blocks;
  return row;
}

// Reads go to a memory source, after a hook that may answer instead.
class HookedSource final : public BlockSource {
 public:
  using Hook = std::function<std::optional<ReadResult>(int64_t first, int64_t count)>;
  HookedSource(MemorySource& inner, Hook hook) : inner_(inner), hook_(std::move(hook)) {}
  int64_t sector_count() const override { return inner_.sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (auto answer = hook_(first, count)) return *answer;
    return inner_.read_sectors(first, count, buffer);
  }

 private:
  MemorySource& inner_;
  Hook hook_;
};

TEST(Recover, WritesBlocksInReadingOrderIncludingTheShortTail) {
  auto owned = numbered_source(1000);
  MemorySource& src = *owned;
  TempFolder dir;
  // Out of order on the disk, and the last block is the 40-sector tail.
  const std::vector<BlockRun> runs{{600, 2}, {10, 1}, {960, 1}};
  const auto result = recover_clip(src, row_of(runs), dir.str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.outcome, RecoverOutcome::complete);
  const auto bytes = slurp(TempFolder::from_utf8(result.file.path));
  EXPECT_EQ(bytes, expected(src, runs));
  EXPECT_EQ(result.file.bytes, (3 * 128 + 40) * 512u);
  EXPECT_EQ(result.file.expected_bytes, result.file.bytes);
  EXPECT_EQ(result.file.sha256, sha_of(bytes));
  EXPECT_EQ(result.file.number, 4);
  EXPECT_FALSE(result.file.renamed);
  EXPECT_EQ(result.file.path, dir.str(kName));
  EXPECT_TRUE(result.file.unreadable.empty());
  // Only the finished file: its ".part" was renamed, not copied.
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{kName});
}

TEST(Recover, ManyPiecesHashAsOneStream) {
  // Longer than the pieces in flight, so the hashing thread is behind the
  // writer and the buffers are reused while it works.
  auto owned = numbered_source(16000);
  MemorySource& src = *owned;
  TempFolder dir;
  ClipWriter writer(src);
  for (int n = 0; n < 3; ++n) {
    const std::vector<BlockRun> runs{{int64_t{n} * 128, 100}, {14000, 10}};
    const auto result = writer.recover(row_of(runs), dir.str());
    ASSERT_TRUE(result.ok) << result.error;
    const auto bytes = slurp(TempFolder::from_utf8(result.file.path));
    EXPECT_EQ(bytes, expected(src, runs));
    EXPECT_EQ(result.file.sha256, sha_of(bytes));
    EXPECT_EQ(result.file.renamed, n > 0);
  }
}

TEST(Recover, ClipsHandedOverFinishInOrderAndAStopKeepsTheFinishedOnes) {
  auto owned = numbered_source(16000);
  MemorySource& src = *owned;
  TempFolder dir;
  std::atomic<bool> stop{false};
  int current = 0;
  RecoverOptions options;
  options.defer_folder_sync = true;
  options.stop = [&] { return stop.load(); };
  // Stop after the first piece of the fourth clip.
  options.progress = [&](uint64_t) {
    if (current == 4) stop = true;
  };
  std::mutex mutex;
  std::vector<RecoverResult> results;
  {
    ClipWriter writer(src, options);
    for (current = 1; current <= 6; ++current) {
      ClipRow row = row_of({{int64_t{current} * 2560, 20}});
      row.number = current;
      row.name = "ch0000000000000" + std::to_string(current) + "-12-05-20-13-45-30-.264";
      const auto written = writer.recover_async(row, dir.str(), [&](const RecoverResult& r) {
        std::lock_guard lock(mutex);
        results.push_back(r);
      });
      if (written.stopped) break;
    }
    writer.wait();
    EXPECT_EQ(writer.sync_folders(), "");
  }
  ASSERT_EQ(results.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i].file.number, i + 1);
    EXPECT_EQ(results[i].outcome, RecoverOutcome::complete);
    const auto bytes = slurp(TempFolder::from_utf8(results[i].file.path));
    EXPECT_EQ(bytes, expected(src, {{int64_t{i + 1} * 2560, 20}}));
    EXPECT_EQ(results[i].file.sha256, sha_of(bytes));
  }
  EXPECT_EQ(results[3].outcome, RecoverOutcome::stopped);
  EXPECT_TRUE(results[3].file.partial_removed);
  EXPECT_EQ(listing(dir.path()).size(), 3u);
}

TEST(Recover, NeverOverwritesAnExistingFileNorAnotherPartialFile) {
  auto owned = numbered_source(300);
  MemorySource& src = *owned;
  TempFolder dir;
  const auto row = row_of({{0, 1}});
  { std::ofstream(dir.path() / row.name) << "keep me"; }
  // Someone else's unfinished file of the next name is left alone too.
  { std::ofstream(dir.path() / (numbered_name(row.name, 1) + ".part")) << "and me"; }
  const auto result = recover_clip(src, row, dir.str());
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.file.renamed);
  EXPECT_EQ(result.file.path, dir.str("ch00000000000001-12-05-20-13-45-30-(2).264"));
  EXPECT_EQ(slurp(dir.path() / row.name), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_EQ(slurp(dir.path() / (numbered_name(row.name, 1) + ".part")).size(), 6u);
  EXPECT_EQ(slurp(TempFolder::from_utf8(result.file.path)).size(), 65536u);
}

TEST(Recover, UnreadableSectorsAreZeroFilledAndReported) {
  auto owned = numbered_source(1000);
  MemorySource& src = *owned;
  src.fail_sector(130);
  src.fail_sector(131);
  src.fail_sector(132, 1);  // the retry reads it
  TempFolder dir;
  const auto result = recover_clip(src, row_of({{0, 3}}), dir.str());
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.file.unreadable, (std::vector<scanner::SectorRange>{{130, 2}}));
  const auto bytes = slurp(TempFolder::from_utf8(result.file.path));
  ASSERT_EQ(bytes.size(), 3 * 65536u);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(bytes[130 * 512 + i], 0) << i;
  int64_t s = 0;
  std::memcpy(&s, &bytes[132 * 512], 8);
  EXPECT_EQ(s, 132);
}

TEST(Recover, ASourceLostInsideTheClipKeepsWhatWasReadAsIncomplete) {
  auto owned = numbered_source(8000);
  MemorySource& src = *owned;
  src.gone_from(3000);
  TempFolder dir;
  const std::vector<BlockRun> runs{{0, 40}};
  const auto result = recover_clip(src, row_of(runs), dir.str());
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.outcome, RecoverOutcome::incomplete);
  EXPECT_TRUE(result.source_gone);
  // The first piece of 2048 sectors was read; the next read found the source gone.
  EXPECT_EQ(result.file.bytes, 2048 * 512u);
  EXPECT_EQ(result.file.expected_bytes, 40 * 65536u);
  EXPECT_EQ(result.file.path, dir.str("ch00000000000001-12-05-20-13-45-30-不完整.264"));
  const auto bytes = slurp(TempFolder::from_utf8(result.file.path));
  EXPECT_EQ(bytes.size(), result.file.bytes);
  EXPECT_EQ(result.file.sha256, sha_of(bytes));
  EXPECT_NE(result.error.find(scanner::kReadErrorText), std::string::npos);
  EXPECT_NE(result.error.find("1048576/2621440"), std::string::npos) << result.error;
  EXPECT_EQ(listing(dir.path()).size(), 1u);

  // A second one is numbered, not written over the first.
  const auto again = recover_clip(src, row_of(runs), dir.str());
  EXPECT_EQ(again.file.path, dir.str("ch00000000000001-12-05-20-13-45-30-不完整(1).264"));
}

TEST(Recover, AnImageShorterThanItsClipIsIncomplete) {
  // The image lost its end after the scan; it is opened with the size the
  // scan saw, as the window does.
  TempFolder dir;
  const fs::path image = dir.path() / "disk.img";
  auto owned = numbered_source(1000);
  {
    std::vector<uint8_t> all(1000 * 512);
    owned->read_sectors(0, 1000, all.data());
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(all.data()), 700 * 512);
  }
  auto opened = sources::open_block_source(TempFolder::utf8(image), 1000);
  ASSERT_TRUE(opened.source) << opened.error;
  fs::create_directory(dir.path() / "out");
  const std::string out = dir.str("out");

  const auto cut = recover_clip(*opened.source, row_of({{512, 3}}), out);
  EXPECT_EQ(cut.outcome, RecoverOutcome::incomplete);
  EXPECT_FALSE(cut.source_gone);
  EXPECT_EQ(cut.file.bytes, (700 - 512) * 512u);
  EXPECT_EQ(cut.file.expected_bytes, 3 * 65536u);
  EXPECT_NE(cut.error.find("扇区 700 处已到尽头"), std::string::npos) << cut.error;
  const auto image_bytes = slurp(image);
  EXPECT_EQ(slurp(TempFolder::from_utf8(cut.file.path)),
            std::vector<uint8_t>(image_bytes.begin() + 512 * 512, image_bytes.end()));

  // A clip wholly past the new end gives an empty incomplete file, never a
  // complete one.
  const auto gone = recover_clip(*opened.source, row_of({{768, 1}}), out);
  EXPECT_EQ(gone.outcome, RecoverOutcome::incomplete);
  EXPECT_EQ(gone.file.bytes, 0u);
  EXPECT_EQ(gone.file.expected_bytes, 65536u);

  // With the size the scan saw, a clip cut at the end of the source is whole.
  const auto tail = recover_clip(*opened.source, row_of({{0, 1}}), out, {.source_sectors = 100});
  EXPECT_TRUE(tail.ok) << tail.error;
  EXPECT_EQ(tail.file.bytes, 100 * 512u);
}

TEST(Recover, StopOrACancelledReadInsideAClipRemovesThePartialFile) {
  auto owned = numbered_source(8000);
  MemorySource& src = *owned;
  TempFolder dir;
  int asked = 0;
  RecoverOptions stop_second;
  stop_second.stop = [&] { return ++asked >= 2; };
  uint64_t progressed = 0;
  stop_second.progress = [&](uint64_t bytes) { progressed = bytes; };
  const auto stopped = recover_clip(src, row_of({{0, 40}}), dir.str(), stop_second);
  EXPECT_EQ(stopped.outcome, RecoverOutcome::stopped);
  EXPECT_FALSE(stopped.ok);
  EXPECT_TRUE(stopped.file.partial_removed);
  EXPECT_EQ(stopped.file.path, dir.str(std::string(kName) + ".part"));
  EXPECT_EQ(progressed, 2048 * 512u);
  EXPECT_NE(stopped.error.find("已删除不完整的文件"), std::string::npos);
  EXPECT_TRUE(listing(dir.path()).empty());

  HookedSource cancelled(src, [](int64_t first, int64_t) -> std::optional<ReadResult> {
    if (first >= 2048) return ReadResult{0, ReadError::cancelled};
    return std::nullopt;
  });
  const auto cut = recover_clip(cancelled, row_of({{0, 40}}), dir.str());
  EXPECT_EQ(cut.outcome, RecoverOutcome::stopped);
  EXPECT_TRUE(cut.file.partial_removed);
  EXPECT_TRUE(listing(dir.path()).empty());
}

TEST(Recover, NamesOfNumberedAndIncompleteFiles) {
  EXPECT_EQ(numbered_name(kName, 0), kName);
  EXPECT_EQ(numbered_name(kName, 12), "ch00000000000001-12-05-20-13-45-30-(12).264");
  EXPECT_EQ(incomplete_name(kName, 0), "ch00000000000001-12-05-20-13-45-30-不完整.264");
  EXPECT_EQ(incomplete_name(kName, 2), "ch00000000000001-12-05-20-13-45-30-不完整(2).264");
  EXPECT_EQ(incomplete_name("noext", 0), "noext-不完整");
  // Blocks reaching past the source's end were cut there by the scan.
  EXPECT_EQ(expected_bytes(row_of({{0, 2}, {900, 2}}), 1000), (256 + 100) * 512u);
}

class FakeVolumes final : public VolumeMap {
 public:
  Medium source_medium(const std::string& path) override {
    if (path == "\\\\.\\PHYSICALDRIVE1") return {{"disk:1"}, ""};
    if (path == "\\\\.\\E:") return {{"vol:E", "disk:1"}, ""};
    if (path == "\\\\.\\PHYSICALDRIVE0") return {{"disk:0"}, ""};
    if (path == "\\\\?\\GLOBALROOT\\Device\\Odd") return {{}, "no disk number"};
    return {};
  }
  Medium folder_medium(const std::string& folder) override {
    ++folder_lookups;
    if (folder.find("network") != std::string::npos) return {{}, "unknown file system"};
    return {{"vol:E", "disk:1"}, ""};
  }
  int folder_lookups = 0;
};

TEST(OutputFolder, RefusedOnTheSourceDiskOrWhenItsDiskIsUnknown) {
  TempFolder dir;
  FakeVolumes volumes;
  EXPECT_NE(check_output_folder("\\\\.\\PHYSICALDRIVE1", dir.str(), volumes).find("源介质上"), std::string::npos);
  EXPECT_NE(check_output_folder("\\\\.\\E:", dir.str(), volumes), "");
  EXPECT_EQ(check_output_folder("\\\\.\\PHYSICALDRIVE0", dir.str(), volumes), "");
  // An image file may sit in the folder its clips go to; its folder's disk
  // is not even asked for.
  volumes.folder_lookups = 0;
  EXPECT_EQ(check_output_folder("\\\\?\\E:\\disk.img", dir.str(), volumes), "");
  EXPECT_EQ(volumes.folder_lookups, 0);
  // When a device's disks, or the folder's, can't be determined, the answer is no.
  EXPECT_NE(check_output_folder("\\\\?\\GLOBALROOT\\Device\\Odd", dir.str(), volumes).find("无法确定源设备"),
            std::string::npos);
  fs::create_directory(dir.path() / "network");
  EXPECT_NE(check_output_folder("\\\\.\\PHYSICALDRIVE0", dir.str("network"), volumes).find("无法确定输出文件夹"),
            std::string::npos);
  EXPECT_EQ(check_output_folder("\\\\?\\E:\\disk.img", dir.str("network"), volumes), "");
  // The probe file is gone again.
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"network"});
}

TEST(OutputFolder, MissingNotAFolderOrCreatedOnlyAfterTheDiskCheck) {
  TempFolder dir;
  FakeVolumes volumes;
  const std::string missing = dir.str("a") + "/b/c";
  EXPECT_NE(check_output_folder("image.img", missing, volumes).find("不存在"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
  // On the source disk nothing is created, not even the missing folders.
  EXPECT_NE(check_output_folder("\\\\.\\PHYSICALDRIVE1", missing, volumes, true), "");
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
  EXPECT_EQ(check_output_folder("image.img", missing, volumes, true), "");
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
  { std::ofstream(dir.path() / "file") << "x"; }
  EXPECT_NE(check_output_folder("image.img", dir.str("file"), volumes, true).find("不是文件夹"), std::string::npos);
  EXPECT_NE(check_output_folder("image.img", dir.str("file") + "/sub", volumes, true).find("不是文件夹"),
            std::string::npos);
  EXPECT_NE(check_output_folder("image.img", "", volumes, true), "");
}

TEST(ReadOnlySource, ScanLeavesTheImageUnchanged) {
  TempFolder dir;
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
  auto opened = sources::open_block_source(TempFolder::utf8(image));
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

#ifdef _WIN32

// Paths past MAX_PATH: the folder is made, the clip written and renamed, and
// a stopped clip's partial file removed, all through the long-path form.
TEST(RecoverWin32, LongPathsUnderTheLongPathForm) {
  auto owned = numbered_source(8000);
  MemorySource& src = *owned;
  TempFolder dir;
  std::string folder = dir.str();
  while (folder.size() < 300) folder += "\\" + std::string(40, 'd');
  FakeVolumes volumes;
  ASSERT_EQ(check_output_folder("image.img", folder, volumes, true), "");
  const auto done = recover_clip(src, row_of({{0, 20}}), folder);
  ASSERT_TRUE(done.ok) << done.error;
  EXPECT_GT(done.file.path.size(), 300u);
  EXPECT_EQ(done.file.path, join_path(folder, kName));
  const std::wstring long_form = L"\\\\?\\" + TempFolder::from_utf8(done.file.path).wstring();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(long_form.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 20 * 65536u);

  RecoverOptions stop_second;
  int asked = 0;
  stop_second.stop = [&] { return ++asked >= 2; };
  const auto stopped = recover_clip(src, row_of({{0, 40}}), folder, stop_second);
  EXPECT_EQ(stopped.outcome, RecoverOutcome::stopped);
  EXPECT_TRUE(stopped.file.partial_removed) << stopped.error;
  const std::wstring part = L"\\\\?\\" + TempFolder::from_utf8(stopped.file.path).wstring();
  EXPECT_EQ(GetFileAttributesW(part.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(RecoverWin32, DeviceSourcesWithoutAKnownDiskAreRefused) {
  TempFolder dir;
  auto volumes = make_system_volume_map();
  EXPECT_EQ(check_output_folder(TempFolder::utf8(dir.path() / "disk.img"), dir.str(), *volumes), "");
  const std::string refusal =
      check_output_folder("\\\\?\\GLOBALROOT\\Device\\ClipSalvageNoSuchDevice", dir.str(), *volumes);
  EXPECT_NE(refusal.find("无法确定源设备所在的磁盘"), std::string::npos) << refusal;
}

#else

// A small tmpfs mounted for one test, unmounted at its end.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& options) {
    if (::geteuid() != 0) {
      reason_ = "mounting a tmpfs needs root";
      return;
    }
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
      reason_ = std::string("tmpfs mount refused: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  std::string str() const { return dir_.str(); }

 private:
  TempFolder dir_;
  bool mounted_ = false;
  std::string reason_;
};

TEST(RecoverNative, DiskFullRemovesThePartialFileAndSaysWhy) {
  SmallTmpfs full("size=1m");
  if (!full.mounted()) GTEST_SKIP() << full.reason();
  auto owned = numbered_source(8000);
  const auto result = recover_clip(*owned, row_of({{0, 40}}), full.str());
  EXPECT_EQ(result.outcome, RecoverOutcome::failed);
  EXPECT_NE(result.error.find(std::strerror(ENOSPC)), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("已删除不完整的文件"), std::string::npos) << result.error;
  EXPECT_TRUE(result.file.partial_removed);
  EXPECT_TRUE(listing(full.str()).empty());
}

TEST(RecoverNative, AHashTheLibraryRefusesIsAFailedFile) {
  // Only FIPS implementations allowed, and none loaded: the crypto library
  // itself refuses SHA-256.
  ASSERT_EQ(EVP_set_default_properties(nullptr, "fips=yes"), 1);
  struct Restore {
    ~Restore() { EVP_set_default_properties(nullptr, ""); }
  } restore;
  auto owned = numbered_source(1000);
  TempFolder dir;
  const auto result = recover_clip(*owned, row_of({{0, 3}}), dir.str());
  EXPECT_EQ(result.outcome, RecoverOutcome::failed);
  EXPECT_NE(result.error.find("计算 SHA-256 出错"), std::string::npos) << result.error;
  EXPECT_TRUE(result.file.partial_removed);
  EXPECT_EQ(result.file.sha256, "");
  EXPECT_TRUE(listing(dir.path()).empty());
}

TEST(RecoverNative, ReadOnlyAndSystemFoldersAreRefusedAtOnce) {
  FakeVolumes volumes;
  EXPECT_NE(check_output_folder("image.img", "/proc", volumes).find("proc"), std::string::npos);
  EXPECT_NE(check_output_folder("image.img", "/proc/clipsalvage/new", volumes, true).find("proc"),
            std::string::npos);
  EXPECT_NE(check_output_folder("image.img", "/sys/kernel", volumes).find("sysfs"), std::string::npos);
  SmallTmpfs read_only("size=1m");
  if (!read_only.mounted()) GTEST_SKIP() << read_only.reason();
  ASSERT_EQ(::mount(nullptr, read_only.str().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  const std::string refusal = check_output_folder("image.img", read_only.str(), volumes);
  EXPECT_NE(refusal.find("无法写入"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find(std::strerror(EROFS)), std::string::npos) << refusal;
}

#endif

}  // namespace
}  // namespace clip::recover
