// The size rule every float image format shares.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>

namespace lumivane {

// W x H x 12, the pixel bytes of a float image; nothing when a side is 0 or the
// count does not fit 32 bits (the most a classic TIFF can hold).
inline std::optional<std::uint32_t> FloatImageBytes(std::uint32_t width, std::uint32_t height) {
  const std::uint64_t bytes = std::uint64_t{width} * height * 12;
  if (width == 0 || height == 0 || bytes > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(bytes);
}

// The 32-bit float stored at `bytes`, least significant byte first when
// `intelOrder`, most significant first otherwise.
inline float StoredFloat(const std::uint8_t* bytes, bool intelOrder) {
  const std::uint32_t bits =
      intelOrder ? std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                       std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24
                 : std::uint32_t{bytes[3]} | std::uint32_t{bytes[2]} << 8 |
                       std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[0]} << 24;
  return std::bit_cast<float>(bits);
}

}  // namespace lumivane
