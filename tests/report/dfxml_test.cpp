#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/recover.h"
#include "report/clip_hash.h"
#include "report/dfxml.h"
#include "report/dfxml_read.h"
#include "report/files.h"
#include "report/test_files.h"
#include "sources/block_source.h"
#include "sources/memory_source.h"

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
  imagegen::ImageSpec plan;
  plan.sectors = 4000;  // the last clip is cut by the end of the image
  for (int k = 0; k < 3; ++k) {
    for (uint8_t c = 1; c <= 2; ++c) {
      imagegen::Recording r;
      r.channel = c;
      r.time = {24, 2, 3, 4, c, static_cast<uint8_t>(k)};
      r.blocks = 5;
      plan.recordings.push_back(r);
    }
  }
  const std::string image = (dir.path / "a&b <img>.img").string();
  {
    imagegen::ImageFile file(image, plan.sectors);
    imagegen::write_recordings(plan, file);
    file.close();
  }
  auto opened = sources::open_block_source(image);
  ASSERT_TRUE(opened.source) << opened.error;
  std::vector<ClipRow> rows;
  scanner::ScanCallbacks cb;
  cb.row = [&](const ClipRow& r) { rows.push_back(r); };
  scanner::scan(*opened.source, {}, cb);
  ASSERT_EQ(rows.size(), plan.recordings.size());

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

TEST(DfxmlRead, TheGoldenFileReadsBackWithItsRunsDigestsAndSize) {
  const auto doc = load_dfxml(std::string(CLIPSALVAGE_REPORT_DATA) + "/golden.dfxml");
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->image_size, 8200000LL * 512);
  ASSERT_EQ(doc->objects.size(), 2u);
  const DfxmlObject& first = doc->objects[0];
  EXPECT_EQ(first.filename, "ch00000000000001-12-05-20-13-45-30-.264");
  EXPECT_EQ(first.filesize, 3 * 65536);
  EXPECT_EQ(first.sha256, std::string(64, 'e'));
  // Split around the two unreadable sectors; the source's own unreadable
  // list is not a fileobject's run.
  std::vector<std::tuple<int64_t, int64_t, bool>> runs;
  for (const auto& r : first.runs) runs.emplace_back(r.img_offset / 512, r.len / 512, r.zeros);
  EXPECT_EQ(runs, (std::vector<std::tuple<int64_t, int64_t, bool>>{
                      {8000130, 170, false}, {8000300, 2, true}, {8000302, 84, false}, {8000642, 128, false}}));
  EXPECT_TRUE(doc->objects[1].sha256.empty());
}

TEST(DfxmlRead, MalformedDocumentsFailWithTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"<dfxml>\n<fileobject>\n</dfxml>", "第 3 行：结束标记 dfxml 与开始标记不符"},
      {"<dfxml>\n<fileobject>", "没有结束"},
      {"<!DOCTYPE x [<!ENTITY a 'b'>]>\n<dfxml/>", "第 1 行：不接受文档类型声明"},
      {"<dfxml>&unknown;</dfxml>", "无效的字符引用"},
      {"<dfxml>&#0;</dfxml>", "无效的字符引用"},
      {"<dfxml a='1' a='2'/>", "属性重复"},
      {"<dfxml/><dfxml/>", "根元素之后还有元素"},
      {"text<dfxml/>", "根元素之外有文字"},
      {"<other/>", "根元素不是 dfxml"},
      {"", "没有根元素"},
      {"<dfxml>\n<fileobject><byte_runs>\n<byte_run img_offset='-1' len='512'/>", "第 3 行：byte_run 缺少有效的"},
      {"<dfxml><fileobject><byte_runs><byte_run img_offset='0' len='512' fill='1'/>", "fill 只能为 0"},
      {"<dfxml><source><imagesize>12x</imagesize></source></dfxml>", "imagesize 不是整数"},
      {"<dfxml a=1/>", "属性值缺少引号"},
  };
  for (const auto& c : cases) {
    const auto doc = parse_dfxml(c.text);
    ASSERT_FALSE(doc) << c.text;
    EXPECT_NE(doc.error().find(c.error), std::string::npos) << c.text << " -> " << doc.error();
  }
  // References, comments, CDATA and a foreign digest type are read as XML means them.
  const auto doc = parse_dfxml(
      "<?xml version='1.0'?><!-- c --><dfxml><fileobject><filename>a&amp;b&#x4E2D;<![CDATA[<x>]]></filename>"
      "<hashdigest type='md5'>00</hashdigest><hashdigest type=\"SHA256\">AB</hashdigest></fileobject></dfxml>");
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->objects.at(0).filename, "a&b中<x>");
  EXPECT_EQ(doc->objects.at(0).sha256, "ab");
}

TEST(DfxmlRead, VerifyCutsTheRunsFromTheSourceAndNamesWhatDiffers) {
  sources::MemorySource source(64);
  std::vector<uint8_t> bytes(64 * 512);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
  source.write(0, bytes);
  auto digest_of = [&](std::initializer_list<std::pair<int64_t, int64_t>> pieces, int64_t zeros) {
    recover::Sha256 h;
    for (const auto& [off, len] : pieces) h.update(bytes.data() + off, static_cast<std::size_t>(len));
    const std::vector<uint8_t> z(static_cast<std::size_t>(zeros), 0);
    h.update(z.data(), z.size());
    return h.hex();
  };
  // Runs off sector boundaries, a fill run, and one object whose bytes changed.
  const std::string good = digest_of({{100, 1000}, {5000, 3000}}, 512);
  const std::string doc_text =
      "<dfxml><source><imagesize>32768</imagesize></source>"
      "<fileobject><filename>good</filename><filesize>4512</filesize><byte_runs>"
      "<byte_run file_offset='0' img_offset='100' len='1000'/><byte_run file_offset='1000' img_offset='5000' len='3000'/>"
      "<byte_run file_offset='4000' img_offset='9000' len='512' fill='0'/></byte_runs>"
      "<hashdigest type='sha256'>" + good + "</hashdigest></fileobject>"
      "<fileobject><filename>changed</filename><byte_runs><byte_run img_offset='0' len='512'/></byte_runs>"
      "<hashdigest type='sha256'>" + digest_of({{0, 511}}, 1) + "</hashdigest></fileobject>"
      "<fileobject><filename>beyond</filename><byte_runs><byte_run img_offset='32768' len='1'/></byte_runs>"
      "<hashdigest type='sha256'>" + good + "</hashdigest></fileobject></dfxml>";
  const auto doc = parse_dfxml(doc_text);
  ASSERT_TRUE(doc) << doc.error();
  const auto result = verify_dfxml(source, doc.value());
  EXPECT_EQ(result.checked, 3u);
  ASSERT_EQ(result.mismatches.size(), 2u);
  EXPECT_EQ(result.mismatches[0].rfind("changed：", 0), 0u) << result.mismatches[0];
  EXPECT_EQ(result.mismatches[1].rfind("beyond：", 0), 0u) << result.mismatches[1];

  sources::MemorySource smaller(63);
  EXPECT_NE(verify_dfxml(smaller, doc.value()).mismatches.at(0).find("源大小不同"), std::string::npos);
}

}  // namespace
}  // namespace clip::report
