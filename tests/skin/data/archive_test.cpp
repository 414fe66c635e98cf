#include "skin/data/archive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using clip::skin::ArchiveEntry;
using clip::skin::ErrorKind;
using clip::skin::TSkinReader;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::vector<ArchiveEntry> sample_entries() {
  return {{"Top.bmp", bytes_of("BMtop")},
          {"min.bmp", bytes_of("BMfirst")},
          {"skin.ini", bytes_of("[Colours]\r\n")},
          {"min.bmp", bytes_of("BMsecond")},
          {"empty.bmp", {}}};
}

Bytes u32(std::uint32_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}; }

// A raw archive from its parts, for inputs the writer refuses to make.
Bytes raw_archive(std::uint32_t version, std::string_view names, const std::vector<std::uint32_t>& sizes,
                  std::string_view data, std::uint32_t list_length) {
  Bytes out = u32(version);
  for (auto b : u32(list_length)) out.push_back(b);
  for (auto b : u32(0xDEADBEEF)) out.push_back(b);
  for (auto b : u32(0x12345678)) out.push_back(b);
  out.insert(out.end(), names.begin(), names.end());
  for (auto s : sizes)
    for (auto b : u32(s)) out.push_back(b);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}
Bytes raw_archive(std::uint32_t version, std::string_view names, const std::vector<std::uint32_t>& sizes,
                  std::string_view data) {
  return raw_archive(version, names, sizes, data, static_cast<std::uint32_t>(names.size()));
}

TEST(SkinArchive, WriterLayoutAndPackedRoundTrip) {
  const auto entries = sample_entries();
  auto archive = clip::skin::write_archive(entries);
  ASSERT_TRUE(archive.ok());
  const Bytes& a = archive.value();
  EXPECT_EQ(Bytes(a.begin(), a.begin() + 8), (Bytes{0x20, 0x4E, 0, 0, 48, 0, 0, 0}));
  const std::string list(a.begin() + 16, a.begin() + 16 + 48);
  EXPECT_EQ(list, "Top.bmp\r\nmin.bmp\r\nskin.ini\r\nmin.bmp\r\nempty.bmp\r\n");
  EXPECT_EQ(a.size(), 16u + 48 + 4 * 5 + 5 + 7 + 11 + 8 + 0);

  auto stream = clip::skin::pack_skin_stream(entries);
  ASSERT_TRUE(stream.ok());
  TSkinReader reader;
  ASSERT_TRUE(reader.OpenArchive(stream.value()).ok());
  EXPECT_EQ(reader.names(), (std::vector<std::string>{"top.bmp", "min.bmp", "skin.ini", "min.bmp", "empty.bmp"}));
  EXPECT_EQ(reader.sizes(), (std::vector<std::uint32_t>{5, 7, 11, 8, 0}));
}

TEST(SkinArchive, Lookups) {
  TSkinReader reader;
  ASSERT_TRUE(reader.open_unpacked(clip::skin::write_archive(sample_entries()).value()).ok());
  auto top = reader.FindEntry("TOP.BMP");
  ASSERT_TRUE(top);
  EXPECT_EQ(Bytes(top->begin(), top->end()), bytes_of("BMtop"));
  auto min = reader.FindEntry("min.bmp");
  ASSERT_TRUE(min);
  EXPECT_EQ(Bytes(min->begin(), min->end()), bytes_of("BMfirst"));
  auto empty = reader.FindEntry("empty.bmp");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  EXPECT_FALSE(reader.FindEntry("max.bmp"));
  EXPECT_FALSE(reader.FindEntry("top"));

  auto ini = reader.FindEntryContaining(".ini");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->name, "skin.ini");
  EXPECT_EQ(Bytes(ini->data.begin(), ini->data.end()), bytes_of("[Colours]\r\n"));
  EXPECT_FALSE(reader.FindEntryContaining(".INI"));
  auto first_bmp = reader.FindEntryContaining(".bmp");
  ASSERT_TRUE(first_bmp);
  EXPECT_EQ(first_bmp->name, "top.bmp");
}

TEST(SkinArchive, LineEndingsOfTheNameList) {
  // CR, LF and CR LF all end a line; the last line needs no ending; an empty
  // line in the middle is an entry with an empty name.
  TSkinReader reader;
  ASSERT_TRUE(reader.open_unpacked(raw_archive(20000, "a\rb\nc\r\n\r\nd", {1, 1, 1, 1, 1}, "ABCDE")).ok());
  EXPECT_EQ(reader.names(), (std::vector<std::string>{"a", "b", "c", "", "d"}));
  auto d = reader.FindEntry("D");
  ASSERT_TRUE(d);
  EXPECT_EQ(Bytes(d->begin(), d->end()), bytes_of("E"));
  // Trailing bytes after the last entry are kept but belong to no entry.
  ASSERT_TRUE(reader.open_unpacked(raw_archive(20000, "x\r\n", {2}, "XYZ")).ok());
  EXPECT_EQ(reader.sizes(), (std::vector<std::uint32_t>{2}));
}

TEST(SkinArchive, RejectsDamagedArchives) {
  std::string many;
  for (int i = 0; i < 1002; ++i) {
    many += std::to_string(i);
    many += "\r\n";
  }
  std::string exactly;
  for (int i = 0; i < 1001; ++i) exactly += "e\r\n";
  struct Case {
    const char* what;
    Bytes archive;
    ErrorKind kind;
  } cases[] = {
      {"old version", raw_archive(19999, "a\r\n", {1}, "A"), ErrorKind::old_version},
      {"empty", {}, ErrorKind::bad_data},
      {"short header", Bytes{0x20, 0x4E, 0, 0, 0, 0, 0}, ErrorKind::bad_data},
      {"list longer than archive", raw_archive(20000, "a\r\n", {1}, "A", 100), ErrorKind::bad_data},
      {"list length wraps", raw_archive(20000, "a\r\n", {1}, "A", 0xFFFFFFF0u), ErrorKind::bad_data},
      {"size table cut", raw_archive(20000, "a\r\nb\r\n", {1}, ""), ErrorKind::bad_data},
      {"size beyond data", raw_archive(20000, "a\r\nb\r\n", {1, 2}, "AB"), ErrorKind::bad_data},
      {"sizes overflow", raw_archive(20000, "a\r\nb\r\n", {0xFFFFFFFFu, 2}, "AB"), ErrorKind::bad_data},
      {"1002 names", raw_archive(20000, many, std::vector<std::uint32_t>(1002, 0), ""), ErrorKind::bad_data},
  };
  for (const auto& c : cases) {
    TSkinReader reader;
    auto status = reader.open_unpacked(c.archive);
    ASSERT_FALSE(status.ok()) << c.what;
    EXPECT_EQ(status.error().kind, c.kind) << c.what;
    EXPECT_TRUE(reader.names().empty()) << c.what;
    EXPECT_FALSE(reader.FindEntryContaining("")) << c.what;
  }
  TSkinReader reader;
  auto old = reader.open_unpacked(raw_archive(0x4E21, "", {}, ""));
  ASSERT_FALSE(old.ok());
  EXPECT_EQ(old.error().message, "This is Older Skin File\rPlease update to new version !");
  EXPECT_TRUE(reader.open_unpacked(raw_archive(20000, exactly, std::vector<std::uint32_t>(1001, 0), "")).ok());
  EXPECT_EQ(reader.names().size(), 1001u);
}

TEST(SkinArchive, RejectedStreamsAndReopen) {
  TSkinReader reader;
  ASSERT_TRUE(reader.open_unpacked(clip::skin::write_archive(sample_entries()).value()).ok());
  // Unpacked size 0: an empty archive, which has no version.
  auto empty = reader.OpenArchive(Bytes{0, 0, 0, 0});
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().kind, ErrorKind::bad_data);
  EXPECT_FALSE(reader.FindEntry("top.bmp"));
  auto huge = reader.OpenArchive(Bytes{0, 0, 0, 0x10});
  ASSERT_FALSE(huge.ok());
}

TEST(SkinArchive, WriterRefusesWhatReadersReject) {
  const std::vector<ArchiveEntry> bad_name = {{"a\r\nb", {}}};
  EXPECT_FALSE(clip::skin::write_archive(bad_name).ok());
  const std::vector<ArchiveEntry> too_many(1002, ArchiveEntry{"x", {}});
  EXPECT_FALSE(clip::skin::write_archive(too_many).ok());
  const std::vector<ArchiveEntry> max(1001, ArchiveEntry{"x", {}});
  EXPECT_TRUE(clip::skin::write_archive(max).ok());
}

}  // namespace
