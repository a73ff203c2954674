// A byte buffer placed for the kernel's copies between it and the page cache.
//
// Many x86 processors copy slowly when the destination lies just ahead of the
// source modulo 4 KiB (a PFM's pixels start at byte 22 or so of their page,
// a malloc'd block at byte 16 of its own): such a file read or written in big
// blocks took twice as long. The data start is set half a page away from the
// file offset it goes to or comes from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumivane {

class IoBuffer {
 public:
  // Room for `bytes` bytes to be read from or written to file offset
  // `fileOffset`. The storage only grows; contents are not kept.
  std::uint8_t* Place(std::size_t bytes, std::uint64_t fileOffset);
  std::uint8_t* Data() const { return data_; }

 private:
  std::vector<std::uint8_t> storage_;
  std::uint8_t* data_ = nullptr;
};

}  // namespace lumivane
