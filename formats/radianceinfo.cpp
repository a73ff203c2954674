#include "formats/radianceinfo.h"

#include <algorithm>
#include <array>

#include "formats/rgbescan.h"

namespace lumivane {

RadianceHeaderText ReadRadianceHeaderText(ByteSource& bytes) {
  RadianceHeaderText header;
  std::string text(
      static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size(), kMaxRadianceHeaderText)),
      '\0');
  text.resize(bytes.ReadAt(text.data(), text.size(), 0));
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      header.Failure = text.size() == kMaxRadianceHeaderText
                           ? "no blank line ends the header in its first " +
                                 std::to_string(kMaxRadianceHeaderText) + " bytes"
                           : "the file ends before the blank line that ends the header";
      return header;
    }
    if (end == at) break;
    header.Lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  const std::size_t resolution = at + 1;
  const std::size_t end = text.find('\n', resolution);
  if (end == std::string::npos) {
    header.Failure = "the resolution line after the header has no end";
    return header;
  }
  header.Resolution = text.substr(resolution, end - resolution);
  return header;
}

namespace {

// The bytes of a source one at a time, read in windows.
class ByteCursor {
 public:
  explicit ByteCursor(ByteSource& bytes) : bytes_(bytes), size_(bytes.Size()) {}

  std::uint64_t Size() const { return size_; }
  // The byte at `offset`, or -1 past the end (or where it cannot be read).
  int At(std::uint64_t offset) {
    if (offset >= size_) return -1;
    if (offset < start_ || offset - start_ >= filled_) {
      start_ = offset;
      filled_ = bytes_.ReadAt(window_.data(), window_.size(), offset);
      if (filled_ == 0) return -1;
    }
    return window_[offset - start_];
  }

 private:
  ByteSource& bytes_;
  std::uint64_t size_;
  std::array<std::uint8_t, 1 << 16> window_{};
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

struct RowEnd {
  RgbeRowScan::Result Outcome;
  std::uint64_t End;  // behind the row, when it is whole
};

constexpr RowEnd kCutShort{RgbeRowScan::CutShort, 0};

// ScanRgbeRow's per-component runs, over the cursor.
RowEnd ComponentRunsEnd(ByteCursor& bytes, std::uint64_t at, std::uint32_t width) {
  at += 4;
  for (int component = 0; component < 4; ++component) {
    std::uint64_t x = 0;
    while (x < width) {
      const int code = bytes.At(at);
      if (code < 0) return kCutShort;
      if (code > 128) {
        x += static_cast<unsigned>(code) - 128;
        at += 2;
      } else {
        x += static_cast<unsigned>(code);
        at += 1 + static_cast<unsigned>(code);
      }
    }
  }
  if (at > bytes.Size()) return kCutShort;
  return {RgbeRowScan::Whole, at};
}

// ScanRgbeRow's older runs: a marker repeats its count shifted 8 bits
// further for each marker right before it, and runs stop at the row's end.
RowEnd OldRunsEnd(ByteCursor& bytes, std::uint64_t at, std::uint32_t width) {
  std::uint32_t x = 0;
  unsigned shift = 0;
  const auto repeat = [&](int countByte) {
    const std::uint32_t room = width - x;
    const auto count = static_cast<std::uint64_t>(countByte);
    const std::uint64_t pixels = shift < 32 ? count << shift : (count ? room : 0);
    x += static_cast<std::uint32_t>(std::min<std::uint64_t>(pixels, room));
    if (shift < 32) shift += 8;
  };
  repeat(bytes.At(at + 3));
  at += 4;
  while (x < width) {
    if (bytes.Size() - at < 4) return kCutShort;
    int pixel[4];
    for (int i = 0; i < 4; ++i) pixel[i] = bytes.At(at + static_cast<unsigned>(i));
    if (pixel[3] < 0) return kCutShort;
    if (pixel[0] == 1 && pixel[1] == 1 && pixel[2] == 1) {
      repeat(pixel[3]);
    } else {
      ++x;
      shift = 0;
    }
    at += 4;
  }
  return {RgbeRowScan::Whole, at};
}

RowEnd RowEndAt(ByteCursor& bytes, std::uint64_t at, std::uint32_t width) {
  if (bytes.Size() - at < 4) return kCutShort;
  int head[4];
  for (int i = 0; i < 4; ++i) head[i] = bytes.At(at + static_cast<unsigned>(i));
  if (head[3] < 0) return kCutShort;
  if (head[0] == 2 && head[1] == 2) {
    const RgbeRunHead kind = ClassifyRunHead(static_cast<std::uint8_t>(head[2]),
                                             static_cast<std::uint8_t>(head[3]), width);
    if (kind == RgbeRunHead::Runs) return ComponentRunsEnd(bytes, at, width);
    if (kind == RgbeRunHead::Refused) return {RgbeRowScan::Refused, 0};
  }
  if (head[0] == 1 && head[1] == 1 && head[2] == 1) return OldRunsEnd(bytes, at, width);
  const std::uint64_t flat = 4 * std::uint64_t{width};
  if (bytes.Size() - at < flat) return kCutShort;
  return {RgbeRowScan::Whole, at + flat};
}

}  // namespace

std::uint32_t CountWholeRgbeRows(ByteSource& bytes, std::uint64_t dataStart, std::uint32_t width,
                                 std::uint32_t height) {
  ByteCursor cursor(bytes);
  if (dataStart > cursor.Size()) return 0;
  std::uint64_t at = dataStart;
  std::uint32_t rows = 0;
  while (rows < height) {
    const RowEnd row = RowEndAt(cursor, at, width);
    if (row.Outcome != RgbeRowScan::Whole) break;
    at = row.End;
    ++rows;
  }
  return rows;
}

}  // namespace lumivane
