#include "imagegen/image.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <stdexcept>

namespace clip::imagegen {
namespace {

bool start_code_at(std::span<const uint8_t> s, std::size_t i) {
  return i + 3 <= s.size() && s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1;
}

}  // namespace

VideoFeed::VideoFeed(std::span<const uint8_t> stream) : stream_(stream) {
  // A unit runs from its start code (with a fourth leading zero when there is
  // one) to the next start code.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 3 <= stream.size(); ++i) {
    if (start_code_at(stream, i)) {
      starts.push_back(i > 0 && stream[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  }
  if (starts.empty()) throw std::invalid_argument("no NAL units in the stream");
  // Parameter sets (SPS 7, PPS 8) stay in one piece with the picture after
  // them: a block boundary between them makes the stream parser close an
  // access unit that has no picture.
  std::size_t group = starts[0];
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] : stream.size();
    std::size_t header = stream[starts[k]] == 0 && stream[starts[k] + 1] == 0 &&
                                 stream[starts[k] + 2] == 0
                             ? starts[k] + 4
                             : starts[k] + 3;
    int type = header < stream.size() ? stream[header] & 0x1F : 0;
    if ((type == 7 || type == 8) && end < stream.size()) continue;
    units_.emplace_back(group, end - group);
    group = end;
  }
}

Bytes VideoFeed::next(std::size_t budget) {
  Bytes out;
  do {
    auto [offset, size] = units_[next_unit_];
    if (!out.empty() && out.size() + size > budget) break;
    out.insert(out.end(), stream_.begin() + static_cast<std::ptrdiff_t>(offset),
               stream_.begin() + static_cast<std::ptrdiff_t>(offset + size));
    next_unit_ = (next_unit_ + 1) % units_.size();
  } while (out.size() < budget);
  if (out.size() > kMaxVideoPerBlock) throw std::invalid_argument("a NAL unit does not fit in a block");
  return out;
}

std::string clip_name(int channel, const RecordTime& time) {
  std::string name = "ch0000000000000" + std::to_string(channel) + "-";
  for (uint8_t v : time) {
    char field[8];
    std::snprintf(field, sizeof field, "%02u-", static_cast<unsigned>(v));
    name += field;
  }
  return name + ".264";
}

std::vector<PlacedRecording> write_recordings(const ImageSpec& plan, BlockSink& sink) {
  std::vector<PlacedRecording> placed;
  // One queue of recordings per channel, channels in order of first appearance.
  std::vector<uint8_t> channels;
  std::map<uint8_t, std::deque<std::size_t>> queues;
  for (std::size_t i = 0; i < plan.recordings.size(); ++i) {
    uint8_t ch = plan.recordings[i].channel;
    if (!queues.count(ch)) channels.push_back(ch);
    queues[ch].push_back(i);
    placed.push_back({plan.recordings[i], {}, {}});
  }

  std::map<std::size_t, VideoFeed> feeds;  // by recording
  int64_t sector = plan.first_sector;
  bool any = true;
  while (any) {
    any = false;
    for (uint8_t ch : channels) {
      auto& queue = queues[ch];
      for (int n = 0; n < plan.run && !queue.empty(); ++n) {
        if (sector >= plan.sectors) return placed;
        any = true;
        std::size_t index = queue.front();
        PlacedRecording& rec = placed[index];
        const Recording& r = rec.recording;
        int k = static_cast<int>(rec.block_sectors.size());
        // The end of the image cuts a block as the recorder wrote it.
        std::size_t valid = static_cast<std::size_t>(
            std::min<int64_t>(kBlockSectors, plan.sectors - sector) * kSectorBytes);

        // Each recording plays the stream from its start.
        auto feed = feeds.try_emplace(index, sample_video()).first;
        Bytes video = feed->second.next(plan.video_per_block);

        Bytes block;
        if (k == 0 && r.header) {
          block = header_block(r.channel, r.time, video);
        } else {
          StreamBlockSpec s;
          auto d = r.damaged.find(k);
          if (d != r.damaged.end()) {
            s = d->second;
          } else {
            s.channel_char = channel_char_of(r.channel);
          }
          block = stream_block(s, video);
        }
        sink.put(sector, std::span<const uint8_t>(block.data(), valid));
        rec.block_sectors.push_back(sector);
        rec.block_bytes.push_back(valid);
        sector += kBlockSectors;
        if (static_cast<int>(rec.block_sectors.size()) == r.blocks) queue.pop_front();
      }
    }
  }
  return placed;
}

ImageSpec sample_spec(bool odd_times) {
  ImageSpec plan;
  plan.first_sector = kSearchStartSector + 130;
  plan.run = 2;
  // Channel 1 records three times, channels 2 to 4 twice; the recordings
  // last 12 to 40 blocks, so the clip list shows sizes of 0 to 2 MB.
  const int lengths[4][3] = {{40, 18, 25}, {17, 33, 0}, {12, 20, 0}, {24, 16, 0}};
  for (int i = 0; i < 3; ++i) {
    for (uint8_t ch = 1; ch <= 4; ++ch) {
      int blocks = lengths[ch - 1][i];
      if (blocks == 0) continue;
      Recording r;
      r.channel = ch;
      // Channel 4 starts on the hour; the odd variant gives it minute 60 and
      // its last recording a second of 128.
      r.time = {26, 5, 20, static_cast<uint8_t>(8 + i), static_cast<uint8_t>(15 * ch % 60),
                static_cast<uint8_t>(7 * ch + i)};
      if (odd_times && ch == 4) {
        r.time[4] = 60;
        if (i == 1) r.time[5] = 128;
      }
      r.blocks = blocks;
      plan.recordings.push_back(r);
    }
  }
  int total = 0;
  for (const auto& r : plan.recordings) total += r.blocks;
  plan.sectors = plan.first_sector + int64_t{total} * kBlockSectors;
  return plan;
}

ImageSpec dense_spec(int64_t mib, bool headers) {
  ImageSpec plan;
  plan.first_sector = kSearchStartSector + 130;
  plan.run = 4;
  const int64_t blocks = mib * 16;
  for (int64_t n = 0; n * 64 < blocks; ++n) {
    Recording r;
    r.channel = static_cast<uint8_t>(1 + n % 4);
    r.time = {26, 6, 1, static_cast<uint8_t>(n / 240 % 24), static_cast<uint8_t>(n / 4 % 60),
              static_cast<uint8_t>(n % 4)};
    r.blocks = 64;
    r.header = headers;
    plan.recordings.push_back(r);
  }
  plan.sectors = plan.first_sector + blocks * kBlockSectors;
  return plan;
}

}  // namespace clip::imagegen
