// Where the rows of Radiance pixel data begin, found without decoding them:
// the run and literal counts alone say how many bytes each row takes, so the
// rows can then be decoded on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivane {

// Radiance writers store rows of 8 to 32767 pixels in the per-component run
// form and every other width flat.
inline bool UsesComponentRunRows(std::uint32_t width) {
  return width >= 8 && width <= 32767;
}

// What a row head 2, 2, hi, lo starts: a run row, decoded with the image's
// width whatever the head says, but refused when hi is 0 and lo not the width.
// At widths that writers store flat, a head that no run row has (hi 0 and lo
// not the width, or hi of 128 or more, past the widest run row) is a flat
// row's first pixel instead: 2, 2, hi of 128 or more is a deep blue pixel.
enum class RgbeRunHead : std::uint8_t { Runs, Refused, FlatPixel };
inline RgbeRunHead ClassifyRunHead(std::uint8_t high, std::uint8_t low, std::uint32_t width) {
  const bool noRunRow = (high == 0 && low != width) || high >= 128;
  if (UsesComponentRunRows(width)) {
    return high == 0 && low != width ? RgbeRunHead::Refused : RgbeRunHead::Runs;
  }
  return noRunRow ? RgbeRunHead::FlatPixel : RgbeRunHead::Runs;
}

enum class RgbeRowKind : std::uint8_t { Flat = 0, OldRuns = 1, ComponentRuns = 2 };

struct RgbeRowScan {
  enum Result : std::uint8_t {
    Whole,     // the row lies within the bytes: Kind and Bytes are set
    CutShort,  // the bytes end inside the row (or its head)
    Refused,   // a run row head that no row of this width may have
  } Outcome;
  RgbeRowKind Kind;
  std::size_t Bytes;
};

// The row that starts at `bytes`, of `size` bytes at hand, for an image
// `width` pixels wide: the same kind and the same bytes taken as the decoder
// gives it, as long as they are all at hand.
RgbeRowScan ScanRgbeRow(const std::uint8_t* bytes, std::size_t size, std::uint32_t width);

// A guess at where a run row begins, at or after `from`, for a search that
// lands anywhere in the data: a head as writers write it (2, 2, the width high
// byte first) with `rows` whole run rows from it, or fewer that reach the end
// of the bytes. `size` when there is none. Only the rows before it can tell
// whether it is one: literal bytes may look like a head.
std::size_t FindRgbeRunRow(const std::uint8_t* bytes, std::size_t size, std::size_t from,
                           std::uint32_t width, unsigned rows);

}  // namespace lumivane
