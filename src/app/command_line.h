// The program's command line: disk images to load at start, and what to do
// once the main window is shown.
//
//   ClipSalvage.exe [--scan] [--about] [--] [IMAGE...]
//
// Each IMAGE is loaded into the image group as the open dialog would load it;
// --scan selects the first one and scans it; --about opens the About window.
#pragma once

#include <string>
#include <vector>

namespace app {

struct StartOptions {
  std::vector<std::string> images;  // full paths, UTF-8
  bool scan = false;
  bool about = false;
  std::string error;  // an unknown option; the rest is still used
};

// Arguments after the program name.
StartOptions parse_arguments(const std::vector<std::wstring>& arguments);
// A whole command line as GetCommandLineW gives it, program name first.
StartOptions parse_command_line(const wchar_t* command_line);

inline constexpr const char* kUsage = "用法：ClipSalvage.exe [--scan] [--about] [镜像文件...]";

}  // namespace app
