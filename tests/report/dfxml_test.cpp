#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/recover.h"
#include "report/clip_hash.h"
#include "report/dfxml.h"
#include "report/files.h"
#include "report/test_files.h"
#include "sources/block_source.h"

namespace clip::report {
namespace {

using scanner::ClipRow;

TEST(XmlEscape, MarkupAndBytesXmlCannotCarry) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e&apos;f"},
      {"tab\tnl\ncr\r", "tab&#9;nl&#10;cr&#13;"},
      {"通道 01", "通道 01"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {std::string("nul\0x", 5), "nul\xEF\xBF\xBDx"},
      {"\x01\x1f\x7f", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},        // overlong "/"
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // U+FFFE
      {"cut\xE4\xB8", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},  // a character cut short
      {"\xC2\x85", "\xEF\xBF\xBD\xEF\xBF\xBD"},        // C1 control
  };
  for (const auto& c : cases) EXPECT_EQ(xml_escape(c.in), c.out) << c.in;
}

DfxmlCreator fixed_creator() {
  DfxmlCreator creator;
  creator.version = "0.1.0";
  creator.command_line = "clipsalvage recover 'a&b.img' --out 目录 --dfxml r.xml";
  creator.start = std::chrono::system_clock::from_time_t(1709622489);  // 2024-03-05T07:08:09Z
  creator.end = creator.start + std::chrono::seconds(3725);
  return creator;
}

TEST(Dfxml, DocumentMatchesTheCheckedGoldenFile) {
  DfxmlSource source;
  source.path = "/evidence/<disk>.E01";
  source.sectors = 8200000;
  source.image_hashes = sources::ImageHashes{"2a66965ea3c214328824b5b2cc15a3ec", "596d146eb606b0a0bb5e2995cc5564c8c6b0f710"};
  source.unreadable = {{8000300, 2}};
  DfxmlClip first;
  first.row.number = 1;
  first.row.channel = "01";
  first.row.start = "2012-05-20 13-45-30";
  first.row.name = "ch00000000000001-12-05-20-13-45-30-.264";
  first.row.runs = {{8000130, 2}, {8000642, 1}};
  first.row.blocks = 3;
  first.bytes = 3 * 65536;
  first.sha256 = std::string(64, 'e');
  first.output_path = "/out/ch00000000000001-12-05-20-13-45-30-.264";
  first.unreadable = {{8000300, 2}};
  DfxmlClip second;  // scanned only: no file, the run cut by the source's end
  second.row.number = 2;
  second.row.channel = "02";
  second.row.start = "2012-05-20 13-45-31";
  second.row.name = "ch00000000000002-12-05-20-13-45-31-.264";
  second.row.closed = false;
  second.row.runs = {{8199936, 1}};
  second.row.blocks = 1;
  second.bytes = 64 * 512;
  const std::string doc = dfxml_document(fixed_creator(), source, {first, second});
  const auto golden = read_text_file(std::string(CLIPSALVAGE_REPORT_DATA) + "/golden.dfxml");
  ASSERT_TRUE(golden) << golden.error();
  EXPECT_EQ(doc, golden.value());
}

TEST(Dfxml, ByteRunsCutFromTheImageHashToTheDigestsAndXmllintAccepts) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint (libxml2-utils) is missing";
  test::TempDir dir;
  imagegen::ImageSpec spec;
  spec.sectors = 4000;  // the last clip is cut by the end of the image
  for (int k = 0; k < 3; ++k) {
    for (uint8_t c = 1; c <= 2; ++c) {
      imagegen::Recording r;
      r.channel = c;
      r.time = {24, 2, 3, 4, c, static_cast<uint8_t>(k)};
      r.blocks = 5;
      spec.recordings.push_back(r);
    }
  }
  const std::string image = (dir.path / "a&b <img>.img").string();
  {
    imagegen::ImageFile file(image, spec.sectors);
    imagegen::write_recordings(spec, file);
    file.close();
  }
  auto opened = sources::open_block_source(image);
  ASSERT_TRUE(opened.source) << opened.error;
  std::vector<ClipRow> rows;
  scanner::ScanCallbacks cb;
  cb.row = [&](const ClipRow& r) { rows.push_back(r); };
  scanner::scan(*opened.source, {}, cb);
  ASSERT_EQ(rows.size(), spec.recordings.size());

  DfxmlSource source{image, opened.source->sector_count(), std::nullopt, {}};
  std::vector<DfxmlClip> clips;
  for (const auto& row : rows) {
    const auto digest = hash_clip(*opened.source, row.runs);
    clips.push_back({row, digest.bytes, digest.sha256, {}, {}});
  }
  const std::string xml = (dir.path / "report.xml").string();
  ASSERT_EQ(write_new_file(xml, dfxml_document(fixed_creator(), source, clips)), "");
  EXPECT_NE(write_new_file(xml, "replaced"), "");  // an existing report stays
  const std::string lint = test::run_command("xmllint --noout '" + xml + "'");
  EXPECT_EQ(lint, "");

  // Each fileobject's runs, cut out of the image file in order, hash to its digest.
  const std::string doc = read_text_file(xml).value();
  const std::regex object("<fileobject>([\\s\\S]*?)</fileobject>");
  const std::regex run("img_offset='(\\d+)' len='(\\d+)'");
  const std::regex digest("<hashdigest type='sha256'>([0-9a-f]{64})</hashdigest>");
  std::ifstream in(image, std::ios::binary);
  int objects = 0;
  for (std::sregex_iterator o(doc.begin(), doc.end(), object), end; o != end; ++o, ++objects) {
    const std::string body = (*o)[1];
    recover::Sha256 hash;
    uint64_t total = 0;
    for (std::sregex_iterator r(body.begin(), body.end(), run); r != end; ++r) {
      std::vector<char> bytes(std::stoull((*r)[2]));
      in.seekg(static_cast<std::streamoff>(std::stoll((*r)[1])));
      in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(bytes.size()));
      hash.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      total += bytes.size();
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_search(body, m, digest)) << body;
    EXPECT_EQ(hash.hex(), m[1].str()) << body;
    EXPECT_EQ(total, clips[static_cast<std::size_t>(objects)].bytes);
  }
  EXPECT_EQ(objects, static_cast<int>(rows.size()));
}

}  // namespace
}  // namespace clip::report
