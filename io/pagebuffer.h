// Zeroed memory for a thread's working buffers, in whole 2 MiB pages where the
// system grants them (transparent huge pages on request): one page fault
// instead of 512, and on a virtual machine each fault costs several
// microseconds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivane {

class PageBuffer {
 public:
  PageBuffer() = default;
  // Throws std::bad_alloc when the memory cannot be had.
  explicit PageBuffer(std::size_t bytes);
  ~PageBuffer();
  PageBuffer(PageBuffer&& other) noexcept;
  PageBuffer& operator=(PageBuffer&& other) noexcept;
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mapped_ = 0;
};

}  // namespace lumivane
