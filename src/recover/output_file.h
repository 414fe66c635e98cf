// The platform side of writing a recovered clip: a new file that is never
// opened over an existing one, flushed to the disk before it counts, renamed
// without replacing anything, and removed through the very path it was
// created with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace clip::recover {

enum class Create { created, exists, failed };

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  Create create_new(const std::string& path);  // UTF-8 path
  bool write(const uint8_t* data, std::size_t size);
  bool flush();  // the file's data and size on the disk (fsync, FlushFileBuffers)
  bool close();
  // Renames the closed file to `target` unless `target` exists; the system
  // path forms of both are built the same way.
  Create rename_to(const std::string& target);
  // Closes and deletes the file under the path it has now.
  bool remove();

  bool is_open() const { return handle_ != -1; }
  const std::string& path() const { return path_; }
  // The system's reason for the last failure, in words.
  const std::string& last_error() const { return error_; }

 private:
  intptr_t handle_ = -1;
  std::string path_;
  std::string error_;
  uint64_t written_ = 0;
  uint64_t synced_to_ = 0;
};

std::string join_path(const std::string& folder, const std::string& name);
bool is_folder(const std::string& path);
bool path_exists(const std::string& path);

// Makes a rename in `folder` durable (its directory entry on the disk); true
// where the platform does that with the rename itself.
bool sync_folder(const std::string& folder, std::string& error);

// What the platform knows about a folder before anything is written there.
// Empty when it may hold files; otherwise why not ("/proc" and "/sys" hold no
// files).
std::string special_filesystem(const std::string& folder);
// Creates the folder and its missing parents; empty or the reason.
std::string create_folder(const std::string& folder);
// The folder a path lies in ("/a/b" -> "/a"); empty at a root.
std::string parent_folder(const std::string& path);

}  // namespace clip::recover
