// clipsalvage: the command-line face of the scanning core.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "cli/cli.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("clipsalvage %s\n", CLIPSALVAGE_VERSION);
    return 0;
  }
  // Ctrl-C asks the scan to stop as the Stop command does: it ends at the next
  // block and what was found is still printed.
  std::signal(SIGINT, on_interrupt);
  clip::cli::Environment env;
  env.stop = [] { return interrupted != 0; };
  env.err_is_terminal = isatty(fileno(stderr)) != 0;
  return clip::cli::run(std::vector<std::string>(argv + 1, argv + argc), env);
}
