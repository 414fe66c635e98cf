// A disk image file written sparsely: its size is set first, then only the
// recorder's blocks are written, so the unwritten sectors (gigabytes before
// the search start) cost no disk space and read as zeros.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imagegen/image.h"

namespace clip::imagegen {

class ImageFile : public BlockSink {
 public:
  // Creates (or replaces) `path` with a size of `sectors` sectors. Throws
  // std::runtime_error with the system's message on failure.
  ImageFile(const std::string& path, int64_t sectors);
  ~ImageFile() override;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  void put(int64_t sector, std::span<const uint8_t> bytes) override;
  void close();

 private:
  std::string path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace clip::imagegen
