#include "app/command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "ui/wide.h"

namespace {

std::string cwd_joined(const std::string& name) {
  wchar_t dir[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, dir);
  std::string out = ui::narrow(dir);
  if (!out.empty() && out.back() != '\\') out += '\\';
  return out + name;
}

TEST(CommandLine, ImagesAndOptionsInAnyOrder) {
  struct Case {
    const wchar_t* line;
    std::vector<std::string> images;
    bool scan, about, error;
  } cases[] = {
      {L"ClipSalvage.exe", {}, false, false, false},
      {L"\"C:\\Program Files\\ClipSalvage.exe\" D:\\a.img", {"D:\\a.img"}, false, false, false},
      {L"ClipSalvage.exe --scan \"D:\\my disk\\卷 1.img\" D:\\b.IMG",
       {"D:\\my disk\\卷 1.img", "D:\\b.IMG"}, true, false, false},
      {L"ClipSalvage.exe D:\\a.img --about --scan", {"D:\\a.img"}, true, true, false},
      // After "--" everything is a file, even what looks like an option.
      {L"ClipSalvage.exe -- --scan", {cwd_joined("--scan")}, false, false, false},
      // An unknown option is reported; the rest still counts.
      {L"ClipSalvage.exe --frobnicate D:\\a.img --scan", {"D:\\a.img"}, true, false, true},
      {L"ClipSalvage.exe sample.img", {cwd_joined("sample.img")}, false, false, false},
      {L"ClipSalvage.exe \"\"", {}, false, false, false},
  };
  for (const Case& c : cases) {
    const app::StartOptions options = app::parse_command_line(c.line);
    const std::string line = ui::narrow(c.line);
    EXPECT_EQ(options.images, c.images) << line;
    EXPECT_EQ(options.scan, c.scan) << line;
    EXPECT_EQ(options.about, c.about) << line;
    EXPECT_EQ(!options.error.empty(), c.error) << line;
  }
  EXPECT_NE(app::parse_command_line(L"x.exe -q").error.find("-q"), std::string::npos);
}

}  // namespace
