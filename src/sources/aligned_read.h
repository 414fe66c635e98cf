// Sector reads from devices that take whole logical sectors only. A disk with
// 4096-byte logical sectors (native 4K disks, USB bridges above 2 TiB) read
// without the system's cache refuses a read whose offset, length or buffer is
// not a multiple of 4096; the scanner still asks for 512-byte sectors at any
// position. Such reads go through an aligned superset in a bounce buffer and
// hand out the sectors asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "sources/block_source.h"

namespace clip::sources {

// One positioned read of `length` bytes at byte `offset` into `buffer`. The
// caller keeps offset and length multiples of the device's sector and the
// buffer aligned to kBufferAlignment. May deliver fewer bytes than asked
// (the device's end, or a piece of a long read).
using RawRead = std::function<ReadResult(uint64_t offset, std::size_t length, uint8_t* buffer)>;

// Reads `count` 512-byte sectors from `first` through `raw` on a device whose
// logical sector is `unit` bytes (a power of two, 512 or more; 0 for a file,
// which takes any offset, length and buffer). Reads that are aligned already
// go straight into `buffer`. The result counts the bytes delivered before the
// device's end or the first failure, as BlockSource::read_sectors does;
// whole sectors only for a device.
ReadResult read_aligned(const RawRead& raw, std::size_t unit, int64_t first, int64_t count, uint8_t* buffer);

}  // namespace clip::sources
