#include "formats/rgbescan.h"

#include <algorithm>
#include <cstring>

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

std::size_t FindRgbeRunRow(const std::uint8_t* bytes, std::size_t size, std::size_t from,
                           std::uint32_t width, unsigned rows) {
  if (!UsesComponentRunRows(width)) return size;
  const std::uint8_t head[4] = {2, 2, static_cast<std::uint8_t>(width >> 8),
                                static_cast<std::uint8_t>(width)};
  const auto startsHere = [&](std::size_t at) {
    return size - at >= 4 && std::memcmp(bytes + at, head, 4) == 0;
  };
  for (std::size_t at = from; at + 4 <= size; ++at) {
    const void* found = std::memchr(bytes + at, 2, size - 3 - at);
    if (!found) break;
    at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes);
    if (!startsHere(at)) continue;
    std::size_t row = at;
    unsigned whole = 0;
    for (; whole < rows && row < size; ++whole) {
      if (!startsHere(row) && size - row >= 4) break;
      const RgbeRowScan scan = ScanRgbeRow(bytes + row, size - row, width);
      if (scan.Outcome == RgbeRowScan::CutShort) {
        whole = rows;
        break;
      }
      if (scan.Outcome != RgbeRowScan::Whole || scan.Kind != RgbeRowKind::ComponentRuns) break;
      row += scan.Bytes;
    }
    if (whole == rows || row == size) return at;
  }
  return size;
}

}  // namespace lumivane
