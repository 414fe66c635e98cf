#include "scanner/scanner.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "scanner/sector_ranges.h"
#include "sources/read_ahead.h"

namespace clip::scanner {
namespace {

using sources::BlockSource;
using sources::kBlockSectors;
using sources::kSectorBytes;
using sources::ReadAhead;
using sources::ReadError;

constexpr auto kPollInterval = std::chrono::milliseconds(50);

// State shared by the two passes of one scan.
struct ScanState {
  BlockSource& source;
  const ScanOptions& options;
  const ScanCallbacks& callbacks;
  ScanResult& result;
  SectorRanges known;                  // every unreadable sector reported so far
  std::optional<SectorRange> pending;  // unreadable sectors not yet reported
  int64_t pass_unreadable = 0;         // unreadable sectors met in this pass
  bool real_end_logged = false;
  std::string failure;  // what a throwing source said

  void log(const std::string& line) const {
    if (callbacks.log) callbacks.log(line);
  }
  // The operator's stop, or a cancel() of the source by whoever owns it.
  bool stop() const { return (callbacks.stop_requested && callbacks.stop_requested()) || source.cancelled(); }
  void progress(int64_t s) const {
    if (callbacks.progress) callbacks.progress(s, result.sectors);
  }

  void unreadable(int64_t sector) {
    ++pass_unreadable;
    if (pending && pending->first + pending->count == sector) {
      ++pending->count;
      return;
    }
    flush_unreadable();
    pending = SectorRange{sector, 1};
  }

  // Records the pending range and reports it, unless an earlier pass already
  // reported all of it (the search and the indexing may read the same
  // sectors).
  void flush_unreadable() {
    if (!pending) return;
    const SectorRange range = *pending;
    pending.reset();
    if (known.contains(range.first, range.count)) return;
    known.add(range.first, range.count);
    if (callbacks.unreadable) {
      callbacks.unreadable(range);
    } else {
      log(unreadable_line(range));
    }
  }

  // The pass's unreadable sectors, in one line when there were any.
  void end_pass(ScanPass pass) {
    flush_unreadable();
    if (pass_unreadable > 0) {
      log(std::string(pass == ScanPass::search ? "搜索签名时" : "索引片段时") + "共 " +
          std::to_string(pass_unreadable) + " 个扇区无法读取");
    }
    pass_unreadable = 0;
  }

  void real_end(int64_t sector) {
    if (real_end_logged) return;
    real_end_logged = true;
    log("源介质在扇区 " + std::to_string(sector) + " 处已到尽头（报告为 " + std::to_string(result.sectors) +
        " 个扇区），扫描到此为止");
  }
};

enum class Next { block, end, stopped, failed };

struct Block {
  const uint8_t* data = nullptr;
  std::size_t valid = 0;
  bool damaged = false;  // some sectors could not be read and are zeros here
};

// Hands out the blocks of one pass in order, from the read-ahead chunks where
// they were read whole, otherwise repaired here: the rest of the block is read
// again, then sector by sector with a bounded number of tries, and sectors
// that still fail are zero-filled and reported. Every read goes through the
// read-ahead worker, so a read that hangs never holds this thread past a stop.
class BlockFeed {
 public:
  BlockFeed(ScanState& state, int64_t first)
      : state_(state),
        total_(state.result.sectors),
        reader_(state.source, first, total_, state.options.chunk_blocks, state.options.depth),
        repair_(sources::kBlockBytes) {}

  ~BlockFeed() {
    if (have_chunk_) drop_chunk();
  }

  // The scan iteration: progress, the stop test, then the block at s.
  Next next(int64_t s, Block& block) {
    state_.progress(s);
    if (state_.stop()) return Next::stopped;
    if (at_real_end_) return Next::end;
    while (!have_chunk_ || s >= chunk_.first + chunk_.sectors) {
      if (have_chunk_) drop_chunk();
      const auto status = reader_.next(chunk_, kPollInterval);
      if (status == ReadAhead::Status::end) return Next::end;
      if (status == ReadAhead::Status::pending) {
        state_.progress(s);
        if (state_.stop()) return Next::stopped;
        continue;
      }
      have_chunk_ = true;
    }
    block = Block{};
    const std::size_t want = static_cast<std::size_t>(std::min(kBlockSectors, total_ - s) * kSectorBytes);
    const std::size_t offset = static_cast<std::size_t>((s - chunk_.first) * kSectorBytes);
    const std::size_t delivered = chunk_.result.bytes;
    if (offset + want <= delivered) {
      block.data = chunk_.data + offset;
      block.valid = want;
      last_good_ = s;
      return Next::block;
    }
    if (chunk_.result.ok()) {
      // The read came back short without an error: the source really ends here.
      const std::size_t avail = delivered > offset ? delivered - offset : 0;
      state_.real_end(chunk_.first + static_cast<int64_t>(delivered) / kSectorBytes);
      at_real_end_ = true;
      if (avail == 0) return Next::end;
      block.data = chunk_.data + offset;
      block.valid = avail;
      return Next::block;
    }
    if (const auto end = ended(chunk_)) return *end;
    return repair(s, want, offset, delivered, block);
  }

 private:
  void drop_chunk() {
    reader_.release();
    have_chunk_ = false;
  }

  // How a failed read ends the pass, if it does.
  std::optional<Next> ended(const ReadAhead::Chunk& chunk) {
    if (chunk.result.error == ReadError::cancelled) return Next::stopped;
    if (chunk.result.error == ReadError::gone) {
      if (!chunk.failure.empty()) state_.failure = chunk.failure;
      return Next::failed;
    }
    return std::nullopt;
  }

  // One read through the worker, keeping the caller's window alive and
  // giving up on a stop while it waits.
  std::optional<Next> fetch(int64_t s, int64_t first, int64_t count, ReadAhead::Chunk& out) {
    while (reader_.read(first, count, out, kPollInterval) == ReadAhead::Status::pending) {
      state_.progress(s);
      if (state_.stop()) return Next::stopped;
    }
    return ended(out);
  }

  Next repair(int64_t s, std::size_t want, std::size_t offset, std::size_t delivered, Block& block) {
    const auto started = std::chrono::steady_clock::now();
    struct ReportTime {
      const ScanState& state;
      std::chrono::steady_clock::time_point started;
      ~ReportTime() {
        if (state.callbacks.retry_time) {
          state.callbacks.retry_time(
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        }
      }
    } report{state_, started};

    const int64_t sectors = static_cast<int64_t>(want) / kSectorBytes;
    int64_t k = 0;
    if (delivered > offset) {
      k = static_cast<int64_t>(std::min(want, delivered - offset)) / kSectorBytes;
      std::memcpy(repair_.data(), chunk_.data + offset, static_cast<std::size_t>(k * kSectorBytes));
    }
    int64_t good = k;
    if (k > 0) last_good_ = s + k - 1;
    // The failure may lie in another block of the chunk, so the rest of this
    // block is read again in one piece; a sector that fails then gets a few
    // tries alone, and the rest after it is again read in one piece. A block
    // with one bad sector costs a handful of reads, not one per sector.
    ReadAhead::Chunk piece;
    while (k < sectors) {
      state_.progress(s);
      if (state_.stop()) return Next::stopped;
      if (const auto end = fetch(s, s + k, sectors - k, piece)) return *end;
      const int64_t got = std::min(static_cast<int64_t>(piece.result.bytes) / kSectorBytes, sectors - k);
      if (got > 0) {
        std::memcpy(repair_.data() + k * kSectorBytes, piece.data, static_cast<std::size_t>(got * kSectorBytes));
        state_.flush_unreadable();
        last_good_ = s + k + got - 1;
        good += got;
        k += got;
      }
      if (piece.result.ok()) {
        // Past the real end: what is left of the block does not exist.
        if (k < sectors) return cut_short(s + k, k, block);
        break;
      }
      uint8_t* into = repair_.data() + k * kSectorBytes;
      bool read = false;
      for (int attempt = 0; attempt < std::max(1, state_.options.sector_tries) && !read; ++attempt) {
        state_.progress(s);
        if (state_.stop()) return Next::stopped;
        if (const auto end = fetch(s, s + k, 1, piece)) return *end;
        if (piece.result.ok() && piece.result.bytes == static_cast<std::size_t>(kSectorBytes)) {
          std::memcpy(into, piece.data, static_cast<std::size_t>(kSectorBytes));
          read = true;
        } else if (piece.result.ok()) {
          return cut_short(s + k, k, block);
        }
      }
      if (read) {
        state_.flush_unreadable();
        last_good_ = s + k;
        ++good;
      } else {
        std::memset(into, 0, static_cast<std::size_t>(kSectorBytes));
        state_.unreadable(s + k);
        block.damaged = true;
      }
      ++k;
    }
    // A block with no readable sector at all may mean the disk is gone while
    // the system still answers with media errors: a sector that really was
    // read before must still read, or the source has stopped answering.
    if (good == 0 && last_good_ >= 0) {
      if (const auto end = fetch(s, last_good_, 1, piece)) return *end;
      if (!piece.result.ok() || piece.result.bytes != static_cast<std::size_t>(kSectorBytes)) return Next::failed;
    }
    block.data = repair_.data();
    block.valid = want;
    return Next::block;
  }

  Next cut_short(int64_t end, int64_t sectors_read, Block& block) {
    state_.real_end(end);
    at_real_end_ = true;
    block.data = repair_.data();
    block.valid = static_cast<std::size_t>(sectors_read * kSectorBytes);
    return block.valid == 0 ? Next::end : Next::block;
  }

  ScanState& state_;
  const int64_t total_;
  ReadAhead reader_;
  ReadAhead::Chunk chunk_;
  bool have_chunk_ = false;
  bool at_real_end_ = false;
  int64_t last_good_ = -1;  // a sector that was really read in this pass
  std::vector<uint8_t> repair_;
};

// The open clips of the indexing pass, one per channel, in the order they
// were opened.
class Indexer {
 public:
  explicit Indexer(ScanState& state) : state_(state) {}

  void process(int64_t s, const Block& b) {
    const uint8_t* block = b.data;
    const std::size_t valid = b.valid;
    const bool header = is_header_block(block, valid) && valid > kChannelOffset;
    // The block before, when it came just before in this pass, lends its last
    // bytes to a marker at position 0 or 1.
    const std::array<uint8_t, 2> previous = tail_;
    const uint8_t* before = tail_end_ == s ? previous.data() : nullptr;
    if (valid >= 2) {
      tail_ = {block[valid - 2], block[valid - 1]};
      tail_end_ = s + static_cast<int64_t>(valid) / kSectorBytes;
    } else {
      tail_end_ = -1;
    }
    if (header) {
      TimeFields fields;
      std::memcpy(fields.data(), block + kTimeOffset, fields.size());
      time_ = fields;
      channel_ = block[kChannelOffset];
    } else if (const auto channel = marker_channel(block, valid, before)) {
      channel_ = *channel;
    } else if (!b.damaged && is_zero_block(block, valid)) {
      // Empty space, not video: it neither opens nor extends a clip. A block
      // with unreadable sectors is not judged by its zero-filled bytes.
      ++state_.result.zero_blocks;
      return;
    }
    auto match = std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.channel == channel_; });
    std::size_t current;
    if (match != open_.end() && header) {
      emit(*match, true);
      open_.erase(match);
      open_.push_back(Open{channel_, time_, {}, 0});
      current = open_.size() - 1;
    } else if (match == open_.end()) {
      open_.push_back(Open{channel_, time_, {}, 0});
      current = open_.size() - 1;
    } else {
      current = static_cast<std::size_t>(match - open_.begin());
    }
    Open& clip = open_[current];
    if (!clip.runs.empty() && clip.runs.back().first_sector + clip.runs.back().blocks * kBlockSectors == s) {
      ++clip.runs.back().blocks;
    } else {
      clip.runs.push_back(BlockRun{s, 1});
    }
    ++clip.blocks;
  }

  // Clips still open at the end are listed too, so the last clip of every
  // channel can be recovered.
  void finish() {
    for (const Open& clip : open_) emit(clip, false);
    open_.clear();
  }

 private:
  struct Open {
    std::optional<int> channel;
    std::optional<TimeFields> time;
    std::vector<BlockRun> runs;
    int64_t blocks;
  };

  void emit(const Open& clip, bool closed) {
    ClipRow row;
    row.number = state_.options.first_number + state_.result.rows;
    row.channel = channel_column(clip.channel);
    row.start = start_column(clip.time);
    row.size_mb = size_mb(clip.blocks);
    row.name = clip_name(clip.channel, clip.time);
    row.blocks = clip.blocks;
    row.first_sector = clip.runs.front().first_sector;
    row.closed = closed;
    row.runs = clip.runs;
    ++state_.result.rows;
    if (state_.callbacks.row) state_.callbacks.row(row);
  }

  ScanState& state_;
  std::optional<int> channel_;
  std::optional<TimeFields> time_;
  std::vector<Open> open_;
  std::array<uint8_t, 2> tail_{};
  int64_t tail_end_ = -1;  // the sector after the block tail_ came from
};

}  // namespace

std::string unreadable_line(const SectorRange& range) {
  return "扇区 " + std::to_string(range.first) + " 起 " + std::to_string(range.count) + " 个扇区无法读取，已用零填充";
}

ScanResult scan(sources::BlockSource& source, const ScanOptions& options, const ScanCallbacks& callbacks) {
  ScanResult result;
  result.sectors = source.sector_count();
  ScanState state{source, options, callbacks, result};
  if (result.sectors <= 0) {
    result.end = ScanEnd::refused;
    result.message = result.sectors == 0 ? kEmptySourceText : kNoSizeText;
    return result;
  }
  const int64_t total = result.sectors;
  state.log("您选择了" + options.device_path + ",总大小为：" + std::to_string(total) + "SEC");
  state.log("正在扫描...");

  Block block;
  Next last = Next::end;
  int64_t found = 0;
  const int64_t search_start = std::max<int64_t>(0, options.search_start);
  if (search_start < total) {
    if (callbacks.pass) callbacks.pass(ScanPass::search, search_start, total);
    BlockFeed feed(state, search_start);
    for (int64_t s = search_start; s < total; s += kBlockSectors) {
      last = feed.next(s, block);
      if (last != Next::block) break;
      for (std::size_t i = 0; i + kSignatureOffset + kSignature.size() <= block.valid; i += kSectorBytes) {
        if (is_header_block(block.data + i, block.valid - i)) {
          found = s + static_cast<int64_t>(i) / kSectorBytes;
          result.signature_sector = found;
          break;
        }
      }
      if (result.signature_sector) break;
      last = Next::end;
    }
    state.end_pass(ScanPass::search);
  }

  Indexer indexer(state);
  if (last != Next::failed) {
    if (!result.signature_sector && last != Next::stopped) state.log(kNoSignatureLine);
    if (callbacks.pass) callbacks.pass(ScanPass::index, found, total);
    BlockFeed feed(state, found);
    last = Next::end;
    for (int64_t s = found; s < total; s += kBlockSectors) {
      last = feed.next(s, block);
      if (last != Next::block) break;
      indexer.process(s, block);
      last = Next::end;
    }
    state.end_pass(ScanPass::index);
    if (result.zero_blocks > 0) state.log("共 " + std::to_string(result.zero_blocks) + " 个全零块未计入片段");
  }
  indexer.finish();
  result.unreadable = state.known.ranges();

  switch (last) {
    case Next::stopped:
      result.end = ScanEnd::stopped;
      state.log(kStoppedLine);
      break;
    case Next::failed:
      result.end = ScanEnd::failed;
      result.message = kReadErrorText;
      if (!state.failure.empty()) result.message += " " + state.failure;
      state.log(result.message);
      return result;
    default:
      result.end = ScanEnd::complete;
      break;
  }
  state.log(kDoneLine);
  return result;
}

}  // namespace clip::scanner
