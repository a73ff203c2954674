#include "shell/hugepages.h"

#include <sys/mman.h>

namespace lumivane {

namespace {
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
}  // namespace

void PreferHugePages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

void AssignZeroed(std::vector<std::uint8_t>& plane, std::size_t size) {
  plane.clear();
  plane.shrink_to_fit();
  plane.reserve(size);
  PreferHugePages(plane.data(), size);
  plane.resize(size);
}

}  // namespace lumivane
