#include "recover/recover.h"

#include <algorithm>
#include <cstring>

#include "recover/output_file.h"

namespace clip::recover {
namespace {

using scanner::SectorRange;
using sources::kBlockSectors;
using sources::kSectorBytes;
using sources::ReadError;

constexpr int64_t kPieceSectors = 16 * kBlockSectors;

void add_unreadable(std::vector<SectorRange>& list, int64_t sector) {
  if (!list.empty() && list.back().first + list.back().count == sector) {
    ++list.back().count;
  } else {
    list.push_back({sector, 1});
  }
}

}  // namespace

std::string numbered_name(const std::string& name, int n) {
  if (n == 0) return name;
  const auto dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  return stem + "(" + std::to_string(n) + ")" + ext;
}

std::string check_output_folder(const std::string& source_path, const std::string& folder, VolumeMap& volumes) {
  if (!is_folder(folder)) return "输出文件夹不可用：" + folder;
  const auto source = volumes.source_ids(source_path);
  if (source.empty()) return {};
  for (const auto& id : volumes.folder_ids(folder)) {
    if (std::find(source.begin(), source.end(), id) != source.end()) {
      return "输出文件夹位于正在扫描的源介质上，不能写入：" + folder;
    }
  }
  return {};
}

RecoverResult recover_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                           const RecoverOptions& options) {
  const int sector_tries = options.sector_tries;
  RecoverResult result;
  RecoveredFile& file = result.file;
  file.number = row.number;
  file.name = row.name;

  OutputFile out;
  for (int n = 0;; ++n) {
    file.path = join_path(folder, numbered_name(row.name, n));
    const auto opened = out.create_new(file.path);
    if (opened == OutputFile::Open::created) {
      file.renamed = n > 0;
      break;
    }
    if (opened == OutputFile::Open::failed || n >= 9999) {
      result.error = "无法创建文件 " + file.path + "：" + out.last_error();
      return result;
    }
  }

  Sha256 hash;
  std::vector<uint8_t> buffer(static_cast<std::size_t>(kPieceSectors * kSectorBytes));
  const int64_t total = source.sector_count();
  auto emit = [&](const uint8_t* data, std::size_t size) {
    hash.update(data, size);
    file.bytes += size;
    return out.write(data, size);
  };
  bool at_end = false;
  for (const auto& run : row.runs) {
    if (at_end) break;
    const int64_t end = std::min(total, run.first_sector + run.blocks * kBlockSectors);
    for (int64_t s = run.first_sector; s < end && !at_end;) {
      const int64_t count = std::min(kPieceSectors, end - s);
      const std::size_t want = static_cast<std::size_t>(count * kSectorBytes);
      if (options.stop && options.stop()) {
        result.outcome = RecoverOutcome::stopped;
        out.close();
        return result;
      }
      auto got = source.read_sectors(s, count, buffer.data());
      if (got.error == ReadError::cancelled) {
        result.outcome = RecoverOutcome::stopped;
        out.close();
        return result;
      }
      if (got.error == ReadError::gone) {
        result.outcome = RecoverOutcome::incomplete;
        result.source_gone = true;
        result.error = scanner::kReadErrorText;
        out.close();
        return result;
      }
      std::size_t have = got.bytes;
      if (got.ok() && have < want) at_end = true;  // the source really ends here
      if (!got.ok()) {
        // Sector by sector from the failing one; what still fails is zeros.
        have -= have % kSectorBytes;
        for (int64_t k = static_cast<int64_t>(have) / kSectorBytes; k < count; ++k) {
          uint8_t* into = buffer.data() + k * kSectorBytes;
          bool read = false;
          for (int attempt = 0; attempt < std::max(1, sector_tries) && !read; ++attempt) {
            const auto one = source.read_sectors(s + k, 1, into);
            if (one.error == ReadError::gone || one.error == ReadError::cancelled) {
              result.outcome =
                  one.error == ReadError::gone ? RecoverOutcome::incomplete : RecoverOutcome::stopped;
              result.source_gone = one.error == ReadError::gone;
              result.error = scanner::kReadErrorText;
              out.close();
              return result;
            }
            read = one.ok() && one.bytes == static_cast<std::size_t>(kSectorBytes);
          }
          if (!read) {
            std::memset(into, 0, static_cast<std::size_t>(kSectorBytes));
            add_unreadable(file.unreadable, s + k);
          }
        }
        have = want;
      }
      if (!emit(buffer.data(), have)) {
        result.error = "写入文件出错 " + file.path + "：" + out.last_error();
        out.close();
        return result;
      }
      if (options.progress) options.progress(file.bytes);
      s += count;
    }
  }
  if (!out.close()) {
    result.error = "写入文件出错 " + file.path + "：" + out.last_error();
    return result;
  }
  file.sha256 = hash.hex();
  result.outcome = RecoverOutcome::complete;
  result.ok = true;
  return result;
}

}  // namespace clip::recover
