#include "formats/rgbescan.h"

#include <algorithm>

namespace lumivane {

namespace {

constexpr RgbeRowScan kCutShort{RgbeRowScan::CutShort, RgbeRowKind::Flat, 0};

RgbeRowScan ScanComponentRuns(const std::uint8_t* bytes, std::size_t size, std::uint32_t width) {
  std::size_t at = 4;
  for (int component = 0; component < 4; ++component) {
    std::uint64_t x = 0;
    while (x < width) {
      if (at >= size) return kCutShort;
      const unsigned code = bytes[at];
      if (code > 128) {
        x += code - 128;
        at += 2;
      } else {
        x += code;
        at += 1 + code;
      }
    }
  }
  if (at > size) return kCutShort;
  return {RgbeRowScan::Whole, RgbeRowKind::ComponentRuns, at};
}

// As the decoder counts them: a marker repeats its count shifted 8 bits
// further for each marker right before it, and runs stop at the row's end.
RgbeRowScan ScanOldRuns(const std::uint8_t* bytes, std::size_t size, std::uint32_t width) {
  std::uint32_t x = 0;
  unsigned shift = 0;
  const auto repeat = [&](std::uint8_t countByte) {
    const std::uint32_t room = width - x;
    std::uint64_t count = shift < 32 ? std::uint64_t{countByte} << shift : (countByte ? room : 0);
    x += static_cast<std::uint32_t>(std::min<std::uint64_t>(count, room));
    if (shift < 32) shift += 8;
  };
  repeat(bytes[3]);
  std::size_t at = 4;
  while (x < width) {
    if (size - at < 4) return kCutShort;
    const std::uint8_t* pixel = bytes + at;
    if (pixel[0] == 1 && pixel[1] == 1 && pixel[2] == 1) {
      repeat(pixel[3]);
    } else {
      ++x;
      shift = 0;
    }
    at += 4;
  }
  return {RgbeRowScan::Whole, RgbeRowKind::OldRuns, at};
}

}  // namespace

RgbeRowScan ScanRgbeRow(const std::uint8_t* bytes, std::size_t size, std::uint32_t width) {
  if (size < 4) return kCutShort;
  if (bytes[0] == 2 && bytes[1] == 2) {
    const RgbeRunHead head = ClassifyRunHead(bytes[2], bytes[3], width);
    if (head == RgbeRunHead::Runs) return ScanComponentRuns(bytes, size, width);
    if (head == RgbeRunHead::Refused) return {RgbeRowScan::Refused, RgbeRowKind::Flat, 0};
  }
  if (bytes[0] == 1 && bytes[1] == 1 && bytes[2] == 1) return ScanOldRuns(bytes, size, width);
  const std::size_t flat = 4 * std::size_t{width};
  if (size < flat) return kCutShort;
  return {RgbeRowScan::Whole, RgbeRowKind::Flat, flat};
}

}  // namespace lumivane
