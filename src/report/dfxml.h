// Digital Forensics XML reports of a scan or a recovery: who made it and
// when, the source, and one fileobject per clip with the image byte runs it
// was taken from and the digest of its bytes, so another examiner can cut
// the same bytes out of the image and check them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/scanner.h"
#include "sources/ewf_source.h"

namespace clip::report {

struct DfxmlCreator {
  std::string program = "clipsalvage";
  std::string version;
  std::string command_line;
  std::chrono::system_clock::time_point start, end;
};

struct DfxmlSource {
  std::string path;
  int64_t sectors = 0;
  std::optional<sources::ImageHashes> image_hashes;
  std::vector<scanner::SectorRange> unreadable;  // of the whole scan
};

struct DfxmlClip {
  scanner::ClipRow row;
  uint64_t bytes = 0;  // the clip's bytes (the recovered file's size)
  std::string sha256;  // of those bytes; empty when not known
  std::string output_path;  // the file written; empty when none
  std::vector<scanner::SectorRange> unreadable;  // sectors given as zeros
};

// Text and attribute values: & < > " ' escaped; bytes that XML 1.0 does not
// allow (control characters, broken UTF-8) become U+FFFD, so the document
// always parses.
std::string xml_escape(std::string_view text);

// "2024-03-05T07:08:09Z"
std::string iso8601_utc(std::chrono::system_clock::time_point t);

std::string dfxml_document(const DfxmlCreator& creator, const DfxmlSource& source, const std::vector<DfxmlClip>& clips);

}  // namespace clip::report
