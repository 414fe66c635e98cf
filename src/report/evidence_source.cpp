#include "report/evidence_source.h"

namespace clip::report {
namespace {

int64_t sector_total(const std::vector<SectorRange>& ranges) {
  int64_t n = 0;
  for (const auto& r : ranges) n += r.count;
  return n;
}

std::string hashes_text(const sources::ImageHashes& h) {
  return "MD5 " + (h.md5.empty() ? std::string("（无）") : h.md5) + "，SHA-1 " +
         (h.sha1.empty() ? std::string("（无）") : h.sha1);
}

}  // namespace

Result<SourceEvidence> source_evidence(const std::string& path, int64_t total_sectors,
                                       const std::optional<sources::EwfDetails>& ewf, const std::string& given,
                                       bool look_beside) {
  SourceEvidence evidence;
  if (ewf) {
    const bool stated = !ewf->hashes.md5.empty() || !ewf->hashes.sha1.empty();
    if (stated) evidence.hashes = ewf->hashes;
    evidence.lines.push_back("证据文件：" + std::to_string(ewf->segments.size()) + " 个分段，介质 " +
                             std::to_string(ewf->media_bytes) + " 字节；" +
                             (stated ? "采集时记录的散列值 " + hashes_text(ewf->hashes)
                                     : std::string("文件中没有采集时的散列值")));
  }
  std::string mapfile = given;
  const bool beside = mapfile.empty() && look_beside;
  if (beside) mapfile = mapfile_beside(path);
  if (mapfile.empty()) return evidence;
  auto loaded = load_mapfile(mapfile);
  if (!loaded) return Result<SourceEvidence>::failure("映射文件无法使用：" + loaded.error());
  const auto& map = loaded.value();
  evidence.mapfile = mapfile;
  evidence.holes = unrecovered_sectors(map, total_sectors);
  const int64_t mapped = map.blocks.empty() ? 0 : map.blocks.back().pos + map.blocks.back().size;
  std::string line = "映射文件 " + mapfile + (beside ? "（镜像旁的同名文件）" : "") + "：";
  line += evidence.holes.empty() ? std::string("镜像已全部复制")
                                 : std::to_string(sector_total(evidence.holes)) + " 个扇区（" +
                                       std::to_string(evidence.holes.size()) + " 段）未复制，按无法读取处理，不读取";
  evidence.lines.push_back(line);
  const int64_t total_bytes = total_sectors * sources::kSectorBytes;
  if (mapped != total_bytes) {
    evidence.lines.push_back("注意：映射文件覆盖 " + std::to_string(mapped) + " 字节，源为 " +
                             std::to_string(total_bytes) + " 字节" +
                             (mapped < total_bytes ? "，其余部分按无法读取处理" : ""));
  }
  return evidence;
}

std::unique_ptr<sources::BlockSource> apply_evidence(std::unique_ptr<sources::BlockSource> source,
                                                     const SourceEvidence& evidence) {
  if (evidence.mapfile.empty()) return source;
  return with_unreadable(std::move(source), evidence.holes);
}

}  // namespace clip::report
