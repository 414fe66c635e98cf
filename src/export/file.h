// Files of the export: a new file that is never opened over an existing one
// and can be written anywhere (the MP4 writer goes back to fill in sizes), a
// file read from its start, and the renames and removals around them. Paths
// are UTF-8; failures keep the system's reason in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace clip::video {

class File {
 public:
  enum class Open { done, exists, failed };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  Open create_new(const std::string& path);
  bool open_read(const std::string& path);

  // At the current position, which moves past what was written or read.
  bool write(const uint8_t* data, std::size_t size);
  // Bytes read, 0 at the end, -1 on failure.
  int64_t read(uint8_t* into, std::size_t size);
  bool seek(int64_t offset);  // from the file's start
  int64_t size();             // -1 on failure
  bool close();
  bool is_open() const { return handle_ != -1; }
  const std::string& error() const { return error_; }

 private:
  intptr_t handle_ = -1;
  std::string error_;
};

enum class Rename { done, exists, failed };
// Renames `from` to `to` unless `to` exists; on failure `error` says why.
Rename rename_new(const std::string& from, const std::string& to, std::string& error);
bool remove_file(const std::string& path, std::string& error);

}  // namespace clip::video
