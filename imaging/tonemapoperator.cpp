#include "imaging/tonemapoperator.h"

#include <algorithm>
#include <cmath>

#include "imaging/rgbepixels.h"

namespace lumivane {

void ToneOperator::MapPixelsToBytes(const float* rgb, const PixelPlaces& places, std::size_t count,
                                    std::uint8_t* out) const {
  constexpr std::size_t kChunk = 1024;
  float display[3 * kChunk];
  for (std::size_t done = 0; done < count; done += kChunk) {
    const std::size_t n = std::min(kChunk, count - done);
    MapPixels(rgb + 3 * done, places.From(done), n, display);
    for (std::size_t i = 0; i < 3 * n; ++i)
      out[3 * done + i] =
          static_cast<std::uint8_t>(std::lround(std::clamp(display[i], 0.0f, 1.0f) * 255.0f));
  }
}

void ToneOperator::MapRgbeToBytes(const RgbePlanes& pixels, const PixelPlaces& places,
                                  std::size_t count, std::uint8_t* out) const {
  constexpr std::size_t kChunk = 1024;
  float rgb[3 * kChunk];
  for (std::size_t done = 0; done < count; done += kChunk) {
    const std::size_t n = std::min(kChunk, count - done);
    RgbePlanesToFloats(pixels.From(done), n, rgb);
    MapPixelsToBytes(rgb, places.From(done), n, out + 3 * done);
  }
}

void ToneOperator::MapPixelsToWords(const float* rgb, const PixelPlaces& places, std::size_t count,
                                    std::uint16_t* out) const {
  constexpr std::size_t kChunk = 1024;
  float display[3 * kChunk];
  for (std::size_t done = 0; done < count; done += kChunk) {
    const std::size_t n = std::min(kChunk, count - done);
    MapPixels(rgb + 3 * done, places.From(done), n, display);
    for (std::size_t i = 0; i < 3 * n; ++i)
      out[3 * done + i] =
          static_cast<std::uint16_t>(std::lround(std::clamp(display[i], 0.0f, 1.0f) * 65535.0f));
  }
}

}  // namespace lumivane
