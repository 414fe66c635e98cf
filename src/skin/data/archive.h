// The skin archive: the container a skin stream unpacks to. Little-endian:
// version (20000), L (name list length), two ignored words, L bytes of names
// each ended by CR LF, one 32-bit size per name, then the entries' bytes in
// name order. Names compare in lower case; the first of duplicates wins.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "skin/data/lzh.h"
#include "skin/data/result.h"

namespace clip::skin {

inline constexpr std::uint32_t kArchiveVersion = 20000;
inline constexpr std::size_t kMaxArchiveEntries = 1001;
inline constexpr std::size_t kArchiveHeaderSize = 16;
// What the user is told about an archive of another version.
inline constexpr std::string_view kOldSkinMessage = "This is Older Skin File\rPlease update to new version !";

struct FoundEntry {
  std::string_view name;
  std::span<const std::uint8_t> data;
};

class TSkinReader {
 public:
  // Decompresses a skin stream and reads the archive in it. On failure the
  // reader holds no entries; a version other than 20000 gives old_version.
  Status OpenArchive(std::span<const std::uint8_t> skin_stream, std::uint32_t max_unpacked = kMaxUnpackedSize);
  // Reads an archive that is already decompressed.
  Status open_unpacked(std::vector<std::uint8_t> archive);

  // The first entry whose name equals name in lower case.
  std::optional<std::span<const std::uint8_t>> FindEntry(std::string_view name) const;
  // The first entry whose lower-case name contains text; text itself is
  // used as given, so an upper-case text finds nothing.
  std::optional<FoundEntry> FindEntryContaining(std::string_view text) const;

  const std::vector<std::string>& names() const { return names_; }
  const std::vector<std::uint32_t>& sizes() const { return sizes_; }

 private:
  std::span<const std::uint8_t> entry(std::size_t index) const;

  std::vector<std::uint8_t> archive_;
  std::size_t data_start_ = 0;
  std::vector<std::string> names_;
  std::vector<std::uint32_t> sizes_;
  std::vector<std::size_t> offsets_;
};

struct ArchiveEntry {
  std::string name;
  std::vector<std::uint8_t> data;
};

// Lays entries out as an archive, in the order given. Names may not hold a
// line break, and the archive must stay within what a reader accepts.
Result<std::vector<std::uint8_t>> write_archive(std::span<const ArchiveEntry> entries);
// write_archive, then compressed as a skin stream.
Result<std::vector<std::uint8_t>> pack_skin_stream(std::span<const ArchiveEntry> entries);

std::string ascii_lower(std::string_view text);

}  // namespace clip::skin
