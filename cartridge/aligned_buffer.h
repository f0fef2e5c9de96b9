// A byte buffer aligned for unbuffered reads: the transport hands a whole-sector read straight
// to the file system when the buffer is aligned, without a copy through a bounce buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>

class AlignedBuffer {
 public:
  static constexpr size_t kAlignment = 4096;

  AlignedBuffer() = default;
  ~AlignedBuffer() { release(); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  AlignedBuffer(AlignedBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }

  // Holds `size` bytes (contents undefined); false, holding nothing, when memory runs out.
  bool allocate(size_t size) {
    release();
    if (size == 0) return true;
    data_ = new (std::align_val_t{kAlignment}, std::nothrow) uint8_t[size];
    size_ = data_ ? size : 0;
    return data_ != nullptr;
  }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void release() {
    if (data_) ::operator delete[](data_, std::align_val_t{kAlignment});
    data_ = nullptr;
    size_ = 0;
  }

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
