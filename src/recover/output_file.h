// A new file that is never opened over an existing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace clip::recover {

class OutputFile {
 public:
  enum class Open { created, exists, failed };
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  Open create_new(const std::string& path);  // UTF-8 path
  bool write(const uint8_t* data, std::size_t size);
  bool close();
  std::string last_error() const { return error_; }

 private:
  intptr_t handle_ = -1;
  std::string error_;
};

std::string join_path(const std::string& folder, const std::string& name);
bool is_folder(const std::string& path);

}  // namespace clip::recover
