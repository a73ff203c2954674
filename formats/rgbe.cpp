#include "formats/rgbe.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/checksum.h"
#include "imaging/parallel.h"
#include "shell/binaryfile.h"
#include "shell/pages.h"
#include "shell/session.h"
#include "shell/statuslog.h"

namespace lumivane {

float RgbeToFloat(std::uint8_t mantissa, std::uint8_t exponent) {
  // (M + 0.5) / 256 x 2^(E - 128) = (2M + 1) x 2^(E - 137): at most 9 significant
  // bits, never below the smallest subnormal, so the float is exact.
  return std::ldexp(static_cast<float>(2 * mantissa + 1), exponent - 137);
}

// The encoded bytes and a read position that never passes their end: a byte
// beyond it is absent and writes nothing. Bytes still in the file are read in
// when a look ahead needs them, so the end is the end of the data.
class RgbeData {
 public:
  RgbeData(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  explicit RgbeData(RgbeStream* stream) : stream_(stream) {}

  std::size_t Remaining() const { return size_ - position_; }
  bool Has(std::size_t offset) {
    return offset < Remaining() || (stream_ != nullptr && Fill(offset));
  }
  std::uint8_t Peek(std::size_t offset) const { return bytes_[position_ + offset]; }
  const std::uint8_t* Here() const { return bytes_ + position_; }
  void Skip(std::size_t count) {
    if (count > Remaining()) Has(count - 1);
    position_ += std::min(count, Remaining());
  }
  // Bytes taken so far, counted from the start of the data.
  std::uint64_t Consumed() const { return consumed_ + position_; }

 private:
  bool Fill(std::size_t offset);

  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  std::uint64_t consumed_ = 0;  // bytes dropped before bytes_
  RgbeStream* stream_ = nullptr;
};

RgbeStream::RgbeStream(BinaryFile& file, std::uint64_t offset, std::uint64_t bytes)
    : file_(file), offset_(offset), left_(bytes), window_(kChunkBytes + kLookAhead) {}

RgbeStream::~RgbeStream() = default;

std::size_t RgbeStream::Read(std::uint8_t* into, std::size_t count) {
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, left_));
  const std::size_t got = file_.ReadAt(into, count, offset_);
  offset_ += got;
  // A short read is the end of the data, as it is for a whole-file read.
  left_ = got < count ? 0 : left_ - got;
  read_ += got;
  checksum_ = ChecksumBytes(checksum_, into, got);
  return got;
}

bool RgbeData::Fill(std::size_t offset) {
  RgbeStream& stream = *stream_;
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

struct Planes {
  std::uint8_t* Component[4];
  std::size_t Size;  // bytes per plane
  // Whether the byte before each plane's first holds the pixel before it
  // (the last of the row above), as in a block after the image's first.
  bool HasPrevious = false;
};

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

std::atomic<bool> plainSteps{false};

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

// Per component, runs (code above 128) and literals (code 0 to 128). A run or
// literal that passes the row's end spills into the next row of the same
// plane, which that row's decoding overwrites.
void DecodeComponentRunLine(RgbeData& data, const Planes& planes, std::size_t rowStart,
                            std::uint32_t width) {
  const bool chunked = !plainSteps.load(std::memory_order_relaxed);
  for (std::uint8_t* plane : planes.Component) {
    std::size_t at = rowStart;
    std::uint64_t x = 0;
    while (x < width && data.Has(0)) {
      if (chunked) {
        const std::size_t taken =
            ChunkedRunSteps(data.Here(), data.Remaining(), plane, planes.Size, at, x, width);
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

void DecodeFlatLine(RgbeData& data, const Planes& planes, std::size_t rowStart,
                    std::uint32_t width) {
  // A whole row already in memory: every pixel is stored, with no look ahead
  // per byte.
  if (!plainSteps.load(std::memory_order_relaxed) && data.Remaining() >= 4 * std::size_t{width}) {
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
void DecodeOldRunLine(RgbeData& data, const Planes& planes, std::size_t rowStart,
                      std::uint32_t width) {
  std::uint32_t x = 0;
  unsigned shift = 0;
  const auto repeatPrevious = [&](std::uint8_t countByte) {
    const std::uint32_t room = width - x;
    std::uint64_t count = shift < 32 ? std::uint64_t{countByte} << shift : (countByte ? room : 0);
    count = std::min<std::uint64_t>(count, room);
    const std::size_t at = rowStart + x;
    for (std::uint8_t* plane : planes.Component) {
      const std::uint8_t previous = at > 0 || planes.HasPrevious ? plane[at - 1] : 0;
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

// Decodes the row at `rowStart` of the planes: its kind (0 flat, 1 the older
// runs, 2 runs per component), or -1 for a refused row head.
int DecodeRow(RgbeData& data, const Planes& planes, std::size_t rowStart, std::uint32_t width) {
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
  if (headIs({2, 2})) {
    // Every Radiance writer stores rows of 8 to 32767 pixels this way, so a
    // zero high byte is sound when the low byte is the width.
    if (data.Has(3) && data.Peek(2) == 0 && data.Peek(3) != width) return -1;
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

constexpr const char* kRowCountLabels[] = {"RLE-0 Lines:", "RLE-1 Lines:", "RLE-2 Lines:"};
constexpr const char* kRowHeadError = "RLE type 2 header error.";

}  // namespace

void UsePlainRgbeSteps(bool plain) {
  plainSteps.store(plain, std::memory_order_relaxed);
}

bool StartRgbeDecoding(Session& session, std::uint64_t& offset, std::uint64_t& bytes) {
  JobContext& context = session.Context;
  const std::uint64_t pixels = std::uint64_t{context.ImageWidth} * context.ImageHeight;
  if (pixels == 0 || pixels > std::numeric_limits<std::uint32_t>::max()) {
    return AbortRadianceJob(session, "The image size cannot be handled.");
  }
  // The jobs hold at least one whole row in several forms; a header of a few
  // bytes can declare a row wider than any memory.
  if (context.ImageWidth > kMaxRgbeRowPixels) {
    return AbortRadianceJob(session, context.InputFileName + " has rows of " +
                                         std::to_string(context.ImageWidth) + " pixels; at most " +
                                         std::to_string(kMaxRgbeRowPixels) +
                                         " pixels per row can be read.");
  }
  // Everything from the first pixel byte to the end of the file; a data start
  // beyond the end leaves nothing to read.
  offset = context.InputFile.Position();
  const std::uint64_t fileSize = context.InputFile.Size().value_or(0);
  bytes = fileSize > offset ? fileSize - offset : 0;
  return true;
}

void LogRgbeDataRead(Session& session) {
  LogLine(session, "Got all data, closed source file.");
  LogLine(session, session.Context.InputFileName);
}

void LogRgbeDecodingStart(Session& session) {
  SetProgressRange(session, 1, session.Context.ImageHeight);
  LogLine(session, "Decompressing RGBE data");
}

void LogRgbeDecodingEnd(Session& session, const std::uint32_t (&rowCounts)[3],
                        std::int32_t startSeconds) {
  for (int kind = 0; kind < 3; ++kind) {
    LogLine(session, kRowCountLabels[kind] + FormatNumber(rowCounts[kind], 15));
  }
  LogLine(session, ElapsedLine("Decompressed RGBE data and RGBE image created in", startSeconds,
                               ClockWholeSeconds(session)));
}

bool AbortRgbeRowHead(Session& session) {
  return AbortRadianceJob(session, kRowHeadError);
}

bool LoadRgbeImage(Session& session, RgbeImage& image) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  std::uint64_t position = 0, wanted = 0;
  if (!StartRgbeDecoding(session, position, wanted)) return false;
  if (wanted > std::numeric_limits<std::size_t>::max()) {
    return AbortRadianceJob(session, "Not enough memory for the image.");
  }
  std::unique_ptr<std::uint8_t[]> encoded(new (std::nothrow)
                                              std::uint8_t[static_cast<std::size_t>(wanted)]);
  if (!encoded && wanted > 0) return AbortRadianceJob(session, "Not enough memory for the image.");
  const auto planeSize = std::size_t{width} * height;
  image.Width = width;
  image.Height = height;
  const auto assignPlanes = [planeSize](std::initializer_list<std::vector<std::uint8_t>*> list) {
    try {
      for (auto* plane : list) AssignZeroed(*plane, planeSize);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  };
  // Faulting in the planes costs about as much as reading the file, so with a
  // second core three of them are set up while the file is read.
  bool helperAssigned = true;
  std::thread helper;
  if (WorkerThreadCount() > 1) {
    try {
      helper = std::thread([&] { helperAssigned = assignPlanes({&image.R, &image.G, &image.B}); });
    } catch (const std::system_error&) {
      // No thread to be had: the calling thread sets up all four.
    }
  }
  PopulatePages(encoded.get(), static_cast<std::size_t>(wanted));
  const std::size_t got = context.InputFile.Read(encoded.get(), static_cast<std::size_t>(wanted));
  bool assigned = helper.joinable() ? assignPlanes({&image.E})
                                    : assignPlanes({&image.R, &image.G, &image.B, &image.E});
  if (helper.joinable()) {
    helper.join();
    assigned = assigned && helperAssigned;
  }

  context.InputFile.Close();
  LogRgbeDataRead(session);

  if (!assigned) {
    image = RgbeImage();
    return AbortRadianceJob(session, "Not enough memory for the image.");
  }
  const Planes planes{{image.R.data(), image.G.data(), image.B.data(), image.E.data()}, planeSize};
  LogRgbeDecodingStart(session);
  const std::int32_t start = ClockWholeSeconds(session);

  RgbeData data(encoded.get(), got);
  std::uint32_t rowCounts[3] = {0, 0, 0};
  for (std::uint32_t y = 0; y < height; ++y) {
    const int kind = DecodeRow(data, planes, std::size_t{width} * y, width);
    if (kind < 0) {
      image = RgbeImage();
      return AbortRadianceJob(session, kRowHeadError);
    }
    ++rowCounts[kind];
    SetProgressPosition(session, y);
  }

  LogRgbeDecodingEnd(session, rowCounts, start);
  return true;
}

namespace {
// The furthest a run or literal reaches past its row's end.
constexpr std::size_t kMaxSpill = 127;
}  // namespace

RgbeBlockDecoder::RgbeBlockDecoder(RgbeStream& stream, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t rowsPerBlock)
    : RgbeBlockDecoder(nullptr, 0, width, height, rowsPerBlock) {
  data_ = std::make_unique<RgbeData>(&stream);
}

RgbeBlockDecoder::RgbeBlockDecoder(const std::uint8_t* bytes, std::size_t size, std::uint32_t width,
                                   std::uint32_t height, std::uint32_t rowsPerBlock)
    : data_(std::make_unique<RgbeData>(bytes, size)),
      width_(width),
      height_(height),
      rowsPerBlock_(std::clamp<std::uint32_t>(rowsPerBlock, 1, std::max(height, 1u))),
      marginRows_(width == 0 ? 0 : static_cast<std::uint32_t>((kMaxSpill + width - 1) / width)),
      // The byte before each plane holds the pixel before its first.
      stride_(1 + (std::size_t{rowsPerBlock_} + marginRows_) * width) {
  for (auto& slot : slots_) slot.resize(4 * stride_);
}

RgbeBlockDecoder::~RgbeBlockDecoder() = default;

std::uint8_t* RgbeBlockDecoder::Plane(int slot, int component) {
  return slots_[slot].data() + stride_ * static_cast<std::size_t>(component) + 1;
}

bool RgbeBlockDecoder::DecodeNext() {
  if (Finished()) return true;
  const int slot = next_;
  next_ ^= 1;
  const std::uint32_t first = rowsDone_;
  const std::uint32_t rows = std::min(rowsPerBlock_, height_ - first);
  // The rows runs may spill into, clipped at the image's end as the whole
  // image's planes are.
  const std::size_t size =
      std::size_t{std::min<std::uint32_t>(rowsPerBlock_ + marginRows_, height_ - first)} * width_;
  Planes planes{{Plane(slot, 0), Plane(slot, 1), Plane(slot, 2), Plane(slot, 3)}, size, first > 0};
  for (int c = 0; c < 4; ++c) {
    std::uint8_t* plane = planes.Component[c];
    std::memset(plane, 0, size);
    std::memcpy(plane, spill_[c], spillSize_);
    plane[-1] = previous_[c];
  }
  last_ = {
      planes.Component[0], planes.Component[1], planes.Component[2], planes.Component[3], first, 0};
  for (std::uint32_t y = 0; y < rows; ++y) {
    const int kind = DecodeRow(*data_, planes, std::size_t{width_} * y, width_);
    if (kind < 0) return false;
    ++rowCounts_[kind];
    ++last_.Rows;
  }
  const std::size_t end = std::size_t{width_} * rows;
  spillSize_ = std::min(kMaxSpill, size - end);
  for (int c = 0; c < 4; ++c) {
    std::memcpy(spill_[c], planes.Component[c] + end, spillSize_);
    previous_[c] = planes.Component[c][end - 1];
  }
  rowsDone_ += rows;
  return true;
}

bool AbortRadianceJob(Session& session, const std::string& cause) {
  JobContext& context = session.Context;
  session.Window.ShowMessageBox("Cannot handle data.", "LUMIVANE - Radiance", BoxKind::Warning);
  context.FailureMessage = cause;
  LogLine(session, cause);
  context.InputFile.Close();
  LogLine(session, "Closed file:");
  LogLine(session, context.InputFileName);
  context.OutputFile.Discard();
  LogLine(session, "Closed and deleted file:");
  LogLine(session, context.OutputFileName);
  LogLine(session, SeparatorLine());
  return false;
}

}  // namespace lumivane
