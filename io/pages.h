// Large buffers that are filled once from end to end: their pages are faulted
// in by one call rather than one fault per 4 KiB page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumivane {

// Makes the whole pages inside [data, data + bytes) resident and writable in
// one call. Only a hint: contents are untouched, errors are ignored (the pages
// then fault in as they are first written).
void PopulatePages(void* data, std::size_t bytes);

// plane.assign(size, 0), with the storage populated before it is first touched.
void AssignZeroed(std::vector<std::uint8_t>& plane, std::size_t size);

}  // namespace lumivane
