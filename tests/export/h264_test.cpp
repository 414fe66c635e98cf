#include "export/h264.h"

#include <gtest/gtest.h>

#include "imagegen/image.h"
#include "support.h"

namespace clip::video {
namespace {

using test::BitWriter;

std::vector<uint8_t> unit_of(std::span<const uint8_t> stream, int type) {
  for (const auto& n : split_nal_units(stream)) {
    if (n.type == type) return {stream.begin() + static_cast<std::ptrdiff_t>(n.offset),
                                stream.begin() + static_cast<std::ptrdiff_t>(n.offset + n.size)};
  }
  return {};
}

TEST(NalUnits, SplitsAtThreeAndFourByteStartCodesWithoutTrailingZeros) {
  const std::vector<uint8_t> s{0xAA, 0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 0, 1, 0x65, 4, 0, 0};
  const auto units = split_nal_units(s);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].start, 1u);  // four-byte start code after a stray byte
  EXPECT_EQ(units[0].offset, 5u);
  EXPECT_EQ(units[0].size, 3u);
  EXPECT_EQ(units[0].type, kNalSps);
  EXPECT_EQ(units[0].ref_idc, 3);
  EXPECT_EQ(units[1].start, 8u);
  EXPECT_EQ(units[1].size, 2u);  // the zeros before the next start code are not the unit's
  EXPECT_EQ(units[2].type, kNalIdr);
  EXPECT_EQ(units[2].size, 2u);  // nor the stream's trailing zeros
  EXPECT_TRUE(split_nal_units(std::vector<uint8_t>{0, 0, 0, 0, 1}).empty());
  EXPECT_EQ(find_start_code(s.data(), s.size(), 9), 15u);
}

TEST(NalUnits, DroppableTypesAreFillerAndUnspecified) {
  for (int type : {0, 12, 24, 29, 31}) EXPECT_TRUE(is_droppable_nal(type)) << type;
  for (int type : {1, 5, 6, 7, 8, 9, 13, 20}) EXPECT_FALSE(is_droppable_nal(type)) << type;
}

TEST(Sps, SampleStreamGivesSizeTimedRateAndNoReordering) {
  const auto sps_unit = unit_of(imagegen::sample_video(), kNalSps);
  ASSERT_FALSE(sps_unit.empty());
  const auto sps = parse_sps(sps_unit);
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->width, 320);
  EXPECT_EQ(sps->height, 240);
  EXPECT_TRUE(sps->timing_info);
  EXPECT_EQ(sps_frame_rate(*sps), (Rate{10, 1}));
  EXPECT_FALSE(may_reorder(*sps));
  const auto pps = parse_pps(unit_of(imagegen::sample_video(), kNalPps));
  ASSERT_TRUE(pps);
  EXPECT_EQ(pps->sps_id, sps->id);
  // Every other unit type is refused by each parser.
  EXPECT_FALSE(parse_pps(sps_unit));
  EXPECT_FALSE(parse_slice_start(sps_unit));
}

// A high-profile SPS (chroma fields, a scaling list), interlaced, cropped,
// with timing and a bitstream restriction.
std::vector<uint8_t> high_profile_sps(uint32_t units_in_tick, uint32_t time_scale) {
  BitWriter w;
  w.bits(0x67, 8);
  w.bits(100, 8);  // profile_idc
  w.bits(0, 8);
  w.bits(40, 8);
  w.ue(3);  // sps id
  w.ue(1);  // chroma_format_idc 4:2:0
  w.ue(0);
  w.ue(0);
  w.bits(0, 1);
  w.bits(1, 1);  // seq_scaling_matrix_present_flag
  w.bits(1, 1);  // list 0 present
  for (int j = 0; j < 16; ++j) w.se(j == 0 ? 8 : 0);
  for (int i = 1; i < 8; ++i) w.bits(0, 1);
  w.ue(0);  // log2_max_frame_num_minus4
  w.ue(0);  // poc type 0
  w.ue(2);
  w.ue(4);  // max_num_ref_frames
  w.bits(0, 1);
  w.ue(119);  // 120 macroblocks wide: 1920
  w.ue(33);   // 34 map units of two fields: 1088
  w.bits(0, 1);  // frame_mbs_only_flag
  w.bits(1, 1);  // mb_adaptive_frame_field_flag
  w.bits(1, 1);
  w.bits(1, 1);  // cropping
  w.ue(0);
  w.ue(0);
  w.ue(0);
  w.ue(2);  // 2 x 2 x 2 = 8 lines off the bottom
  w.bits(1, 1);  // VUI
  w.bits(1, 1);  // aspect ratio
  w.bits(255, 8);
  w.bits(4, 16);
  w.bits(3, 16);
  w.bits(0, 1);
  w.bits(0, 1);
  w.bits(0, 1);
  w.bits(1, 1);  // timing
  w.bits(units_in_tick, 32);
  w.bits(time_scale, 32);
  w.bits(1, 1);
  w.bits(1, 1);  // NAL HRD
  w.ue(0);
  w.bits(0, 8);
  w.ue(1000);
  w.ue(2000);
  w.bits(0, 1);
  w.bits(0, 20);
  w.bits(0, 1);
  w.bits(0, 1);  // low_delay
  w.bits(0, 1);
  w.bits(1, 1);  // bitstream restriction
  w.bits(1, 1);
  w.ue(0);
  w.ue(0);
  w.ue(16);
  w.ue(16);
  w.ue(2);  // max_num_reorder_frames
  w.ue(4);
  w.trailing();
  return w.escaped();
}

TEST(Sps, HighProfileInterlacedCroppedWithTimingAndReorderDepth) {
  const auto sps = parse_sps(high_profile_sps(1001, 60000));
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->id, 3);
  EXPECT_EQ(sps->width, 1920);
  EXPECT_EQ(sps->height, 1080);
  EXPECT_FALSE(sps->frame_mbs_only);
  EXPECT_EQ(sps->max_num_reorder_frames, 2);
  EXPECT_EQ(sps_frame_rate(*sps), (Rate{30000, 1001}));
  EXPECT_TRUE(may_reorder(*sps));

  // A field slice of it: first_mb 0, P slice, PPS 0, frame_num 5, a field.
  BitWriter slice;
  slice.bits(0x21, 8);
  slice.ue(0);
  slice.ue(5);
  slice.ue(0);
  slice.bits(5, 4);
  slice.bits(1, 1);  // field_pic_flag
  slice.bits(1, 1);
  slice.trailing();
  const auto start = parse_slice_start(slice.escaped(), &*sps);
  ASSERT_TRUE(start);
  EXPECT_EQ(start->slice_type, 5);
  EXPECT_EQ(start->frame_num, 5u);
  EXPECT_TRUE(start->field);
  EXPECT_FALSE(parse_slice_start(slice.escaped())->field);  // without the SPS nothing past the PPS id is read
}

TEST(Sps, DamagedUnitsFailWithoutReadingPastTheirEnd) {
  const auto good = high_profile_sps(1, 50);
  for (std::size_t n = 1; n < good.size(); ++n) {
    // Cut anywhere inside the VUI or before, the unit is refused; the cut
    // copy lives on the heap alone, so a read past it shows under ASan.
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    if (parse_sps(cut)) {
      EXPECT_GE(n, good.size() - 2) << n;
    }
  }
  // 32 leading zeros can't start an Exp-Golomb code.
  std::vector<uint8_t> zeros{0x67, 66, 0, 30, 0, 0, 0, 0, 0x80};
  EXPECT_FALSE(parse_sps(zeros));
  // Fields out of range: sps id 32.
  BitWriter w;
  w.bits(0x67, 8);
  w.bits(66, 8);
  w.bits(0, 16);
  w.ue(32);
  w.trailing();
  EXPECT_FALSE(parse_sps(w.escaped()));
}

TEST(FrameRate, FromTimingInformationWithinSaneBounds) {
  struct Case {
    bool timing;
    uint32_t units, scale;
    std::optional<Rate> want;
  };
  const Case cases[] = {
      {true, 1, 20, Rate{10, 1}},
      {true, 1001, 60000, Rate{30000, 1001}},
      {true, 1, 50, Rate{25, 1}},
      {true, 2, 25, Rate{25, 4}},  // 6.25 fps: slow recorders exist
      {true, 1999999999, 4000000000u, Rate{1, 1}},  // fractions too fine for the MP4 are rounded
      {true, 1998001998, 4000000000u, Rate{1001, 1000}},
      {true, 0, 50, std::nullopt},
      {true, 1, 0, std::nullopt},
      {true, 1, 1, std::nullopt},     // half a frame per second
      {true, 1, 1000, std::nullopt},  // 500 fps
      {false, 1, 50, std::nullopt},
  };
  for (const auto& c : cases) {
    Sps sps;
    sps.timing_info = c.timing;
    sps.num_units_in_tick = c.units;
    sps.time_scale = c.scale;
    EXPECT_EQ(sps_frame_rate(sps), c.want) << c.units << "/" << c.scale;
  }
}

TEST(FrameRate, SettingsAsOperatorsTypeThem) {
  EXPECT_EQ(parse_rate("25"), (Rate{25, 1}));
  EXPECT_EQ(parse_rate("12.5"), (Rate{25, 2}));
  EXPECT_EQ(parse_rate("29.97"), (Rate{2997, 100}));
  EXPECT_EQ(parse_rate("30000/1001"), (Rate{30000, 1001}));
  EXPECT_EQ(parse_rate("300"), (Rate{300, 1}));
  EXPECT_EQ(parse_rate("1"), (Rate{1, 1}));
  for (const char* bad : {"", "0", "0.5", "301", "25/0", "-25", "25fps", "1.2.3", "1/2/3", ".", "25.", "/1",
                          "1e3", "9999999999", " 25"}) {
    EXPECT_FALSE(parse_rate(bad)) << bad;
  }
}

TEST(Unescape, RemovesEmulationPreventionBytesOnly) {
  const std::vector<uint8_t> in{0x67, 0, 0, 3, 1, 0, 3, 0, 0, 3};
  EXPECT_EQ(unescape(in), (std::vector<uint8_t>{0x67, 0, 0, 1, 0, 3, 0, 0}));
  EXPECT_EQ(unescape(in, 3).size(), 3u);
}

TEST(TimingRewrite, SampleWithoutTimingStillParses) {
  // The test helper that makes streams without timing information must keep
  // everything before the VUI.
  const auto sample = imagegen::sample_video();
  const auto sps = parse_sps(unit_of(sample, kNalSps));
  ASSERT_TRUE(sps);
  const auto stripped = test::without_timing(sample, sps->vui_flag_bit);
  const auto again = parse_sps(unit_of(stripped, kNalSps));
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->timing_info);
  EXPECT_EQ(again->width, 320);
  EXPECT_EQ(test::count_pictures(stripped).total, test::count_pictures(sample).total);
}

}  // namespace
}  // namespace clip::video
