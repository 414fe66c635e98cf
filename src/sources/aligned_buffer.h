// Heap memory aligned for unbuffered device reads (O_DIRECT, or handles of
// disks and volumes on Windows), which need the buffer's address, not only the
// offset and length, on a sector boundary. 4096 covers every logical sector
// size in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace clip::sources {

inline constexpr std::size_t kBufferAlignment = 4096;

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  explicit AlignedBuffer(std::size_t size)
      : data_(size ? static_cast<uint8_t*>(::operator new(size, std::align_val_t(kBufferAlignment))) : nullptr),
        size_(size) {}

  uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { ::operator delete(p, std::align_val_t(kBufferAlignment)); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  std::size_t size_ = 0;
};

}  // namespace clip::sources
