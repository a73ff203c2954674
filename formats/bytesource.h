// Positioned reads from a file that is already open, or from bytes in memory,
// for the readers built on libraries: they read the very file the open dialog
// opened (never the path again, which may name another file by now), and the
// fuzz targets hand them bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "io/binaryfile.h"

namespace lumivane {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `count` bytes from `offset`; fewer at the end or on an error.
  virtual std::size_t ReadAt(void* destination, std::size_t count, std::uint64_t offset) = 0;
  virtual std::uint64_t Size() const = 0;
};

// The file stays owned by its opener and must outlive this.
class FileBytes : public ByteSource {
 public:
  explicit FileBytes(BinaryFile& file) : file_(file), size_(file.Size().value_or(0)) {}
  std::size_t ReadAt(void* destination, std::size_t count, std::uint64_t offset) override {
    return file_.ReadAt(destination, count, offset);
  }
  std::uint64_t Size() const override { return size_; }

 private:
  BinaryFile& file_;
  std::uint64_t size_;
};

// The bytes must outlive this.
class MemoryBytes : public ByteSource {
 public:
  explicit MemoryBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t ReadAt(void* destination, std::size_t count, std::uint64_t offset) override {
    // memcpy may not be handed the null data of an empty destination, even for no bytes.
    if (count == 0 || offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(count, bytes_.size() - offset);
    std::memcpy(destination, bytes_.data() + offset, n);
    return n;
  }
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Images of more pixels than this are refused before any library allocates for
// them: every row count and pixel index then fits the jobs' 32-bit arithmetic.
inline constexpr std::uint64_t kMaxLibraryImagePixels = std::uint64_t{1} << 31;

}  // namespace lumivane
