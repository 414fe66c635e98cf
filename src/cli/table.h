// The clip list as a text table: columns lined up by display width, in at
// most 100 cells for any disk up to 5 TB.
#pragma once

#include <string>
#include <vector>

#include "scanner/scanner.h"

namespace clip::cli {

// Header, one line per clip and a closing line with the count, which says
// when the list is partial. Clips still open at the end show 未结束.
std::string clip_table(const std::vector<scanner::ClipRow>& rows, bool partial);

}  // namespace clip::cli
