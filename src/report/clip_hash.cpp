#include "report/clip_hash.h"

#include <algorithm>
#include <cstring>

#include "recover/recover.h"

namespace clip::report {
namespace {

using sources::kBlockSectors;
using sources::kSectorBytes;
using sources::ReadError;

// One block at a time: a clip's blocks are usually scattered between the
// blocks of other channels, so bigger reads would not help.
class BlockHasher {
 public:
  BlockHasher(sources::BlockSource& source, const HashOptions& options)
      : source_(source), options_(options), buffer_(sources::kBlockBytes) {}

  // Adds sectors [first, first + count) (count <= 128) to the digest.
  bool add(int64_t first, int64_t count, ClipDigest& digest) {
    if (options_.stop && options_.stop()) return stop(digest, ClipDigest::End::stopped);
    const auto got = source_.read_sectors(first, count, buffer_.data());
    if (got.error == ReadError::gone) return stop(digest, ClipDigest::End::gone);
    if (got.error == ReadError::cancelled) return stop(digest, ClipDigest::End::stopped);
    std::size_t have = got.bytes - got.bytes % kSectorBytes;
    if (!got.ok()) {
      for (int64_t k = static_cast<int64_t>(have) / kSectorBytes; k < count; ++k) {
        if (!sector(first + k, buffer_.data() + k * kSectorBytes, digest)) return false;
      }
      have = static_cast<std::size_t>(count * kSectorBytes);
    } else if (have < static_cast<std::size_t>(count * kSectorBytes)) {
      at_end_ = true;  // the source really ends here
    }
    hash_.update(buffer_.data(), have);
    digest.bytes += have;
    if (options_.progress) options_.progress(digest.bytes);
    return true;
  }

  bool at_end() const { return at_end_; }
  std::string finish() { return hash_.hex(); }

 private:
  bool stop(ClipDigest& digest, ClipDigest::End end) {
    digest.end = end;
    return false;
  }

  bool sector(int64_t s, uint8_t* into, ClipDigest& digest) {
    for (int attempt = 0; attempt < std::max(1, options_.sector_tries); ++attempt) {
      const auto one = source_.read_sectors(s, 1, into);
      if (one.error == ReadError::gone) return stop(digest, ClipDigest::End::gone);
      if (one.error == ReadError::cancelled) return stop(digest, ClipDigest::End::stopped);
      if (one.ok() && one.bytes == static_cast<std::size_t>(kSectorBytes)) return true;
    }
    std::memset(into, 0, static_cast<std::size_t>(kSectorBytes));
    auto& bad = digest.unreadable;
    if (!bad.empty() && bad.back().first + bad.back().count == s) {
      ++bad.back().count;
    } else {
      bad.push_back({s, 1});
    }
    return true;
  }

  sources::BlockSource& source_;
  const HashOptions& options_;
  std::vector<uint8_t> buffer_;
  recover::Sha256 hash_;
  bool at_end_ = false;
};

}  // namespace

ClipDigest hash_clip(sources::BlockSource& source, const std::vector<scanner::BlockRun>& runs,
                     const HashOptions& options) {
  ClipDigest digest;
  BlockHasher hasher(source, options);
  const int64_t total = source.sector_count();
  int64_t left = options.max_blocks < 0 ? INT64_MAX : options.max_blocks;
  for (const auto& run : runs) {
    for (int64_t b = 0; b < run.blocks && left > 0 && !hasher.at_end(); ++b, --left) {
      const int64_t first = run.first_sector + b * kBlockSectors;
      const int64_t count = std::min(kBlockSectors, total - first);
      if (count <= 0) break;
      if (!hasher.add(first, count, digest)) return digest;
    }
  }
  digest.sha256 = hasher.finish();
  return digest;
}

std::string hash_sectors(sources::BlockSource& source, int64_t first, int64_t count) {
  ClipDigest digest;
  HashOptions options;
  BlockHasher hasher(source, options);
  for (int64_t s = first; s < first + count && !hasher.at_end(); s += kBlockSectors) {
    if (!hasher.add(s, std::min(kBlockSectors, first + count - s), digest)) return {};
  }
  return hasher.finish();
}

}  // namespace clip::report
