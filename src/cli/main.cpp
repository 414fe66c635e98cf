// clipsalvage: the command-line face of the scanning core.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno

#include "base/utf8.h"
#else
#include <unistd.h>
#endif

#include "cli/cli.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

}  // namespace

namespace {

int run_cli(std::vector<std::string> args) {
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("clipsalvage %s\n", CLIPSALVAGE_VERSION);
    return 0;
  }
  // Ctrl-C asks the scan to stop as the Stop command does: it ends at the next
  // block and what was found is still printed.
  std::signal(SIGINT, on_interrupt);
  clip::cli::Environment env;
  env.stop = [] { return interrupted != 0; };
  env.err_is_terminal = isatty(fileno(stderr)) != 0;
  return clip::cli::run(args, env);
}

}  // namespace

#ifdef _WIN32
// Windows hands over the arguments as UTF-16 whatever the locale; the core
// takes UTF-8, and the console is switched to UTF-8 so that the Chinese log
// lines and non-ASCII paths print as they are.
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(clip::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
  return run_cli(std::move(args));
}
#else
int main(int argc, char** argv) { return run_cli(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
