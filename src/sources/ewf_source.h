// Evidence files in the Expert Witness format: NAME.E01 and its further
// segments NAME.E02, NAME.E03 ..., read through libewf as one flat run of
// 512-byte sectors (the media the file was acquired from).
//
// Areas the file itself marks as not evidence read as media errors without
// their zeros being handed out: sectors the acquisition could not read from
// the original disk, and chunks whose stored checksum does not match (a
// damaged segment file). The scanner's repair path then reports them as
// unreadable, as it does for a damaged disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sources/block_source.h"

namespace clip::sources {

// Acquisition hashes stored in the evidence file, lower-case hex; empty when
// the file carries none.
struct ImageHashes {
  std::string md5;
  std::string sha1;
  bool operator==(const ImageHashes&) const = default;
};

// True for a path ending in ".E01" (any case): such a path opens as an
// evidence file.
bool is_ewf_path(const std::string& path);

// Opens the evidence file set whose first segment is `path` (UTF-8), finding
// the other segments beside it. `sectors` as for open_block_source().
OpenResult open_ewf_source(const std::string& path, int64_t sectors = -1);

// What an evidence-file source knows besides its sectors; nullopt for other
// sources.
struct EwfDetails {
  ImageHashes hashes;
  std::vector<std::string> segments;  // the segment files opened, in order
  uint64_t media_bytes = 0;
  uint32_t bytes_per_sector = 512;  // as acquired; reads are always in 512-byte sectors
};
std::optional<EwfDetails> ewf_details(const BlockSource& source);

}  // namespace clip::sources
