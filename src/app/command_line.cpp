#include "app/command_line.h"

#include <windows.h>
// shellapi.h needs the types of windows.h first.
#include <shellapi.h>

#include "ui/wide.h"

namespace app {

namespace {
// The open dialog hands over full paths; a relative argument is made one
// against the working directory, so the tree shows where the file is.
std::string full_path(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return ui::narrow(path);
  std::wstring out(needed, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), needed, out.data(), nullptr);
  if (written == 0 || written >= needed) return ui::narrow(path);
  out.resize(written);
  return ui::narrow(out);
}
}  // namespace

StartOptions parse_arguments(const std::vector<std::wstring>& arguments) {
  StartOptions options;
  bool only_files = false;
  for (const std::wstring& argument : arguments) {
    if (argument.empty()) continue;
    if (!only_files && argument == L"--") {
      only_files = true;
    } else if (!only_files && argument == L"--scan") {
      options.scan = true;
    } else if (!only_files && argument == L"--about") {
      options.about = true;
    } else if (!only_files && argument.size() > 1 && argument[0] == L'-') {
      if (options.error.empty()) options.error = "未知的选项：" + ui::narrow(argument) + "\n" + kUsage;
    } else {
      options.images.push_back(full_path(argument));
    }
  }
  return options;
}

StartOptions parse_command_line(const wchar_t* command_line) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(command_line, &count);
  if (!argv) return {};
  std::vector<std::wstring> arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
  LocalFree(argv);
  return parse_arguments(arguments);
}

}  // namespace app
