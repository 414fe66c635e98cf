// Where a clip's H.264 bytes come from: its blocks on the source, read the way
// recovery reads them (unreadable sectors retried, then zero-filled and
// reported), a recovered .264 file, or bytes in memory. Export, preview and
// the duration all read through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recover/output_file.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::video {

enum class ReadStatus {
  data,     // bytes were delivered (possibly with zero-filled sectors)
  end,      // the clip has no more bytes
  stopped,  // the stop callback answered true, or the source's reads were cancelled
  failed,   // the source or file stopped answering
};

struct InputRead {
  std::size_t bytes = 0;
  ReadStatus status = ReadStatus::end;
};

class StreamInput {
 public:
  virtual ~StreamInput() = default;
  // Up to `size` bytes of the stream (possibly fewer); no bytes and `end`
  // at its end.
  virtual InputRead read(uint8_t* into, std::size_t size) = 0;
  // Back to the stream's first byte.
  virtual void rewind() = 0;
  // The stream's length as far as it is known in advance.
  virtual uint64_t size() const = 0;
  // Why the last read failed, in words.
  virtual std::string error() const = 0;
  // Sectors zero-filled so far (source input only).
  virtual std::vector<scanner::SectorRange> unreadable() const { return {}; }
  virtual bool source_gone() const { return false; }
  // The source ended inside the clip, so its last bytes may be cut short.
  virtual bool cut_short() const { return false; }
};

// The clip's blocks in reading order, each block's valid bytes, as recovery
// writes them into the .264 file. The source and row must outlive the input.
class SourceClipInput final : public StreamInput {
 public:
  SourceClipInput(sources::BlockSource& source, const scanner::ClipRow& row, int sector_tries = 3,
                  std::function<bool()> stop = {});

  InputRead read(uint8_t* into, std::size_t size) override;
  void rewind() override;
  uint64_t size() const override { return size_; }
  std::string error() const override { return error_; }
  std::vector<scanner::SectorRange> unreadable() const override { return unreadable_; }
  bool source_gone() const override { return gone_; }
  bool cut_short() const override { return cut_short_ || at_end_; }

 private:
  bool fill();

  sources::BlockSource& source_;
  const scanner::ClipRow& row_;
  int sector_tries_;
  std::function<bool()> stop_;
  uint64_t size_ = 0;
  bool cut_short_ = false;  // a block of the clip runs past the source's end
  std::size_t run_ = 0;
  int64_t next_sector_ = 0;  // the next sector to read within the current run
  bool at_end_ = false;
  std::vector<uint8_t> piece_;
  std::size_t piece_used_ = 0;
  std::size_t piece_size_ = 0;
  std::vector<scanner::SectorRange> unreadable_;
  std::string error_;
  bool gone_ = false;
  bool stopped_ = false;
};

// A recovered .264 file.
class FileInput final : public StreamInput {
 public:
  // Check error() when the file could not be opened; reads then fail.
  explicit FileInput(const std::string& path, std::function<bool()> stop = {});

  InputRead read(uint8_t* into, std::size_t size) override;
  void rewind() override;
  uint64_t size() const override { return size_; }
  std::string error() const override { return error_; }
  bool opened() const { return opened_; }

 private:
  recover::InputFile file_;
  std::string path_;
  std::function<bool()> stop_;
  uint64_t size_ = 0;
  bool opened_ = false;
  std::string error_;
};

// Bytes held by the caller, who keeps them alive.
class MemoryInput final : public StreamInput {
 public:
  explicit MemoryInput(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  InputRead read(uint8_t* into, std::size_t size) override;
  void rewind() override { at_ = 0; }
  uint64_t size() const override { return bytes_.size(); }
  std::string error() const override { return {}; }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t at_ = 0;
};

}  // namespace clip::video
