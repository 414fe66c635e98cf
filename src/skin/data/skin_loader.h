// Loading a skin: skin stream -> archive -> description -> elements.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "skin/data/archive.h"
#include "skin/data/elements.h"
#include "skin/data/result.h"

namespace clip::skin {

// Told about an archive of an older version; the application shows it in a
// message box, tests replace it.
using SkinNotifier = std::function<void(std::string_view message)>;

// Unpacks the skin stream (4-byte unpacked size, then LZH bits), opens the
// archive and builds every element from its first ".ini" entry, parsed in
// memory. A damaged archive, or one without a description, is rejected.
Result<SkinElements> load_skin_stream(std::span<const uint8_t> skin_stream, const SkinNotifier& notify = {});

// Builds the elements of an opened archive; bad_data when it has no ".ini".
Result<SkinElements> build_from_archive(const TSkinReader& reader);

}  // namespace clip::skin
