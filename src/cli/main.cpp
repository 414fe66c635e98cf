// clipsalvage: the command-line face of the scanning core.
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// The first Ctrl-C asks the work to stop, as the Stop command does: what was
// found and written is still reported. The handler then steps aside, so a
// second Ctrl-C ends the process at once.
#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupted = 1;
  SetConsoleCtrlHandler(on_console_event, FALSE);
  return TRUE;
}

void catch_interrupt() { SetConsoleCtrlHandler(on_console_event, TRUE); }
#else
void on_interrupt(int) { interrupted = 1; }

void catch_interrupt() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESETHAND;  // the default action again for the next one
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  // A reader that went away makes writes fail with EPIPE, which the report
  // writer turns into a message and exit status 1, rather than a silent end.
  std::signal(SIGPIPE, SIG_IGN);
}
#endif

int run_cli(std::vector<std::string> args) {
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("clipsalvage %s\n", CLIPSALVAGE_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  catch_interrupt();
  clip::cli::Environment env;
  env.stop = [] { return interrupted != 0; };
  env.err_is_terminal = isatty(fileno(stderr)) != 0;
  bool left_running = false;
  env.work_left_running = &left_running;
  const int status = clip::cli::run(args, env);
  if (left_running) {
    // A read that the system does not give up still holds the work thread:
    // end the process without waiting for it (the kernel lets it go when it
    // can) and without running destructors it might still need.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace

#ifdef _WIN32
// Windows hands over the arguments as UTF-16 whatever the locale; the core
// takes UTF-8, and the console is switched to UTF-8 so that the Chinese log
// lines and non-ASCII paths print as they are.
int wmain(int argc, wchar_t** argv) {
  // No system boxes for empty card readers or vanished disks.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(clip::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
  return run_cli(std::move(args));
}
#else
int main(int argc, char** argv) { return run_cli(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
