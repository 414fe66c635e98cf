#include "report/mapfile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "report/files.h"

namespace clip::report {
namespace {

using sources::kSectorBytes;
using sources::ReadError;
using sources::ReadResult;

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// A non-negative number as the copying tool reads it: 0x hex, a leading 0
// octal, otherwise decimal.
std::optional<int64_t> number_of(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    if (value > (static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
      return std::nullopt;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return static_cast<int64_t>(value);
}

bool single_char(std::string_view field, std::string_view allowed, char& out) {
  if (field.size() != 1 || allowed.find(field[0]) == std::string_view::npos) return false;
  out = field[0];
  return true;
}

// Reads that touch a marked range are answered here: the sectors before it
// come from the inner source, the range itself fails at once with a media
// error, so the inner source never sees a read of it.
class UnreadableSource final : public sources::BlockSource {
 public:
  UnreadableSource(std::shared_ptr<BlockSource> inner, std::shared_ptr<const std::vector<SectorRange>> bad)
      : inner_(std::move(inner)), bad_(std::move(bad)) {}

  int64_t sector_count() const override { return inner_->sector_count(); }
  void cancel() override { inner_->cancel(); }
  bool cancelled() const override { return inner_->cancelled(); }

  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (first < 0 || count <= 0) return {};
    const int64_t readable = readable_from(first, count);
    if (readable == 0) return {0, ReadError::media};
    ReadResult result = inner_->read_sectors(first, readable, buffer);
    if (readable < count && result.ok() && result.bytes == static_cast<std::size_t>(readable * kSectorBytes)) {
      result.error = ReadError::media;
    }
    return result;
  }

  std::size_t read_cached(int64_t first, int64_t count, uint8_t* buffer) override {
    if (first < 0 || count <= 0) return 0;
    const int64_t readable = readable_from(first, count);
    return readable == 0 ? 0 : inner_->read_cached(first, readable, buffer);
  }

  // A read left running holds the inner source's own detachable object and
  // the ranges, not this wrapper.
  std::shared_ptr<BlockSource> detachable() override {
    auto inner = inner_->detachable();
    return inner ? std::make_shared<UnreadableSource>(std::move(inner), bad_) : nullptr;
  }

 private:
  // Sectors of [first, first + count) before the first marked one.
  int64_t readable_from(int64_t first, int64_t count) const {
    auto it = std::upper_bound(bad_->begin(), bad_->end(), first,
                               [](int64_t s, const SectorRange& r) { return s < r.first + r.count; });
    if (it == bad_->end() || it->first >= first + count) return count;
    return std::max<int64_t>(0, it->first - first);
  }

  std::shared_ptr<BlockSource> inner_;
  std::shared_ptr<const std::vector<SectorRange>> bad_;
};

}  // namespace

std::vector<SectorRange> merge_ranges(std::vector<SectorRange> ranges) {
  std::erase_if(ranges, [](const SectorRange& r) { return r.count <= 0; });
  std::sort(ranges.begin(), ranges.end(), [](const SectorRange& a, const SectorRange& b) { return a.first < b.first; });
  std::vector<SectorRange> merged;
  for (const auto& r : ranges) {
    if (!merged.empty() && merged.back().first + merged.back().count >= r.first) {
      merged.back().count = std::max(merged.back().first + merged.back().count, r.first + r.count) - merged.back().first;
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

Result<Mapfile> parse_mapfile(std::string_view text) {
  Mapfile map;
  bool have_status = false;
  int line_number = 0;
  auto error = [&](const std::string& what) {
    return Result<Mapfile>::failure("映射文件第 " + std::to_string(line_number) + " 行：" + what);
  };
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto fields = fields_of(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    if (!have_status) {
      if (fields.size() < 2 || fields.size() > 3) return error("状态行应为“位置 状态 [遍数]”");
      const auto pos = number_of(fields[0]);
      if (!pos) return error("无效的位置：" + std::string(fields[0]));
      if (!single_char(fields[1], "?*/-FG+", map.current_status)) {
        return error("无效的当前状态：" + std::string(fields[1]));
      }
      map.current_pos = *pos;
      if (fields.size() == 3) {
        const auto pass = number_of(fields[2]);
        if (!pass || *pass < 1 || *pass > 1000000 || fields[2][0] == '0') {
          return error("无效的遍数：" + std::string(fields[2]));
        }
        map.current_pass = static_cast<int>(*pass);
      }
      have_status = true;
      continue;
    }
    if (fields.size() != 3) return error("数据块行应为“位置 大小 状态”");
    const auto pos = number_of(fields[0]);
    const auto size = number_of(fields[1]);
    if (!pos) return error("无效的位置：" + std::string(fields[0]));
    if (!size || *size == 0) return error("无效的大小：" + std::string(fields[1]));
    MapBlock block{*pos, *size, '?'};
    if (!single_char(fields[2], "?*/-+", block.status)) return error("无效的状态：" + std::string(fields[2]));
    if (block.pos > INT64_MAX - block.size) return error("数据块超出可表示的范围");
    if (!map.blocks.empty()) {
      const MapBlock& last = map.blocks.back();
      if (block.pos != last.pos + last.size) {
        return error("数据块应从上一块的结尾 " + std::to_string(last.pos + last.size) + " 开始");
      }
    }
    map.blocks.push_back(block);
  }
  if (!have_status) {
    line_number = std::max(line_number, 1);
    return error("没有状态行，不是映射文件");
  }
  return map;
}

Result<Mapfile> load_mapfile(const std::string& path) { return load_parsed<Mapfile>(path, parse_mapfile); }

std::vector<SectorRange> unrecovered_sectors(const Mapfile& map, int64_t total_sectors) {
  std::vector<SectorRange> ranges;
  const int64_t total_bytes = total_sectors * kSectorBytes;
  auto add = [&](int64_t from, int64_t to) {  // bytes
    from = std::max<int64_t>(0, from);
    to = std::min(total_bytes, to);
    if (from >= to) return;
    const int64_t first = from / kSectorBytes;
    const int64_t end = (to + kSectorBytes - 1) / kSectorBytes;
    ranges.push_back({first, end - first});
  };
  if (map.blocks.empty()) {
    add(0, total_bytes);
    return merge_ranges(ranges);
  }
  add(0, map.blocks.front().pos);
  for (const auto& block : map.blocks) {
    if (block.status != '+') add(block.pos, block.pos + block.size);
  }
  add(map.blocks.back().pos + map.blocks.back().size, total_bytes);
  return merge_ranges(ranges);
}

std::string write_mapfile(int64_t total_sectors, const std::vector<SectorRange>& read,
                          const std::vector<SectorRange>& unreadable, std::string_view writer) {
  const auto good = merge_ranges(read);
  const auto bad = merge_ranges(unreadable);
  std::vector<int64_t> cuts{0, total_sectors};
  for (const auto* list : {&good, &bad}) {
    for (const auto& r : *list) {
      cuts.push_back(std::clamp<int64_t>(r.first, 0, total_sectors));
      cuts.push_back(std::clamp<int64_t>(r.first + r.count, 0, total_sectors));
    }
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  auto inside = [](const std::vector<SectorRange>& list, int64_t s) {
    auto it = std::upper_bound(list.begin(), list.end(), s,
                               [](int64_t v, const SectorRange& r) { return v < r.first + r.count; });
    return it != list.end() && it->first <= s;
  };
  std::vector<MapBlock> blocks;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const int64_t a = cuts[i], b = cuts[i + 1];
    const char status = inside(bad, a) ? '-' : inside(good, a) ? '+' : '?';
    if (!blocks.empty() && blocks.back().status == status) {
      blocks.back().size += (b - a) * kSectorBytes;
    } else {
      blocks.push_back({a * kSectorBytes, (b - a) * kSectorBytes, status});
    }
  }
  std::string out = "# Mapfile written by " + std::string(writer) + "\n";
  out += "# '+' read by the scan, '-' unreadable, '?' not read by the scan\n";
  out += "# current_pos  current_status  current_pass\n";
  out += "0x00000000     ?               1\n";
  out += "#      pos        size  status\n";
  char line[96];
  for (const auto& block : blocks) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", static_cast<uint64_t>(block.pos),
                  static_cast<uint64_t>(block.size), block.status);
    out += line;
  }
  return out;
}

void ScanCoverage::pass(int64_t first, int64_t end) { passes_.push_back({first, end, first}); }

void ScanCoverage::progress(int64_t sector) {
  if (!passes_.empty()) passes_.back().reached = std::max(passes_.back().reached, sector);
}

std::vector<SectorRange> ScanCoverage::read(bool complete) const {
  std::vector<SectorRange> ranges;
  for (std::size_t i = 0; i < passes_.size(); ++i) {
    const Pass& p = passes_[i];
    int64_t end;
    if (i + 1 < passes_.size()) {
      // An earlier pass ended after reading the block it was at (the search
      // stops in the block where it found the signature).
      end = std::min(p.end, p.reached + sources::kBlockSectors);
    } else {
      end = complete ? p.end : p.reached;
    }
    if (end > p.first) ranges.push_back({p.first, end - p.first});
  }
  return merge_ranges(ranges);
}

std::unique_ptr<sources::BlockSource> with_unreadable(std::unique_ptr<sources::BlockSource> inner,
                                                       std::vector<SectorRange> unreadable) {
  return std::make_unique<UnreadableSource>(
      std::shared_ptr<sources::BlockSource>(std::move(inner)),
      std::make_shared<const std::vector<SectorRange>>(merge_ranges(std::move(unreadable))));
}

std::string mapfile_beside(const std::string& image_path) {
  for (const char* suffix : {".map", ".mapfile"}) {
    std::error_code ec;
    const std::string candidate = image_path + suffix;
    if (std::filesystem::is_regular_file(native_path(candidate), ec)) return candidate;
  }
  return {};
}

}  // namespace clip::report
