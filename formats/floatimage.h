// The size rule every float image format shares.
#pragma once

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

}  // namespace lumivane
