// The fixed 308-byte header of every TIFF this program writes: least
// significant byte first, one strip, 17 tags, the values behind them.
#pragma once

#include <array>
#include <cstdint>

namespace lumivane {

inline constexpr std::uint32_t kTiffHeaderSize = 308;

struct TiffPixelLayout {
  std::uint16_t BitsPerSample;
  std::uint16_t SampleFormat;  // 1 unsigned integer, 3 IEEE float
  std::uint32_t BytesPerPixel;
  const char* Bits;  // "24" or "96", as the writer's log names it
};

inline constexpr TiffPixelLayout kTiff24Layout = {8, 1, 3, "24"};
inline constexpr TiffPixelLayout kTiff96Layout = {32, 3, 12, "96"};

// The header for one strip of `stripBytes` bytes, dated now.
std::array<std::uint8_t, kTiffHeaderSize> TiffHeaderBytes(const TiffPixelLayout& layout,
                                                          std::uint32_t width, std::uint32_t height,
                                                          std::uint32_t stripBytes);

// The 96-bit header for an image whose 12-byte pixels fit 32-bit byte counts.
std::array<std::uint8_t, kTiffHeaderSize> Tiff96HeaderBytes(std::uint32_t width,
                                                            std::uint32_t height);

std::array<std::uint8_t, 4> EncodeLong32(std::uint32_t value);
std::array<char, 20> TiffDateTimeText();
std::array<char, 48> TiffSoftwareText();

}  // namespace lumivane
