#include "sources/ewf_source.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "sources/ewf_open.h"

namespace clip::sources {
namespace {

// Reads go to the library in pieces of this size, so cancel() is seen between
// them even when a caller asks for many megabytes at once.
constexpr std::size_t kPieceBytes = 1 << 20;

struct HandleDeleter {
  void operator()(libewf_handle_t* handle) const {
    libewf_handle_close(handle, nullptr);
    libewf_handle_free(&handle, nullptr);
  }
};
using HandlePtr = std::unique_ptr<libewf_handle_t, HandleDeleter>;

// Sectors of the file's own size (bytes_per_sector) as 512-byte sectors,
// widened outwards so that every byte of the range is covered.
std::pair<int64_t, int64_t> to_our_sectors(uint64_t first, uint64_t count, uint32_t bytes_per_sector) {
  const uint64_t begin = first * bytes_per_sector;
  const uint64_t end = (first + count) * bytes_per_sector;
  const uint64_t s = static_cast<uint64_t>(kSectorBytes);
  return {static_cast<int64_t>(begin / s), static_cast<int64_t>((end + s - 1) / s)};
}

std::string hash_value(libewf_handle_t* handle, bool md5) {
  uint8_t text[64] = {};
  const int found = md5 ? libewf_handle_get_utf8_hash_value_md5(handle, text, sizeof text, nullptr)
                        : libewf_handle_get_utf8_hash_value_sha1(handle, text, sizeof text, nullptr);
  if (found != 1) return {};
  std::string value(reinterpret_cast<const char*>(text));
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return value;
}

// The open evidence file set. Reads that are left running after a stop hold
// it (see BlockSource::detachable), so the library's handle is closed when
// the last of them returns.
class EwfFile final : public BlockSource {
 public:
  EwfFile(HandlePtr handle, uint32_t bytes_per_sector, int64_t sectors)
      : handle_(std::move(handle)), bytes_per_sector_(bytes_per_sector), sectors_(sectors) {}

  int64_t sector_count() const override { return sectors_; }

  void load_acquisition_errors() {
    uint32_t count = 0;
    if (libewf_handle_get_number_of_acquiry_errors(handle_.get(), &count, nullptr) != 1) return;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t first = 0, n = 0;
      if (libewf_handle_get_acquiry_error(handle_.get(), i, &first, &n, nullptr) == 1 && n > 0) {
        const auto [b, e] = to_our_sectors(first, n, bytes_per_sector_);
        add_bad(b, e);
      }
    }
  }

  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    ReadResult result;
    if (first < 0 || count <= 0) return result;
    if (cancelled_) return {0, ReadError::cancelled};
    std::lock_guard lock(mutex_);
    // A read stops at the first sector known to be unreadable, as a disk's
    // read stops at its first bad sector; nothing of that area is read.
    int64_t stop = first + count;
    if (auto bad = first_bad(first, stop)) {
      stop = *bad;
      result.error = ReadError::media;
    }
    const std::size_t want = static_cast<std::size_t>((stop - first) * kSectorBytes);
    while (result.bytes < want) {
      if (cancelled_) return {result.bytes - result.bytes % static_cast<std::size_t>(kSectorBytes), ReadError::cancelled};
      const std::size_t piece = std::min(kPieceBytes, want - result.bytes);
      libewf_error_t* failure = nullptr;
      const off64_t at = static_cast<off64_t>(first * kSectorBytes + static_cast<int64_t>(result.bytes));
      const ssize_t got = libewf_handle_read_random(handle_.get(), buffer + result.bytes, piece, at, &failure);
      if (got < 0) {
        // A chunk that can't be read or unpacked: the piece is lost, the
        // caller's sector-by-sector retry finds where.
        libewf_error_free(&failure);
        result.error = ReadError::media;
        break;
      }
      if (got == 0) {
        result.error = ReadError::none;  // the media ends here
        break;
      }
      result.bytes += static_cast<std::size_t>(got);
    }
    // Chunks whose checksum failed are handed out by the library as they
    // are; they are not evidence, so the read ends before the first of them.
    if (refresh_checksum_errors()) {
      if (auto bad = first_bad(first, first + static_cast<int64_t>(result.bytes) / kSectorBytes)) {
        result.bytes = static_cast<std::size_t>((*bad - first) * kSectorBytes);
        result.error = ReadError::media;
      }
    }
    result.bytes -= result.bytes % kSectorBytes;
    return result;
  }

  // Seen between the pieces of a read; a piece inside the library runs to
  // its end.
  void cancel() override { cancelled_ = true; }
  bool cancelled() const override { return cancelled_; }

 private:
  // Marks sectors as unreadable: [first, end) in 512-byte sectors, merged.
  void add_bad(int64_t first, int64_t end) {
    auto it = bad_.upper_bound(first);
    if (it != bad_.begin() && std::prev(it)->second >= first) --it;
    while (it != bad_.end() && it->first <= end) {
      first = std::min(first, it->first);
      end = std::max(end, it->second);
      it = bad_.erase(it);
    }
    bad_.emplace(first, end);
  }

  std::optional<int64_t> first_bad(int64_t first, int64_t end) const {
    auto it = bad_.upper_bound(first);
    if (it != bad_.begin() && std::prev(it)->second > first) return first;
    if (it != bad_.end() && it->first < end) return it->first;
    return std::nullopt;
  }

  // Takes in the checksum failures the library found since the last call;
  // true when there were new ones.
  bool refresh_checksum_errors() {
    uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle_.get(), &count, nullptr) != 1) return false;
    if (count == checksum_errors_seen_) return false;
    for (uint32_t i = checksum_errors_seen_; i < count; ++i) {
      uint64_t first = 0, n = 0;
      if (libewf_handle_get_checksum_error(handle_.get(), i, &first, &n, nullptr) == 1 && n > 0) {
        const auto [b, e] = to_our_sectors(first, n, bytes_per_sector_);
        add_bad(b, e);
      }
    }
    checksum_errors_seen_ = count;
    return true;
  }

  std::mutex mutex_;  // the library's handle is not safe for two threads
  std::atomic<bool> cancelled_{false};
  HandlePtr handle_;
  const uint32_t bytes_per_sector_;
  const int64_t sectors_;
  std::map<int64_t, int64_t> bad_;  // first -> end, disjoint
  uint32_t checksum_errors_seen_ = 0;
};

// What the caller owns: the shared file set and what the file says about the
// acquisition.
class EwfSource final : public SharedSource {
 public:
  EwfSource(std::shared_ptr<EwfFile> file, EwfDetails details)
      : SharedSource(std::move(file)), details_(std::move(details)) {}

  const EwfDetails& details() const { return details_; }

 private:
  EwfDetails details_;
};

}  // namespace

std::string ewf_error_text(libewf_error_t*& error) {
  if (!error) return "unknown error";
  char text[2048] = {};
  libewf_error_sprint(error, text, sizeof text);
  libewf_error_free(&error);
  std::string s(text);
  // The library chains one line per call level, innermost last; the first
  // line says what failed in terms of the whole operation.
  const auto newline = s.find('\n');
  if (newline != std::string::npos) s.resize(newline);
  return s.empty() ? "unknown error" : s;
}

bool is_ewf_path(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".E01";
}

OpenResult open_ewf_source(const std::string& path, int64_t sectors) {
  const std::string context = path + ": 无法打开 E01 证据文件：";
  libewf_handle_t* raw = nullptr;
  libewf_error_t* failure = nullptr;
  if (libewf_handle_initialize(&raw, &failure) != 1) return {nullptr, context + ewf_error_text(failure)};
  std::unique_ptr<libewf_handle_t, void (*)(libewf_handle_t*)> fresh(
      raw, [](libewf_handle_t* h) { libewf_handle_free(&h, nullptr); });

  EwfDetails details;
  std::string error;
  if (!ewf_open_segments(raw, path, details.segments, error)) return {nullptr, context + error};
  fresh.release();
  HandlePtr handle(raw);

  // A set with a missing or cut-off segment opens without complaint, its
  // lost part reading as checksum failures; refusing it says at once what
  // is wrong, where a scan would only report unreadable sectors.
  if (libewf_handle_segment_files_corrupted(handle.get(), nullptr) == 1) {
    return {nullptr, context + "分段文件不完整或已损坏（缺少分段，或分段被截断），已打开 " +
                         std::to_string(details.segments.size()) + " 个分段"};
  }
  size64_t media = 0;
  if (libewf_handle_get_media_size(handle.get(), &media, &failure) != 1) {
    return {nullptr, context + ewf_error_text(failure)};
  }
  uint32_t bytes_per_sector = 0;
  if (libewf_handle_get_bytes_per_sector(handle.get(), &bytes_per_sector, nullptr) == 1 && bytes_per_sector > 0) {
    details.bytes_per_sector = bytes_per_sector;
  }
  details.media_bytes = media;
  details.hashes.md5 = hash_value(handle.get(), true);
  details.hashes.sha1 = hash_value(handle.get(), false);
  if (sectors < 0) sectors = static_cast<int64_t>(media / static_cast<uint64_t>(kSectorBytes));
  auto file = std::make_shared<EwfFile>(std::move(handle), details.bytes_per_sector, sectors);
  file->load_acquisition_errors();
  return {std::make_unique<EwfSource>(std::move(file), std::move(details)), {}};
}

std::optional<EwfDetails> ewf_details(const BlockSource& source) {
  if (const auto* ewf = dynamic_cast<const EwfSource*>(&source)) return ewf->details();
  return std::nullopt;
}

}  // namespace clip::sources
