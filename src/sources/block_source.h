// A source is read as a flat run of 512-byte sectors numbered from 0. Every
// offset is 64-bit: sources of several terabytes are normal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace clip::sources {

inline constexpr int64_t kSectorBytes = 512;
inline constexpr int64_t kBlockSectors = 128;
inline constexpr std::size_t kBlockBytes = 65536;

enum class ReadError {
  none,
  // Some sectors of the range could not be read (a media error); a retry of
  // smaller pieces may still get the rest.
  media,
  // The source no longer answers at all (disk removed, handle invalid).
  gone,
  // The read was given up because cancel() was called.
  cancelled,
};

// Outcome of a read. `bytes` counts the bytes placed in the buffer from its
// start; with `error == none` a count below the one asked for means the source
// really ends there (a truncated image, a device smaller than announced).
struct ReadResult {
  std::size_t bytes = 0;
  ReadError error = ReadError::none;

  bool ok() const { return error == ReadError::none; }
};

class BlockSource {
 public:
  virtual ~BlockSource() = default;

  // The number of sectors the source announces (T).
  virtual int64_t sector_count() const = 0;

  // Reads `count` sectors from sector `first` into `buffer`, which holds at
  // least count * 512 bytes. The range is not clamped to sector_count(): the
  // caller decides how much to ask for. Must be safe to call from two threads
  // at once (positioned reads, no shared file pointer).
  virtual ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) = 0;

  // The block at sector `first`: 128 sectors, or T - first at the end of the
  // source. The buffer holds at least kBlockBytes. Bytes past the valid ones
  // keep whatever the buffer held.
  ReadResult read_block(int64_t first, uint8_t* buffer);

  // Sectors of the block at `first`: min(128, T - first), 0 at or past T.
  int64_t block_sectors(int64_t first) const;

  // Asks every read in flight on this source, on any thread, to end as soon
  // as the platform allows, and makes later reads fail with
  // ReadError::cancelled. Safe to call from any thread, more than once. A
  // read the system can't give up (a request stuck in a driver) may still
  // hold its thread: callers that must answer at once don't wait for it.
  virtual void cancel() {}
  // True once cancel() was called.
  virtual bool cancelled() const { return false; }

  // A source object that reads the same data and lives on its own, so that a
  // reading thread holding it may be left inside a read the system can't give
  // up and return after this object is gone, touching only what it holds.
  // Null when the source can't be left so (the reader is then waited for).
  virtual std::shared_ptr<BlockSource> detachable() { return nullptr; }

  // Reads of these sectors only what the system holds in memory already,
  // never waiting for a device: a prefix of them, possibly none (a source that
  // can't tell gives none). Reading those on the caller's own thread costs no
  // hand-over to a reading thread, and it can't hang.
  virtual std::size_t read_cached(int64_t /*first*/, int64_t /*count*/, uint8_t* /*buffer*/) { return 0; }
};

// What the caller of open_block_source owns: a handle on the shared object
// that holds the open file or device, so a read left running on another
// thread (see detachable) keeps it open until that read returns. Sources
// that know more about what they opened extend it.
class SharedSource : public BlockSource {
 public:
  explicit SharedSource(std::shared_ptr<BlockSource> file) : file_(std::move(file)) {}

  int64_t sector_count() const override { return file_->sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    return file_->read_sectors(first, count, buffer);
  }
  void cancel() override { file_->cancel(); }
  bool cancelled() const override { return file_->cancelled(); }
  std::shared_ptr<BlockSource> detachable() override { return file_; }
  std::size_t read_cached(int64_t first, int64_t count, uint8_t* buffer) override {
    return file_->read_cached(first, count, buffer);
  }

 private:
  std::shared_ptr<BlockSource> file_;
};

struct OpenResult {
  std::unique_ptr<BlockSource> source;
  std::string error;  // set when source is null
};

// Opens a file, volume or disk for reading only: shared read and write (the
// recorder disk may be mounted elsewhere), existing objects only. `path` is
// UTF-8; on Windows it is a device path as built by device_path() or any path
// that CreateFileW accepts. With `sectors` < 0 the size is measured (file size,
// or the device's byte length), divided by 512 with the remainder dropped;
// otherwise the given count is announced as it is.
OpenResult open_block_source(const std::string& path, int64_t sectors = -1);

}  // namespace clip::sources
