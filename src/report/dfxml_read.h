// Reading a DFXML report back, for verification: the image size and, per
// fileobject, its name, size, byte runs and SHA-256. The reader takes
// well-formed XML of the kind the writer makes (elements, attributes, text,
// character and the five predefined entity references, comments,
// declarations); a document type declaration, an unknown entity or a broken
// structure is an error naming its line. Elements it does not know are
// passed over, so reports from other tools read as far as they carry these
// items.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/result.h"
#include "report/verify.h"
#include "sources/block_source.h"

namespace clip::report {

struct DfxmlRun {
  int64_t img_offset = 0;  // bytes
  int64_t len = 0;         // bytes
  bool zeros = false;      // fill='0': zeros in the file, not the image's bytes
};

struct DfxmlObject {
  std::string filename;
  int64_t filesize = -1;  // -1 when the document gives none
  std::vector<DfxmlRun> runs;
  std::string sha256;  // lower-case hex; empty when the document gives none
};

struct DfxmlReport {
  int64_t image_size = -1;  // -1 when the document gives none
  std::vector<DfxmlObject> objects;
};

Result<DfxmlReport> parse_dfxml(std::string_view text);
Result<DfxmlReport> load_dfxml(const std::string& path);

// Reads every fileobject's byte runs from `source` (zeros for fill runs),
// and compares the bytes' SHA-256 and count with the document's; the image
// size too.
VerifyResult verify_dfxml(sources::BlockSource& source, const DfxmlReport& report, const VerifyOptions& options = {});

}  // namespace clip::report
