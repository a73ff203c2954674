// The decoding of single Radiance rows, shared by the whole-image reader and
// the block decoder; not for use beyond formats/.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "formats/rgbe.h"

namespace lumivane {

// The encoded bytes and a read position that never passes their end: a byte
// beyond it is absent and writes nothing. Bytes still in the file are read in
// when a look ahead needs them, so the end is the end of the data.
class RgbeData {
 public:
  RgbeData(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  explicit RgbeData(RgbeStream* stream) : stream_(stream) {}

  std::size_t Remaining() const { return size_ - position_; }
  bool Has(std::size_t offset) {
    if (offset < Remaining() || (stream_ != nullptr && Fill(offset))) return true;
    ranOut_ = true;
    return false;
  }
  // Whether a byte that decoding asked for was absent: the rows from there on
  // are not whole.
  bool RanOut() const { return ranOut_; }
  std::uint8_t Peek(std::size_t offset) const { return bytes_[position_ + offset]; }
  const std::uint8_t* Here() const { return bytes_ + position_; }
  void Skip(std::size_t count) {
    if (count > Remaining()) Has(count - 1);
    position_ += std::min(count, Remaining());
  }
  // Bytes taken so far, counted from the start of the data.
  std::uint64_t Consumed() const { return consumed_ + position_; }
  // Starts the data with `size` bytes already read from the stream, which
  // continues right behind them.
  void Seed(const std::uint8_t* bytes, std::size_t size);

  // Run lines one plain step at a time: the reference for the chunked copies.
  bool PlainSteps = false;

 private:
  bool Fill(std::size_t offset);

  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  std::uint64_t consumed_ = 0;  // bytes dropped before bytes_
  RgbeStream* stream_ = nullptr;
  bool ranOut_ = false;
};

struct RgbeRowPlanes {
  std::uint8_t* Component[4];
  std::size_t Size;  // bytes per plane
  // Whether the byte before each plane's first holds the pixel before it
  // (the last of the row above), as in a block after the image's first.
  bool HasPrevious = false;
};

// Decodes the row at `rowStart` of the planes: its kind (0 flat, 1 the older
// runs, 2 runs per component), or -1 for a refused row head.
int DecodeRgbeRow(RgbeData& data, const RgbeRowPlanes& planes, std::size_t rowStart,
                  std::uint32_t width);

}  // namespace lumivane
