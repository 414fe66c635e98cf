// The evidence-file source and the report files on Windows, under Wine:
// UTF-16 paths with Chinese folder names, segments found beside the first,
// a set with a missing segment refused, a mapfile found beside its image.
// The evidence is made by make_evidence.cmake before this program runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "report/files.h"
#include "report/mapfile.h"
#include "sources/block_source.h"
#include "sources/ewf_source.h"
#include "sources/source_record.h"

namespace clip::report {
namespace {

// The Unix folder the fixture wrote, as a Windows path on drive Z:.
std::string evidence(const std::string& name) {
  const char* dir = std::getenv("CLIPSALVAGE_EVIDENCE_DIR");
  std::string path = std::string("Z:") + (dir ? dir : "") + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST(WineEvidence, SegmentedFileInAChineseFolderReadsAsTheImage) {
  auto ewf = sources::open_block_source(sources::image_device_path(evidence("证据/ev.E01")));
  ASSERT_TRUE(ewf.source) << ewf.error;
  auto raw = sources::open_block_source(sources::image_device_path(evidence("image.img")));
  ASSERT_TRUE(raw.source) << raw.error;
  EXPECT_EQ(ewf.source->sector_count(), raw.source->sector_count());
  const auto details = sources::ewf_details(*ewf.source);
  ASSERT_TRUE(details);
  const auto segment_count = read_text_file(evidence("segments.txt"));
  ASSERT_TRUE(segment_count) << segment_count.error();
  std::string names;
  for (const auto& name : details->segments) names += name + "\n";
  EXPECT_EQ(std::to_string(details->segments.size()), segment_count.value()) << names;
  const auto hashes = read_text_file(evidence("hashes.txt"));
  ASSERT_TRUE(hashes) << hashes.error();
  EXPECT_EQ(details->hashes.md5 + " " + details->hashes.sha1, hashes.value());

  std::vector<uint8_t> a(300 * 512), b(300 * 512);
  for (int64_t s = 0; s < raw.source->sector_count(); s += 300) {
    const auto got_a = ewf.source->read_sectors(s, 300, a.data());
    const auto got_b = raw.source->read_sectors(s, 300, b.data());
    ASSERT_TRUE(got_a.ok() && got_b.ok());
    ASSERT_EQ(got_a.bytes, got_b.bytes);
    ASSERT_EQ(std::memcmp(a.data(), b.data(), got_a.bytes), 0) << "sector " << s;
  }
}

TEST(WineEvidence, MissingSegmentIsRefused) {
  auto opened = sources::open_block_source(sources::image_device_path(evidence("missing/ev.E01")));
  EXPECT_FALSE(opened.source);
  EXPECT_NE(opened.error.find("分段文件不完整"), std::string::npos) << opened.error;
}

TEST(WineEvidence, MapfileBesideTheImageMarksItsHole) {
  const std::string image = sources::image_device_path(evidence("image.img"));
  const std::string map_path = mapfile_beside(image);
  ASSERT_EQ(map_path, image + ".map");
  const auto map = load_mapfile(map_path);
  ASSERT_TRUE(map) << map.error();
  auto raw = sources::open_block_source(image);
  ASSERT_TRUE(raw.source);
  const int64_t sectors = raw.source->sector_count();
  const auto holes = unrecovered_sectors(map.value(), sectors);
  ASSERT_EQ(holes, (std::vector<SectorRange>{{100, 8}}));
  auto source = with_unreadable(std::move(raw.source), holes);
  std::vector<uint8_t> buf(128 * 512);
  const auto got = source->read_sectors(0, 128, buf.data());
  EXPECT_EQ(got.error, sources::ReadError::media);
  EXPECT_EQ(got.bytes, 100u * 512);
  EXPECT_FALSE(write_new_file(map_path, "x").empty()) << "an existing file must not be replaced";
  EXPECT_EQ(read_text_file(map_path).value().substr(0, 9), "# mapfile");
}

}  // namespace
}  // namespace clip::report
