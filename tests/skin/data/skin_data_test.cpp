#include "skin/data/skin_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "skin/data/archive.h"

namespace clip::skin {
namespace {

std::vector<uint8_t> small_skin_stream() {
  const std::string ini = "[Colours]\r\nButtonFace=1 2 3\r\n";
  return pack_skin_stream(std::vector<ArchiveEntry>{{"d.ini", std::vector<uint8_t>(ini.begin(), ini.end())}})
      .value();
}

TEST(TSkinData, StartsWithTheDefaultSettingsAndMainWindowValuesDifferOnlyWhereStored) {
  TSkinData d;
  EXPECT_FALSE(d.Active);
  EXPECT_TRUE(d.not_ready());
  EXPECT_EQ(d.DisableTag, 99);
  EXPECT_FALSE(d.SkinControls.has(xcFastReport));
  EXPECT_TRUE(d.SkinControls.has(xcProgress));
  EXPECT_TRUE(d.SkinControls.has(xcSystemMenu));
  EXPECT_EQ(d.SkinStore(), "(none)");
  ASSERT_EQ(d.Skin3rd.size(), 95u);
  EXPECT_EQ(d.Skin3rd.front(), "TTBDock=Panel");
  EXPECT_EQ(d.Skin3rd.back(), "TOVCDBNUMERICFIELD=Edit");
  d.apply_main_window_settings();
  EXPECT_TRUE(d.Active);
  EXPECT_FALSE(d.SkinControls.has(xcProgress));
  EXPECT_FALSE(d.SkinControls.has(xcStatusBar));
  EXPECT_TRUE(d.SkinControls.has(xcScrollbar));
  EXPECT_EQ(d.SkinControls.bits, 0x37F7Fu);
}

TEST(TSkinData, Skin3rdMatchesWholeClassNamesInLowerCase) {
  TSkinData d;
  EXPECT_EQ(d.skin3rd_kind("tdbcheckboxeh"), "checkbox");
  EXPECT_EQ(d.skin3rd_kind("TRzButton"), "button");
  EXPECT_EQ(d.skin3rd_kind("TRzButt"), std::nullopt);  // a prefix of a class name is not a match
  EXPECT_EQ(d.skin3rd_kind("TButton"), std::nullopt);
  d.Skin3rd = {"TMine=" + std::string(60, 'X')};
  EXPECT_EQ(d.skin3rd_kind("TMine")->size(), 50u);
}

TEST(TSkinData, SkinStreamPropertyCarriesItsCountAndLoadsAtOnce) {
  const auto stream = small_skin_stream();
  TSkinData d;
  std::vector<uint8_t> prop = {uint8_t(stream.size()), uint8_t(stream.size() >> 8), 0, 0};
  prop.insert(prop.end(), stream.begin(), stream.end());
  EXPECT_TRUE(d.read_skin_stream_property(prop));
  EXPECT_FALSE(d.not_ready());
  EXPECT_EQ(d.elements().colour(SkinColour::ButtonFace), rgb(1, 2, 3));
  EXPECT_EQ(d.write_skin_stream_property(), prop);

  TSkinData short_count;  // the count promises more bytes than follow
  prop.pop_back();
  EXPECT_FALSE(short_count.read_skin_stream_property(prop));
  EXPECT_TRUE(short_count.not_ready());
  TSkinData empty;
  EXPECT_FALSE(empty.read_skin_stream_property(std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_TRUE(empty.not_ready());
  EXPECT_EQ(empty.write_skin_stream_property(), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(TSkinData, SkinFileLoadsAnArchiveFileAndIgnoresAMissingOne) {
  const auto dir = std::filesystem::temp_directory_path() / ("skin_data_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto path = (dir / "a.skn").string();
  const auto stream = small_skin_stream();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
  TSkinData d;
  EXPECT_FALSE(d.SetSkinFile((dir / "missing.skn").string()));
  EXPECT_TRUE(d.not_ready());
  EXPECT_TRUE(d.SetSkinFile(path));
  EXPECT_FALSE(d.not_ready());
  EXPECT_EQ(d.SkinFile(), path);
  EXPECT_EQ(d.skin_stream(), stream);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace clip::skin
