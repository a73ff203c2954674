#include "formats/tiffheaderbytes.h"

#include <cstring>
#include <ctime>

namespace lumivane {

namespace {

enum FieldType : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

constexpr std::uint32_t kResolutionOffset = 218;
constexpr std::uint32_t kSampleFormatOffset = 226;
constexpr std::uint32_t kBitsPerSampleOffset = 234;
constexpr std::uint32_t kDateTimeOffset = 240;
constexpr std::uint32_t kSoftwareOffset = 260;

class HeaderBytes {
 public:
  void Short(std::size_t at, std::uint16_t value) {
    bytes_[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  void Long(std::size_t at, std::uint32_t value) {
    const auto encoded = EncodeLong32(value);
    std::memcpy(bytes_.data() + at, encoded.data(), encoded.size());
  }
  void Entry(std::size_t index, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
             std::uint32_t value) {
    const std::size_t at = 10 + 12 * index;
    Short(at, tag);
    Short(at + 2, type);
    Long(at + 4, count);
    Long(at + 8, value);
  }
  void Text(std::size_t at, const char* text, std::size_t size) {
    std::memcpy(bytes_.data() + at, text, size);
  }
  const std::array<std::uint8_t, kTiffHeaderSize>& Bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kTiffHeaderSize> bytes_{};
};

// Sizes above 65535 do not fit a SHORT; a LONG carries the true value to every reader.
std::uint16_t SizeType(std::uint32_t size) {
  return size > 65535 ? kLong : kShort;
}

}  // namespace

std::array<std::uint8_t, kTiffHeaderSize> TiffHeaderBytes(const TiffPixelLayout& layout,
                                                          std::uint32_t width, std::uint32_t height,
                                                          std::uint32_t stripBytes) {
  HeaderBytes header;
  header.Text(0, "II", 2);
  header.Short(2, 42);
  header.Long(4, 8);
  header.Short(8, 17);
  header.Entry(0, 254, kLong, 1, 0);
  header.Entry(1, 256, SizeType(width), 1, width);
  header.Entry(2, 257, SizeType(height), 1, height);
  header.Entry(3, 258, kShort, 3, kBitsPerSampleOffset);
  header.Entry(4, 259, kShort, 1, 1);
  header.Entry(5, 262, kShort, 1, 2);
  header.Entry(6, 273, kLong, 1, kTiffHeaderSize);
  header.Entry(7, 274, kShort, 1, 1);
  header.Entry(8, 277, kShort, 1, 3);
  header.Entry(9, 278, SizeType(height), 1, height);
  header.Entry(10, 279, kLong, 1, stripBytes);
  header.Entry(11, 282, kRational, 1, kResolutionOffset);
  header.Entry(12, 283, kRational, 1, kResolutionOffset);
  header.Entry(13, 296, kShort, 1, 2);
  header.Entry(14, 305, kAscii, 48, kSoftwareOffset);
  header.Entry(15, 306, kAscii, 20, kDateTimeOffset);
  header.Entry(16, 339, kShort, 3, kSampleFormatOffset);
  header.Long(214, 0);
  header.Long(kResolutionOffset, 720000);
  header.Long(kResolutionOffset + 4, 10000);
  for (std::size_t i = 0; i < 4; ++i)
    header.Short(kSampleFormatOffset + 2 * i, layout.SampleFormat);
  for (std::size_t i = 0; i < 3; ++i) {
    header.Short(kBitsPerSampleOffset + 2 * i, layout.BitsPerSample);
  }
  const auto dateTime = TiffDateTimeText();
  header.Text(kDateTimeOffset, dateTime.data(), dateTime.size());
  const auto software = TiffSoftwareText();
  header.Text(kSoftwareOffset, software.data(), software.size());
  return header.Bytes();
}

std::array<std::uint8_t, kTiffHeaderSize> Tiff96HeaderBytes(std::uint32_t width,
                                                            std::uint32_t height) {
  return TiffHeaderBytes(kTiff96Layout, width, height,
                         width * height * kTiff96Layout.BytesPerPixel);
}

std::array<std::uint8_t, 4> EncodeLong32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
          static_cast<std::uint8_t>((value >> 16) & 0xFF), static_cast<std::uint8_t>(value >> 24)};
}

std::array<char, 20> TiffDateTimeText() {
  // The date and the time are two separate readings of the clock.
  std::tm date{};
  const std::time_t dateReading = std::time(nullptr);
  localtime_r(&dateReading, &date);
  std::tm time{};
  const std::time_t timeReading = std::time(nullptr);
  localtime_r(&timeReading, &time);

  std::array<char, 20> text{};
  char* out = text.data();
  const auto digits = [&out](int value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
    out += count;
  };
  const auto separator = [&out](char c) { *out++ = c; };
  digits(date.tm_year + 1900, 4);
  separator(':');
  digits(date.tm_mon + 1, 2);
  separator(':');
  digits(date.tm_mday, 2);
  separator(' ');
  digits(time.tm_hour, 2);
  separator(':');
  digits(time.tm_min, 2);
  separator(':');
  digits(time.tm_sec, 2);
  return text;
}

std::array<char, 48> TiffSoftwareText() {
  static constexpr char kSoftware[] = "LUMIVANE v1.22 (Dec 2026) https://lumivane.org/";
  static_assert(sizeof kSoftware == 48, "47 characters and a NUL");
  std::array<char, 48> text{};
  std::memcpy(text.data(), kSoftware, text.size());
  return text;
}

}  // namespace lumivane
