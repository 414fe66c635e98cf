#include "report/scan_report.h"

#include <algorithm>
#include <set>

#include "report/clip_hash.h"
#include "report/files.h"
#include "report/json.h"

namespace clip::report {
namespace {

using scanner::BlockRun;
using scanner::ClipRow;
using scanner::SectorRange;

std::string pairs_json(const std::vector<SectorRange>& ranges) {
  std::string s = "[";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    s += (i ? ", [" : "[") + std::to_string(ranges[i].first) + ", " + std::to_string(ranges[i].count) + "]";
  }
  return s + "]";
}

std::string hash_or_null(const std::string& hex) { return hex.empty() ? "null" : json_quote(hex); }

// Reading: every member the program relies on must be there with its type;
// a missing or mistyped one is named in the error.
class Reader {
 public:
  std::string error;

  const Json* member(const Json& object, const char* key, Json::Kind kind, const std::string& where) {
    const Json* value = object.find(key);
    if (!value || !value->is(kind)) {
      fail(where + "缺少或类型错误：" + key);
      return nullptr;
    }
    return value;
  }

  bool integer(const Json& object, const char* key, int64_t& out, const std::string& where, int64_t min = 0) {
    const Json* value = member(object, key, Json::Kind::number, where);
    if (!value) return false;
    const auto n = value->integer();
    if (!n || *n < min) return fail(where + "数值无效：" + key);
    out = *n;
    return true;
  }

  bool text(const Json& object, const char* key, std::string& out, const std::string& where) {
    const Json* value = member(object, key, Json::Kind::string, where);
    if (!value) return false;
    out = value->text;
    return true;
  }

  bool boolean(const Json& object, const char* key, bool& out, const std::string& where) {
    const Json* value = member(object, key, Json::Kind::boolean, where);
    if (!value) return false;
    out = value->boolean;
    return true;
  }

  // Optional hash: absent or null leaves `out` empty.
  bool hash(const Json& object, const char* key, std::string& out, const std::string& where) {
    const Json* value = object.find(key);
    if (!value || value->is(Json::Kind::null)) return true;
    if (!value->is(Json::Kind::string) || !is_sha256(value->text)) return fail(where + "散列值无效：" + key);
    out = value->text;
    return true;
  }

  // [[a, b], ...] of non-negative integers, b >= 1.
  bool pairs(const Json& object, const char* key, std::vector<std::pair<int64_t, int64_t>>& out,
             const std::string& where) {
    const Json* list = member(object, key, Json::Kind::array, where);
    if (!list) return false;
    for (const Json& item : list->items) {
      if (!item.is(Json::Kind::array) || item.items.size() != 2) return fail(where + "应为数对：" + key);
      const auto a = item.items[0].integer();
      const auto b = item.items[1].integer();
      if (!a || !b || *a < 0 || *b < 1 || *b > INT64_MAX / sources::kBlockSectors ||
          *a > INT64_MAX - *b * sources::kBlockSectors) {
        return fail(where + "数对无效：" + key);
      }
      out.emplace_back(*a, *b);
    }
    return true;
  }

  bool ranges(const Json& object, const char* key, std::vector<SectorRange>& out, const std::string& where) {
    std::vector<std::pair<int64_t, int64_t>> raw;
    if (!pairs(object, key, raw, where)) return false;
    for (const auto& [a, b] : raw) out.push_back({a, b});
    return true;
  }

  bool fail(const std::string& what) {
    if (error.empty()) error = what;
    return false;
  }

  static bool is_sha256(const std::string& hex) {
    if (hex.size() != 64) return false;
    for (const char c : hex) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
  }
};

bool read_clip(Reader& r, const Json& item, ClipRow& row, std::string& first_block) {
  const std::string where = "片段：";
  if (!item.is(Json::Kind::object)) return r.fail("片段应为对象");
  std::vector<std::pair<int64_t, int64_t>> runs;
  if (!r.integer(item, "number", row.number, where, 1) || !r.text(item, "channel", row.channel, where) ||
      !r.text(item, "start", row.start, where) || !r.integer(item, "size_mb", row.size_mb, where) ||
      !r.text(item, "name", row.name, where) || !r.integer(item, "blocks", row.blocks, where, 1) ||
      !r.integer(item, "first_sector", row.first_sector, where) || !r.boolean(item, "closed", row.closed, where) ||
      !r.pairs(item, "runs", runs, where) || !r.hash(item, "first_block_sha256", first_block, where)) {
    return false;
  }
  const std::string which = "片段 " + std::to_string(row.number) + "：";
  int64_t blocks = 0;
  for (const auto& [first, n] : runs) {
    row.runs.push_back(BlockRun{first, n});
    blocks += n;
  }
  if (row.runs.empty() || row.runs.front().first_sector != row.first_sector) return r.fail(which + "首扇区与块列表不符");
  if (blocks != row.blocks) return r.fail(which + "块数与块列表不符");
  return true;
}

bool read_file(Reader& r, const Json& item, recover::RecoveredFile& file) {
  const std::string where = "文件：";
  if (!item.is(Json::Kind::object)) return r.fail("文件应为对象");
  int64_t bytes = 0;
  if (!r.integer(item, "number", file.number, where, 1) || !r.text(item, "name", file.name, where) ||
      !r.text(item, "path", file.path, where) || !r.integer(item, "bytes", bytes, where) ||
      !r.hash(item, "sha256", file.sha256, where) || !r.ranges(item, "unreadable", file.unreadable, where)) {
    return false;
  }
  file.bytes = static_cast<uint64_t>(bytes);
  return true;
}

}  // namespace

std::optional<Fingerprint> take_fingerprint(sources::BlockSource& source, std::optional<int64_t> signature_sector,
                                            const std::vector<ClipRow>& clips, const std::function<bool()>& stop) {
  Fingerprint fingerprint;
  if (signature_sector) {
    fingerprint.signature_sha256 = hash_sectors(source, *signature_sector, 1);
    if (fingerprint.signature_sha256.empty()) return std::nullopt;
  }
  HashOptions options;
  options.max_blocks = 1;
  options.stop = stop;
  for (const auto& clip : clips) {
    const auto digest = hash_clip(source, clip.runs, options);
    if (digest.end != ClipDigest::End::complete) return std::nullopt;
    fingerprint.first_block_sha256.push_back(digest.sha256);
  }
  return fingerprint;
}

std::string scan_report_json(const ScanReport& report) {
  const Fingerprint* fp = report.fingerprint ? &*report.fingerprint : nullptr;
  std::string s = "{\"source\": " + json_quote(report.source) + ", \"sectors\": " + std::to_string(report.sectors) +
                  ", \"signature_sector\": " +
                  (report.signature_sector ? std::to_string(*report.signature_sector) : "null");
  if (fp) s += ", \"signature_sha256\": " + hash_or_null(fp->signature_sha256);
  s += std::string(", \"complete\": ") + (report.complete ? "true" : "false") +
       ", \"unreadable\": " + pairs_json(report.unreadable);
  if (report.image_hashes) {
    s += ", \"image_hashes\": {\"md5\": " + json_quote(report.image_hashes->md5) +
         ", \"sha1\": " + json_quote(report.image_hashes->sha1) + "}";
  }
  if (report.scan_position) s += ", \"scan_position\": " + std::to_string(*report.scan_position);
  s += ", \"clips\": [";
  for (std::size_t i = 0; i < report.clips.size(); ++i) {
    const ClipRow& r = report.clips[i];
    std::vector<SectorRange> runs;
    for (const auto& run : r.runs) runs.push_back({run.first_sector, run.blocks});
    s += (i ? ", " : "") + std::string("{\"number\": ") + std::to_string(r.number) +
         ", \"channel\": " + json_quote(r.channel) + ", \"start\": " + json_quote(r.start) +
         ", \"size_mb\": " + std::to_string(r.size_mb) + ", \"name\": " + json_quote(r.name) +
         ", \"blocks\": " + std::to_string(r.blocks) + ", \"first_sector\": " + std::to_string(r.first_sector) +
         ", \"closed\": " + (r.closed ? "true" : "false") + ", \"runs\": " + pairs_json(runs);
    if (fp && i < fp->first_block_sha256.size()) {
      s += ", \"first_block_sha256\": " + hash_or_null(fp->first_block_sha256[i]);
    }
    s += "}";
  }
  s += "]";
  if (!report.files.empty()) {
    s += ", \"files\": [";
    for (std::size_t i = 0; i < report.files.size(); ++i) {
      const auto& f = report.files[i];
      s += (i ? ", " : "") + std::string("{\"number\": ") + std::to_string(f.number) +
           ", \"name\": " + json_quote(f.name) + ", \"path\": " + json_quote(f.path) +
           ", \"bytes\": " + std::to_string(f.bytes) + ", \"sha256\": " + hash_or_null(f.sha256) +
           ", \"unreadable\": " + pairs_json(f.unreadable) + "}";
    }
    s += "]";
  }
  return s + "}\n";
}

Result<ScanReport> parse_scan_report(std::string_view text) {
  auto parsed = parse_json(text);
  if (!parsed) return Result<ScanReport>::failure(parsed.error());
  const Json& doc = parsed.value();
  Reader r;
  ScanReport report;
  const std::string where = "扫描报告：";
  if (!doc.is(Json::Kind::object)) return Result<ScanReport>::failure("扫描报告应为 JSON 对象");
  if (!r.text(doc, "source", report.source, where) || !r.integer(doc, "sectors", report.sectors, where) ||
      !r.boolean(doc, "complete", report.complete, where) ||
      !r.ranges(doc, "unreadable", report.unreadable, where)) {
    return Result<ScanReport>::failure(r.error);
  }
  const Json* signature = doc.find("signature_sector");
  if (signature && !signature->is(Json::Kind::null)) {
    const auto n = signature->integer();
    if (!n || *n < 0 || *n >= report.sectors) return Result<ScanReport>::failure(where + "签名扇区无效");
    report.signature_sector = *n;
  }
  if (const Json* hashes = doc.find("image_hashes"); hashes && hashes->is(Json::Kind::object)) {
    sources::ImageHashes h;
    if (!r.text(*hashes, "md5", h.md5, where) || !r.text(*hashes, "sha1", h.sha1, where)) {
      return Result<ScanReport>::failure(r.error);
    }
    report.image_hashes = h;
  }
  if (const Json* position = doc.find("scan_position")) {
    const auto n = position->integer();
    if (!n || *n < 0 || *n > report.sectors) return Result<ScanReport>::failure(where + "数值无效：scan_position");
    report.scan_position = *n;
  }
  const Json* clips = r.member(doc, "clips", Json::Kind::array, where);
  if (!clips) return Result<ScanReport>::failure(r.error);
  // The fingerprint counts only when every part of it was recorded.
  bool fingerprinted = doc.find("signature_sha256") != nullptr;
  Fingerprint fp;
  if (!r.hash(doc, "signature_sha256", fp.signature_sha256, where)) return Result<ScanReport>::failure(r.error);
  if (fingerprinted && report.signature_sector.has_value() == fp.signature_sha256.empty()) {
    return Result<ScanReport>::failure(where + "签名扇区与其散列值不符");
  }
  std::set<int64_t> numbers;
  for (const Json& item : clips->items) {
    ClipRow row;
    std::string first_block;
    if (!read_clip(r, item, row, first_block)) return Result<ScanReport>::failure(r.error);
    if (!numbers.insert(row.number).second) {
      return Result<ScanReport>::failure(where + "片段编号重复：" + std::to_string(row.number));
    }
    fingerprinted = fingerprinted && !first_block.empty();
    fp.first_block_sha256.push_back(first_block);
    report.clips.push_back(std::move(row));
  }
  if (fingerprinted) report.fingerprint = std::move(fp);
  if (const Json* files = doc.find("files")) {
    if (!files->is(Json::Kind::array)) return Result<ScanReport>::failure(where + "缺少或类型错误：files");
    for (const Json& item : files->items) {
      recover::RecoveredFile file;
      if (!read_file(r, item, file)) return Result<ScanReport>::failure(r.error);
      report.files.push_back(std::move(file));
    }
  }
  return report;
}

Result<ScanReport> load_scan_report(const std::string& path) {
  return load_parsed<ScanReport>(path, parse_scan_report);
}

std::string check_source(sources::BlockSource& source, const ScanReport& report, const std::function<bool()>& stop) {
  if (!report.fingerprint) return "扫描报告中没有源介质的指纹（扇区数、签名扇区和各片段首块的 SHA-256），无法确认源介质与报告相符，请重新扫描";
  std::vector<std::string> differences;
  if (source.sector_count() != report.sectors) {
    differences.push_back("扇区数不同：报告为 " + std::to_string(report.sectors) + "，源介质为 " +
                          std::to_string(source.sector_count()));
  } else {
    const Fingerprint& want = *report.fingerprint;
    const auto got = take_fingerprint(source, report.signature_sector, report.clips, stop);
    if (!got) return "读取源介质时中止，未能确认源介质与报告相符";
    if (got->signature_sha256 != want.signature_sha256) {
      differences.push_back("签名扇区 " + std::to_string(report.signature_sector.value_or(0)) + " 的 SHA-256 不同");
    }
    for (std::size_t i = 0; i < report.clips.size(); ++i) {
      if (got->first_block_sha256[i] == want.first_block_sha256[i]) continue;
      differences.push_back("片段 " + std::to_string(report.clips[i].number) + "（" + report.clips[i].name +
                            "）首块（扇区 " + std::to_string(report.clips[i].first_sector) + "）的 SHA-256 不同");
    }
  }
  if (differences.empty()) return {};
  std::string text = "源介质与扫描报告不符：";
  constexpr std::size_t kShown = 10;
  for (std::size_t i = 0; i < differences.size() && i < kShown; ++i) text += (i ? "；" : "") + differences[i];
  if (differences.size() > kShown) text += "；另有 " + std::to_string(differences.size() - kShown) + " 处不同";
  return text;
}

Result<std::vector<ClipRow>> select_clips(const ScanReport& report, const std::vector<int64_t>& numbers) {
  if (numbers.empty()) return report.clips;
  std::vector<ClipRow> chosen;
  for (const int64_t n : numbers) {
    const auto it = std::find_if(report.clips.begin(), report.clips.end(), [&](const ClipRow& r) { return r.number == n; });
    if (it == report.clips.end()) return Result<std::vector<ClipRow>>::failure("没有编号为 " + std::to_string(n) + " 的片段");
    chosen.push_back(*it);
  }
  return chosen;
}

}  // namespace clip::report
