#include "report/verify.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "report/clip_hash.h"
#include "report/files.h"

namespace clip::report {
namespace {

std::string clip_label(const scanner::ClipRow& row) {
  return "片段 " + std::to_string(row.number) + "（" + row.name + "）";
}

// The last component of a path written on either kind of system.
std::string base_name(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const recover::RecoveredFile* file_of(const ScanReport& report, int64_t number) {
  for (const auto& f : report.files) {
    if (f.number == number && !f.sha256.empty()) return &f;
  }
  return nullptr;
}

// The progress of a check over `items` items of `total` bytes; the end is
// heard once, also when the bytes read did not add up to the plan.
class Tally {
 public:
  Tally(const VerifyOptions& options, uint64_t total, std::size_t items)
      : options_(options), total_(total), items_(items) {}
  void at(uint64_t done, std::size_t item) {
    if (!options_.progress) return;
    last_ = std::min(done, total_);
    options_.progress(last_, total_, item, items_);
  }
  void end() {
    if (options_.progress && items_ > 0 && last_ != total_) options_.progress(total_, total_, items_ - 1, items_);
  }

 private:
  const VerifyOptions& options_;
  const uint64_t total_;
  const std::size_t items_;
  uint64_t last_ = UINT64_MAX;
};

}  // namespace

VerifyResult verify_source(sources::BlockSource& source, const ScanReport& report, const VerifyOptions& options) {
  VerifyResult result;
  if (!report.fingerprint && report.files.empty()) {
    result.error = "扫描报告中没有可核对的散列值（没有源介质指纹，也没有恢复的文件）";
    return result;
  }
  if (source.sector_count() != report.sectors) {
    result.mismatches.push_back("扇区数不同：报告为 " + std::to_string(report.sectors) + "，源介质为 " +
                                std::to_string(source.sector_count()));
  }
  const Fingerprint* fp = report.fingerprint ? &*report.fingerprint : nullptr;
  if (fp && report.signature_sector) {
    const std::string got = hash_sectors(source, *report.signature_sector, 1);
    if (got.empty()) {
      result.error = "源介质已无法读取（签名扇区）";
      return result;
    }
    ++result.checked;
    if (got != fp->signature_sha256) {
      result.mismatches.push_back("签名扇区 " + std::to_string(*report.signature_sector) + " 的 SHA-256 不同");
    }
  }
  // What will be read: a recovered clip whole, otherwise its first block.
  const auto planned = [&](const scanner::ClipRow& row) -> uint64_t {
    if (const auto* file = file_of(report, row.number)) return file->bytes;
    return fp ? static_cast<uint64_t>(sources::kBlockBytes) : 0;
  };
  uint64_t total = 0, before = 0;
  for (const auto& row : report.clips) total += planned(row);
  Tally tally(options, total, report.clips.size());
  HashOptions hash_options;
  hash_options.stop = options.stop;
  for (std::size_t i = 0; i < report.clips.size(); ++i) {
    const auto& row = report.clips[i];
    const recover::RecoveredFile* file = file_of(report, row.number);
    if (!file && !fp) continue;
    hash_options.max_blocks = file ? -1 : 1;
    if (options.progress) hash_options.progress = [&, i](uint64_t bytes) { tally.at(before + bytes, i); };
    const auto digest = hash_clip(source, row.runs, hash_options);
    if (digest.end == ClipDigest::End::stopped) {
      result.stopped = true;
      return result;
    }
    if (digest.end == ClipDigest::End::gone) {
      result.error = "源介质已无法读取（" + clip_label(row) + "）";
      return result;
    }
    ++result.checked;
    if (file) {
      if (digest.bytes != file->bytes || digest.sha256 != file->sha256) {
        result.mismatches.push_back(clip_label(row) + "的内容与恢复时不同：SHA-256 " + digest.sha256 + "，" +
                                    std::to_string(digest.bytes) + " 字节；报告为 " + file->sha256 + "，" +
                                    std::to_string(file->bytes) + " 字节");
      }
    } else if (digest.sha256 != fp->first_block_sha256[i]) {
      result.mismatches.push_back(clip_label(row) + "的首块（扇区 " + std::to_string(row.first_sector) +
                                  "）SHA-256 不同");
    }
    before += planned(row);
  }
  tally.end();
  return result;
}

VerifyResult verify_files(const std::string& folder, const ScanReport& report, const VerifyOptions& options) {
  VerifyResult result;
  if (report.files.empty()) {
    result.error = "扫描报告中没有恢复的文件，无法核对文件";
    return result;
  }
  uint64_t total = 0, before = 0;
  for (const auto& file : report.files) total += file.bytes;
  Tally tally(options, total, report.files.size());
  for (std::size_t i = 0; i < report.files.size(); ++i) {
    const auto& file = report.files[i];
    const std::string name = base_name(file.path);
    const std::string path = utf8_name(native_path(folder) / native_path(name));
    if (file.sha256.empty()) {
      result.mismatches.push_back(name + "：报告中没有它的 SHA-256");
      continue;
    }
    std::function<void(uint64_t)> on_bytes;
    if (options.progress) on_bytes = [&, i](uint64_t bytes) { tally.at(before + std::min(bytes, file.bytes), i); };
    const FileDigest got = hash_file(path, options.stop, on_bytes);
    before += file.bytes;
    if (options.stop && options.stop()) {
      result.stopped = true;
      return result;
    }
    ++result.checked;
    if (!got.error.empty()) {
      result.mismatches.push_back(name + "：" + got.error);
    } else if (got.bytes != file.bytes || got.sha256 != file.sha256) {
      result.mismatches.push_back(name + "：SHA-256 " + got.sha256 + "，" + std::to_string(got.bytes) +
                                  " 字节；报告为 " + file.sha256 + "，" + std::to_string(file.bytes) + " 字节");
    }
  }
  tally.end();
  return result;
}

FileDigest hash_file(const std::string& path, const std::function<bool()>& stop,
                     const std::function<void(uint64_t)>& progress) {
  FileDigest digest;
  std::ifstream in(native_path(path), std::ios::binary);
  if (!in) {
    std::error_code ec;
    const int err = errno;
    digest.error = std::filesystem::exists(native_path(path), ec) ? std::string("无法打开：") + std::strerror(err) : "文件不存在";
    return digest;
  }
  recover::Sha256 hash;
  std::vector<char> buf(1 << 20);
  while (in) {
    if (stop && stop()) return digest;
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto n = static_cast<std::size_t>(in.gcount());
    hash.update(reinterpret_cast<const uint8_t*>(buf.data()), n);
    digest.bytes += n;
    if (progress && n > 0) progress(digest.bytes);
  }
  if (in.bad()) {
    digest.error = "读取出错";
    return digest;
  }
  digest.sha256 = hash.hex();
  return digest;
}

}  // namespace clip::report
