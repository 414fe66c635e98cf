// Sequential reading with a worker thread: while the caller examines one
// chunk, the worker already reads the next ones into a small ring of buffers.
// The caller's thread sees every chunk in order and does all the work on it;
// the worker only reads. Memory is the ring, whatever the source's size.
//
// Where the source holds the sectors in memory already (an image file in the
// page cache), the caller reads them itself with read_cached(), in chunks
// small enough to stay in the processor's cache: no hand-over, no second
// copy of the data through memory. From the first chunk that isn't all in
// memory on, the worker reads ahead.
//
// The caller never has to wait for a read: every wait is bounded, so it can
// keep a window alive and give up when the operator stops. A read the system
// can't cancel is left behind on the worker, which then holds everything it
// touches (see BlockSource::detachable) and ends when the read returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "sources/block_source.h"

namespace clip::sources {

struct CachedBuffer;

class ReadAhead {
 public:
  struct Chunk {
    int64_t first = 0;     // first sector of the chunk
    int64_t sectors = 0;   // sectors asked for
    const uint8_t* data = nullptr;
    ReadResult result;     // what the read delivered
    std::string failure;   // set when the source threw; result.error is gone then
  };
  enum class Status { ready, pending, end };

  // Reads sectors [first, end) in chunks of `chunk_blocks` blocks counted from
  // `first`, so a block of 128 sectors from `first` never straddles two chunks.
  // The worker stops reading ahead after a chunk that came short (the real end
  // of the source), found the source gone or was cancelled.
  ReadAhead(BlockSource& source, int64_t first, int64_t end, int chunk_blocks = 32, int depth = 4);
  // Waits for the worker, unless it is inside a read of a detachable source:
  // that read is left to end by itself.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next chunk in order, waiting at most `wait` for it (pending when it is
  // not there yet). The chunk stays valid until release().
  Status next(Chunk& chunk, std::chrono::milliseconds wait);
  void release();

  // A read of at most one block anywhere in the source, done by the worker
  // before its next chunk (the repair of damaged blocks goes through here, so
  // its reads can be left behind too). The first call asks for it; while it
  // answers pending, call again with the same range. The data stay valid
  // until the next read().
  Status read(int64_t first, int64_t count, Chunk& chunk, std::chrono::milliseconds wait);

 private:
  struct Shared;
  static void run(const std::shared_ptr<Shared>& shared);
  bool read_cached_chunk();
  void start_streaming();

  std::shared_ptr<Shared> shared_;
  std::thread worker_;
  // The caller's own reading while the sectors are in memory.
  bool streaming_ = false;
  int64_t cached_next_ = 0;
  int64_t cached_sectors_ = 0;
  bool cached_ready_ = false;  // the first chunk, read by the constructor
  int64_t streamed_ = 0;       // chunks taken from the worker
  Chunk cached_;
  std::unique_ptr<CachedBuffer> cached_buffer_;
};

}  // namespace clip::sources
