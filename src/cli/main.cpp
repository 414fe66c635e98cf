// clipsalvage: the command-line face of the scanning core.
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: clipsalvage --version\n"
    "       clipsalvage --help\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("clipsalvage %s\n", CLIPSALVAGE_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}
