// The main window's scan and recovery against the command-line tool's code
// path, in one run under Wine.
//
//   gui_bench [--dir DIR] [--out DIR] [--dense-mib N] [--clips N] [--repeat N] [--skin] [--keep]
//
// The main window is built in this process, as the window tests build it
// (--skin gives it the program's skin, as ClipSalvage.exe does). Two images
// are made in DIR (default: a folder under the temporary folder):
//   - a dense one as scan_bench makes it: the signature just after the search
//     start and N MiB of recordings after it (default 1600);
//   - one of --clips clips of one block each (default 100,000): a header
//     block every 128 sectors, for the clip list at that size.
// Each image is scanned through TForm1's scan command and through the
// command-line tool's code path (clip::cli::run), taking turns, best of
// --repeat (default 3). For the dense image every clip is then recovered the
// same two ways (the tool scans before it recovers: its own scan time is
// taken off), into folders made in --out (default: DIR; a folder in memory
// takes the disk's own speed out of the comparison). A second thread sends the window WM_NULL every 10 ms while the
// window works and keeps the longest wait for the answer. For the many-clip
// image the check-mark commands and a repaint of the list scrolled to its end
// are timed too. Nothing is asserted; the figures are printed.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_form.h"
#include "app/no_drives.h"
#include "app/startup.h"
#include "cli/cli.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "imagegen/layout.h"
#include "skin/data/skin_win.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/wide.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace ig = clip::imagegen;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Sends WM_NULL to the window every 10 ms from its own thread while it runs,
// and keeps the longest wait for an answer.
class AnswerProbe {
 public:
  explicit AnswerProbe(HWND window) : window_(window) {
    thread_ = std::thread([this] {
      while (!done_) {
        const auto sent = Clock::now();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result)) ++timeouts_;
        const double waited = seconds_since(sent);
        longest_ = std::max(longest_.load(), waited);
        if (waited > 0.15) ++over150_;
        ++probes_;
        Sleep(10);
      }
      ended_ = true;
    });
  }
  ~AnswerProbe() { finish(); }
  // Called on the window's thread, which keeps answering the last probe
  // while it waits for the thread to end.
  void finish() {
    done_ = true;
    while (!ended_) {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
      Sleep(1);
    }
    if (thread_.joinable()) thread_.join();
  }
  double longest() const { return longest_; }
  int probes() const { return probes_; }
  int over150() const { return over150_; }
  int timeouts() const { return timeouts_; }

 private:
  HWND window_;
  std::atomic<bool> done_{false};
  std::atomic<double> longest_{0};
  std::atomic<int> probes_{0}, timeouts_{0}, over150_{0};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// Runs the program's message handling until the window's job has ended.
void run_until_idle(app::TForm1& form) {
  ui::Application& app = ui::Application::instance();
  while (form.busy()) {
    app.process_messages();
    if (form.busy()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

struct Timed {
  double seconds = 1e30;
  double longest_wait = 0;  // of the GUI run with the best time
  int probes = 0;
  int over150 = 0;  // probes that waited longer than 150 ms
};

// Times one command of the window until its job has ended.
Timed time_command(app::TForm1& form, ui::MenuItem* item) {
  AnswerProbe probe(form.handle());
  const auto started = Clock::now();
  SendMessageW(form.handle(), WM_COMMAND, item->id(), 0);
  run_until_idle(form);
  Timed t;
  t.seconds = seconds_since(started);
  probe.finish();
  t.longest_wait = probe.longest();
  t.probes = probe.probes();
  t.over150 = probe.over150();
  if (probe.timeouts()) std::fprintf(stderr, "gui_bench: %d probes got no answer within 60 s\n", probe.timeouts());
  return t;
}

double time_cli(const std::vector<std::string>& args) {
  std::FILE* null_out = _wfopen(L"NUL", L"w");
  std::FILE* null_err = _wfopen(L"NUL", L"w");
  clip::cli::Environment env;
  env.out = null_out;
  env.err = null_err;
  const auto started = Clock::now();
  const int status = clip::cli::run(args, env);
  const double s = seconds_since(started);
  std::fclose(null_out);
  std::fclose(null_err);
  if (status != 0) std::fprintf(stderr, "gui_bench: the command-line path ended with %d\n", status);
  return s;
}

std::string new_folder(const std::string& parent, const std::string& name) {
  const std::string path = parent + "\\" + name;
  CreateDirectoryW(ui::widen(path).c_str(), nullptr);
  return path;
}

void remove_folder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(ui::widen(folder)), ignored);
}

// Reads the whole file once, so both paths find it in the page cache.
void warm(const std::string& path) {
  HANDLE h = CreateFileW(ui::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<uint8_t> buffer(4 << 20);
  DWORD got = 0;
  while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
  }
  CloseHandle(h);
}

std::string make_dense(const std::string& dir, int64_t mib) {
  const std::string path = dir + "\\dense.img";
  const ig::ImageSpec plan = ig::dense_spec(mib, true);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(ui::widen(path).c_str(), GetFileExInfoStandard, &data) &&
      ((static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == plan.sectors * ig::kSectorBytes)
    return path;
  const auto started = Clock::now();
  ig::ImageFile file(path, plan.sectors);
  ig::write_recordings(plan, file);
  file.close();
  std::printf("made %s in %.1f s\n", path.c_str(), seconds_since(started));
  return path;
}

// One header block every 128 sectors after the search start; only each
// block's first sector is written (the header's fields), the rest reads as zeros.
std::string make_many_clips(const std::string& dir, int64_t clips) {
  const std::string path = dir + "\\many-clips.img";
  const int64_t first = ig::kSearchStartSector + 130;
  const int64_t sectors = first + clips * ig::kBlockSectors;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(ui::widen(path).c_str(), GetFileExInfoStandard, &data) &&
      ((static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == sectors * ig::kSectorBytes)
    return path;
  const auto started = Clock::now();
  ig::ImageFile file(path, sectors);
  for (int64_t n = 0; n < clips; ++n) {
    const ig::RecordTime time{26, 8, static_cast<uint8_t>(1 + n / 86400 % 28), static_cast<uint8_t>(n / 3600 % 24),
                              static_cast<uint8_t>(n / 60 % 60), static_cast<uint8_t>(n % 60)};
    const ig::Bytes block = ig::header_block(static_cast<uint8_t>(1 + n % 4), time, {});
    file.put(first + n * ig::kBlockSectors, std::span<const uint8_t>(block.data(), ig::kSectorBytes));
  }
  file.close();
  std::printf("made %s in %.1f s\n", path.c_str(), seconds_since(started));
  return path;
}

void print_row(const char* what, const Timed& gui, double cli) {
  std::printf("  %-18s GUI %8.3f s   CLI %8.3f s   GUI/CLI %5.2f %s\n", what, gui.seconds, cli, gui.seconds / cli,
              gui.seconds <= 1.2 * cli ? "(within 1.2)" : "(OVER 1.2)");
  std::printf("  %-18s longest WM_NULL wait %.0f ms %s; %d of %d probes waited over 150 ms\n", "", gui.longest_wait * 1000,
              gui.longest_wait <= 0.15 ? "(within 150)" : "(OVER 150)", gui.over150, gui.probes);
}

struct Options {
  std::string dir;
  std::string out;
  int64_t dense_mib = 1600;
  int64_t clips = 100000;
  int repeat = 3;
  bool skin = false;
  bool keep = false;
};

void bench_image(app::TForm1& form, const std::string& path, const Options& o, bool recover) {
  warm(path);
  form.TreeView1->select(form.load_image(path));
  Timed gui_scan;
  double cli_scan = 1e30;
  for (int r = 0; r < o.repeat; ++r) {
    const Timed t = time_command(form, form.S1);
    if (t.seconds < gui_scan.seconds) gui_scan = t;
    cli_scan = std::min(cli_scan, time_cli({"scan", path, "--json"}));
  }
  std::printf("%s: %.2f GB, %d clips listed, status %s\n", path.c_str(),
              static_cast<double>(form.current_source().sectors) * 512 / 1e9, form.ListView1->row_count(),
              form.StatusBar1->panel_text(0).c_str());
  print_row("scan", gui_scan, cli_scan);
  if (recover) {
    Timed gui_recover;
    double cli_recover = 1e30;
    for (int r = 0; r < o.repeat; ++r) {
      const std::string gui_out = new_folder(o.out, "gui-out");
      form.N8Click();
      form.choose_folder = [&] { return std::optional<std::string>(gui_out); };
      const Timed t = time_command(form, form.N16);
      if (t.seconds < gui_recover.seconds) gui_recover = t;
      remove_folder(gui_out);
      const std::string cli_out = new_folder(o.out, "cli-out");
      cli_recover = std::min(cli_recover, time_cli({"recover", path, "--out", cli_out, "--json"}));
      remove_folder(cli_out);
    }
    std::printf("  (the tool's recover, %.3f s, scans first: %.3f s of it, its best scan, is taken off)\n",
                cli_recover, cli_scan);
    print_row("recover all clips", gui_recover, cli_recover - cli_scan);
    const std::vector<std::string> log = form.Memo1->lines();
    std::printf("  GUI: %s\n", log.empty() ? "" : log.back().c_str());
    return;
  }
  // The list at its size: the check-mark commands and a repaint at its end.
  auto time_ms = [](auto&& what) {
    const auto started = Clock::now();
    what();
    return seconds_since(started) * 1000;
  };
  HWND list = form.ListView1->handle();
  const double check_all = time_ms([&] { form.N8Click(); UpdateWindow(list); });
  const double invert = time_ms([&] { form.N9Click(); UpdateWindow(list); });
  const double clear = time_ms([&] { form.N10Click(); UpdateWindow(list); });
  const double to_end = time_ms([&] {
    ListView_EnsureVisible(list, form.ListView1->row_count() - 1, FALSE);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  });
  std::printf("  list of %d rows: check all %.1f ms, invert %.1f ms, clear %.1f ms, scroll to the end and repaint %.1f ms\n",
              form.ListView1->row_count(), check_all, invert, clear, to_end);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = ui::narrow(argv[i]);
    auto value = [&]() -> std::string { return i + 1 < argc ? ui::narrow(argv[++i]) : std::string(); };
    if (a == "--dir") o.dir = value();
    else if (a == "--out") o.out = value();
    else if (a == "--dense-mib") o.dense_mib = std::stoll(value());
    else if (a == "--clips") o.clips = std::stoll(value());
    else if (a == "--repeat") o.repeat = std::max(1, std::stoi(value()));
    else if (a == "--skin") o.skin = true;
    else if (a == "--keep") o.keep = true;
    else {
      std::fprintf(stderr,
                   "usage: gui_bench [--dir DIR] [--out DIR] [--dense-mib N] [--clips N] [--repeat N] [--skin] [--keep]\n");
      return 2;
    }
  }
  if (o.dir.empty()) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    o.dir = ui::narrow(temp) + "clipsalvage-gui-bench";
  }
  CreateDirectoryW(ui::widen(o.dir).c_str(), nullptr);
  if (o.out.empty()) o.out = o.dir;
  CreateDirectoryW(ui::widen(o.out).c_str(), nullptr);

  const app::ProcessStartup startup;
  ui::Application& app = ui::Application::instance();
  app.title = "264格式硬盘录像机恢复程序";
  app.set_notifier([](HWND, const std::string& text, const std::string&, UINT) {
    std::fprintf(stderr, "gui_bench: box: %s\n", text.c_str());
    return IDOK;
  });
  ui::Component root(nullptr, "Application");
  auto* form = root.make<app::TForm1>(std::make_unique<clip::test::FileProbe>());
  app.set_main_form(form);
  if (!form->create()) {
    std::fprintf(stderr, "gui_bench: cannot create the main window\n");
    return 1;
  }
  if (o.skin) {
    clip::skin::paint::start_painting();
    clip::skin::TSkinManager::create().set_window_skin_factory(clip::skin::attach_form_skin);
    clip::skin::Loaded(form->SkinData1, form);
  }
  form->show();
  SetForegroundWindow(form->handle());
  app.process_messages();
  std::printf("main window %s, %d repeats, best of each\n", o.skin ? "with the program's skin" : "unskinned",
              o.repeat);
  try {
    const std::string dense = make_dense(o.dir, o.dense_mib);
    bench_image(*form, dense, o, true);
    const std::string many = make_many_clips(o.dir, o.clips);
    bench_image(*form, many, o, false);
    if (!o.keep) {
      DeleteFileW(ui::widen(dense).c_str());
      DeleteFileW(ui::widen(many).c_str());
      RemoveDirectoryW(ui::widen(o.dir).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gui_bench: %s\n", e.what());
    return 1;
  }
  // Every figure depends on free cores: the scan reads on one thread and
  // indexes on another, the window has a third.
  if (std::FILE* f = _wfopen(L"Z:\\proc\\loadavg", L"r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, f)) std::printf("load average at the end: %s", line);
    std::fclose(f);
  }
  if (o.skin) {
    clip::skin::TSkinManager::destroy();
    clip::skin::paint::stop_painting();
  }
  return 0;
}
