// Large buffers touched once from end to end fault in far faster as 2 MiB
// pages; the kernel is asked for them where it hands them out on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumivane {

// Advises the kernel to back the whole 2 MiB pages inside [data, data + bytes)
// with huge pages. Only a hint: no effect on contents, errors ignored.
void PreferHugePages(void* data, std::size_t bytes);

// plane.assign(size, 0), with the storage advised before it is first touched.
void AssignZeroed(std::vector<std::uint8_t>& plane, std::size_t size);

}  // namespace lumivane
