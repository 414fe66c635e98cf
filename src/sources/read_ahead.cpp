#include "sources/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "sources/aligned_buffer.h"

namespace clip::sources {

struct CachedBuffer {
  AlignedBuffer bytes;
};

// Chunks the caller reads itself from memory: 4 blocks, so the buffer stays
// in the processor's cache between the copy and the search.
constexpr int64_t kCachedChunkSectors = 4 * kBlockSectors;
// Chunks the worker reads before the caller tries memory again.
constexpr int64_t kProbeEvery = 64;

// Everything the worker touches. The worker owns a reference, so a worker
// left inside a read finds all of it alive when the read returns.
struct ReadAhead::Shared {
  BlockSource* source = nullptr;
  std::shared_ptr<BlockSource> keep;  // the detachable source, when there is one
  int64_t end = 0;
  int64_t chunk_sectors = 0;
  std::vector<AlignedBuffer> buffers;
  std::vector<Chunk> chunks;
  AlignedBuffer request_buffer{kBlockBytes};

  std::mutex mutex;
  std::condition_variable filled;  // a chunk or the request is ready
  std::condition_variable wake;    // a slot was freed, a request came, or quit
  std::size_t head = 0;            // next slot the caller takes
  std::size_t count = 0;           // filled slots not yet released
  bool held = false;
  bool finished = false;  // the last chunk is queued
  bool quit = false;
  bool streaming = false;  // the worker reads ahead (not before the caller asks)
  bool in_read = false;
  bool broken = false;  // the worker itself failed
  int64_t next_first = 0;

  bool request_active = false;  // asked for and not yet taken back by the caller
  bool request_wanted = false;  // not yet picked up by the worker
  bool request_done = false;
  int64_t request_first = 0;
  int64_t request_count = 0;
  Chunk request_result;

  BlockSource& reader() { return keep ? *keep : *source; }

  // Stands in for a read when the worker could not do it.
  Chunk lost(int64_t first, int64_t sectors) const {
    Chunk c;
    c.first = first;
    c.sectors = sectors;
    c.data = request_buffer.data();
    c.result.error = ReadError::gone;
    c.failure = "read-ahead worker failed";
    return c;
  }

  void free_held() {
    held = false;
    head = (head + 1) % buffers.size();
    --count;
  }
};

namespace {

ReadAhead::Chunk read_chunk(BlockSource& source, int64_t first, int64_t sectors, uint8_t* into) {
  ReadAhead::Chunk chunk;
  chunk.first = first;
  chunk.sectors = sectors;
  chunk.data = into;
  try {
    chunk.result = source.read_sectors(first, sectors, into);
  } catch (const std::exception& e) {
    chunk.result = {0, ReadError::gone};
    chunk.failure = e.what();
  } catch (...) {
    chunk.result = {0, ReadError::gone};
    chunk.failure = "unknown failure of the source";
  }
  return chunk;
}

}  // namespace

ReadAhead::ReadAhead(BlockSource& source, int64_t first, int64_t end, int chunk_blocks, int depth)
    : shared_(std::make_shared<Shared>()) {
  Shared& s = *shared_;
  s.source = &source;
  s.keep = source.detachable();
  s.end = end;
  s.chunk_sectors = static_cast<int64_t>(std::max(1, chunk_blocks)) * kBlockSectors;
  const std::size_t slots = static_cast<std::size_t>(std::max(2, depth));
  s.buffers.resize(slots);  // made by the worker when it first reads ahead
  s.chunks.resize(slots);
  s.next_first = first;
  s.finished = first >= end;
  cached_next_ = first;
  cached_sectors_ = std::min(kCachedChunkSectors, s.chunk_sectors);
  // The first chunk decides: all of it in memory, and the caller goes on
  // reading that way; otherwise the worker reads ahead from the start.
  if (!s.finished && read_cached_chunk()) {
    cached_ready_ = true;
  } else {
    streaming_ = true;
    s.streaming = true;
  }
  worker_ = std::thread([shared = shared_] { run(shared); });
}

bool ReadAhead::read_cached_chunk() {
  Shared& s = *shared_;
  const int64_t sectors = std::min(cached_sectors_, s.end - cached_next_);
  if (!cached_buffer_) {
    cached_buffer_ = std::make_unique<CachedBuffer>();
    cached_buffer_->bytes = AlignedBuffer(static_cast<std::size_t>(cached_sectors_ * kSectorBytes));
  }
  std::size_t got = 0;
  try {
    got = s.source->read_cached(cached_next_, sectors, cached_buffer_->bytes.data());
  } catch (...) {
    got = 0;  // the worker's read of it reports the failure
  }
  if (got != static_cast<std::size_t>(sectors * kSectorBytes)) return false;
  cached_ = Chunk{};
  cached_.first = cached_next_;
  cached_.sectors = sectors;
  cached_.data = cached_buffer_->bytes.data();
  cached_.result.bytes = got;
  cached_next_ += sectors;
  return true;
}

void ReadAhead::start_streaming() {
  streaming_ = true;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->streaming = true;
    shared_->next_first = cached_next_;
    shared_->finished = cached_next_ >= shared_->end;
  }
  shared_->wake.notify_all();
}

ReadAhead::~ReadAhead() {
  bool leave = false;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->quit = true;
    leave = shared_->in_read && shared_->keep;
  }
  shared_->wake.notify_all();
  if (leave) {
    worker_.detach();
  } else {
    worker_.join();
  }
}

void ReadAhead::run(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  try {
    const std::size_t slots = s.buffers.size();
    std::size_t tail = 0;
    for (;;) {
      bool request = false;
      int64_t first = 0;
      int64_t sectors = 0;
      uint8_t* into = nullptr;
      {
        std::unique_lock lock(s.mutex);
        // A slot is free when it is neither queued nor held by the caller.
        s.wake.wait(lock,
                    [&] { return s.quit || s.request_wanted || (s.streaming && !s.finished && s.count < slots); });
        if (s.quit) return;
        if (s.request_wanted) {
          request = true;
          s.request_wanted = false;
          first = s.request_first;
          sectors = s.request_count;
          into = s.request_buffer.data();
        } else {
          first = s.next_first;
          sectors = std::min(s.chunk_sectors, s.end - first);
        }
        s.in_read = true;
      }
      if (!request) {
        AlignedBuffer& buffer = s.buffers[tail];
        if (buffer.size() == 0) buffer = AlignedBuffer(static_cast<std::size_t>(s.chunk_sectors * kSectorBytes));
        into = buffer.data();
      }
      Chunk chunk = read_chunk(s.reader(), first, sectors, into);
      {
        std::lock_guard lock(s.mutex);
        s.in_read = false;
        if (request) {
          s.request_result = std::move(chunk);
          s.request_done = true;
        } else {
          const bool short_read = chunk.result.ok() && chunk.result.bytes < static_cast<std::size_t>(sectors * kSectorBytes);
          if (first + sectors >= s.end || short_read || chunk.result.error == ReadError::gone ||
              chunk.result.error == ReadError::cancelled) {
            s.finished = true;
          }
          s.chunks[tail] = std::move(chunk);
          ++s.count;
          s.next_first = first + sectors;
          tail = (tail + 1) % slots;
        }
      }
      s.filled.notify_all();
    }
  } catch (...) {
    // Only the bookkeeping above can get here (memory for a failure text):
    // the caller is told, not left waiting.
    {
      std::lock_guard lock(s.mutex);
      s.in_read = false;
      s.broken = true;
    }
    s.filled.notify_all();
  }
}

ReadAhead::Status ReadAhead::next(Chunk& chunk, std::chrono::milliseconds wait) {
  Shared& s = *shared_;
  if (!streaming_) {
    if (cached_ready_ || (cached_next_ < s.end && read_cached_chunk())) {
      cached_ready_ = false;
      chunk = cached_;
      return Status::ready;
    }
    if (cached_next_ >= s.end) return Status::end;
    // Not all in memory: the worker reads from here on, ahead of the caller.
    start_streaming();
  }
  {
    std::unique_lock lock(s.mutex);
    // A caller that did not release() its chunk releases it by taking the next.
    if (s.held) {
      s.free_held();
      s.wake.notify_all();
    }
    const auto ready = [&] { return s.count > 0 || s.finished || s.broken || (!s.streaming && !s.in_read); };
    if (!s.filled.wait_for(lock, wait, ready)) return Status::pending;
    if (s.count > 0) {
      chunk = s.chunks[s.head];
      s.held = true;
      // Now and then the worker stops reading ahead, so that once its chunks
      // are taken the caller tries memory again: one chunk missing from the
      // page cache for a moment does not make the rest of a pass copy twice.
      if (++streamed_ % kProbeEvery == 0 && s.streaming && !s.finished) s.streaming = false;
      return Status::ready;
    }
    if (s.broken) {
      chunk = s.lost(s.next_first, s.end - s.next_first);
      return Status::ready;
    }
    if (s.finished) return Status::end;
    cached_next_ = s.next_first;
    streaming_ = false;
  }
  return next(chunk, wait);
}

void ReadAhead::release() {
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.mutex);
    if (!s.held) return;
    s.free_held();
  }
  s.wake.notify_all();
}

ReadAhead::Status ReadAhead::read(int64_t first, int64_t count, Chunk& chunk, std::chrono::milliseconds wait) {
  Shared& s = *shared_;
  count = std::min<int64_t>(count, kBlockSectors);
  std::unique_lock lock(s.mutex);
  if (!s.request_active || s.request_first != first || s.request_count != count) {
    if (s.request_active && !s.request_done) {
      // A different range while one is in flight: the worker reads them in turn.
      if (!s.filled.wait_for(lock, wait, [&] { return s.request_done || s.broken; })) return Status::pending;
    }
    s.request_active = true;
    s.request_wanted = true;
    s.request_done = false;
    s.request_first = first;
    s.request_count = count;
    s.wake.notify_all();
  }
  if (!s.filled.wait_for(lock, wait, [&] { return s.request_done || s.broken; })) return Status::pending;
  s.request_active = false;
  chunk = s.request_done ? s.request_result : s.lost(first, count);
  return Status::ready;
}

}  // namespace clip::sources
