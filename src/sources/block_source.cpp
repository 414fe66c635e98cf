#include "sources/block_source.h"

#include <algorithm>

namespace clip::sources {

int64_t BlockSource::block_sectors(int64_t first) const {
  const int64_t total = sector_count();
  if (first < 0 || first >= total) return 0;
  return std::min(kBlockSectors, total - first);
}

ReadResult BlockSource::read_block(int64_t first, uint8_t* buffer) {
  const int64_t count = block_sectors(first);
  if (count == 0) return {};
  return read_sectors(first, count, buffer);
}

}  // namespace clip::sources
