#include "io/pagebuffer.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace lumivane {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

PageBuffer::PageBuffer(std::size_t bytes) {
  if (bytes == 0) return;
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  // Mapped one huge page more than needed, so that an aligned run lies in it.
  void* mapped = ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  auto* start = static_cast<std::uint8_t*>(mapped);
  const std::size_t skip =
      (kHugePage - reinterpret_cast<std::uintptr_t>(start) % kHugePage) % kHugePage;
  if (skip > 0) ::munmap(start, skip);
  ::munmap(start + skip + rounded, kHugePage - skip);
  data_ = start + skip;
  size_ = bytes;
  mapped_ = rounded;
  // Only a request: without huge pages the buffer still works page by page.
  ::madvise(data_, mapped_, MADV_HUGEPAGE);
}

PageBuffer::~PageBuffer() {
  if (data_) ::munmap(data_, mapped_);
}

PageBuffer::PageBuffer(PageBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

PageBuffer& PageBuffer::operator=(PageBuffer&& other) noexcept {
  if (this != &other) {
    if (data_) ::munmap(data_, mapped_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

}  // namespace lumivane
