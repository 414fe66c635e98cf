#include "scanner/sector_ranges.h"

#include <algorithm>
#include <iterator>

#include "scanner/scanner.h"

namespace clip::scanner {

bool SectorRanges::contains(int64_t first, int64_t count) const {
  auto after = ends_.upper_bound(first);
  if (after == ends_.begin()) return false;
  return std::prev(after)->second >= first + count;
}

void SectorRanges::add(int64_t first, int64_t count) {
  if (count <= 0) return;
  int64_t end = first + count;
  auto it = ends_.upper_bound(first);
  if (it != ends_.begin() && std::prev(it)->second >= first) {
    --it;
    first = it->first;
  }
  while (it != ends_.end() && it->first <= end) {
    end = std::max(end, it->second);
    it = ends_.erase(it);
  }
  ends_.emplace_hint(it, first, end);
}

std::vector<SectorRange> SectorRanges::ranges() const {
  std::vector<SectorRange> out;
  out.reserve(ends_.size());
  for (const auto& [first, end] : ends_) out.push_back(SectorRange{first, end - first});
  return out;
}

}  // namespace clip::scanner
