// The main window Form1: banner, source tree, clip list, log and status bar
// with its progress bar, the menus and the commands that belong to them.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/preview_form.h"
#include "app/worker.h"
#include "recover/recover.h"
#include "report/evidence_source.h"
#include "report/scan_report.h"
#include "scanner/scanner.h"
#include "skin/data/skin_data.h"
#include "sources/drives.h"
#include "sources/source_record.h"
#include "app/command_line.h"
#include "ui/controls.h"
#include "ui/timer.h"

namespace app {

// Where each region sits; the window's client area is 733 x 509.
struct MainFormLayout {
  static constexpr int kClientWidth = 733;
  static constexpr int kClientHeight = 509;
  //                          region        align    size
  static constexpr int kBannerHeight = 105;     // top, full width
  static constexpr int kTreeWidth = 200;        // left
  static constexpr int kSplitter1Width = 3;     // left, right of the tree
  static constexpr int kSplitter2Height = 3;    // bottom, above the log
  static constexpr int kLogHeight = 78;         // bottom, above the status bar
  static constexpr int kStatusBarHeight = 19;   // bottom
  static constexpr int kTreeIndent = 19;
  static constexpr int kProgressRightGap = 15;  // left free at the bar's right end
};

class TForm1 : public ui::Form {
 public:
  static constexpr const char* kCaption = "KESTRAVO For 264Format Recovery\u3000V2.0  - MORVANE";
  static constexpr const char* kReadyText = "程序就绪";
  static constexpr const char* kPhysicalGroup = "物理驱动器";
  static constexpr const char* kLogicalGroup = "逻辑驱动器";
  static constexpr const char* kImageGroup = "镜像文件";
  static constexpr const char* kImageFilter =
      "镜像文件(*.IMG)|*.IMG|E01 证据文件(*.E01)|*.E01|所有文件(*.*)|*.*";
  static constexpr const char* kReportFilter = "扫描结果(*.json)|*.json|所有文件(*.*)|*.*";

  // The probe answers the drive questions of the catalogue; tests give a fake.
  TForm1(ui::Component* owner, std::unique_ptr<clip::sources::DriveProbe> probe);
  // A running job is stopped first (and let go after a bounded wait), then
  // the controls go: their handlers and notifications reach this form.
  ~TForm1() override;
  const char* class_name() const override { return "TForm1"; }

  // Creates the window hidden and runs FormCreate.
  bool create();

  const clip::sources::CurrentSource& current_source() const noexcept { return current_; }
  bool stop_flag() const noexcept { return stop_flag_; }
  // A scan or a recovery runs on its worker thread.
  bool busy() const noexcept { return work_ != nullptr; }
  const clip::scanner::ClipRow& row(int index) const { return rows_.at(static_cast<size_t>(index)); }

  // The skin data of the main window's layout: settings, the skin stream from
  // the program's resources and the elements built from it. It stays inactive
  // when the skin can't be read, so every window keeps its standard look.
  clip::skin::TSkinData SkinData1;

  ui::Panel* Panel1;
  ui::Image* Image1;
  ui::TreeView* TreeView1;
  ui::Splitter* Splitter1;
  ui::ListView* ListView1;
  ui::StatusBar* StatusBar1;
  ui::Panel* Panel2;
  ui::Memo* Memo1;
  ui::Splitter* Splitter2;
  ui::ProgressBar* ProgressBar1;
  ui::ImageList* ImageList1;
  ui::OpenDialog* OpenDialog1;
  ui::OpenDialog* SaveDialog1;   // where a scan's result is saved
  ui::OpenDialog* OpenDialog2;   // which saved scan result is loaded
  ui::Timer* StartTimer;  // runs the command line's --scan / --about once shown
  ui::Timer* WorkTimer;   // takes a running job's rows, lines and progress
  ui::Timer* EndTimer;    // fills the end times of the rows on screen, while no job runs
  ui::Menu* MainMenu1;
  ui::PopupMenu* PopupMenu1;
  ui::PopupMenu* PopupMenu2;
  ui::MenuItem *N1, *S1, *N2, *N16, *N3, *N4, *N5, *N13, *N14, *N15, *A1;
  ui::MenuItem *N6, *N7, *N8, *N9, *N10, *N11, *N12;
  ui::MenuItem *N17, *N18, *N19;  // separator, save and load a scan's result
  TForm3* Form3 = nullptr;        // the preview window, made when first needed

  // Commands, callable by tests as the menus call them.
  void N2Click();
  void N16Click();  // Recover, also N6
  // Asks where recovered clips go; tests replace it.
  std::function<std::optional<std::string>()> choose_folder;
  // Then whether a playable MP4 is written beside each .264 (nullopt:
  // cancelled); by default a Yes/No/Cancel question, tests replace it.
  static constexpr const char* kMp4Question =
      "是否同时生成可播放的 MP4 文件？\n（.264 文件照常恢复，MP4 文件另存在同一文件夹）";
  std::function<std::optional<bool>()> choose_mp4;
  // Opens a source for a scan or a recovery, on the GUI thread; tests give
  // sources of their own.
  std::function<clip::sources::OpenResult(const std::string& path, int64_t sectors)> open_source;
  // Empty: the clips are written by one ClipWriter, each clip's flush and
  // rename overlapping the next clip. Tests that need outcomes the real
  // recovery can't be made to give write each clip here instead, on the
  // recovery's worker thread.
  std::function<clip::recover::RecoverResult(clip::sources::BlockSource&, const clip::scanner::ClipRow&,
                                             const std::string& folder, const clip::recover::RecoverOptions&)>
      recover_one;
  // How often a running job's progress reaches the window, how often its
  // rows and log lines do (each batch of them costs a repaint of the list
  // or the log), and how long a stopped job may take before the window stops
  // waiting for it (a read the system can't give up).
  static constexpr int kUpdateMilliseconds = 50;
  static constexpr std::chrono::milliseconds kContentInterval{250};
  static constexpr std::chrono::milliseconds kLetGoAfter{1000};
  // How often the end times worked out so far reach the list, and how much
  // of one clip a duration pass reads at most (a longer clip keeps an empty
  // end time rather than hold the disk for minutes).
  static constexpr int kEndMilliseconds = 250;
  static constexpr uint64_t kEndBytes = 256ull << 20;
  void N4Click();
  void N8Click();
  void N9Click();
  void N10Click();
  void N11Click();
  void N12Click();
  // Saves the listed scan as the JSON report the command-line tool reads
  // back; the source's fingerprint is read first when the scan ended
  // without one (it was stopped).
  void N18Click();
  // Loads a saved report for the selected source: the source is checked
  // against the report's fingerprint off the GUI thread, and only a match
  // replaces the list.
  void N19Click();
  // Opens the preview window on list row `index` (a double click on the
  // row, or Enter).
  void ListView1DblClick(int index);
  // Loads an image file into the image group, or selects its node when the
  // file is listed already; throws when the file can't be opened.
  HTREEITEM load_image(const std::string& path);
  // Loads the command line's images; a --scan or --about runs shortly after
  // the message loop starts.
  void apply_start_options(const StartOptions& options);
  void TreeView1Change(HTREEITEM node);
  void TreeView1MouseDown(UINT button, int x, int y);

  std::function<void()> OnAbout;
  static int progress_scale(int64_t sectors);

 private:
  void FormCreate();
  void fill_catalogue();
  void ListView1Resize();
  void StatusBar1DrawPanel(int panel, const RECT& rect);
  HTREEITEM find_group(const char* text);
  static bool same_path(const std::string& a, const std::string& b);
  // The system's reason why `path` could not be opened, from the open's error text.
  static std::string open_failure_reason(const std::string& error, const std::string& path);
  bool refuse_while_busy();
  void report_open_failure(const std::string& display, const std::string& error, const std::string& path);

  enum class WorkKind { scan, recover, save, load };
  struct JobReport;
  struct EndTimes;
  void EndTimerTick();
  // The rows on screen and the focused one, whose end times are not yet asked for.
  std::vector<size_t> rows_wanting_end();
  void list_replaced();
  // Opens a source as open_source does, with the holes of its image's mapfile failing unread.
  clip::sources::OpenResult open_evidence(const std::string& path, int64_t sectors);
  // Writes the report of the listed scan to `path`; a file there is replaced
  // only once the new one is complete.
  void write_scan_report(const std::string& path);
  void show_loaded(clip::report::ScanReport report, const std::string& from, const std::string& path,
                   const std::string& display);
  void show_scan_status(int64_t total);
  void start_work(WorkKind kind, std::shared_ptr<clip::sources::BlockSource> source, Worker::Job job);
  void apply(Batch batch);
  void WorkTimerTick();
  void end_work();

  std::unique_ptr<clip::sources::DriveProbe> probe_;
  std::deque<clip::sources::TDData> records_;  // one per source node, for the program's life
  clip::sources::CurrentSource current_;
  std::string current_display_;  // the current source as the user chose it
  bool stop_flag_ = false;
  int progress_scale_ = 0;
  std::optional<std::string> browse_folder();
  std::string scanned_path_;  // the source the listed rows came from
  std::string scanned_display_;
  int64_t scanned_sectors_ = 0;
  std::deque<clip::scanner::ClipRow> rows_;  // one per list row, with its blocks
  // The rest of the listed scan's report (its clips are rows_); empty
  // before a scan or a load has ended.
  std::optional<clip::report::ScanReport> scanned_report_;
  int64_t scan_position_ = 0;  // the sector the status line shows the scan reached
  // What each loaded image's mapfile and evidence file say, by device path.
  std::map<std::string, clip::report::SourceEvidence> evidence_;
  std::shared_ptr<JobReport> job_report_;  // filled by the running job, read when it has ended
  std::string job_file_;  // the report a save or load job is for
  // The end-time passes: one at a time, stopped when a job starts so that a
  // scan never shares the disk with them; their results belong to one list.
  std::unique_ptr<Worker> ends_work_;
  std::shared_ptr<EndTimes> ends_;
  std::vector<bool> end_asked_;  // by rows_ index
  std::vector<size_t> ends_pending_;  // the running pass's rows it has not reported yet
  std::unique_ptr<Worker> work_;  // the running scan or recovery; one at a time
  WorkKind work_kind_ = WorkKind::scan;
  std::chrono::steady_clock::time_point stop_asked_{};
  std::chrono::steady_clock::time_point content_shown_{};
};

}  // namespace app
