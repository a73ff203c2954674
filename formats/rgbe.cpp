#include "formats/rgbe.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "formats/checksum.h"
#include "formats/rgbedata.h"
#include "formats/rgbescan.h"
#include "io/binaryfile.h"

namespace lumivane {

float RgbeToFloat(std::uint8_t mantissa, std::uint8_t exponent) {
  // (M + 0.5) / 256 x 2^(E - 128) = (2M + 1) x 2^(E - 137): at most 9 significant
  // bits, never below the smallest subnormal, so the float is exact.
  return std::ldexp(static_cast<float>(2 * mantissa + 1), exponent - 137);
}

const std::vector<float>& RgbeFloatTable() {
  static const std::vector<float> table = [] {
    std::vector<float> values(std::size_t{1} << 16);
    for (unsigned e = 0; e < 256; ++e) {
      for (unsigned m = 0; m < 256; ++m) {
        const auto mm = static_cast<std::uint8_t>(m), ee = static_cast<std::uint8_t>(e);
        values[RgbeKey(mm, ee)] = RgbeToFloat(mm, ee);
      }
    }
    return values;
  }();
  return table;
}

RgbeStream::RgbeStream(BinaryFile& file, std::uint64_t offset, std::uint64_t bytes)
    : file_(file), origin_(offset), offset_(offset), left_(bytes) {}

RgbeStream::~RgbeStream() = default;

std::size_t RgbeStream::Read(std::uint8_t* into, std::size_t count, bool summed) {
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, left_));
  const std::size_t got = file_.ReadAt(into, count, offset_);
  offset_ += got;
  // A short read is the end of the data, as it is for a whole-file read.
  left_ = got < count ? 0 : left_ - got;
  read_ += got;
  if (summed) AddToChecksum(ChecksumBytes(0, into, got));
  return got;
}

void RgbeStream::AddToChecksum(std::uint64_t sum) {
  std::uint8_t bytes[8];
  std::memcpy(bytes, &sum, 8);
  checksum_ = ChecksumBytes(checksum_, bytes, 8);
}

void RgbeData::Seed(const std::uint8_t* bytes, std::size_t size) {
  std::vector<std::uint8_t>& window = stream_->window_;
  const std::size_t room = std::max(size, RgbeStream::kChunkBytes) + RgbeStream::kLookAhead;
  if (window.size() < room) window.resize(room);
  if (size > 0) std::memmove(window.data(), bytes, size);
  bytes_ = window.data();
  size_ = size;
  position_ = 0;
}

bool RgbeData::Fill(std::size_t offset) {
  RgbeStream& stream = *stream_;
  // Only the decoding byte by byte needs the window: made at its first use.
  if (stream.window_.empty())
    stream.window_.resize(RgbeStream::kChunkBytes + RgbeStream::kLookAhead);
  while (offset >= Remaining() && stream.left_ > 0) {
    std::uint8_t* base = stream.window_.data();
    const std::size_t rest = Remaining();
    if (rest > 0) std::memmove(base, bytes_ + position_, rest);
    consumed_ += position_;
    position_ = 0;
    size_ = rest + stream.Read(base + rest, stream.window_.size() - rest);
    bytes_ = base;
  }
  return offset < Remaining();
}

namespace {

// Writes `count` bytes at `at` of one plane, dropping what falls past its end.
void FillPlane(std::uint8_t* plane, std::size_t planeSize, std::size_t at, std::size_t count,
               std::uint8_t value) {
  if (at >= planeSize) return;
  std::memset(plane + at, value, std::min(count, planeSize - at));
}

void CopyToPlane(std::uint8_t* plane, std::size_t planeSize, std::size_t at, std::size_t count,
                 const std::uint8_t* source) {
  if (at >= planeSize) return;
  std::memcpy(plane + at, source, std::min(count, planeSize - at));
}

// The longest step of a run line: a literal's code and its 128 bytes.
constexpr std::size_t kLongestStep = 129;
constexpr std::size_t kChunk = 16;

// Steps of a run line taken with whole 16-byte copies, for as long as the
// longest step is at hand in `bytes` and lands inside the plane with a chunk
// to spare. A copy's last chunk runs past the step; the bytes it covers are
// put back, so the plane ends up as the plain steps leave it. Returns the
// bytes consumed.
std::size_t ChunkedRunSteps(const std::uint8_t* bytes, std::size_t available, std::uint8_t* plane,
                            std::size_t planeSize, std::size_t& at, std::uint64_t& x,
                            std::uint32_t width) {
  if (available < kLongestStep || planeSize < 128 + kChunk) return 0;
  const std::uint8_t* const first = bytes;
  const std::uint8_t* const last = bytes + (available - kLongestStep);
  const std::size_t lastAt = planeSize - 128 - kChunk;
  while (x < width && bytes <= last && at <= lastAt) {
    const unsigned code = bytes[0];
    std::uint8_t* const to = plane + at;
    std::size_t count;
    std::uint8_t kept[kChunk];
    if (code > 128) {
      count = code - 128;
      std::memcpy(kept, to + count, kChunk);
      std::uint8_t value[kChunk];
      std::memset(value, bytes[1], kChunk);
      for (std::size_t i = 0; i < count; i += kChunk) std::memcpy(to + i, value, kChunk);
      bytes += 2;
    } else {
      count = code;
      std::memcpy(kept, to + count, kChunk);
      for (std::size_t i = 0; i < count; i += kChunk) std::memcpy(to + i, bytes + 1 + i, kChunk);
      bytes += 1 + count;
    }
    std::memcpy(to + count, kept, kChunk);
    at += count;
    x += count;
  }
  return static_cast<std::size_t>(bytes - first);
}

#if defined(__SSE2__)
// The same steps, without reading back what the steps before wrote: the bytes
// that the last step's chunk ran over are kept in a register, as the plane held
// them, and stored back once, when the steps end. Each step's chunks end less
// than 16 bytes past its end, so the plane from there on has not been written
// yet: the next 16 bytes are read from it. (Reading back the bytes just stored
// stalled every short step of a noisy row.)
alignas(16) constexpr std::uint8_t kTakeFrom[2][32] = {
    {0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,
     11,   12,   13,   14,   15,   0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
     0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
    {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
     0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15}};

[[gnu::target("ssse3")]] std::size_t KeptRunSteps(const std::uint8_t* bytes, std::size_t available,
                                                  std::uint8_t* plane, std::size_t planeSize,
                                                  std::size_t& at, std::uint64_t& x,
                                                  std::uint32_t width) {
  if (available < kLongestStep || planeSize < 128 + 2 * kChunk) return 0;
  const std::uint8_t* const first = bytes;
  const std::uint8_t* const last = bytes + (available - kLongestStep);
  const std::size_t lastAt = planeSize - 128 - 2 * kChunk;
  if (x >= width || at > lastAt) return 0;
  const auto load = [](const std::uint8_t* from) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  };
  __m128i kept = load(plane + at);  // the plane's bytes [at, at + 16) before the steps
  while (x < width && bytes <= last && at <= lastAt) {
    const unsigned code = bytes[0];
    const bool run = code > 128;
    const std::size_t count = run ? code - 128 : code;
    std::uint8_t* const to = plane + at;
    // [at + count, at + count + 16) as the plane held it, read before this
    // step's chunks overwrite it: the rest of `kept`, then unwritten bytes.
    if (count < kChunk) {
      kept = _mm_or_si128(_mm_shuffle_epi8(kept, load(kTakeFrom[0] + count)),
                          _mm_shuffle_epi8(load(to + kChunk), load(kTakeFrom[1] + count)));
    } else {
      kept = load(to + count);
    }
    if (run) {
      const __m128i value = _mm_set1_epi8(static_cast<char>(bytes[1]));
      for (std::size_t i = 0; i < count; i += kChunk) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), value);
      }
      bytes += 2;
    } else {
      for (std::size_t i = 0; i < count; i += kChunk) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), load(bytes + 1 + i));
      }
      bytes += 1 + count;
    }
    at += count;
    x += count;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(plane + at), kept);
  return static_cast<std::size_t>(bytes - first);
}
#endif

std::size_t FastRunSteps(const std::uint8_t* bytes, std::size_t available, std::uint8_t* plane,
                         std::size_t planeSize, std::size_t& at, std::uint64_t& x,
                         std::uint32_t width) {
#if defined(__SSE2__)
  static const bool kept = __builtin_cpu_supports("ssse3");
  if (kept) return KeptRunSteps(bytes, available, plane, planeSize, at, x, width);
#endif
  return ChunkedRunSteps(bytes, available, plane, planeSize, at, x, width);
}

// Per component, runs (code above 128) and literals (code 0 to 128). A run or
// literal that passes the row's end spills into the next row of the same
// plane, which that row's decoding overwrites.
void DecodeComponentRunLine(RgbeData& data, const RgbeRowPlanes& planes, std::size_t rowStart,
                            std::uint32_t width) {
  const bool chunked = !data.PlainSteps;
  for (std::uint8_t* plane : planes.Component) {
    std::size_t at = rowStart;
    std::uint64_t x = 0;
    while (x < width && data.Has(0)) {
      if (chunked) {
        const std::size_t taken =
            FastRunSteps(data.Here(), data.Remaining(), plane, planes.Size, at, x, width);
        data.Skip(taken);
        if (x >= width || !data.Has(0)) break;
      }
      const std::uint8_t code = data.Peek(0);
      data.Skip(1);
      std::size_t count;
      if (code > 128) {
        count = code - 128u;
        if (!data.Has(0)) break;
        FillPlane(plane, planes.Size, at, count, data.Peek(0));
        data.Skip(1);
      } else {
        count = code;
        if (count > 0) data.Has(count - 1);
        CopyToPlane(plane, planes.Size, at, std::min(count, data.Remaining()), data.Here());
        data.Skip(count);
      }
      at += count;
      x += count;
    }
  }
}

void DecodeFlatLine(RgbeData& data, const RgbeRowPlanes& planes, std::size_t rowStart,
                    std::uint32_t width) {
  // A whole row already in memory: every pixel is stored, with no look ahead
  // per byte.
  if (!data.PlainSteps && data.Remaining() >= 4 * std::size_t{width}) {
    const std::uint8_t* bytes = data.Here();
    std::uint8_t* const r = planes.Component[0] + rowStart;
    std::uint8_t* const g = planes.Component[1] + rowStart;
    std::uint8_t* const b = planes.Component[2] + rowStart;
    std::uint8_t* const e = planes.Component[3] + rowStart;
    for (std::uint32_t x = 0; x < width; ++x) {
      r[x] = bytes[4 * x];
      g[x] = bytes[4 * x + 1];
      b[x] = bytes[4 * x + 2];
      e[x] = bytes[4 * x + 3];
    }
    data.Skip(4 * std::size_t{width});
    return;
  }
  for (std::uint32_t x = 0; x < width; ++x) {
    const bool whole = data.Has(3);
    for (std::size_t c = 0; c < 4 && data.Has(c); ++c) {
      planes.Component[c][rowStart + x] = data.Peek(c);
    }
    data.Skip(4);
    if (!whole) return;
  }
}

// The older run encoding: a pixel 1, 1, 1, n repeats the pixel before it n
// times; each further marker right behind it adds its count 8 bits higher.
// The row head is the first such marker; before the first column the pixel
// before is the last pixel of the previous row (zeros on the first row).
// Runs stop at the row's end.
void DecodeOldRunLine(RgbeData& data, const RgbeRowPlanes& planes, std::size_t rowStart,
                      std::uint32_t width) {
  std::uint32_t x = 0;
  unsigned shift = 0;
  const auto repeatPrevious = [&](std::uint8_t countByte) {
    const std::uint32_t room = width - x;
    std::uint64_t count = shift < 32 ? std::uint64_t{countByte} << shift : (countByte ? room : 0);
    count = std::min<std::uint64_t>(count, room);
    const std::size_t at = rowStart + x;
    for (std::uint8_t* plane : planes.Component) {
      const std::uint8_t previous =
          at > 0 || planes.HasPrevious ? plane[static_cast<std::ptrdiff_t>(at) - 1] : 0;
      std::memset(plane + at, previous, static_cast<std::size_t>(count));
    }
    x += static_cast<std::uint32_t>(count);
    if (shift < 32) shift += 8;
  };

  repeatPrevious(data.Has(3) ? data.Peek(3) : 0);
  data.Skip(4);
  while (x < width && data.Has(0)) {
    bool marker = true;
    for (std::size_t c = 0; c < 3 && data.Has(c); ++c) marker = marker && data.Peek(c) == 1;
    if (marker) {
      // A marker cut short by the end of the data repeats nothing.
      repeatPrevious(data.Has(3) ? data.Peek(3) : 0);
    } else {
      for (std::size_t c = 0; c < 4 && data.Has(c); ++c) {
        planes.Component[c][rowStart + x] = data.Peek(c);
      }
      ++x;
      shift = 0;
    }
    data.Skip(4);
  }
}

}  // namespace

int DecodeRgbeRow(RgbeData& data, const RgbeRowPlanes& planes, std::size_t rowStart,
                  std::uint32_t width) {
  // A head cut short by the end of the data is taken for the kind that its
  // bytes begin, so that no byte of a run head is stored as a pixel.
  const auto headIs = [&](std::initializer_list<std::uint8_t> start) {
    std::size_t i = 0;
    for (const std::uint8_t value : start) {
      if (data.Has(i) && data.Peek(i) != value) return false;
      ++i;
    }
    return data.Has(0);
  };
  // A head cut short is taken for a run row's (see above).
  const RgbeRunHead head =
      data.Has(3) ? ClassifyRunHead(data.Peek(2), data.Peek(3), width) : RgbeRunHead::Runs;
  if (headIs({2, 2}) && head != RgbeRunHead::FlatPixel) {
    if (head == RgbeRunHead::Refused) return -1;
    data.Skip(4);
    DecodeComponentRunLine(data, planes, rowStart, width);
    return 2;
  }
  if (headIs({1, 1, 1})) {
    DecodeOldRunLine(data, planes, rowStart, width);
    return 1;
  }
  DecodeFlatLine(data, planes, rowStart, width);
  return 0;
}

}  // namespace lumivane
