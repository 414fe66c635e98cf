// A set of sectors kept as disjoint, non-touching ranges in ascending order.
// Adding a range costs O(log n) plus the ranges it swallows, so a disk with
// hundreds of thousands of scattered bad sectors is recorded in linear time,
// in whatever order the ranges come.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace clip::scanner {

struct SectorRange;

class SectorRanges {
 public:
  // True when every sector of [first, first + count) is in the set already.
  bool contains(int64_t first, int64_t count) const;
  // Adds [first, first + count), merging it with the ranges it overlaps or
  // touches.
  void add(int64_t first, int64_t count);
  std::vector<SectorRange> ranges() const;
  std::size_t size() const { return ends_.size(); }

 private:
  std::map<int64_t, int64_t> ends_;  // first sector -> one past the last
};

}  // namespace clip::scanner
