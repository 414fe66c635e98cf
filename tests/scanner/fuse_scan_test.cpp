// A scan of a file on a user-space file system whose read of one sector never
// returns, as a failing disk can hold a read: Stop must still end the scan at
// once, and the read left in the kernel must end cleanly once it is let go.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "scanner/scanner.h"

extern char** environ;

namespace clip::scanner {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int thread_count() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// The file system's process and its mount, ended in that order.
class BlockingFuse {
 public:
  BlockingFuse(int64_t sectors, int64_t stuck) {
    char pattern[] = "/tmp/clipsalvage-fuse-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    mount_ = pattern;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string count = std::to_string(sectors), hang = std::to_string(stuck);
    const char* argv[] = {"/usr/bin/python3", CLIPSALVAGE_BLOCKING_FUSE, mount_.c_str(), count.c_str(), hang.c_str(),
                          nullptr};
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
      pid_ = -1;
      ::close(out[0]);
      return;
    }
    // "ready" once the file answers; the process ends early without fusepy,
    // /dev/fuse or the right to mount.
    std::string said;
    const auto limit = Clock::now() + std::chrono::seconds(30);
    while (said.find("ready") == std::string::npos && Clock::now() < limit) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      said.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ready_ = said.find("ready") != std::string::npos;
  }
  ~BlockingFuse() { stop(); }

  bool ready() const { return ready_; }
  std::string file() const { return mount_ + "/disk.img"; }

  // Ending the file system's process aborts its requests: the hung read
  // returns with an error.
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (!mount_.empty()) {
      ::umount2(mount_.c_str(), MNT_DETACH);
      ::rmdir(mount_.c_str());
      mount_.clear();
    }
  }

 private:
  std::string mount_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(ScanStop, StopsAtOnceWhileAFileSystemHoldsARead) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse here";
  const int64_t sectors = 64 * 128;
  const int64_t stuck = 40 * 128 + 5;
  BlockingFuse fuse(sectors, stuck);
  if (!fuse.ready()) GTEST_SKIP() << "the test file system did not mount (fusepy, /dev/fuse or the right to mount)";
  const int threads_before = thread_count();

  std::atomic<bool> stop{false};
  Clock::time_point stopped_at{};
  int64_t last = -1;
  int repeats = 0;
  ScanCallbacks cb;
  // The scan reports the same sector again while it waits for a read; after a
  // few of those the operator presses Stop.
  cb.progress = [&](int64_t s, int64_t) {
    repeats = s == last ? repeats + 1 : 0;
    last = s;
    if (repeats == 3 && !stop) {
      stopped_at = Clock::now();
      stop = true;
    }
  };
  cb.stop_requested = [&] { return stop.load(); };
  std::vector<std::string> log;
  cb.log = [&](const std::string& line) { log.push_back(line); };
  ScanOptions options;
  options.device_path = fuse.file();
  options.chunk_blocks = 4;
  ScanResult result;
  {
    auto opened = sources::open_block_source(fuse.file());
    ASSERT_TRUE(opened.source) << opened.error;
    result = scan(*opened.source, options, cb);
    opened.source->cancel();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - stopped_at).count();
  EXPECT_EQ(result.end, ScanEnd::stopped);
  EXPECT_EQ(last / 512, stuck / 512);  // stopped at the chunk that hangs
  EXPECT_LT(seconds, 10.0);
  std::printf("scan returned %.3f s after Stop, one read still held by the file system\n", seconds);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), kDoneLine);

  // The worker is still inside the read; ending the file system lets it go,
  // and it ends by itself (under ASan, without touching freed memory).
  EXPECT_GT(thread_count(), threads_before);
  fuse.stop();
  const auto limit = Clock::now() + std::chrono::seconds(30);
  while (thread_count() > threads_before && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(thread_count(), threads_before);
}

}  // namespace
}  // namespace clip::scanner
