#include "export/repair.h"

#include "scanner/scanner.h"

namespace clip::video {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

}  // namespace

std::vector<uint8_t> ParameterSets::annex_b() const {
  std::vector<uint8_t> out;
  out.reserve(sps.size() + pps.size() + 8);
  for (const auto* unit : {&sps, &pps}) {
    out.insert(out.end(), kStartCode, kStartCode + 4);
    out.insert(out.end(), unit->begin(), unit->end());
  }
  return out;
}

std::string parameter_sets_origin(const ParameterSets& sets) {
  if (!sets.borrowed()) return "clip";
  const int64_t sps = sets.sps_sector, pps = sets.pps_sector;
  if (sps < 0 || pps < 0 || sps == pps) return "sector " + std::to_string(sps >= 0 ? sps : pps);
  return "sectors " + std::to_string(sps) + ", " + std::to_string(pps);
}

std::optional<int> block_channel(const uint8_t* block, std::size_t valid) {
  if (scanner::is_header_block(block, valid)) {
    if (valid <= scanner::kChannelOffset) return std::nullopt;
    return block[scanner::kChannelOffset];
  }
  return scanner::marker_channel(block, valid);
}

ParameterSetSearch::ParameterSetSearch(sources::BlockSource& source, int64_t first_sector, int channel,
                                       const Missing& missing, int max_blocks, std::function<bool()> stop)
    : source_(source),
      channel_(channel),
      missing_(missing),
      max_blocks_(max_blocks),
      stop_(std::move(stop)),
      block_sector_(first_sector),
      block_(sources::kBlockBytes) {}

bool ParameterSetSearch::load_previous_block() {
  while (blocks_read_ < max_blocks_ && block_sector_ >= sources::kBlockSectors) {
    if (stop_ && stop_()) {
      stopped_ = true;
      return false;
    }
    block_sector_ -= sources::kBlockSectors;
    ++blocks_read_;
    const auto got = source_.read_block(block_sector_, block_.data());
    if (got.error == sources::ReadError::cancelled) {
      stopped_ = true;
      return false;
    }
    if (got.error == sources::ReadError::gone) {
      gone_ = true;
      return false;
    }
    if (!got.ok() || got.bytes == 0) continue;
    if (block_channel(block_.data(), got.bytes) != channel_) continue;
    units_ = split_nal_units(std::span<const uint8_t>(block_.data(), got.bytes));
    // A unit that runs to the block's end may go on in the next block of the
    // channel, which lies elsewhere: only units closed by a start code count.
    if (!units_.empty() && units_.back().offset + units_.back().size >= got.bytes) units_.pop_back();
    unit_ = units_.size();
    if (unit_ > 0) return true;
  }
  return false;
}

std::optional<ParameterSets> ParameterSetSearch::next() {
  for (;;) {
    while (unit_ == 0) {
      if (!load_previous_block()) return std::nullopt;
    }
    const NalUnit& unit = units_[--unit_];
    const std::span<const uint8_t> bytes(block_.data() + unit.offset, unit.size);
    if (missing_.need_pps && found_.pps.empty() && unit.type == kNalPps) {
      if (const auto pps = parse_pps(bytes); pps && pps->id == missing_.pps_id) {
        found_.pps.assign(bytes.begin(), bytes.end());
        found_.pps_fields = *pps;
        found_.pps_sector = block_sector_;
      }
    }
    const std::optional<int> sps_id =
        missing_.need_pps ? (found_.pps.empty() ? std::nullopt : std::optional<int>(found_.pps_fields.sps_id))
                          : missing_.sps_id;
    const bool need_sps = !sps_id || (missing_.own_sps & (1u << *sps_id)) == 0;
    if (need_sps && found_.sps.empty() && sps_id && unit.type == kNalSps) {
      if (const auto sps = parse_sps(bytes); sps && sps->id == *sps_id) {
        found_.sps.assign(bytes.begin(), bytes.end());
        found_.sps_fields = *sps;
        found_.sps_sector = block_sector_;
      }
    }
    const bool complete = (!missing_.need_pps || !found_.pps.empty()) && sps_id && (!need_sps || !found_.sps.empty());
    if (complete) {
      ParameterSets candidate = std::move(found_);
      found_ = ParameterSets{};
      return candidate;
    }
  }
}

}  // namespace clip::video
