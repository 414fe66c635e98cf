#include "skin/data/archive.h"

#include <algorithm>

namespace clip::skin {

namespace {

std::uint32_t read_u32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
         std::uint32_t{bytes[at + 3]} << 24;
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Error damaged(std::string what) { return Error{ErrorKind::bad_data, std::move(what)}; }

}  // namespace

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

Status TSkinReader::OpenArchive(std::span<const std::uint8_t> skin_stream, std::uint32_t max_unpacked) {
  archive_.clear();
  names_.clear();
  sizes_.clear();
  offsets_.clear();
  auto unpacked = lzh_decode(skin_stream, max_unpacked);
  if (!unpacked) return unpacked.error();
  return open_unpacked(std::move(unpacked.value()));
}

Status TSkinReader::open_unpacked(std::vector<std::uint8_t> archive) {
  archive_.clear();
  names_.clear();
  sizes_.clear();
  offsets_.clear();
  const std::span<const std::uint8_t> bytes(archive);
  if (bytes.size() < kArchiveHeaderSize) return damaged("archive shorter than its header");
  if (read_u32(bytes, 0) != kArchiveVersion) return Error{ErrorKind::old_version, std::string(kOldSkinMessage)};
  const std::uint32_t list_length = read_u32(bytes, 4);
  if (list_length > bytes.size() - kArchiveHeaderSize) return damaged("name list longer than the archive");

  // CR, LF and CR LF each end a line; a final line ending adds no line.
  std::vector<std::string> names;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data() + kArchiveHeaderSize), list_length);
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (names.size() == kMaxArchiveEntries) return damaged("more than 1001 entries");
      names.push_back(ascii_lower(text.substr(start, i - start)));
      i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) {
    if (names.size() == kMaxArchiveEntries) return damaged("more than 1001 entries");
    names.push_back(ascii_lower(text.substr(start)));
  }

  const std::size_t table = kArchiveHeaderSize + list_length;
  if (names.size() * 4 > bytes.size() - table) return damaged("size table beyond the end of the archive");
  const std::size_t data_start = table + names.size() * 4;
  const std::size_t available = bytes.size() - data_start;
  std::vector<std::uint32_t> sizes;
  std::vector<std::size_t> offsets;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::uint32_t size = read_u32(bytes, table + 4 * i);
    if (size > available - offset) return damaged("entry \"" + names[i] + "\" runs past the end of the archive");
    sizes.push_back(size);
    offsets.push_back(offset);
    offset += size;
  }

  archive_ = std::move(archive);
  data_start_ = data_start;
  names_ = std::move(names);
  sizes_ = std::move(sizes);
  offsets_ = std::move(offsets);
  return Done{};
}

std::span<const std::uint8_t> TSkinReader::entry(std::size_t index) const {
  return std::span<const std::uint8_t>(archive_).subspan(data_start_ + offsets_[index], sizes_[index]);
}

std::optional<std::span<const std::uint8_t>> TSkinReader::FindEntry(std::string_view name) const {
  const std::string wanted = ascii_lower(name);
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == wanted) return entry(i);
  return std::nullopt;
}

std::optional<FoundEntry> TSkinReader::FindEntryContaining(std::string_view text) const {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (names_[i].find(text) != std::string::npos) return FoundEntry{names_[i], entry(i)};
  return std::nullopt;
}

Result<std::vector<std::uint8_t>> write_archive(std::span<const ArchiveEntry> entries) {
  if (entries.size() > kMaxArchiveEntries) return Error{ErrorKind::invalid, "more than 1001 entries"};
  std::string list;
  std::uint64_t total = 0;
  for (const auto& e : entries) {
    if (e.name.find_first_of("\r\n") != std::string::npos)
      return Error{ErrorKind::invalid, "entry name holds a line break"};
    list += e.name;
    list += "\r\n";
    total += e.data.size();
  }
  total += kArchiveHeaderSize + list.size() + 4 * entries.size();
  if (total > kMaxUnpackedSize) return Error{ErrorKind::invalid, "archive larger than the 64 MiB limit"};

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  put_u32(out, kArchiveVersion);
  put_u32(out, static_cast<std::uint32_t>(list.size()));
  put_u32(out, 0);
  put_u32(out, 0);
  out.insert(out.end(), list.begin(), list.end());
  for (const auto& e : entries) put_u32(out, static_cast<std::uint32_t>(e.data.size()));
  for (const auto& e : entries) out.insert(out.end(), e.data.begin(), e.data.end());
  return out;
}

Result<std::vector<std::uint8_t>> pack_skin_stream(std::span<const ArchiveEntry> entries) {
  auto archive = write_archive(entries);
  if (!archive) return archive.error();
  return lzh_encode(archive.value());
}

}  // namespace clip::skin
