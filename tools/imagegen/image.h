// Recorder disk images: recordings of several channels written block by block,
// interleaved as a recorder writes them, from a first sector on.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "imagegen/layout.h"

namespace clip::imagegen {

// The sample H.264 stream kept with the generator (tools/imagegen/data).
std::span<const uint8_t> sample_video();

// Hands out the NAL units of a stream in order, starting over at its end, in
// chunks that fit a block.
class VideoFeed {
 public:
  explicit VideoFeed(std::span<const uint8_t> stream);

  // Whole NAL units (start codes included) adding up to at most `budget`
  // bytes, and at least one unit; restarts the stream after its last unit.
  Bytes next(std::size_t budget);

  std::size_t unit_count() const { return units_.size(); }

 private:
  std::span<const uint8_t> stream_;
  std::vector<std::pair<std::size_t, std::size_t>> units_;  // offset, size
  std::size_t next_unit_ = 0;
};

struct Recording {
  // Written as the header's channel byte; stream blocks carry the marker of
  // this channel (1 to 10).
  uint8_t channel = 1;
  RecordTime time{};
  int blocks = 1;  // header block included
  // False: the recording starts with a stream block (a disk with no header).
  bool header = true;
  // Stream blocks written differently, by block index within the recording
  // (1 is the first block after the header). The channel character given
  // there is written as it is.
  std::map<int, StreamBlockSpec> damaged;
};

struct ImageSpec {
  int64_t sectors = 0;       // the image's size in sectors
  int64_t first_sector = 0;  // where the first block goes; blocks follow every 128 sectors
  // Recordings of one channel follow each other in this order; the channels
  // take turns, `run` blocks at a time.
  std::vector<Recording> recordings;
  int run = 1;
  std::size_t video_per_block = 6000;
};

struct PlacedRecording {
  Recording recording;
  std::vector<int64_t> block_sectors;  // in reading order
  std::vector<std::size_t> block_bytes;  // valid bytes of each block
};

class BlockSink {
 public:
  virtual ~BlockSink() = default;
  virtual void put(int64_t sector, std::span<const uint8_t> bytes) = 0;
};

// Writes the recordings' blocks into `sink`. Blocks at or past the image's end
// are left out; a block cut by the end is written as far as it goes.
std::vector<PlacedRecording> write_recordings(const ImageSpec& plan, BlockSink& sink);

// The clip name a scanner gives a recording: "ch0000000000000" + channel +
// "-" + the six time bytes, each at least two digits and followed by "-",
// + ".264".
std::string clip_name(int channel, const RecordTime& time);

// The bundled sample: four channels, two or three recordings each, the
// signature at sector 8,000,130 (in the block read from 8,000,128), about
// 12 MiB of recordings, ending a little after them. Every start time is a
// real date and time; with `odd_times` some fields are out of range (minute
// 60, a three-digit second), as the header bytes of a damaged disk may be.
ImageSpec sample_spec(bool odd_times = false);

// Recordings of four channels filling about `mib` MiB just after the search
// start, 64 blocks each with a marker in every stream block; `headers` false
// leaves out the header blocks (and so the signature).
ImageSpec dense_spec(int64_t mib, bool headers = true);

}  // namespace clip::imagegen
