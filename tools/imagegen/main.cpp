// imagegen: writes a recorder disk image (a sparse file) for tests, the demo
// and the benchmark. See tool.cpp for the options.
#include <cstdio>
#include <string>
#include <vector>

#include "imagegen/tool.h"

#ifdef _WIN32
#include "base/utf8.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(clip::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  return clip::imagegen::run_tool(args, stdout, stderr);
}
#else
int main(int argc, char** argv) {
  return clip::imagegen::run_tool(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
#endif
