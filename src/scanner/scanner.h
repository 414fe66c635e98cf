// The scan: a search for the recorder's signature sector from sector
// 8,000,000 on, then a walk from there in blocks of 128 sectors that groups the
// blocks into clips, one open clip per channel. Everything the user sees comes
// out through the callbacks, on the calling thread, so the GUI and the CLI
// show the same lines; reading ahead happens on a worker thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/block_source.h"

namespace clip::scanner {

inline constexpr int64_t kSearchStart = 8000000;
inline constexpr std::string_view kSignature = "MDVR96NT_2_R";
inline constexpr std::size_t kSignatureOffset = 80;
inline constexpr std::string_view kStreamMarker = "dcH264";
inline constexpr std::size_t kTimeOffset = 43;
inline constexpr std::size_t kChannelOffset = 468;

inline constexpr const char* kDoneLine = "扫描完成!";
inline constexpr const char* kReadErrorText = "读源介质错误！";
inline constexpr const char* kNoSizeText = "无法获得源设备的大小，不能扫描！";
inline constexpr const char* kEmptySourceText = "源设备的大小为 0 个扇区，没有可扫描的内容！";
inline constexpr const char* kStoppedLine = "扫描已停止，列表不完整";
inline constexpr const char* kNoSignatureLine = "未找到录像机签名，从扇区 0 开始索引";

struct BlockRun {
  int64_t first_sector = 0;
  int64_t blocks = 0;
  bool operator==(const BlockRun&) const = default;
};

struct SectorRange {
  int64_t first = 0;
  int64_t count = 0;
  bool operator==(const SectorRange&) const = default;
};

// One row of the clip list. channel, start and size_mb are the list's column
// texts; runs are the clip's blocks in reading order, consecutive blocks
// merged. Each block is 128 sectors, or fewer at the end of the source.
struct ClipRow {
  int64_t number = 0;
  std::string channel;
  std::string start;
  int64_t size_mb = 0;
  std::string name;
  int64_t blocks = 0;
  int64_t first_sector = 0;
  bool closed = true;
  std::vector<BlockRun> runs;
};

enum class ScanPass {
  search,  // the signature search, from kSearchStart
  index,   // the clip indexing, from the signature sector (or 0)
};

struct ScanCallbacks {
  // Once per block before it is read, and now and then while a read is slow;
  // the GUI pumps its messages here.
  std::function<void(int64_t sector, int64_t total)> progress;
  std::function<bool()> stop_requested;
  std::function<void(const ClipRow&)> row;
  std::function<void(const std::string&)> log;
  // Time spent retrying unreadable sectors, so a rate can leave it out.
  std::function<void(double seconds)> retry_time;
  // At the start of each pass, with the sectors it will read, [first, end).
  std::function<void(ScanPass pass, int64_t first, int64_t end)> pass;
  // Each newly unreadable range as it is found. When set, it takes the place
  // of the range's log line, so a caller can show unreadable_line(range) at a
  // rate of its own; summary lines still go to log.
  std::function<void(const SectorRange&)> unreadable;
};

struct ScanOptions {
  std::string device_path;   // as shown in the first log line
  int64_t first_number = 1;  // number of the first row (rows of earlier scans stay)
  int sector_tries = 3;      // reads of one failing sector before it is zero-filled
  int chunk_blocks = 32;     // read-ahead chunk, in blocks
  int depth = 4;             // read-ahead chunks in flight
  // First sector of the signature search; the tests and the fuzzer move it
  // near the start so small sources exercise the search.
  int64_t search_start = kSearchStart;
};

enum class ScanEnd {
  complete,  // reached the end of the source
  stopped,   // stop_requested answered true
  failed,    // the source stopped answering ("读源介质错误！")
  refused,   // nothing to scan: the source's size is unknown or 0
};

struct ScanResult {
  ScanEnd end = ScanEnd::complete;
  std::optional<int64_t> signature_sector;
  std::vector<SectorRange> unreadable;  // ascending, merged
  int64_t rows = 0;
  int64_t zero_blocks = 0;  // all-zero blocks left out of the clips
  int64_t sectors = 0;  // T
  std::string message;  // for failed and refused
};

ScanResult scan(sources::BlockSource& source, const ScanOptions& options, const ScanCallbacks& callbacks);

// The pieces of the indexing, exposed for the tests and for the GUI's texts.

using TimeFields = std::array<uint8_t, 6>;

// "12-05-20-13-45-30-": each field in decimal with at least two digits, each
// followed by "-".
std::string time_text(const TimeFields& fields);
// "ch0000000000000" + channel + "-" + time text + ".264"; an unknown channel
// or time leaves its part empty.
std::string clip_name(std::optional<int> channel, const std::optional<TimeFields>& time);
// "01", "10", "100"; empty for no channel.
std::string channel_column(std::optional<int> channel);
// "2012-05-20 13-45-30"; empty before any header block.
std::string start_column(const std::optional<TimeFields>& time);
// The log line of one unreadable range.
std::string unreadable_line(const SectorRange& range);
// Blocks x 64 KiB in whole MiB.
inline int64_t size_mb(int64_t blocks) { return blocks * 64 / 1024; }

// Bytes 80 to 91 of the block's first sector carry the signature.
bool is_header_block(const uint8_t* block, std::size_t valid);

// Every one of the `size` bytes is zero. An H.264 stream never holds three
// zero bytes in a row inside a unit, so such a block is no video.
bool is_zero_block(const uint8_t* data, std::size_t size);

// First position p >= from with the six marker bytes at p..p+5 inside
// [0, size); size when there is none. Searches 16 bytes a step.
std::size_t find_stream_marker(const uint8_t* data, std::size_t size, std::size_t from = 0);

// The channel a stream block names: digit + 1 of the character two bytes
// before the first usable marker. A marker whose channel character is not a
// decimal digit is not a marker: the search goes on past it. For a marker at
// position 0 or 1 the character lies in the block before: `before` holds that
// block's last two bytes when it was read just before this one, otherwise it
// is null and such a marker is passed over too.
std::optional<int> marker_channel(const uint8_t* block, std::size_t valid, const uint8_t* before = nullptr);

}  // namespace clip::scanner
