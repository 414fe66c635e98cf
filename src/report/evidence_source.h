// What is known about a source beyond its sectors before it is scanned: the
// acquisition hashes an evidence file carries, and the areas a mapfile says
// the copying tool did not recover. The command-line tool and the window
// program both read it here, so they log the same lines and treat the same
// sectors as unreadable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "report/mapfile.h"
#include "report/result.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"

namespace clip::report {

struct SourceEvidence {
  std::optional<sources::ImageHashes> hashes;  // when the evidence file states any
  std::string mapfile;                         // the mapfile used; empty when none
  std::vector<SectorRange> holes;              // the sectors it marks as not recovered
  std::vector<std::string> lines;              // what was found, for the log
};

// `total_sectors` of the source at `path`, `ewf` its evidence-file details
// when it is one. The mapfile is `mapfile` when given, otherwise IMAGE.map or
// IMAGE.mapfile beside `path` when `look_beside`. A mapfile that can't be
// read or parsed is an error (its line named): a source whose holes are
// unknown would hand out zeros as evidence.
Result<SourceEvidence> source_evidence(const std::string& path, int64_t total_sectors,
                                       const std::optional<sources::EwfDetails>& ewf, const std::string& mapfile,
                                       bool look_beside);

// The source with the evidence's holes failing unread; as it was without a mapfile.
std::unique_ptr<sources::BlockSource> apply_evidence(std::unique_ptr<sources::BlockSource> source,
                                                     const SourceEvidence& evidence);

}  // namespace clip::report
