#include "imagegen/tool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "imagegen/image.h"
#include "recover/temp_folder.h"

namespace clip::imagegen {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out, err;
};

std::string read_back(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) s.append(buffer, n);
  std::fclose(f);
  return s;
}

Result tool(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Result r{run_tool(args, out, err), "", ""};
  r.out = read_back(out);
  r.err = read_back(err);
  return r;
}

TEST(ImagegenTool, HelpAndNumbersThatAreRefusedBeforeAnyFileIsMade) {
  const auto help = tool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: imagegen OUT"), std::string::npos);
  EXPECT_NE(help.out.find("--odd-times"), std::string::npos);

  testing::TempFolder dir("clipsalvage-imagegen");
  const std::string image = dir.str("x.img");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{image, "--dense", "-5"}, "--dense needs a whole number from 1 to 4194304: -5"},
      {{image, "--dense", "12x"}, "--dense needs a whole number from 1 to 4194304: 12x"},
      {{image, "--dense", "0"}, "--dense needs a whole number from 1 to 4194304: 0"},
      {{image, "--truncate", "-1"}, "--truncate needs a whole number"},
      {{image, "--truncate", "8026370"}, "--truncate 8026370 is not less than the image's 8026370 sectors"},
      {{image, "--truncate"}, "--truncate needs a value"},
      {{image, "--frob"}, "unknown option --frob"},
      {{image, "other.img"}, "more than one output file"},
      {{}, "no output file"},
  };
  for (const auto& c : cases) {
    const auto r = tool(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err.rfind("imagegen: " + c.message, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("usage: imagegen OUT"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "x.img"));

  const auto cut = tool({image, "--truncate", "8026369"});
  EXPECT_EQ(cut.status, 0) << cut.err;
  EXPECT_EQ(fs::file_size(dir.path() / "x.img"), 512u);
}

bool valid_time(const RecordTime& t) {
  return t[1] >= 1 && t[1] <= 12 && t[2] >= 1 && t[2] <= 31 && t[3] < 24 && t[4] < 60 && t[5] < 60;
}

TEST(ImagegenTool, TheSampleHasRealTimesAndTheOddOnesStayBehindAnOption) {
  const ImageSpec sample = sample_spec();
  const ImageSpec odd = sample_spec(true);
  ASSERT_EQ(sample.recordings.size(), 9u);
  ASSERT_EQ(odd.recordings.size(), 9u);
  int odd_ones = 0;
  for (std::size_t i = 0; i < sample.recordings.size(); ++i) {
    EXPECT_TRUE(valid_time(sample.recordings[i].time)) << clip_name(sample.recordings[i].channel, sample.recordings[i].time);
    // The same clips, blocks and channels either way.
    EXPECT_EQ(odd.recordings[i].channel, sample.recordings[i].channel);
    EXPECT_EQ(odd.recordings[i].blocks, sample.recordings[i].blocks);
    if (!valid_time(odd.recordings[i].time)) ++odd_ones;
  }
  EXPECT_EQ(odd_ones, 2);
  EXPECT_EQ(clip_name(odd.recordings[7].channel, odd.recordings[7].time), "ch00000000000004-26-05-20-09-60-128-.264");
  EXPECT_EQ(odd.sectors, sample.sectors);
}

}  // namespace
}  // namespace clip::imagegen
