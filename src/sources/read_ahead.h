// Sequential reading with a worker thread: while the caller examines one
// chunk, the worker already reads the next ones into a small ring of buffers.
// The caller's thread sees every chunk in order and does all the work on it;
// the worker only reads. Memory is the ring, whatever the source's size.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sources/block_source.h"

namespace clip::sources {

class ReadAhead {
 public:
  struct Chunk {
    int64_t first = 0;     // first sector of the chunk
    int64_t sectors = 0;   // sectors asked for
    const uint8_t* data = nullptr;
    ReadResult result;     // what the read delivered
  };
  enum class Status { ready, pending, end };

  // Reads sectors [first, end) in chunks of `chunk_blocks` blocks counted from
  // `first`, so a block of 128 sectors from `first` never straddles two chunks.
  // The worker stops after a chunk that came short (the real end of the
  // source) or found the source gone.
  ReadAhead(BlockSource& source, int64_t first, int64_t end, int chunk_blocks = 32, int depth = 4);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next chunk in order, waiting at most `wait` for it (pending when it is
  // not there yet, so a caller can keep a window alive during slow reads).
  // The chunk stays valid until release().
  Status next(Chunk& chunk, std::chrono::milliseconds wait);
  void release();

 private:
  void run();

  BlockSource& source_;
  const int64_t end_;
  const int64_t chunk_sectors_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::vector<Chunk> chunks_;
  std::mutex mutex_;
  std::condition_variable filled_;
  std::condition_variable freed_;
  std::size_t head_ = 0;   // next slot the caller takes
  std::size_t count_ = 0;  // filled slots not yet released
  bool held_ = false;
  bool finished_ = false;  // the worker has queued its last chunk
  bool quit_ = false;
  int64_t next_first_;
  std::thread worker_;
};

}  // namespace clip::sources
